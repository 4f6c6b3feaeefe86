/*
 * Test loader for 64-bit Mach-O bundles of the processor it runs on (x86-64
 * or arm64): the little of dyld's work that a bundle without initialisers
 * needs. The load commands give the segments, the dependent libraries (in
 * ordinal order) and the dyld info: rebase, bind and lazy-bind opcode
 * streams and the export trie. Lazy pointers are bound at load, so the stub
 * helper and dyld_stub_binder are never reached. Both processors use the
 * same forms: pointer rebases and pointer binds, the stubs loading their
 * targets from the lazy pointers. Chained fixups (LC_DYLD_CHAINED_FIXUPS)
 * are refused, with every other command that dyld must understand and this
 * loader does not.
 */
#include "macho_load.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

/* The Mach-O values this loader reads. */
enum {
    MH_MAGIC_64 = 0xfeedfacf,
    CPU_TYPE_X86_64 = 0x01000007,
    CPU_TYPE_ARM64 = 0x0100000c,
    MH_BUNDLE = 8,
    LC_REQ_DYLD = 0x80000000,
    LC_SEGMENT_64 = 0x19,
    LC_LOAD_DYLIB = 0xc,
    LC_LOAD_WEAK_DYLIB = 0x18 | LC_REQ_DYLD,
    LC_REEXPORT_DYLIB = 0x1f | LC_REQ_DYLD,
    LC_LAZY_LOAD_DYLIB = 0x20,
    LC_LOAD_UPWARD_DYLIB = 0x23 | LC_REQ_DYLD,
    LC_DYLD_INFO = 0x22,
    LC_DYLD_INFO_ONLY = 0x22 | LC_REQ_DYLD,
    SECTION_TYPE = 0xff,
    S_MOD_INIT_FUNC_POINTERS = 0x9,
    S_MOD_TERM_FUNC_POINTERS = 0xa,
    S_INIT_FUNC_OFFSETS = 0x16,
    VM_PROT_READ = 1,
    VM_PROT_WRITE = 2,
    VM_PROT_EXECUTE = 4,
    REBASE_TYPE_POINTER = 1,
    BIND_TYPE_POINTER = 1,
    EXPORT_SYMBOL_FLAGS_KIND_MASK = 0x03,
    EXPORT_SYMBOL_FLAGS_KIND_REGULAR = 0x00,
    EXPORT_SYMBOL_FLAGS_REEXPORT = 0x08,
    EXPORT_SYMBOL_FLAGS_STUB_AND_RESOLVER = 0x10,
    MAX_SEGMENTS = 16,
    MAX_LIBRARIES = 32,
};

/* The bundle's code runs here, so it must be built for this processor. */
#if defined(__x86_64__)
static const uint32_t own_cpu = CPU_TYPE_X86_64;
static const char own_cpu_name[] = "x86-64";
#elif defined(__aarch64__)
static const uint32_t own_cpu = CPU_TYPE_ARM64;
static const char own_cpu_name[] = "arm64";
#else
#error "the Mach-O test loader runs bundles for x86-64 or arm64 only"
#endif

typedef struct {
    uint64_t vmaddr, vmsize, fileoff, filesize;
    uint32_t initprot;
} segment;

typedef struct {
    const unsigned char *file;
    size_t len;
    segment seg[MAX_SEGMENTS];
    int nseg;
    const char *lib[MAX_LIBRARIES];
    int nlib;
    uint64_t lo, hi;          /* the segments' address range */
    unsigned char *map;       /* lo lands here */
    size_t page;              /* this system's page size */
    char *err;
    size_t err_size;
} loader;

static int fail(loader *ld, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(ld->err, ld->err_size, fmt, ap);
    va_end(ap);
    return 0;
}

static uint32_t rd32(const unsigned char *p)
{
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

static uint64_t rd64(const unsigned char *p)
{
    uint64_t v;
    memcpy(&v, p, 8);
    return v;
}

/* A bounded byte stream with LEB128 numbers; running off its end marks it
 * bad instead of reading on. */
typedef struct {
    const unsigned char *p, *end;
    int bad;
} stream;

static unsigned byte(stream *s)
{
    if (s->p >= s->end) {
        s->bad = 1;
        return 0;
    }
    return *s->p++;
}

static uint64_t uleb(stream *s)
{
    uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        unsigned b = byte(s);
        v |= (uint64_t)(b & 0x7f) << shift;
        if (!(b & 0x80))
            return v;
    }
    s->bad = 1;
    return 0;
}

static int64_t sleb(stream *s)
{
    int64_t v = 0;
    for (int shift = 0; shift < 64;) {
        unsigned b = byte(s);
        v |= (int64_t)(b & 0x7f) << shift;
        shift += 7;
        if (!(b & 0x80)) {
            if ((b & 0x40) && shift < 64)
                v |= -((int64_t)1 << shift);
            return v;
        }
    }
    s->bad = 1;
    return 0;
}

static const char *cstring(stream *s)
{
    const char *str = (const char *)s->p;
    while (byte(s) != 0 && !s->bad) {
    }
    return s->bad ? NULL : str;
}

/* A stream over [off, off + size) of the file. */
static int file_stream(loader *ld, uint32_t off, uint32_t size, stream *s, const char *what)
{
    if ((uint64_t)off + size > ld->len)
        return fail(ld, "%s lies outside the file", what);
    s->p = ld->file + off;
    s->end = s->p + size;
    s->bad = 0;
    return 1;
}

/* The pointer slot at offset `off` of segment `index`, or NULL when it is
 * not wholly inside that segment. */
static uint64_t *slot(loader *ld, unsigned index, uint64_t off)
{
    if (index >= (unsigned)ld->nseg)
        return NULL;
    const segment *sg = &ld->seg[index];
    if (off > sg->vmsize || sg->vmsize - off < 8)
        return NULL;
    return (uint64_t *)(ld->map + (sg->vmaddr - ld->lo) + off);
}

static int read_commands(loader *ld, stream *dyld_info, stream *lazy, stream *rebase, stream *exports)
{
    const unsigned char *f = ld->file;
    if (ld->len < 32 || rd32(f) != MH_MAGIC_64)
        return fail(ld, "not a 64-bit Mach-O file");
    if (rd32(f + 4) != own_cpu)
        return fail(ld, "not built for %s", own_cpu_name);
    if (rd32(f + 12) != MH_BUNDLE)
        return fail(ld, "not a bundle");
    uint32_t ncmds = rd32(f + 16), sizeofcmds = rd32(f + 20);
    if (32 + (uint64_t)sizeofcmds > ld->len)
        return fail(ld, "load commands run past the file");

    int have_info = 0;
    const unsigned char *c = f + 32, *end = c + sizeofcmds;
    for (uint32_t k = 0; k < ncmds; ++k) {
        if (end - c < 8)
            return fail(ld, "load command %u runs past the commands", k);
        uint32_t cmd = rd32(c), size = rd32(c + 4);
        if (size < 8 || size % 8 != 0 || size > (uint64_t)(end - c))
            return fail(ld, "load command %u has a bad size", k);

        if (cmd == LC_SEGMENT_64) {
            if (size < 72 || ld->nseg == MAX_SEGMENTS)
                return fail(ld, "bad or too many segments");
            segment *sg = &ld->seg[ld->nseg++];
            sg->vmaddr = rd64(c + 24);
            sg->vmsize = rd64(c + 32);
            sg->fileoff = rd64(c + 40);
            sg->filesize = rd64(c + 48);
            sg->initprot = rd32(c + 60);
            uint32_t nsects = rd32(c + 64);
            if (72 + (uint64_t)nsects * 80 > size)
                return fail(ld, "segment %.16s: sections run past the command", (const char *)c + 8);
            if (sg->filesize > sg->vmsize || sg->fileoff + sg->filesize > ld->len)
                return fail(ld, "segment %.16s: contents outside the file", (const char *)c + 8);
            for (uint32_t s = 0; s < nsects; ++s) {
                const unsigned char *sect = c + 72 + 80 * s;
                uint32_t type = rd32(sect + 64) & SECTION_TYPE;
                if (type == S_MOD_INIT_FUNC_POINTERS || type == S_MOD_TERM_FUNC_POINTERS ||
                    type == S_INIT_FUNC_OFFSETS)
                    return fail(ld, "section %.16s holds initialisers or finalisers, which this loader does not run",
                                (const char *)sect);
            }
        } else if (cmd == LC_LOAD_DYLIB || cmd == LC_LOAD_WEAK_DYLIB || cmd == LC_REEXPORT_DYLIB ||
                   cmd == LC_LAZY_LOAD_DYLIB || cmd == LC_LOAD_UPWARD_DYLIB) {
            /* Each names a library; binds refer to them by position. */
            uint32_t name = rd32(c + 8);
            if (ld->nlib == MAX_LIBRARIES || name >= size || memchr(c + name, 0, size - name) == NULL)
                return fail(ld, "bad or too many library commands");
            ld->lib[ld->nlib++] = (const char *)c + name;
        } else if (cmd == LC_DYLD_INFO || cmd == LC_DYLD_INFO_ONLY) {
            if (size < 48)
                return fail(ld, "short dyld info command");
            if (rd32(c + 28) != 0)
                return fail(ld, "weak binding is not supported");
            if (!file_stream(ld, rd32(c + 8), rd32(c + 12), rebase, "rebase info") ||
                !file_stream(ld, rd32(c + 16), rd32(c + 20), dyld_info, "bind info") ||
                !file_stream(ld, rd32(c + 32), rd32(c + 36), lazy, "lazy bind info") ||
                !file_stream(ld, rd32(c + 40), rd32(c + 44), exports, "export trie"))
                return 0;
            have_info = 1;
        } else if (cmd & LC_REQ_DYLD) {
            /* dyld itself would refuse a command it must understand but
             * does not; so does this loader (chained fixups, for one). */
            return fail(ld, "load command 0x%x is not supported", cmd);
        }
        c += size;
    }
    if (ld->nseg == 0 || !have_info)
        return fail(ld, "no segments or no dyld info");
    return 1;
}

/* Reserves the segments' address range and copies in their contents. */
static int map_segments(loader *ld)
{
    ld->lo = UINT64_MAX;
    ld->hi = 0;
    for (int k = 0; k < ld->nseg; ++k) {
        const segment *sg = &ld->seg[k];
        if (sg->vmsize == 0)
            continue;
        if (sg->vmaddr < ld->lo)
            ld->lo = sg->vmaddr;
        if (sg->vmaddr + sg->vmsize > ld->hi)
            ld->hi = sg->vmaddr + sg->vmsize;
    }
    if (ld->lo >= ld->hi || ld->hi - ld->lo > ((uint64_t)1 << 32))
        return fail(ld, "implausible segment layout");
    size_t size = (size_t)((ld->hi - ld->lo + ld->page - 1) / ld->page * ld->page);
    void *map = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED)
        return fail(ld, "cannot reserve %zu bytes", size);
    ld->map = (unsigned char *)map;
    for (int k = 0; k < ld->nseg; ++k) {
        const segment *sg = &ld->seg[k];
        if (sg->vmsize != 0 && (sg->vmaddr - ld->lo) % ld->page != 0)
            return fail(ld, "segment %d is not aligned to this system's %zu-byte pages", k, ld->page);
        memcpy(ld->map + (sg->vmaddr - ld->lo), ld->file + sg->fileoff, (size_t)sg->filesize);
    }
    return 1;
}

static int apply_rebases(loader *ld, stream *s)
{
    const uint64_t slide = (uint64_t)(uintptr_t)ld->map - ld->lo;
    unsigned seg = 0, type = 0;
    uint64_t off = 0;
    while (s->p < s->end && !s->bad) {
        unsigned b = byte(s), op = b & 0xf0, imm = b & 0x0f;
        uint64_t count = 1, skip = 0;
        switch (op) {
        case 0x00: /* done */
            return 1;
        case 0x10: type = imm; continue;
        case 0x20: seg = imm; off = uleb(s); continue;
        case 0x30: off += uleb(s); continue;
        case 0x40: off += (uint64_t)imm * 8; continue;
        case 0x50: count = imm; break;
        case 0x60: count = uleb(s); break;
        case 0x70: skip = uleb(s); break;
        case 0x80: count = uleb(s); skip = uleb(s); break;
        default: return fail(ld, "unknown rebase opcode 0x%02x", b);
        }
        if (type != REBASE_TYPE_POINTER)
            return fail(ld, "rebase of type %u is not supported", type);
        for (uint64_t k = 0; k < count && !s->bad; ++k) {
            uint64_t *p = slot(ld, seg, off);
            if (!p)
                return fail(ld, "rebase outside segment %u", seg);
            *p += slide;
            off += 8 + skip;
        }
    }
    return s->bad ? fail(ld, "rebase info runs past its end") : 1;
}

/* Runs a bind or lazy-bind opcode stream. Lazy-bind entries each end with
 * "done", so that stream is read to its end. */
static int apply_binds(loader *ld, stream *s, int lazy, macho_resolver resolve)
{
    unsigned seg = 0, type = BIND_TYPE_POINTER;
    uint64_t off = 0;
    int64_t ordinal = 0, addend = 0;
    const char *name = NULL;
    while (s->p < s->end && !s->bad) {
        unsigned b = byte(s), op = b & 0xf0, imm = b & 0x0f;
        uint64_t count = 1, skip = 0;
        switch (op) {
        case 0x00:
            if (!lazy)
                return 1;
            continue;
        case 0x10: ordinal = imm; continue;
        case 0x20: ordinal = (int64_t)uleb(s); continue;
        case 0x30: ordinal = imm ? (int64_t)(int8_t)(0xf0 | imm) : 0; continue;
        case 0x40: name = cstring(s); continue;
        case 0x50: type = imm; continue;
        case 0x60: addend = sleb(s); continue;
        case 0x70: seg = imm; off = uleb(s); continue;
        case 0x80: off += uleb(s); continue;
        case 0x90: break;
        case 0xa0: skip = uleb(s); break;
        case 0xb0: skip = (uint64_t)imm * 8; break;
        case 0xc0: count = uleb(s); skip = uleb(s); break;
        default: return fail(ld, "unknown bind opcode 0x%02x", b);
        }
        if (s->bad)
            break;
        if (!name)
            return fail(ld, "bind without a symbol name");
        if (type != BIND_TYPE_POINTER)
            return fail(ld, "bind of %s has unsupported type %u", name, type);
        /* Two-level namespace: every import names one of the libraries. */
        if (ordinal < 1 || ordinal > ld->nlib)
            return fail(ld, "%s is not bound to a named library (ordinal %lld)", name, (long long)ordinal);
        const char *library = ld->lib[ordinal - 1];
        void *target = resolve(library, name);
        if (!target)
            return fail(ld, "cannot bind %s from %s", name, library);
        for (uint64_t k = 0; k < count; ++k) {
            uint64_t *p = slot(ld, seg, off);
            if (!p)
                return fail(ld, "bind of %s outside segment %u", name, seg);
            *p = (uint64_t)(uintptr_t)target + (uint64_t)addend;
            off += 8 + skip;
        }
    }
    return s->bad ? fail(ld, "%s info is malformed", lazy ? "lazy bind" : "bind") : 1;
}

/* The code was written through the data cache: on arm64 the instruction
 * cache does not see it until it is cleaned and invalidated (a no-op on
 * x86-64). Then each segment gets the protection it asks for. */
static int protect_segments(loader *ld)
{
    for (int k = 0; k < ld->nseg; ++k) {
        const segment *sg = &ld->seg[k];
        if (sg->vmsize == 0)
            continue;
        if (sg->initprot & VM_PROT_EXECUTE) {
            char *start = (char *)ld->map + (sg->vmaddr - ld->lo);
            __builtin___clear_cache(start, start + sg->vmsize);
        }
        int prot = ((sg->initprot & VM_PROT_READ) ? PROT_READ : 0) |
                   ((sg->initprot & VM_PROT_WRITE) ? PROT_WRITE : 0) |
                   ((sg->initprot & VM_PROT_EXECUTE) ? PROT_EXEC : 0);
        size_t size = (size_t)((sg->vmsize + ld->page - 1) / ld->page * ld->page);
        if (mprotect(ld->map + (sg->vmaddr - ld->lo), size, prot) != 0)
            return fail(ld, "cannot protect segment %d", k);
    }
    return 1;
}

int macho_load(const unsigned char *file, size_t len, macho_resolver resolve, macho_image *image,
               char *err, size_t err_size)
{
    loader ld;
    memset(&ld, 0, sizeof ld);
    ld.file = file;
    ld.len = len;
    ld.err = err;
    ld.err_size = err_size;
    ld.page = (size_t)sysconf(_SC_PAGESIZE);
    memset(image, 0, sizeof *image);
    stream binds = {NULL, NULL, 0}, lazy = binds, rebase = binds, exports = binds;

    int ok = read_commands(&ld, &binds, &lazy, &rebase, &exports) && map_segments(&ld) &&
             apply_rebases(&ld, &rebase) && apply_binds(&ld, &binds, 0, resolve) &&
             apply_binds(&ld, &lazy, 1, resolve) && protect_segments(&ld);

    /* The header is the start of the segment that maps file offset 0. */
    const segment *text = NULL;
    for (int k = 0; ok && k < ld.nseg; ++k)
        if (ld.seg[k].fileoff == 0 && ld.seg[k].filesize != 0)
            text = &ld.seg[k];
    if (ok && !text)
        ok = fail(&ld, "no segment maps the header");

    if (ok) {
        image->exports_size = (size_t)(exports.end - exports.p);
        unsigned char *trie = (unsigned char *)malloc(image->exports_size + 1);
        if (!trie)
            abort();
        memcpy(trie, exports.p, image->exports_size);
        image->exports = trie;
    }
    image->map = ld.map;
    image->map_size = ld.map ? (size_t)((ld.hi - ld.lo + ld.page - 1) / ld.page * ld.page) : 0;
    image->header = ok ? ld.map + (text->vmaddr - ld.lo) : NULL;
    if (!ok)
        macho_unload(image);
    return ok;
}

void *macho_symbol(const macho_image *image, const char *name)
{
    stream s = {image->exports, image->exports + image->exports_size, 0};
    const char *rest = name;
    /* Each step consumes at least one character of the name. */
    for (size_t steps = 0; steps <= strlen(name); ++steps) {
        uint64_t terminal = uleb(&s);
        const unsigned char *children = s.p + terminal;
        if (s.bad || terminal > (uint64_t)(s.end - s.p))
            return NULL;
        if (*rest == '\0') {
            if (terminal == 0)
                return NULL;
            uint64_t flags = uleb(&s);
            uint64_t offset = uleb(&s);
            if (s.bad || (flags & (EXPORT_SYMBOL_FLAGS_REEXPORT | EXPORT_SYMBOL_FLAGS_STUB_AND_RESOLVER)) ||
                (flags & EXPORT_SYMBOL_FLAGS_KIND_MASK) != EXPORT_SYMBOL_FLAGS_KIND_REGULAR)
                return NULL;
            return image->header + offset;
        }
        s.p = children;
        unsigned count = byte(&s);
        uint64_t next = 0;
        int found = 0;
        for (unsigned k = 0; k < count && !s.bad && !found; ++k) {
            const char *edge = cstring(&s);
            uint64_t child = uleb(&s);
            size_t n = edge ? strlen(edge) : 0;
            if (edge && n > 0 && strncmp(rest, edge, n) == 0) {
                rest += n;
                next = child;
                found = 1;
            }
        }
        if (!found || s.bad || next >= image->exports_size)
            return NULL;
        s.p = image->exports + next;
    }
    return NULL;
}

void macho_unload(macho_image *image)
{
    if (image->map)
        munmap(image->map, image->map_size);
    free((void *)image->exports);
    memset(image, 0, sizeof *image);
}
