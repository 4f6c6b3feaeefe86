/* The baseline of the benchmark and of the tests of the plain walk: the
 * core built with HIST2_PLAIN_WALK, its two functions renamed. */
#ifndef VORN_HIST2_PLAIN_H
#define VORN_HIST2_PLAIN_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* hist2 and hist2_walk_ends of the plain walk: same arguments, same results. */
void hist2_plain(const double *mat, const unsigned char *vol1, const unsigned char *vol2,
                 const size_t *dim1, const size_t *dim2, double *hist, const float *skips);
int hist2_plain_walk_ends(const size_t *dim1, const float *skips);

#ifdef __cplusplus
}
#endif

#endif
