function build_mex(outdir)
%BUILD_MEX  Rebuilds the vorn_hist2 plug-in with the host's own mex command.
%
%   build_mex          builds it in the folder of this file
%   build_mex(OUTDIR)  builds it in OUTDIR
%
%   Uses the compiler that mex is set up for (mex -setup). The plug-in gets
%   the host's extension for the platform it is built on. GNU Octave's mex
%   command accepts the same form and makes vorn_hist2.mex.

here = fileparts(mfilename('fullpath'));
if nargin < 1
  outdir = here;
end
sources = {fullfile(here, 'gateway', 'vorn_hist2.cpp'), fullfile(here, 'core', 'hist2.cpp')};

% mex writes into the current folder.
previous = cd(outdir);
restore = onCleanup(@() cd(previous));
% The gateway reads the host's sizes as size_t: 64-bit sizes are needed
% on releases whose default is still 32-bit.
mex('-largeArrayDims', '-output', 'vorn_hist2', sources{:});
end
