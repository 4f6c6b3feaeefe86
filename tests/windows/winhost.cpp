/*
 * Host program for the Windows plug-in under test: loads it by file name,
 * looks its entry point up by name, and runs the shared cases through it.
 *
 *   winhost PLUGIN load                  load, look up, start and end a thread
 *   winhost PLUGIN cases [CW]            message and numeric cases
 *   winhost PLUGIN diff SEED COUNT [CW]  seeded random cases, one hash a line
 *
 * CW is the x87 control word (hexadecimal) set before the cases run; the
 * default is 0x27F, the one Windows starts its threads with. The stand-in
 * libmx.dll and libmex.dll that the plug-in imports are the test host.
 */
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cases.h"

#if defined(__i386__)
static const int built_x87 = 1;
#else
static const int built_x87 = 0;
#endif

static void set_x87_control_word(unsigned short cw)
{
    __asm__ volatile("fldcw %0" : : "m"(cw));
}

static unsigned short x87_control_word(void)
{
    unsigned short cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    return cw;
}

static DWORD WINAPI idle_thread(LPVOID arg)
{
    (void)arg;
    return 0;
}

/* A thread that starts and ends while the plug-in is loaded: the loader
 * would tell every DLL that asks for thread notifications. */
static int start_and_end_thread(void)
{
    HANDLE thread = CreateThread(NULL, 0, idle_thread, NULL, 0, NULL);
    if (!thread)
        return 0;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return 1;
}

static int usage(void)
{
    fprintf(stderr, "usage: winhost PLUGIN load | cases [CW] | diff SEED COUNT [CW]\n");
    return 2;
}

int main(int argc, char **argv)
{
    if (argc < 3)
        return usage();
    /* Lines end in \n alone, as the native runner's do. */
    _setmode(_fileno(stdout), _O_BINARY);

    HMODULE plugin = LoadLibraryExA(argv[1], NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!plugin) {
        fprintf(stderr, "cannot load %s: error %lu\n", argv[1], (unsigned long)GetLastError());
        return 1;
    }
    th_entry entry = (th_entry)(void (*)(void))GetProcAddress(plugin, "mexFunction");
    if (!entry) {
        fprintf(stderr, "%s has no mexFunction\n", argv[1]);
        return 1;
    }

    const char *mode = argv[2];
    int cw_arg = 3;
    if (strcmp(mode, "diff") == 0)
        cw_arg = 5;
    unsigned long cw = argc > cw_arg ? strtoul(argv[cw_arg], NULL, 16) : 0x27F;
    set_x87_control_word((unsigned short)cw);
    if (x87_control_word() != cw) {
        fprintf(stderr, "x87 control word is %#x, not %#lx\n", x87_control_word(), cw);
        return 1;
    }

    int failed = 0;
    if (strcmp(mode, "load") == 0) {
        if (start_and_end_thread())
            printf("loaded %s\n", argv[1]);
        else
            failed = 1;
    }
    else if (strcmp(mode, "cases") == 0)
        failed = run_gateway_cases(entry, built_x87) != 0;
    else if (strcmp(mode, "diff") == 0 && argc >= 5)
        run_differential(entry, (unsigned)strtoul(argv[3], NULL, 10), atoi(argv[4]), stdout);
    else
        return usage();

    /* The plug-in works at whatever precision it finds and leaves it so. */
    if (x87_control_word() != cw) {
        fprintf(stderr, "the plug-in left the x87 control word at %#x, not %#lx\n", x87_control_word(), cw);
        failed = 1;
    }
    return failed;
}
