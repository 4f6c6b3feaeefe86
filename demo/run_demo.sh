#!/usr/bin/env bash
# Runs the registration demo in GNU Octave with the vorn_hist2 plug-in
# given, printing its progress as it goes.
#
#   demo/run_demo.sh PLUGIN [PICTURE.png [D1 D2 D3]]
#
# PLUGIN is a folder that holds vorn_hist2.mex (the mkoctfile build), or a
# plug-in file such as dist/vorn_hist2.mexa64, which is copied into a
# temporary folder as vorn_hist2.mex, the name Octave loads. The host
# libraries that plug-in needs must then be on LD_LIBRARY_PATH. The picture
# goes to register_demo.png in the current folder unless named; D1 D2 D3
# set the size of volume 1 (default 128 128 64), smaller for a quicker run.
set -euo pipefail

case $# in
  1|2) size="128 128 64" ;;
  5) size="$3 $4 $5" ;;
  *) echo "usage: $0 PLUGIN [PICTURE.png [D1 D2 D3]]" >&2; exit 2 ;;
esac
picture=$(realpath -m "${2:-register_demo.png}")
demo_dir=$(cd "$(dirname "$0")" && pwd)

if [ -f "$1" ]; then
  plugin_dir=$(mktemp -d)
  trap 'rm -rf "$plugin_dir"' EXIT
  cp "$1" "$plugin_dir/vorn_hist2.mex"
  echo "Plug-in $1, loaded as vorn_hist2.mex"
elif [ -d "$1" ]; then
  plugin_dir=$(realpath "$1")
else
  echo "$0: no plug-in at $1" >&2
  exit 2
fi

# Paths travel through the environment, so that no quoting can break the
# Octave command. The plug-in's folder goes first on the path, and Octave
# starts in the demo's folder, so that no vorn_hist2 in the caller's
# folder (which Octave would search first) can stand in for it.
cd "$demo_dir"
export VORN_PLUGIN_DIR="$plugin_dir" VORN_DEMO_DIR="$demo_dir" VORN_DEMO_PNG="$picture"
export VORN_REGISTRATION_DIR="$demo_dir/../registration"
octave-cli --no-gui --norc --no-history --eval "
  addpath(getenv('VORN_DEMO_DIR'));
  addpath(getenv('VORN_REGISTRATION_DIR'));
  addpath(getenv('VORN_PLUGIN_DIR'));
  if exist('vorn_hist2') ~= 3
    error('No vorn_hist2 plug-in that Octave can load in %s.', getenv('VORN_PLUGIN_DIR'));
  end
  fprintf('Using %s\n', which('vorn_hist2'));
  demo_size = [$size];
  demo_png = getenv('VORN_DEMO_PNG');
  register_demo"
