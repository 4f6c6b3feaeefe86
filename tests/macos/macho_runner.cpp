/*
 * macho_runner: loads a macOS bundle with the test loader, every import
 * bound to the in-process test host or to this process's C library, and
 * runs it. Built for x86-64 (the Intel bundle) and for arm64 Linux (the
 * arm64 bundle, run under qemu-aarch64).
 *
 *   macho_runner BUNDLE cases             message and numeric cases
 *   macho_runner BUNDLE diff SEED COUNT   one hash line per seeded call
 *   macho_runner BUNDLE apiversion        the version stamp's stores
 *   macho_runner BUNDLE refuse            doctored copies must not load
 *   macho_runner PROBE probe              the probe bundle's rebases and binds
 */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "apple_abi.h"
#include "cases.h"
#include "loader_checks.h"
#include "macho_load.h"

/* The stack guard and its failure call come from libSystem on the host. */
static uintptr_t stack_guard = 0x2f8a17c3e5d90b46u;

static void stack_check_failed(void)
{
    fprintf(stderr, "macho_runner: the bundle's stack guard was overwritten\n");
    abort();
}

/* Every lazy pointer is bound at load, so the stub helper never runs. */
static void stub_binder_reached(void)
{
    fprintf(stderr, "macho_runner: a lazy pointer was left unbound (dyld_stub_binder reached)\n");
    abort();
}

/* The probe bundle's library: results that Linux's convention allows,
 * with bits set above the value (false with bit 8 set; the short -2 with
 * 0x1234 above it), which Apple's callers would take for other values. */
extern "C" bool probe_dirty_false(void);
extern "C" short probe_dirty_short(void);
#if defined(__aarch64__)
__asm__(".text\n"
        ".p2align 2\n"
        "probe_dirty_false:\n"
        "    mov w0, #0x100\n"
        "    ret\n"
        "probe_dirty_short:\n"
        "    mov w0, #0xfffe\n"
        "    movk w0, #0x1234, lsl #16\n"
        "    ret\n");
#elif defined(__x86_64__)
__asm__(".text\n"
        "probe_dirty_false:\n"
        "    movl $0x100, %eax\n"
        "    ret\n"
        "probe_dirty_short:\n"
        "    movl $0x1234fffe, %eax\n"
        "    ret\n");
#endif

/* What each import is bound to: `address`, which follows Apple's
 * convention (apple_abi.h: every host function, and the probe's, is bound
 * to its widening entry), and `raw`, the function itself, which the probe
 * check binds once to show that the widening matters. */
typedef struct {
    const char *library;
    const char *symbol;
    void *address;
    void *raw;
} import;

static const import imports[] = {
#define HOST_FUNCTION(library, bound, plain) \
    {"@rpath/" library ".dylib", "_" bound, APPLE_ENTRY(plain), (void *)&plain},
#include "host_imports.h"
#undef HOST_FUNCTION
    {"@rpath/libprobe.dylib", "_probe_flag", APPLE_ENTRY(probe_dirty_false), (void *)&probe_dirty_false},
    {"@rpath/libprobe.dylib", "_probe_short", APPLE_ENTRY(probe_dirty_short), (void *)&probe_dirty_short},
    {"/usr/lib/libSystem.B.dylib", "_floor", (void *)(double (*)(double))floor, NULL},
    {"/usr/lib/libSystem.B.dylib", "_floorf", (void *)(float (*)(float))floorf, NULL},
    {"/usr/lib/libSystem.B.dylib", "___stack_chk_guard", (void *)&stack_guard, NULL},
    {"/usr/lib/libSystem.B.dylib", "___stack_chk_fail", (void *)&stack_check_failed, NULL},
    {"/usr/lib/libSystem.B.dylib", "dyld_stub_binder", (void *)&stub_binder_reached, NULL},
};

static const import *find_import(const char *library, const char *symbol)
{
    for (size_t k = 0; k < sizeof imports / sizeof imports[0]; ++k)
        if (strcmp(imports[k].library, library) == 0 && strcmp(imports[k].symbol, symbol) == 0)
            return &imports[k];
    return NULL;
}

static void *resolve(const char *library, const char *symbol)
{
    const import *found = find_import(library, symbol);
    return found ? found->address : NULL;
}

#if defined(__aarch64__)
/* The functions themselves, unwidened, where there is a widening entry. */
static void *resolve_raw(const char *library, const char *symbol)
{
    const import *found = find_import(library, symbol);
    return !found ? NULL : found->raw ? found->raw : found->address;
}
#endif

static void load_or_exit(const unsigned char *file, size_t len, macho_resolver how, macho_image *image)
{
    char err[256];
    if (!macho_load(file, len, how, image, err, sizeof err)) {
        fprintf(stderr, "macho_runner: bundle refused: %s\n", err);
        exit(1);
    }
}

typedef void (*apiversion_fn)(unsigned int *, unsigned int *);

/* Four bytes behind each pointer change, to the two fixed numbers, and the
 * bytes around them keep their values; a second call writes the same. */
static int check_apiversion(apiversion_fn stamp)
{
    static const unsigned char first[4] = {0x7a, 0x01, 0x02, 0x00};  /* 0x0002017A */
    static const unsigned char second[4] = {0x00, 0x00, 0x30, 0x07}; /* 0x07300000 */
    int failures = 0;
    for (int call = 0; call < 2; ++call) {
        const unsigned char fill = call == 0 ? 0xa5 : 0x5a;
        unsigned int words[8];
        unsigned char *bytes = (unsigned char *)words;
        memset(words, fill, sizeof words);
        stamp(&words[1], &words[5]);
        for (int k = 0; k < (int)sizeof words; ++k) {
            unsigned char want = fill;
            if (k >= 4 && k < 8)
                want = first[k - 4];
            else if (k >= 20 && k < 24)
                want = second[k - 20];
            if (bytes[k] != want) {
                printf("apiversion call %d: byte %d is 0x%02x, expected 0x%02x\n", call + 1, k, bytes[k], want);
                ++failures;
            }
        }
    }
    /* Two stores in order: through one pointer the second number stays. */
    unsigned int both = 0;
    stamp(&both, &both);
    if (both != 0x07300000u) {
        printf("apiversion through one pointer: 0x%08x, expected 0x07300000\n", both);
        ++failures;
    }
    printf("apiversion: %s\n", failures ? "FAILED" : "ok");
    return failures;
}

/* Copies whose imports this loader cannot bind must be refused with the
 * import named in the reason. */
static int try_load(const unsigned char *copy, size_t len, char *err, size_t err_size)
{
    macho_image image;
    if (!macho_load(copy, len, resolve, &image, err, err_size))
        return 0;
    macho_unload(&image);
    return 1;
}

static const renamed_import refusals[] = {
    {"_mxIsUint8", "_mxIsUintX", "_mxIsUintX"},                      /* unknown host function */
    {"___stack_chk_fail", "___stack_chk_fial", "___stack_chk_fial"}, /* libSystem symbol not supplied */
    {"@rpath/libmex.dylib", "@rpath/libmez.dylib", "_mexErrMsgTxt"}, /* right name, wrong library */
};

static uint32_t rd32(const unsigned char *p)
{
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

static void wr32(unsigned char *p, uint32_t v)
{
    memcpy(p, &v, 4);
}

/* Copies that this loader must not run: built for the other processor,
 * and with dyld info in a form it does not know (chained fixups where the
 * dyld info command was). */
static int check_layout_refusals(const unsigned char *file, size_t len)
{
    enum { CPU_X86_64 = 0x01000007, CPU_ARM64 = 0x0100000c, DYLD_INFO_ONLY = 0x80000022, CHAINED_FIXUPS = 0x80000034 };
    unsigned char *other_cpu = (unsigned char *)malloc(len);
    unsigned char *chained = (unsigned char *)malloc(len);
    memcpy(other_cpu, file, len);
    memcpy(chained, file, len);
    wr32(other_cpu + 4, rd32(file + 4) == CPU_ARM64 ? CPU_X86_64 : CPU_ARM64);
    int found = 0;
    const unsigned char *c = file + 32;
    for (uint32_t k = 0; k < rd32(file + 16) && !found && c + 8 <= file + len; ++k) {
        if (rd32(c) == DYLD_INFO_ONLY) {
            wr32(chained + (c - file), CHAINED_FIXUPS);
            found = 1;
        }
        c += rd32(c + 4);
    }
    const struct {
        const unsigned char *copy;
        const char *what, *reason;
    } cases[2] = {
        {other_cpu, "built for the other processor", "not built for"},
        {chained, "chained fixups", "load command 0x80000034 is not supported"},
    };
    int failures = found ? 0 : 1;
    if (!found)
        printf("refuse: no LC_DYLD_INFO_ONLY in the bundle\n");
    for (int k = 0; k < 2; ++k) {
        char err[256] = "";
        if (try_load(cases[k].copy, len, err, sizeof err)) {
            printf("refuse: the copy %s loaded\n", cases[k].what);
            ++failures;
        } else if (strstr(err, cases[k].reason) == NULL) {
            printf("refuse: the copy %s was refused for another reason: %s\n", cases[k].what, err);
            ++failures;
        } else {
            printf("refused as expected: %s\n", err);
        }
    }
    free(other_cpu);
    free(chained);
    return failures;
}

typedef unsigned (*probe_unsigned_fn)(void);
typedef int (*probe_int_fn)(void);

/* The probe's three functions hand on what its code made of the narrow
 * results: through the widening entries false and -2; bound to the
 * functions themselves (raw), on arm64, the bits above the value too, so
 * that false reads as true. */
static int check_probe_results(const macho_image *image, int raw)
{
    probe_unsigned_fn flag_value = (probe_unsigned_fn)macho_symbol(image, "_probe_flag_value");
    probe_int_fn flag_branch = (probe_int_fn)macho_symbol(image, "_probe_flag_branch");
    probe_int_fn short_value = (probe_int_fn)macho_symbol(image, "_probe_short_value");
    if (!flag_value || !flag_branch || !short_value) {
        printf("probe: the narrow-result functions are not exported\n");
        return 1;
    }
    /* The dirty values are sound ones under Linux's convention. */
    if (probe_dirty_false() != false || probe_dirty_short() != -2) {
        printf("probe: the library's results are not false and -2 here\n");
        return 1;
    }
    const unsigned want_value = raw ? 0x100u : 0u;
    const int want_branch = raw ? 1 : 2, want_short = raw ? 0x1234fffe : -2;
    int failures = 0;
    const unsigned got_value = flag_value();
    const int got_branch = flag_branch(), got_short = short_value();
    if (got_value != want_value || got_branch != want_branch || got_short != want_short) {
        printf("probe%s: the bundle read the flag as 0x%x (branch %d) and the short as %d, expected 0x%x (%d) and %d\n",
               raw ? " unwidened" : "", got_value, got_branch, got_short, want_value, want_branch, want_short);
        ++failures;
    }
    return failures;
}

/* The probe bundle's table points at its own strings once rebased, and
 * its function pointer at this process's floor once bound; the narrow
 * results reach its code as Apple's convention has them. */
static int check_probe(const macho_image *image)
{
    static const char *const expected[4] = {"north", "east", "south", "west"};
    const char *const *words = (const char *const *)macho_symbol(image, "_probe_words");
    double (**round_down)(double) = (double (**)(double))macho_symbol(image, "_probe_round_down");
    if (!words || !round_down) {
        printf("probe: _probe_words or _probe_round_down not exported\n");
        return 1;
    }
    int failures = 0;
    for (int k = 0; k < 4; ++k) {
        const unsigned char *p = (const unsigned char *)words[k];
        if (p < image->map || p >= image->map + image->map_size || strcmp(words[k], expected[k]) != 0) {
            printf("probe: word %d is not \"%s\" inside the bundle\n", k, expected[k]);
            ++failures;
        }
    }
    if (*round_down != (double (*)(double))floor || (*round_down)(2.5) != 2.0) {
        printf("probe: the function pointer is not bound to floor\n");
        ++failures;
    }
    failures += check_probe_results(image, 0);
    printf("probe: %s\n", failures ? "FAILED" : "ok");
    return failures;
}

static int usage(void)
{
    fprintf(stderr, "usage: macho_runner BUNDLE cases | diff SEED COUNT | apiversion | refuse | probe\n");
    return 2;
}

int main(int argc, char **argv)
{
    if (argc < 3)
        return usage();
    size_t len;
    unsigned char *file = read_whole_file(argv[1], &len);
    const char *what = argv[2];

    if (strcmp(what, "refuse") == 0 && argc == 3) {
        int failures = check_refusals(file, len, refusals, (int)(sizeof refusals / sizeof refusals[0]), try_load);
        failures += check_layout_refusals(file, len);
        return failures == 0 ? 0 : 1;
    }

    macho_image image;
    if (strcmp(what, "probe") == 0 && argc == 3) {
        load_or_exit(file, len, resolve, &image);
        int failures = check_probe(&image);
        macho_unload(&image);
#if defined(__aarch64__)
        /* Without the widening entries the bundle misreads the results:
         * the probe sees the fault that the entries prevent. */
        load_or_exit(file, len, resolve_raw, &image);
        failures += check_probe_results(&image, 1);
        macho_unload(&image);
#endif
        free(file);
        return failures == 0 ? 0 : 1;
    }
    load_or_exit(file, len, resolve, &image);
    th_entry entry = (th_entry)macho_symbol(&image, "_mexFunction");
    apiversion_fn stamp = (apiversion_fn)macho_symbol(&image, "_mexfilerequiredapiversion");
    if (!entry || !stamp) {
        fprintf(stderr, "macho_runner: _mexFunction or _mexfilerequiredapiversion not exported\n");
        return 1;
    }
    int status;
    if (strcmp(what, "cases") == 0 && argc == 3)
        status = run_gateway_cases(entry, 0) == 0 ? 0 : 1;
    else if (strcmp(what, "diff") == 0 && argc == 5) {
        run_differential(entry, (unsigned)strtoul(argv[3], NULL, 10), atoi(argv[4]), stdout);
        status = 0;
    } else if (strcmp(what, "apiversion") == 0 && argc == 3)
        status = check_apiversion(stamp) == 0 ? 0 : 1;
    else
        status = usage();
    macho_unload(&image);
    free(file);
    return status;
}
