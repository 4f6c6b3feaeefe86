/* Shared helpers of the core tests: volumes, one-call runs, and reading a
 * single accepted point back out of a histogram. */
#ifndef CORE_TEST_UTIL_H
#define CORE_TEST_UTIL_H

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "hist2.h"
#include "reference.h"

typedef std::vector<double> Hist; /* 65,536 elements */

struct Volume {
    size_t dim[3];
    std::vector<unsigned char> voxels;
};

inline uint64_t bits(double v)
{
    uint64_t b;
    memcpy(&b, &v, sizeof b);
    return b;
}

inline uint32_t bits(float v)
{
    uint32_t b;
    memcpy(&b, &v, sizeof b);
    return b;
}

/* Rounds to single for certain: on x87 a float expression can otherwise
 * stay at the unit's precision. */
inline float to_float(long double v)
{
    volatile float f = (float)v;
    return f;
}

Volume filled(size_t d0, size_t d1, size_t d2, unsigned char value);
Volume index_volume(size_t d0, size_t d1, size_t d2); /* voxel = its element number */
Volume listed(size_t d0, size_t d1, size_t d2, const std::vector<unsigned char> &voxels);

/* The identity, and a matrix that sends every point to (tx, ty, tz). */
void identity(double *mat);
void translation(double *mat, double tx, double ty, double tz);

/* One call of hist2 into a fresh all-zero histogram. */
Hist run(const double *mat, const Volume &v1, const Volume &v2, const float *skips);
Hist run(const double *mat, const Volume &v1, const Volume &v2); /* skips 1, 1, 1 */

/* Element-by-element bit comparison, naming the first differences. */
testing::AssertionResult same_bits(const Hist &got, const Hist &want);

/* The share 1 - frac that one point adds to its lower row. */
double lower_share(float frac);

/* A histogram that holds one accepted point: its column, its lower row and
 * volume 2's sample w rebuilt exactly from the two shares (the upper share
 * is frac = w - row unchanged). ok is false when the histogram holds
 * anything else. */
struct OnePoint {
    bool ok;
    int row, col;
    float w;
};
OnePoint read_one_point(const Hist &h);

/* The core's trilinear value of vol at (x, y, z), seen through hist2: one
 * grid point, and a matrix whose rows 0 to 2 are the translation to (x, y, z). */
float probe(const Volume &vol, float x, float y, float z);

#if TEST_X87
extern unsigned short wanted_control_word;
unsigned short read_control_word(void);
#endif

#endif
