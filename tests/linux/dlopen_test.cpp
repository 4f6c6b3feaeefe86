/*
 * Loads vorn_hist2.mexa64 the way the host does and checks what the host
 * looks up in it: the entry point and the version stamp at version MEX, the
 * stamp's text, and the entry point's behaviour over the shared cases. The
 * stand-in libmx.so on the library path is the in-process test host, so
 * the plug-in's host calls land in it.
 * Usage: dlopen_test FILE
 */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "cases.h"

typedef const char *(*version_fn)(void);

static int failures;

static void expect(bool ok, const char *what)
{
    if (!ok) {
        printf("FAIL %s\n", what);
        ++failures;
    }
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    void *plugin = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!plugin) {
        printf("FAIL dlopen: %s\n", dlerror());
        return 1;
    }

    void *entry = dlvsym(plugin, "mexFunction", "MEX");
    void *stamp = dlvsym(plugin, "mexVersion", "MEX");
    expect(entry != NULL, "mexFunction at version MEX");
    expect(stamp != NULL, "mexVersion at version MEX");
    if (!entry || !stamp)
        return 1;
    expect(dlsym(plugin, "mexFunction") == entry, "plain lookup of mexFunction finds its MEX version");
    expect(dlsym(plugin, "mexVersion") == stamp, "plain lookup of mexVersion finds its MEX version");
    expect(dlvsym(plugin, "mexFunction", "v7.3") == NULL, "mexFunction at another version");
    expect(dlsym(plugin, "hist2") == NULL, "hist2 is not exported");
    expect(dlsym(plugin, "hist2_walk_ends") == NULL, "hist2_walk_ends is not exported");

    version_fn version = reinterpret_cast<version_fn>(stamp);
    const char *text = version();
    expect(text != NULL && version() == text, "mexVersion returns the same pointer twice");
    expect(text != NULL && strlen(text) == 17 && memcmp(text, "MATLAB R14 native", 18) == 0,
           "mexVersion's text is \"MATLAB R14 native\"");
    Dl_info text_at, entry_at;
    expect(dladdr(text, &text_at) && dladdr(entry, &entry_at) && text_at.dli_fbase == entry_at.dli_fbase,
           "the text lies inside the plug-in");

    failures += run_gateway_cases(reinterpret_cast<th_entry>(entry), 0);
    expect(version() == text, "mexVersion after calls of mexFunction returns the same pointer");

    dlclose(plugin);
    printf("%s\n", failures ? "dlopen checks FAILED" : "dlopen checks passed");
    return failures != 0;
}
