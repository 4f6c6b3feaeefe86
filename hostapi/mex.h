/*
 * The host's plug-in API as this project uses it: the array type, the size
 * type, the array functions of libmx, the error call of libmex and the entry
 * point that the host calls. The one description of that API in the tree:
 * the in-process test host and every platform's link stand-ins implement
 * exactly these functions.
 *
 * Windows and macOS hosts export three array functions under their 7.3
 * names (suffix _730); Linux hosts export them under their plain names at
 * symbol version v7.3 of libmx, which the link against libmx.so records.
 */
#ifndef VORN_HOSTAPI_MEX_H
#define VORN_HOSTAPI_MEX_H

#include <stddef.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

typedef size_t mwSize;
typedef struct mxArray_tag mxArray;
typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

#if defined(_WIN32) || defined(__APPLE__)
#define mxGetNumberOfDimensions mxGetNumberOfDimensions_730
#define mxGetDimensions mxGetDimensions_730
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_730
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* libmx */
bool mxIsNumeric(const mxArray *a);
bool mxIsUint8(const mxArray *a);
bool mxIsDouble(const mxArray *a);
bool mxIsComplex(const mxArray *a);
bool mxIsSparse(const mxArray *a);
mwSize mxGetNumberOfDimensions(const mxArray *a);
const mwSize *mxGetDimensions(const mxArray *a);
size_t mxGetM(const mxArray *a);
size_t mxGetN(const mxArray *a);
double *mxGetPr(const mxArray *a);
void *mxGetData(const mxArray *a);
mxArray *mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity flag);

/* libmex: reports msg to the caller and does not return. */
void mexErrMsgTxt(const char *msg);

/* The plug-in's entry point, called once per call from the host. */
void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

#ifdef __cplusplus
}
#endif

#endif
