#!/bin/sh
# Runs the Octave suite against the delivered vorn_hist2.mexa64 in GNU
# Octave. Octave loads plug-ins by the .mex name, so the file is copied in
# as vorn_hist2.mex; the run-time libmx.so, libmex.so and libmat.so come from
# SHIM_DIR on LD_LIBRARY_PATH, set before Octave starts.
#
#   octave_run.sh compare  SHIM_DIR PLUGIN WORK_DIR SUITE REFERENCE_DIR
#     runs the suite against the plug-in and against the mkoctfile build in
#     REFERENCE_DIR: both must pass every case with equal results.
#   octave_run.sh valgrind SHIM_DIR PLUGIN WORK_DIR SUITE
#     runs the suite under memcheck: it must pass, and no error that
#     memcheck reports may have the plug-in on its stack.
set -u
mode=$1 shim=$2 plugin=$3 work=$4 suite=$5
octave="octave-cli --no-gui --norc --no-history"

rm -rf "$work"
mkdir -p "$work/plugin"
cp "$plugin" "$work/plugin/vorn_hist2.mex"

# passed_all OUTPUT: the suite's closing line reports cases and no failure.
passed_all() {
    tail -n 1 "$1" | grep -E -q '^[1-9][0-9]* passed, 0 failed$'
}

failed=0
fail() {
    echo "FAIL $*"
    failed=1
}

case $mode in
compare)
    reference=$6
    LD_LIBRARY_PATH="$shim" $octave "$suite" "$work/plugin" "$work/mexa64.results" >"$work/mexa64.out" 2>&1
    status=$?
    $octave "$suite" "$reference" "$work/reference.results" >"$work/reference.out" 2>&1
    reference_status=$?
    echo "vorn_hist2.mexa64 through the shim: $(tail -n 1 "$work/mexa64.out") (exit $status)"
    echo "mkoctfile build:                    $(tail -n 1 "$work/reference.out") (exit $reference_status)"
    [ "$status" = 0 ] && passed_all "$work/mexa64.out" || { cat "$work/mexa64.out"; fail "suite against vorn_hist2.mexa64"; }
    [ "$reference_status" = 0 ] && passed_all "$work/reference.out" || fail "suite against the mkoctfile build"
    # Same cases with the same outcomes, and bit-identical results.
    grep -E '^(ok|FAIL) ' "$work/mexa64.out" >"$work/mexa64.cases"
    grep -E '^(ok|FAIL) ' "$work/reference.out" >"$work/reference.cases"
    diff "$work/reference.cases" "$work/mexa64.cases" || fail "case outcomes differ"
    [ -s "$work/reference.results" ] || fail "no results recorded"
    diff "$work/reference.results" "$work/mexa64.results" || fail "results differ"
    ;;
valgrind)
    LD_LIBRARY_PATH="$shim" valgrind --tool=memcheck --error-limit=no --num-callers=40 \
        --log-file="$work/memcheck.log" $octave "$suite" "$work/plugin" >"$work/valgrind.out" 2>&1
    status=$?
    echo "under memcheck: $(tail -n 1 "$work/valgrind.out") (exit $status)"
    [ "$status" = 0 ] && passed_all "$work/valgrind.out" || { cat "$work/valgrind.out"; fail "suite under memcheck"; }
    grep -q 'ERROR SUMMARY' "$work/memcheck.log" || fail "memcheck did not finish"
    # Split the log into error reports (blank-line separated) and keep the
    # ones whose stack passes through the plug-in.
    sed 's/^==[0-9]*== \{0,1\}//' "$work/memcheck.log" |
        awk 'BEGIN { RS = "" } /vorn_hist2\.mex/ && !/^(HEAP|LEAK) SUMMARY/ { print; print "" }' >"$work/plugin_errors.txt"
    grep 'ERROR SUMMARY' "$work/memcheck.log" | sed 's/^==[0-9]*== //'
    if [ -s "$work/plugin_errors.txt" ]; then
        cat "$work/plugin_errors.txt"
        fail "memcheck errors inside the plug-in"
    fi
    ;;
*)
    echo "unknown mode $mode" >&2
    exit 2
    ;;
esac
exit $failed
