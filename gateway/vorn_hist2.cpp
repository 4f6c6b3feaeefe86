/*
 * vorn_hist2(vol1, vol2, mat [, skips]): the host's entry point.
 *
 * Tests the arguments in a fixed order and stops at the first failure with
 * its message; creates the 256x256 result, hands it to the caller, and lets
 * the core add the joint histogram into it.
 */
#include "mex.h"

#include "../core/hist2.h"

/* The core reads the host's size arrays as size_t. */
static_assert(sizeof(mwSize) == sizeof(size_t), "host size type must be as wide as size_t");

/* Each test asks the host in this order and stops at the first answer
 * that decides. */
static bool is_volume(const mxArray *a)
{
    return mxIsNumeric(a) && mxIsUint8(a) && !mxIsComplex(a);
}

/* Sparse storage can hold fewer values than rows x columns: refusing it
 * keeps the matrix and the skips from being read past their end. */
static bool is_dense_double(const mxArray *a)
{
    return mxIsNumeric(a) && mxIsDouble(a) && !mxIsComplex(a) && !mxIsSparse(a);
}

void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[])
{
    if ((nrhs != 3 && nrhs != 4) || nlhs > 1)
        mexErrMsgTxt("Incorrect usage.");

    if (!is_volume(prhs[0]))
        mexErrMsgTxt("Wrong sort of data (1).");
    if (mxGetNumberOfDimensions(prhs[0]) != 3)
        mexErrMsgTxt("Wrong number of dims (1).");
    const size_t *dim1 = (const size_t *)mxGetDimensions(prhs[0]);

    if (!is_volume(prhs[1]))
        mexErrMsgTxt("Wrong sort of data (2).");
    if (mxGetNumberOfDimensions(prhs[1]) != 3)
        mexErrMsgTxt("Wrong number of dims (2).");
    const size_t *dim2 = (const size_t *)mxGetDimensions(prhs[1]);

    if (!is_dense_double(prhs[2]))
        mexErrMsgTxt("Wrong sort of matrix.");
    if (mxGetM(prhs[2]) != 4 || mxGetN(prhs[2]) != 4)
        mexErrMsgTxt("Matrix must be 4x4.");

    float skips[3] = {1.0f, 1.0f, 1.0f};
    if (nrhs == 4) {
        if (!is_dense_double(prhs[3]) || mxGetM(prhs[3]) * mxGetN(prhs[3]) != 3)
            mexErrMsgTxt("Invalid skips.");
        const double *s = mxGetPr(prhs[3]);
        for (int k = 0; k < 3; ++k)
            skips[k] = (float)s[k];
    }
    /* Zero, negative, or too small to move a coordinate: the walk would
     * never end (this holds for the default skips on very long axes too).
     * Or so small that the grid has more points than a call may visit: it
     * would run for days, and a plug-in call cannot be interrupted. */
    if (!hist2_walk_ends(dim1, skips) || hist2_grid_points(dim1, skips) > HIST2_MAX_POINTS)
        mexErrMsgTxt("Invalid skips.");

    plhs[0] = mxCreateDoubleMatrix(256, 256, mxREAL);
    hist2(mxGetPr(prhs[2]), (const unsigned char *)mxGetData(prhs[0]),
          (const unsigned char *)mxGetData(prhs[1]), dim1, dim2, mxGetPr(plhs[0]), skips);
}
