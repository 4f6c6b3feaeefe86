/*
 * What the test loaders' runners share: reading a plug-in file whole, and
 * checking that copies of it with one import renamed are refused, with the
 * import named in the reason. Header-only.
 */
#ifndef VORN_TESTS_LOADER_CHECKS_H
#define VORN_TESTS_LOADER_CHECKS_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The whole file at path; exits with status 2 when it cannot be read. */
static inline unsigned char *read_whole_file(const char *path, size_t *len)
{
    FILE *f = fopen(path, "rb");
    if (!f) {
        perror(path);
        exit(2);
    }
    fseek(f, 0, SEEK_END);
    const long n = ftell(f);
    fseek(f, 0, SEEK_SET);
    unsigned char *data = (unsigned char *)malloc(n > 0 ? (size_t)n : 1);
    if (!data || n <= 0 || fread(data, 1, (size_t)n, f) != (size_t)n) {
        fprintf(stderr, "%s: cannot read\n", path);
        exit(2);
    }
    fclose(f);
    *len = (size_t)n;
    return data;
}

/* Replaces every occurrence of `from` (with its NUL) by `to`, of the same
 * length; returns how many it replaced. */
static inline int replace_string(unsigned char *file, size_t len, const char *from, const char *to)
{
    const size_t n = strlen(from) + 1;
    int count = 0;
    for (size_t k = 0; k + n <= len; ++k)
        if (memcmp(file + k, from, n) == 0) {
            memcpy(file + k, to, n);
            ++count;
        }
    return count;
}

struct renamed_import {
    const char *from, *to, *reason; /* reason: what the refusal must name */
};

/* Loads the copy (len bytes); returns 1 if it loaded (and unloads it), or 0
 * with the reason in err. */
typedef int (*try_load_fn)(const unsigned char *copy, size_t len, char *err, size_t err_size);

/* Each copy of file with one string renamed must be refused for the
 * reason given. Prints one line per case; returns the number of failures. */
static inline int check_refusals(const unsigned char *file, size_t len, const renamed_import *cases, int count,
                          try_load_fn try_load)
{
    int failures = 0;
    for (int c = 0; c < count; ++c) {
        unsigned char *copy = (unsigned char *)malloc(len);
        memcpy(copy, file, len);
        char err[256] = "";
        if (replace_string(copy, len, cases[c].from, cases[c].to) == 0) {
            printf("refuse: %s does not occur in the plug-in\n", cases[c].from);
            ++failures;
        } else if (try_load(copy, len, err, sizeof err)) {
            printf("refuse: the plug-in with %s for %s loaded\n", cases[c].to, cases[c].from);
            ++failures;
        } else if (strstr(err, cases[c].reason) == NULL) {
            printf("refuse: %s for %s refused for another reason: %s\n", cases[c].to, cases[c].from, err);
            ++failures;
        } else {
            printf("refused as expected: %s\n", err);
        }
        free(copy);
    }
    return failures;
}

#endif
