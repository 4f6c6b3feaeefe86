% Installs the Octave package into a throwaway package prefix, as a user
% would from dist/, and checks it: help, the package's own tests, a short
% call; then uninstalls it.
%
%   octave-cli --no-gui --norc --no-history install_test.m PACKAGE VERSION [KEEP_DIR]
%
% KEEP_DIR, when given, receives a copy of the installed plug-in, so that
% its results can be compared with those of other builds.
%
% Works in a temporary folder (pkg test writes its log into the current
% folder) with throwaway package lists, so that no installed package and
% no file of the caller takes part. Prints "N passed, M failed" and exits
% with status 1 when a check failed.
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

function n = summary_count(text, label)
  tok = regexp(text, ['^\s*' label '\s+(\d+)\s*$'], 'tokens', 'once', 'lineanchors');
  if isempty(tok)
    n = NaN;
  else
    n = str2double(tok{1});
  end
end

global n_pass n_fail
n_pass = 0;
n_fail = 0;

args = argv();
if numel(args) < 2 || numel(args) > 3
  fprintf(2, 'usage: install_test.m PACKAGE VERSION [KEEP_DIR]\n');
  exit(2);
end
package = make_absolute_filename(args{1});
version = args{2};
keep_dir = '';
if numel(args) == 3
  keep_dir = make_absolute_filename(args{3});
end

root = tempname();
prefix = fullfile(root, 'packages');
work = fullfile(root, 'work');
mkdir(prefix);
mkdir(work);
cd(work);
pkg('prefix', prefix, prefix);
pkg('local_list', fullfile(root, 'local_packages'));
pkg('global_list', fullfile(root, 'global_packages'));
installed_dir = fullfile(prefix, ['vorn_hist2-' version]);

try
  % The README's command: the name pattern, from the folder that holds it.
  copyfile(package, work);
  pkg('install', '-local', 'vorn_hist2-*.tar.gz');
  list = pkg('list');
  check('installed', numel(list) == 1 && strcmp(list{1}.name, 'vorn_hist2') && ...
        strcmp(list{1}.version, version), sprintf('%d packages listed', numel(list)));

  pkg('load', 'vorn_hist2');
  plugin = which('vorn_hist2');
  check('the plug-in is installed beside its help file', ...
        strcmp(plugin, fullfile(installed_dir, 'vorn_hist2.mex')) && ...
        exist(fullfile(installed_dir, 'vorn_hist2.m'), 'file') == 2, plugin);

  names = {'vorn_rigid_matrix', 'vorn_mutual_information', 'vorn_register_rigid'};
  here = cellfun(@(f) strcmp(which(f), fullfile(installed_dir, [f '.m'])), names);
  documented = cellfun(@(f) ~isempty(strfind(evalc(['help ' f]), 'Example')), names);
  check('the registration functions are installed, with help', all(here & documented), ...
        strjoin(names(~(here & documented)), ' '));

  text = evalc('help vorn_hist2');
  messages = {'Incorrect usage.', 'Wrong sort of data (1).', 'Wrong number of dims (1).', ...
              'Wrong sort of data (2).', 'Wrong number of dims (2).', 'Wrong sort of matrix.', ...
              'Matrix must be 4x4.', 'Invalid skips.', 'H = vorn_hist2(VOL1, VOL2, M, SKIPS)'};
  shown = cellfun(@(m) ~isempty(strfind(text, m)), messages);
  check('help shows the usage and the eight messages', all(shown), text);

  v = reshape(uint8(0:26), 3, 3, 3);
  H = vorn_hist2(v, v, eye(4));
  check('a short call', isequal(size(H), [256 256]) && nnz(H) == 2 && ...
        abs(H(12, 12) - 0.710571) < 2e-6 && H(12, 12) + H(13, 12) == 1, mat2str(find(H)'));

  out = evalc('pkg test vorn_hist2');
  fprintf('%s', out);
  passed = summary_count(out, 'PASS');
  failed = summary_count(out, 'FAIL');
  check('pkg test runs the package tests, all passing', passed > 0 && failed == 0, ...
        sprintf('PASS %d, FAIL %d', passed, failed));
  files = {'vorn_hist2', 'vorn_rigid_matrix', 'vorn_mutual_information', 'vorn_register_rigid'};
  tested = cellfun(@(f) ~isempty(regexp(out, [f '\.m[ .]+pass +([1-9]\d*)/\1(?!\d)'], 'once')), files);
  check('pkg test passes the tests of each function', all(tested), strjoin(files(~tested), ' '));

  if ~isempty(keep_dir)
    mkdir(keep_dir);
    check('installed plug-in kept', copyfile(plugin, keep_dir), keep_dir);
  end

  pkg('unload', 'vorn_hist2');
  pkg('uninstall', '-local', 'vorn_hist2');
  check('uninstalled', isempty(pkg('list')) && ~exist(installed_dir, 'dir') && ...
        isempty(which('vorn_hist2')), which('vorn_hist2'));
catch err
  check('install test ran to the end', false, err.message);
end

cd(tempdir());
confirm_recursive_rmdir(false);
rmdir(root, 's');
fprintf('%d passed, %d failed\n', n_pass, n_fail);
exit(double(n_fail > 0));
