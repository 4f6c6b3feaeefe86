/* Seeded random cases, the core against the reference, bit for bit. */
#include "test_util.h"

#include <math.h>

namespace {

/* xorshift64*: small, fixed, the same on every build. */
struct Random {
    uint64_t state;
    uint32_t next()
    {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return (uint32_t)((state * 2685821657736338717ull) >> 32);
    }
    int below(int n) { return (int)(next() % (uint32_t)n); }
    double between(double lo, double hi) { return lo + (hi - lo) * (next() / 4294967296.0); }
};

/* Sizes mostly from 3 up, now and then as thin as 1. */
size_t random_size(Random &r, int max_size)
{
    return r.below(10) == 0 ? 1 + r.below(max_size) : 3 + r.below(max_size - 2);
}

Volume random_volume(Random &r, int max_size)
{
    Volume v = filled(random_size(r, max_size), random_size(r, max_size), random_size(r, max_size), 0);
    const int kind = r.below(4);
    for (size_t k = 0; k < v.voxels.size(); k++) {
        if (kind == 0)
            v.voxels[k] = (unsigned char)r.next(); /* noise */
        else if (kind == 1)
            v.voxels[k] = (unsigned char)r.below(3); /* values near 0: shares below one half */
        else if (kind == 2)
            v.voxels[k] = (unsigned char)(255 - r.below(2)); /* rows 254 and 255 */
        else
            v.voxels[k] = (unsigned char)(k * 7 / 3); /* smooth ramp */
    }
    return v;
}

float random_skip(Random &r)
{
    if (r.below(3) == 0)
        return (float)(1 + r.below(3));
    return (float)r.between(0.3, 3.5);
}

/* A rotation about a random axis-aligned plane, scaled, plus a shift that
 * leaves part of volume 1 outside volume 2. */
void random_matrix(Random &r, double *mat)
{
    identity(mat);
    const int a = r.below(3), b = (a + 1 + r.below(2)) % 3;
    const double angle = r.between(-0.6, 0.6), scale = r.between(0.6, 1.5);
    for (int k = 0; k < 3; k++)
        mat[k + 4 * k] = scale;
    mat[a + 4 * a] = mat[b + 4 * b] = scale * cos(angle);
    mat[a + 4 * b] = -scale * sin(angle);
    mat[b + 4 * a] = scale * sin(angle);
    for (int k = 0; k < 3; k++)
        mat[12 + k] = r.between(-3.0, 2.0);
    if (r.below(8) == 0)
        mat[r.below(16)] = r.below(2) ? NAN : -INFINITY;
}

TEST(Differential, RandomCasesMatchTheReference)
{
    Random r = {0x9E3779B97F4A7C15ull};
    int accepted_cases = 0;
    for (int n = 0; n < 3000; n++) {
        const Volume v1 = random_volume(r, 14), v2 = random_volume(r, 14);
        double mat[16];
        random_matrix(r, mat);
        const float skips[3] = {random_skip(r), random_skip(r), random_skip(r)};
        Hist got(65536, 0.0);
        if (r.below(4) == 0) /* adding into earlier values */
            for (size_t k = 0; k < got.size(); k += 1 + r.below(200))
                got[k] = r.between(0.0, 1000.0);
        Hist want = got;
        const Hist before = got;

        hist2(mat, v1.voxels.data(), v2.voxels.data(), v1.dim, v2.dim, got.data(), skips);
        ref_hist2(mat, v1.voxels.data(), v2.voxels.data(), v1.dim, v2.dim, want.data(), skips);
        ASSERT_TRUE(same_bits(got, want)) << "case " << n << ": sizes " << v1.dim[0] << "x" << v1.dim[1] << "x"
                                          << v1.dim[2] << " and " << v2.dim[0] << "x" << v2.dim[1] << "x" << v2.dim[2]
                                          << ", skips " << skips[0] << " " << skips[1] << " " << skips[2];
        accepted_cases += !same_bits(got, before);
    }
    /* The cases must exercise accumulation, not only rejection. */
    EXPECT_GT(accepted_cases, 1500);
}

} // namespace
