/*
 * macho_runner: loads the macOS bundle with the test loader, every import
 * bound to the in-process test host or to this process's C library, and
 * runs it.
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

typedef struct {
    const char *library;
    const char *symbol;
    void *address;
} import;

static const import imports[] = {
#define HOST_FUNCTION(library, bound, plain) {"@rpath/" library ".dylib", "_" bound, (void *)&plain},
#include "host_imports.h"
#undef HOST_FUNCTION
    {"/usr/lib/libSystem.B.dylib", "_floor", (void *)(double (*)(double))floor},
    {"/usr/lib/libSystem.B.dylib", "_floorf", (void *)(float (*)(float))floorf},
    {"/usr/lib/libSystem.B.dylib", "___stack_chk_guard", (void *)&stack_guard},
    {"/usr/lib/libSystem.B.dylib", "___stack_chk_fail", (void *)&stack_check_failed},
    {"/usr/lib/libSystem.B.dylib", "dyld_stub_binder", (void *)&stub_binder_reached},
};

static void *resolve(const char *library, const char *symbol)
{
    for (size_t k = 0; k < sizeof imports / sizeof imports[0]; ++k)
        if (strcmp(imports[k].library, library) == 0 && strcmp(imports[k].symbol, symbol) == 0)
            return imports[k].address;
    return NULL;
}

static void load_or_exit(const unsigned char *file, size_t len, macho_image *image)
{
    char err[256];
    if (!macho_load(file, len, resolve, image, err, sizeof err)) {
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
    {"_floorf", "_floorl", "_floorl"},                               /* libSystem symbol not supplied */
    {"@rpath/libmex.dylib", "@rpath/libmez.dylib", "_mexErrMsgTxt"}, /* right name, wrong library */
};

/* The probe bundle's table points at its own strings once rebased, and
 * its function pointer at this process's floor once bound. */
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

    if (strcmp(what, "refuse") == 0 && argc == 3)
        return check_refusals(file, len, refusals, (int)(sizeof refusals / sizeof refusals[0]), try_load) == 0 ? 0 : 1;

    macho_image image;
    load_or_exit(file, len, &image);
    if (strcmp(what, "probe") == 0 && argc == 3) {
        int failures = check_probe(&image);
        macho_unload(&image);
        free(file);
        return failures == 0 ? 0 : 1;
    }
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
