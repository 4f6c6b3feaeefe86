/* The grid's size as the gateway's cap counts it: hist2_grid_points against
 * the reference's list of coordinates, and both sides of the cap. */
#include <math.h>
#include <stdlib.h>

#include "test_util.h"

namespace {

unsigned long long listed_points(const size_t *dim, const float *skips)
{
    unsigned long long n = 1;
    for (int k = 0; k < 3; k++)
        n *= ref_axis(dim[k], skips[k]).size();
    return n;
}

/* Seeded sizes and skips of every kind that ends: whole, fractional, just
 * above half the spacing of singles near the limit, and ones whose halves
 * tie between two spacings. */
TEST(GridPoints, CountedAsTheWalkGoes)
{
    srand(11);
    for (int n = 0; n < 150; n++) {
        size_t dim[3];
        float skips[3];
        for (int k = 0; k < 3; k++) {
            dim[k] = 2 + (size_t)(rand() % 3000);
            const int kind = rand() % 5;
            const float unit = (float)(rand() % 4096 + 1) / 1024.0f;
            if (kind == 0)
                skips[k] = (float)(rand() % 4 + 1);
            else if (kind == 1)
                skips[k] = unit;
            else if (kind == 2)
                skips[k] = ldexpf(1.0f + (float)(rand() % 1024) / 1024.0f, -(rand() % 12) - 3);
            else if (kind == 3) /* a tie at the spacing of the upper binades */
                skips[k] = ldexpf((float)(2 * (rand() % 8) + 1), -(rand() % 6) - 13);
            else
                skips[k] = (float)rand() / (float)RAND_MAX * 40.0f + 0.001f;
        }
        /* Keep the reference's lists short. */
        for (int k = 0; k < 3; k++)
            if ((float)dim[k] / skips[k] > 1e6f)
                skips[k] = (float)dim[k] / 1e6f;
        const unsigned long long want = listed_points(dim, skips);
        if (want > HIST2_MAX_POINTS)
            continue;
        EXPECT_EQ(hist2_grid_points(dim, skips), want)
            << dim[0] << "x" << dim[1] << "x" << dim[2] << " skips " << skips[0] << " " << skips[1] << " "
            << skips[2];
    }
}

TEST(GridPoints, CapAtTwoToThe34)
{
    const unsigned long long over = HIST2_MAX_POINTS + 1;
    const float ones[3] = {1, 1, 1};
    /* Skip 1 gives size - 2 points an axis. */
    const size_t at_cap[3] = {4098, 4098, 1026}; /* 2^12 * 2^12 * 2^10 */
    const size_t one_plane_more[3] = {4098, 4098, 1027};
    EXPECT_EQ(hist2_grid_points(at_cap, ones), HIST2_MAX_POINTS);
    EXPECT_EQ(hist2_grid_points(one_plane_more, ones), over);

    /* The call that would take a lifetime, and walks that never end. */
    const size_t vol[3] = {64, 64, 48};
    const float tiny[3] = {1e-4f, 1e-4f, 1e-4f};
    EXPECT_EQ(hist2_grid_points(vol, tiny), over);
    const float stuck[3] = {1, 0, 1};
    EXPECT_EQ(hist2_grid_points(vol, stuck), over);
    const float backwards[3] = {1, 1, -1};
    EXPECT_EQ(hist2_grid_points(vol, backwards), over);

    /* An axis without a point: nothing to visit, whatever the others. */
    const float empty_x[3] = {64, 1e-4f, 1e-4f};
    EXPECT_EQ(hist2_grid_points(vol, empty_x), 0ULL);
    const float nan_y[3] = {1, NAN, 1};
    EXPECT_EQ(hist2_grid_points(vol, nan_y), 0ULL);
}

} // namespace
