% Registers two scans of one synthetic object in two contrasts whose voxels
% are not cubes and differ in size (1 x 1 x 2.5 mm against 0.9 x 0.9 x 1.2
% mm), as are the volumes, after a known rigid movement. The recovered
% matrix must put each of volume 1's eight corners within half a voxel of
% volume 2, along each of its axes, of where the true movement puts it.
%
%   octave-cli --no-gui --norc --no-history register_anisotropic.m PLUGIN_DIR FUNCTIONS_DIR DEMO_DIR
%
% Prints the errors and times and "N passed, M failed"; exits with status 1
% when a check failed.
1;

function check(name, ok, detail)
  global n_pass n_fail
  if ok
    n_pass = n_pass + 1;
    fprintf('ok    %s\n', name);
  else
    n_fail = n_fail + 1;
    fprintf('FAIL  %s: %s\n', name, detail);
  end
end

% One case: volume 1 of DIMS1 voxels of VOX1 mm, volume 2 of DIMS2 voxels of
% VOX2 mm showing the object moved by P_TRUE; the noise comes from SEED.
function register_case(name, dims1, vox1, dims2, vox2, p_true, seed)
  t_start = tic;
  % Each scan's grid in millimetres about its centre; volume 2 sees the
  % object moved by p_true (rotation R = Rz*Ry*Rx, then translation).
  a = p_true(1:3) * pi / 180;
  R = [cos(a(3)) -sin(a(3)) 0; sin(a(3)) cos(a(3)) 0; 0 0 1] * ...
      [cos(a(2)) 0 sin(a(2)); 0 1 0; -sin(a(2)) 0 cos(a(2))] * ...
      [1 0 0; 0 cos(a(1)) -sin(a(1)); 0 sin(a(1)) cos(a(1))];
  grid1 = [diag(vox1), -vox1(:) .* (dims1(:) + 1) / 2; 0 0 0 1];
  grid2 = [diag(vox2), -vox2(:) .* (dims2(:) + 1) / 2; 0 0 0 1];
  move = [R, p_true(4:6)'; 0 0 0 1];
  M_true = grid2 \ move * grid1;
  randn('state', seed);
  vol1 = phantom_volume(dims1, grid1, 40, [10 110 190 60 150 240 30 170 90], 3);
  vol2 = phantom_volume(dims2, move \ grid2, 40, [25 150 60 220 95 40 200 120 180], 3);
  fprintf('%s: volumes %s of %s mm and %s of %s mm, made in %.1f s\n', name, mat2str(dims1), ...
          mat2str(vox1), mat2str(dims2), mat2str(vox2), toc(t_start));

  [c1, c2, c3] = ndgrid([1 dims1(1)], [1 dims1(2)], [1 dims1(3)]);
  corners = [c1(:)'; c2(:)'; c3(:)'; ones(1, 8)];
  corner_error = @(M) max(abs((M(1:3, :) - M_true(1:3, :)) * corners), [], 2)';
  before = corner_error(vorn_rigid_matrix(zeros(1, 6), dims1, vox1, dims2, vox2));
  fprintf('before: largest corner error along each axis of volume 2 [%s] voxels\n', sprintf(' %.3f', before));
  check([name ': the movement is worth recovering'], max(before) > 5, sprintf('%.3f', max(before)));

  t_reg = tic;
  [p, M, info] = vorn_register_rigid(vol1, vox1, vol2, vox2);
  seconds = toc(t_reg);
  after = corner_error(M);
  fprintf('recovered [%s]\ntrue      [%s]\n', sprintf(' %7.3f', p), sprintf(' %7.3f', p_true));
  fprintf('after: largest corner error along each axis of volume 2 [%s] voxels\n', sprintf(' %.3f', after));
  fprintf('registration: %d stages, %d histograms, %.1f s; case %.1f s\n', numel(info), ...
          sum([info.evaluations]), seconds, toc(t_start));
  check([name ': corners within half a voxel of volume 2 along each axis'], all(after < 0.5), ...
        sprintf(' %.3f', after));
  check([name ': M is the matrix of P'], ...
        max(max(abs(M - vorn_rigid_matrix(p, dims1, vox1, dims2, vox2)))) < 1e-12, mat2str(M));
  expected = max(1, round([4; 2] * min(vox1) ./ [vox1; vox1]));
  check([name ': the default stages'], isequal(vertcat(info.skips), expected), mat2str(vertcat(info.skips)));
  check([name ': each stage ended on its tolerance'], all(strcmp({info.stop}, 'tolerance')), ...
        strjoin({info.stop}, ' '));
end

global n_pass n_fail
n_pass = 0;
n_fail = 0;
args = argv();
if numel(args) ~= 3
  fprintf(2, 'usage: register_anisotropic.m PLUGIN_DIR FUNCTIONS_DIR DEMO_DIR\n');
  exit(2);
end
cd(tempdir());
addpath(args{3});
addpath(args{2});
addpath(args{1});
fprintf('plug-in: %s\n', which('vorn_hist2'));

t_all = tic;
try
  register_case('thick slices onto thin', [96 96 40], [1 1 2.5], [112 104 80], [0.9 0.9 1.2], ...
                [3 -4 5 4.5 -3 2.5], 21);
  register_case('thin slices onto thick', [104 112 80], [0.9 0.9 1.2], [96 100 44], [1 1 2.5], ...
                [-4 2 -3 -3.5 5 -2], 22);
catch err
  check('registration test ran to the end', false, err.message);
end
fprintf('whole test %.1f s\n', toc(t_all));
fprintf('%d passed, %d failed\n', n_pass, n_fail);
exit(double(n_fail > 0));
