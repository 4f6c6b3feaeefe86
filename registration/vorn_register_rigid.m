function [p, M, info] = vorn_register_rigid(vol1, vox1, vol2, vox2, varargin)
%VORN_REGISTER_RIGID  Rigid registration of two volumes by mutual information.
%
%   [P, M] = vorn_register_rigid(VOL1, VOX1, VOL2, VOX2)
%   [P, M, INFO] = vorn_register_rigid(VOL1, VOX1, VOL2, VOX2, NAME, VALUE, ...)
%   [P, M, INFO] = vorn_register_rigid(VOL1, VOX1, VOL2, VOX2, OPTIONS)
%
%   Finds the rigid movement that best aligns the uint8 volume VOL2 with
%   VOL1 by maximising the normalised mutual information of their joint
%   histogram (vorn_hist2, vorn_mutual_information), coarse to fine: each
%   stage samples VOL1 on a grid spaced by that stage's skips and runs a
%   Nelder-Mead simplex search from where the stage before ended. VOX1 and
%   VOX2 are the voxel sizes in millimetres along the three axes; the
%   volumes may differ in size and in voxel size.
%
%   P is the movement [rx ry rz tx ty tz] (degrees, millimetres) as
%   vorn_rigid_matrix takes it, and M the matching 4x4 voxel-to-voxel
%   matrix: vorn_hist2(VOL1, VOL2, M) samples VOL2 where VOL1's points lie.
%
%   Options, as name-value pairs or as the fields of a struct:
%     'skips'       S-by-3: row k holds the skips of stage k, in voxels of
%                   VOL1. Default two stages, sampling about every 4 and
%                   then every 2 times VOL1's smallest voxel size along each
%                   axis: max(1, round([4; 2] * min(VOX1) ./ VOX1)), which
%                   is [4 4 4; 2 2 2] for cubic voxels.
%     'steps'       the first step of each stage's search, in millimetres:
%                   translations move by it, rotations by the angle that
%                   moves a point half VOL1's smallest extent away from its
%                   centre by it. One value per stage, or one for all.
%                   Default 2 * min(VOX1) for stage 1, a quarter of the
%                   stage before for each further stage.
%     'tolx'        a stage ends when every corner of its simplex lies
%                   within TOLX of the best one along every parameter, in
%                   the millimetres of 'steps' ...
%     'tolfun'      ... and every corner's NMI within TOLFUN of the best.
%                   Defaults: steps / 50 and 1e-5.
%     'maxiter'     most iterations per stage. Default 1000.
%     'maxfunevals' most histograms per stage. Default 1000.
%     'p0'          the movement to start from. Default zeros(1, 6).
%     'display'     'stage' (default): a line as each stage starts and ends;
%                   'iter': also every 25 iterations; 'off': nothing.
%     'smooth'      smooth each histogram before the NMI, as
%                   vorn_mutual_information does. Default true.
%   'tolx', 'tolfun', 'maxiter' and 'maxfunevals' take one value per stage
%   or one for all.
%
%   INFO has one element per stage with the fields skips, step, p (the
%   movement it ended at), nmi, iterations, evaluations (histograms),
%   seconds and stop ('tolerance', 'maxiter' or 'maxfunevals').
%
%   Example
%     % vol1: 0.957 x 0.957 x 1.5 mm CT; vol2: 1 mm cubic MR
%     [p, M] = vorn_register_rigid(vol1, [0.957 0.957 1.5], vol2, [1 1 1]);
%     H = vorn_hist2(vol1, vol2, M, [2 2 2]);
%
%   See also vorn_rigid_matrix, vorn_mutual_information, vorn_hist2.

for v = {vol1, vol2}
  if ~isa(v{1}, 'uint8') || ndims(v{1}) ~= 3
    error('vorn_register_rigid:volume', 'VOL1 and VOL2 must be uint8 arrays of three dimensions.');
  end
end
for v = {vox1, vox2}
  if ~isnumeric(v{1}) || numel(v{1}) ~= 3 || any(~isfinite(v{1}(:))) || any(v{1}(:) <= 0)
    error('vorn_register_rigid:voxels', 'VOX1 and VOX2 must hold three positive voxel sizes.');
  end
end
dims1 = size(vol1);
dims2 = size(vol2);
opt = read_options(vox1, varargin);
rot_per_mm = 180 / pi / (min(dims1 .* vox1(:)') / 2);
scale = [rot_per_mm * [1 1 1], 1 1 1];

p = opt.p0;
n_stages = size(opt.skips, 1);
info = struct('skips', cell(1, n_stages), 'step', [], 'p', [], 'nmi', [], ...
              'iterations', [], 'evaluations', [], 'seconds', [], 'stop', []);
for s = 1:n_stages
  skips = opt.skips(s, :);
  step = opt.steps(s);
  if ~strcmp(opt.display, 'off')
    fprintf('Stage %d of %d: skips %g %g %g, first steps %.3g mm and %.3g degrees\n', ...
            s, n_stages, skips, step, step * rot_per_mm);
  end
  t_stage = tic;
  start = p;
  cost = @(q) stage_cost(start + scale .* q(:)', vol1, vox1, vol2, vox2, skips, opt.smooth);
  if strcmp(opt.display, 'iter')
    show = @(iter, nfev, q, f) show_iteration(iter, nfev, start + scale .* q(:)', f);
  else
    show = [];
  end
  [q, f, iterations, evaluations, stop] = simplex_search(cost, zeros(6, 1), step, ...
      opt.tolx(s), opt.tolfun(s), opt.maxiter(s), opt.maxfunevals(s), show);
  p = start + scale .* q(:)';
  info(s) = struct('skips', skips, 'step', step, 'p', p, 'nmi', -f, 'iterations', iterations, ...
                   'evaluations', evaluations, 'seconds', toc(t_stage), 'stop', stop);
  if ~strcmp(opt.display, 'off')
    fprintf('  stage %d: NMI %.5f after %d histograms in %.1f s (%s), movement [%s]\n', ...
            s, -f, evaluations, info(s).seconds, stop, sprintf(' %.3f', p));
  end
end
M = vorn_rigid_matrix(p, dims1, vox1, dims2, vox2);

function c = stage_cost(p, vol1, vox1, vol2, vox2, skips, smooth)
% Negative NMI, so that the search minimises; no overlap is the worst.
M = vorn_rigid_matrix(p, size(vol1), vox1, size(vol2), vox2);
[~, nmi] = vorn_mutual_information(vorn_hist2(vol1, vol2, M, skips), smooth);
c = -nmi;
if isnan(c)
  c = Inf;
end

function show_iteration(iter, nfev, p, f)
if mod(iter, 25) == 0
  fprintf('    iteration %4d, %4d histograms, NMI %.5f, movement [%s]\n', iter, nfev, -f, ...
          sprintf(' %.3f', p));
end

function [x, f, iter, nfev, stop] = simplex_search(cost, x0, step, tolx, tolfun, maxiter, maxfev, show)
% Nelder-Mead on the columns of X: reflect the worst corner through the
% centre of the others, expand, contract or shrink. The first simplex is
% X0 and X0 plus STEP along each axis.
n = numel(x0);
X = repmat(x0, 1, n + 1) + [zeros(n, 1), step * eye(n)];
F = zeros(1, n + 1);
for k = 1:n + 1
  F(k) = cost(X(:, k));
end
nfev = n + 1;
iter = 0;
[F, order] = sort(F);
X = X(:, order);
while true
  if max(max(abs(X(:, 2:end) - repmat(X(:, 1), 1, n)))) <= tolx && F(end) - F(1) <= tolfun
    stop = 'tolerance';
    break;
  elseif iter >= maxiter
    stop = 'maxiter';
    break;
  elseif nfev >= maxfev
    stop = 'maxfunevals';
    break;
  end
  iter = iter + 1;
  centre = mean(X(:, 1:n), 2);
  xr = 2 * centre - X(:, end);
  fr = cost(xr);
  nfev = nfev + 1;
  shrink = false;
  if fr < F(1)
    xe = 3 * centre - 2 * X(:, end);
    fe = cost(xe);
    nfev = nfev + 1;
    if fe < fr
      X(:, end) = xe;
      F(end) = fe;
    else
      X(:, end) = xr;
      F(end) = fr;
    end
  elseif fr < F(n)
    X(:, end) = xr;
    F(end) = fr;
  else
    % Contract outside (towards the reflected point) or inside.
    if fr < F(end)
      xc = (centre + xr) / 2;
    else
      xc = (centre + X(:, end)) / 2;
    end
    fc = cost(xc);
    nfev = nfev + 1;
    if fc < min(fr, F(end))
      X(:, end) = xc;
      F(end) = fc;
    else
      shrink = true;
    end
  end
  if shrink
    for k = 2:n + 1
      X(:, k) = (X(:, 1) + X(:, k)) / 2;
      F(k) = cost(X(:, k));
    end
    nfev = nfev + n;
  end
  [F, order] = sort(F);
  X = X(:, order);
  if ~isempty(show)
    show(iter, nfev, X(:, 1), F(1));
  end
end
x = X(:, 1);
f = F(1);

function opt = read_options(vox1, args)
if numel(args) == 1 && isstruct(args{1})
  names = fieldnames(args{1});
  values = struct2cell(args{1});
elseif mod(numel(args), 2) == 0 && all(cellfun(@ischar, args(1:2:end)))
  names = args(1:2:end);
  values = args(2:2:end);
else
  error('vorn_register_rigid:options', 'Options must be name-value pairs or one struct.');
end
vox = vox1(:)';
opt = struct('skips', max(1, round([4; 2] * min(vox) ./ [vox; vox])), 'steps', [], ...
             'tolx', [], 'tolfun', 1e-5, 'maxiter', 1000, 'maxfunevals', 1000, ...
             'p0', zeros(1, 6), 'display', 'stage', 'smooth', true);
for k = 1:numel(names)
  name = lower(names{k});
  if ~isfield(opt, name)
    error('vorn_register_rigid:options', 'Unknown option ''%s''.', names{k});
  end
  opt.(name) = values{k};
end
n_stages = size(opt.skips, 1);
if size(opt.skips, 2) ~= 3 || n_stages < 1 || any(~isfinite(opt.skips(:))) || any(opt.skips(:) <= 0)
  error('vorn_register_rigid:options', 'skips must be an S-by-3 array of positive steps.');
end
if isempty(opt.steps)
  opt.steps = 2 * min(vox) ./ 4 .^ (0:n_stages - 1);
end
opt.steps = per_stage(opt.steps, n_stages, 'steps');
if isempty(opt.tolx)
  opt.tolx = opt.steps / 50;
end
opt.tolx = per_stage(opt.tolx, n_stages, 'tolx');
opt.tolfun = per_stage(opt.tolfun, n_stages, 'tolfun');
opt.maxiter = per_stage(opt.maxiter, n_stages, 'maxiter');
opt.maxfunevals = per_stage(opt.maxfunevals, n_stages, 'maxfunevals');
if numel(opt.p0) ~= 6 || any(~isfinite(opt.p0(:)))
  error('vorn_register_rigid:options', 'p0 must hold six finite numbers.');
end
opt.p0 = reshape(opt.p0, 1, 6);
if ~ischar(opt.display) || ~any(strcmp(opt.display, {'stage', 'iter', 'off'}))
  error('vorn_register_rigid:options', 'display must be ''stage'', ''iter'' or ''off''.');
end

function v = per_stage(v, n_stages, name)
if numel(v) == 1
  v = repmat(v, 1, n_stages);
end
if numel(v) ~= n_stages || ~isnumeric(v) || any(isnan(v(:))) || any(v(:) < 0)
  error('vorn_register_rigid:options', '%s must hold one non-negative value per stage, or one for all.', name);
end
v = v(:)';

% Tests for GNU Octave; MATLAB reads these lines as comments.
%
% Two small scans of four soft-edged ellipsoids, in two contrasts, with
% voxels of different sizes; volume 2 sees them moved by the movement of
% M_true.
%!shared vol1, vol2, vox1, vox2, M_true, corners
%! vox1 = [1.5 1.5 2];
%! vox2 = [1.2 1.2 1.6];
%! d1 = [40 40 24];
%! d2 = [48 46 30];
%! M_true = vorn_rigid_matrix([2 -1.5 3 2 -1.5 1], d1, vox1, d2, vox2);
%! blob = @(a, c, r) 1 ./ (1 + exp(4 * min(r) * ...
%!        (sqrt(sum(((a - repmat(c, 1, size(a, 2))) ./ repmat(r, 1, size(a, 2))) .^ 2, 1)) - 1)));
%! [i, j, k] = ndgrid(1:d1(1), 1:d1(2), 1:d1(3));
%! a1 = diag(vox1) * ([i(:) j(:) k(:)]' - repmat((d1(:) + 1) / 2, 1, numel(i)));
%! [i, j, k] = ndgrid(1:d2(1), 1:d2(2), 1:d2(3));
%! x1 = M_true \ [i(:) j(:) k(:) ones(numel(i), 1)]';
%! a2 = diag(vox1) * (x1(1:3, :) - repmat((d1(:) + 1) / 2, 1, numel(i)));
%! shape = @(a) [blob(a, [2; -1; 1], [22; 16; 12]); blob(a, [-9; 7; -2], [6; 8; 5]); ...
%!               blob(a, [10; -6; 3], [4; 4; 6]); blob(a, [4; 8; -4], [9; 3; 4])];
%! s1 = shape(a1);
%! s2 = shape(a2);
%! vol1 = reshape(uint8(30 + [100 80 -50 120] * s1), d1);
%! vol2 = reshape(uint8(200 + [-120 40 90 -60] * s2), d2);
%! [c1, c2, c3] = ndgrid([1 d1(1)], [1 d1(2)], [1 d1(3)]);
%! corners = [c1(:)'; c2(:)'; c3(:)'; ones(1, 8)];
%!test
%! [p, M, info] = vorn_register_rigid(vol1, vox1, vol2, vox2, 'display', 'off');
%! assert(max(max(abs((M(1:3, :) - M_true(1:3, :)) * corners))) < 0.5);
%! assert(M, vorn_rigid_matrix(p, size(vol1), vox1, size(vol2), vox2), 1e-12);
%! assert(size(info), [1 2]);
%! assert({info.stop}, {'tolerance', 'tolerance'});
%! assert(vertcat(info.skips), [4 4 3; 2 2 2]);
%! assert(info(2).p, p);
%!test
%! % Options as a struct or as pairs, one stage; printed per stage only.
%! opt = struct('skips', [2 2 2], 'steps', 1, 'tolx', 0.05, 'p0', [0 0 0 1 0 0]);
%! [text, p1] = evalc('vorn_register_rigid(vol1, vox1, vol2, vox2, opt)');
%! p2 = vorn_register_rigid(vol1, vox1, vol2, vox2, 'skips', [2 2 2], 'Steps', 1, 'tolx', 0.05, ...
%!                          'p0', [0 0 0 1 0 0], 'display', 'off');
%! assert(p1, p2);
%! assert(~isempty(strfind(text, 'Stage 1 of 1: skips 2 2 2')));
%! assert(isempty(strfind(text, 'iteration')));
%!test
%! % The limits end a stage; 'iter' shows every 25th iteration.
%! [~, ~, info] = vorn_register_rigid(vol1, vox1, vol2, vox2, 'skips', [4 4 4], 'maxiter', 3, 'display', 'off');
%! assert([info.iterations, numel(info)], [3 1]);
%! assert(info.stop, 'maxiter');
%! [~, ~, info] = vorn_register_rigid(vol1, vox1, vol2, vox2, 'skips', [4 4 4], 'maxfunevals', 20, 'display', 'off');
%! assert(info.stop, 'maxfunevals');
%! assert(info.evaluations >= 20 && info.evaluations <= 27);
%! text = evalc('vorn_register_rigid(vol1, vox1, vol2, vox2, ''skips'', [4 4 4], ''maxiter'', 50, ''display'', ''iter'')');
%! assert(~isempty(strfind(text, 'iteration   25')) && ~isempty(strfind(text, 'iteration   50')));
%!error <uint8 arrays of three dimensions> vorn_register_rigid(double(vol1), vox1, vol2, vox2)
%!error <three positive voxel sizes> vorn_register_rigid(vol1, [1 1], vol2, vox2)
%!error <three positive voxel sizes> vorn_register_rigid(vol1, vox1, vol2, [1 -1 1])
%!error <Unknown option 'skip'> vorn_register_rigid(vol1, vox1, vol2, vox2, 'skip', [2 2 2])
%!error <name-value pairs or one struct> vorn_register_rigid(vol1, vox1, vol2, vox2, 'skips')
%!error <S-by-3> vorn_register_rigid(vol1, vox1, vol2, vox2, 'skips', [2 2])
%!error <one non-negative value per stage> vorn_register_rigid(vol1, vox1, vol2, vox2, 'tolx', [1 2 3])
%!error <display must be> vorn_register_rigid(vol1, vox1, vol2, vox2, 'display', 'loud')
%!error <p0 must hold six> vorn_register_rigid(vol1, vox1, vol2, vox2, 'p0', [1 2])
