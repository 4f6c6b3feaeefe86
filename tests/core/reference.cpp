#include "reference.h"

#include <math.h>

const float ref_ran[97] = {
    0.656619f,  0.891183f, 0.488144f,  0.992646f,  0.373326f, 0.531378f, 0.181316f, 0.501944f,  0.422195f, 0.660427f,
    0.673653f,  0.95733f,  0.191866f,  0.111216f,  0.565054f, 0.969166f, 0.0237439f, 0.870216f, 0.0268766f, 0.519529f,
    0.192291f,  0.715689f, 0.250673f,  0.933865f,  0.137189f, 0.521622f, 0.895202f, 0.942387f,  0.335083f, 0.437364f,
    0.471156f,  0.14931f,  0.135864f,  0.532498f,  0.725789f, 0.398703f, 0.358419f, 0.285279f,  0.868635f, 0.626413f,
    0.241172f,  0.978082f, 0.640501f,  0.229849f,  0.681335f, 0.665823f, 0.134718f, 0.0224933f, 0.262199f, 0.116515f,
    0.0693182f, 0.85293f,  0.180331f,  0.0324186f, 0.733926f, 0.536517f, 0.27603f,  0.368458f,  0.0128863f, 0.889206f,
    0.866021f,  0.254247f, 0.569481f,  0.159265f,  0.594364f, 0.3311f,   0.658613f, 0.863634f,  0.567623f, 0.980481f,
    0.791832f,  0.152594f, 0.833027f,  0.191863f,  0.638987f, 0.669f,    0.772088f, 0.379818f,  0.441585f, 0.48306f,
    0.608106f,  0.175996f, 0.00202556f, 0.790224f, 0.513609f, 0.213229f, 0.10345f,  0.157337f,  0.407515f, 0.407757f,
    0.0526927f, 0.941815f, 0.149972f,  0.384374f,  0.311059f, 0.168534f, 0.896648f,
};

#if TEST_X87
/* x87: work at whatever precision the unit is set to, and round to single
 * or double only by a real store to memory. */
typedef long double unit;

static float store_single(unit v)
{
    volatile float f = (float)v;
    return f;
}

static double store_double(unit v)
{
    volatile double d = (double)v;
    return d;
}
#endif

float ref_samp(const size_t *dim, const unsigned char *vol, float x, float y, float z)
{
    const int ix = (int)floorf(x);
    const int iy = (int)floorf(y);
    const int iz = (int)floorf(z);
    /* Both subtractions are exact for coordinates of 1 or more. */
    const float dx = x - (float)ix, ex = 1.0f - dx;
    const float dy = y - (float)iy, ey = 1.0f - dy;
    const float dz = z - (float)iz, ez = 1.0f - dz;

    const size_t d0 = dim[0];
    const size_t plane = dim[0] * dim[1];
    const size_t b = (size_t)(ix - 1) + d0 * ((size_t)(iy - 1) + dim[1] * (size_t)(iz - 1));
    const float c000 = vol[b], c100 = vol[b + 1];
    const float c010 = vol[b + d0], c110 = vol[b + d0 + 1];
    const float c001 = vol[b + plane], c101 = vol[b + plane + 1];
    const float c011 = vol[b + plane + d0], c111 = vol[b + plane + d0 + 1];

#if TEST_X87
    const unit r00 = (unit)c000 * ex + (unit)c100 * dx;
    const unit r10 = (unit)c010 * ex + (unit)c110 * dx;
    const unit r01 = (unit)c001 * ex + (unit)c101 * dx;
    const unit r11 = (unit)c011 * ex + (unit)c111 * dx;
    const unit s0 = r00 * ey + r10 * dy;
    const unit s1 = r01 * ey + r11 * dy;
    const float value = store_single(s0 * ez + s1 * dz);
#else
    /* SSE: each float product and sum below is one rounding to single. */
    float p, q;
    p = c000 * ex; q = c100 * dx; const float r00 = p + q;
    p = c010 * ex; q = c110 * dx; const float r10 = p + q;
    p = c001 * ex; q = c101 * dx; const float r01 = p + q;
    p = c011 * ex; q = c111 * dx; const float r11 = p + q;
    p = r00 * ey; q = r10 * dy; const float s0 = p + q;
    p = r01 * ey; q = r11 * dy; const float s1 = p + q;
    p = s0 * ez; q = s1 * dz; const float value = p + q;
#endif
    return value;
}

std::vector<float> ref_axis(size_t size, float skip)
{
    std::vector<float> coords;
#if TEST_X87
    const unit limit = (unit)size - (unit)skip; /* exact size, not rounded */
    for (float c = 1.0f; (unit)c < limit; c = store_single((unit)c + skip))
        coords.push_back(c);
#else
    const float limit = (float)size - skip;
    for (float c = 1.0f; c < limit; c = c + skip)
        coords.push_back(c);
#endif
    return coords;
}

/* One coordinate of volume 2: a row of the matrix applied to (x, y, z, 1). */
static float map_row(const double *mat, int row, float x, float y, float z)
{
#if TEST_X87
    unit t = (unit)x * mat[row];
    t = t + (unit)y * mat[row + 4];
    t = t + (unit)z * mat[row + 8];
    t = t + mat[row + 12];
    return store_single(t);
#else
    double t = (double)x * mat[row];
    t = t + (double)y * mat[row + 4];
    t = t + (double)z * mat[row + 8];
    t = t + mat[row + 12];
    return (float)t;
#endif
}

static bool inside(float t, size_t size)
{
#if TEST_X87
    return 1.0f <= t && (unit)t < (unit)size;
#else
    return 1.0f <= t && t < (float)size;
#endif
}

float ref_jitter(float g, float skip, float r)
{
#if TEST_X87
    return store_single((unit)g + (unit)skip * r);
#else
    const float moved = skip * r;
    return g + moved;
#endif
}

void ref_hist2(const double *mat, const unsigned char *vol1, const unsigned char *vol2,
               const size_t *dim1, const size_t *dim2, double *hist, const float *skips)
{
    const std::vector<float> xs = ref_axis(dim1[0], skips[0]);
    const std::vector<float> ys = ref_axis(dim1[1], skips[1]);
    const std::vector<float> zs = ref_axis(dim1[2], skips[2]);
    long n = 0; /* ordinal of the grid point, from 1 */

    for (size_t c = 0; c < zs.size(); c++)
        for (size_t b = 0; b < ys.size(); b++)
            for (size_t a = 0; a < xs.size(); a++) {
                n++;
                const float jx = ref_jitter(xs[a], skips[0], ref_ran[(3 * n - 2) % 97]);
                const float jy = ref_jitter(ys[b], skips[1], ref_ran[(3 * n - 1) % 97]);
                const float jz = ref_jitter(zs[c], skips[2], ref_ran[(3 * n) % 97]);
                const float tx = map_row(mat, 0, jx, jy, jz);
                const float ty = map_row(mat, 1, jx, jy, jz);
                const float tz = map_row(mat, 2, jx, jy, jz);
                if (!(inside(tx, dim2[0]) && inside(ty, dim2[1]) && inside(tz, dim2[2])))
                    continue;

                const float w = ref_samp(dim2, vol2, tx, ty, tz);
                const float u = ref_samp(dim1, vol1, jx, jy, jz);
                const int row = (int)floorf(w);
                const int col = (int)floor((double)u + 0.5);
                const float frac = w - (float)row;
                double *cell = &hist[row + 256 * col];
#if TEST_X87
                cell[0] = store_double((unit)cell[0] + ((unit)1 - frac));
                if (row < 255)
                    cell[1] = store_double((unit)cell[1] + frac);
#else
                const float share = 1.0f - frac;
                cell[0] = cell[0] + (double)share;
                if (row < 255)
                    cell[1] = cell[1] + (double)frac;
#endif
            }
}
