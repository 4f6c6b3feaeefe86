/* The trilinear sampler, seen through hist2: a one-point walk whose matrix
 * sends the point to chosen coordinates of volume 2, so volume 2's sample
 * comes back exactly from the two shares it adds. The sampler's blends are
 * read the same way: at a whole-numbered y and z the y and z blends multiply
 * by exactly 1 and 0, so the result is the x blend itself, and so on. */
#include "test_util.h"

namespace {

#define EXPECT_SAME_FLOAT(got, want) EXPECT_EQ(bits((float)(got)), bits((float)(want))) << (got) << " vs " << (want)

/* A 2x2x2 cube, listed in storage order, copied into a 2x3x3 volume at y, z
 * of 1 and 2 with zeros beyond, so that y = 2 and z = 2 are inside. */
Volume widened(const std::vector<unsigned char> &cube)
{
    Volume v = filled(2, 3, 3, 0);
    for (int k = 0; k < 8; k++)
        v.voxels[(k & 1) + 2 * ((k >> 1) & 1) + 6 * (k >> 2)] = cube[k];
    return v;
}

/* The seven blends of the sampler at (x, y, z) of the cube, probed one by one. */
struct Blends {
    float r00, r10, r01, r11, s0, s1, value;
};

Blends probe_blends(const std::vector<unsigned char> &cube, float x, float y, float z)
{
    const Volume v = widened(cube);
    Blends b;
    b.r00 = probe(v, x, 1, 1);
    b.r10 = probe(v, x, 2, 1);
    b.r01 = probe(v, x, 1, 2);
    b.r11 = probe(v, x, 2, 2);
    b.s0 = probe(v, x, y, 1);
    b.s1 = probe(v, x, y, 2);
    b.value = probe(v, x, y, z);
    return b;
}

/* A cube with a single voxel of 1 at element k: at whole-numbered
 * coordinates on the other axes it returns the weight of that voxel. */
float unit_weight(int k, float x, float y, float z)
{
    std::vector<unsigned char> cube(8, 0);
    cube[k] = 1;
    return probe(listed(2, 2, 2, cube), x, y, z);
}

#if TEST_X87
/* The x87 rules written out: a blend at the unit's precision, inputs passed
 * through volatile so that nothing is folded at another precision. */
long double blend(long double a, float wa, long double b, float wb)
{
    volatile long double va = a, vb = b;
    volatile float fa = wa, fb = wb;
    return va * fa + vb * fb;
}
#endif

TEST(Sampler, ExactValuesInEveryBuild)
{
    EXPECT_SAME_FLOAT(probe(index_volume(3, 3, 3), 2, 2, 2), 13.0f);
    EXPECT_SAME_FLOAT(probe(index_volume(4, 3, 2), 3.5f, 2.25f, 1.5f), 13.5f);
    const Volume pair = listed(2, 2, 2, {10, 21, 0, 0, 0, 0, 0, 0});
    EXPECT_SAME_FLOAT(probe(pair, 1.5f, 1, 1), 15.5f);
    EXPECT_SAME_FLOAT(probe(filled(2, 2, 2, 255), 1.3f, 1.6f, 1.9f), 255.0f);
    EXPECT_SAME_FLOAT(probe(filled(2, 2, 2, 200), 1.1f, 1.7f, 1.4f), 200.0f);

    const std::vector<unsigned char> cube = {10, 20, 30, 40, 50, 60, 70, 80};
    const Blends b = probe_blends(cube, 1.25f, 1.5f, 1.75f);
    EXPECT_SAME_FLOAT(b.r00, 12.5f);
    EXPECT_SAME_FLOAT(b.r10, 32.5f);
    EXPECT_SAME_FLOAT(b.r01, 52.5f);
    EXPECT_SAME_FLOAT(b.r11, 72.5f);
    EXPECT_SAME_FLOAT(b.s0, 22.5f);
    EXPECT_SAME_FLOAT(b.s1, 62.5f);
    EXPECT_SAME_FLOAT(b.value, 52.5f);
}

TEST(Sampler, RoundingOfTheBlends)
{
    const std::vector<unsigned char> cube = {7, 200, 33, 129, 255, 0, 91, 18};
    const float x = 1.3f, y = 1.6f, z = 1.9f;

    /* Fractions and complements are single in every build. */
    const float dx = unit_weight(1, x, 1, 1), ex = unit_weight(0, x, 1, 1);
    const float dy = unit_weight(2, 1, y, 1), ey = unit_weight(0, 1, y, 1);
    const float dz = unit_weight(4, 1, 1, z), ez = unit_weight(0, 1, 1, z);
    EXPECT_SAME_FLOAT(dx, 0.299999952f);
    EXPECT_SAME_FLOAT(ex, 0.700000048f);
    EXPECT_SAME_FLOAT(dy, 0.600000024f);
    EXPECT_SAME_FLOAT(ey, 0.399999976f);
    EXPECT_SAME_FLOAT(dz, 0.899999976f);
    EXPECT_SAME_FLOAT(ez, 0.100000024f);

    const Blends b = probe_blends(cube, x, y, z);
#if TEST_X87
    const long double r00 = blend(7, ex, 200, dx), r10 = blend(33, ex, 129, dx);
    const long double r01 = blend(255, ex, 0, dx), r11 = blend(91, ex, 18, dx);
    const long double s0 = blend(r00, ey, r10, dy), s1 = blend(r01, ey, r11, dy);
    EXPECT_SAME_FLOAT(b.r00, to_float(r00));
    EXPECT_SAME_FLOAT(b.r10, to_float(r10));
    EXPECT_SAME_FLOAT(b.r01, to_float(r01));
    EXPECT_SAME_FLOAT(b.r11, to_float(r11));
    EXPECT_SAME_FLOAT(b.s0, to_float(s0));
    EXPECT_SAME_FLOAT(b.s1, to_float(s1));
    EXPECT_SAME_FLOAT(b.value, to_float(blend(s0, ez, s1, dz)));
    EXPECT_EQ(bits(b.value), 0x42D7C189u); /* 107.877998 */
#else
    EXPECT_SAME_FLOAT(b.r00, 64.8999939f);
    EXPECT_SAME_FLOAT(b.r10, 61.7999954f);
    EXPECT_SAME_FLOAT(b.r01, 178.500015f);
    EXPECT_SAME_FLOAT(b.r11, 69.1000061f);
    EXPECT_SAME_FLOAT(b.s0, 63.0399933f);
    EXPECT_SAME_FLOAT(b.s1, 112.860008f);
    EXPECT_EQ(bits(b.value), 0x42D7C18Au); /* 107.878006 */
#endif
}

TEST(Sampler, LastSingleBelowTheAxisSize)
{
    const Volume pair = listed(2, 2, 2, {10, 21, 0, 0, 0, 0, 0, 0});
    const float x = 1.99999988f;
    ASSERT_EQ(bits(x), 0x3FFFFFFFu);
#if TEST_X87
    EXPECT_EQ(bits(probe(pair, x, 1, 1)), 0x41A7FFFFu); /* 20.9999981 */
    EXPECT_SAME_FLOAT(probe(pair, x, 1, 1), to_float(blend(10, 1.0f - (x - 1.0f), 21, x - 1.0f)));
#else
    EXPECT_EQ(bits(probe(pair, x, 1, 1)), 0x41A80000u); /* exactly 21 */
#endif
}

} // namespace
