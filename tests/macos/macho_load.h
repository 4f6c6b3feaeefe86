/*
 * A test loader for 64-bit Mach-O bundles on Linux, built for x86-64 or for
 * arm64 and taking bundles for that processor alone: maps the bundle's
 * segments, applies its rebase information, binds every import (lazy ones
 * too, at once) through a resolver, flushes the instruction cache over the
 * code, and finds exported symbols through the export trie. Nothing is run
 * at load: a bundle with initialiser or finaliser sections is refused, as
 * is one that imports a symbol the resolver cannot supply.
 *
 * The bundle's code calls the resolver's addresses with Apple's calling
 * convention. For the calls a plug-in makes it matches Linux's, but for
 * one rule of Apple's arm64 convention, which the resolver must honour:
 * a bool, char or short result is widened to 32 bits by the callee
 * (macho_runner binds every host function through apple_abi.h for this).
 */
#ifndef VORN_TESTS_MACHO_LOAD_H
#define VORN_TESTS_MACHO_LOAD_H

#include <stddef.h>

/* Address for the import `symbol` from the library with install name
 * `library` (two-level namespace: the pair decides), or NULL when there
 * is none. */
typedef void *(*macho_resolver)(const char *library, const char *symbol);

typedef struct {
    unsigned char *map;      /* the mapped segments */
    size_t map_size;
    unsigned char *header;   /* where the Mach-O header landed */
    const unsigned char *exports;  /* the export trie, inside the mapping */
    size_t exports_size;
} macho_image;

/* Loads the bundle held in file (len bytes). On failure returns 0 and
 * puts the reason into err. */
int macho_load(const unsigned char *file, size_t len, macho_resolver resolve, macho_image *image,
               char *err, size_t err_size);

/* Address of the exported symbol `name` (with its leading underscore), or
 * NULL when the bundle does not export it. */
void *macho_symbol(const macho_image *image, const char *name);

void macho_unload(macho_image *image);

#endif
