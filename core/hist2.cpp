/*
 * Joint intensity histogram of two uint8 volumes.
 *
 * Volume 1 is walked on a grid that starts at voxel coordinate 1 and is
 * spaced by the skips; each grid point is jittered by a fixed table of
 * fractions, mapped into volume 2 by the matrix, and, where it lands inside
 * volume 2, both volumes are sampled trilinearly and one unit of weight is
 * added to the histogram: in the column of volume 1's rounded value, shared
 * between the two rows that bracket volume 2's value.
 *
 * Floating point is part of the result. On 64-bit x86 (SSE) every
 * single-precision step is rounded to single and the mapping and the
 * histogram additions are done in double. On 32-bit x86 with x87 arithmetic
 * the same steps are carried at the unit's precision (long double here) and
 * rounded once where a value is stored as single; the loop limits and the
 * bounds test use the exact integer sizes there.
 *
 * Two walks compute this. The plain walk below takes one grid point at a
 * time and spells out every step; the x87 build uses it, and so do volumes
 * too large for 32-bit voxel offsets. The four-lane walk after it is the one
 * the 64-bit builds run: the same steps on four grid points at once with
 * SSE2, bit for bit the same result, several times faster.
 */
#include "hist2.h"

#include <math.h>
#include <stdint.h>
#include <string.h>

#if (defined(__i386__) || defined(_M_IX86)) && !defined(__SSE_MATH__)
#define HIST2_X87 1
/* Intermediates at the unit's precision, whatever the control word says. */
typedef long double sreal; /* steps that are single elsewhere */
typedef long double dreal; /* steps that are double elsewhere */

/* A store to memory is the only rounding the compiler cannot skip. */
static float to_single(long double v)
{
    volatile float f = (float)v;
    return f;
}

static double to_double(long double v)
{
    volatile double d = (double)v;
    return d;
}
#else
#define HIST2_X87 0
typedef float sreal;
typedef double dreal;

static inline float to_single(double v) { return (float)v; }
static inline double to_double(double v) { return v; }
#endif

#if defined(__SSE2__) && !HIST2_X87
#define HIST2_LANES 1
#include <emmintrin.h>
#else
#define HIST2_LANES 0
#endif

/* Jitter fractions, drawn in order three per grid point. */
static const float ran[97] = {
    0.656619f, 0.891183f, 0.488144f, 0.992646f, 0.373326f, 0.531378f, 0.181316f,  0.501944f, 0.422195f, 0.660427f,
    0.673653f, 0.95733f,  0.191866f, 0.111216f, 0.565054f, 0.969166f, 0.0237439f, 0.870216f, 0.0268766f, 0.519529f,
    0.192291f, 0.715689f, 0.250673f, 0.933865f, 0.137189f, 0.521622f, 0.895202f,  0.942387f, 0.335083f, 0.437364f,
    0.471156f, 0.14931f,  0.135864f, 0.532498f, 0.725789f, 0.398703f, 0.358419f,  0.285279f, 0.868635f, 0.626413f,
    0.241172f, 0.978082f, 0.640501f, 0.229849f, 0.681335f, 0.665823f, 0.134718f,  0.0224933f, 0.262199f, 0.116515f,
    0.0693182f, 0.85293f, 0.180331f, 0.0324186f, 0.733926f, 0.536517f, 0.27603f,  0.368458f, 0.0128863f, 0.889206f,
    0.866021f, 0.254247f, 0.569481f, 0.159265f, 0.594364f, 0.3311f,   0.658613f,  0.863634f, 0.567623f, 0.980481f,
    0.791832f, 0.152594f, 0.833027f, 0.191863f, 0.638987f, 0.669f,    0.772088f,  0.379818f, 0.441585f, 0.48306f,
    0.608106f, 0.175996f, 0.00202556f, 0.790224f, 0.513609f, 0.213229f, 0.10345f, 0.157337f, 0.407515f, 0.407757f,
    0.0526927f, 0.941815f, 0.149972f, 0.384374f, 0.311059f, 0.168534f, 0.896648f,
};

/* Integer part of a coordinate of at least 1. Windows hosts take floor of
 * the value widened to double (the runtime has no floorf); the result is the
 * same. The width of the size type keeps axes beyond 2^31 voxels exact. */
static inline ptrdiff_t floor_int(float x)
{
#ifdef _WIN32
    return (ptrdiff_t)floor((double)x);
#else
    return (ptrdiff_t)floorf(x);
#endif
}

/* Integer part and fraction of a coordinate along an axis of the given size.
 * A coordinate equal to the size lies on the volume's far face: the x87 build
 * can jitter a grid point of volume 1 onto it. The cell below with fraction
 * 1 gives that face's value exactly as the cell beyond with fraction 0 would
 * (v * 0 + w * 1 and w * 1 + v * 0 are both exactly w), without reading the
 * voxels beyond the face, which are outside the volume on the last plane. */
static inline ptrdiff_t cell_of(float c, size_t size, float *frac)
{
    const ptrdiff_t i = floor_int(c);
    if ((size_t)i >= size) {
        *frac = 1.0f;
        return i - 1;
    }
    *frac = to_single((sreal)c - (sreal)(float)i);
    return i;
}

/* Trilinear value of vol (sizes dim) at 1-based (x, y, z), each at least 1
 * and at most its axis size. Blends along x, then y, then z; that grouping
 * fixes the rounding. All eight voxels of the cell are read, even at
 * weight 0. */
static float samp(const size_t *dim, const unsigned char *vol, float x, float y, float z)
{
    float dx, dy, dz;
    const ptrdiff_t ix = cell_of(x, dim[0], &dx);
    const ptrdiff_t iy = cell_of(y, dim[1], &dy);
    const ptrdiff_t iz = cell_of(z, dim[2], &dz);
    const float ex = to_single((sreal)1 - dx);
    const float ey = to_single((sreal)1 - dy);
    const float ez = to_single((sreal)1 - dz);

    const size_t d0 = dim[0];
    const size_t plane = d0 * dim[1];
    const unsigned char *p =
        vol + ((size_t)(ix - 1) + d0 * ((size_t)(iy - 1) + dim[1] * (size_t)(iz - 1)));
    const unsigned char *q = p + plane;

    const sreal r00 = (sreal)p[0] * ex + (sreal)p[1] * dx;
    const sreal r10 = (sreal)p[d0] * ex + (sreal)p[d0 + 1] * dx;
    const sreal r01 = (sreal)q[0] * ex + (sreal)q[1] * dx;
    const sreal r11 = (sreal)q[d0] * ex + (sreal)q[d0 + 1] * dx;

    const sreal s0 = r00 * ey + r10 * dy;
    const sreal s1 = r01 * ey + r11 * dy;

    return to_single(s0 * ez + s1 * dz);
}

/* Loop limit of an axis: the last grid coordinate stays below it. */
static inline sreal axis_limit(size_t size, float skip)
{
    return (sreal)size - skip;
}

/* Does the axis have a grid point at all: is its loop, if reached, entered? */
static inline int axis_has_point(size_t size, float skip)
{
    return (sreal)1 < axis_limit(size, skip);
}

/* Next grid coordinate: a running sum, rounded to single at every step. */
static inline float axis_step(float coord, float skip)
{
    return to_single((sreal)coord + skip);
}

/* The plain walk: one grid point at a time, every step as described above.
 * The x87 build and volumes too long for the four-lane walk take it. */
static void walk_plain(const double *mat, const unsigned char *vol1, const unsigned char *vol2,
                       const size_t *dim1, const size_t *dim2, double *hist, const float *skips)
{
    const float sx = skips[0];
    const float sy = skips[1];
    const float sz = skips[2];
    const sreal limx = axis_limit(dim1[0], sx);
    const sreal limy = axis_limit(dim1[1], sy);
    const sreal limz = axis_limit(dim1[2], sz);
    const sreal e0 = (sreal)dim2[0];
    const sreal e1 = (sreal)dim2[1];
    const sreal e2 = (sreal)dim2[2];
    int ran_index = 0;

    for (float gz = 1.0f; gz < limz; gz = axis_step(gz, sz)) {
        for (float gy = 1.0f; gy < limy; gy = axis_step(gy, sy)) {
            for (float gx = 1.0f; gx < limx; gx = axis_step(gx, sx)) {
                /* Jitter: three draws per point, accepted or not. */
                const int q1 = (ran_index + 1) % 97;
                const int q2 = (q1 + 1) % 97;
                const int q3 = (q2 + 1) % 97;
                ran_index = q3;
                const float jx = to_single((sreal)gx + (sreal)sx * ran[q1]);
                const float jy = to_single((sreal)gy + (sreal)sy * ran[q2]);
                const float jz = to_single((sreal)gz + (sreal)sz * ran[q3]);

                /* Rows 0 to 2 of the matrix applied to (jx, jy, jz, 1). */
                const float tz = to_single((((dreal)jx * mat[2] + (dreal)jy * mat[6]) + (dreal)jz * mat[10]) + mat[14]);
                const float ty = to_single((((dreal)jx * mat[1] + (dreal)jy * mat[5]) + (dreal)jz * mat[9]) + mat[13]);
                const float tx = to_single((((dreal)jx * mat[0] + (dreal)jy * mat[4]) + (dreal)jz * mat[8]) + mat[12]);

                /* Inside volume 2; NaN fails every comparison. */
                if (!((sreal)1 <= tz && tz < e2 && (sreal)1 <= ty && ty < e1 && (sreal)1 <= tx && tx < e0))
                    continue;

                const float w = samp(dim2, vol2, tx, ty, tz);
                const float u = samp(dim1, vol1, jx, jy, jz);
                const int i = (int)floor_int(w);
                const int j = (int)floor((double)u + 0.5);
                const float frac = w - (float)i;

                /* One unit of weight, shared between rows i and i + 1. */
                double *h = hist + i + 256 * j;
                h[0] = to_double((dreal)h[0] + ((sreal)1 - frac));
                if (i < 255)
                    h[1] = to_double((dreal)h[1] + frac);
            }
        }
    }
}

#if HIST2_LANES
/*
 * The four-lane walk (SSE2): the same steps on four consecutive grid points
 * of a row at once, with the same results bit for bit. Each lane's single
 * products and sums round exactly as the scalar ones, the mapping runs in
 * double two lanes at a time with the same grouping, and every floor is a
 * truncation, since all floored values are at least 0. Points are added to
 * the histogram one by one in walk order, so every cell sees the same sums
 * in the same order.
 */

/* Voxels p[0] and p[1] as one 16-bit number, p[0] in the low byte. */
static inline int load_pair(const unsigned char *p)
{
    unsigned short v;
    memcpy(&v, p, sizeof v);
    return v;
}

/* a (1 - d) + b d, each product and the sum rounded to single. */
static inline __m128 blend(__m128 a, __m128 ea, __m128 b, __m128 da)
{
    return _mm_add_ps(_mm_mul_ps(a, ea), _mm_mul_ps(b, da));
}

/* Blend along x in one row of the four cells, starting off bytes past
 * each cell's first voxel: the voxel pairs (x, x + 1) go into the low
 * halves of the 32-bit lanes, then one byte of each pair into each of
 * two vectors of singles. */
static inline __m128 row_blend(const unsigned char *const *cell, size_t off, __m128 ex, __m128 dx)
{
    __m128i pairs = _mm_cvtsi32_si128(load_pair(cell[0] + off));
    pairs = _mm_insert_epi16(pairs, load_pair(cell[1] + off), 2);
    pairs = _mm_insert_epi16(pairs, load_pair(cell[2] + off), 4);
    pairs = _mm_insert_epi16(pairs, load_pair(cell[3] + off), 6);
    const __m128 c0 = _mm_cvtepi32_ps(_mm_and_si128(pairs, _mm_set1_epi32(255)));
    const __m128 c1 = _mm_cvtepi32_ps(_mm_srli_epi32(pairs, 8));
    return blend(c0, ex, c1, dx);
}

/* A volume as the four-lane sampler reads it. Voxel offsets are formed in
 * 32-bit lanes, so a volume holds fewer than 2^32 voxels here. */
struct lane_volume {
    const unsigned char *vox;
    size_t d0, plane;
    __m128i d0s, planes, origin; /* broadcast: d0, d0 d1, 1 + d0 + d0 d1 */
    __m128 d0f, planef;          /* d0 and d0 d1 as singles */
};

static lane_volume lane_view(const unsigned char *vol, const size_t *dim)
{
    const size_t plane = dim[0] * dim[1];
    const lane_volume v = {vol, dim[0], plane, _mm_set1_epi32((int)dim[0]), _mm_set1_epi32((int)plane),
                           _mm_set1_epi32((int)(1 + dim[0] + plane)), _mm_set1_ps((float)dim[0]),
                           _mm_set1_ps((float)plane)};
    return v;
}

/* Whether ix + d0 iy + d0 d1 iz is exact in single for every cell of the
 * volume: each product and partial sum is then an integer below 2^24. */
static int single_offsets(const size_t *dim)
{
    const uint64_t plane = (uint64_t)dim[0] * dim[1];
    return dim[0] + plane + plane * dim[2] < ((uint64_t)1 << 24);
}

/* Lane n of v. */
template <int n> static inline int lane(__m128i v)
{
    return _mm_cvtsi128_si32(_mm_shuffle_epi32(v, _MM_SHUFFLE(n, n, n, n)));
}

/* Low 32 bits of each lane of a b + c d, b and d broadcast: pmuludq
 * multiplies the even lanes, so the odd ones are shifted down first. */
static inline __m128i mul_add32(__m128i a, __m128i b, __m128i c, __m128i d)
{
    const __m128i even = _mm_add_epi64(_mm_mul_epu32(a, b), _mm_mul_epu32(c, d));
    const __m128i odd =
        _mm_add_epi64(_mm_mul_epu32(_mm_srli_epi64(a, 32), b), _mm_mul_epu32(_mm_srli_epi64(c, 32), d));
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                              _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

/* Four cells of a volume, located: the offset of each cell's first voxel
 * (ix, iy, iz) and the fractions of the point within it. */
struct cells4 {
    uint32_t base[4];
    __m128 dx, dy, dz;
};

/* Steps 1 and 2 of samp at four points. With small set (both volumes
 * pass single_offsets) the offsets are formed in single, which is exact
 * there and takes fewer instructions than the 32-bit products. */
template <bool small>
static inline void locate4(const lane_volume &v, __m128 x, __m128 y, __m128 z, __m128i ix, __m128i iy, __m128i iz,
                           cells4 *c)
{
    const __m128 fx = _mm_cvtepi32_ps(ix);
    const __m128 fy = _mm_cvtepi32_ps(iy);
    const __m128 fz = _mm_cvtepi32_ps(iz);
    c->dx = _mm_sub_ps(x, fx);
    c->dy = _mm_sub_ps(y, fy);
    c->dz = _mm_sub_ps(z, fz);
    /* (ix - 1) + d0 ((iy - 1) + d1 (iz - 1)), regrouped exactly. */
    __m128i at;
    if (small)
        at = _mm_cvttps_epi32(_mm_add_ps(_mm_add_ps(fx, _mm_mul_ps(fy, v.d0f)), _mm_mul_ps(fz, v.planef)));
    else
        at = _mm_add_epi32(ix, mul_add32(iy, v.d0s, iz, v.planes));
    _mm_storeu_si128((__m128i *)c->base, _mm_sub_epi32(at, v.origin));
}

/* The same, with the integer parts still to take. */
template <bool small> static inline void locate4(const lane_volume &v, __m128 x, __m128 y, __m128 z, cells4 *c)
{
    locate4<small>(v, x, y, z, _mm_cvttps_epi32(x), _mm_cvttps_epi32(y), _mm_cvttps_epi32(z), c);
}

/* 1 <= t < e from t's integer part it, for the bound e_bias made by
 * axis_bound: it - 1 below e - 1 as unsigned numbers, compared signed with
 * both sides' top bits flipped. NaN and out-of-range t truncate to -2^31,
 * which fails like any t below 1. */
static inline __m128i inside(__m128i it, __m128i e_bias)
{
    return _mm_cmpgt_epi32(e_bias, _mm_add_epi32(it, _mm_set1_epi32(0x7fffffff)));
}

/* The bound for inside: t < e, e the axis size rounded to single, holds
 * for t >= 1 exactly when t's integer part is below e, a whole number. */
static inline __m128i axis_bound(size_t size)
{
    const uint32_t e = (uint32_t)(float)size;
    return _mm_set1_epi32((int)((e ? e - 1 : 0) ^ 0x80000000u));
}

/* The rest of samp at four located points: read the voxels and blend. */
static inline __m128 blend_cells(const lane_volume &v, const cells4 &c)
{
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 ex = _mm_sub_ps(one, c.dx);
    const __m128 ey = _mm_sub_ps(one, c.dy);
    const __m128 ez = _mm_sub_ps(one, c.dz);
    const unsigned char *cell[4] = {v.vox + c.base[0], v.vox + c.base[1], v.vox + c.base[2], v.vox + c.base[3]};
    const __m128 r00 = row_blend(cell, 0, ex, c.dx);
    const __m128 r10 = row_blend(cell, v.d0, ex, c.dx);
    const __m128 r01 = row_blend(cell, v.plane, ex, c.dx);
    const __m128 r11 = row_blend(cell, v.plane + v.d0, ex, c.dx);
    const __m128 s0 = blend(r00, ey, r10, c.dy);
    const __m128 s1 = blend(r01, ey, r11, c.dy);
    return blend(s0, ez, s1, c.dz);
}

/* The jitter offsets skip * draw of four grid points whose draws start
 * after ran[k], for every k: per point the x, y and z draws come in turn,
 * taken cyclically. Each product is rounded to single as in the plain walk;
 * tabling them saves the gather and the products at every block. */
struct jitter_table {
    __m128 x[97], y[97], z[97];
};

static void fill_jitter(const float *skips, jitter_table *t)
{
    for (int k = 0; k < 97; ++k) {
        float x[4], y[4], z[4];
        for (int n = 0; n < 4; ++n) {
            const int q = k + 1 + 3 * n; /* below 97 + 97 */
            x[n] = skips[0] * ran[q < 97 ? q : q - 97];
            y[n] = skips[1] * ran[q + 1 < 97 ? q + 1 : q + 1 - 97];
            z[n] = skips[2] * ran[q + 2 < 97 ? q + 2 : q + 2 - 97];
        }
        t->x[k] = _mm_loadu_ps(x);
        t->y[k] = _mm_loadu_ps(y);
        t->z[k] = _mm_loadu_ps(z);
    }
}

/* One row of the matrix, m[0], m[4], m[8] and m[12], applied to four points
 * in double, ((x m0 + y m4) + z m8) + m12, and rounded to single. The
 * products z m8 come ready from the plane's table. */
struct mat_row {
    __m128d m0, m4, m12;
};

static inline mat_row load_row(const double *m)
{
    const mat_row r = {_mm_set1_pd(m[0]), _mm_set1_pd(m[4]), _mm_set1_pd(m[12])};
    return r;
}

static inline __m128d map2(const mat_row &r, __m128d x, __m128d y, __m128d zm8)
{
    return _mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(x, r.m0), _mm_mul_pd(y, r.m4)), zm8), r.m12);
}

static inline __m128 map4(const mat_row &r, const __m128d *x, const __m128d *y, const __m128d *zm8)
{
    const __m128 lo = _mm_cvtpd_ps(map2(r, x[0], y[0], zm8[0]));
    const __m128 hi = _mm_cvtpd_ps(map2(r, x[1], y[1], zm8[1]));
    return _mm_movelh_ps(lo, hi);
}

static inline void widen(__m128 v, __m128d *d)
{
    d[0] = _mm_cvtps_pd(v);
    d[1] = _mm_cvtps_pd(_mm_movehl_ps(v, v));
}

/* Where keep is set, v; elsewhere 1, a coordinate inside any volume that has
 * a grid point or an accepted point. */
static inline __m128 keep_or_one(__m128 keep, __m128 v)
{
    return _mm_or_ps(_mm_and_ps(keep, v), _mm_andnot_ps(keep, _mm_set1_ps(1.0f)));
}

/* Whether the cell after bin is in the same column: not in row 255. */
static inline int has_next_row(int bin)
{
    return (bin & 255) != 255;
}

/* One point's unit of weight: share into cell h[0], frac into h[1] unless
 * the row is 255 (frac is 0 there, and h[1] is another column's cell). */
static inline void add_point(double *hist, int bin, __m128d share, __m128d frac)
{
    double *h = hist + bin;
    h[0] += _mm_cvtsd_f64(share);
    if (has_next_row(bin))
        h[1] += _mm_cvtsd_f64(frac);
}

/* (((a + v0) + v1) + v2) + v3 over the four values in v[0] and v[1]. */
static inline double add_in_order(double a, const __m128d *v)
{
    a += _mm_cvtsd_f64(v[0]);
    a += _mm_cvtsd_f64(_mm_unpackhi_pd(v[0], v[0]));
    a += _mm_cvtsd_f64(v[1]);
    return a + _mm_cvtsd_f64(_mm_unpackhi_pd(v[1], v[1]));
}

/* Adds the points whose bit is set in mask, in lane order. */
static inline void add4(double *hist, __m128 w, __m128 u, int mask)
{
    const __m128i i = _mm_cvttps_epi32(w);
    const __m128 frac = _mm_sub_ps(w, _mm_cvtepi32_ps(i));
    const __m128 share = _mm_sub_ps(_mm_set1_ps(1.0f), frac);
    /* floor(u + 0.5) in double: u's integer part, plus 1 where its
     * fraction is at least one half. */
    const __m128i k = _mm_cvttps_epi32(u);
    const __m128 up = _mm_cmpge_ps(_mm_sub_ps(u, _mm_cvtepi32_ps(k)), _mm_set1_ps(0.5f));
    const __m128i j = _mm_sub_epi32(k, _mm_castps_si128(up));
    __m128d fd[2], sd[2];
    widen(frac, fd);
    widen(share, sd);
    const __m128i bin = _mm_add_epi32(i, _mm_slli_epi32(j, 8));

    if (mask == 15 && _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(bin, _mm_shuffle_epi32(bin, 0)))) == 15) {
        /* One cell for all four, as in a uniform region: the same sums in
         * the same order, kept in a register instead of waiting for each
         * store to come back from memory. */
        const int at = _mm_cvtsi128_si32(bin);
        double *h = hist + at;
        h[0] = add_in_order(h[0], sd);
        if (has_next_row(at))
            h[1] = add_in_order(h[1], fd);
        return;
    }
    if (mask == 15) { /* all four, as nearly every block */
        add_point(hist, lane<0>(bin), sd[0], fd[0]);
        add_point(hist, lane<1>(bin), _mm_unpackhi_pd(sd[0], sd[0]), _mm_unpackhi_pd(fd[0], fd[0]));
        add_point(hist, lane<2>(bin), sd[1], fd[1]);
        add_point(hist, lane<3>(bin), _mm_unpackhi_pd(sd[1], sd[1]), _mm_unpackhi_pd(fd[1], fd[1]));
        return;
    }
    if (mask & 1)
        add_point(hist, lane<0>(bin), sd[0], fd[0]);
    if (mask & 2)
        add_point(hist, lane<1>(bin), _mm_unpackhi_pd(sd[0], sd[0]), _mm_unpackhi_pd(fd[0], fd[0]));
    if (mask & 4)
        add_point(hist, lane<2>(bin), sd[1], fd[1]);
    if (mask & 8)
        add_point(hist, lane<3>(bin), _mm_unpackhi_pd(sd[1], sd[1]), _mm_unpackhi_pd(fd[1], fd[1]));
}

/* Up to 16 blocks of four grid points of one row, located in both volumes:
 * locating a stretch of the row first and reading the voxels afterwards
 * gives the processor independent blocks to overlap, and time to fetch the
 * voxels. */
struct stretch {
    int blocks;
    int mask[16];
    cells4 in1[16], in2[16];
};

/* Samples both volumes at the points of a stretch and adds them. */
static void sample_stretch(const stretch &st, const lane_volume &v1, const lane_volume &v2, double *hist)
{
    /* All voxels first, then the additions: the blocks' reads overlap
     * instead of each waiting behind the previous block's additions. */
    __m128 w[16], u[16];
    for (int n = 0; n < st.blocks; ++n) {
        w[n] = blend_cells(v2, st.in2[n]);
        u[n] = blend_cells(v1, st.in1[n]);
    }
    for (int n = 0; n < st.blocks; ++n)
        add4(hist, w[n], u[n], st.mask[n]);
}

/* What stays fixed along a plane of the grid, for each start k of the
 * draws: the jittered z of four points and its products with the matrix's
 * z column, rows 0 to 2, two points to a vector. A wide plane has thousands
 * of blocks and only 97 starts, so each entry is made once, when a block of
 * the plane first needs it; a plane with few or no blocks makes few or none. */
struct plane_table {
    __m128 gz;       /* the plane's z, broadcast */
    __m128d m8[3];   /* m[8], m[9], m[10], broadcast */
    int plane;       /* which plane the walk is on */
    int made[97];    /* which plane each entry was made for */
    __m128 z[97];
    __m128d zm[97][3][2];
};

static void make_entry(const __m128 *jitter_z, int k, plane_table *t)
{
    const __m128 z = _mm_add_ps(t->gz, jitter_z[k]);
    const __m128d lo = _mm_cvtps_pd(z);
    const __m128d hi = _mm_cvtps_pd(_mm_movehl_ps(z, z));
    t->z[k] = z;
    for (int r = 0; r < 3; ++r) {
        t->zm[k][r][0] = _mm_mul_pd(lo, t->m8[r]);
        t->zm[k][r][1] = _mm_mul_pd(hi, t->m8[r]);
    }
    t->made[k] = t->plane;
}

/* The x coordinates of a row's grid in blocks of four, the same for every
 * row. Made once when the whole row fits, so that no block waits for the
 * running sum of the blocks before it; a longer row is made a segment at a
 * time as it is walked. */
enum { row_blocks_max = 256 };

struct row_grid {
    int blocks;
    __m128 g[row_blocks_max];
    __m128 live[row_blocks_max]; /* which of the four are grid points */
    int points[row_blocks_max];  /* how many: 1 to 4, the first always */
};

/* Makes the blocks of a row from gx on, as many as fit. Points past the
 * row's limit are not grid points. Returns the gx after the last block. */
static float make_row_segment(float gx, float sx, float limx, row_grid *r)
{
    int n = 0;
    for (; n < row_blocks_max && gx < limx; ++n) {
        const float g1 = axis_step(gx, sx);
        const float g2 = axis_step(g1, sx);
        const float g3 = axis_step(g2, sx);
        r->g[n] = _mm_setr_ps(gx, g1, g2, g3);
        r->live[n] = _mm_cmplt_ps(r->g[n], _mm_set1_ps(limx));
        const int m = _mm_movemask_ps(r->live[n]); /* 1, 3, 7 or 15 */
        r->points[n] = m == 15 ? 4 : 1 + (m >> 1 & 1) + (m >> 2 & 1);
        gx = axis_step(g3, sx);
    }
    r->blocks = n;
    return gx;
}

/* What stays fixed during the four-lane walk. */
struct lane_walk {
    const jitter_table *jitter;
    plane_table *plane;
    __m128i e0, e1, e2; /* from axis_bound */
    mat_row row0, row1, row2;
    lane_volume v1, v2;
    int sparse; /* rows or planes skipped: voxels of a row rarely in cache */
};

/* Block b of the row (gy, gz): draws, jitter, mapping and bounds test; the
 * accepted points are located in both volumes and queued in st. Points
 * that are not grid points use no draws. */
template <bool small>
static void walk_block(const lane_walk &w, const row_grid &row, int b, __m128 gy, int *ran_index, stretch *st)
{
    const __m128 g = row.g[b];
    const __m128 live = row.live[b];
    const int points = row.points[b];

    const int k = *ran_index;
    *ran_index += 3 * points;
    if (*ran_index >= 97)
        *ran_index -= 97;
    __m128 jx = _mm_add_ps(g, w.jitter->x[k]);
    __m128 jy = _mm_add_ps(gy, w.jitter->y[k]);
    if (w.plane->made[k] != w.plane->plane)
        make_entry(w.jitter->z, k, w.plane);
    __m128 jz = w.plane->z[k];

    __m128d x[2], y[2];
    widen(jx, x);
    widen(jy, y);
    __m128 tz = map4(w.row2, x, y, w.plane->zm[k][2]);
    __m128 ty = map4(w.row1, x, y, w.plane->zm[k][1]);
    __m128 tx = map4(w.row0, x, y, w.plane->zm[k][0]);

    __m128i itx = _mm_cvttps_epi32(tx);
    __m128i ity = _mm_cvttps_epi32(ty);
    __m128i itz = _mm_cvttps_epi32(tz);
    const __m128 keep = _mm_and_ps(
        _mm_castsi128_ps(_mm_and_si128(_mm_and_si128(inside(itx, w.e0), inside(ity, w.e1)), inside(itz, w.e2))),
        live);
    const int mask = _mm_movemask_ps(keep);
    if (!mask)
        return;

    const int n = st->blocks++;
    st->mask[n] = mask;
    if (mask != 15) {
        tx = keep_or_one(keep, tx);
        ty = keep_or_one(keep, ty);
        tz = keep_or_one(keep, tz);
        jx = keep_or_one(keep, jx);
        jy = keep_or_one(keep, jy);
        jz = keep_or_one(keep, jz);
        itx = _mm_cvttps_epi32(tx);
        ity = _mm_cvttps_epi32(ty);
        itz = _mm_cvttps_epi32(tz);
    }
    cells4 *c2 = &st->in2[n];
    cells4 *c1 = &st->in1[n];
    locate4<small>(w.v2, tx, ty, tz, itx, ity, itz, c2);
    locate4<small>(w.v1, jx, jy, jz, c1);

    /* Ask for the cache lines of the voxels that the cells read: all four
     * cells in volume 2; in volume 1, whose four points lie close together
     * along a row, the cells at both ends of the block, which share most
     * lines with the two between. (Kept here: the compiler drops a call
     * that does nothing but prefetch.) */
    for (int k = 0; w.sparse && k < 4; ++k) {
        const char *p2 = (const char *)w.v2.vox + c2->base[k];
        _mm_prefetch(p2, _MM_HINT_T0);
        _mm_prefetch(p2 + w.v2.d0, _MM_HINT_T0);
        _mm_prefetch(p2 + w.v2.plane, _MM_HINT_T0);
        _mm_prefetch(p2 + w.v2.plane + w.v2.d0, _MM_HINT_T0);
        if (k == 0 || k == 3) {
            const char *p1 = (const char *)w.v1.vox + c1->base[k];
            _mm_prefetch(p1, _MM_HINT_T0);
            _mm_prefetch(p1 + w.v1.d0, _MM_HINT_T0);
            _mm_prefetch(p1 + w.v1.plane, _MM_HINT_T0);
            _mm_prefetch(p1 + w.v1.plane + w.v1.d0, _MM_HINT_T0);
        }
    }
}

/* The blocks of a row segment, a stretch at a time: located first, then
 * sampled and added. */
template <bool small>
static void walk_row(const lane_walk &w, const row_grid &row, float gy, int *ran_index, double *hist)
{
    stretch st;
    for (int b0 = 0; b0 < row.blocks; b0 += 16) {
        const int end = row.blocks - b0 < 16 ? row.blocks : b0 + 16;
        st.blocks = 0;
        for (int b = b0; b < end; ++b)
            walk_block<small>(w, row, b, _mm_set1_ps(gy), ran_index, &st);
        sample_stretch(st, w.v1, w.v2, hist);
    }
}

/* hist2 on four grid points at a time: the walk of walk_plain, each
 * stretch of a row located first and then sampled. */
template <bool small>
static void walk_lanes(const double *mat, const unsigned char *vol1, const unsigned char *vol2,
                       const size_t *dim1, const size_t *dim2, double *hist, const float *skips)
{
    const float sx = skips[0];
    const float sy = skips[1];
    const float sz = skips[2];
    const float limx = axis_limit(dim1[0], sx);
    const float limy = axis_limit(dim1[1], sy);
    const float limz = axis_limit(dim1[2], sz);
    jitter_table jitter;
    fill_jitter(skips, &jitter);
    plane_table plane;
    for (int r = 0; r < 3; ++r)
        plane.m8[r] = _mm_set1_pd(mat[8 + r]);
    /* Every entry made once for a plane 0 before the first, so that each
     * is set (and no library call fills the table). */
    plane.plane = 0;
    plane.gz = _mm_set1_ps(1.0f);
    for (int k = 0; k < 97; ++k)
        make_entry(jitter.z, k, &plane);
    const lane_walk w = {&jitter, &plane, axis_bound(dim2[0]), axis_bound(dim2[1]), axis_bound(dim2[2]),
                         load_row(mat), load_row(mat + 1), load_row(mat + 2),
                         lane_view(vol1, dim1), lane_view(vol2, dim2),
                         !(sy < 2.0f && sz < 2.0f)};
    row_grid row;
    const int whole_row = !(make_row_segment(1.0f, sx, limx, &row) < limx);
    int ran_index = 0;

    for (float gz = 1.0f; gz < limz; gz = axis_step(gz, sz)) {
        plane.gz = _mm_set1_ps(gz);
        ++plane.plane;
        for (float gy = 1.0f; gy < limy; gy = axis_step(gy, sy)) {
            if (whole_row) {
                walk_row<small>(w, row, gy, &ran_index, hist);
                continue;
            }
            for (float gx = 1.0f; gx < limx;) {
                gx = make_row_segment(gx, sx, limx, &row);
                walk_row<small>(w, row, gy, &ran_index, hist);
            }
        }
    }
}

/* The lanes hold integer parts and voxel offsets in 32 bits: every axis
 * below 2^31 and fewer than 2^32 voxels. */
static int lane_fit(const size_t *dim)
{
    const uint64_t lane = (uint64_t)1 << 31;
    if (dim[0] >= lane || dim[1] >= lane || dim[2] >= lane)
        return 0;
    const uint64_t plane = (uint64_t)dim[0] * dim[1];
    return plane < 2 * lane && plane * dim[2] < 2 * lane;
}
#endif

/* The bit pattern of a single. Positive singles of one binade are spaced
 * evenly, so their patterns count that spacing. */
static inline uint32_t single_bits(float f)
{
    uint32_t b;
    memcpy(&b, &f, sizeof b);
    return b;
}

static inline float from_single_bits(uint32_t b)
{
    float f;
    memcpy(&f, &b, sizeof f);
    return f;
}

/* The largest single below lim (lim at least 1). */
static inline float single_below(sreal lim)
{
    const float f = to_single(lim);
    return f < lim ? f : from_single_bits(single_bits(f) - 1);
}

/* Can a jittered coordinate of volume 1 along this axis round up onto the
 * axis size itself? Bounded from above by the largest single below the
 * loop's limit moved by the largest draw. Under the 64-bit rules this
 * takes axes of more than 2^18 voxels and some skips; the x87 build's exact
 * limit allows it on short axes too. The plain sampler handles such a
 * point; the four-lane one reads a cell beyond it, so such calls take the
 * plain walk. */
#if HIST2_LANES
static int face_reachable(size_t size, float skip)
{
    const sreal lim = axis_limit(size, skip);
    if (!((sreal)1 < lim))
        return 0;
    float largest_draw = 0.0f;
    for (int k = 0; k < 97; ++k)
        largest_draw = ran[k] > largest_draw ? ran[k] : largest_draw;
    const float last = single_below(lim);
    const float moved = to_single((sreal)skip * largest_draw);
    return (dreal)to_single((sreal)last + moved) >= (dreal)size;
}
#endif

/* Nonzero when some axis of the grid has no point: its loop is never
 * entered, so the walk adds nothing (and makes no draws) however many rows
 * and planes the other axes would count. */
static int grid_is_empty(const size_t *dim1, const float *skips)
{
    for (int k = 0; k < 3; ++k)
        if (!axis_has_point(dim1[k], skips[k]))
            return 1;
    return 0;
}

void hist2(const double *mat, const unsigned char *vol1, const unsigned char *vol2,
           const size_t *dim1, const size_t *dim2, double *hist, const float *skips)
{
    /* Without this the outer loops would still count every row, which for
     * tiny skips along y and z takes days to add nothing. */
    if (grid_is_empty(dim1, skips))
        return;
#if HIST2_LANES
    const int on_face = face_reachable(dim1[0], skips[0]) || face_reachable(dim1[1], skips[1]) ||
                        face_reachable(dim1[2], skips[2]);
    if (lane_fit(dim1) && lane_fit(dim2) && !on_face) {
        if (single_offsets(dim1) && single_offsets(dim2))
            walk_lanes<true>(mat, vol1, vol2, dim1, dim2, hist, skips);
        else
            walk_lanes<false>(mat, vol1, vol2, dim1, dim2, hist, skips);
        return;
    }
#endif
    walk_plain(mat, vol1, vol2, dim1, dim2, hist, skips);
}

/* Decides one axis: does its loop, if entered, reach its limit? */
static int axis_walk_ends(size_t size, float skip)
{
    if (skip != skip)
        return 1; /* NaN: the limit is NaN and the loop never runs */
    if (skip <= 0.0f)
        return 0;
    const sreal lim = axis_limit(size, skip);
    /* Below 2^23 * skip a coordinate's spacing is smaller than the skip, so
     * every step advances; only longer axes need the walk traced. */
    if ((dreal)lim <= (dreal)skip * 8388608.0)
        return 1;
    for (float c = 1.0f; c < lim;) {
        const float next = axis_step(c, skip);
        if (!(next > c))
            return 0;
        c = next;
    }
    return 1;
}

int hist2_walk_ends(const size_t *dim1, const float *skips)
{
    int entered = 1; /* the outermost loop, along axis 2, always starts */
    for (int k = 2; k >= 0; --k) {
        if (skips[k] <= 0.0f)
            return 0; /* never a step, whether its loop runs or not */
        if (entered && !axis_walk_ends(dim1[k], skips[k]))
            return 0;
        /* The loop inside this one starts only if this one has a point. */
        entered = entered && axis_has_point(dim1[k], skips[k]);
    }
    return 1;
}

/* Grid coordinates along one axis by the walk's own loop, counted up to
 * cap + 1 (also returned when the coordinate stops moving).
 *
 * Inside one binade every coordinate is a whole number of that binade's
 * spacing, so each rounded step is the same once one step has been taken
 * inside it: the step depends only on the skip, and, when the skip ends
 * exactly half-way between two spacings, on whether the coordinate is an
 * even multiple of the spacing, which such a step leaves it. So the count
 * strides along each binade and steps one by one only near its top and the
 * limit: a few dozen steps for any axis. */
static uint64_t axis_points(size_t size, float skip, uint64_t cap)
{
    const sreal lim = axis_limit(size, skip);
    if (!((sreal)1 < lim))
        return 0;
    const uint32_t last = single_bits(single_below(lim)); /* the largest coordinate that passes */
    uint64_t n = 0;
    int settled = 0; /* c was reached by a step inside its binade */
    float c = 1.0f;
    while (c < lim) {
        if (++n > cap)
            return n;
        const float next = axis_step(c, skip);
        if (!(next > c))
            return cap + 1;
        const uint32_t b = single_bits(c);
        const uint32_t top = (b | 0x7fffffu) + 1; /* the next binade's first single */
        const int inside = single_bits(next) < top;
        if (settled && inside) {
            /* Coordinates c + k step for k = 1 .. m all lie below the limit,
             * and each step to them starts at least three steps below the
             * binade's top, so its sum cannot round into the next binade. */
            const uint32_t step = single_bits(next) - b;
            uint32_t m = (top - b) / step;
            m = m > 3 ? m - 3 : 0;
            if (last < top) {
                const uint32_t to_last = last >= b ? (last - b) / step : 0;
                m = to_last < m ? to_last : m;
            }
            if (m >= 2) {
                n += m - 1;
                c = from_single_bits(b + m * step);
                continue;
            }
        }
        settled = inside;
        c = next;
    }
    return n;
}

unsigned long long hist2_grid_points(const size_t *dim1, const float *skips)
{
    const uint64_t over = (uint64_t)HIST2_MAX_POINTS + 1;
    uint64_t counts[3];
    for (int k = 0; k < 3; ++k) {
        counts[k] = axis_points(dim1[k], skips[k], HIST2_MAX_POINTS);
        if (counts[k] == 0)
            return 0; /* an axis without a point: the walk adds nothing */
    }
    uint64_t total = 1;
    for (int k = 0; k < 3; ++k) {
        if (counts[k] > HIST2_MAX_POINTS / total)
            return over;
        total *= counts[k];
    }
    return total;
}
