/*
 * libFuzzer target: the entry point called through the in-process test host
 * with arguments decoded from the fuzzer's bytes: any argument and result
 * count, any class, complexity, sparseness and dimensions (0 and 1
 * included), matrices with NaN, infinities, +-1e308 or no inverse, and
 * skips of every kind, rejected ones included.
 *
 * A byte of 0 always decodes to the accepted choice, so short inputs make
 * valid calls and the walk is reached from the first input on.
 *
 * Besides the sanitizers, every call is checked: a failed call returns one
 * of the eight messages and creates nothing; a successful one returns a
 * 256x256 result of finite, non-negative weights adding up to at most one
 * per grid point. Inputs whose walk would visit more than max_points grid
 * points are skipped; a walk that would never end must be refused by the
 * entry point (otherwise the fuzzer's timeout reports it).
 *
 * The same source builds the x87 target (i386, x87 arithmetic), whose
 * grid follows the x87 build's rule: there the jitter can round a point onto
 * volume 1's far face on short axes. Inputs favour such boundaries on both
 * targets: axes of 2 to 64 voxels, skips of a few spacings of singles, and
 * translations just inside or outside volume 2's faces.
 */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "mex.h"
#include "testhost.h"

#if defined(__i386__) && !defined(__SSE_MATH__)
#define FUZZ_X87 1
/* Reaching a face of a short axis takes some 10^5 points on one axis. */
static const size_t max_points = 400000;
#else
#define FUZZ_X87 0
static const size_t max_points = 100000;
#endif
static const size_t max_bytes = 1 << 20;

/* Calls counted for the summary printed at exit. */
static unsigned long calls_made, calls_skipped, calls_failed, calls_accumulated;

/* Reads the fuzzer's bytes in order; 0 once they run out. */
struct reader {
    const uint8_t *p;
    size_t left;
};

static unsigned next_byte(reader *r)
{
    if (r->left == 0)
        return 0;
    --r->left;
    return *r->p++;
}

static double next_raw_double(reader *r)
{
    uint8_t b[8];
    for (int k = 0; k < 8; ++k)
        b[k] = (uint8_t)next_byte(r);
    double d;
    memcpy(&d, b, sizeof d);
    return d;
}

/* Values that matter to the walk and the mapping, then raw bit patterns. */
static double next_double(reader *r, double first)
{
    static const double special[] = {
        0.0, 1.0, 2.0, 0.5, 0.1, 1.7, 2.6, 3.0, -1.0, -0.5, 4.0, 5.0, 0.999, 1e-6, 1e-9,
        1e-50, 1e308, -1e308, INFINITY, -INFINITY, NAN, 255.0, 1e6, 16777216.0, 0.45,
        0.99999994, 1.0000001, 2.9999998, 3.0000002, -5.9604645e-8, 1e-5, 1.475e-5, 4.4703484e-7,
    };
    const unsigned n = sizeof special / sizeof special[0];
    const unsigned b = next_byte(r);
    if (b == 0)
        return first;
    if (b <= n)
        return special[b - 1];
    if (b < 208)
        return (double)(b - n) / 16.0 - 4.0;
    if (b < 240) {
        /* A few spacings of singles at coordinates 2 to 64 (or much
         * finer): the skips whose last grid point ends closest to the
         * limit. */
        const unsigned steps = next_byte(r);
        return ldexp(1.0 + steps / 32.0, -(int)(17 + (b - 208) % 16));
    }
    return next_raw_double(r);
}

static size_t next_size(reader *r, size_t first)
{
    static const size_t sizes[] = {3, 4, 5, 10, 0, 1, 2, 7, 16, 33, 64, 100, 255, 1000, 6, 12};
    const unsigned b = next_byte(r);
    if (b == 0)
        return first;
    return b < 128 ? sizes[b % (sizeof sizes / sizeof sizes[0])] : 2 + b % 63;
}

static size_t element_count(size_t ndim, const size_t *dims)
{
    size_t n = 1;
    for (size_t k = 0; k < ndim; ++k) {
        if (dims[k] != 0 && n > max_bytes / dims[k])
            return max_bytes + 1;
        n *= dims[k];
    }
    return n;
}

/* One argument. slot: 0 and 1 volumes, 2 the matrix, 3 the skips, 4 and
 * beyond surplus. Returns NULL when the array would be too large. */
static mxArray *next_array(reader *r, int slot)
{
    static const th_class classes[] = {TH_DOUBLE, TH_SINGLE, TH_UINT8, TH_INT8, TH_INT32, TH_LOGICAL, TH_CHAR, TH_CELL};
    const int is_volume = slot <= 1;
    const th_class expected = is_volume ? TH_UINT8 : TH_DOUBLE;

    const unsigned kind = next_byte(r);
    const th_class cls = kind % 4 != 3 ? expected : classes[(kind / 4) % 8];
    const unsigned flags = next_byte(r);

    /* Shape: the expected one, or any 0 to 5 dimensions. */
    size_t ndim;
    size_t dims[5];
    const unsigned shape = next_byte(r);
    if (shape % 4 != 3) {
        ndim = is_volume ? 3 : 2;
        dims[0] = is_volume ? next_size(r, 3) : (slot == 2 ? 4 : 1);
        dims[1] = is_volume ? next_size(r, 3) : (slot == 2 ? 4 : 3);
        dims[2] = is_volume ? next_size(r, 3) : 1;
        if (slot == 3 && shape % 4 == 1) {
            dims[0] = 3; /* a column of skips */
            dims[1] = 1;
        }
    } else {
        ndim = (shape / 4) % 6;
        for (size_t k = 0; k < ndim; ++k)
            dims[k] = next_size(r, 4);
    }
    /* As hosts make them: complex arrays are numeric, sparse arrays are
     * two-dimensional double or logical matrices. */
    const int complex_ = flags % 16 == 1 && cls != TH_LOGICAL && cls != TH_CHAR && cls != TH_CELL;
    const int sparse = flags % 16 == 2 && ndim <= 2 && (cls == TH_DOUBLE || cls == TH_LOGICAL);
    const size_t count = element_count(ndim, dims);
    if (count > max_bytes)
        return NULL;
    const size_t nnz = sparse ? next_byte(r) % (count + 1) : count;
    mxArray *a = th_make(cls, ndim, dims, complex_, sparse, nnz);

    if (cls == TH_UINT8) {
        unsigned char *v = (unsigned char *)mxGetData(a);
        const unsigned fill = next_byte(r);
        const unsigned value = next_byte(r);
        for (size_t k = 0; k < nnz; ++k) {
            switch (fill % 4) {
            case 0: v[k] = (unsigned char)(value + 37 * k); break;
            case 1: v[k] = (unsigned char)value; break;
            case 2: v[k] = (unsigned char)next_byte(r); break;
            default: v[k] = 255; break;
            }
        }
    } else if (cls == TH_DOUBLE) {
        double *v = mxGetPr(a);
        const unsigned mode = next_byte(r);
        for (size_t k = 0; k < nnz; ++k) {
            /* Matrices start from the identity (or a pure translation),
             * skips from ones. */
            double first = slot == 3 ? 1.0 : (k % 5 == 0 ? 1.0 : 0.0);
            if (slot == 2 && mode % 3 == 1)
                first = k >= 12 && k < 15 ? 2.0 : 0.0;
            v[k] = mode % 3 == 2 ? next_raw_double(r) : next_double(r, first);
        }
    }
    return a;
}

/* Grid points along one axis, by the walk's own rule: the limit is the size
 * in single (exact on x87) minus the skip, the coordinate a running
 * single-precision sum. Stops past max_points; SIZE_MAX when the
 * coordinate stops moving. */
static size_t axis_points(size_t size, float skip)
{
#if FUZZ_X87
    const long double limit = (long double)size - skip;
#else
    const float limit = (float)size - skip;
#endif
    size_t n = 0;
    for (volatile float c = 1.0f; c < limit;) {
        if (++n > max_points)
            return n;
        const volatile float next = c + skip;
        if (!(next > c))
            return SIZE_MAX;
        c = next;
    }
    return n;
}

/* Grid points that the call's walk would visit, as far as the arguments
 * would reach it; SIZE_MAX when the walk would never end. */
static size_t walk_points(int nrhs, const mxArray *const *prhs)
{
    if ((nrhs != 3 && nrhs != 4) || !mxIsUint8(prhs[0]) || mxGetNumberOfDimensions(prhs[0]) != 3)
        return 0;
    float skips[3] = {1.0f, 1.0f, 1.0f};
    if (nrhs == 4) {
        const mxArray *s = prhs[3];
        if (!mxIsDouble(s) || mxIsSparse(s) || mxIsComplex(s) || mxGetM(s) * mxGetN(s) != 3)
            return 0;
        for (int k = 0; k < 3; ++k)
            skips[k] = (float)mxGetPr(s)[k];
    }
    const mwSize *dims = mxGetDimensions(prhs[0]);
    size_t counts[3];
    for (int k = 0; k < 3; ++k) {
        counts[k] = axis_points(dims[k], skips[k]);
        if (counts[k] == 0)
            return 0;
    }
    size_t total = 1;
    for (int k = 0; k < 3; ++k) {
        if (counts[k] == SIZE_MAX)
            return SIZE_MAX;
        total = counts[k] > max_points / total ? max_points + 1 : total * counts[k];
    }
    return total;
}

#if FUZZ_X87
/* The x87 tag word: 0xFFFF when every register of the stack is empty, as
 * the calling convention requires between calls. */
static unsigned x87_tags(void)
{
    unsigned short env[14];
    __asm__ volatile("fnstenv %0; fldenv %0" : "=m"(env));
    return env[4];
}
#endif

static void check(int ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "check failed: %s\n", what);
        abort();
    }
}

static int known_message(const char *msg)
{
    static const char *const messages[] = {
        "Incorrect usage.", "Wrong sort of data (1).", "Wrong number of dims (1).",
        "Wrong sort of data (2).", "Wrong number of dims (2).", "Wrong sort of matrix.",
        "Matrix must be 4x4.", "Invalid skips.",
    };
    for (size_t k = 0; k < sizeof messages / sizeof messages[0]; ++k)
        if (strcmp(msg, messages[k]) == 0)
            return 1;
    return 0;
}

static void print_summary(void)
{
    fprintf(stderr, "fuzz_gateway: %lu calls, %lu refused, %lu with a nonzero histogram, %lu inputs skipped\n",
            calls_made, calls_failed, calls_accumulated, calls_skipped);
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    atexit(print_summary);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    reader r = {data, size};
    static const int nrhs_choices[] = {3, 4, 2, 5, 0, 1};
    static const int nlhs_choices[] = {1, 0, 2};
    const int nrhs = nrhs_choices[next_byte(&r) % 6];
    const int nlhs = nlhs_choices[next_byte(&r) % 3];

    mxArray *args[5] = {NULL, NULL, NULL, NULL, NULL};
    int made = 1;
    for (int k = 0; k < nrhs; ++k) {
        args[k] = next_array(&r, k);
        made = made && args[k] != NULL;
    }
    const size_t points = made ? walk_points(nrhs, args) : 0;
    if (!made || (points > max_points && points != SIZE_MAX)) {
        ++calls_skipped;
    } else {
        mxArray *plhs[2] = {NULL, NULL};
        const char *msg = th_call(mexFunction, nlhs, plhs, nrhs, (const mxArray **)args);
        ++calls_made;
#if FUZZ_X87
        check(x87_tags() == 0xFFFF, "the x87 register stack is empty after the call");
#endif
        if (msg) {
            ++calls_failed;
            check(known_message(msg), "a refused call reports one of the eight messages");
            check(th_created() == 0 && plhs[0] == NULL, "a refused call creates nothing");
        } else {
            check(points != SIZE_MAX, "a walk that never ends is refused");
            check(plhs[0] != NULL && plhs[1] == NULL, "the result is in slot 0 only");
            check(mxIsDouble(plhs[0]) && !mxIsComplex(plhs[0]) && mxGetM(plhs[0]) == 256 && mxGetN(plhs[0]) == 256,
                  "the result is a real 256x256 double matrix");
            const double *h = mxGetPr(plhs[0]);
            double sum = 0.0;
            for (size_t k = 0; k < 65536; ++k) {
                check(h[k] >= 0.0 && h[k] <= (double)points + 1.0, "every weight is finite and non-negative");
                sum += h[k];
            }
            if (!(sum <= (double)points * (1.0 + 1e-6)))
                fprintf(stderr, "weights add up to %.17g over %zu grid points\n", sum, points);
            check(sum <= (double)points * (1.0 + 1e-6), "at most one unit of weight per grid point");
            if (sum > 0.0)
                ++calls_accumulated;
            th_free(plhs[0]);
        }
    }
    for (int k = 0; k < 5; ++k)
        th_free(args[k]);
    return 0;
}
