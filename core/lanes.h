/*
 * The four-lane walk: the steps of walk_plain on four consecutive grid
 * points of a row at once, with the same results bit for bit. Each lane's
 * single products and sums round exactly as the scalar ones, the mapping
 * runs in double two lanes at a time with the same grouping, and every
 * floor is a truncation, since all floored values are at least 0. Points are
 * added to the histogram one by one in walk order, so every cell sees the
 * same sums in the same order.
 *
 * Written over the lane operations of an instruction-set header
 * (lanes_sse2.h on x86-64, lanes_neon.h on arm64), and included by
 * hist2.cpp after it, where ran, jitter_draws, axis_limit and axis_step
 * are defined.
 */
#ifndef VORN_HIST2_LANES_H
#define VORN_HIST2_LANES_H

#include <stddef.h>
#include <stdint.h>

/* The sampler and the row walk are inlined where they are used, whatever
 * the compiler's own weighing: its choices moved with small changes of
 * the source and cost up to a tenth of the walk's instructions. */
#if defined(_MSC_VER) && !defined(__clang__)
#define walk_inline static __forceinline
#else
#define walk_inline static inline __attribute__((always_inline))
#endif

/* Blocks of four grid points located together before they are sampled. */
enum { stretch_blocks = 16 };

/* a (1 - d) + b d, each product and the sum rounded to single. */
static inline f32x4 blend(f32x4 a, f32x4 ea, f32x4 b, f32x4 da)
{
    return f4_add(f4_mul(a, ea), f4_mul(b, da));
}

/* Blend along x in row r of the four cells. */
static inline f32x4 row_blend(const cell_rows &rows, int r, f32x4 ex, f32x4 dx)
{
    f32x4 first, second;
    row_voxels(rows, r, &first, &second);
    return blend(first, ex, second, dx);
}

/* A volume as the four-lane sampler reads it. Voxel offsets are formed in
 * 32-bit lanes, so a volume holds fewer than 2^32 voxels here. */
struct lane_volume {
    const unsigned char *vox;
    size_t d0, plane;
    i32x4 d0s, planes, origin; /* broadcast: d0, d0 d1, 1 + d0 + d0 d1 */
    f32x4 d0f, planef;         /* d0 and d0 d1 as singles */
};

static lane_volume lane_view(const unsigned char *vol, const size_t *dim)
{
    const size_t plane = dim[0] * dim[1];
    const lane_volume v = {vol, dim[0], plane, i4_set1((int32_t)dim[0]), i4_set1((int32_t)plane),
                           i4_set1((int32_t)(1 + dim[0] + plane)), f4_set1((float)dim[0]),
                           f4_set1((float)plane)};
    return v;
}

/* Whether ix + d0 iy + d0 d1 iz is exact in single for every cell of the
 * volume: each product and partial sum is then an integer below 2^24. */
static int single_offsets(const size_t *dim)
{
    const uint64_t plane = (uint64_t)dim[0] * dim[1];
    return dim[0] + plane + plane * dim[2] < ((uint64_t)1 << 24);
}

/* Four cells of a volume, located: the offset of each cell's first voxel
 * (ix, iy, iz) and the fractions of the point within it. */
struct cells4 {
    uint32_t base[4];
    f32x4 dx, dy, dz;
};

/* Steps 1 and 2 of samp at four points. With small set (both volumes
 * pass single_offsets) the offsets are formed in single, which is exact
 * there and, where the header sets offsets_in_single, takes fewer
 * instructions than the 32-bit products. */
template <bool small>
static inline void locate4(const lane_volume &v, f32x4 x, f32x4 y, f32x4 z, i32x4 ix, i32x4 iy, i32x4 iz,
                           cells4 *c)
{
    const f32x4 fx = f4_from_i4(ix);
    const f32x4 fy = f4_from_i4(iy);
    const f32x4 fz = f4_from_i4(iz);
    c->dx = f4_sub(x, fx);
    c->dy = f4_sub(y, fy);
    c->dz = f4_sub(z, fz);
    /* (ix - 1) + d0 ((iy - 1) + d1 (iz - 1)), regrouped exactly. */
    i32x4 at;
    if (small)
        at = f4_trunc_in_range(f4_add(f4_add(fx, f4_mul(fy, v.d0f)), f4_mul(fz, v.planef)));
    else
        at = i4_add(ix, i4_mul_add(iy, v.d0s, iz, v.planes));
    i4_store(c->base, i4_sub(at, v.origin));
}

/* The same, with the integer parts still to take: the points lie inside
 * the volume, so their coordinates are within the 32-bit range. */
template <bool small> static inline void locate4(const lane_volume &v, f32x4 x, f32x4 y, f32x4 z, cells4 *c)
{
    locate4<small>(v, x, y, z, f4_trunc_in_range(x), f4_trunc_in_range(y), f4_trunc_in_range(z), c);
}

/* 1 <= t < e from t's integer part it, for the range made by axis_range:
 * for t >= 1, t < e (a whole number) exactly when it is below e. NaN and
 * out-of-range t truncate to a value outside every such range. */
static inline mask4 inside(i32x4 it, i32x4 range)
{
    return i4_in_range(it, range);
}

/* The integer parts that pass inside along an axis of this size, rounded
 * to single as the bounds test takes it: 1 to e - 1, none when e is 0.
 * The top is held at 2^31 - 2 (e is at most 2^31 for an axis that fits
 * the lanes): no single below 2^31 has an integer part above 2^31 - 128,
 * so no decision changes, and every value that f4_trunc gives for NaN or
 * an out-of-range coordinate stays outside. */
static inline i32x4 axis_range(size_t size)
{
    const uint32_t e = (uint32_t)(float)size;
    const uint32_t top = e ? e - 1 : 0;
    return i4_range(top < 0x7ffffffeu ? top : 0x7ffffffeu);
}

/* The rest of samp at four located points: read the voxels and blend.
 * rows is the header's place for the voxels it reads, cleared once for a
 * run of calls. */
walk_inline f32x4 blend_cells(const lane_volume &v, const cells4 &c, cell_rows *rows)
{
    const f32x4 one = f4_set1(1.0f);
    const f32x4 ex = f4_sub(one, c.dx);
    const f32x4 ey = f4_sub(one, c.dy);
    const f32x4 ez = f4_sub(one, c.dz);
    const unsigned char *cell[4] = {v.vox + c.base[0], v.vox + c.base[1], v.vox + c.base[2], v.vox + c.base[3]};
    read_rows(rows, cell, v.d0, v.plane);
    const f32x4 r00 = row_blend(*rows, 0, ex, c.dx);
    const f32x4 r10 = row_blend(*rows, 1, ex, c.dx);
    const f32x4 r01 = row_blend(*rows, 2, ex, c.dx);
    const f32x4 r11 = row_blend(*rows, 3, ex, c.dx);
    const f32x4 s0 = blend(r00, ey, r10, c.dy);
    const f32x4 s1 = blend(r01, ey, r11, c.dy);
    return blend(s0, ez, s1, c.dz);
}

/* The jitter offsets skip * draw of four grid points whose draws start
 * after ran[k], for every k: per point the x, y and z draws come in turn,
 * taken cyclically. Each product is rounded to single as in the plain walk;
 * tabling them saves the gather and the products at every block. */
struct jitter_table {
    f32x4 x[jitter_draws], y[jitter_draws], z[jitter_draws];
};

/* ran[q], for q below twice the table's length. */
static inline float ran_cyclic(int q)
{
    return ran[q < jitter_draws ? q : q - jitter_draws];
}

static void fill_jitter(const float *skips, jitter_table *t)
{
    for (int k = 0; k < jitter_draws; ++k) {
        float x[4], y[4], z[4];
        for (int n = 0; n < 4; ++n) {
            const int q = k + 1 + 3 * n;
            x[n] = skips[0] * ran_cyclic(q);
            y[n] = skips[1] * ran_cyclic(q + 1);
            z[n] = skips[2] * ran_cyclic(q + 2);
        }
        t->x[k] = f4_load(x);
        t->y[k] = f4_load(y);
        t->z[k] = f4_load(z);
    }
}

/* One row of the matrix, m[0], m[4], m[8] and m[12], applied to four points
 * in double, ((x m0 + y m4) + z m8) + m12, and rounded to single. The
 * products z m8 come ready from the plane's table. */
struct mat_row {
    f64x2 m0, m4, m12;
};

static inline mat_row load_row(const double *m)
{
    const mat_row r = {d2_set1(m[0]), d2_set1(m[4]), d2_set1(m[12])};
    return r;
}

static inline f64x2 map2(const mat_row &r, f64x2 x, f64x2 y, f64x2 zm8)
{
    return d2_add(d2_add(d2_add(d2_mul(x, r.m0), d2_mul(y, r.m4)), zm8), r.m12);
}

static inline f32x4 map4(const mat_row &r, const f64x2 *x, const f64x2 *y, const f64x2 *zm8)
{
    return f4_from_d2(map2(r, x[0], y[0], zm8[0]), map2(r, x[1], y[1], zm8[1]));
}

static inline void widen(f32x4 v, f64x2 *d)
{
    d[0] = d2_from_lo(v);
    d[1] = d2_from_hi(v);
}

/* Where keep is set, v; elsewhere 1, a coordinate inside any volume that has
 * a grid point or an accepted point. */
static inline f32x4 keep_or_one(mask4 keep, f32x4 v)
{
    return f4_select(keep, v, f4_set1(1.0f));
}

/* h[0] + v's lane 0 and h[1] + v's lane 1. */
static inline void add_pair(double *h, f64x2 v)
{
    d2_store(h, d2_add(d2_load(h), v));
}

/* Adds the points whose bit is set in mask, in lane order. Each point adds
 * the pair (share, frac) to its cell h[0] and the next row's h[1] at once,
 * which rounds each sum exactly as two separate additions. */
static inline void add4(double *hist, f32x4 w, f32x4 u, int mask)
{
    /* Samples lie between 0 and 255: a coordinate's fraction is a multiple
     * of 2^-23, so each blend's weights 1 - d and d add up to 1 exactly,
     * and no blend of values up to 255 exceeds 255. A sample of 255 is
     * taken in row 254 with frac 1 and share -0: its whole unit goes to
     * row 255 as before, and adding -0 leaves row 254 as it was (every
     * value, +0 and -0 included), so every point has a next row in its
     * column and no point needs a test. Below frac 1, -0 - (frac - 1) is
     * 1 - frac exactly. */
    const i32x4 i = f4_trunc_in_range(f4_min(w, f4_set1(254.5f)));
    const f32x4 frac = f4_sub(w, f4_from_i4(i));
    const f32x4 share = f4_sub(f4_set1(-0.0f), f4_sub(frac, f4_set1(1.0f)));
    /* floor(u + 0.5) in double: u's integer part, plus 1 where its
     * fraction is at least one half. (u + 0.5 in single would round
     * 0.5 - 2^-25 up to 1.) */
    const i32x4 k = f4_trunc_in_range(u);
    const mask4 up = f4_ge(f4_sub(u, f4_from_i4(k)), f4_set1(0.5f));
    const i32x4 j = i4_inc(k, up);
    f64x2 add[4];
    widen_pairs(share, frac, add);
    const i32x4 bin = i4_add(i, i4_shl<8>(j));

    if (mask == 15 && i4_all_equal(bin)) {
        /* One cell for all four, as in a uniform region: the same sums in
         * the same order, kept in a register instead of waiting for each
         * store to come back from memory. */
        double *h = hist + i4_lane<0>(bin);
        d2_store(h, d2_add(d2_add(d2_add(d2_add(d2_load(h), add[0]), add[1]), add[2]), add[3]));
        return;
    }
    if (mask == 15) { /* all four, as nearly every block */
        add_pair(hist + i4_lane<0>(bin), add[0]);
        add_pair(hist + i4_lane<1>(bin), add[1]);
        add_pair(hist + i4_lane<2>(bin), add[2]);
        add_pair(hist + i4_lane<3>(bin), add[3]);
        return;
    }
    if (mask & 1)
        add_pair(hist + i4_lane<0>(bin), add[0]);
    if (mask & 2)
        add_pair(hist + i4_lane<1>(bin), add[1]);
    if (mask & 4)
        add_pair(hist + i4_lane<2>(bin), add[2]);
    if (mask & 8)
        add_pair(hist + i4_lane<3>(bin), add[3]);
}

/* Up to stretch_blocks blocks of four grid points of one row, located in
 * both volumes: locating a stretch of the row first and reading the voxels
 * afterwards gives the processor independent blocks to overlap, and time to
 * fetch the voxels. */
struct stretch {
    int blocks;
    int mask[stretch_blocks];
    cells4 in1[stretch_blocks], in2[stretch_blocks];
};

/* Samples both volumes at the points of a stretch and adds them. */
static void sample_stretch(const stretch &st, const lane_volume &v1, const lane_volume &v2, double *hist)
{
    /* All voxels first, then the additions: the blocks' reads overlap
     * instead of each waiting behind the previous block's additions. */
    f32x4 w[stretch_blocks], u[stretch_blocks];
    cell_rows rows;
    clear_rows(&rows);
    for (int n = 0; n < st.blocks; ++n) {
        w[n] = blend_cells(v2, st.in2[n], &rows);
        u[n] = blend_cells(v1, st.in1[n], &rows);
    }
    for (int n = 0; n < st.blocks; ++n)
        add4(hist, w[n], u[n], st.mask[n]);
}

/* What stays fixed along a plane of the grid, for each start k of the
 * draws: the jittered z of four points and its products with the matrix's
 * z column, rows 0 to 2, two points to a vector. A wide plane has thousands
 * of blocks and only jitter_draws starts, so each entry is made once, when a
 * block of the plane first needs it; a plane with few or no blocks makes few
 * or none. */
struct plane_table {
    f32x4 gz;     /* the plane's z, broadcast */
    f64x2 m8[3];  /* m[8], m[9], m[10], broadcast */
    int plane;    /* which plane the walk is on */
    int made[jitter_draws]; /* which plane each entry was made for */
    f32x4 z[jitter_draws];
    f64x2 zm[jitter_draws][3][2];
};

static void make_entry(const f32x4 *jitter_z, int k, plane_table *t)
{
    const f32x4 z = f4_add(t->gz, jitter_z[k]);
    const f64x2 lo = d2_from_lo(z);
    const f64x2 hi = d2_from_hi(z);
    t->z[k] = z;
    for (int r = 0; r < 3; ++r) {
        t->zm[k][r][0] = d2_mul(lo, t->m8[r]);
        t->zm[k][r][1] = d2_mul(hi, t->m8[r]);
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
    f32x4 g[row_blocks_max];
    mask4 live[row_blocks_max]; /* which of the four are grid points */
    int draws[row_blocks_max]; /* three for each of them: 3 to 12 */
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
        r->g[n] = f4_setr(gx, g1, g2, g3);
        r->live[n] = f4_lt(r->g[n], f4_set1(limx));
        const int m = m4_bits(r->live[n]); /* 1, 3, 7 or 15 */
        r->draws[n] = 3 * (m == 15 ? 4 : 1 + (m >> 1 & 1) + (m >> 2 & 1));
        gx = axis_step(g3, sx);
    }
    r->blocks = n;
    return gx;
}

/* What stays fixed during the four-lane walk. */
struct lane_walk {
    const jitter_table *jitter;
    plane_table *plane;
    i32x4 e0, e1, e2; /* from axis_range */
    mat_row row0, row1, row2;
    lane_volume v1, v2;
    int prefetch_cells; /* rows or planes skipped: voxels of a row rarely in cache */
};

/* Block b of the row (gy, gz): draws, jitter, mapping and bounds test; the
 * accepted points are located in both volumes and queued in st. Points
 * that are not grid points use no draws. */
template <bool small>
walk_inline void walk_block(const lane_walk &w, const row_grid &row, int b, f32x4 gy, int plane_number,
                            int *ran_index, stretch *st, int *blocks)
{
    const f32x4 g = row.g[b];
    const mask4 live = row.live[b];

    const int k = *ran_index;
    *ran_index += row.draws[b];
    if (*ran_index >= jitter_draws)
        *ran_index -= jitter_draws;
    f32x4 jx = f4_add(g, w.jitter->x[k]);
    f32x4 jy = f4_add(gy, w.jitter->y[k]);
    if (w.plane->made[k] != plane_number)
        make_entry(w.jitter->z, k, w.plane);
    f32x4 jz = w.plane->z[k];

    f64x2 x[2], y[2];
    widen(jx, x);
    widen(jy, y);
    f32x4 tz = map4(w.row2, x, y, w.plane->zm[k][2]);
    f32x4 ty = map4(w.row1, x, y, w.plane->zm[k][1]);
    f32x4 tx = map4(w.row0, x, y, w.plane->zm[k][0]);

    i32x4 itx = f4_trunc(tx);
    i32x4 ity = f4_trunc(ty);
    i32x4 itz = f4_trunc(tz);
    const mask4 keep = m4_and(m4_and(m4_and(inside(itx, w.e0), inside(ity, w.e1)), inside(itz, w.e2)), live);
    const int mask = m4_bits(keep);
    if (!mask)
        return;

    const int n = (*blocks)++;
    st->mask[n] = mask;
    if (mask != 15) {
        tx = keep_or_one(keep, tx);
        ty = keep_or_one(keep, ty);
        tz = keep_or_one(keep, tz);
        jx = keep_or_one(keep, jx);
        jy = keep_or_one(keep, jy);
        jz = keep_or_one(keep, jz);
        /* Every lane now inside volume 2. */
        itx = f4_trunc_in_range(tx);
        ity = f4_trunc_in_range(ty);
        itz = f4_trunc_in_range(tz);
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
    for (int k = 0; w.prefetch_cells && k < 4; ++k) {
        const unsigned char *p2 = w.v2.vox + c2->base[k];
        prefetch(p2);
        prefetch(p2 + w.v2.d0);
        prefetch(p2 + w.v2.plane);
        prefetch(p2 + w.v2.plane + w.v2.d0);
        if (k == 0 || k == 3) {
            const unsigned char *p1 = w.v1.vox + c1->base[k];
            prefetch(p1);
            prefetch(p1 + w.v1.d0);
            prefetch(p1 + w.v1.plane);
            prefetch(p1 + w.v1.plane + w.v1.d0);
        }
    }
}

/* The blocks of a row segment, a stretch at a time: located first, then
 * sampled and added. Inlined into the walk, where the walk's constants are
 * a local: kept in registers across the blocks instead of being read back
 * after every store to the plane table. The draw index, the plane's number
 * and the stretch's count of blocks, too, are locals during the row. */
template <bool small>
walk_inline void walk_row(const lane_walk &w, const row_grid &row, float gy, int *ran_index, double *hist)
{
    int k = *ran_index;
    const int plane_number = w.plane->plane;
    stretch st;
    for (int b0 = 0; b0 < row.blocks; b0 += stretch_blocks) {
        const int end = row.blocks - b0 < stretch_blocks ? row.blocks : b0 + stretch_blocks;
        int blocks = 0;
        for (int b = b0; b < end; ++b)
            walk_block<small>(w, row, b, f4_set1(gy), plane_number, &k, &st, &blocks);
        st.blocks = blocks;
        sample_stretch(st, w.v1, w.v2, hist);
    }
    *ran_index = k;
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
        plane.m8[r] = d2_set1(mat[8 + r]);
    /* Every entry made once for a plane 0 before the first, so that each
     * is set (and no library call fills the table). */
    plane.plane = 0;
    plane.gz = f4_set1(1.0f);
    for (int k = 0; k < jitter_draws; ++k)
        make_entry(jitter.z, k, &plane);
    const lane_walk w = {&jitter, &plane, axis_range(dim2[0]), axis_range(dim2[1]), axis_range(dim2[2]),
                         load_row(mat), load_row(mat + 1), load_row(mat + 2),
                         lane_view(vol1, dim1), lane_view(vol2, dim2),
                         !(sy < 2.0f && sz < 2.0f)};
    row_grid row;
    const int whole_row = !(make_row_segment(1.0f, sx, limx, &row) < limx);
    int ran_index = 0;

    for (float gz = 1.0f; gz < limz; gz = axis_step(gz, sz)) {
        plane.gz = f4_set1(gz);
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

/* The four-lane walk, when both volumes fit the lanes (nonzero), or
 * nothing (zero). */
static int walk_lanes_if_fit(const double *mat, const unsigned char *vol1, const unsigned char *vol2,
                             const size_t *dim1, const size_t *dim2, double *hist, const float *skips)
{
    if (!lane_fit(dim1) || !lane_fit(dim2))
        return 0;
    if (offsets_in_single && single_offsets(dim1) && single_offsets(dim2))
        walk_lanes<true>(mat, vol1, vol2, dim1, dim2, hist, skips);
    else
        walk_lanes<false>(mat, vol1, vol2, dim1, dim2, hist, skips);
    return 1;
}

#endif
