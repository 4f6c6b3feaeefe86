/*
 * A libmx.so from a host without the 7.3 array API (its functions carry
 * another version) is on the library path: loading vorn_hist2.mexa64 must
 * fail, and for the missing version v7.3.
 * Usage: dlopen_refused FILE
 */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    /* The library itself loads: only the version is missing. */
    void *mx = dlopen("libmx.so", RTLD_NOW | RTLD_LOCAL);
    if (!mx || !dlsym(mx, "mxGetDimensions") || dlvsym(mx, "mxGetDimensions", "v7.3")) {
        printf("FAIL the libmx.so on the path is not one without v7.3\n");
        return 1;
    }
    void *plugin = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (plugin) {
        printf("FAIL the plug-in loaded against a libmx.so without v7.3\n");
        return 1;
    }
    const char *why = dlerror();
    printf("refused: %s\n", why);
    if (!strstr(why, "v7.3")) {
        printf("FAIL refused for another reason\n");
        return 1;
    }
    return 0;
}
