function vol = phantom_volume(dims, V, radius, levels, noise)
% PHANTOM_VOLUME  Synthetic scan of one asymmetric object.
%   VOL = PHANTOM_VOLUME(DIMS, V, RADIUS, LEVELS, NOISE) is a uint8 volume
%   of size DIMS. The 4x4 matrix V maps its 1-based voxel coordinates
%   (x,y,z,1)' to millimetres in the object's own frame, whose origin is
%   the object's centre: a scan of the object in any position, with any
%   voxel size. The object, about 2*RADIUS millimetres long, is an
%   off-centre ellipsoidal body holding three smaller off-centre parts, so
%   no rotation leaves it unchanged. LEVELS gives the intensities of the
%   background, the body and the three parts (one contrast); NOISE is the
%   standard deviation of the Gaussian noise added, drawn from the current
%   state of randn.

% Shapes in units of RADIUS: each row is the centre (3 values) and the
% semi-axes (3 values).
shapes = [ 0.08 -0.05  0.03   0.95 0.74 0.52    % body
          -0.32  0.18  0.06   0.38 0.24 0.30    % large part
           0.42 -0.26 -0.08   0.18 0.18 0.18    % round part
           0.38  0.32  0.10   0.12 0.24 0.14    % small part
          -0.05 -0.40 -0.15   0.20 0.10 0.16    % flat part
          -0.55 -0.20 -0.20   0.10 0.14 0.12    % small part
           0.10  0.20 -0.28   0.26 0.08 0.10    % thin part
           0.60  0.05  0.22   0.08 0.08 0.18 ]; % rod
% Edges are logistic steps about two voxels wide, as partial volumes are.
edge_width = 0.5;
voxel_mm = mean(sqrt(sum(V(1:3, 1:3) .^ 2, 1)));

n = prod(dims);
[i1, i2, i3] = ndgrid(1:dims(1), 1:dims(2), 1:dims(3));
x = zeros(n, 3);
for r = 1:3
    x(:, r) = (V(r,1)*i1(:) + V(r,2)*i2(:) + V(r,3)*i3(:) + V(r,4)) / radius;
end
clear i1 i2 i3

% Paint the background, then each shape over the one before, with soft
% edges so that partial volumes look like those of a real scan.
v = levels(1) * ones(n, 1);
for k = 1:size(shapes, 1)
    r2 = zeros(n, 1);
    for r = 1:3
        r2 = r2 + ((x(:, r) - shapes(k, r)) / shapes(k, r + 3)).^2;
    end
    % Distance past the surface, roughly in voxels.
    d = (sqrt(r2) - 1) * radius * prod(shapes(k, 4:6))^(1/3) / voxel_mm;
    inside = 1 ./ (1 + exp(d / edge_width));
    v = v + inside .* (levels(k + 1) - v);
end
v = v + noise * randn(n, 1);
vol = reshape(uint8(round(min(max(v, 0), 255))), dims(:)');
