/* The part of the system's <math.h> that the plug-in uses: libSystem's
 * floor and floorf. */
#ifndef VORN_SDK_MATH_H
#define VORN_SDK_MATH_H

#ifdef __cplusplus
extern "C" {
#endif

double floor(double x);
float floorf(float x);

#ifdef __cplusplus
}
#endif

#endif
