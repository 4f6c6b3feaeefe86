/*
 * macho_signature: checks the ad hoc code signature of an arm64 Mach-O
 * file independently of the linker that wrote it.
 *
 *   macho_signature FILE IDENTIFIER            the signature is sound
 *   macho_signature FILE IDENTIFIER doctored   it is, and copies with one
 *                                              byte changed are refused
 *   macho_signature sha256                     the SHA-256 test vectors
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "code_signature.h"
#include "loader_checks.h"
#include "sha256.h"

/* FIPS 180-2's examples, and the two block boundaries of the padding. */
static int check_sha256(void)
{
    static const struct {
        const char *text;
        int repeat;
        const char *digest;
    } vectors[] = {
        {"", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"a", 1000000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {"a", 55, "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {"a", 56, "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {"a", 64, "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    };
    int failures = 0;
    for (size_t v = 0; v < sizeof vectors / sizeof vectors[0]; ++v) {
        const size_t n = strlen(vectors[v].text);
        const size_t len = n * (size_t)vectors[v].repeat;
        unsigned char *data = (unsigned char *)malloc(len + 1);
        for (int r = 0; r < vectors[v].repeat; ++r)
            memcpy(data + (size_t)r * n, vectors[v].text, n);
        unsigned char digest[SHA256_SIZE];
        sha256(data, len, digest);
        char hex[2 * SHA256_SIZE + 1];
        for (int k = 0; k < SHA256_SIZE; ++k)
            snprintf(hex + 2 * k, 3, "%02x", digest[k]);
        if (strcmp(hex, vectors[v].digest) != 0) {
            printf("sha256 of %zu bytes: %s, expected %s\n", len, hex, vectors[v].digest);
            ++failures;
        }
        free(data);
    }
    printf("sha256: %s\n", failures ? "FAILED" : "ok");
    return failures;
}

/* Where a copy is doctored: the code's first byte (the start of
 * __TEXT,__text) and the signature's offset, from the load commands. */
static int find_places(const unsigned char *f, size_t len, uint32_t *text, uint32_t *signature)
{
    *text = *signature = 0;
    const uint32_t ncmds = le32(f + 16);
    const unsigned char *c = f + 32;
    for (uint32_t k = 0; k < ncmds && c + 8 <= f + len; ++k) {
        const uint32_t cmd = le32(c), size = le32(c + 4);
        if (cmd == 0x19) /* LC_SEGMENT_64: its sections follow, 80 bytes each */
            for (uint32_t s = 0; s < le32(c + 64); ++s) {
                const unsigned char *sect = c + 72 + 80 * s;
                if (strncmp((const char *)sect, "__text", 16) == 0 && strncmp((const char *)sect + 16, "__TEXT", 16) == 0)
                    *text = le32(sect + 48);
            }
        if (cmd == 0x1d) /* LC_CODE_SIGNATURE */
            *signature = le32(c + 8);
        if (size == 0)
            break;
        c += size;
    }
    return *text != 0 && *signature != 0;
}

/* The offset of the last occurrence of n bytes in the file, or 0. */
static size_t find_last(const unsigned char *f, size_t len, const void *bytes, size_t n)
{
    for (size_t k = len - n; k > 0; --k)
        if (memcmp(f + k, bytes, n) == 0)
            return k;
    return 0;
}

/* Each copy has one byte changed; each must be refused, for its reason. */
static int check_doctored(const unsigned char *file, size_t len, const char *identifier)
{
    uint32_t text, signature;
    if (!find_places(file, len, &text, &signature)) {
        printf("doctored: no __text section or no signature\n");
        return 1;
    }
    unsigned char page1[SHA256_SIZE];
    sha256(file + 4096, 4096, page1);
    const uint32_t cd = signature + be32(file + signature + 16);
    const uint32_t last_page = (signature - 1) / 4096;
    char reason[5][64];
    snprintf(reason[0], sizeof reason[0], "page %u ", text / 4096);
    snprintf(reason[1], sizeof reason[1], "page %u ", last_page);
    snprintf(reason[2], sizeof reason[2], "page 1 ");
    snprintf(reason[3], sizeof reason[3], "identifier");
    snprintf(reason[4], sizeof reason[4], "flags");
    const struct {
        const char *what;
        size_t at;
        unsigned char xor_;
    } cases[5] = {
        {"the code's first byte", text, 0x01},
        {"the last byte below the signature", (size_t)signature - 1, 0x80},
        {"the stored hash of page 1", find_last(file, len, page1, sizeof page1), 0x01},
        {"a letter of the identifier", find_last(file, len, identifier, strlen(identifier) + 1), 0x20},
        {"the linker-signed flag", (size_t)cd + 13, 0x02},
    };
    int failures = 0;
    for (int c = 0; c < 5; ++c) {
        if (cases[c].at == 0 || cases[c].at >= len) {
            printf("doctored: %s not found\n", cases[c].what);
            ++failures;
            continue;
        }
        unsigned char *copy = (unsigned char *)malloc(len);
        memcpy(copy, file, len);
        copy[cases[c].at] ^= cases[c].xor_;
        char err[256] = "";
        if (code_signature_check(copy, len, identifier, err, sizeof err)) {
            printf("doctored: accepted with %s changed\n", cases[c].what);
            ++failures;
        } else if (strstr(err, reason[c]) == NULL) {
            printf("doctored: %s changed, refused for another reason: %s\n", cases[c].what, err);
            ++failures;
        } else {
            printf("refused as expected (%s changed): %s\n", cases[c].what, err);
        }
        free(copy);
    }
    return failures;
}

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "sha256") == 0)
        return check_sha256() == 0 ? 0 : 1;
    if (argc != 3 && !(argc == 4 && strcmp(argv[3], "doctored") == 0)) {
        fprintf(stderr, "usage: macho_signature FILE IDENTIFIER [doctored] | macho_signature sha256\n");
        return 2;
    }
    size_t len;
    unsigned char *file = read_whole_file(argv[1], &len);
    char err[256];
    int failures = 0;
    if (code_signature_check(file, len, argv[2], err, sizeof err)) {
        printf("%s: signature sound, every page hash matches\n", argv[1]);
    } else {
        printf("%s: %s\n", argv[1], err);
        ++failures;
    }
    if (argc == 4)
        failures += check_doctored(file, len, argv[2]);
    free(file);
    return failures == 0 ? 0 : 1;
}
