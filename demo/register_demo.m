% REGISTER_DEMO  Aligns two synthetic scans by maximising mutual information.
%
%   Makes two scans of one asymmetric object in two contrasts, with voxels
%   of different shapes and sizes (volume 1: 1 x 1 x 1.5 mm, volume 2:
%   1.2 x 1.2 x 1 mm) and volumes of different sizes, moves the object in
%   the second by a known rigid movement, and recovers that movement with
%   vorn_register_rigid: normalised mutual information of vorn_hist2's
%   joint histogram, maximised first on a coarse grid of volume 1 and then
%   on a finer one. Prints each stage, the recovered and the true movement,
%   the errors and the time taken; stops with an error if a corner of
%   volume 1 lands half a voxel of volume 2 or more from where the true
%   movement puts it; writes a labelled picture of the joint histograms and
%   of a slice before and after registration.
%
%   Set these variables before running it to change the defaults:
%     demo_size   size of volume 1 in voxels (default [128 128 64]);
%                 volume 2 covers about the same field with its own voxels
%     demo_png    file name of the picture (default register_demo.png in
%                 the current folder)
%
%   vorn_hist2 and the registration functions must be on the path (addpath
%   the folders that hold them).

if ~exist('demo_size', 'var')
    demo_size = [128 128 64];
end
if ~exist('demo_png', 'var')
    demo_png = fullfile(pwd, 'register_demo.png');
end
t_start = tic;
vox1 = [1 1 1.5];
vox2 = [1.2 1.2 1];
dims1 = demo_size(:)';
dims2 = round(dims1 .* vox1 ./ vox2);

% The movement to recover: rotations about the three axes in degrees,
% then translations along them in millimetres, about volume 1's centre.
p_true = [4 -3 6 3.5 -2.25 2.75];
M_true = vorn_rigid_matrix(p_true, dims1, vox1, dims2, vox2);

% One object in two contrasts. The second contrast orders the tissues'
% intensities differently (bright becomes dark), so the two volumes do not
% share intensities and only a statistical measure such as mutual
% information can compare them. Volume 1's voxels lie in millimetres about
% its centre (GRID1); volume 2's voxel y shows the object point that
% volume 1 shows at voxel inv(M_true)*y. The noise comes from a fixed
% seed: every run is the same.
fprintf('Making a %dx%dx%d volume of %gx%gx%g mm voxels and a %dx%dx%d volume of %gx%gx%g mm voxels...\n', ...
        dims1, vox1, dims2, vox2);
grid1 = [diag(vox1), -vox1(:) .* (dims1(:) + 1) / 2; 0 0 0 1];
radius = min(dims1 .* vox1) / 2;
randn('state', 8);
vol1 = phantom_volume(dims1, grid1, radius, [10 110 190 60 150 240 30 170 90], 4);
vol2 = phantom_volume(dims2, grid1 / M_true, radius, [25 150 60 220 95 40 200 120 180], 4);
fprintf('  done in %.1f s. Volume 2 shows the object moved by [%s] (degrees, mm).\n', ...
        toc(t_start), sprintf(' %.2f', p_true));

% How far the estimate puts volume 1's corners from where the true
% movement puts them, in voxels of volume 2 along each of its axes.
[c1, c2, c3] = ndgrid([1 dims1(1)], [1 dims1(2)], [1 dims1(3)]);
corners = [c1(:)'; c2(:)'; c3(:)'; ones(1, 8)];
corner_error = @(M) max(abs((M(1:3, :) - M_true(1:3, :)) * corners), [], 2)';

M_start = vorn_rigid_matrix(zeros(1, 6), dims1, vox1, dims2, vox2);
H_before = vorn_hist2(vol1, vol2, M_start, [2 2 2]);
[~, nmi_before] = vorn_mutual_information(H_before, true);
fprintf('Before registration: NMI %.5f, corners off by [%s] voxels of volume 2.\n', ...
        nmi_before, sprintf(' %.2f', corner_error(M_start)));
[p, M_est, info] = vorn_register_rigid(vol1, vox1, vol2, vox2, 'display', 'iter');

p_err = p - p_true;
err = corner_error(M_est);
fprintf('\n                  rx       ry       rz       tx       ty       tz\n');
fprintf('recovered  %s\n', sprintf(' %8.3f', p));
fprintf('true       %s\n', sprintf(' %8.3f', p_true));
fprintf('error      %s\n', sprintf(' %8.3f', p_err));
fprintf('Largest angle error %.3f degrees, largest translation error %.3f mm;\n', ...
        max(abs(p_err(1:3))), max(abs(p_err(4:6))));
fprintf('corners of volume 1 off by [%s] voxels of volume 2.\n', sprintf(' %.3f', err));
fprintf('%d histograms, total time %.1f s.\n', sum([info.evaluations]), toc(t_start));

% The picture: joint histograms and the overlay of the middle slice,
% which cuts all the small parts, before and after.
H_after = vorn_hist2(vol1, vol2, M_est, [2 2 2]);
slice_k = round((dims1(3) + 1) / 2);
img = demo_picture(H_before, H_after, vol1, vol2, M_start, M_est, slice_k);
imwrite(img, demo_png);
fprintf('Wrote %s: joint histograms (top) and slice %d overlay (bottom),\n', demo_png, slice_k);
fprintf('before registration (left) and after (right).\n');

if max(err) >= 0.5
    error('register_demo:failed', 'Registration missed the movement by %.3f voxels.', max(err));
end
fprintf('Registration recovered the movement to within half a voxel.\n');
