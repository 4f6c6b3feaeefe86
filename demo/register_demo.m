% REGISTER_DEMO  Aligns two synthetic scans by maximising mutual information.
%
%   Makes two volumes of one asymmetric object in two contrasts, moves the
%   second by a known rigid movement, and recovers that movement with
%   fminsearch, maximising the normalised mutual information of the joint
%   histogram that vorn_hist2 computes: first on a coarse grid (every 4th
%   voxel), then on a finer one (every 2nd). Prints each stage, the
%   recovered and the true movement, the errors and the time taken; stops
%   with an error if the recovered movement is off by half a voxel or half
%   a degree or more; writes a picture of the joint histograms and of a
%   slice before and after registration.
%
%   Set these variables before running it to change the defaults:
%     demo_size   volume size in voxels (default [128 128 96])
%     demo_png    file name of the picture (default register_demo.png in
%                 the current folder)
%
%   vorn_hist2 must be on the path (addpath the folder that holds it).

if ~exist('demo_size', 'var')
    demo_size = [128 128 96];
end
if ~exist('demo_png', 'var')
    demo_png = fullfile(pwd, 'register_demo.png');
end
dims = demo_size(:)';
t_start = tic;

% The movement to recover: rotations about the three axes in degrees,
% then translations along them in voxels.
p_true = [4 -3 6 3.5 -2.25 2.75];
M_true = rigid_matrix(p_true, dims);

% One object in two contrasts. The second contrast inverts the tissues'
% intensities (bright becomes dark), so the two volumes do not share
% intensities and only a statistical measure such as mutual information can
% compare them. The noise comes from a fixed seed: every run is the same.
fprintf('Making two %dx%dx%d volumes of one object in two contrasts...\n', dims);
randn('state', 8);
vol1 = phantom_volume(dims, eye(4), [10 110 190 60 150], 6);
vol2 = phantom_volume(dims, M_true, [25 150 60 220 95], 6);
fprintf('  done in %.1f s. Volume 2 is moved by [%s] (degrees, voxels).\n', ...
        toc(t_start), sprintf(' %.2f', p_true));

% The matrix maps voxel coordinates of volume 1 to those of volume 2, so
% the right matrix sends every point of the object in volume 1 to the same
% point in volume 2: it is M_true itself.
[c1, c2, c3] = ndgrid([1 dims(1)], [1 dims(2)], [1 dims(3)]);
corners = [c1(:)'; c2(:)'; c3(:)'; ones(1, 8)];
max_shift = @(M) max(sqrt(sum(((M - M_true) * corners).^2, 1)));

% fminsearch's first simplex: Octave's has sides as long as the largest
% start value (at least 1), MATLAB's steps by 5% of each start value. The
% optimiser's own start point is chosen so that both take steps of about
% one unit, which the stage's scale turns into degrees and voxels.
if exist('OCTAVE_VERSION', 'builtin')
    q0 = zeros(1, 6);
else
    q0 = 20 * ones(1, 6);
end

% Coarse to fine: big steps on a sparse grid first, then small steps on a
% denser one, starting from where the coarse stage ended. Steps are in
% voxels; a rotation's step is the angle that moves a point half the
% shortest side from the centre by that many voxels, so that the optimiser
% sees all six parameters on one scale.
stages = struct('skips', {[4 4 4], [2 2 2]}, 'step', {2, 0.5}, 'tolx', {0.02, 0.01});
deg_per_voxel = 180 / pi / (min(dims) / 2);
p = zeros(1, 6);
H_before = vorn_hist2(vol1, vol2, eye(4), [2 2 2]);
fprintf('Before registration: NMI %.5f, largest displacement error %.2f voxels.\n', ...
        nmi_from_hist(H_before), max_shift(eye(4)));
for s = 1:numel(stages)
    st = stages(s);
    scale = st.step * [deg_per_voxel * [1 1 1], 1 1 1];
    stage = struct('p0', p, 'q0', q0, 'scale', scale, 'every', 25);
    fprintf('Stage %d: every %g,%g,%g voxels, first steps %.2f degrees and %.2f voxels\n', ...
            s, st.skips, scale(1), scale(4));
    t_stage = tic;
    cost = @(q) registration_cost(q, vol1, vol2, dims, st.skips, stage);
    opts = optimset('TolX', st.tolx, 'TolFun', 1e-5, 'MaxFunEvals', 1000, ...
                    'MaxIter', 1000, 'Display', 'off', ...
                    'OutputFcn', @(q, info, state) show_progress(q, info, state, stage));
    [q, fval, flag, out] = fminsearch(cost, q0, opts);
    p = stage.p0 + stage.scale .* (q - q0);
    fprintf('  stage %d ended after %d histograms in %.1f s: NMI %.5f\n', s, ...
            out.funcCount, toc(t_stage), -fval);
    fprintf('  parameters [%s], largest displacement error %.3f voxels\n', ...
            sprintf(' %6.3f', p), max_shift(rigid_matrix(p, dims)));
end

M_est = rigid_matrix(p, dims);
p_err = p - p_true;
err_shift = max_shift(M_est);
t_total = toc(t_start);
fprintf('\n                  rx       ry       rz       tx       ty       tz\n');
fprintf('recovered  %s\n', sprintf(' %8.3f', p));
fprintf('true       %s\n', sprintf(' %8.3f', p_true));
fprintf('error      %s\n', sprintf(' %8.3f', p_err));
fprintf('Largest angle error %.3f degrees, largest translation error %.3f voxels,\n', ...
        max(abs(p_err(1:3))), max(abs(p_err(4:6))));
fprintf('largest displacement error anywhere in the volume %.3f voxels.\n', err_shift);
fprintf('Total time %.1f s.\n', t_total);

% The picture: joint histograms and the overlay of the middle slice,
% which cuts all three small parts, before and after.
H_after = vorn_hist2(vol1, vol2, M_est, [2 2 2]);
slice_k = round((dims(3) + 1) / 2);
img = demo_picture(H_before, H_after, vol1, vol2, eye(4), M_est, slice_k);
imwrite(img, demo_png);
fprintf('Wrote %s: joint histograms (top) and slice %d overlay (bottom),\n', demo_png, slice_k);
fprintf('before registration (left) and after (right).\n');

if max(abs(p_err(1:3))) >= 0.5 || max(abs(p_err(4:6))) >= 0.5 || err_shift >= 0.5
    error('register_demo:failed', 'Registration missed the movement by %.3f voxels.', err_shift);
end
fprintf('Registration recovered the movement to within half a voxel and half a degree.\n');
