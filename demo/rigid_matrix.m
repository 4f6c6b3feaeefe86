function M = rigid_matrix(p, dims)
% RIGID_MATRIX  4x4 voxel-to-voxel matrix of a rigid movement.
%   M = RIGID_MATRIX(P, DIMS) turns the parameters P = [rx ry rz tx ty tz]
%   (rotations in degrees about the first, second and third axes, then
%   translations in voxels) into the matrix that maps 1-based voxel
%   coordinates (x,y,z,1)' of a volume of size DIMS to the moved position.
%   The rotation turns about the centre of the volume, so that the angles
%   and the translations stay nearly independent of one another:
%       y = R*(x - c) + c + t,   R = Rz*Ry*Rx,   c = (DIMS+1)/2.

a = p(1:3) * pi / 180;
Rx = [1 0 0; 0 cos(a(1)) -sin(a(1)); 0 sin(a(1)) cos(a(1))];
Ry = [cos(a(2)) 0 sin(a(2)); 0 1 0; -sin(a(2)) 0 cos(a(2))];
Rz = [cos(a(3)) -sin(a(3)) 0; sin(a(3)) cos(a(3)) 0; 0 0 1];
R = Rz * Ry * Rx;
c = (dims(:) + 1) / 2;
t = p(4:6);
M = [R, c + t(:) - R * c; 0 0 0 1];
