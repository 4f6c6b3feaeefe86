/*
 * case_runner: the shared cases against the directly linked entry point.
 *
 *   case_runner [--x87-cw=CW] cases [x87]   message and numeric cases; exit
 *                                  status 1 on any failure ("x87": expect
 *                                  the 32-bit x87 results)
 *   case_runner [--x87-cw=CW] diff SEED COUNT   one hash line per seeded
 *                                  random call
 *
 * On an x87 build --x87-cw loads the floating-point control word first
 * (0x27F: 53-bit precision, as Windows starts a process; 0x37F: 64-bit, as
 * Linux does), so the reference can be made under either.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cases.h"

#if (defined(__i386__) && !defined(__SSE_MATH__)) && defined(__GNUC__)
#define RUNNER_X87 1
static int set_control_word(unsigned short cw)
{
    unsigned short now;
    __asm__ volatile("fldcw %0" : : "m"(cw));
    __asm__ volatile("fnstcw %0" : "=m"(now));
    return now == cw;
}
#else
#define RUNNER_X87 0
#endif

static int usage(void)
{
    fprintf(stderr, "usage: case_runner [--x87-cw=CW] cases [x87] | case_runner [--x87-cw=CW] diff SEED COUNT\n");
    return 2;
}

int main(int argc, char **argv)
{
    if (argc >= 2 && strncmp(argv[1], "--x87-cw=", 9) == 0) {
#if RUNNER_X87
        if (!set_control_word((unsigned short)strtoul(argv[1] + 9, NULL, 16))) {
            fprintf(stderr, "case_runner: the x87 control word did not take\n");
            return 2;
        }
#else
        fprintf(stderr, "case_runner: --x87-cw needs an x87 build\n");
        return 2;
#endif
        ++argv;
        --argc;
    }
    if (argc >= 2 && strcmp(argv[1], "cases") == 0) {
        if (argc > 3 || (argc == 3 && strcmp(argv[2], "x87") != 0))
            return usage();
        return run_gateway_cases(mexFunction, argc == 3) == 0 ? 0 : 1;
    }
    if (argc == 4 && strcmp(argv[1], "diff") == 0) {
        run_differential(mexFunction, (unsigned)strtoul(argv[2], NULL, 10), atoi(argv[3]), stdout);
        return 0;
    }
    return usage();
}
