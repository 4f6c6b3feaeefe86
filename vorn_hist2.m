function varargout = vorn_hist2(varargin)
%VORN_HIST2  Joint intensity histogram of two uint8 volumes.
%
%   H = vorn_hist2(VOL1, VOL2, M)
%   H = vorn_hist2(VOL1, VOL2, M, SKIPS)
%
%   Walks VOL1 on a regular grid that starts at voxel (1,1,1) and is spaced
%   by SKIPS, moves every grid point by a fixed pseudo-random fraction of a
%   step, maps the moved point into VOL2 with M and, where it lands inside
%   VOL2, samples both volumes by trilinear interpolation and counts the
%   pair of values in H. Equal arguments always give an equal H.
%
%   Arguments
%     VOL1, VOL2  real uint8 arrays with exactly three dimensions. Their
%                 sizes may differ. A single-slice volume (N-by-M-by-1) is
%                 rejected: the host drops a trailing dimension of size 1,
%                 so such an array has only two dimensions. A volume needs
%                 at least 3 voxels along an axis for the grid to have a
%                 point on it (with SKIPS of 1), and VOL2 at least 2.
%     M           real 4x4 double matrix that maps 1-based voxel
%                 coordinates of VOL1 to 1-based voxel coordinates of VOL2
%                 (voxels, not millimetres):
%                     [x2; y2; z2] = M(1:3,:) * [x1; y1; z1; 1]
%                 The fourth row is ignored. Points that M sends outside
%                 VOL2, or to NaN, are not counted.
%     SKIPS       optional real double vector of three elements (1x3 or
%                 3x1): the grid steps along the first, second and third
%                 axes of VOL1, in voxels. Default [1 1 1]. Each step is
%                 rounded to single precision; fractional steps are
%                 allowed. A NaN or Inf step leaves no grid point (H is all
%                 zero).
%
%   Result
%     H           256x256 double matrix. H(i+1, j+1) holds the weight
%                 counted for VOL2 value i (row) and VOL1 value j (column),
%                 i and j from 0 to 255. Every counted point adds 1 in
%                 total: all of it in the column of VOL1's sample rounded
%                 to the nearest whole number, shared linearly between the
%                 two rows that bracket VOL2's sample. sum(H(:)) is thus,
%                 to rounding, the number of points that landed in VOL2.
%
%   Data of other classes
%     Scale to 0..255 and convert first, for example:
%         x = double(x);
%         u = uint8(round(255 * (x - min(x(:))) / (max(x(:)) - min(x(:)))));
%
%   Errors (the whole message; Octave puts "vorn_hist2: " in front)
%     Incorrect usage.           not 3 or 4 arguments, or more than 1 result
%     Wrong sort of data (1).    VOL1 is not a real uint8 array
%     Wrong number of dims (1).  VOL1 does not have three dimensions
%     Wrong sort of data (2).    the same for VOL2
%     Wrong number of dims (2).  the same for VOL2
%     Wrong sort of matrix.      M is not a real, full (non-sparse) double
%     Matrix must be 4x4.        M does not have 4 rows and 4 columns
%     Invalid skips.             SKIPS is not a real, full double array of
%                                3 elements, or a step is zero, negative,
%                                or too small to move the grid along VOL1
%                                (1e-9; also 1, the default, on an axis
%                                of more than 2^24 + 2 voxels)
%   The arguments are tested in this order; the first failure reports.
%
%   Example
%     vol = uint8(randi([0 255], 40, 40, 20));
%     M = eye(4);
%     M(1,4) = 0.5;                          % half a voxel along axis 1
%     H = vorn_hist2(vol, vol, M, [2 2 1]);
%     imagesc(log(1 + H)); axis xy;
%     xlabel('volume 1 value'); ylabel('volume 2 value');
%
%   This file holds the help text. The compiled plug-in in the same folder
%   takes precedence when vorn_hist2 is called: vorn_hist2.mex in GNU
%   Octave, which the Octave package builds on installation
%       pkg install vorn_hist2-*.tar.gz     (from dist/)
%       pkg load vorn_hist2
%   or build_octave in the source folder; in MATLAB the file for the
%   platform, vorn_hist2.mexa64, .mexw64, .mexw32 or .mexmaci64 from dist/
%   (mexext names the one MATLAB loads).

if exist('OCTAVE_VERSION', 'builtin')
  msg = ['No vorn_hist2 plug-in that GNU Octave can load is on the path ' ...
         '(the files in dist/ are for MATLAB). Install the Octave package ' ...
         'from dist/ with' char(10) ...
         '  pkg install vorn_hist2-*.tar.gz' char(10) ...
         '  pkg load vorn_hist2' char(10) ...
         'or run build_octave in the source folder, which builds vorn_hist2.mex there.'];
else
  msg = sprintf(['No compiled vorn_hist2 plug-in for this platform is on the path. ' ...
                 'Put vorn_hist2.%s from dist/ into %s, beside vorn_hist2.m, ' ...
                 'or run build_mex in the source folder.'], ...
                mexext, fileparts(mfilename('fullpath')));
end
error('vorn_hist2:noPlugin', '%s', msg);

