#!/bin/sh
# The users' rebuild scripts at the top of the tree still build a working
# plug-in: build_mex.m (the host's mex command; GNU Octave's mex accepts the
# same form) and build_octave.m (mkoctfile --mex), each run in Octave into a
# folder of its own. The Octave suite must pass against both builds, with
# the same results.
# Usage: rebuild_scripts.sh SOURCE_DIR WORK_DIR SUITE
set -u
src=$1 work=$2 suite=$3
octave="octave-cli --no-gui --norc --no-history"

rm -rf "$work"
mkdir -p "$work/by_mex" "$work/by_mkoctfile" "$work/elsewhere"
failed=0

# build SCRIPT FOLDER: runs the script from an unrelated folder.
build() {
    (cd "$work/elsewhere" && $octave --eval "addpath('$src'); $1('$work/$2')") >"$work/$2.log" 2>&1
    if [ $? != 0 ] || [ ! -f "$work/$2/vorn_hist2.mex" ]; then
        cat "$work/$2.log"
        echo "FAIL $1 did not build $work/$2/vorn_hist2.mex"
        failed=1
    fi
}
build build_mex by_mex
build build_octave by_mkoctfile
[ "$failed" = 0 ] || exit 1

for dir in by_mex by_mkoctfile; do
    $octave "$suite" "$work/$dir" "$work/$dir.results" >"$work/$dir.out" 2>&1
    status=$?
    echo "$dir: $(tail -n 1 "$work/$dir.out") (exit $status)"
    if [ "$status" != 0 ] || ! tail -n 1 "$work/$dir.out" | grep -E -q '^[1-9][0-9]* passed, 0 failed$'; then
        cat "$work/$dir.out"
        echo "FAIL suite against the $dir build"
        failed=1
    fi
done
diff "$work/by_mex.results" "$work/by_mkoctfile.results" || { echo "FAIL results differ"; failed=1; }
exit $failed
