/* The core's walks against the reference walk, bit for bit: the shipped
 * core (the four-lane walk wherever the volumes fit it) and the core built
 * with the plain walk alone, over seeded random cases (unequal sizes,
 * affine maps that send part of volume 1 outside volume 2, whole and
 * fractional skips, NaN and infinite matrix elements, histograms that
 * already hold values), and over the shapes that the four-lane walk treats
 * apart: row tails, long rows, uniform blocks and large voxel offsets. */
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <algorithm>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <vector>

#include "hist2.h"
#include "hist2_plain.h"
#include "reference.h"

namespace {

/* Small generator with the same sequence everywhere. */
struct rng {
    unsigned long long s;
    explicit rng(unsigned long long seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
    unsigned next()
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return (unsigned)(s >> 11);
    }
    size_t below(size_t n) { return next() % n; }
    double uniform(double lo, double hi) { return lo + (hi - lo) * (next() % 1000003) / 1000003.0; }
};

struct case_data {
    size_t dim1[3], dim2[3];
    std::vector<unsigned char> vol1, vol2;
    double mat[16];
    float skips[3];
    std::vector<double> start;
};

/* Noise, a smooth ramp, a constant or the extremes 0 and 255. */
std::vector<unsigned char> random_volume(rng &r, const size_t *dim)
{
    std::vector<unsigned char> v(dim[0] * dim[1] * dim[2]);
    const size_t kind = r.below(4);
    const unsigned c = r.next() & 255;
    for (size_t n = 0; n < v.size(); ++n) {
        const size_t i = n % dim[0], j = n / dim[0] % dim[1];
        v[n] = kind == 0 ? (unsigned char)r.next()
             : kind == 1 ? (unsigned char)(7 * i + 3 * j + c)
             : kind == 2 ? (unsigned char)c
                         : (unsigned char)((r.next() & 1) * 255);
    }
    return v;
}

float random_skip(rng &r)
{
    static const float common[] = {1, 1, 1, 2, 0.5f, 1.5f, 2.6f, 3, 0.75f};
    return r.below(3) ? common[r.below(9)] : (float)r.uniform(0.3, 4.0);
}

case_data random_case(unsigned seed)
{
    rng r(seed);
    case_data c;
    for (int k = 0; k < 3; ++k) {
        c.dim1[k] = (r.below(20) ? 3 : 1) + r.below(k == 0 ? 45 : 14);
        c.dim2[k] = (r.below(20) ? 3 : 1) + r.below(k == 0 ? 45 : 14);
    }
    c.vol1 = random_volume(r, c.dim1);
    c.vol2 = random_volume(r, c.dim2);

    /* Scaled rotation-like part plus a shift, often leaving volume 2. */
    for (int k = 0; k < 16; ++k)
        c.mat[k] = 0;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col)
            c.mat[row + 4 * col] = (row == col ? r.uniform(0.6, 1.5) : 0) + r.uniform(-0.3, 0.3);
        c.mat[row + 12] = r.uniform(-4, 4);
    }
    if (r.below(6) == 0) /* whole numbers: points on cell faces and on the bounds */
        for (int k = 0; k < 16; ++k)
            c.mat[k] = floor(c.mat[k] + 0.5);
    if (r.below(10) == 0)
        c.mat[r.below(12) / 3 * 4 + r.below(3)] = r.below(2) ? NAN : INFINITY;
    c.mat[3] = c.mat[7] = c.mat[11] = NAN; /* never read */
    c.mat[15] = 1;

    for (int k = 0; k < 3; ++k)
        c.skips[k] = random_skip(r);

    c.start.assign(65536, 0.0);
    if (r.below(2))
        for (int n = 0; n < 200; ++n)
            c.start[r.below(65536)] = r.uniform(0, 1e6);
    return c;
}

/* Index of the first element whose bits differ, or -1. */
long first_difference(const std::vector<double> &a, const std::vector<double> &b)
{
    for (size_t n = 0; n < a.size(); ++n)
        if (memcmp(&a[n], &b[n], sizeof(double)))
            return (long)n;
    return -1;
}

typedef void walk_fn(const double *, const unsigned char *, const unsigned char *, const size_t *,
                     const size_t *, double *, const float *);

/* walk and the reference on the case; the first element that differs, or
 * -1. The walk's histogram is left in *got. */
long run_both(const case_data &c, std::vector<double> *got, walk_fn *walk = hist2)
{
    static std::vector<double> want;
    *got = c.start;
    want = c.start;
    walk(c.mat, c.vol1.data(), c.vol2.data(), c.dim1, c.dim2, got->data(), c.skips);
    ref_hist2(c.mat, c.vol1.data(), c.vol2.data(), c.dim1, c.dim2, want.data(), c.skips);
    return first_difference(*got, want);
}

void seeded_random_cases(walk_fn *walk)
{
    int walked = 0, added = 0;
    std::vector<double> got;
    for (unsigned seed = 1; seed <= 3000; ++seed) {
        const case_data c = random_case(seed);
        if (!hist2_walk_ends(c.dim1, c.skips))
            continue;
        const long diff = run_both(c, &got, walk);
        ASSERT_EQ(diff, -1) << "seed " << seed;
        ++walked;
        added += first_difference(got, c.start) >= 0;
    }
    /* The cases must reach the sampling, not only empty walks. */
    printf("%d cases walked, %d added to the histogram\n", walked, added);
    EXPECT_GT(walked, 2900);
    EXPECT_GT(added, 1500);
}

TEST(LanesMatchReference, SeededRandomCases)
{
    seeded_random_cases(hist2);
}

/* The plain walk, which the shipped core takes for volumes beyond 32-bit
 * offsets, on the same cases. */
TEST(PlainMatchesReference, SeededRandomCases)
{
    seeded_random_cases(hist2_plain);
}

/* Long rows of every length modulo 4, with the jitter table wrapping at
 * every position, on a map that cuts each row at a different place. */
TEST(LanesMatchReference, RowTailsAndCutRows)
{
    rng r(77);
    for (size_t d0 = 3; d0 <= 40; ++d0) {
        case_data c;
        const size_t d1[3] = {d0, 5, 4}, d2[3] = {30, 6, 6};
        memcpy(c.dim1, d1, sizeof d1);
        memcpy(c.dim2, d2, sizeof d2);
        c.vol1 = random_volume(r, c.dim1);
        c.vol2 = random_volume(r, c.dim2);
        const double mat[16] = {0.9, 0.05, 0, 0, 0.1, 1, 0, 0, 0, 0.02, 1, 0, 0.5, -0.3, 0.25, 1};
        memcpy(c.mat, mat, sizeof mat);
        c.skips[0] = d0 % 3 ? 1.0f : 0.7f;
        c.skips[1] = c.skips[2] = 1.0f;
        c.start.assign(65536, 0.0);
        std::vector<double> got;
        ASSERT_EQ(run_both(c, &got), -1) << "d0 " << d0;
        EXPECT_GE(first_difference(got, c.start), 0) << "d0 " << d0;
    }
}

/* Rows longer than the walk keeps at once (1024 points), walked a segment
 * at a time: lengths either side of one and several segments, whole and
 * fractional skips, on a map that leaves part of each row outside. */
TEST(LanesMatchReference, RowsLongerThanOneSegment)
{
    rng r(13);
    const size_t lengths[] = {1025, 1026, 1027, 2050, 3001};
    const float row_skips[] = {1.0f, 0.75f, 1.5f};
    for (size_t d0 : lengths)
        for (float sx : row_skips) {
            case_data c;
            const size_t d1[3] = {d0, 4, 3}, d2[3] = {d0 - 100, 5, 4};
            memcpy(c.dim1, d1, sizeof d1);
            memcpy(c.dim2, d2, sizeof d2);
            c.vol1 = random_volume(r, c.dim1);
            c.vol2 = random_volume(r, c.dim2);
            const double mat[16] = {0.98, 0.001, 0, 0, 0.05, 1, 0, 0, 0, 0.02, 1, 0, -20.5, 0.3, 0.25, 1};
            memcpy(c.mat, mat, sizeof mat);
            c.skips[0] = sx;
            c.skips[1] = c.skips[2] = 1.0f;
            c.start.assign(65536, 0.0);
            std::vector<double> got;
            ASSERT_EQ(run_both(c, &got), -1) << "d0 " << d0 << " skip " << sx;
            EXPECT_GE(first_difference(got, c.start), 0) << "d0 " << d0 << " skip " << sx;
        }
}

/* Volume 2 just below and just above 2^24 voxel offsets in all: below, the
 * cells' offsets are formed in single, above in 32-bit integers. Points
 * land deep in the volume, at offsets of several million. */
TEST(LanesMatchReference, OffsetsEitherSideOfSingleRange)
{
    rng r(91);
    const size_t rows[2] = {2047, 2048};
    for (size_t d1 : rows) {
        case_data c;
        const size_t dim1[3] = {43, 7, 5}, dim2[3] = {2048, d1, 3};
        memcpy(c.dim1, dim1, sizeof dim1);
        memcpy(c.dim2, dim2, sizeof dim2);
        c.vol1 = random_volume(r, c.dim1);
        c.vol2.resize(dim2[0] * dim2[1] * dim2[2]);
        for (size_t n = 0; n < c.vol2.size(); ++n)
            c.vol2[n] = (unsigned char)(n * 2654435761u >> 13);
        const double mat[16] = {0.97, 0.01, 0, 0, 0.03, 1.1, 0, 0, 0, 0.02, 0.3, 0, 1500.25, 2030.5, 1.2, 1};
        memcpy(c.mat, mat, sizeof mat);
        c.skips[0] = 0.75f;
        c.skips[1] = c.skips[2] = 1.0f;
        c.start.assign(65536, 0.0);
        std::vector<double> got;
        ASSERT_EQ(run_both(c, &got), -1) << "rows " << d1;
        EXPECT_GE(first_difference(got, c.start), 0) << "rows " << d1;
    }
}

/* Volume 1 constant and volume 2 a gentle ramp along x, so that whole
 * blocks land in one cell with shares that differ, and are summed together:
 * rows from 0 to the last (255, whose second share is not added), on a
 * histogram that already holds values, and on many thin planes, each making
 * its own jittered z entries. */
TEST(LanesMatchReference, UniformBlocksAndThinPlanes)
{
    const unsigned char values[] = {0, 1, 128, 254, 255};
    const size_t dim1[3] = {37, 9, 40}, dim2[3] = {41, 12, 44};
    const double mat[16] = {1, 0.01, 0, 0, -0.02, 1, 0.01, 0, 0, 0, 1, 0, 0.3, -0.2, 0.45, 1};
    const float skips[3][3] = {{1, 1, 1}, {0.75f, 1, 0.5f}, {2, 1.5f, 1}};
    rng r(5);
    for (unsigned char a : values)
        for (unsigned char b : values)
            for (const float *sk : skips) {
                case_data c;
                memcpy(c.dim1, dim1, sizeof dim1);
                memcpy(c.dim2, dim2, sizeof dim2);
                memcpy(c.mat, mat, sizeof mat);
                memcpy(c.skips, sk, sizeof c.skips);
                c.vol1.assign(dim1[0] * dim1[1] * dim1[2], a);
                c.vol2.resize(dim2[0] * dim2[1] * dim2[2]);
                for (size_t n = 0; n < c.vol2.size(); ++n)
                    c.vol2[n] = (unsigned char)std::min<size_t>(255, b + n % dim2[0] / 16);
                c.start.assign(65536, 0.0);
                for (int n = 0; n < 300; ++n)
                    c.start[r.below(65536)] = r.uniform(0, 1e3);
                c.start[b + 256 * a] = 0.1; /* the cell the blocks add to */
                std::vector<double> got;
                ASSERT_EQ(run_both(c, &got), -1) << (int)a << " " << (int)b << " skips " << sk[0];
                EXPECT_GT(got[b + 256 * a], 1000.0);
            }
}

/* Samples of 255 exactly, in whole blocks, in blocks beside samples just
 * below and in blocks cut by volume 2's edge, on a histogram that starts at -0 in
 * every cell but a few infinite and NaN ones: a point of 255 adds its unit
 * to row 255 and must leave row 254 as it was, -0 included. */
TEST(LanesMatchReference, TopRowOnSignedZeros)
{
    const size_t dim1[3] = {29, 7, 6}, dim2[3] = {25, 8, 7};
    const double mat[16] = {1, 0.01, 0, 0, -0.02, 1, 0.01, 0, 0, 0, 1, 0, 0.3, -0.2, 0.45, 1};
    rng r(8);
    for (int kind = 0; kind < 3; ++kind) {
        case_data c;
        memcpy(c.dim1, dim1, sizeof dim1);
        memcpy(c.dim2, dim2, sizeof dim2);
        memcpy(c.mat, mat, sizeof mat);
        c.skips[0] = kind == 2 ? 0.75f : 1.0f;
        c.skips[1] = c.skips[2] = 1.0f;
        c.vol1 = random_volume(r, c.dim1);
        c.vol2.assign(dim2[0] * dim2[1] * dim2[2], 255);
        if (kind > 0) /* every seventh voxel 254: samples of 255 and just below, side by side */
            for (size_t n = 0; n < c.vol2.size(); n += 7)
                c.vol2[n] = 254;
        c.start.assign(65536, -0.0);
        for (int n = 0; n < 40; ++n)
            c.start[r.below(65536)] = n % 3 == 0 ? INFINITY : n % 3 == 1 ? -INFINITY : NAN;
        std::vector<double> got;
        ASSERT_EQ(run_both(c, &got), -1) << "kind " << kind;
        /* The case reached row 255, and row 254 kept some of its -0s. */
        int top = 0, kept = 0;
        for (int col = 0; col < 256; ++col) {
            top += got[255 + 256 * col] > 0;
            kept += got[254 + 256 * col] == 0 && signbit(got[254 + 256 * col]);
        }
        EXPECT_GT(top, 0) << "kind " << kind;
        EXPECT_GT(kept, 0) << "kind " << kind;
    }
}

/* A lazily mapped volume, zero where nothing was written: only the pages a
 * test writes or reads cost anything, so volumes of gigabytes are cheap. */
struct lazy_volume {
    size_t dim[3];
    size_t bytes;
    unsigned char *vox;
    lazy_volume(size_t d0, size_t d1, size_t d2) : dim{d0, d1, d2}, bytes(d0 * d1 * d2)
    {
        void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        vox = p == MAP_FAILED ? nullptr : static_cast<unsigned char *>(p);
    }
    ~lazy_volume()
    {
        if (vox)
            munmap(vox, bytes);
    }
    lazy_volume(const lazy_volume &) = delete;
    lazy_volume &operator=(const lazy_volume &) = delete;

    /* Noise in the planes from 1-based z0 to z1. */
    void fill_planes(size_t z0, size_t z1, rng &r)
    {
        const size_t plane = dim[0] * dim[1];
        for (size_t n = (z0 - 1) * plane; n < z1 * plane; ++n)
            vox[n] = (unsigned char)r.next();
    }
};

/* walk and the reference on volumes given as pointers and sizes; true when
 * both histograms are equal bit for bit. got receives the walk's. */
bool walks_match(walk_fn *walk, const double *mat, const unsigned char *vol1, const size_t *dim1,
                 const unsigned char *vol2, const size_t *dim2, const float *skips, std::vector<double> *got)
{
    std::vector<double> want(65536, 0.0);
    got->assign(65536, 0.0);
    walk(mat, vol1, vol2, dim1, dim2, got->data(), skips);
    ref_hist2(mat, vol1, vol2, dim1, dim2, want.data(), skips);
    return first_difference(*got, want) == -1;
}

/* The sum of the histogram and the number of its columns past column 0
 * that hold weight: many points accepted, and voxels other than zeros read. */
double total(const std::vector<double> &h, int *columns)
{
    double sum = 0;
    *columns = 0;
    for (int j = 0; j < 256; ++j) {
        double col = 0;
        for (int i = 0; i < 256; ++i)
            col += h[i + 256 * j];
        sum += col;
        *columns += j > 0 && col > 0;
    }
    return sum;
}

/* Voxel offsets from 2^31 to 2^32, which the four-lane walk holds in 32-bit
 * lanes as unsigned numbers: cells deep in volume 2, then in volume 1 (its
 * z draws spread the points over the whole volume, half of them past
 * 2^31). Past 2^32 voxels the shipped core takes the plain walk and its
 * 64-bit offsets. */
TEST(LanesMatchReference, OffsetsBeyond2To31)
{
    rng r(2031);
    std::vector<double> got;
    int columns;

    /* Volume 2 of 256 x 256 x 65000 (2^32 - 36 million voxels); the map
     * sends volume 1 to its last planes. */
    {
        lazy_volume v2(256, 256, 65000);
        ASSERT_NE(v2.vox, nullptr);
        v2.fill_planes(64985, 65000, r);
        const size_t dim1[3] = {40, 30, 8};
        std::vector<unsigned char> vol1(dim1[0] * dim1[1] * dim1[2]);
        for (unsigned char &v : vol1)
            v = (unsigned char)r.next();
        const double mat[16] = {0.9, 0.02, 0, 0, 0.05, 1, 0, 0, 0, 0.01, 1, 0, 10.5, 5.25, 64986.5, 1};
        const float skips[3] = {1, 1, 1};
        ASSERT_TRUE(walks_match(hist2, mat, vol1.data(), dim1, v2.vox, v2.dim, skips, &got));
        EXPECT_NEAR(total(got, &columns), 38.0 * 28 * 6, 1e-6);
        EXPECT_GT(columns, 100);
    }

    /* Volume 1 of 16 x 16 x 16700000 (4.27e9 voxels), one plane of grid
     * points whose z draws reach from plane 1 to the last; the planes they
     * read are filled. Volume 2 is small, the map squeezes z into it. */
    {
        lazy_volume v1(16, 16, 16700000);
        ASSERT_NE(v1.vox, nullptr);
        const float sz = 16699990.0f;
        for (int q = 0; q < 97; ++q) {
            const float jz = 1.0f + sz * ref_ran[q];
            v1.fill_planes((size_t)jz, (size_t)jz + 1, r);
        }
        const size_t dim2[3] = {20, 20, 14};
        std::vector<unsigned char> vol2(dim2[0] * dim2[1] * dim2[2]);
        for (unsigned char &v : vol2)
            v = (unsigned char)r.next();
        const double mat[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 6e-7, 0, 0.5, 0.25, 1.5, 1};
        const float skips[3] = {1, 1, sz};
        ASSERT_TRUE(walks_match(hist2, mat, v1.vox, v1.dim, vol2.data(), dim2, skips, &got));
        EXPECT_NEAR(total(got, &columns), 14.0 * 14, 1e-6);
        EXPECT_GT(columns, 50);
    }

    /* Past 2^32 voxels: 256 x 256 x 70000, cells in the last planes, in
     * the shipped core and in the plain walk. */
    {
        lazy_volume v2(256, 256, 70000);
        ASSERT_NE(v2.vox, nullptr);
        v2.fill_planes(69985, 70000, r);
        const size_t dim1[3] = {40, 30, 8};
        std::vector<unsigned char> vol1(dim1[0] * dim1[1] * dim1[2]);
        for (unsigned char &v : vol1)
            v = (unsigned char)r.next();
        const double mat[16] = {0.9, 0.02, 0, 0, 0.05, 1, 0, 0, 0, 0.01, 1, 0, 10.5, 5.25, 69986.5, 1};
        const float skips[3] = {1, 1, 1};
        ASSERT_TRUE(walks_match(hist2, mat, vol1.data(), dim1, v2.vox, v2.dim, skips, &got));
        EXPECT_NEAR(total(got, &columns), 38.0 * 28 * 6, 1e-6);
        EXPECT_GT(columns, 100);
        ASSERT_TRUE(walks_match(hist2_plain, mat, vol1.data(), dim1, v2.vox, v2.dim, skips, &got));
    }
}

} // namespace
