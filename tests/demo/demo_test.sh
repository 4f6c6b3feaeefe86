#!/usr/bin/env bash
# Runs the demo at 64x64x48 through its runner and checks what it leaves:
# a clean exit, both stages of the registration functions, the plug-in it
# was given, every recovered parameter within half a degree or half a
# millimetre of the truth, and a labelled picture that shows the
# registration (checked by check_picture.m).
#
#   demo_test.sh RUN_DEMO PLUGIN_DIR WORK_DIR
set -euo pipefail
run_demo=$1 plugin_dir=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
rm -f "$work/demo.png" "$work/demo.log"

status=0
"$run_demo" "$plugin_dir" "$work/demo.png" 64 64 48 2>&1 | tee "$work/demo.log" || status=$?
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$status" = 0 ] || fail "the demo exited with status $status"

grep -qxF "Using $(realpath "$plugin_dir")/vorn_hist2.mex" "$work/demo.log" || fail "the demo did not use $plugin_dir"
grep -q "^Stage 1 of 2: skips 4 4 3," "$work/demo.log" || fail "no coarse stage"
grep -q "^Stage 2 of 2: skips 2 2 1," "$work/demo.log" || fail "no fine stage"
# The error row: six numbers, each under 0.5 in size.
awk '$1 == "error" { n++; if (NF != 7) bad = 1; for (i = 2; i <= NF; i++) if ($i >= 0.5 || $i <= -0.5) bad = 1 }
     END { exit !(n == 1 && !bad) }' "$work/demo.log" || fail "recovered parameters off by half a unit or more"

[ -f "$work/demo.png" ] || fail "no picture written"
VORN_DEMO_PNG="$work/demo.png" octave-cli --no-gui --norc --no-history \
  --eval "addpath('$here'); addpath('$(dirname "$run_demo")'); check_picture(getenv('VORN_DEMO_PNG'))" || fail "picture check"
echo "demo test passed"
