/* The part of the C library's string.h that the plug-in uses: memcpy, for
 * unaligned loads that the compiler turns into plain moves. */
#ifndef VORN_SDK_STRING_H
#define VORN_SDK_STRING_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void *memcpy(void *dst, const void *src, size_t n);

#ifdef __cplusplus
}
#endif

#endif
