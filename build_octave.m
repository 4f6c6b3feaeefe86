function build_octave(outdir)
%BUILD_OCTAVE  Rebuilds the vorn_hist2 plug-in for GNU Octave (vorn_hist2.mex).
%
%   build_octave          builds it in the folder of this file
%   build_octave(OUTDIR)  builds it in OUTDIR
%
%   The same as running, from the shell in the folder of this file,
%     mkoctfile --mex -o vorn_hist2 gateway/vorn_hist2.cpp core/hist2.cpp

here = fileparts(mfilename('fullpath'));
if nargin < 1
  outdir = here;
end
mkoctfile('--mex', '-o', fullfile(outdir, 'vorn_hist2'), ...
          fullfile(here, 'gateway', 'vorn_hist2.cpp'), fullfile(here, 'core', 'hist2.cpp'));
end
