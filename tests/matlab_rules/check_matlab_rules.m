% Checks by rule that the project's MATLAB-side .m files use no syntax that
% only Octave accepts, and that the rule check itself finds every such line
% of a file made of them and none of a file of valid lines.
%
%   octave-cli --no-gui --norc --no-history check_matlab_rules.m SOURCE_DIR
%
% Prints each finding and "N passed, M failed"; exits with status 1 when a
% check failed.
args = argv();
src = args{1};
here = fileparts(mfilename('fullpath'));
addpath(here);
n_pass = 0;
n_fail = 0;

files = [glob(fullfile(src, 'registration', '*.m')); glob(fullfile(src, 'demo', '*.m')); ...
         {fullfile(src, 'vorn_hist2.m'); fullfile(src, 'build_mex.m')}];
for k = 1:numel(files)
    found = matlab_rules(files{k});
    if isempty(found)
        n_pass = n_pass + 1;
        fprintf('ok    %s\n', files{k});
    else
        n_fail = n_fail + 1;
        fprintf('FAIL  %s\n', files{k});
        fprintf('        %s\n', found{:});
    end
end

bad = fullfile(here, 'rules_bad.txt');
n_lines = numel(regexp(strtrim(fileread(bad)), '\n', 'split'));
found = matlab_rules(bad);
flagged = unique(cellfun(@(f) str2double(regexp(f, ':(\d+):', 'tokens', 'once')), found));
if isequal(flagged(:)', 1:n_lines)
    n_pass = n_pass + 1;
    fprintf('ok    every line of rules_bad.txt is found (%d lines)\n', n_lines);
else
    n_fail = n_fail + 1;
    fprintf('FAIL  lines of rules_bad.txt not found: %s\n', mat2str(setdiff(1:n_lines, flagged)));
end
found = matlab_rules(fullfile(here, 'rules_good.txt'));
if isempty(found)
    n_pass = n_pass + 1;
    fprintf('ok    no line of rules_good.txt is found\n');
else
    n_fail = n_fail + 1;
    fprintf('FAIL  rules_good.txt:\n');
    fprintf('        %s\n', found{:});
end
fprintf('%d passed, %d failed\n', n_pass, n_fail);
exit(double(n_fail > 0));
