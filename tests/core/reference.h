/* A second, deliberately plain statement of the histogram arithmetic, kept
 * apart from the core and used as the oracle of the tests. It favours
 * obviousness over speed: grid coordinates are listed first, the draws are
 * indexed from the point's ordinal, and every rounding is a visible step. */
#ifndef CORE_TEST_REFERENCE_H
#define CORE_TEST_REFERENCE_H

#include <stddef.h>

#include <vector>

/* 32-bit x86 with x87 arithmetic follows the unit's rules. */
#if defined(__i386__) && !defined(__SSE_MATH__)
#define TEST_X87 1
#else
#define TEST_X87 0
#endif

extern const float ref_ran[97];

float ref_samp(const size_t *dim, const unsigned char *vol, float x, float y, float z);

/* Grid coordinates along one axis of the given size and skip. */
std::vector<float> ref_axis(size_t size, float skip);

/* A grid coordinate moved by its skip times the draw r. */
float ref_jitter(float g, float skip, float r);

void ref_hist2(const double *mat, const unsigned char *vol1, const unsigned char *vol2,
               const size_t *dim1, const size_t *dim2, double *hist, const float *skips);

#endif
