/* The grid walk: how many points each axis gets, in which order they come,
 * and which entries of the jitter table each one draws. */
#include "test_util.h"

#include <math.h>

namespace {

/* Grid points along axis `axis` of a volume of size d there, 3 elsewhere,
 * counted as the weight that reaches hist[0] from an all-zero volume 2 of
 * the same sizes under the identity. */
double points_on_axis(int axis, size_t d, float skip)
{
    size_t dim[3] = {3, 3, 3};
    float skips[3] = {1, 1, 1};
    dim[axis] = d;
    skips[axis] = skip;
    const Volume v = filled(dim[0], dim[1], dim[2], 0);
    double mat[16];
    identity(mat);
    return run(mat, v, v, skips)[0];
}

TEST(Walk, PointsPerAxis)
{
    const struct {
        size_t size;
        float skip;
        double count;
    } table[] = {
        {1, 1, 0}, {2, 1, 0}, {3, 1, 1}, {4, 1, 2}, {10, 1, 8}, {10, 2, 4}, {10, 3, 2},
        {10, 8, 1}, {10, 9, 0}, {10, 12, 0}, {10, 0.5f, 17}, {2, 0.5f, 1}, {0, 1, 0},
    };
    for (int axis = 0; axis < 3; axis++)
        for (const auto &t : table)
            EXPECT_EQ(points_on_axis(axis, t.size, t.skip), t.count)
                << "axis " << axis << ", size " << t.size << ", skip " << t.skip;
}

/* 14 - 2.6 rounds to 11.3999996 in single, the fifth running coordinate; the
 * x87 limit is the exact 11.4000001, above it. The skip is a float object:
 * where compilers keep float constants at long double precision in x87
 * expressions (GCC 13 and later in ISO C++ modes), a literal 2.6f would
 * not be the single 2.6. */
TEST(Walk, FractionalSkipAtTheLimit)
{
    const float skip = 2.6f;
    float c = 1.0f;
    for (int k = 0; k < 4; k++)
        c = to_float(c + skip);
    ASSERT_EQ(bits(c), bits(to_float(to_float(14) - skip)));
    for (int axis = 0; axis < 3; axis++)
        EXPECT_EQ(points_on_axis(axis, 14, skip), TEST_X87 ? 5.0 : 4.0) << "axis " << axis;
}

/* Volume 2 too thin or empty: every point is rejected. */
TEST(Walk, NothingInsideThinVolumes)
{
    double mat[16];
    identity(mat);
    const Volume v1 = filled(10, 10, 10, 5);
    for (int axis = 0; axis < 3; axis++)
        for (size_t d : {0, 1}) {
            size_t dim[3] = {10, 10, 10};
            dim[axis] = d;
            const Hist h = run(mat, v1, filled(dim[0], dim[1], dim[2], 5));
            EXPECT_TRUE(same_bits(h, Hist(65536, 0.0))) << "axis " << axis << ", size " << d;
        }
}

/* Grid point (gx, gy, gz) of a walk with skips 1 is the only one that the
 * translation by 1 - g sends into a 2x2x2 volume 2, since every jitter lies
 * strictly between 0 and 1; volume 2's sample there shows the jitter. */
float sample_at_point(const Volume &v1, int gx, int gy, int gz)
{
    const Volume v2 = listed(2, 2, 2, {3, 50, 7, 90, 20, 160, 200, 255});
    double mat[16];
    identity(mat);
    mat[12] = 1 - gx;
    mat[13] = 1 - gy;
    mat[14] = 1 - gz;
    const OnePoint p = read_one_point(run(mat, v1, v2));
    EXPECT_TRUE(p.ok) << "point (" << gx << ", " << gy << ", " << gz << ") not alone";
    return p.w;
}

/* The same sample for a point that drew the entries qx, qy and qz. */
float sample_for_entries(int gx, int gy, int gz, int qx, int qy, int qz)
{
    const Volume v2 = listed(2, 2, 2, {3, 50, 7, 90, 20, 160, 200, 255});
    const float jx = to_float((float)gx + ref_ran[qx]);
    const float jy = to_float((float)gy + ref_ran[qy]);
    const float jz = to_float((float)gz + ref_ran[qz]);
    return probe(v2, jx - (float)(gx - 1), jy - (float)(gy - 1), jz - (float)(gz - 1));
}

/* The same sample for a point that drew the entries of grid point n. */
float sample_for_draws(int gx, int gy, int gz, int n)
{
    return sample_for_entries(gx, gy, gz, (3 * n + 95) % 97, (3 * n + 96) % 97, (3 * n + 97) % 97);
}

void expect_draws(const Volume &v1, int gx, int gy, int gz, int n)
{
    const float want = sample_for_draws(gx, gy, gz, n);
    /* The draws of the neighbouring ordinals must be told apart. */
    ASSERT_NE(bits(want), bits(sample_for_draws(gx, gy, gz, n - 1)));
    ASSERT_NE(bits(want), bits(sample_for_draws(gx, gy, gz, n + 1)));
    EXPECT_EQ(bits(sample_at_point(v1, gx, gy, gz)), bits(want))
        << "grid point (" << gx << ", " << gy << ", " << gz << ") should be point " << n;
}

TEST(Walk, OrderAndDraws)
{
    /* 5x4x4: twelve points, x fastest, then y, then z. */
    const Volume small = filled(5, 4, 4, 0);
    int n = 0;
    for (int gz = 1; gz <= 2; gz++)
        for (int gy = 1; gy <= 2; gy++)
            for (int gx = 1; gx <= 3; gx++)
                expect_draws(small, gx, gy, gz, ++n);

    /* 12x12x3: a hundred points in one slice, rows of ten. Point 33 draws
     * entries 0, 1, 2; point 98 draws entries 1, 2, 3 again, as point 1. */
    const Volume wide = filled(12, 12, 3, 0);
    expect_draws(wide, 3, 4, 1, 33);
    expect_draws(wide, 8, 10, 1, 98);
    EXPECT_EQ(bits(sample_at_point(wide, 3, 4, 1)), bits(sample_for_entries(3, 4, 1, 0, 1, 2)));
    EXPECT_EQ(bits(sample_at_point(wide, 8, 10, 1)), bits(sample_for_entries(8, 10, 1, 1, 2, 3)));
}

/* Skips that leave one axis without a grid point: nothing is added, and the
 * call returns at once even where the other axes' tiny steps would count
 * about 10^14 rows (days of looping over empty rows). */
TEST(Walk, EmptyAxisAddsNothingAtOnce)
{
    const Volume v = filled(12, 12, 12, 7);
    double mat[16];
    identity(mat);
    const float inf = INFINITY, nan = NAN, tiny = 1e-6f;
    const float table[][3] = {
        {inf, tiny, tiny}, {nan, tiny, tiny}, {11, tiny, tiny}, {tiny, inf, tiny}, {tiny, tiny, 11},
    };
    for (const auto &skips : table) {
        ASSERT_TRUE(hist2_walk_ends(v.dim, skips));
        EXPECT_TRUE(same_bits(run(mat, v, v, skips), Hist(65536, 0.0)))
            << "skips " << skips[0] << " " << skips[1] << " " << skips[2];
    }
}

TEST(Walk, EndsForUsableSkips)
{
    const size_t d[3] = {10, 10, 10};
    const size_t huge[3] = {10, (size_t)1 << 25, 10};
    const float inf = INFINITY, nan = NAN;
    const struct {
        const size_t *dim;
        float skips[3];
        int ends;
    } table[] = {
        {d, {1, 1, 1}, 1},       {d, {0.5f, 2.6f, 9}, 1},   {d, {1, 0, 1}, 0},
        {d, {1, 1, -1}, 0},      {d, {1e-9f, 1, 1}, 0},     {d, {nan, 1, 1}, 1},
        {d, {1, inf, 1}, 1},     {huge, {1, 1, 1}, 0},      {huge, {1, 4, 1}, 1},
    };
    for (const auto &t : table)
        EXPECT_EQ(hist2_walk_ends(t.dim, t.skips), t.ends)
            << "sizes " << t.dim[1] << ", skips " << t.skips[0] << " " << t.skips[1] << " " << t.skips[2];
}

} // namespace
