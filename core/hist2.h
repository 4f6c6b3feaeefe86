/* Joint intensity histogram of two uint8 volumes: the numerical core. */
#ifndef VORN_HIST2_CORE_H
#define VORN_HIST2_CORE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Adds the joint histogram of vol1 (sizes dim1) against vol2 (sizes dim2)
 * into hist (256x256 doubles, column-major, row = vol2 bin, column = vol1
 * bin). mat is a column-major 4x4 matrix mapping 1-based voxel coordinates
 * of vol1 to those of vol2; skips are the grid steps along vol1's axes. */
void hist2(const double *mat, const unsigned char *vol1, const unsigned char *vol2,
           const size_t *dim1, const size_t *dim2, double *hist, const float *skips);

/* Nonzero when the grid walk over a volume of sizes dim1 ends for these
 * skips: no skip is zero or negative, and every axis whose loop is entered
 * advances its coordinate at every step until the loop's limit. A NaN or
 * +Inf skip ends its loop at once. */
int hist2_walk_ends(const size_t *dim1, const float *skips);

/* The most grid points a call may visit: 2^34, over a hundred samples per
 * voxel of a 512^3 volume. Far more would keep a call busy for longer than
 * anyone waits, and a plug-in call cannot be interrupted. */
#define HIST2_MAX_POINTS (1ULL << 34)

/* Grid points that the walk over a volume of sizes dim1 visits with these
 * skips, by the walk's own rule: the product of the axes' counts, 0 when
 * an axis has none. A count above HIST2_MAX_POINTS, and a walk that never
 * ends, give HIST2_MAX_POINTS + 1. */
unsigned long long hist2_grid_points(const size_t *dim1, const float *skips);

#ifdef __cplusplus
}
#endif

#endif
