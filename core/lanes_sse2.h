/*
 * The lane operations of the four-lane walk (lanes.h) in SSE2, the x86-64
 * baseline. Each operation is one or a few instructions, with IEEE single
 * and double rounding in every lane; nothing here changes a value's
 * rounding, so lanes.h alone decides the arithmetic.
 *
 * Types: f32x4 holds four singles, f64x2 two doubles, i32x4 four 32-bit
 * integers, mask4 four lanes of all ones (set) or all zeros (clear).
 */
#ifndef VORN_HIST2_LANES_SSE2_H
#define VORN_HIST2_LANES_SSE2_H

#include <emmintrin.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

/* Each operation is inlined as the intrinsics it wraps are, so that the
 * compiler weighs the walk's functions as if they were written in them. */
#ifdef _MSC_VER
#define lane_op static __forceinline
#else
#define lane_op static inline __attribute__((always_inline))
#endif

typedef __m128 f32x4;
typedef __m128d f64x2;
typedef __m128i i32x4;
typedef __m128 mask4;

/* Four singles. */
lane_op f32x4 f4_set1(float a) { return _mm_set1_ps(a); }
lane_op f32x4 f4_setr(float a, float b, float c, float d) { return _mm_setr_ps(a, b, c, d); }
lane_op f32x4 f4_load(const float *p) { return _mm_loadu_ps(p); }
lane_op f32x4 f4_add(f32x4 a, f32x4 b) { return _mm_add_ps(a, b); }
lane_op f32x4 f4_sub(f32x4 a, f32x4 b) { return _mm_sub_ps(a, b); }
lane_op f32x4 f4_mul(f32x4 a, f32x4 b) { return _mm_mul_ps(a, b); }
lane_op mask4 f4_lt(f32x4 a, f32x4 b) { return _mm_cmplt_ps(a, b); }
/* The smaller of a and b (neither NaN). */
lane_op f32x4 f4_min(f32x4 a, f32x4 b) { return _mm_min_ps(a, b); }
lane_op mask4 f4_ge(f32x4 a, f32x4 b) { return _mm_cmpge_ps(a, b); }

/* a where m is set, b elsewhere. */
lane_op f32x4 f4_select(mask4 m, f32x4 a, f32x4 b)
{
    return _mm_or_ps(_mm_and_ps(m, a), _mm_andnot_ps(m, b));
}

/* Truncation toward zero. NaN and values outside the 32-bit range give
 * -2^31, which is outside every range of the bounds test. */
lane_op i32x4 f4_trunc(f32x4 a) { return _mm_cvttps_epi32(a); }
/* The same for values known to lie within the 32-bit range. */
lane_op i32x4 f4_trunc_in_range(f32x4 a) { return _mm_cvttps_epi32(a); }
lane_op f32x4 f4_from_i4(i32x4 a) { return _mm_cvtepi32_ps(a); }

/* Lanes 0 and 1 of lo, then lanes 0 and 1 of hi, each rounded to single. */
lane_op f32x4 f4_from_d2(f64x2 lo, f64x2 hi)
{
    return _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi));
}

/* Masks. */
lane_op mask4 m4_and(mask4 a, mask4 b) { return _mm_and_ps(a, b); }
/* Lane n's state in bit n. */
lane_op int m4_bits(mask4 m) { return _mm_movemask_ps(m); }

/* Two doubles. */
lane_op f64x2 d2_set1(double a) { return _mm_set1_pd(a); }
lane_op f64x2 d2_add(f64x2 a, f64x2 b) { return _mm_add_pd(a, b); }
lane_op f64x2 d2_mul(f64x2 a, f64x2 b) { return _mm_mul_pd(a, b); }
/* Lanes 0 and 1, or 2 and 3, of a, widened (exactly). */
lane_op f64x2 d2_from_lo(f32x4 a) { return _mm_cvtps_pd(a); }
lane_op f64x2 d2_from_hi(f32x4 a) { return _mm_cvtps_pd(_mm_movehl_ps(a, a)); }
/* p[0] and p[1] (p need only be aligned for a double). */
lane_op f64x2 d2_load(const double *p) { return _mm_loadu_pd(p); }
lane_op void d2_store(double *p, f64x2 v) { _mm_storeu_pd(p, v); }
/* The pairs (a[n], b[n]) for n = 0 to 3, widened (exactly), into d[n]. */
lane_op void widen_pairs(f32x4 a, f32x4 b, f64x2 *d)
{
    const f32x4 lo = _mm_unpacklo_ps(a, b);
    const f32x4 hi = _mm_unpackhi_ps(a, b);
    d[0] = _mm_cvtps_pd(lo);
    d[1] = _mm_cvtps_pd(_mm_movehl_ps(lo, lo));
    d[2] = _mm_cvtps_pd(hi);
    d[3] = _mm_cvtps_pd(_mm_movehl_ps(hi, hi));
}

/* Four 32-bit integers. */
lane_op i32x4 i4_set1(int32_t a) { return _mm_set1_epi32(a); }
lane_op i32x4 i4_add(i32x4 a, i32x4 b) { return _mm_add_epi32(a, b); }
lane_op i32x4 i4_sub(i32x4 a, i32x4 b) { return _mm_sub_epi32(a, b); }
template <int n> lane_op i32x4 i4_shl(i32x4 a) { return _mm_slli_epi32(a, n); }

/* a + 1 where m is set (a set lane is -1 as an integer). */
lane_op i32x4 i4_inc(i32x4 a, mask4 m) { return _mm_sub_epi32(a, _mm_castps_si128(m)); }

/* Whether the walk forms voxel offsets in single where that is exact:
 * SSE2 has no 32-bit lane product, so i4_mul_add takes eight steps. */
enum { offsets_in_single = 1 };

/* Low 32 bits of each lane of a b + c d, b and d broadcast: pmuludq
 * multiplies the even lanes, so the odd ones are shifted down first. */
lane_op i32x4 i4_mul_add(i32x4 a, i32x4 b, i32x4 c, i32x4 d)
{
    const __m128i even = _mm_add_epi64(_mm_mul_epu32(a, b), _mm_mul_epu32(c, d));
    const __m128i odd =
        _mm_add_epi64(_mm_mul_epu32(_mm_srli_epi64(a, 32), b), _mm_mul_epu32(_mm_srli_epi64(c, 32), d));
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                              _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

template <int n> lane_op int32_t i4_lane(i32x4 v)
{
    return _mm_cvtsi128_si32(_mm_shuffle_epi32(v, _MM_SHUFFLE(n, n, n, n)));
}

/* The four lanes, as unsigned numbers, into p[0] to p[3]. */
lane_op void i4_store(uint32_t *p, i32x4 v) { _mm_storeu_si128((__m128i *)p, v); }

/* Whether all four lanes hold the same number. */
lane_op int i4_all_equal(i32x4 v)
{
    return _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(v, _mm_shuffle_epi32(v, 0)))) == 15;
}

/* The range 1 to top (top below 2^32) in the form i4_in_range takes: top
 * with its top bit flipped, for a signed comparison. */
lane_op i32x4 i4_range(uint32_t top) { return _mm_set1_epi32((int)(top ^ 0x80000000u)); }

/* The lanes of a from 1 to top: a - 1 below top as unsigned numbers,
 * compared signed with both sides' top bits flipped. */
lane_op mask4 i4_in_range(i32x4 a, i32x4 range)
{
    return _mm_castsi128_ps(_mm_cmpgt_epi32(range, _mm_add_epi32(a, _mm_set1_epi32(0x7fffffff))));
}

/* Voxels p[0] and p[1] as one 16-bit number, p[0] in the low byte. */
lane_op int load_pair(const unsigned char *p)
{
    unsigned short v;
    memcpy(&v, p, sizeof v);
    return v;
}

/* The voxel pairs (p[0], p[1]) at p = cell[n] + off of four cells n, in
 * the low halves of the 32-bit lanes. */
lane_op i32x4 voxel_pairs(const unsigned char *const *cell, size_t off)
{
    __m128i pairs = _mm_cvtsi32_si128(load_pair(cell[0] + off));
    pairs = _mm_insert_epi16(pairs, load_pair(cell[1] + off), 2);
    pairs = _mm_insert_epi16(pairs, load_pair(cell[2] + off), 4);
    return _mm_insert_epi16(pairs, load_pair(cell[3] + off), 6);
}

/* The four rows of four cells, at offsets 0, d0, plane and plane + d0
 * from each cell's first voxel. Here they are read a row at a time, when
 * row_voxels asks, so that each row is blended as soon as it is read: with
 * all four rows read first, the x86-64 build takes two instructions a grid
 * point more. */
struct sse2_rows {
    const unsigned char *const *cell;
    size_t off[4];
};
/* Named apart from the other header's rows, for checkers that read both. */
typedef sse2_rows cell_rows;

lane_op void clear_rows(cell_rows *) {}

lane_op void read_rows(cell_rows *rows, const unsigned char *const *cell, size_t d0, size_t plane)
{
    rows->cell = cell;
    rows->off[0] = 0;
    rows->off[1] = d0;
    rows->off[2] = plane;
    rows->off[3] = plane + d0;
}

/* The first and the second voxel of row r's pair in each cell, as singles. */
lane_op void row_voxels(const cell_rows &rows, int r, f32x4 *first, f32x4 *second)
{
    const i32x4 pairs = voxel_pairs(rows.cell, rows.off[r]);
    *first = _mm_cvtepi32_ps(_mm_and_si128(pairs, _mm_set1_epi32(255)));
    *second = _mm_cvtepi32_ps(_mm_srli_epi32(pairs, 8));
}

/* Asks for the cache line that holds p. */
lane_op void prefetch(const unsigned char *p) { _mm_prefetch((const char *)p, _MM_HINT_T0); }

#endif
