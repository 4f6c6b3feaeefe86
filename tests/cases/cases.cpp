/*
 * End-to-end cases of vorn_hist2's entry point, run through the test host.
 *
 * Kept to the C library's stdio, stdlib and string so that every platform's
 * runner (native, i386, mingw, the Mach-O loader) builds the same file.
 */
#include "cases.h"

#include <stdlib.h>
#include <string.h>

#include "face_cases.h"

#define HIST_SIZE 65536

static int passed;
static int failed;

static void check(int ok, const char *name, const char *what)
{
    if (ok) {
        ++passed;
    } else {
        ++failed;
        printf("FAIL %s: %s\n", name, what);
    }
}

static double from_bits(unsigned long long bits)
{
    double d;
    memcpy(&d, &bits, sizeof d);
    return d;
}

static unsigned single_bits(float f)
{
    unsigned u;
    memcpy(&u, &f, sizeof u);
    return u;
}

static float single_from_bits(unsigned bits)
{
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}

static mxArray *make2(th_class cls, size_t m, size_t n, int complex_)
{
    const size_t dims[2] = {m, n};
    return th_make(cls, 2, dims, complex_, 0, 0);
}

static mxArray *make3(th_class cls, size_t d0, size_t d1, size_t d2, int complex_)
{
    const size_t dims[3] = {d0, d1, d2};
    return th_make(cls, 3, dims, complex_, 0, 0);
}

static mxArray *make_sparse(size_t m, size_t n, size_t nnz)
{
    const size_t dims[2] = {m, n};
    return th_make(TH_DOUBLE, 2, dims, 0, 1, nnz);
}

static mxArray *make_skips(double s0, double s1, double s2)
{
    const double s[3] = {s0, s1, s2};
    return th_make_double(1, 3, s);
}

/* A 4x4 double whose first three rows are zero except the last column:
 * every point maps onto (x, y, z) of volume 2. */
static mxArray *make_translation(double x, double y, double z)
{
    double m[16] = {0};
    m[12] = x;
    m[13] = y;
    m[14] = z;
    m[15] = 1;
    return th_make_double(4, 4, m);
}

static mxArray *make_identity(void)
{
    double m[16] = {0};
    m[0] = m[5] = m[10] = m[15] = 1;
    return th_make_double(4, 4, m);
}

static mxArray *make_filled(size_t d0, size_t d1, size_t d2, unsigned char value)
{
    mxArray *a = th_make_uint8(d0, d1, d2, NULL);
    memset(mxGetData(a), value, d0 * d1 * d2);
    return a;
}

/* A volume with a varied but fixed content. */
static mxArray *make_pattern(size_t d0, size_t d1, size_t d2)
{
    mxArray *a = th_make_uint8(d0, d1, d2, NULL);
    unsigned char *v = (unsigned char *)mxGetData(a);
    for (size_t k = 0; k < d0 * d1 * d2; ++k)
        v[k] = (unsigned char)((k * 37 + (k / 7) * 11) % 256);
    return a;
}

/* Expects the call to fail with msg, creating nothing and leaving both
 * result slots as they were. */
static void expect_error(th_entry entry, const char *name, int nlhs, int nrhs, const mxArray **prhs,
                         const char *msg)
{
    mxArray *const sentinel = (mxArray *)&passed;
    mxArray *plhs[2] = {sentinel, sentinel};
    const char *got = th_call(entry, nlhs, plhs, nrhs, prhs);
    char what[256];
    snprintf(what, sizeof what, "expected \"%s\", got %s%s%s", msg, got ? "\"" : "", got ? got : "success",
             got ? "\"" : "");
    check(got != NULL && strcmp(got, msg) == 0, name, what);
    check(th_created() == 0, name, "an array was created");
    check(plhs[0] == sentinel && plhs[1] == sentinel, name, "a result slot was written");
}

/* Calls with one result and copies the histogram into hist. Returns 0 and
 * reports when the call fails or the result is not a real 256x256 double. */
static int run(th_entry entry, const char *name, int nrhs, const mxArray **prhs, double *hist)
{
    mxArray *plhs[1] = {NULL};
    const char *got = th_call(entry, 1, plhs, nrhs, prhs);
    if (got) {
        check(0, name, got);
        return 0;
    }
    mxArray *r = plhs[0];
    const int shaped = r != NULL && th_created() == 1 && mxIsDouble(r) && !mxIsComplex(r) && !mxIsSparse(r) &&
                       mxGetM(r) == 256 && mxGetN(r) == 256;
    check(shaped, name, "the result is not one real 256x256 double matrix");
    if (shaped)
        memcpy(hist, mxGetPr(r), HIST_SIZE * sizeof(double));
    th_free(r);
    return shaped;
}

/* Every element zero except the listed ones, which hold their values. */
static void expect_only(const char *name, const double *hist, int n, const int *index, const double *value)
{
    char what[256];
    for (int k = 0; k < HIST_SIZE; ++k) {
        double want = 0;
        for (int e = 0; e < n; ++e)
            if (index[e] == k)
                want = value[e];
        if (hist[k] != want) {
            snprintf(what, sizeof what, "hist[%d] is %.17g, expected %.17g", k, hist[k], want);
            check(0, name, what);
            return;
        }
    }
    check(1, name, "");
}

static void expect_one(const char *name, const double *hist, int index, double value)
{
    expect_only(name, hist, 1, &index, &value);
}

static void expect_same(const char *name, const double *a, const double *b)
{
    check(memcmp(a, b, HIST_SIZE * sizeof(double)) == 0, name, "the two results differ");
}

static void message_cases(th_entry entry)
{
    mxArray *vol = make_filled(10, 10, 10, 0);
    mxArray *mat = make_identity();
    mxArray *skips = make_skips(1, 1, 1);

    /* Volumes of the wrong sort, each rejected for either slot. */
    mxArray *bad_kind[] = {
        make3(TH_INT8, 4, 4, 4, 0),   make3(TH_DOUBLE, 4, 4, 4, 0), make3(TH_LOGICAL, 4, 4, 4, 0),
        make3(TH_UINT8, 4, 4, 4, 1),  make3(TH_SINGLE, 4, 4, 4, 0), make3(TH_INT32, 4, 4, 4, 0),
        make3(TH_CHAR, 4, 4, 4, 0),   make3(TH_CELL, 4, 4, 4, 0),
    };
    const char *bad_kind_name[] = {"int8", "double", "logical", "complex uint8", "single", "int32", "char", "cell"};
    const int n_bad_kind = (int)(sizeof bad_kind / sizeof bad_kind[0]);
    const size_t dims4[4] = {4, 4, 4, 2};
    mxArray *bad_dims[] = {make2(TH_UINT8, 4, 4, 0), th_make(TH_UINT8, 4, dims4, 0, 0, 0)};
    const char *bad_dims_name[] = {"2-D", "4-D"};

    /* Matrices of the wrong sort or shape. */
    mxArray *bad_mat_kind[] = {
        make2(TH_SINGLE, 4, 4, 0), make2(TH_DOUBLE, 4, 4, 1), make2(TH_SINGLE, 3, 3, 0),
        make2(TH_INT32, 4, 4, 0),  make2(TH_LOGICAL, 4, 4, 0), make_sparse(4, 4, 1),
    };
    const char *bad_mat_kind_name[] = {"single 4x4", "complex 4x4", "single 3x3", "int32 4x4", "logical 4x4",
                                       "sparse 4x4"};
    mxArray *bad_mat_shape[] = {th_make_double(4, 3, NULL), th_make_double(3, 4, NULL), th_make_double(1, 16, NULL),
                                th_make_double(16, 1, NULL), th_make_double(2, 8, NULL)};
    const char *bad_mat_shape_name[] = {"4x3", "3x4", "1x16", "16x1", "2x8"};

    /* Skips of the wrong sort or shape, and values the walk cannot finish. */
    mxArray *bad_skips[] = {
        th_make_double(2, 2, NULL), th_make_double(1, 4, NULL), th_make_double(0, 0, NULL),
        make2(TH_SINGLE, 1, 3, 0),  make2(TH_INT32, 1, 3, 0),   make2(TH_DOUBLE, 1, 3, 1),
        make_sparse(1, 3, 1),       th_make_double(1, 2, NULL), make_skips(0, 1, 1),
        make_skips(1, -1, 1),       make_skips(1, 1, from_bits(0xfff0000000000000ULL)),
        make_skips(1e-9, 1, 1),
    };
    const char *bad_skips_name[] = {"2x2", "1x4", "empty", "single", "int32", "complex", "sparse", "1x2",
                                    "zero", "negative", "-Inf", "1e-9"};

    const mxArray *args[5] = {vol, vol, mat, skips, skips};
    expect_error(entry, "no arguments", 1, 0, args, "Incorrect usage.");
    expect_error(entry, "two arguments", 1, 2, args, "Incorrect usage.");
    expect_error(entry, "five arguments", 1, 5, args, "Incorrect usage.");
    expect_error(entry, "two results", 2, 4, args, "Incorrect usage.");

    for (int k = 0; k < n_bad_kind; ++k) {
        char name[64];
        const mxArray *a1[4] = {bad_kind[k], vol, mat, skips};
        snprintf(name, sizeof name, "volume 1 %s", bad_kind_name[k]);
        expect_error(entry, name, 1, 4, a1, "Wrong sort of data (1).");
        const mxArray *a2[4] = {vol, bad_kind[k], mat, skips};
        snprintf(name, sizeof name, "volume 2 %s", bad_kind_name[k]);
        expect_error(entry, name, 1, 4, a2, "Wrong sort of data (2).");
    }
    for (int k = 0; k < 2; ++k) {
        char name[64];
        const mxArray *a1[4] = {bad_dims[k], vol, mat, skips};
        snprintf(name, sizeof name, "volume 1 %s", bad_dims_name[k]);
        expect_error(entry, name, 1, 4, a1, "Wrong number of dims (1).");
        const mxArray *a2[4] = {vol, bad_dims[k], mat, skips};
        snprintf(name, sizeof name, "volume 2 %s", bad_dims_name[k]);
        expect_error(entry, name, 1, 4, a2, "Wrong number of dims (2).");
    }
    for (int k = 0; k < (int)(sizeof bad_mat_kind / sizeof bad_mat_kind[0]); ++k) {
        char name[64];
        const mxArray *a[4] = {vol, vol, bad_mat_kind[k], skips};
        snprintf(name, sizeof name, "matrix %s", bad_mat_kind_name[k]);
        expect_error(entry, name, 1, 4, a, "Wrong sort of matrix.");
    }
    for (int k = 0; k < (int)(sizeof bad_mat_shape / sizeof bad_mat_shape[0]); ++k) {
        char name[64];
        const mxArray *a[4] = {vol, vol, bad_mat_shape[k], skips};
        snprintf(name, sizeof name, "matrix %s", bad_mat_shape_name[k]);
        expect_error(entry, name, 1, 4, a, "Matrix must be 4x4.");
    }
    for (int k = 0; k < (int)(sizeof bad_skips / sizeof bad_skips[0]); ++k) {
        char name[64];
        const mxArray *a[4] = {vol, vol, mat, bad_skips[k]};
        snprintf(name, sizeof name, "skips %s", bad_skips_name[k]);
        expect_error(entry, name, 1, 4, a, "Invalid skips.");
    }

    /* The first failing test in order decides. */
    {
        const mxArray *a[2] = {bad_kind[0], bad_kind[1]};
        expect_error(entry, "wrong count and bad volume", 1, 2, a, "Incorrect usage.");
        const mxArray *b[4] = {vol, vol, mat, skips};
        expect_error(entry, "two results and bad volume", 2, 4, b, "Incorrect usage.");
        const mxArray *c[4] = {bad_dims[0], bad_kind[0], bad_mat_kind[0], bad_skips[0]};
        expect_error(entry, "all four bad", 1, 4, c, "Wrong number of dims (1).");
        const mxArray *d[4] = {vol, bad_kind[0], bad_mat_kind[0], bad_skips[0]};
        expect_error(entry, "bad volume 2 and matrix", 1, 4, d, "Wrong sort of data (2).");
        const mxArray *e[4] = {vol, bad_dims[1], bad_mat_shape[0], skips};
        expect_error(entry, "4-D volume 2 and 4x3 matrix", 1, 4, e, "Wrong number of dims (2).");
        const mxArray *f[4] = {vol, vol, bad_mat_kind[2], bad_skips[0]};
        expect_error(entry, "single 3x3 matrix and bad skips", 1, 4, f, "Wrong sort of matrix.");
        const mxArray *g[4] = {vol, vol, bad_mat_shape[1], bad_skips[0]};
        expect_error(entry, "3x4 matrix and bad skips", 1, 4, g, "Matrix must be 4x4.");
    }

    for (int k = 0; k < n_bad_kind; ++k)
        th_free(bad_kind[k]);
    for (int k = 0; k < 2; ++k)
        th_free(bad_dims[k]);
    for (size_t k = 0; k < sizeof bad_mat_kind / sizeof bad_mat_kind[0]; ++k)
        th_free(bad_mat_kind[k]);
    for (size_t k = 0; k < sizeof bad_mat_shape / sizeof bad_mat_shape[0]; ++k)
        th_free(bad_mat_shape[k]);
    for (size_t k = 0; k < sizeof bad_skips / sizeof bad_skips[0]; ++k)
        th_free(bad_skips[k]);
    th_free(vol);
    th_free(mat);
    th_free(skips);
}

/* Calls the caller may make that are accepted with an all-zero result. */
static void accepted_cases(th_entry entry, double *hist)
{
    mxArray *vol = make_pattern(6, 7, 8);
    mxArray *mat = make_identity();
    const double nan = from_bits(0x7ff8000000000000ULL);
    const double inf = from_bits(0x7ff0000000000000ULL);

    /* No result asked for: stored all the same. */
    {
        const mxArray *a[3] = {vol, vol, mat};
        mxArray *plhs[1] = {NULL};
        const char *got = th_call(entry, 0, plhs, 3, a);
        check(got == NULL && plhs[0] != NULL && th_created() == 1 && mxGetM(plhs[0]) == 256 &&
                  mxGetN(plhs[0]) == 256,
              "no result asked for", got ? got : "no result stored");
        th_free(plhs[0]);
    }

    /* Skips that leave no grid point. */
    const double no_walk[][3] = {{nan, 1, 1}, {1, nan, 1}, {1, 1, inf}, {inf, inf, inf}, {nan, nan, nan}};
    const char *no_walk_name[] = {"NaN skip x", "NaN skip y", "+Inf skip z", "+Inf skips", "NaN skips"};
    for (int k = 0; k < 5; ++k) {
        mxArray *s = make_skips(no_walk[k][0], no_walk[k][1], no_walk[k][2]);
        const mxArray *a[4] = {vol, vol, mat, s};
        if (run(entry, no_walk_name[k], 4, a, hist))
            expect_only(no_walk_name[k], hist, 0, NULL, NULL);
        th_free(s);
    }

    /* A size of 0, sizes of 1 and 2, and matrices that are singular or not
     * finite: accepted, and nothing lands. */
    {
        mxArray *empty = make3(TH_UINT8, 10, 0, 10, 0);
        mxArray *thin = make_filled(1, 10, 10, 5);
        mxArray *two = make_filled(10, 2, 10, 5);
        const mxArray *a[3] = {empty, vol, mat};
        if (run(entry, "size 0 in volume 1", 3, a, hist))
            expect_only("size 0 in volume 1", hist, 0, NULL, NULL);
        const mxArray *b[3] = {vol, empty, mat};
        if (run(entry, "size 0 in volume 2", 3, b, hist))
            expect_only("size 0 in volume 2", hist, 0, NULL, NULL);
        const mxArray *c[3] = {thin, vol, mat};
        if (run(entry, "size 1 in volume 1", 3, c, hist))
            expect_only("size 1 in volume 1", hist, 0, NULL, NULL);
        const mxArray *d[3] = {vol, thin, mat};
        if (run(entry, "size 1 in volume 2", 3, d, hist))
            expect_only("size 1 in volume 2", hist, 0, NULL, NULL);
        const mxArray *e[3] = {two, vol, mat};
        if (run(entry, "size 2 in volume 1", 3, e, hist))
            expect_only("size 2 in volume 1", hist, 0, NULL, NULL);
        th_free(empty);
        th_free(thin);
        th_free(two);
    }
    {
        const double values[] = {0, nan, inf, -inf, 1e308, -1e308};
        const char *names[] = {"zero matrix", "NaN matrix", "+Inf matrix", "-Inf matrix", "1e308 matrix",
                               "-1e308 matrix"};
        for (int k = 0; k < 6; ++k) {
            double m[16];
            for (int e = 0; e < 16; ++e)
                m[e] = values[k];
            mxArray *bad = th_make_double(4, 4, m);
            const mxArray *a[3] = {vol, vol, bad};
            /* The zero matrix maps every point to (0, 0, 0), outside. */
            if (run(entry, names[k], 3, a, hist))
                expect_only(names[k], hist, 0, NULL, NULL);
            th_free(bad);
        }
    }
    th_free(vol);
    th_free(mat);
}

static void numeric_cases(th_entry entry, int x87, double *hist, double *other)
{
    mxArray *zeros10 = make_filled(10, 10, 10, 0);
    mxArray *identity = make_identity();

    {
        const mxArray *a[3] = {zeros10, zeros10, identity};
        if (run(entry, "zero volumes", 3, a, hist))
            expect_one("zero volumes", hist, 0, 512);
    }
    {
        mxArray *v1 = make_filled(10, 10, 10, 3);
        mxArray *v2 = make_filled(5, 5, 5, 7);
        const mxArray *a[3] = {v1, v2, identity};
        if (run(entry, "unequal sizes", 3, a, hist))
            expect_one("unequal sizes", hist, 775, 64);
        th_free(v1);
        th_free(v2);
    }
    {
        /* One grid point, jittered to (1.891183, 1.488144, 1.992646). */
        unsigned char voxels[27];
        for (int k = 0; k < 27; ++k)
            voxels[k] = (unsigned char)k;
        mxArray *v = th_make_uint8(3, 3, 3, voxels);
        const mxArray *a[3] = {v, v, identity};
        const int index[2] = {11 + 256 * 11, 12 + 256 * 11};
        const double value64[2] = {0.71057033538818359, 0.28942966461181641};
        const double value87[2] = {0.7105712890625, 0.2894287109375};
        if (run(entry, "index volume", 3, a, hist))
            expect_only("index volume", hist, 2, index, x87 ? value87 : value64);
        th_free(v);
    }
    {
        /* Every point maps onto voxel (2, 3, 4) of volume 2, element 86. */
        mxArray *v1 = make_filled(10, 10, 10, 200);
        mxArray *v2 = make_filled(5, 5, 5, 0);
        unsigned char *e = (unsigned char *)mxGetData(v2);
        mxArray *to234 = make_translation(2, 3, 4);
        e[86] = 255;
        const mxArray *a[3] = {zeros10, v2, to234};
        if (run(entry, "translation to 255", 3, a, hist))
            expect_one("translation to 255", hist, 255, 512);
        e[86] = 17;
        const mxArray *b[3] = {v1, v2, to234};
        if (run(entry, "translation to 17", 3, b, hist))
            expect_one("translation to 17", hist, 51217, 512);

        /* x at e0 = 5, or below 1: outside. x at 4: voxel (4, 3, 4). */
        e[88] = 99;
        mxArray *to534 = make_translation(5, 3, 4);
        mxArray *below = make_translation(0.999, 3, 4);
        mxArray *to434 = make_translation(4, 3, 4);
        const mxArray *c[3] = {zeros10, v2, to534};
        if (run(entry, "translation to x = 5", 3, c, hist))
            expect_only("translation to x = 5", hist, 0, NULL, NULL);
        const mxArray *d[3] = {zeros10, v2, below};
        if (run(entry, "translation to x = 0.999", 3, d, hist))
            expect_only("translation to x = 0.999", hist, 0, NULL, NULL);
        const mxArray *f[3] = {zeros10, v2, to434};
        if (run(entry, "translation to x = 4", 3, f, hist))
            expect_one("translation to x = 4", hist, 99, 512);
        th_free(v1);
        th_free(v2);
        th_free(to234);
        th_free(to534);
        th_free(below);
        th_free(to434);
    }
    {
        /* Volume 2's value at (1.3, 1.6, 1.9) is w: row 107 gets 1 - frac
         * and row 108 frac, so the histogram shows w's bits. Both shares
         * are exact in single: frac = w - 107 has no bit below 2^-17. */
        const unsigned char corners[8] = {7, 200, 33, 129, 255, 0, 91, 18};
        mxArray *v1 = make_filled(3, 3, 3, 0);
        mxArray *v2 = th_make_uint8(2, 2, 2, corners);
        mxArray *to = make_translation((double)1.3f, (double)1.6f, (double)1.9f);
        const mxArray *a[3] = {v1, v2, to};
        if (run(entry, "sampler rounding", 3, a, hist)) {
            const float w = (float)(107.0 + hist[108]);
            const unsigned want = x87 ? 0x42D7C189u : 0x42D7C18Au;
            char what[128];
            snprintf(what, sizeof what, "w has bits %08X, expected %08X", single_bits(w), want);
            check(single_bits(w) == want, "sampler rounding", what);
            const double frac = (double)single_from_bits(want) - 107.0;
            const int index[2] = {107, 108};
            const double value[2] = {1.0 - frac, frac};
            expect_only("sampler rounding", hist, 2, index, value);
        }
        th_free(v1);
        th_free(v2);
        th_free(to);
    }
    {
        /* The largest single below 2 blends the last two voxels of x:
         * exactly 21 in the 64-bit builds, 20.9999981 on x87. */
        const unsigned char corners[8] = {10, 21, 0, 0, 0, 0, 0, 0};
        mxArray *v1 = make_filled(3, 3, 3, 0);
        mxArray *v2 = th_make_uint8(2, 2, 2, corners);
        mxArray *to = make_translation(from_bits(0x3FFFFFFFE0000000ULL), 1, 1);
        const mxArray *a[3] = {v1, v2, to};
        if (run(entry, "last voxel of an axis", 3, a, hist)) {
            if (x87) {
                const float w = (float)(20.0 + hist[21]);
                check(single_bits(w) == 0x41A7FFFFu, "last voxel of an axis", "w is not 41A7FFFF");
                const double frac = (double)single_from_bits(0x41A7FFFFu) - 20.0;
                const int index[2] = {20, 21};
                const double value[2] = {1.0 - frac, frac};
                expect_only("last voxel of an axis", hist, 2, index, value);
            } else {
                const int index[2] = {21, 22};
                const double value[2] = {1, 0};
                expect_only("last voxel of an axis", hist, 2, index, value);
            }
        }
        th_free(v1);
        th_free(v2);
        th_free(to);
    }
    {
        /* Fractional skips: 6 * 18 * 4 points, all inside. */
        mxArray *v = make_filled(12, 12, 12, 9);
        mxArray *row = make_skips(1.7, 0.6, 2.3);
        const double s[3] = {1.7, 0.6, 2.3};
        mxArray *column = th_make_double(3, 1, s);
        const mxArray *a[4] = {v, v, identity, row};
        if (run(entry, "fractional skips", 4, a, hist))
            expect_one("fractional skips", hist, 9 + 256 * 9, 432);

        /* 1x3 and 3x1 skips, and a second call, give the same result. */
        mxArray *p1 = make_pattern(12, 13, 11);
        mxArray *p2 = make_pattern(11, 12, 13);
        const mxArray *b[4] = {p1, p2, identity, row};
        const mxArray *c[4] = {p1, p2, identity, column};
        if (run(entry, "skips 1x3", 4, b, hist) && run(entry, "skips 3x1", 4, c, other))
            expect_same("skips 1x3 and 3x1", hist, other);
        if (run(entry, "second call", 4, b, other))
            expect_same("two calls", hist, other);

        mxArray *ones = make_skips(1, 1, 1);
        const mxArray *d[4] = {p1, p2, identity, ones};
        if (run(entry, "three arguments", 3, d, hist) && run(entry, "skips of ones", 4, d, other))
            expect_same("three arguments and skips [1 1 1]", hist, other);
        th_free(v);
        th_free(row);
        th_free(column);
        th_free(p1);
        th_free(p2);
        th_free(ones);
    }
    {
        /* Size 14, skip 2.6: the 64-bit limit rounds to the fifth
         * coordinate, the x87 limit lies above it. */
        mxArray *v = make_filled(14, 3, 3, 0);
        mxArray *s = make_skips(2.6, 1, 1);
        const mxArray *a[4] = {v, v, identity, s};
        if (run(entry, "size 14 skip 2.6", 4, a, hist))
            expect_one("size 14 skip 2.6", hist, 0, x87 ? 5 : 4);
        th_free(v);
        th_free(s);
    }
    {
        /* Default skips on an axis just over 2^24: the coordinate stops at
         * 2^24. The 64-bit limit of 2^24 + 2 rounds down to 2^24 and the
         * walk ends (x = 1 and 2 land in a 3x3x3 volume 2); the x87 limit
         * stays above it, so x87 refuses the call. 2^24 + 4 is refused by
         * both, unless its loop is never entered. */
        const size_t long_axis = ((size_t)1 << 24) + 2;
        mxArray *v1 = make3(TH_UINT8, long_axis, 3, 3, 0);
        mxArray *v2 = make_filled(3, 3, 3, 0);
        const mxArray *a[3] = {v1, v2, identity};
        if (x87) {
            expect_error(entry, "axis of 2^24 + 2", 1, 3, a, "Invalid skips.");
        } else if (run(entry, "axis of 2^24 + 2", 3, a, hist)) {
            expect_one("axis of 2^24 + 2", hist, 0, 2);
        }
        th_free(v1);
        /* One voxel less is accepted by both, one more refused by both. */
        mxArray *shorter = make3(TH_UINT8, long_axis - 1, 3, 3, 0);
        const mxArray *d[3] = {shorter, v2, identity};
        if (run(entry, "axis of 2^24 + 1", 3, d, hist))
            expect_one("axis of 2^24 + 1", hist, 0, 2);
        th_free(shorter);
        mxArray *odd = make3(TH_UINT8, long_axis + 1, 3, 3, 0);
        const mxArray *e[3] = {odd, v2, identity};
        expect_error(entry, "axis of 2^24 + 3", 1, 3, e, "Invalid skips.");
        th_free(odd);
        mxArray *longer = make3(TH_UINT8, long_axis + 2, 3, 3, 0);
        const mxArray *b[3] = {longer, v2, identity};
        expect_error(entry, "axis of 2^24 + 4", 1, 3, b, "Invalid skips.");
        th_free(longer);
        mxArray *unentered = make3(TH_UINT8, long_axis + 2, 2, 3, 0);
        const mxArray *c[3] = {unentered, v2, identity};
        if (run(entry, "axis of 2^24 + 4 never entered", 3, c, hist))
            expect_only("axis of 2^24 + 4 never entered", hist, 0, NULL, NULL);
        th_free(unentered);
        th_free(v2);
    }
    th_free(zeros10);
    th_free(identity);
}


/* Grids of more than 2^34 points are refused at once: such a call would
 * run for days and cannot be interrupted. */
static void cap_cases(th_entry entry)
{
    mxArray *mat = make_identity();
    {
        /* About 2 x 10^17 points: every step moves the coordinate. */
        mxArray *vol = make_filled(64, 64, 48, 7);
        mxArray *tiny = make_skips(1e-4, 1e-4, 1e-4);
        const mxArray *a[4] = {vol, vol, mat, tiny};
        expect_error(entry, "skips 1e-4 on 64x64x48", 1, 4, a, "Invalid skips.");
        /* One axis alone past the cap, the others with one point each. */
        mxArray *s = make_skips(1, 1, 1e-4);
        mxArray *tall = make_filled(3, 3, 1800000, 0);
        const mxArray *b[4] = {tall, vol, mat, s};
        expect_error(entry, "skip 1e-4 on 1800000 planes", 1, 4, b, "Invalid skips.");
        th_free(tall);
        th_free(s);
        th_free(tiny);
        th_free(vol);
    }
    if (sizeof(size_t) >= 8) {
        /* Three arguments on 4098 x 4098 x 1027 voxels: 2^34 + 2^24 points
         * at the default skips. The voxels are never read: a 1-byte stand-in. */
        static unsigned char stand_in;
        const size_t over[3] = {4098, 4098, 1027};
        mxArray *big = th_wrap_uint8(3, over, &stand_in);
        mxArray *small = make_filled(4, 4, 4, 0);
        const mxArray *a[3] = {big, small, mat};
        expect_error(entry, "default skips on 4098x4098x1027", 1, 3, a, "Invalid skips.");
        th_free(big);
        th_free(small);
    }
    th_free(mat);
}

/* Grid points along one axis by the walk's rule on this build. */
static size_t axis_count(size_t size, float skip, int x87)
{
    size_t n = 0;
    if (x87) {
        const long double limit = (long double)size - skip;
        for (volatile float c = 1.0f; (long double)c < limit; c = (float)((long double)c + skip))
            ++n;
    } else {
        const volatile float limit = (float)size - skip;
        for (volatile float c = 1.0f; c < limit; c = c + skip)
            ++n;
    }
    return n;
}

/* Calls whose jitter lands on volume 1's far face, with volume 1's data
 * ending against a no-access page: the sampler must read nothing past it.
 * Volume 1 holds 128 and volume 2 64 everywhere, so that every sample is
 * exact on every build and each point adds exactly 1 to element (64, 128). */
static void face_cases_run(th_entry entry, int x87, double *hist)
{
    mxArray *mat = make_identity();
    for (int n = 0; n < face_case_count; ++n) {
        size_t dim1[3], dim2[3];
        float skips[3];
        face_case_shape(face_cases[n], dim1, dim2, skips);
        const size_t count = dim1[0] * dim1[1] * dim1[2];
        guarded_block block = guarded_alloc(count);
        memset(block.data, 128, count);
        mxArray *v1 = th_wrap_uint8(3, dim1, block.data);
        mxArray *v2 = make_filled(dim2[0], dim2[1], dim2[2], 64);
        mxArray *s = make_skips(skips[0], skips[1], skips[2]);
        const mxArray *a[4] = {v1, v2, mat, s};
        char name[64];
        snprintf(name, sizeof name, "face case %d (axis %d, size %lu)", n, face_cases[n].axis,
                 (unsigned long)face_cases[n].size);
        if (run(entry, name, 4, a, hist)) {
            const double points = (double)(axis_count(dim1[0], skips[0], x87) * axis_count(dim1[1], skips[1], x87) *
                                           axis_count(dim1[2], skips[2], x87));
            expect_one(name, hist, 64 + 256 * 128, points);
        }
        th_free(s);
        th_free(v2);
        th_free(v1);
        guarded_free(block);
    }
    th_free(mat);
}

int run_gateway_cases(th_entry entry, int x87)
{
    passed = 0;
    failed = 0;
    double *hist = (double *)malloc(HIST_SIZE * sizeof(double));
    double *other = (double *)malloc(HIST_SIZE * sizeof(double));
    if (!hist || !other)
        abort();
    message_cases(entry);
    cap_cases(entry);
    accepted_cases(entry, hist);
    face_cases_run(entry, x87, hist);
    numeric_cases(entry, x87, hist, other);
    free(hist);
    free(other);
    printf("%d passed, %d failed\n", passed, failed);
    return failed;
}

/* Random cases. A 32-bit xorshift drives everything, and every value is a
 * whole number scaled by a power of two, exact on every build, so all
 * builds make the same calls. */
static unsigned rng_state;

static unsigned next_random(void)
{
    unsigned x = rng_state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    rng_state = x;
    return x;
}

/* A whole number from lo to hi inclusive. */
static int random_int(int lo, int hi)
{
    return lo + (int)(next_random() % (unsigned)(hi - lo + 1));
}

/* lo + (a 20-bit fraction) * (hi - lo), all exact in double. */
static double random_real(int lo, int hi)
{
    const double fraction = (double)(next_random() & 0xFFFFF) / 1048576.0;
    return lo + fraction * (hi - lo);
}

static unsigned long long fnv1a(const void *data, size_t size)
{
    const unsigned char *p = (const unsigned char *)data;
    unsigned long long h = 0xcbf29ce484222325ULL;
    for (size_t k = 0; k < size; ++k) {
        h ^= p[k];
        h *= 0x100000001b3ULL;
    }
    return h;
}

void run_differential(th_entry entry, unsigned seed, int count, FILE *out)
{
    rng_state = seed ? seed : 1;
    const double nan = from_bits(0x7ff8000000000000ULL);
    for (int n = 1; n <= count; ++n) {
        mxArray *vol[2];
        for (int v = 0; v < 2; ++v) {
            const int d0 = random_int(4 - v, 16), d1 = random_int(4 - v, 16), d2 = random_int(4 - v, 16);
            vol[v] = th_make_uint8((size_t)d0, (size_t)d1, (size_t)d2, NULL);
            unsigned char *p = (unsigned char *)mxGetData(vol[v]);
            /* Smooth content with noise, so that samples fall between
             * whole values. */
            for (int k = 0; k < d0 * d1 * d2; ++k)
                p[k] = (unsigned char)((k % d0) * 13 + (k / d0 % d1) * 7 + (k / (d0 * d1)) * 3 + random_int(0, 40));
        }

        /* Near the identity, shifted by up to 2 voxels, so that part of
         * volume 1 lands outside volume 2. */
        double m[16];
        for (int e = 0; e < 16; ++e) {
            const int row = e % 4, column = e / 4;
            if (row == 3)
                m[e] = column == 3 ? 1 : 0;
            else if (column == 3)
                m[e] = random_real(-2, 2);
            else if (row == column)
                m[e] = random_real(0, 1) * 0.5 + 0.75;
            else
                m[e] = random_real(-1, 1) * 0.25;
        }
        if (random_int(0, 9) == 0)
            m[random_int(0, 15)] = nan;
        mxArray *mat = th_make_double(4, 4, m);

        double s[3];
        for (int k = 0; k < 3; ++k)
            s[k] = random_int(0, 3) == 0 ? (double)random_int(1, 2) : random_real(0, 1) * 2 + 0.5;
        if (random_int(0, 19) == 0)
            s[random_int(0, 2)] = nan;
        mxArray *skips = th_make_double(1, 3, s);
        const int nrhs = random_int(0, 4) == 0 ? 3 : 4;

        const mxArray *prhs[4] = {vol[0], vol[1], mat, skips};
        mxArray *plhs[1] = {NULL};
        const char *got = th_call(entry, 1, plhs, nrhs, prhs);
        if (got) {
            fprintf(out, "%d error %s\n", n, got);
        } else {
            const unsigned long long h = fnv1a(mxGetPr(plhs[0]), HIST_SIZE * sizeof(double));
            fprintf(out, "%d %08lx%08lx\n", n, (unsigned long)(h >> 32), (unsigned long)(h & 0xffffffffUL));
        }
        th_free(plhs[0]);
        th_free(vol[0]);
        th_free(vol[1]);
        th_free(mat);
        th_free(skips);
    }
}
