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
%                 allowed. A NaN or +Inf step leaves no grid point (H is
%                 all zero); -Inf, like any negative step, is refused.
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
%                                of more than 2^24 + 2 voxels, or 2^24 + 1
%                                on 32-bit Windows), or the grid would
%                                have more than 2^34 points (steps of 1e-4
%                                on a 64x64x48 VOL1; the default steps on
%                                a VOL1 of more than 2^34 voxels). A call
%                                cannot be interrupted, so it is refused
%                                at once rather than run for days.
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
%   platform from dist/: vorn_hist2.mexa64 (Linux), .mexw64 or .mexw32
%   (Windows), .mexmaci64 (Intel Mac) or .mexmaca64 (Apple silicon Mac,
%   macOS 11 or later); mexext names the one MATLAB loads.

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

% Tests for GNU Octave (test vorn_hist2, or pkg test vorn_hist2 once the
% package is installed). MATLAB reads these lines as comments.
%
% Every message, in the order the arguments are tested.
%!shared z, id
%! z = zeros(10, 10, 10, 'uint8');
%! id = eye(4);
%!error <^(vorn_hist2: )?Incorrect usage\.$> vorn_hist2(z, z)
%!error <^(vorn_hist2: )?Incorrect usage\.$> vorn_hist2(z, z, id, [1 1 1], 1)
%!error <^(vorn_hist2: )?Incorrect usage\.$> [a, b] = vorn_hist2(z, z, id)
%!error <^(vorn_hist2: )?Wrong sort of data \(1\)\.$> vorn_hist2(double(z), z, id)
%!error <^(vorn_hist2: )?Wrong sort of data \(1\)\.$> vorn_hist2(complex(z, z), z, id)
%!error <^(vorn_hist2: )?Wrong number of dims \(1\)\.$> vorn_hist2(zeros(10, 10, 'uint8'), z, id)
%!error <^(vorn_hist2: )?Wrong sort of data \(2\)\.$> vorn_hist2(z, int8(z), id)
%!error <^(vorn_hist2: )?Wrong number of dims \(2\)\.$> vorn_hist2(z, zeros(3, 3, 3, 2, 'uint8'), id)
%!error <^(vorn_hist2: )?Wrong sort of matrix\.$> vorn_hist2(z, z, single(id))
%!error <^(vorn_hist2: )?Wrong sort of matrix\.$> vorn_hist2(z, z, sparse(id))
%!error <^(vorn_hist2: )?Matrix must be 4x4\.$> vorn_hist2(z, z, zeros(4, 3))
%!error <^(vorn_hist2: )?Invalid skips\.$> vorn_hist2(z, z, id, [1 1])
%!error <^(vorn_hist2: )?Invalid skips\.$> vorn_hist2(z, z, id, single([1 1 1]))
%!error <^(vorn_hist2: )?Invalid skips\.$> vorn_hist2(z, z, id, [1 0 1])
%!error <^(vorn_hist2: )?Invalid skips\.$> vorn_hist2(z, z, id, [1 1 -2])
%!error <^(vorn_hist2: )?Invalid skips\.$> vorn_hist2(z, z, id, [1 1 -Inf])
%!error <^(vorn_hist2: )?Invalid skips\.$> vorn_hist2(zeros(64, 64, 48, 'uint8'), z, id, [1e-4 1e-4 1e-4])
%
% Constant volumes: the 8 x 8 x 8 grid points of a 10 x 10 x 10 volume all
% count in the one bin of the constant; a volume 2 of 5 x 5 x 5 takes the
% 4 x 4 x 4 of them that land inside it.
%!test
%! H = vorn_hist2(z, z, id);
%! assert(size(H), [256 256]);
%! assert(H(1, 1), 512);
%! assert(nnz(H), 1);
%!test
%! for c = [77 255]
%!   v = c * ones(10, 10, 10, 'uint8');
%!   H = vorn_hist2(v, v, id, [1; 1; 1]);
%!   assert(H(c + 1, c + 1), 512);
%!   assert(nnz(H), 1);
%! end
%!test
%! H = vorn_hist2(3 * ones(10, 10, 10, 'uint8'), 7 * ones(5, 5, 5, 'uint8'), id);
%! assert(H(8, 4), 64);
%! assert(nnz(H), 1);
%!test
%! H = vorn_hist2(9 * ones(12, 12, 12, 'uint8'), 9 * ones(12, 12, 12, 'uint8'), id, [1.7 0.6 2.3]);
%! assert(H(10, 10), 6 * 18 * 4);
%! assert(nnz(H), 1);
%
% A 3 x 3 x 3 volume whose voxels hold their element index, against itself:
% the one grid point (1, 1, 1) moves by the first three jitter fractions,
% 0.891183, 0.488144 and 0.992646. The volume is linear in the voxel
% coordinates (index = (x-1) + 3(y-1) + 9(z-1)), so trilinear sampling is
% exact and both samples are 0.891183 + 3 * 0.488144 + 9 * 0.992646 =
% 11.289429: column 11 (H(:, 12)), shared between rows 11 and 12 as
% 1 - 0.289429 and 0.289429.
%!test
%! v = reshape(uint8(0:26), 3, 3, 3);
%! H = vorn_hist2(v, v, id);
%! assert(H(12, 12), 0.710571, 2e-6);
%! assert(H(13, 12), 0.289429, 2e-6);
%! assert(H(12, 12) + H(13, 12), 1);
%! assert(nnz(H), 2);
%
% The identity map on a varied volume samples both volumes at the same
% point: a point of value w adds its larger share on the diagonal and its
% smaller share beside it in the same column, so every point lands within
% one bin of the diagonal and each column holds at least half its weight
% on it.
%!test
%! v = reshape(uint8(mod((0:999) * 37, 256)), 10, 10, 10);
%! H = vorn_hist2(v, v, id);
%! assert(sum(H(:)), 512, 1e-9);
%! [r, c] = find(H);
%! assert(all(abs(r - c) <= 1));
%! assert(all(diag(H)' >= sum(H, 1) / 2));
%! assert(nnz(diag(H)) > 50);
