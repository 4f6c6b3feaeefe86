#include <gtest/gtest.h>
#include "hist2.h"
#include <vector>
TEST(Smoke, ZeroVolumes)
{
    std::vector<unsigned char> v(1000, 0);
    const size_t d[3] = {10, 10, 10};
    const double mat[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const float s[3] = {1, 1, 1};
    std::vector<double> h(65536, 0.0);
    hist2(mat, v.data(), v.data(), d, d, h.data(), s);
    EXPECT_EQ(h[0], 512.0);
}
