#!/bin/sh
# A new user's first Octave session in the source folder: calling
# vorn_hist2 before any plug-in exists names the ways to get one, and
# build_octave then leaves the plug-in callable in the same session. Runs on
# a copy of the files the user has, so that the source tree stays clean.
#
#   build_then_call.sh SOURCE_DIR WORK_DIR
set -u
src=$1 work=$2
rm -rf "$work"
mkdir -p "$work"
cp -R "$src/vorn_hist2.m" "$src/build_octave.m" "$src/gateway" "$src/core" "$work/"
cd "$work" || exit 1
octave-cli --no-gui --norc --no-history --eval "
  z = zeros(10, 10, 10, 'uint8');
  try
    vorn_hist2(z, z, eye(4));
    error('vorn_hist2 answered without a plug-in');
  catch err
    disp(err.message);
    assert(strcmp(err.identifier, 'vorn_hist2:noPlugin'), err.identifier);
    assert(~isempty(strfind(err.message, 'pkg install vorn_hist2-*.tar.gz')), 'no pkg install');
    assert(~isempty(strfind(err.message, 'pkg load vorn_hist2')), 'no pkg load');
    assert(~isempty(strfind(err.message, 'build_octave')), 'no build_octave');
  end
  build_octave;
  H = vorn_hist2(z, z, eye(4));
  assert(H(1, 1) == 512 && nnz(H) == 1, 'wrong histogram');
  disp('build_octave then a call: ok');
  mkdir('elsewhere');
  lastwarn('');
  build_octave('elsewhere');
  [msg, id] = lastwarn();
  assert(strcmp(id, 'build_octave:notFirst'), 'no warning for a plug-in that is not called');
  disp('build_octave into a folder off the path warns: ok');
"
