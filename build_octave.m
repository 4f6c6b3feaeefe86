function build_octave(outdir)
%BUILD_OCTAVE  Rebuilds the vorn_hist2 plug-in for GNU Octave (vorn_hist2.mex).
%
%   build_octave          builds it in the folder of this file
%   build_octave(OUTDIR)  builds it in OUTDIR
%
%   The same as running, from the shell in the folder of this file,
%     mkoctfile --mex -o vorn_hist2 gateway/vorn_hist2.cpp core/hist2.cpp
%   Then rescans the path, so that the new plug-in answers the next call of
%   vorn_hist2 at once, and warns when another vorn_hist2 comes first.

here = fileparts(mfilename('fullpath'));
if nargin < 1
  outdir = here;
end
mkoctfile('--mex', '-o', fullfile(outdir, 'vorn_hist2'), ...
          fullfile(here, 'gateway', 'vorn_hist2.cpp'), fullfile(here, 'core', 'hist2.cpp'));
% Octave notices new files on the path only when it rescans it.
rehash();
built = fullfile(outdir, 'vorn_hist2.mex');
if ~strcmp(which('vorn_hist2'), make_absolute_filename(built))
  warning('build_octave:notFirst', ...
          'Built %s, but vorn_hist2 calls "%s": add its folder with addpath(''%s'').', ...
          built, which('vorn_hist2'), outdir);
end
end
