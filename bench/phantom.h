/* Test volumes for the benchmark and the instruction-count driver: a
 * smooth head-like phantom seen with two different contrasts, and the
 * matrices that map one onto the other. */
#ifndef VORN_BENCH_PHANTOM_H
#define VORN_BENCH_PHANTOM_H

#include <math.h>
#include <stddef.h>
#include <vector>

/* An ellipsoid with smooth inner structure in a dark background. contrast 0
 * gives the first look, 1 the second: the inner structure inverted and the
 * background brighter, so the joint histogram is far from diagonal. */
static inline std::vector<unsigned char> phantom(const size_t *dim, int contrast)
{
    std::vector<unsigned char> v(dim[0] * dim[1] * dim[2]);
    size_t n = 0;
    for (size_t k = 0; k < dim[2]; ++k)
        for (size_t j = 0; j < dim[1]; ++j)
            for (size_t i = 0; i < dim[0]; ++i) {
                const double x = (2.0 * i + 1) / dim[0] - 1;
                const double y = (2.0 * j + 1) / dim[1] - 1;
                const double z = (2.0 * k + 1) / dim[2] - 1;
                const double r2 = (x * x) / 0.81 + (y * y) / 0.64 + (z * z) / 0.72;
                const double body = 1 / (1 + exp(40 * (r2 - 1)));
                const double inner = 0.5 + 0.5 * sin(5 * x + 1) * cos(4 * y - 0.5) * cos(3 * z + 0.3);
                const double value = contrast == 0 ? 10 + body * (60 + 180 * inner)
                                                   : 40 + body * (200 - 150 * inner);
                v[n++] = (unsigned char)(value + 0.5);
            }
    return v;
}

/* Column-major matrix of a rotation by ax and az (radians) about the volume
 * centre (1-based voxel coordinates), then a shift. */
static inline void rigid_map(const size_t *dim, double ax, double az, const double *shift, double *mat)
{
    const double ca = cos(ax), sa = sin(ax), cz = cos(az), sz = sin(az);
    const double r[3][3] = {{cz, -sz * ca, sz * sa}, {sz, cz * ca, -cz * sa}, {0, sa, ca}};
    double c[3];
    for (int k = 0; k < 3; ++k)
        c[k] = (dim[k] + 1) / 2.0;
    for (int row = 0; row < 3; ++row) {
        double t = c[row] + shift[row];
        for (int col = 0; col < 3; ++col) {
            mat[row + 4 * col] = r[row][col];
            t -= r[row][col] * c[col];
        }
        mat[row + 12] = t;
        mat[3 + 4 * row] = 0;
    }
    mat[15] = 1;
}

/* Grid points along one axis: the walk's running sum against its limit. */
static inline size_t axis_points(size_t size, float skip)
{
    size_t n = 0;
    const float lim = (float)size - skip;
    for (float g = 1.0f; g < lim; g += skip)
        ++n;
    return n;
}

static inline size_t grid_points(const size_t *dim, const float *skips)
{
    return axis_points(dim[0], skips[0]) * axis_points(dim[1], skips[1]) * axis_points(dim[2], skips[2]);
}

#endif
