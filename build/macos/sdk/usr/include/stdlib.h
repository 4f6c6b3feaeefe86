/* The part of the C library's stdlib.h that the compiler's SSE headers
 * refer to (their aligned-allocation helpers, which the plug-in never
 * calls, so nothing here is imported). */
#ifndef VORN_SDK_STDLIB_H
#define VORN_SDK_STDLIB_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void *malloc(size_t size);
void free(void *ptr);

#ifdef __cplusplus
}
#endif

#endif
