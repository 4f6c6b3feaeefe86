/*
 * An independent check of the ad hoc code signature that ld64.lld writes
 * into arm64 Mach-O files: the LC_CODE_SIGNATURE command, its SuperBlob
 * and the one CodeDirectory in it, every page hash recomputed from the
 * file and compared.
 */
#ifndef VORN_TESTS_CODE_SIGNATURE_H
#define VORN_TESTS_CODE_SIGNATURE_H

#include <stddef.h>
#include <stdint.h>

/* Returns 1 when file (len bytes) carries a linker-signed ad hoc signature
 * (SHA-256, 4096-byte pages, no special slots, no team) that names
 * `identifier` and whose page hashes match the file up to the signature;
 * otherwise 0, with the first fault found in err. */
int code_signature_check(const unsigned char *file, size_t len, const char *identifier, char *err,
                         size_t err_size);

/* The 32-bit numbers at p: little-endian, as in the Mach-O headers, and
 * big-endian, as in the signature's blobs. */
uint32_t le32(const unsigned char *p);
uint32_t be32(const unsigned char *p);

#endif
