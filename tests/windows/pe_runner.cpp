/*
 * pe_runner: loads the 32-bit Windows plug-in with the PE test loader on
 * i386 Linux, every import bound to the in-process test host or to this
 * process's C library, and runs it: where Wine cannot run 32-bit programs
 * (and under qemu-i386 where the machine cannot either), this is what
 * executes the delivered file.
 *
 *   pe_runner PLUGIN load                 the process attach turns thread
 *                                         notifications off for the image
 *   pe_runner PLUGIN cases CW             message and numeric cases
 *   pe_runner PLUGIN diff SEED COUNT CW   one hash line per seeded call
 *   pe_runner PLUGIN refuse               doctored copies must not load
 *
 * CW is the x87 control word (hexadecimal) set before the cases run.
 *
 * Calling conventions: the host functions and floor are cdecl on 32-bit
 * Windows as on i386 Linux, with results in eax or st(0) alike;
 * DisableThreadLibraryCalls and the entry point are stdcall. Windows keeps
 * the stack 4-byte aligned where i386 Linux code assumes 16, so this
 * program and the test host are built to realign it on entry.
 */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "cases.h"
#include "loader_checks.h"
#include "pe_load.h"

namespace {

/* The module handles DisableThreadLibraryCalls was given. */
void *threads_off_for[4];
int threads_off_calls;

int __attribute__((stdcall)) disable_thread_library_calls(void *module)
{
    if (threads_off_calls < 4)
        threads_off_for[threads_off_calls] = module;
    ++threads_off_calls;
    return 1;
}

struct import {
    const char *library;
    const char *symbol;
    void *address;
};

const import imports[] = {
#define HOST_FUNCTION(library, bound, plain) {library ".dll", bound, (void *)&plain},
#include "host_imports.h"
#undef HOST_FUNCTION
    {"MSVCR80.dll", "floor", (void *)(double (*)(double))floor},
    {"KERNEL32.dll", "DisableThreadLibraryCalls", (void *)&disable_thread_library_calls},
};

void *resolve(const char *library, const char *symbol)
{
    for (size_t k = 0; k < sizeof imports / sizeof imports[0]; ++k)
        if (strcasecmp(imports[k].library, library) == 0 && strcmp(imports[k].symbol, symbol) == 0)
            return imports[k].address;
    return NULL;
}

void set_x87_control_word(unsigned short cw)
{
    __asm__ volatile("fldcw %0" : : "m"(cw));
}

unsigned short x87_control_word()
{
    unsigned short cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    return cw;
}

/* Copies whose imports cannot be bound must be refused, with the import
 * named in the reason. */
int try_load(const unsigned char *copy, size_t len, char *err, size_t err_size)
{
    pe_image image;
    if (!pe_load(copy, len, resolve, &image, err, err_size))
        return 0;
    pe_unload(&image);
    return 1;
}

const renamed_import refusals[] = {
    {"mxIsUint8", "mxIsUintX", "mxIsUintX"},             /* unknown host function */
    {"MSVCR80.dll", "MSVCR90.dll", "floor from MSVCR90"}, /* right name, other runtime */
    {"libmex.dll", "libmez.dll", "mexErrMsgTxt"},        /* right name, wrong library */
};

int usage()
{
    fprintf(stderr, "usage: pe_runner PLUGIN load | cases CW | diff SEED COUNT CW | refuse\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return usage();
    size_t len;
    unsigned char *file = read_whole_file(argv[1], &len);
    const char *what = argv[2];
    if (strcmp(what, "refuse") == 0 && argc == 3)
        return check_refusals(file, len, refusals, (int)(sizeof refusals / sizeof refusals[0]), try_load) == 0 ? 0 : 1;

    pe_image image;
    char err[256];
    if (!pe_load(file, len, resolve, &image, err, sizeof err)) {
        fprintf(stderr, "pe_runner: %s refused: %s\n", argv[1], err);
        return 1;
    }
    if (strcmp(what, "load") == 0 && argc == 3) {
        const int ok = threads_off_calls == 1 && threads_off_for[0] == image.base;
        printf("process attach: %d call(s) of DisableThreadLibraryCalls%s\n", threads_off_calls,
               ok ? ", for the image" : "");
        pe_unload(&image);
        return ok ? 0 : 1;
    }
    const th_entry entry = (th_entry)pe_symbol(&image, "mexFunction");
    if (!entry) {
        fprintf(stderr, "pe_runner: %s has no mexFunction\n", argv[1]);
        return 1;
    }
    int cw_arg;
    if (strcmp(what, "cases") == 0 && argc == 4)
        cw_arg = 3;
    else if (strcmp(what, "diff") == 0 && argc == 6)
        cw_arg = 5;
    else
        return usage();
    const unsigned long cw = strtoul(argv[cw_arg], NULL, 16);
    set_x87_control_word((unsigned short)cw);
    if (x87_control_word() != cw) {
        fprintf(stderr, "x87 control word is %#x, not %#lx\n", x87_control_word(), cw);
        return 1;
    }

    int failed = 0;
    if (cw_arg == 3)
        failed = run_gateway_cases(entry, 1) != 0;
    else
        run_differential(entry, (unsigned)strtoul(argv[3], NULL, 10), atoi(argv[4]), stdout);
    /* The plug-in works at whatever precision it finds and leaves it so. */
    if (x87_control_word() != cw) {
        fprintf(stderr, "the plug-in left the x87 control word at %#x, not %#lx\n", x87_control_word(), cw);
        failed = 1;
    }
    pe_unload(&image);
    free(file);
    return failed;
}
