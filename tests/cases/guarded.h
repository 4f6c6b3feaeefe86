/*
 * Memory whose last byte is followed by a page the process may not touch,
 * so that a read even one byte past a volume's data faults at once.
 * Header-only, for every platform's runner and the core tests.
 */
#ifndef VORN_TESTS_GUARDED_H
#define VORN_TESTS_GUARDED_H

#include <stddef.h>
#include <stdlib.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

struct guarded_block {
    void *base;
    size_t length;
    unsigned char *data; /* size bytes that end where the no-access page starts */
};

static inline guarded_block guarded_alloc(size_t size)
{
#ifdef _WIN32
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
#else
    const size_t page = (size_t)sysconf(_SC_PAGESIZE);
#endif
    guarded_block b;
    b.length = (size + page - 1) / page * page + page;
#ifdef _WIN32
    b.base = VirtualAlloc(NULL, b.length, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    DWORD old;
    if (!b.base || !VirtualProtect((char *)b.base + b.length - page, page, PAGE_NOACCESS, &old))
        abort();
#else
    b.base = mmap(NULL, b.length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (b.base == MAP_FAILED || mprotect((char *)b.base + b.length - page, page, PROT_NONE) != 0)
        abort();
#endif
    b.data = (unsigned char *)b.base + b.length - page - size;
    return b;
}

static inline void guarded_free(guarded_block b)
{
#ifdef _WIN32
    VirtualFree(b.base, 0, MEM_RELEASE);
#else
    munmap(b.base, b.length);
#endif
}

#endif
