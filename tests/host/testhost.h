/*
 * In-process test host: makes host arrays of any class, complexity,
 * sparseness and dimensions, implements every function of mex.h over them,
 * and calls a plug-in entry point the way the host does. Its error call
 * ends the plug-in call without returning (the call returns the message).
 * It records what the plug-in asked and created, for tests to inspect.
 *
 * The same source serves every platform's runner: linked directly into the
 * native tests, and built into stand-in host libraries (libmx/libmex) for the
 * Windows host program and the Mach-O test loader.
 */
#ifndef VORN_TESTS_TESTHOST_H
#define VORN_TESTS_TESTHOST_H

#include <stddef.h>

#include "mex.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    TH_DOUBLE, TH_SINGLE, TH_UINT8, TH_INT8, TH_INT32, TH_LOGICAL, TH_CHAR, TH_CELL
} th_class;

/* A new array with every element zero. A sparse array stores nnz values
 * (its data holds only those). */
mxArray *th_make(th_class cls, size_t ndim, const size_t *dims, int complex_, int sparse, size_t nnz);
/* Conveniences: an m x n real double matrix filled from values (column-major,
 * may be NULL for zeros), and a real uint8 volume filled from voxels. */
mxArray *th_make_double(size_t m, size_t n, const double *values);
mxArray *th_make_uint8(size_t d0, size_t d1, size_t d2, const unsigned char *voxels);
/* A real uint8 array over voxels that stay the caller's (th_free leaves
 * them alone): lets tests pass volumes mapped lazily, larger than memory. */
mxArray *th_wrap_uint8(size_t ndim, const size_t *dims, void *voxels);
void th_free(mxArray *a);

typedef void (*th_entry)(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

/* Calls entry as the host does. Returns NULL when it returned, or the text
 * passed to mexErrMsgTxt (valid until the next call) when it failed; the
 * arrays a failed call created are destroyed, as the host does. One call
 * at a time: calls do not nest. */
const char *th_call(th_entry entry, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

/* What the last th_call did: the number of arrays it created, and its log of
 * host calls, one function name per line, in call order. */
size_t th_created(void);
const char *th_log(void);

#ifdef __cplusplus
}
#endif

#endif
