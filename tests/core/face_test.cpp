/*
 * The far faces of volume 1. A jittered grid coordinate of volume 1 stays
 * below its axis size in exact arithmetic; the 64-bit rules keep it below
 * after rounding too, while the x87 build, whose loop limit is the exact
 * size - skip, can round it up onto the size itself. Sampling there must
 * read nothing past the volume's data.
 */
#include <math.h>
#include <stdio.h>

#include "../cases/face_cases.h"
#include "test_util.h"

namespace {

/* Where the last grid point of an axis lands: along axis `axis` of a grid
 * whose other two axes have one point each, grid point k draws
 * ref_ran[(3k + 1 + axis) % 97]. Returns the largest jittered coordinate of
 * the last two grid points (the only ones that can reach the size). */
float last_jitter(size_t size, float skip, int axis)
{
    const std::vector<float> g = ref_axis(size, skip);
    float most = 0.0f;
    for (size_t k = g.size() >= 2 ? g.size() - 2 : 0; k < g.size(); k++) {
        const float j = ref_jitter(g[k], skip, ref_ran[(3 * k + 1 + axis) % 97]);
        most = j > most ? j : most;
    }
    return most;
}

#if !TEST_X87
/* The largest draw: with it the jitter moves a coordinate furthest. */
float largest_draw()
{
    float r = 0.0f;
    for (int k = 0; k < 97; k++)
        r = ref_ran[k] > r ? ref_ran[k] : r;
    return r;
}

/* 64-bit rules: the largest single below the limit size - skip (rounded to
 * single), moved by the largest jitter product, stays below the size. */
bool stays_below(size_t size, float skip, float r)
{
    const float limit = (float)size - skip;
    const float last = nextafterf(limit, 0.0f);
    if (!(last >= 1.0f))
        return true; /* no grid point */
    const float moved = skip * r;
    const float j = last + moved;
    return (double)j < (double)size;
}

/* Skips over many binades: every 2^shift-th mantissa, and the skips just
 * above half the spacing of singles at each size (the smallest that still
 * move a coordinate there). Returns the number of (size, skip) pairs tried
 * and counts the ones that reach the size. */
long sweep(const std::vector<size_t> &sizes, int shift, long *reached)
{
    const float r = largest_draw();
    long tried = 0;
    for (size_t size : sizes) {
        for (int e = -40; e <= 12; e++) {
            for (uint32_t m = 0; m < (1u << 23); m += 1u << shift) {
                const float skip = ldexpf(1.0f + (float)m / 8388608.0f, e);
                tried++;
                *reached += !stays_below(size, skip, r);
            }
        }
        const float half_spacing = (nextafterf((float)size, INFINITY) - (float)size) / 2;
        for (int k = 1; k <= 64; k++) {
            float skip = half_spacing;
            for (int n = 0; n < k; n++)
                skip = nextafterf(skip, INFINITY);
            tried++;
            *reached += !stays_below(size, skip, r);
        }
    }
    return tried;
}

/* Every size up to small_max, and a spread of larger ones up to `largest`:
 * each side of the powers of two, and a geometric run. */
std::vector<size_t> sizes_to(size_t small_max, size_t largest)
{
    std::vector<size_t> sizes;
    for (size_t d = 2; d <= small_max; d++)
        sizes.push_back(d);
    for (int e = 12; ((size_t)1 << e) <= largest; e++)
        for (long off = -3; off <= 3; off++)
            if ((size_t)((1LL << e) + off) <= largest)
                sizes.push_back((size_t)((1LL << e) + off));
    for (size_t d = small_max + 1; d <= largest; d = d * 7 / 3 + 1)
        sizes.push_back(d);
    return sizes;
}

/* Up to 2^18 voxels an axis, no skip brings a jittered coordinate onto the
 * size: the four-lane walk serves every such call. Beyond, some skips do
 * (the walk then takes the plain sampler): one of them is checked by
 * FaceCases. */
TEST(FaceBound, SixtyFourBitJitterStaysBelowTheSizeUpTo2To18)
{
    long reached = 0;
    const long tried = sweep(sizes_to(3000, (size_t)1 << 18), 15, &reached);
    EXPECT_GT(tried, 10000000L);
    EXPECT_EQ(reached, 0L);

    long beyond = 0;
    sweep(std::vector<size_t>{((size_t)1 << 18) + 1, ((size_t)1 << 20) + 1}, 15, &beyond);
    EXPECT_GT(beyond, 0L);
}

/* The long sweep: every size up to 2^18. Run with
 * core_tests --gtest_also_run_disabled_tests --gtest_filter='FaceBound.*' */
TEST(FaceBound, DISABLED_EverySizeUpTo2To18)
{
    long reached = 0;
    const long tried = sweep(sizes_to((size_t)1 << 18, (size_t)1 << 18), 15, &reached);
    printf("%ld size and skip pairs\n", tried);
    EXPECT_EQ(reached, 0L);
}
#endif

/* Prints (axis, size, skip) triples whose last grid point lands on the size
 * under the running build's rules, with the number of grid points along the
 * axis: the search behind face_cases.h, which takes the cases with the
 * fewest points. A skip of m/8 spacings of singles at the size can only
 * get there with a draw above 1 - 4/m, so only skips whose last points
 * draw such a value are walked. Run with --gtest_also_run_disabled_tests
 * --gtest_filter='FaceSearch.*' (about two minutes). */
TEST(FaceSearch, DISABLED_ReachingTheSize)
{
    for (int axis = 0; axis < 3; axis++)
        for (size_t size = 3; size <= 100; size++) {
            const float spacing = nextafterf((float)size, 0.0f) - nextafterf(nextafterf((float)size, 0.0f), 0.0f);
            for (int m = 41; m <= 600; m++) {
                const float skip = spacing * (float)m / 8.0f;
                const long last = (long)(((double)size - 1) / skip);
                bool large_draw = false;
                for (long k = last - 4; k <= last + 2; k++)
                    large_draw = large_draw || (k >= 0 && ref_ran[(3 * k + 1 + axis) % 97] > 1.0 - 4.5 / m);
                if (large_draw && last_jitter(size, skip, axis) >= (float)size)
                    printf("{%d, %zu, %.9gf}, /* %zu points */\n", axis, size, skip, ref_axis(size, skip).size());
            }
        }
}

/* Runs hist2 on each case with volume 1's data ending against a no-access
 * page, and compares with the reference, which reads a copy with a plane to
 * spare. Every case must reach the face under the rules it names, and only
 * under those: otherwise the table no longer tests what it says. */
TEST(FaceCases, SampleTheFaceWithoutReadingPastIt)
{
    double mat[16];
    identity(mat);
    int reached = 0;
    for (int n = 0; n < face_case_count; n++) {
        const face_case &c = face_cases[n];
        size_t dim1[3], dim2[3];
        float skips[3];
        face_case_shape(c, dim1, dim2, skips);
        const bool reaches = last_jitter(c.size, c.skip, c.axis) >= (float)c.size;
        EXPECT_EQ(reaches, TEST_X87 ? c.on_x87 != 0 : c.on_sse != 0) << "case " << n;
        reached += reaches;

        const size_t count = dim1[0] * dim1[1] * dim1[2];
        const Volume pattern = index_volume(dim1[0], dim1[1], dim1[2]);
        guarded_block guarded = guarded_alloc(count);
        memcpy(guarded.data, pattern.voxels.data(), count);
        std::vector<unsigned char> padded(pattern.voxels);
        padded.resize(count + dim1[0] * dim1[1] + dim1[0] + 1, 0);
        const Volume v2 = index_volume(dim2[0], dim2[1], dim2[2]);

        Hist got(65536, 0.0), want(65536, 0.0);
        hist2(mat, guarded.data, v2.voxels.data(), dim1, dim2, got.data(), skips);
        ref_hist2(mat, padded.data(), v2.voxels.data(), dim1, dim2, want.data(), skips);
        EXPECT_TRUE(same_bits(got, want)) << "case " << n;
        guarded_free(guarded);
    }
    EXPECT_GT(reached, 0);
}

} // namespace
