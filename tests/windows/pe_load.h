/*
 * A test loader for 32-bit Windows DLLs (PE32, i386) on i386 Linux, for
 * machines where Wine cannot run 32-bit programs: maps the image's
 * sections, applies its base relocations, binds every import by name
 * through a resolver, calls the DLL's entry point for the process attach,
 * and finds exports by name. An image with thread-local storage, imports
 * by ordinal, or relocations other than 32-bit absolute ones is refused.
 */
#ifndef VORN_TESTS_PE_LOAD_H
#define VORN_TESTS_PE_LOAD_H

#include <stddef.h>

/* Address for the import `symbol` from the DLL `library` (compared without
 * regard to case, as Windows does), or NULL when there is none. */
typedef void *(*pe_resolver)(const char *library, const char *symbol);

typedef struct {
    unsigned char *base; /* the mapped image */
    size_t size;
    unsigned entry;      /* relative address of the entry point, 0 if none */
} pe_image;

/* Loads the DLL held in file (len bytes) and calls its entry point with
 * DLL_PROCESS_ATTACH. On failure returns 0 and puts the reason into err. */
int pe_load(const unsigned char *file, size_t len, pe_resolver resolve, pe_image *image, char *err,
            size_t err_size);

/* Address of the export `name`, or NULL when the DLL does not export it. */
void *pe_symbol(const pe_image *image, const char *name);

/* Calls the entry point with DLL_PROCESS_DETACH and unmaps the image. */
void pe_unload(pe_image *image);

#endif
