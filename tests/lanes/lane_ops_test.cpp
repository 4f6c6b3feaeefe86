/* The lane operations of the target's instruction-set header, on the
 * values where instruction sets part ways: NaN and out-of-range float to
 * integer conversions (SSE2 gives -2^31, arm64 saturates), unsigned range
 * tests at the ends of the 32-bit range, comparisons with NaN, rounding of
 * doubles to single, and the lane order of masks and voxel pairs. The same
 * expectations hold for every header, so each walks the same points. */
#include <gtest/gtest.h>

#include <math.h>
#include <stdint.h>

#if defined(__SSE2__) || defined(_M_X64)
#include "lanes_sse2.h"
#elif defined(__aarch64__) || defined(_M_ARM64)
#include "lanes_neon.h"
#else
#define NO_LANE_OPS 1
#endif

#ifndef NO_LANE_OPS
namespace {

/* Four singles the compiler cannot see through: with constants it may fold
 * a conversion by the language's rules (undefined out of range) instead of
 * the instruction's. */
f32x4 opaque4(float a, float b, float c, float d)
{
    volatile float v[4] = {a, b, c, d};
    return f4_setr(v[0], v[1], v[2], v[3]);
}

void lanes_of(i32x4 v, int32_t *out)
{
    uint32_t u[4];
    i4_store(u, v);
    for (int n = 0; n < 4; ++n)
        out[n] = (int32_t)u[n];
}

/* The widest range of the bounds test: integer parts 1 to 2^31 - 2. */
i32x4 widest_range() { return i4_range(0x7ffffffeu); }

/* Lanes a to d truncate to want, where that is set (in range), and fall
 * outside the widest range where it is not. */
void expect_trunc(f32x4 v, const int32_t *want, const bool *in_range)
{
    int32_t got[4];
    lanes_of(f4_trunc(v), got);
    const int outside = m4_bits(i4_in_range(f4_trunc(v), widest_range())) ^ 15;
    for (int n = 0; n < 4; ++n) {
        if (in_range[n])
            EXPECT_EQ(got[n], want[n]) << "lane " << n;
        else
            EXPECT_TRUE(outside >> n & 1) << "lane " << n << " gave " << got[n];
    }
}

TEST(LaneOps, TruncationTowardZeroAndOutsideEveryRangeBeyond)
{
    const bool all[4] = {true, true, true, true};
    const int32_t small[4] = {1, -1, 0, 255};
    expect_trunc(opaque4(1.5f, -1.5f, 0.99999994f, 255.99998f), small, all);
    /* The largest single below 2^31 converts; 2^31 itself and beyond do not. */
    const int32_t top[4] = {2147483520, 0, 0, 0};
    const bool first[4] = {true, false, false, false};
    expect_trunc(opaque4(2147483520.0f, 2147483648.0f, 1e20f, INFINITY), top, first);
    const bool none[4] = {false, false, false, false};
    expect_trunc(opaque4(NAN, -NAN, -INFINITY, -1e20f), top, none);
    /* -2^31 is in range; the next single below is not. */
    const int32_t low[4] = {INT32_MIN, 0, -2147483520, 16777216};
    const bool ends[4] = {true, false, true, true};
    expect_trunc(opaque4(-2147483648.0f, -2147483904.0f, -2147483520.0f, 16777217.0f), low, ends);
}

TEST(LaneOps, RangeFromOneToTopAtTheEnds)
{
    const i32x4 range = i4_range(5);
    EXPECT_EQ(m4_bits(i4_in_range(f4_trunc(opaque4(0.0f, 1.0f, 5.0f, 6.0f)), range)), 6);
    EXPECT_EQ(m4_bits(i4_in_range(f4_trunc(opaque4(-2147483648.0f, -1.0f, 2147483520.0f, 3.0f)), range)), 8);
    EXPECT_EQ(m4_bits(i4_in_range(f4_trunc(opaque4(1.0f, 2.0f, 3.0f, 4.0f)), i4_range(0))), 0);
    /* The widest range: NaN and values past 2^31 must still fall outside,
     * whether the conversion gives -2^31 or saturates to 2^31 - 1. */
    EXPECT_EQ(m4_bits(i4_in_range(f4_trunc(opaque4(2147483520.0f, NAN, 1e10f, 1.0f)), widest_range())), 9);
    EXPECT_EQ(m4_bits(i4_in_range(f4_trunc(opaque4(INFINITY, 2147483648.0f, 0.5f, -0.5f)), widest_range())),
              0);
    EXPECT_EQ(m4_bits(i4_in_range(i4_set1(INT32_MAX), widest_range())), 0);
    EXPECT_EQ(m4_bits(i4_in_range(i4_set1(INT32_MAX - 1), widest_range())), 15);
}

TEST(LaneOps, ComparisonsWithNaNAreFalseAndMasksKeepLaneOrder)
{
    const f32x4 a = opaque4(1.0f, NAN, 3.0f, -0.0f);
    const f32x4 b = opaque4(2.0f, 1.0f, NAN, 0.0f);
    EXPECT_EQ(m4_bits(f4_lt(a, b)), 1);
    EXPECT_EQ(m4_bits(f4_ge(a, b)), 8);
    EXPECT_EQ(m4_bits(m4_and(f4_lt(a, f4_set1(4.0f)), f4_ge(a, f4_set1(1.0f)))), 5);
    float out[4];
    const f32x4 s = f4_select(f4_lt(a, b), f4_set1(7.0f), a);
    memcpy(out, &s, sizeof out);
    EXPECT_EQ(out[0], 7.0f);
    EXPECT_EQ(out[2], 3.0f);
}

TEST(LaneOps, DoublesRoundToNearestSingleTiesToEven)
{
    const double tie_down = 1.0 + ldexp(1.0, -24);     /* halfway, to 1 */
    const double tie_up = 1.0 + 3 * ldexp(1.0, -24);   /* halfway, to 1 + 2^-22 */
    const double above = 1.0 + ldexp(1.0, -24) + ldexp(1.0, -40);
    const f32x4 v = f4_from_d2(d2_add(d2_set1(tie_down), d2_set1(0.0)), d2_mul(d2_set1(above), d2_set1(1.0)));
    float out[4];
    memcpy(out, &v, sizeof out);
    EXPECT_EQ(out[0], 1.0f);
    EXPECT_EQ(out[2], 1.0f + ldexpf(1.0f, -23));
    const f32x4 w = f4_from_d2(d2_set1(tie_up), d2_set1(-tie_up));
    memcpy(out, &w, sizeof out);
    EXPECT_EQ(out[1], 1.0f + ldexpf(1.0f, -22));
    EXPECT_EQ(out[3], -(1.0f + ldexpf(1.0f, -22)));
    const f64x2 lo = d2_from_lo(opaque4(0.1f, 0.2f, 0.3f, 0.4f));
    const f64x2 hi = d2_from_hi(opaque4(0.1f, 0.2f, 0.3f, 0.4f));
    double d[2];
    d2_store(d, lo);
    EXPECT_EQ(d[1], (double)0.2f);
    d2_store(d, hi);
    EXPECT_EQ(d[0], (double)0.3f);
    /* Pairs (a[n], b[n]) in lane order, added to a histogram's neighbours
     * at an address aligned only for a double. */
    const float a[4] = {0.1f, 0.2f, 0.3f, 0.4f};
    f64x2 pairs[4];
    widen_pairs(opaque4(a[0], a[1], a[2], a[3]), opaque4(1, 2, 3, 4), pairs);
    double h[6] = {0, 10, 20, 30, 40, 50};
    for (int n = 0; n < 4; ++n) {
        d2_store(h + 1, d2_add(d2_load(h + 1), pairs[n]));
        EXPECT_EQ(h[1], 10 + (double)a[n]) << n;
        EXPECT_EQ(h[2], 20.0 + n + 1) << n;
        h[1] = 10;
        h[2] = 20;
    }
    EXPECT_EQ(h[0] + h[3], 30.0);
}

TEST(LaneOps, IntegerLanes)
{
    int32_t got[4];
    lanes_of(i4_mul_add(f4_trunc(opaque4(3.0f, 65536.0f, -2.0f, 7.0f)), i4_set1(65536),
                        f4_trunc(opaque4(1.0f, 1.0f, 5.0f, 0.0f)), i4_set1(100)),
             got);
    EXPECT_EQ(got[0], 3 * 65536 + 100);
    EXPECT_EQ(got[1], 100); /* 2^32 wraps to 0 */
    EXPECT_EQ(got[2], -2 * 65536 + 500);
    EXPECT_EQ(got[3], 7 * 65536);
    const i32x4 v = f4_trunc(opaque4(4.0f, 5.0f, 6.0f, 7.0f));
    lanes_of(i4_inc(i4_shl<8>(v), f4_lt(opaque4(0, 1, 0, 1), f4_set1(0.5f))), got);
    EXPECT_EQ(got[0], 1025);
    EXPECT_EQ(got[1], 1280);
    EXPECT_EQ(got[2], 1537);
    EXPECT_EQ(got[3], 1792);
    EXPECT_EQ(i4_lane<2>(v), 6);
    EXPECT_TRUE(i4_all_equal(i4_set1(-9)));
    EXPECT_FALSE(i4_all_equal(i4_sub(i4_set1(1), f4_trunc(opaque4(0, 0, 0, 1)))));
    EXPECT_FALSE(i4_all_equal(i4_sub(i4_set1(1), f4_trunc(opaque4(1, 0, 0, 0)))));
}

/* The walk takes every sample to be at most 255 (a sample of 255 goes to
 * row 254 with frac 1). Coordinates are at least 1, so a cell's fraction d
 * is a multiple of 2^-23 and 1 - d is exact; then a blend of two 255s is
 * never above 255, for every such d, and blends of smaller values, at any
 * stage, are no larger. */
TEST(LaneOps, BlendsOf255NeverExceed255)
{
    const f32x4 one = f4_set1(1.0f), top = f4_set1(255.0f);
    const float step = 1.0f / 8388608.0f;
    int over = 0;
    for (int k = 0; k < (1 << 23); k += 4) {
        const f32x4 d = opaque4((float)k * step, (float)(k + 1) * step, (float)(k + 2) * step, (float)(k + 3) * step);
        const f32x4 w = f4_add(f4_mul(top, f4_sub(one, d)), f4_mul(top, d));
        over += m4_bits(f4_lt(top, w)) != 0;
    }
    EXPECT_EQ(over, 0);
    /* The check can fail: with a fraction finer than 2^-23 the weights
     * 1 - d and d no longer add up to 1, and the blend goes over. */
    const f32x4 fine = opaque4(7.68926384e-06f, 0.25f, 0.5f, 0.75f);
    const f32x4 w = f4_add(f4_mul(top, f4_sub(one, fine)), f4_mul(top, fine));
    EXPECT_EQ(m4_bits(f4_lt(top, w)), 1);
}

TEST(LaneOps, VoxelPairsOfFourRowsInLaneOrder)
{
    /* Rows d0 = 3 apart, planes 10 apart: each cell's pairs at 0, 3, 10
     * and 13 past its first voxel. */
    unsigned char vox[48];
    for (int n = 0; n < 48; ++n)
        vox[n] = (unsigned char)(n * 37 + 11);
    vox[2] = 255;
    vox[3] = 0;
    const size_t at[4] = {2, 0, 19, 26};
    const unsigned char *cell[4] = {vox + at[0], vox + at[1], vox + at[2], vox + at[3]};
    /* Read twice into the same rows, other cells first: the second read
     * must leave nothing of the first. */
    cell_rows rows;
    clear_rows(&rows);
    const unsigned char *other[4] = {vox + 31, vox + 33, vox + 5, vox + 1};
    read_rows(&rows, other, 3, 10);
    read_rows(&rows, cell, 3, 10);
    const size_t off[4] = {0, 3, 10, 13};
    for (int r = 0; r < 4; ++r) {
        f32x4 first, second;
        row_voxels(rows, r, &first, &second);
        float a[4], b[4];
        memcpy(a, &first, sizeof a);
        memcpy(b, &second, sizeof b);
        for (int n = 0; n < 4; ++n) {
            EXPECT_EQ(a[n], vox[at[n] + off[r]]) << "row " << r << " lane " << n;
            EXPECT_EQ(b[n], vox[at[n] + off[r] + 1]) << "row " << r << " lane " << n;
        }
    }
}

} // namespace
#endif
