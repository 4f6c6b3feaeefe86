/*
 * End-to-end cases of the plug-in's entry point over the in-process test
 * host, shared by every platform's runner: the same cases run against the
 * directly linked entry point and against each platform's loaded plug-in.
 */
#ifndef VORN_TESTS_CASES_H
#define VORN_TESTS_CASES_H

#include <stdio.h>

#include "testhost.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Runs the message cases and the numeric cases through entry, prints one
 * line per failure and a closing line "N passed, M failed"; returns the
 * number of failures. With x87 nonzero the numeric expectations are those
 * of the 32-bit x87 build. */
int run_gateway_cases(th_entry entry, int x87);

/* Makes count seeded random calls (unequal sizes, affine maps that send
 * part of volume 1 outside volume 2, fractional skips, NaN entries) and
 * prints one line per call: its number and the 64-bit FNV-1a hash of the
 * result's 65536 doubles. Two builds agree bit for bit where their lines
 * agree. */
void run_differential(th_entry entry, unsigned seed, int count, FILE *out);

#ifdef __cplusplus
}
#endif

#endif
