/* The reference walk: the core's histogram one grid point at a time. */
#ifndef VORN_HIST2_PLAIN_H
#define VORN_HIST2_PLAIN_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Same arguments and result as hist2. */
void hist2_plain(const double *mat, const unsigned char *vol1, const unsigned char *vol2,
                 const size_t *dim1, const size_t *dim2, double *hist, const float *skips);

#ifdef __cplusplus
}
#endif

#endif
