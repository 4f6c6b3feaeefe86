/*
 * SHA-256 (FIPS 180-4), one-shot: the hash of a code signature's pages.
 */
#ifndef VORN_TESTS_SHA256_H
#define VORN_TESTS_SHA256_H

#include <stddef.h>

enum { SHA256_SIZE = 32 };

void sha256(const unsigned char *data, size_t len, unsigned char digest[SHA256_SIZE]);

#endif
