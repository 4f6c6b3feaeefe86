/*
 * In-process test host: host arrays, the host API over them, and the call
 * of a plug-in entry point with an error call that does not return.
 *
 * The error call leaves the plug-in with a non-local jump back into
 * th_call. The plug-in may be a separate library built by another compiler
 * (a mingw DLL, a clang bundle), so the jump must not unwind through its
 * frames: the compiler's built-in setjmp/longjmp pair only restores the
 * stack and frame pointers and jumps, with no unwinder and no exceptions.
 *
 * Kept to the C library's stdlib, string, stdio and setjmp so that every
 * platform's runner can build it.
 */
#include "testhost.h"

#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct mxArray_tag {
    th_class cls;
    size_t ndim;
    mwSize *dims;    /* the array's own sizes, handed out by mxGetDimensions */
    int complex_;
    int sparse;
    size_t count;    /* values stored: all elements, or nnz when sparse */
    void *real;
    void *imag;
    int borrowed;    /* real belongs to the caller (th_wrap_uint8) */
};

static size_t element_size(th_class cls)
{
    switch (cls) {
    case TH_DOUBLE: return sizeof(double);
    case TH_SINGLE: return sizeof(float);
    case TH_INT32: return 4;
    case TH_CHAR: return 2;
    case TH_CELL: return sizeof(void *);
    case TH_UINT8:
    case TH_INT8:
    case TH_LOGICAL: return 1;
    }
    return 1;
}

/* Every host array has at least two dimensions. */
static mxArray *new_header(th_class cls, size_t ndim, const size_t *dims)
{
    mxArray *a = (mxArray *)calloc(1, sizeof(mxArray));
    if (!a)
        abort();
    a->cls = cls;
    a->ndim = ndim < 2 ? 2 : ndim;
    a->dims = (mwSize *)malloc(a->ndim * sizeof(mwSize));
    if (!a->dims)
        abort();
    for (size_t k = 0; k < a->ndim; ++k)
        a->dims[k] = k < ndim ? dims[k] : 1;
    return a;
}

/* Number of elements, or (size_t)-1 when the product overflows. */
static size_t element_count(const mxArray *a)
{
    size_t n = 1;
    for (size_t k = 0; k < a->ndim; ++k) {
        if (a->dims[k] != 0 && n > (size_t)-1 / a->dims[k])
            return (size_t)-1;
        n *= a->dims[k];
    }
    return n;
}

/* Exactly count values, so that a read past the end is a real overrun
 * (and a sanitizer's finding). calloc leaves large blocks untouched until
 * read, so volumes of a few hundred megabytes cost little. */
static void *zeroed_block(size_t count, size_t size)
{
    void *p = calloc(count != 0 ? count : 1, size);
    if (!p)
        abort();
    return p;
}

mxArray *th_make(th_class cls, size_t ndim, const size_t *dims, int complex_, int sparse, size_t nnz)
{
    mxArray *a = new_header(cls, ndim, dims);
    a->complex_ = complex_ != 0;
    a->sparse = sparse != 0;
    a->count = a->sparse ? nnz : element_count(a);
    const size_t size = element_size(cls);
    a->real = zeroed_block(a->count, size);
    if (a->complex_)
        a->imag = zeroed_block(a->count, size);
    return a;
}

mxArray *th_make_double(size_t m, size_t n, const double *values)
{
    const size_t dims[2] = {m, n};
    mxArray *a = th_make(TH_DOUBLE, 2, dims, 0, 0, 0);
    if (values)
        memcpy(a->real, values, m * n * sizeof(double));
    return a;
}

mxArray *th_make_uint8(size_t d0, size_t d1, size_t d2, const unsigned char *voxels)
{
    const size_t dims[3] = {d0, d1, d2};
    mxArray *a = th_make(TH_UINT8, 3, dims, 0, 0, 0);
    if (voxels)
        memcpy(a->real, voxels, a->count);
    return a;
}

mxArray *th_wrap_uint8(size_t ndim, const size_t *dims, void *voxels)
{
    mxArray *a = new_header(TH_UINT8, ndim, dims);
    a->count = element_count(a);
    a->real = voxels;
    a->borrowed = 1;
    return a;
}

void th_free(mxArray *a)
{
    if (!a)
        return;
    if (!a->borrowed)
        free(a->real);
    free(a->imag);
    free(a->dims);
    free(a);
}

/* State of the current (or last) call. */
#define TH_MAX_CREATED 16
static char call_log[4096];
static size_t log_used;
static size_t created_count;
static mxArray *created[TH_MAX_CREATED];
static char error_text[1024];
static int in_call;

/* clang has no __builtin_setjmp on arm64; the library's setjmp serves. */
#if (defined(__GNUC__) || defined(__clang__)) && !defined(__aarch64__)
static void *error_jump[5];
#define TH_SETJMP() __builtin_setjmp(error_jump)
#define TH_LONGJMP() __builtin_longjmp(error_jump, 1)
#else
static jmp_buf error_jump;
#define TH_SETJMP() setjmp(error_jump)
#define TH_LONGJMP() longjmp(error_jump, 1)
#endif

/* Only the plug-in's calls are logged: a test that inspects a result
 * afterwards leaves the log of the call as it was. */
static void log_call(const char *name)
{
    const size_t n = strlen(name);
    if (!in_call)
        return;
    if (log_used + n + 2 > sizeof call_log)
        return; /* a full log keeps its first entries */
    memcpy(call_log + log_used, name, n);
    log_used += n;
    call_log[log_used++] = '\n';
    call_log[log_used] = '\0';
}

/* Out of line so that the caller's frame is the one __builtin_setjmp
 * saves, and the compiler keeps it for the jump back. */
#if defined(__GNUC__) || defined(__clang__)
__attribute__((noinline))
#endif
static int guarded_call(th_entry entry, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[])
{
    if (TH_SETJMP() != 0)
        return 1;
    entry(nlhs, plhs, nrhs, prhs);
    return 0;
}

const char *th_call(th_entry entry, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[])
{
    log_used = 0;
    call_log[0] = '\0';
    created_count = 0;
    error_text[0] = '\0';
    in_call = 1;
    const int failed = guarded_call(entry, nlhs, plhs, nrhs, prhs);
    in_call = 0;
    if (!failed)
        return NULL;
    /* The host destroys what a failed call created. */
    for (size_t k = 0; k < created_count && k < TH_MAX_CREATED; ++k) {
        th_free(created[k]);
        created[k] = NULL;
    }
    return error_text;
}

size_t th_created(void)
{
    return created_count;
}

const char *th_log(void)
{
    return call_log;
}

/* libmx */

bool mxIsNumeric(const mxArray *a)
{
    log_call("mxIsNumeric");
    return a->cls != TH_LOGICAL && a->cls != TH_CHAR && a->cls != TH_CELL;
}

bool mxIsUint8(const mxArray *a)
{
    log_call("mxIsUint8");
    return a->cls == TH_UINT8;
}

bool mxIsDouble(const mxArray *a)
{
    log_call("mxIsDouble");
    return a->cls == TH_DOUBLE;
}

bool mxIsComplex(const mxArray *a)
{
    log_call("mxIsComplex");
    return a->complex_ != 0;
}

bool mxIsSparse(const mxArray *a)
{
    log_call("mxIsSparse");
    return a->sparse != 0;
}

mwSize mxGetNumberOfDimensions(const mxArray *a)
{
    log_call("mxGetNumberOfDimensions");
    return a->ndim;
}

const mwSize *mxGetDimensions(const mxArray *a)
{
    log_call("mxGetDimensions");
    return a->dims;
}

size_t mxGetM(const mxArray *a)
{
    log_call("mxGetM");
    return a->dims[0];
}

/* Columns: the product of every size after the first. */
size_t mxGetN(const mxArray *a)
{
    log_call("mxGetN");
    size_t n = 1;
    for (size_t k = 1; k < a->ndim; ++k)
        n *= a->dims[k];
    return n;
}

double *mxGetPr(const mxArray *a)
{
    log_call("mxGetPr");
    return (double *)a->real;
}

void *mxGetData(const mxArray *a)
{
    log_call("mxGetData");
    return a->real;
}

mxArray *mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity flag)
{
    log_call("mxCreateDoubleMatrix");
    const size_t dims[2] = {m, n};
    mxArray *a = th_make(TH_DOUBLE, 2, dims, flag == mxCOMPLEX, 0, 0);
    if (created_count < TH_MAX_CREATED)
        created[created_count] = a;
    ++created_count;
    return a;
}

/* libmex */

void mexErrMsgTxt(const char *msg)
{
    log_call("mexErrMsgTxt");
    if (!in_call) {
        fprintf(stderr, "mexErrMsgTxt outside a call: %s\n", msg);
        abort();
    }
    strncpy(error_text, msg, sizeof error_text - 1);
    error_text[sizeof error_text - 1] = '\0';
    TH_LONGJMP();
}
