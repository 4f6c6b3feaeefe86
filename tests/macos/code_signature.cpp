/*
 * The code signature of a Mach-O file, read back. LC_CODE_SIGNATURE points
 * at a SuperBlob in __LINKEDIT, at the end of the file; its index names
 * each blob by slot. An ad hoc signature that the linker makes holds one
 * blob, the CodeDirectory: it names the file, and lists the SHA-256 hash
 * of every 4096-byte page of the file below codeLimit (the last page
 * short), which is where the signature starts. The blobs are big-endian;
 * the Mach-O header and load commands little-endian.
 */
#include "code_signature.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "sha256.h"

enum {
    MH_MAGIC_64 = 0xfeedfacf,
    LC_SEGMENT_64 = 0x19,
    LC_CODE_SIGNATURE = 0x1d,
    CSMAGIC_EMBEDDED_SIGNATURE = 0xfade0cc0,
    CSMAGIC_CODEDIRECTORY = 0xfade0c02,
    CSSLOT_CODEDIRECTORY = 0,
    CS_ADHOC = 0x2,
    CS_LINKER_SIGNED = 0x20000,
    CS_HASHTYPE_SHA256 = 2,
    CD_VERSION_EXECSEG = 0x20400, /* the first version with the exec segment fields */
    CD_HEADER_SIZE = 88,          /* the CodeDirectory's fields at that version */
    PAGE_SHIFT = 12,
};

static int fail(char *err, size_t err_size, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(err, err_size, fmt, ap);
    va_end(ap);
    return 0;
}

uint32_t le32(const unsigned char *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static uint64_t le64(const unsigned char *p)
{
    return (uint64_t)le32(p) | (uint64_t)le32(p + 4) << 32;
}

uint32_t be32(const unsigned char *p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}

static uint64_t be64(const unsigned char *p)
{
    return (uint64_t)be32(p) << 32 | be32(p + 4);
}

typedef struct {
    uint32_t dataoff, datasize;   /* the signature */
    uint64_t text_off, text_size; /* __TEXT in the file */
    uint64_t link_off, link_size; /* __LINKEDIT in the file */
} layout;

static int read_layout(const unsigned char *f, size_t len, layout *lay, char *err, size_t err_size)
{
    if (len < 32 || le32(f) != MH_MAGIC_64)
        return fail(err, err_size, "not a 64-bit Mach-O file");
    uint32_t ncmds = le32(f + 16), sizeofcmds = le32(f + 20);
    if (32 + (uint64_t)sizeofcmds > len)
        return fail(err, err_size, "load commands run past the file");
    int signatures = 0, text = 0, linkedit = 0;
    const unsigned char *c = f + 32, *end = c + sizeofcmds;
    for (uint32_t k = 0; k < ncmds; ++k) {
        if (end - c < 8)
            return fail(err, err_size, "load command %u runs past the commands", k);
        uint32_t cmd = le32(c), size = le32(c + 4);
        if (size < 8 || size > (uint64_t)(end - c))
            return fail(err, err_size, "load command %u has a bad size", k);
        if (cmd == LC_CODE_SIGNATURE) {
            if (size != 16)
                return fail(err, err_size, "LC_CODE_SIGNATURE has size %u, not 16", size);
            lay->dataoff = le32(c + 8);
            lay->datasize = le32(c + 12);
            ++signatures;
        } else if (cmd == LC_SEGMENT_64 && size >= 72) {
            if (strncmp((const char *)c + 8, "__TEXT", 16) == 0) {
                lay->text_off = le64(c + 40);
                lay->text_size = le64(c + 48);
                ++text;
            } else if (strncmp((const char *)c + 8, "__LINKEDIT", 16) == 0) {
                lay->link_off = le64(c + 40);
                lay->link_size = le64(c + 48);
                ++linkedit;
            }
        }
        c += size;
    }
    if (signatures != 1)
        return fail(err, err_size, "%d LC_CODE_SIGNATURE commands, not 1", signatures);
    if (text != 1 || linkedit != 1)
        return fail(err, err_size, "no single __TEXT and __LINKEDIT segment");
    if ((uint64_t)lay->dataoff + lay->datasize > len || lay->dataoff % 16 != 0)
        return fail(err, err_size, "the signature lies outside the file or is not 16-byte aligned");
    if (lay->dataoff < lay->link_off || lay->dataoff + (uint64_t)lay->datasize > lay->link_off + lay->link_size)
        return fail(err, err_size, "the signature lies outside __LINKEDIT");
    return 1;
}

/* The CodeDirectory of the SuperBlob at sig (size bytes): its offset in
 * sig and its length, once both are in bounds. */
static int find_code_directory(const unsigned char *sig, uint32_t size, uint32_t *at, uint32_t *length,
                               char *err, size_t err_size)
{
    if (size < 12 || be32(sig) != CSMAGIC_EMBEDDED_SIGNATURE)
        return fail(err, err_size, "no SuperBlob (magic 0x%08x)", size < 4 ? 0u : be32(sig));
    uint32_t blob_length = be32(sig + 4), count = be32(sig + 8);
    if (blob_length > size || 12 + (uint64_t)count * 8 > blob_length)
        return fail(err, err_size, "SuperBlob length %u or count %u out of bounds", blob_length, count);
    /* The linker's ad hoc signature: a code directory and nothing else. */
    if (count != 1 || be32(sig + 12) != CSSLOT_CODEDIRECTORY)
        return fail(err, err_size, "the SuperBlob holds %u blobs, not the code directory alone", count);
    *at = be32(sig + 16);
    if ((uint64_t)*at + CD_HEADER_SIZE > blob_length || be32(sig + *at) != CSMAGIC_CODEDIRECTORY)
        return fail(err, err_size, "no code directory at offset %u", *at);
    *length = be32(sig + *at + 4);
    if (*length < CD_HEADER_SIZE || (uint64_t)*at + *length > blob_length)
        return fail(err, err_size, "code directory length %u out of bounds", *length);
    return 1;
}

int code_signature_check(const unsigned char *file, size_t len, const char *identifier, char *err,
                         size_t err_size)
{
    layout lay;
    memset(&lay, 0, sizeof lay);
    if (!read_layout(file, len, &lay, err, err_size))
        return 0;
    const unsigned char *sig = file + lay.dataoff;
    uint32_t at = 0, length = 0;
    if (!find_code_directory(sig, lay.datasize, &at, &length, err, err_size))
        return 0;
    const unsigned char *cd = sig + at;

    const uint32_t version = be32(cd + 8), flags = be32(cd + 12);
    const uint32_t hash_offset = be32(cd + 16), ident_offset = be32(cd + 20);
    const uint32_t special_slots = be32(cd + 24), code_slots = be32(cd + 28), code_limit = be32(cd + 32);
    const unsigned hash_size = cd[36], hash_type = cd[37], platform = cd[38], page_shift = cd[39];
    const uint32_t scatter = be32(cd + 44), team = be32(cd + 48);
    const uint64_t code_limit64 = be64(cd + 56);
    const uint64_t exec_base = be64(cd + 64), exec_limit = be64(cd + 72), exec_flags = be64(cd + 80);

    if (version < CD_VERSION_EXECSEG)
        return fail(err, err_size, "code directory version 0x%x, older than 0x%x", version, CD_VERSION_EXECSEG);
    if (flags != (CS_ADHOC | CS_LINKER_SIGNED))
        return fail(err, err_size, "code directory flags 0x%x, not ad hoc and linker-signed (0x%x)", flags,
                    CS_ADHOC | CS_LINKER_SIGNED);
    if (hash_type != CS_HASHTYPE_SHA256 || hash_size != SHA256_SIZE)
        return fail(err, err_size, "hash type %u of size %u, not SHA-256 (2, 32)", hash_type, hash_size);
    if (page_shift != PAGE_SHIFT)
        return fail(err, err_size, "page size 2^%u, not 4096", page_shift);
    if (special_slots != 0 || scatter != 0 || team != 0 || platform != 0 || code_limit64 != 0)
        return fail(err, err_size, "special slots, a scatter vector, a team, a platform or a 64-bit code limit");
    if (code_limit != lay.dataoff)
        return fail(err, err_size, "code limit %u is not where the signature starts (%u)", code_limit, lay.dataoff);
    if (exec_base != lay.text_off || exec_limit != lay.text_size || exec_flags != 0)
        return fail(err, err_size, "executable segment %llu+%llu (flags 0x%llx) is not __TEXT",
                    (unsigned long long)exec_base, (unsigned long long)exec_limit, (unsigned long long)exec_flags);

    if (ident_offset < CD_HEADER_SIZE || ident_offset >= length ||
        memchr(cd + ident_offset, 0, length - ident_offset) == NULL)
        return fail(err, err_size, "the identifier lies outside the code directory");
    if (strcmp((const char *)cd + ident_offset, identifier) != 0)
        return fail(err, err_size, "identifier \"%s\", not \"%s\"", (const char *)cd + ident_offset, identifier);

    const uint32_t pages = (code_limit + (1u << PAGE_SHIFT) - 1) >> PAGE_SHIFT;
    if (code_slots != pages)
        return fail(err, err_size, "%u page hashes for %u pages", code_slots, pages);
    if (hash_offset < CD_HEADER_SIZE || (uint64_t)hash_offset + (uint64_t)code_slots * SHA256_SIZE > length)
        return fail(err, err_size, "the page hashes lie outside the code directory");
    for (uint32_t k = 0; k < code_slots; ++k) {
        const uint32_t start = k << PAGE_SHIFT;
        const uint32_t size = code_limit - start < (1u << PAGE_SHIFT) ? code_limit - start : 1u << PAGE_SHIFT;
        unsigned char digest[SHA256_SIZE];
        sha256(file + start, size, digest);
        if (memcmp(digest, cd + hash_offset + (size_t)k * SHA256_SIZE, SHA256_SIZE) != 0)
            return fail(err, err_size, "page %u (bytes %u to %u) does not match its hash", k, start, start + size);
    }
    return 1;
}
