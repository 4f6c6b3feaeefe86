/*
 * Calls whose grid reaches the far face of volume 1 on the x87 build: along
 * `axis`, volume 1 has `size` voxels and the skip is `skip`; along the other
 * two axes it has 3 voxels and the skip is 1.9, so that each has one grid
 * point, whose jitter lands in the last cell or the one before it. On the
 * x87 build axes of tens of voxels do it, with skips of some tens of
 * spacings of singles (some 10^5 points along the axis, few enough to run
 * under emulation); under the 64-bit rules it takes an axis of more than
 * 2^18 voxels.
 * Volume 2 has one voxel more than volume 1 on every axis and the matrix is
 * the identity, so every point is inside volume 2. Found by the core tests'
 * FaceSearch; the core tests check that each still reaches the face.
 */
#ifndef VORN_TESTS_FACE_CASES_H
#define VORN_TESTS_FACE_CASES_H

#include <stddef.h>

#include "guarded.h"

struct face_case {
    int axis;
    size_t size;
    float skip;
    int on_x87, on_sse; /* whose rules round the last point onto the face */
};

static const float face_other_skip = 1.9f;
static const size_t face_other_size = 3;

static const face_case face_cases[] = {
    {0, 86, 0.000189781189f, 1, 0},
    {0, 78, 9.05990601e-05f, 1, 0},
    {1, 18, 4.74452972e-05f, 1, 0},
    {1, 35, 4.529953e-05f, 1, 0},
    {2, 95, 0.000113487244f, 1, 0},
    {2, 77, 8.96453857e-05f, 1, 0},
    {2, 1048577, 1.26171875f, 1, 1},
};
static const int face_case_count = (int)(sizeof face_cases / sizeof face_cases[0]);

/* Sizes and skips of volume 1 for case c, and volume 2's sizes. */
static inline void face_case_shape(const face_case &c, size_t *dim1, size_t *dim2, float *skips)
{
    for (int k = 0; k < 3; k++) {
        dim1[k] = k == c.axis ? c.size : face_other_size;
        dim2[k] = dim1[k] + 1;
        skips[k] = k == c.axis ? c.skip : face_other_skip;
    }
}

#endif
