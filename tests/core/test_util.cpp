#include "test_util.h"

#include <stdio.h>

Volume filled(size_t d0, size_t d1, size_t d2, unsigned char value)
{
    Volume v = {{d0, d1, d2}, std::vector<unsigned char>(d0 * d1 * d2, value)};
    return v;
}

Volume index_volume(size_t d0, size_t d1, size_t d2)
{
    Volume v = filled(d0, d1, d2, 0);
    for (size_t k = 0; k < v.voxels.size(); k++)
        v.voxels[k] = (unsigned char)k;
    return v;
}

Volume listed(size_t d0, size_t d1, size_t d2, const std::vector<unsigned char> &voxels)
{
    Volume v = {{d0, d1, d2}, voxels};
    EXPECT_EQ(voxels.size(), d0 * d1 * d2);
    return v;
}

void identity(double *mat)
{
    for (int k = 0; k < 16; k++)
        mat[k] = (k % 5 == 0) ? 1.0 : 0.0;
}

void translation(double *mat, double tx, double ty, double tz)
{
    for (int k = 0; k < 16; k++)
        mat[k] = 0.0;
    mat[12] = tx;
    mat[13] = ty;
    mat[14] = tz;
    mat[15] = 1.0;
}

Hist run(const double *mat, const Volume &v1, const Volume &v2, const float *skips)
{
    Hist h(65536, 0.0);
    hist2(mat, v1.voxels.data(), v2.voxels.data(), v1.dim, v2.dim, h.data(), skips);
    return h;
}

Hist run(const double *mat, const Volume &v1, const Volume &v2)
{
    const float ones[3] = {1.0f, 1.0f, 1.0f};
    return run(mat, v1, v2, ones);
}

testing::AssertionResult same_bits(const Hist &got, const Hist &want)
{
    int shown = 0;
    testing::AssertionResult result = testing::AssertionSuccess();
    for (size_t k = 0; k < want.size(); k++) {
        if (bits(got[k]) == bits(want[k]))
            continue;
        if (shown == 0)
            result = testing::AssertionFailure();
        if (shown++ < 4) {
            char line[160];
            snprintf(line, sizeof line, "\n  hist[%zu] (row %zu, col %zu): got %.17g (%016llx), want %.17g (%016llx)",
                     k, k % 256, k / 256, got[k], (unsigned long long)bits(got[k]), want[k],
                     (unsigned long long)bits(want[k]));
            result << line;
        }
    }
    if (shown > 4)
        result << "\n  ... " << shown << " elements differ";
    return result;
}

double lower_share(float frac)
{
#if TEST_X87
    volatile double share = (double)(1.0L - frac); /* not rounded to single */
#else
    volatile double share = (double)(1.0f - frac);
#endif
    return share;
}

OnePoint read_one_point(const Hist &h)
{
    OnePoint p = {false, 0, 0, 0.0f};
    size_t k = 0;
    while (k < h.size() && bits(h[k]) == 0)
        k++;
    if (k == h.size())
        return p;
    p.row = (int)(k % 256);
    p.col = (int)(k / 256);
    const float frac = p.row < 255 ? (float)h[k + 1] : 0.0f;
    p.w = (float)p.row + frac;
    /* The shares as one point leaves them, and nothing anywhere else. */
    Hist want(h.size(), 0.0);
    want[k] = lower_share(frac);
    if (p.row < 255)
        want[k + 1] = frac;
    p.ok = same_bits(h, want);
    return p;
}

float probe(const Volume &vol, float x, float y, float z)
{
    double mat[16];
    translation(mat, x, y, z);
    const Hist h = run(mat, filled(3, 3, 3, 0), vol);
    const OnePoint p = read_one_point(h);
    EXPECT_TRUE(p.ok) << "probe at (" << x << ", " << y << ", " << z << ") did not add one point";
    EXPECT_EQ(p.col, 0);
    return p.w;
}
