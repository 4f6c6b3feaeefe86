/*
 * The PE32 test loader: see pe_load.h. Every offset and size read from the
 * file is checked against the file or the image before it is used, so a
 * damaged file is refused rather than followed.
 */
#include "pe_load.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

const unsigned machine_i386 = 0x14c;
const unsigned magic_pe32 = 0x10b;
const unsigned file_dll = 0x2000;
const unsigned dir_export = 0, dir_import = 1, dir_basereloc = 5, dir_tls = 9;
const unsigned scn_execute = 0x20000000u, scn_write = 0x80000000u;
const unsigned dll_process_detach = 0, dll_process_attach = 1;

typedef int(__attribute__((stdcall)) * dll_entry)(void *module, unsigned reason, void *reserved);

unsigned read16(const unsigned char *p)
{
    return (unsigned)p[0] | (unsigned)p[1] << 8;
}

uint32_t read32(const unsigned char *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

int refuse(char *err, size_t err_size, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(err, err_size, format, args);
    va_end(args);
    return 0;
}

/* True when [rva, rva + len) lies inside the image. */
bool inside(const pe_image *image, uint32_t rva, size_t len)
{
    return rva <= image->size && len <= image->size - rva;
}

/* A NUL-terminated string at rva inside the image, or NULL. */
const char *image_string(const pe_image *image, uint32_t rva)
{
    if (!inside(image, rva, 1))
        return NULL;
    const char *s = (const char *)image->base + rva;
    return memchr(s, 0, image->size - rva) ? s : NULL;
}

struct directory {
    uint32_t rva, size;
};

struct headers {
    const unsigned char *coff, *optional, *sections;
    unsigned section_count;
    uint32_t image_base, image_size, header_size, section_alignment, entry;
    directory dirs[16];
};

int read_headers(const unsigned char *file, size_t len, headers *h, char *err, size_t err_size)
{
    if (len < 0x40 || file[0] != 'M' || file[1] != 'Z')
        return refuse(err, err_size, "no MZ header");
    const uint32_t pe = read32(file + 0x3c);
    if (pe > len || len - pe < 24 || memcmp(file + pe, "PE\0\0", 4) != 0)
        return refuse(err, err_size, "no PE signature");
    h->coff = file + pe + 4;
    if (read16(h->coff) != machine_i386)
        return refuse(err, err_size, "machine 0x%x is not i386", read16(h->coff));
    if (!(read16(h->coff + 18) & file_dll))
        return refuse(err, err_size, "not a DLL");
    h->section_count = read16(h->coff + 2);
    const unsigned optional_size = read16(h->coff + 16);
    h->optional = h->coff + 20;
    h->sections = h->optional + optional_size;
    const size_t sections_end = (size_t)(h->sections - file) + 40 * (size_t)h->section_count;
    if (optional_size < 96 || sections_end > len)
        return refuse(err, err_size, "headers run past the file");
    if (read16(h->optional) != magic_pe32)
        return refuse(err, err_size, "optional header magic 0x%x is not PE32", read16(h->optional));
    h->entry = read32(h->optional + 16);
    h->image_base = read32(h->optional + 28);
    h->section_alignment = read32(h->optional + 32);
    h->image_size = read32(h->optional + 56);
    h->header_size = read32(h->optional + 60);
    const uint32_t dir_count = read32(h->optional + 92);
    memset(h->dirs, 0, sizeof h->dirs);
    for (uint32_t k = 0; k < dir_count && k < 16 && 96 + 8 * (k + 1) <= optional_size; ++k) {
        h->dirs[k].rva = read32(h->optional + 96 + 8 * k);
        h->dirs[k].size = read32(h->optional + 100 + 8 * k);
    }
    if (h->header_size > len || h->header_size > h->image_size || h->image_size == 0)
        return refuse(err, err_size, "image size %u or header size %u out of range", h->image_size,
                      h->header_size);
    return 1;
}

/* Copies the headers and every section's file data into the image. */
int map_sections(const unsigned char *file, size_t len, const headers *h, pe_image *image, char *err,
                 size_t err_size)
{
    memcpy(image->base, file, h->header_size);
    for (unsigned s = 0; s < h->section_count; ++s) {
        const unsigned char *sec = h->sections + 40 * s;
        const uint32_t vsize = read32(sec + 8), rva = read32(sec + 12);
        const uint32_t raw_size = read32(sec + 16), raw_at = read32(sec + 20);
        const uint32_t copied = raw_size < vsize ? raw_size : vsize;
        if (!inside(image, rva, vsize > raw_size ? vsize : raw_size) || raw_at > len || copied > len - raw_at)
            return refuse(err, err_size, "section %.8s lies outside the image or the file", (const char *)sec);
        memcpy(image->base + rva, file + raw_at, copied);
    }
    return 1;
}

/* Adds the distance between where the image landed and where it was
 * linked to every 32-bit absolute address that the relocations name. */
int relocate(const headers *h, pe_image *image, char *err, size_t err_size)
{
    const uint32_t delta = (uint32_t)(uintptr_t)image->base - h->image_base;
    const directory d = h->dirs[dir_basereloc];
    if (!inside(image, d.rva, d.size))
        return refuse(err, err_size, "relocations lie outside the image");
    uint32_t at = 0;
    while (at + 8 <= d.size) {
        const unsigned char *block = image->base + d.rva + at;
        const uint32_t page = read32(block), block_size = read32(block + 4);
        if (block_size < 8 || block_size > d.size - at)
            return refuse(err, err_size, "a relocation block has size %u", block_size);
        for (uint32_t k = 8; k + 2 <= block_size; k += 2) {
            const unsigned entry = read16(block + k), type = entry >> 12;
            const uint32_t rva = page + (entry & 0xfff);
            if (type == 0)
                continue; /* padding */
            if (type != 3)
                return refuse(err, err_size, "relocation type %u", type);
            if (!inside(image, rva, 4))
                return refuse(err, err_size, "a relocation lies outside the image");
            unsigned char *p = image->base + rva;
            const uint32_t v = read32(p) + delta;
            memcpy(p, &v, 4);
        }
        at += block_size;
    }
    return 1;
}

/* Writes each import's address into its slot of the import address table. */
int bind_imports(const headers *h, pe_image *image, pe_resolver resolve, char *err, size_t err_size)
{
    const directory d = h->dirs[dir_import];
    if (d.size == 0)
        return 1;
    for (uint32_t at = d.rva;; at += 20) {
        if (!inside(image, at, 20))
            return refuse(err, err_size, "the import directory runs past the image");
        const unsigned char *desc = image->base + at;
        const uint32_t lookup = read32(desc), name_rva = read32(desc + 12), slots = read32(desc + 16);
        if (name_rva == 0 && slots == 0)
            return 1;
        const char *library = image_string(image, name_rva);
        if (!library)
            return refuse(err, err_size, "an import names no library");
        const uint32_t names = lookup != 0 ? lookup : slots;
        for (uint32_t k = 0;; k += 4) {
            if (!inside(image, names + k, 4) || !inside(image, slots + k, 4))
                return refuse(err, err_size, "the imports of %s run past the image", library);
            const uint32_t thunk = read32(image->base + names + k);
            if (thunk == 0)
                break;
            if (thunk & 0x80000000u)
                return refuse(err, err_size, "%s: import by ordinal %u", library, thunk & 0xffff);
            const char *symbol = image_string(image, thunk + 2);
            if (!symbol)
                return refuse(err, err_size, "%s: an import has no name", library);
            void *address = resolve(library, symbol);
            if (!address)
                return refuse(err, err_size, "%s from %s cannot be bound", symbol, library);
            const uint32_t v = (uint32_t)(uintptr_t)address;
            memcpy(image->base + slots + k, &v, 4);
        }
    }
}

/* Gives each section the access its flags ask for; the headers stay
 * read-only. */
void protect_sections(const headers *h, pe_image *image)
{
    const size_t page = (size_t)sysconf(_SC_PAGESIZE);
    if (h->section_alignment % page != 0)
        return; /* sections share pages: leave the whole image writable and executable */
    mprotect(image->base, page, PROT_READ);
    for (unsigned s = 0; s < h->section_count; ++s) {
        const unsigned char *sec = h->sections + 40 * s;
        const uint32_t vsize = read32(sec + 8), rva = read32(sec + 12), flags = read32(sec + 36);
        int prot = PROT_READ;
        if (flags & scn_execute)
            prot |= PROT_EXEC;
        if (flags & scn_write)
            prot |= PROT_WRITE;
        mprotect(image->base + rva, (vsize + page - 1) / page * page, prot);
    }
}

} // namespace

int pe_load(const unsigned char *file, size_t len, pe_resolver resolve, pe_image *image, char *err,
            size_t err_size)
{
    headers h;
    if (!read_headers(file, len, &h, err, err_size))
        return 0;
    if (h.dirs[dir_tls].size != 0)
        return refuse(err, err_size, "the image has thread-local storage");
    void *map = mmap(NULL, h.image_size, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED)
        return refuse(err, err_size, "cannot map %u bytes", h.image_size);
    image->base = (unsigned char *)map;
    image->size = h.image_size;
    image->entry = h.entry;
    if (!map_sections(file, len, &h, image, err, err_size) || !relocate(&h, image, err, err_size) ||
        !bind_imports(&h, image, resolve, err, err_size)) {
        munmap(map, h.image_size);
        return 0;
    }
    if (image->entry != 0 && !inside(image, image->entry, 1)) {
        munmap(map, h.image_size);
        return refuse(err, err_size, "the entry point lies outside the image");
    }
    protect_sections(&h, image);
    if (image->entry != 0) {
        const dll_entry start = (dll_entry)(void *)(image->base + image->entry);
        if (!start(image->base, dll_process_attach, NULL)) {
            munmap(map, h.image_size);
            return refuse(err, err_size, "the entry point refused the process attach");
        }
    }
    return 1;
}

void *pe_symbol(const pe_image *image, const char *name)
{
    const unsigned char *optional = image->base + read32(image->base + 0x3c) + 24;
    const uint32_t rva = read32(optional + 96 + 8 * dir_export);
    if (rva == 0 || !inside(image, rva, 40))
        return NULL;
    const unsigned char *dir = image->base + rva;
    const uint32_t functions = read32(dir + 20), count = read32(dir + 24);
    const uint32_t addresses = read32(dir + 28), names = read32(dir + 32), ordinals = read32(dir + 36);
    for (uint32_t k = 0; k < count; ++k) {
        if (!inside(image, names + 4 * k, 4) || !inside(image, ordinals + 2 * k, 2))
            return NULL;
        const char *export_name = image_string(image, read32(image->base + names + 4 * k));
        if (!export_name || strcmp(export_name, name) != 0)
            continue;
        const unsigned ordinal = read16(image->base + ordinals + 2 * k);
        if (ordinal >= functions || !inside(image, addresses + 4 * ordinal, 4))
            return NULL;
        const uint32_t target = read32(image->base + addresses + 4 * ordinal);
        return inside(image, target, 1) ? image->base + target : NULL;
    }
    return NULL;
}

void pe_unload(pe_image *image)
{
    if (image->entry != 0) {
        const dll_entry stop = (dll_entry)(void *)(image->base + image->entry);
        stop(image->base, dll_process_detach, NULL);
    }
    munmap(image->base, image->size);
    image->base = NULL;
}
