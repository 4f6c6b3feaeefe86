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
 * The source itself forbids contracting a product and a sum into one
 * fused multiply-add, so that a rebuild with other flags (mex, mkoctfile)
 * gives the same results.
 *
 * Two walks compute this. The plain walk below takes one grid point at a
 * time and spells out every step; the x87 build uses it, and so do volumes
 * too large for 32-bit voxel offsets and the rare calls whose jitter can
 * land on volume 1's far face. The four-lane walk (lanes.h, over the
 * lane operations of lanes_sse2.h or lanes_neon.h) is the one the 64-bit
 * builds run: the same steps on four grid points at once, bit for bit the
 * same result, several times faster. Defining HIST2_PLAIN_WALK builds the plain walk
 * alone.
 */
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#elif defined(_MSC_VER)
#pragma fp_contract(off)
#endif

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

/* The four-lane walk where the instruction set has its lane operations:
 * SSE2 on x86-64 (MSVC defines no __SSE2__ but always has it there), NEON
 * on arm64. */
#if defined(HIST2_PLAIN_WALK) || HIST2_X87
#define HIST2_LANES 0
#elif defined(__SSE2__) || defined(_M_X64)
#define HIST2_LANES 1
#include "lanes_sse2.h"
#elif defined(__aarch64__) || defined(_M_ARM64)
#define HIST2_LANES 1
#include "lanes_neon.h"
#else
#define HIST2_LANES 0
#if defined(__x86_64__) || defined(_M_X64)
#ifdef _MSC_VER
#pragma message("hist2: no lane operations for this target; the plain walk, several times slower, is built")
#else
#warning "hist2: no lane operations for this target; the plain walk, several times slower, is built"
#endif
#endif
#endif

/* The length of the jitter table. */
enum { jitter_draws = 97 };

/* Jitter fractions, drawn in order three per grid point. */
static const float ran[jitter_draws] = {
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
 * can jitter a grid point of volume 1 onto it, and so can the 64-bit rules on
 * axes of more than 2^18 voxels (those calls come here, see face_reachable).
 * The cell below with fraction
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
 * The x87 build, volumes too long for the four-lane walk and calls whose
 * jitter can reach volume 1's far face take it. */
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
                const int q1 = (ran_index + 1) % jitter_draws;
                const int q2 = (q1 + 1) % jitter_draws;
                const int q3 = (q2 + 1) % jitter_draws;
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
#include "lanes.h"
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
    /* A call whose jitter can reach volume 1's far face takes the plain
     * sampler, which reads nothing beyond it. */
    const int on_face = face_reachable(dim1[0], skips[0]) || face_reachable(dim1[1], skips[1]) ||
                        face_reachable(dim1[2], skips[2]);
    if (!on_face && walk_lanes_if_fit(mat, vol1, vol2, dim1, dim2, hist, skips))
        return;
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
