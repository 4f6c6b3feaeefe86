% Octave test suite for the vorn_hist2 plug-in.
%
%   octave-cli --no-gui --norc --no-history run_suite.m PLUGIN_DIR [RESULTS_FILE]
%
% PLUGIN_DIR holds the plug-in to test as vorn_hist2.mex; it goes first on
% the path. RESULTS_FILE, when given, receives one line per fixed call: its
% name and the MD5 of the result's bytes, so that two builds can be compared
% with diff. Both may come from the environment instead (VORN_PLUGIN_DIR,
% VORN_RESULTS_FILE). Prints one line per case, then "N passed, M failed",
% and exits with status 1 when any case failed.
1;

function report(name, ok, detail)
  global n_pass n_fail
  if ok
    n_pass = n_pass + 1;
    printf('ok    %s\n', name);
  else
    n_fail = n_fail + 1;
    printf('FAIL  %s: %s\n', name, detail);
  end
end

% Runs fn and checks that it fails with msg (Octave prefixes the name).
function expect_error(name, fn, msg)
  try
    fn();
    report(name, false, sprintf('no error, expected "%s"', msg));
  catch err
    got = err.message;
    ok = strcmp(got, ['vorn_hist2: ' msg]) || strcmp(got, msg);
    report(name, ok, sprintf('got "%s", expected "%s"', got, msg));
  end
end

% Runs fn, which must succeed and return a 256x256 real double matrix.
function h = expect_result(name, fn)
  h = [];
  try
    h = fn();
    ok = isa(h, 'double') && isreal(h) && ~issparse(h) && isequal(size(h), [256 256]);
    report(name, ok, sprintf('result of class %s and size %s', class(h), mat2str(size(h))));
  catch err
    report(name, false, ['error: ' err.message]);
  end
end

function expect_true(name, ok, detail)
  if nargin < 3
    detail = 'condition is false';
  end
  report(name, ok, detail);
end

% Checks that h is zero apart from the listed (row, column) elements.
function expect_only(name, h, rows, cols, values)
  if isempty(h)
    report(name, false, 'no result');
    return;
  end
  want = zeros(256, 256);
  for k = 1:numel(rows)
    want(rows(k), cols(k)) = values(k);
  end
  [r, c] = find(h ~= want, 1);
  if isempty(r)
    report(name, true, '');
  else
    report(name, false, sprintf('H(%d,%d) is %.17g, expected %.17g', r, c, h(r, c), want(r, c)));
  end
end

function record(name, h)
  global results
  if isempty(h)
    digest = 'missing';
  else
    digest = hash('md5', char(typecast(h(:), 'uint8'))');
  end
  results{end + 1} = sprintf('%s %s', name, digest);
end

% Deterministic pseudo-random numbers in [0, 1): a linear congruential
% generator, so the fixed calls do not depend on Octave's own generators.
function [x, state] = lcg(state, n)
  x = zeros(1, n);
  for k = 1:n
    state = mod(state * 1103515245 + 12345, 2^31);
    x(k) = state / 2^31;
  end
end

function r = call_nargout0(varargin)
  vorn_hist2(varargin{:});
  r = ans;
end

function call_nargout2(varargin)
  [a, b] = vorn_hist2(varargin{:}); %#ok
end

% A byte-for-byte copy: copyfile would keep a symbolic link as a link, and
% the plug-in would then resolve to its target's folder.
function copy_bytes(from, to_dir)
  [~, name, ext] = fileparts(from);
  fin = fopen(from, 'r');
  bytes = fread(fin, Inf, 'uint8=>uint8');
  fclose(fin);
  fout = fopen(fullfile(to_dir, [name ext]), 'w');
  fwrite(fout, bytes, 'uint8');
  fclose(fout);
end

function text = shown_help()
  try
    text = evalc('help vorn_hist2');
  catch err
    text = ['help failed: ' err.message];
  end
end

function m = translation(t)
  m = [zeros(3, 3) t(:); 0 0 0 1];
end

global n_pass n_fail results
n_pass = 0;
n_fail = 0;
results = {};

args = argv();
plugin_dir = getenv('VORN_PLUGIN_DIR');
results_file = getenv('VORN_RESULTS_FILE');
if numel(args) >= 1
  plugin_dir = args{1};
end
if numel(args) >= 2
  results_file = args{2};
end
if isempty(plugin_dir)
  fprintf(2, 'usage: octave-cli --no-gui --norc --no-history run_suite.m PLUGIN_DIR [RESULTS_FILE]\n');
  exit(2);
end
plugin_dir = make_absolute_filename(plugin_dir);
[real_dir, status] = canonicalize_file_name(plugin_dir);
if status == 0
  plugin_dir = real_dir;
end
if ~isempty(results_file)
  results_file = make_absolute_filename(results_file);
end
help_file = fullfile(fileparts(fileparts(fileparts(mfilename('fullpath')))), 'vorn_hist2.m');

% Work in an empty folder: the current folder comes before the path.
work_dir = tempname();
mkdir(work_dir);
cd(work_dir);
addpath(plugin_dir);
printf('plug-in: %s\n', which('vorn_hist2'));

try
  z10 = zeros(10, 10, 10, 'uint8');
  z5 = zeros(5, 5, 5, 'uint8');
  id = eye(4);
  [x, st] = lcg(7, 8 * 7 * 6);
  v876 = reshape(uint8(floor(256 * x)), 8, 7, 6);
  [x, st] = lcg(st, 9 * 8 * 7);
  v987 = reshape(uint8(floor(256 * x)), 9, 8, 7);
  rot = [0.98 -0.17 0.05 0.6; 0.17 0.97 -0.1 -0.4; -0.03 0.11 0.99 0.3; 0 0 0 1];

  h = expect_result('plug-in answers a valid call', @() vorn_hist2(z10, z10, id));
  expect_true('plug-in found in PLUGIN_DIR', strncmp(which('vorn_hist2'), plugin_dir, numel(plugin_dir)), ...
              sprintf('vorn_hist2 resolves to "%s"', which('vorn_hist2')));

  % Argument counts.
  expect_error('no arguments', @() vorn_hist2(), 'Incorrect usage.');
  expect_error('two arguments', @() vorn_hist2(z10, z10), 'Incorrect usage.');
  expect_error('five arguments', @() vorn_hist2(z10, z10, id, [1 1 1], 1), 'Incorrect usage.');
  expect_error('two results', @() call_nargout2(z10, z10, id), 'Incorrect usage.');
  expect_error('wrong count before bad volume', @() vorn_hist2(int8(z10), z10), 'Incorrect usage.');
  h = expect_result('no result asked for', @() call_nargout0(z10, z10, id));
  expect_only('no result asked for: result stored all the same', h, 1, 1, 512);

  % Volumes: kind before shape, volume 1 before volume 2 before the matrix.
  bad_kinds = {int8(z10), double(z10), logical(z10), single(z10), char(z10)};
  kind_names = {'int8', 'double', 'logical', 'single', 'char'};
  for k = 1:numel(bad_kinds)
    expect_error(['volume 1 ' kind_names{k}], @() vorn_hist2(bad_kinds{k}, z10, id), 'Wrong sort of data (1).');
    expect_error(['volume 2 ' kind_names{k}], @() vorn_hist2(z10, bad_kinds{k}, id), 'Wrong sort of data (2).');
  end
  expect_error('volume 1 cell', @() vorn_hist2({z10}, z10, id), 'Wrong sort of data (1).');
  expect_error('both volumes bad', @() vorn_hist2(int8(z10), double(z10), id), 'Wrong sort of data (1).');
  expect_error('volume 2 kind before bad matrix', @() vorn_hist2(z10, int8(z10), single(id)), 'Wrong sort of data (2).');
  expect_error('volume 2 dims before bad matrix', @() vorn_hist2(z10, zeros(5, 5, 'uint8'), single(id)), 'Wrong number of dims (2).');
  expect_error('volume 1 two dims', @() vorn_hist2(zeros(10, 10, 'uint8'), z10, id), 'Wrong number of dims (1).');
  expect_error('volume 1 four dims', @() vorn_hist2(zeros(3, 3, 3, 2, 'uint8'), z10, id), 'Wrong number of dims (1).');
  expect_error('volume 1 single slice', @() vorn_hist2(zeros(10, 10, 1, 'uint8'), z10, id), 'Wrong number of dims (1).');
  expect_error('volume 2 two dims', @() vorn_hist2(z10, zeros(10, 10, 'uint8'), id), 'Wrong number of dims (2).');
  expect_error('volume 2 four dims', @() vorn_hist2(z10, zeros(3, 3, 3, 2, 'uint8'), id), 'Wrong number of dims (2).');
  expect_error('volume 1 dims before volume 2 kind', @() vorn_hist2(zeros(4, 4, 'uint8'), int8(z10), id), 'Wrong number of dims (1).');

  h = expect_result('volumes of different sizes', @() vorn_hist2(v876, v987, id));
  h = expect_result('volume 1 with a size of 0', @() vorn_hist2(zeros(0, 10, 10, 'uint8'), z10, id));
  expect_only('volume 1 with a size of 0: all zero', h, [], [], []);
  h = expect_result('volume 2 with a size of 0', @() vorn_hist2(z10, zeros(10, 10, 0, 'uint8'), id));
  expect_only('volume 2 with a size of 0: all zero', h, [], [], []);
  h = expect_result('volume 1 of 2 voxels along an axis', @() vorn_hist2(zeros(10, 2, 10, 'uint8'), z10, id));
  expect_only('volume 1 of 2 voxels along an axis: all zero', h, [], [], []);

  % Matrix: kind before shape.
  expect_error('matrix single 4x4', @() vorn_hist2(z10, z10, single(id)), 'Wrong sort of matrix.');
  expect_error('matrix complex 4x4', @() vorn_hist2(z10, z10, complex(id, id)), 'Wrong sort of matrix.');
  expect_error('matrix single 3x3', @() vorn_hist2(z10, z10, single(eye(3))), 'Wrong sort of matrix.');
  expect_error('matrix int32 4x4', @() vorn_hist2(z10, z10, int32(id)), 'Wrong sort of matrix.');
  expect_error('matrix sparse 4x4', @() vorn_hist2(z10, z10, sparse(id)), 'Wrong sort of matrix.');
  expect_error('matrix 4x3', @() vorn_hist2(z10, z10, zeros(4, 3)), 'Matrix must be 4x4.');
  expect_error('matrix 3x4', @() vorn_hist2(z10, z10, zeros(3, 4)), 'Matrix must be 4x4.');
  expect_error('matrix 1x16', @() vorn_hist2(z10, z10, zeros(1, 16)), 'Matrix must be 4x4.');
  expect_error('matrix 16x1', @() vorn_hist2(z10, z10, zeros(16, 1)), 'Matrix must be 4x4.');
  expect_error('matrix 4x4x2', @() vorn_hist2(z10, z10, zeros(4, 4, 2)), 'Matrix must be 4x4.');
  h = expect_result('matrix singular', @() vorn_hist2(z10, z10, zeros(4)));
  expect_only('matrix singular: maps outside, all zero', h, [], [], []);
  for k = [1 2 3 5 6 7 9 10 11 13 14 15]
    m = id;
    m(k) = NaN;
    h = vorn_hist2(z10, z10, m);
    expect_only(sprintf('matrix NaN at element %d: nothing counted', k - 1), h, [], [], []);
  end
  for k = [4 8 12 16]
    m = id;
    m(k) = NaN;
    h = vorn_hist2(z10, z10, m);
    expect_only(sprintf('matrix NaN at element %d (fourth row): no effect', k - 1), h, 1, 1, 512);
  end
  m = id;
  m(1) = Inf;
  m(6) = -1e308;
  h = expect_result('matrix Inf and -1e308', @() vorn_hist2(z10, z10, m));
  expect_only('matrix Inf and -1e308: nothing counted', h, [], [], []);

  % Skips: kind and shape.
  expect_error('skips 2x2', @() vorn_hist2(z10, z10, id, ones(2)), 'Invalid skips.');
  expect_error('skips 1x4', @() vorn_hist2(z10, z10, id, ones(1, 4)), 'Invalid skips.');
  expect_error('skips 1x2', @() vorn_hist2(z10, z10, id, ones(1, 2)), 'Invalid skips.');
  expect_error('skips empty', @() vorn_hist2(z10, z10, id, []), 'Invalid skips.');
  expect_error('skips single', @() vorn_hist2(z10, z10, id, single([1 1 1])), 'Invalid skips.');
  expect_error('skips int32', @() vorn_hist2(z10, z10, id, int32([1 1 1])), 'Invalid skips.');
  expect_error('skips complex', @() vorn_hist2(z10, z10, id, complex([1 1 1], [1 0 0])), 'Invalid skips.');
  expect_error('skips sparse', @() vorn_hist2(z10, z10, id, sparse([1 1 1])), 'Invalid skips.');
  expect_error('skips char', @() vorn_hist2(z10, z10, id, 'abc'), 'Invalid skips.');
  expect_error('matrix before skips', @() vorn_hist2(z10, z10, zeros(3), []), 'Matrix must be 4x4.');

  % Skips that would never let the walk end.
  expect_error('skip 0', @() vorn_hist2(z10, z10, id, [1 0 1]), 'Invalid skips.');
  expect_error('skip negative', @() vorn_hist2(z10, z10, id, [1 1 -2]), 'Invalid skips.');
  expect_error('skip -Inf', @() vorn_hist2(z10, z10, id, [-Inf 1 1]), 'Invalid skips.');
  expect_error('skip 1e-9', @() vorn_hist2(z10, z10, id, [1 1e-9 1]), 'Invalid skips.');
  expect_error('skip rounding to single 0', @() vorn_hist2(z10, z10, id, [1e-50 1 1]), 'Invalid skips.');
  % Skips that do end, but over more grid points than a call may visit:
  % about 2e17 here, which would run for a lifetime.
  expect_error('skips 1e-4 on 64x64x48', @() vorn_hist2(zeros(64, 64, 48, 'uint8'), z10, id, [1e-4 1e-4 1e-4]), 'Invalid skips.');
  expect_error('skip 0 on an axis without grid points', @() vorn_hist2(zeros(10, 10, 2, 'uint8'), z10, id, [1 1 0]), 'Invalid skips.');
  % Beyond 2^24 + 2 voxels a single-precision coordinate stops growing by 1.
  % The volumes hold no voxels (a size of 0 elsewhere), so nothing is read.
  expect_error('default skips on an axis of 2^24 + 3', ...
               @() vorn_hist2(zeros(0, 3, 2^24 + 3, 'uint8'), z10, id), 'Invalid skips.');
  h = expect_result('default skips on an axis of 2^24 + 2', @() vorn_hist2(zeros(0, 3, 2^24 + 2, 'uint8'), z10, id));
  expect_only('default skips on an axis of 2^24 + 2: all zero', h, [], [], []);
  h = expect_result('axis of 2^24 + 3 whose loop is never entered', ...
                    @() vorn_hist2(zeros(2^24 + 3, 3, 0, 'uint8'), z10, id));
  expect_only('axis of 2^24 + 3 whose loop is never entered: all zero', h, [], [], []);
  expect_error('skip 2 on an axis of 2^25 + 6', ...
               @() vorn_hist2(zeros(0, 3, 2^25 + 6, 'uint8'), z10, id, [1 1 2]), 'Invalid skips.');
  h = expect_result('skip 2 on an axis of 2^25 + 5', @() vorn_hist2(zeros(0, 3, 2^25 + 5, 'uint8'), z10, id, [1 1 2]));
  h = expect_result('skip NaN', @() vorn_hist2(z10, z10, id, [1 NaN 1]));
  expect_only('skip NaN: all zero', h, [], [], []);
  h = expect_result('skip +Inf', @() vorn_hist2(z10, z10, id, [1 1 Inf]));
  expect_only('skip +Inf: all zero', h, [], [], []);

  % Skips: layout, default, single precision.
  s = [1.5 0.7 1.3];
  h_row = vorn_hist2(v876, v987, rot, s);
  h_col = vorn_hist2(v876, v987, rot, s');
  expect_true('skips 1x3 and 3x1 give the same result', isequal(h_row, h_col) && sum(h_row(:)) > 0);
  h3 = vorn_hist2(v876, v987, rot);
  h4 = vorn_hist2(v876, v987, rot, [1 1 1]);
  expect_true('three arguments equal skips [1 1 1]', isequal(h3, h4) && sum(h3(:)) > 0);
  expect_true('skips [1 1 1] differ from [1.5 0.7 1.3]', ~isequal(h3, h_row));
  % Along an axis of 3 voxels, a skip of 0.1 taken in single precision
  % (0.100000001490116...) gives 20 grid points; in double it would be 19.
  z3 = zeros(3, 3, 3, 'uint8');
  h = vorn_hist2(z3, z3, id, [0.1 1 1]);
  expect_only('skip 0.1: 20 grid points along an axis of 3', h, 1, 1, 20);
  h_single = vorn_hist2(z3, z3, id, [double(single(0.1)) 1 1]);
  h_near = vorn_hist2(z3, z3, id, [0.1 + 1e-10 1 1]);
  expect_true('skip 0.1 equals its nearest single', isequal(h, h_single, h_near));
  h = vorn_hist2(zeros(14, 3, 3, 'uint8'), zeros(14, 3, 3, 'uint8'), id, [2.6 1 1]);
  expect_only('skip 2.6 on an axis of 14: 4 grid points', h, 1, 1, 4);

  % Numeric results end to end.
  h = vorn_hist2(z10, z10, id);
  expect_only('10x10x10 zeros: 512 at (0,0)', h, 1, 1, 512);
  record('zeros10', h);
  for c = [0 77 255]
    v = c * ones(10, 10, 10, 'uint8');
    h = vorn_hist2(v, v, id);
    expect_only(sprintf('10x10x10 of %d: 512 at (%d,%d)', c, c, c), h, c + 1, c + 1, 512);
    record(sprintf('const%d', c), h);
  end
  v = 9 * ones(12, 12, 12, 'uint8');
  h = vorn_hist2(v, v, id, [1.7 0.6 2.3]);
  expect_only('12x12x12 of 9, skips 1.7 0.6 2.3: 432 at (9,9)', h, 10, 10, 432);
  record('nine12_fractional', h);
  h = vorn_hist2(3 * ones(10, 10, 10, 'uint8'), 7 * ones(5, 5, 5, 'uint8'), id);
  expect_only('volume 2 smaller: hist[775] = 64', h, 8, 4, 64);
  record('smaller_vol2', h);

  v27 = reshape(uint8(0:26), 3, 3, 3);
  h = vorn_hist2(v27, v27, id);
  expect_only('3x3x3 index volume: shares at (11,11) and (12,11)', h, [12 13], [12 12], ...
              [0.71057033538818359 0.28942966461181641]);
  expect_true('3x3x3 index volume: exact bit patterns', ...
              strcmp(num2hex(h(12, 12)), num2hex(0.71057033538818359)) && ...
              strcmp(num2hex(h(13, 12)), num2hex(0.28942966461181641)) && h(12, 12) + h(13, 12) == 1, ...
              sprintf('%s %s', num2hex(h(12, 12)), num2hex(h(13, 12))));
  record('index27', h);

  v2 = z5;
  v2(87) = 255;
  h = vorn_hist2(z10, v2, translation([2 3 4]));
  expect_only('translation onto 255: hist[255] = 512', h, 256, 1, 512);
  record('translate255', h);
  v2(87) = 17;
  h = vorn_hist2(200 * ones(10, 10, 10, 'uint8'), v2, translation([2 3 4]));
  expect_only('translation onto 17 from 200: hist[51217] = 512', h, 18, 201, 512);
  record('translate17', h);
  v2 = z5;
  v2(89) = 42;
  h = vorn_hist2(z10, v2, translation([4 3 4]));
  expect_only('translation mat(13) = 4: voxel (4,3,4)', h, 43, 1, 512);
  h = vorn_hist2(z10, v2, translation([5 3 4]));
  expect_only('translation mat(13) = 5: nothing counted', h, [], [], []);
  h = vorn_hist2(z10, v2, translation([0.999 3 4]));
  expect_only('translation mat(13) = 0.999: nothing counted', h, [], [], []);

  h1 = vorn_hist2(v876, v987, rot, [1.5 0.7 1.3]);
  h2 = vorn_hist2(v876, v987, rot, [1.5 0.7 1.3]);
  expect_true('two calls equal', isequal(h1, h2) && ...
              strcmp(hash('md5', char(typecast(h1(:), 'uint8'))'), hash('md5', char(typecast(h2(:), 'uint8'))')));
  expect_true('rotated random volumes: weights add up to the counted points', ...
              abs(sum(h1(:)) - round(sum(h1(:)))) < 1e-9 && sum(h1(:)) > 0 && sum(h1(:)) <= 6 * 10 * 4, ...
              sprintf('sum %.17g', sum(h1(:))));
  record('rotated_random', h1);

  % Fixed pseudo-random calls for comparing builds: unequal sizes, maps that
  % send part of volume 1 outside volume 2, fractional skips, NaN in row 4.
  skip_choices = [0.7 1 1.3 1.5 0.45];
  counted = 0;
  for n = 1:12
    [x, st] = lcg(st, 26);
    d1 = 4 + floor(8 * x(1:3));
    d2 = 3 + floor(9 * x(4:6));
    m = eye(4);
    m(1:3, 1:3) = m(1:3, 1:3) + 0.3 * reshape(x(7:15) - 0.5, 3, 3);
    m(1:3, 4) = 2 * (x(16:18)' - 0.5);
    m(4, 1) = NaN;
    s = skip_choices(1 + floor(5 * x(19:21)));
    [y, st] = lcg(st, prod(d1) + prod(d2));
    a = reshape(uint8(floor(256 * y(1:prod(d1)))), d1);
    b = reshape(uint8(floor(256 * y(prod(d1) + 1:end))), d2);
    h = vorn_hist2(a, b, m, s);
    counted = counted + (sum(h(:)) > 0);
    record(sprintf('random%02d', n), h);
  end
  expect_true('pseudo-random calls: most count something', counted >= 9, sprintf('%d of 12', counted));

  % The help file: shown by help, shadowed by the plug-in in its folder, and
  % naming the ways to a plug-in when none is there.
  if exist(help_file, 'file')
    both_dir = fullfile(work_dir, 'both');
    help_dir = fullfile(work_dir, 'help_only');
    mkdir(both_dir);
    mkdir(help_dir);
    copy_bytes(fullfile(plugin_dir, 'vorn_hist2.mex'), both_dir);
    copy_bytes(help_file, both_dir);
    copy_bytes(help_file, help_dir);
    rmpath(plugin_dir);
    addpath(both_dir);
    text = shown_help();
    messages = {'Incorrect usage.', 'Wrong sort of data (1).', 'Wrong number of dims (1).', ...
                'Wrong sort of data (2).', 'Wrong number of dims (2).', 'Wrong sort of matrix.', ...
                'Matrix must be 4x4.', 'Invalid skips.'};
    missing = {};
    for k = 1:numel(messages)
      if isempty(strfind(text, messages{k}))
        missing{end + 1} = messages{k};
      end
    end
    expect_true('help lists the eight messages', isempty(missing), ['missing: ' strjoin(missing, ' ')]);
    expect_true('help shows usage, layout and default skips', ...
                ~isempty(strfind(text, 'H = vorn_hist2(VOL1, VOL2, M, SKIPS)')) && ...
                ~isempty(strfind(text, 'H(i+1, j+1)')) && ~isempty(strfind(text, 'Default [1 1 1]')), text);
    expect_true('plug-in takes precedence over the help file', ...
                strcmp(which('vorn_hist2'), fullfile(both_dir, 'vorn_hist2.mex')), which('vorn_hist2'));
    h = expect_result('plug-in next to the help file answers', @() vorn_hist2(z10, z10, id));
    expect_only('plug-in next to the help file: 512 at (0,0)', h, 1, 1, 512);
    rmpath(both_dir);
    addpath(help_dir);
    try
      vorn_hist2(z10, z10, id);
      report('help file alone names the package and build_octave', false, 'no error');
    catch err
      expect_true('help file alone names the package and build_octave', ...
                  ~isempty(strfind(err.message, 'pkg install vorn_hist2-*.tar.gz')) && ...
                  ~isempty(strfind(err.message, 'build_octave')), err.message);
    end
    rmpath(help_dir);
    addpath(plugin_dir);
  else
    report('help file present', false, ['not found: ' help_file]);
  end
catch err
  report('suite ran to the end', false, err.message);
end

if ~isempty(results_file)
  fid = fopen(results_file, 'w');
  fprintf(fid, '%s\n', results{:});
  fclose(fid);
  printf('results: %s (%d calls)\n', results_file, numel(results));
end

cd(tempdir());
confirm_recursive_rmdir(false);
rmdir(work_dir, 's');
printf('%d passed, %d failed\n', n_pass, n_fail);
exit(double(n_fail > 0));
