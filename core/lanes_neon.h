/*
 * The lane operations of the four-lane walk (lanes.h) in NEON, for arm64.
 * Every operation gives the same bits as its SSE2 twin in lanes_sse2.h,
 * so the walk's histograms match the x86-64 builds': IEEE single and double
 * rounding in every lane, round to nearest (the default mode on both), and
 * no fused multiply-add (hist2.cpp turns contraction off).
 *
 * One difference needs care: arm64 saturates a float-to-integer conversion
 * of NaN or of a value outside the 32-bit range, where SSE2 gives -2^31.
 * Only the bounds test truncates such values, and it rejects both results
 * (see f4_trunc); every other truncation is of a value within the range.
 *
 * Types: f32x4 holds four singles, f64x2 two doubles, i32x4 four 32-bit
 * integers, mask4 four lanes of all ones (set) or all zeros (clear).
 */
#ifndef VORN_HIST2_LANES_NEON_H
#define VORN_HIST2_LANES_NEON_H

#include <arm_neon.h>
#include <stddef.h>
#include <stdint.h>

/* Each operation is inlined as the intrinsics it wraps are, so that the
 * compiler weighs the walk's functions as if they were written in them. */
#if defined(_MSC_VER) && !defined(__clang__)
#define lane_op static __forceinline
#else
#define lane_op static inline __attribute__((always_inline))
#endif

typedef float32x4_t f32x4;
typedef float64x2_t f64x2;
typedef int32x4_t i32x4;
typedef uint32x4_t mask4;

/* Four singles. */
lane_op f32x4 f4_set1(float a) { return vdupq_n_f32(a); }
lane_op f32x4 f4_setr(float a, float b, float c, float d)
{
    const float v[4] = {a, b, c, d};
    return vld1q_f32(v);
}
lane_op f32x4 f4_load(const float *p) { return vld1q_f32(p); }
lane_op f32x4 f4_add(f32x4 a, f32x4 b) { return vaddq_f32(a, b); }
lane_op f32x4 f4_sub(f32x4 a, f32x4 b) { return vsubq_f32(a, b); }
lane_op f32x4 f4_mul(f32x4 a, f32x4 b) { return vmulq_f32(a, b); }
lane_op mask4 f4_lt(f32x4 a, f32x4 b) { return vcltq_f32(a, b); }
/* The smaller of a and b (neither NaN). */
lane_op f32x4 f4_min(f32x4 a, f32x4 b) { return vminq_f32(a, b); }
lane_op mask4 f4_ge(f32x4 a, f32x4 b) { return vcgeq_f32(a, b); }

/* a where m is set, b elsewhere. */
lane_op f32x4 f4_select(mask4 m, f32x4 a, f32x4 b) { return vbslq_f32(m, a, b); }

/* Truncation toward zero. fcvtzs saturates NaN to 0 and values outside
 * the 32-bit range to -2^31 or 2^31 - 1 (SSE2 gives -2^31 for all of
 * them): each is outside every range of the bounds test, whose top is
 * at most 2^31 - 2, so the same points pass as on x86-64. */
lane_op i32x4 f4_trunc(f32x4 a) { return vcvtq_s32_f32(a); }
/* The same for values known to lie within the 32-bit range. */
lane_op i32x4 f4_trunc_in_range(f32x4 a) { return vcvtq_s32_f32(a); }
lane_op f32x4 f4_from_i4(i32x4 a) { return vcvtq_f32_s32(a); }

/* Lanes 0 and 1 of lo, then lanes 0 and 1 of hi, each rounded to single. */
lane_op f32x4 f4_from_d2(f64x2 lo, f64x2 hi) { return vcvt_high_f32_f64(vcvt_f32_f64(lo), hi); }

/* Masks. */
lane_op mask4 m4_and(mask4 a, mask4 b) { return vandq_u32(a, b); }
/* Lane n's state in bit n. */
lane_op int m4_bits(mask4 m)
{
    const uint32_t weights[4] = {1, 2, 4, 8};
    return (int)vaddvq_u32(vandq_u32(m, vld1q_u32(weights)));
}

/* Two doubles. */
lane_op f64x2 d2_set1(double a) { return vdupq_n_f64(a); }
lane_op f64x2 d2_add(f64x2 a, f64x2 b) { return vaddq_f64(a, b); }
lane_op f64x2 d2_mul(f64x2 a, f64x2 b) { return vmulq_f64(a, b); }
/* Lanes 0 and 1, or 2 and 3, of a, widened (exactly). */
lane_op f64x2 d2_from_lo(f32x4 a) { return vcvt_f64_f32(vget_low_f32(a)); }
lane_op f64x2 d2_from_hi(f32x4 a) { return vcvt_high_f64_f32(a); }
/* p[0] and p[1] (p need only be aligned for a double). */
lane_op f64x2 d2_load(const double *p) { return vld1q_f64(p); }
lane_op void d2_store(double *p, f64x2 v) { vst1q_f64(p, v); }
/* The pairs (a[n], b[n]) for n = 0 to 3, widened (exactly), into d[n]. */
lane_op void widen_pairs(f32x4 a, f32x4 b, f64x2 *d)
{
    const f32x4 lo = vzip1q_f32(a, b);
    const f32x4 hi = vzip2q_f32(a, b);
    d[0] = vcvt_f64_f32(vget_low_f32(lo));
    d[1] = vcvt_high_f64_f32(lo);
    d[2] = vcvt_f64_f32(vget_low_f32(hi));
    d[3] = vcvt_high_f64_f32(hi);
}

/* Four 32-bit integers. */
lane_op i32x4 i4_set1(int32_t a) { return vdupq_n_s32(a); }
lane_op i32x4 i4_add(i32x4 a, i32x4 b) { return vaddq_s32(a, b); }
lane_op i32x4 i4_sub(i32x4 a, i32x4 b) { return vsubq_s32(a, b); }
template <int n> lane_op i32x4 i4_shl(i32x4 a) { return vshlq_n_s32(a, n); }

/* a + 1 where m is set (a set lane is -1 as an integer). */
lane_op i32x4 i4_inc(i32x4 a, mask4 m) { return vsubq_s32(a, vreinterpretq_s32_u32(m)); }

/* Whether the walk forms voxel offsets in single where that is exact: not
 * here, where the integer products and sum take two steps (mul, mla). */
enum { offsets_in_single = 0 };

/* Low 32 bits of each lane of a b + c d (integer products, not rounded). */
lane_op i32x4 i4_mul_add(i32x4 a, i32x4 b, i32x4 c, i32x4 d) { return vmlaq_s32(vmulq_s32(a, b), c, d); }

template <int n> lane_op int32_t i4_lane(i32x4 v) { return vgetq_lane_s32(v, n); }

/* The four lanes, as unsigned numbers, into p[0] to p[3]. */
lane_op void i4_store(uint32_t *p, i32x4 v) { vst1q_u32(p, vreinterpretq_u32_s32(v)); }

/* Whether all four lanes hold the same number. */
lane_op int i4_all_equal(i32x4 v)
{
    return vminvq_u32(vceqq_s32(v, vdupq_laneq_s32(v, 0))) == 0xffffffffu;
}

/* The range 1 to top (top below 2^32) in the form i4_in_range takes: top,
 * broadcast. */
lane_op i32x4 i4_range(uint32_t top) { return vreinterpretq_s32_u32(vdupq_n_u32(top)); }

/* The lanes of a from 1 to top: a - 1 below top as unsigned numbers. */
lane_op mask4 i4_in_range(i32x4 a, i32x4 range)
{
    const uint32x4_t below = vreinterpretq_u32_s32(vsubq_s32(a, vdupq_n_s32(1)));
    return vcltq_u32(below, vreinterpretq_u32_s32(range));
}

/* The four rows of four cells, at offsets 0, d0, plane and plane + d0
 * from each cell's first voxel: for row r, the first voxels of the
 * pairs in byte 0 of each 32-bit lane of row[r].val[0] and the second ones
 * in row[r].val[1]. One two-register load puts both voxels of a pair in
 * place, and with the other bytes kept zero each lane is the voxel's value,
 * ready to convert: no shifts or masks. */
struct neon_rows {
    uint8x16x2_t row[4];
};
/* Named apart from the other header's rows, for checkers that read both. */
typedef neon_rows cell_rows;

/* Zeroes every byte; read_rows writes only bytes 0, 4, 8 and 12. */
lane_op void clear_rows(cell_rows *rows)
{
    for (int r = 0; r < 4; ++r)
        rows->row[r].val[0] = rows->row[r].val[1] = vdupq_n_u8(0);
}

/* The pairs of cell n (at p) into lane n of each row, one pointer
 * stepping from row to row (rows 0, 1, 3, 2: every step is d0 or the
 * plane, which each load can add to its pointer as it goes). */
template <int n> lane_op void read_cell(cell_rows *rows, const unsigned char *p, size_t d0, size_t plane)
{
    rows->row[0] = vld2q_lane_u8(p, rows->row[0], 4 * n);
    p += d0;
    rows->row[1] = vld2q_lane_u8(p, rows->row[1], 4 * n);
    p += plane;
    rows->row[3] = vld2q_lane_u8(p, rows->row[3], 4 * n);
    p -= d0;
    rows->row[2] = vld2q_lane_u8(p, rows->row[2], 4 * n);
}

lane_op void read_rows(cell_rows *rows, const unsigned char *const *cell, size_t d0, size_t plane)
{
    read_cell<0>(rows, cell[0], d0, plane);
    read_cell<1>(rows, cell[1], d0, plane);
    read_cell<2>(rows, cell[2], d0, plane);
    read_cell<3>(rows, cell[3], d0, plane);
}

/* The first and the second voxel of row r's pair in each cell, as singles. */
lane_op void row_voxels(const cell_rows &rows, int r, f32x4 *first, f32x4 *second)
{
    *first = vcvtq_f32_u32(vreinterpretq_u32_u8(rows.row[r].val[0]));
    *second = vcvtq_f32_u32(vreinterpretq_u32_u8(rows.row[r].val[1]));
}

/* Asks for the cache line that holds p. */
#if defined(_MSC_VER) && !defined(__clang__)
lane_op void prefetch(const unsigned char *p) { __prefetch(p); }
#else
lane_op void prefetch(const unsigned char *p) { __builtin_prefetch(p); }
#endif

#endif
