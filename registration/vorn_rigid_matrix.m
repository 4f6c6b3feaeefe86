function M = vorn_rigid_matrix(p, dims1, vox1, dims2, vox2)
%VORN_RIGID_MATRIX  Voxel-to-voxel matrix of a rigid movement in millimetres.
%
%   M = vorn_rigid_matrix(P, DIMS1, VOX1, DIMS2, VOX2)
%
%   Turns the six rigid parameters P = [rx ry rz tx ty tz] into the 4x4
%   matrix M that vorn_hist2 takes: M maps 1-based voxel coordinates
%   (x, y, z, 1)' of volume 1 to the voxel coordinates of volume 2 where
%   the same point of the object lies.
%
%   P       rotations rx, ry, rz in degrees about the first, second and
%           third axes, then translations tx, ty, tz in millimetres along
%           them. The rotation turns about the centre of volume 1, so that
%           angles and translations stay nearly independent.
%   DIMS1   size of volume 1 in voxels, size(vol1)
%   VOX1    voxel size of volume 1 in millimetres along its three axes
%   DIMS2   size of volume 2 in voxels, size(vol2)
%   VOX2    voxel size of volume 2 in millimetres
%
%   Both volumes have their axes along the same directions, and with P all
%   zero the centres of the two volumes coincide. In millimetres from the
%   centre of each volume, a point a of volume 1 lies at R*a + t in
%   volume 2, with R = Rz*Ry*Rx and t = [tx ty tz]':
%       x2 = c2 + (R * (VOX1 .* (x1 - c1)) + t) ./ VOX2,  c = (DIMS + 1) / 2
%   The voxel sizes enter here, so the rotation is a true rotation of the
%   object also when voxels are not cubes.
%
%   Example
%     vox1 = [0.957 0.957 1.5];  vox2 = [1 1 1];
%     M = vorn_rigid_matrix([0 0 5 2 0 0], size(vol1), vox1, size(vol2), vox2);
%     H = vorn_hist2(vol1, vol2, M, [2 2 2]);
%
%   See also vorn_register_rigid, vorn_mutual_information, vorn_hist2.

if numel(p) ~= 6 || any(~isfinite(p(:)))
  error('vorn_rigid_matrix:parameters', 'P must hold six finite numbers [rx ry rz tx ty tz].');
end
check_axes(dims1, 'DIMS1');
check_axes(vox1, 'VOX1');
check_axes(dims2, 'DIMS2');
check_axes(vox2, 'VOX2');
a = p(1:3) * pi / 180;
Rx = [1 0 0; 0 cos(a(1)) -sin(a(1)); 0 sin(a(1)) cos(a(1))];
Ry = [cos(a(2)) 0 sin(a(2)); 0 1 0; -sin(a(2)) 0 cos(a(2))];
Rz = [cos(a(3)) -sin(a(3)) 0; sin(a(3)) cos(a(3)) 0; 0 0 1];
R = Rz * Ry * Rx;
c1 = (dims1(:) + 1) / 2;
c2 = (dims2(:) + 1) / 2;
% Voxel steps of volume 1 in millimetres, rotated, in voxels of volume 2.
A = diag(1 ./ vox2(:)) * R * diag(vox1(:));
M = [A, c2 - A * c1 + reshape(p(4:6), 3, 1) ./ vox2(:); 0 0 0 1];

function check_axes(v, name)
if numel(v) ~= 3 || ~isnumeric(v) || any(~isfinite(v(:))) || any(v(:) <= 0)
  error('vorn_rigid_matrix:axes', '%s must hold three positive numbers.', name);
end

% Tests for GNU Octave; MATLAB reads these lines as comments.
%!test
%! % No movement, equal grids: the identity.
%! assert(vorn_rigid_matrix(zeros(1, 6), [20 30 10], [1 1 2], [20 30 10], [1 1 2]), eye(4), 1e-15);
%!test
%! % No movement, other grids: centre onto centre, millimetres kept.
%! M = vorn_rigid_matrix(zeros(1, 6), [21 31 11], [1 1 2.5], [41 51 21], [0.5 0.8 1.25]);
%! assert(M * [11; 16; 6; 1], [21; 26; 11; 1], 1e-12);
%! assert(M * [12; 16; 7; 1] - M * [11; 16; 6; 1], [2; 0; 2; 0], 1e-12);
%!test
%! % A quarter turn about the third axis takes millimetres along the first
%! % axis of volume 1 to the second axis of volume 2, scaled to its voxels;
%! % the translation moves the centre by millimetres.
%! M = vorn_rigid_matrix([0 0 90 3 -2 5], [11 11 11], [2 1 1], [21 21 21], [1 0.5 2.5]);
%! assert(M * [6; 6; 6; 1], [11 + 3; 11 - 4; 11 + 2; 1], 1e-12);
%! assert(M(1:3, 1), [0; 4; 0], 1e-12);
%!test
%! % The same as building both grids in millimetres and chaining them.
%! p = [4 -3 6 3.5 -2.25 2.75];
%! d1 = [40 36 20]; v1 = [1 1 2.5]; d2 = [44 40 42]; v2 = [0.9 0.9 1.2];
%! a = p(1:3) * pi / 180;
%! R = [cos(a(3)) -sin(a(3)) 0; sin(a(3)) cos(a(3)) 0; 0 0 1] * ...
%!     [cos(a(2)) 0 sin(a(2)); 0 1 0; -sin(a(2)) 0 cos(a(2))] * ...
%!     [1 0 0; 0 cos(a(1)) -sin(a(1)); 0 sin(a(1)) cos(a(1))];
%! grid1 = [diag(v1), -v1(:) .* (d1(:) + 1) / 2; 0 0 0 1];
%! grid2 = [diag(v2), -v2(:) .* (d2(:) + 1) / 2; 0 0 0 1];
%! move = [R, p(4:6)'; 0 0 0 1];
%! assert(vorn_rigid_matrix(p, d1, v1, d2, v2), grid2 \ move * grid1, 1e-12);
%! assert(vorn_rigid_matrix(p', d1', v1', d2', v2'), grid2 \ move * grid1, 1e-12);
%!error <six finite> vorn_rigid_matrix([1 2 3], [10 10 10], [1 1 1], [10 10 10], [1 1 1])
%!error <VOX2 must hold three positive> vorn_rigid_matrix(zeros(1, 6), [10 10 10], [1 1 1], [10 10 10], [1 0 1])
%!error <DIMS1 must hold three> vorn_rigid_matrix(zeros(1, 6), [10 10], [1 1 1], [10 10 10], [1 1 1])
