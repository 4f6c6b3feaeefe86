#!/usr/bin/env bash
# Wine runs of the Windows plug-ins, headless, in the prefix WINEPREFIX, with
# one persistent wineserver shared by every run (WINE and WINESERVER name the
# programs). Wine's own output goes to files, never to the test's pipes: the
# server and Wine's service processes outlive the command that starts them.
#
#   wine_run.sh start | stop
#   wine_run.sh actctx HOST PLUGIN ARCH VERSION   the manifest's assembly is bound
#   wine_run.sh threads HOST PLUGIN               no thread notifications reach it
#   wine_run.sh cases HOST PLUGIN CW              the shared cases pass
#   wine_run.sh diff HOST PLUGIN CW REFERENCE SEED COUNT
#                                                 random cases agree with REFERENCE
#
# VORN_I386_PROBE is an i386 program that exits 0: where it cannot run, the
# machine runs no 32-bit x86 programs, nor does Wine, and the 32-bit runs
# report themselves skipped (exit status 77).
set -uo pipefail
: "${WINEPREFIX:?}" "${WINE:?}" "${WINESERVER:?}" "${VORN_I386_PROBE:?}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAILED: $*"
    exit 1
}

# Runs the host program from its own folder, where the stand-in libmx.dll
# and libmex.dll are found, with the plug-in named by its Windows path.
host_run() { # host plugin args...
    local host=$1 plugin=$2
    shift 2
    (cd "$(dirname "$host")" && "$WINE" "$(basename "$host")" "Z:${plugin//\//\\}" "$@")
}

runs_i386() {
    "$VORN_I386_PROBE" 2>/dev/null
}

# A 32-bit plug-in needs a machine that runs 32-bit programs.
case "${3:-}" in
*.mexw32)
    if ! runs_i386; then
        echo "SKIPPED: this machine does not run 32-bit x86 programs, so Wine cannot run $(basename "$3");"
        echo "the PE test loader runs it under qemu-i386 instead (windows_pe_*_win32)"
        exit 77
    fi
    ;;
esac

case "${1:-}" in
start)
    # Wine's runtime assembly, which both manifests name, in both processor
    # architectures (the 32-bit one only where 32-bit programs run). A
    # prefix made on a machine without them lacks the 32-bit one: it is made
    # again.
    archs=amd64
    runs_i386 && archs="x86 amd64"
    missing_assembly() {
        for arch in $archs; do
            ls "$WINEPREFIX"/drive_c/windows/winsxs/manifests/${arch}_microsoft.vc80.crt_1fc8b3b9a1e18e3b_8.0.*.manifest \
                >/dev/null 2>&1 || { echo "$arch"; return 0; }
        done
        return 1
    }
    # A leftover server of this prefix (from an interrupted run) goes first.
    "$WINESERVER" -k >/dev/null 2>&1
    if [ -f "$WINEPREFIX/system.reg" ] && missing_assembly >/dev/null; then
        rm -rf "$WINEPREFIX"
    fi
    mkdir -p "$WINEPREFIX"
    "$WINESERVER" -p </dev/null >/dev/null 2>&1 || fail "wineserver did not start"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$WINE" wineboot -i </dev/null >"$WINEPREFIX.log" 2>&1 || fail "wineboot, see $WINEPREFIX.log"
    fi
    arch=$(missing_assembly) && fail "no $arch Microsoft.VC80.CRT assembly in the prefix"
    echo "prefix $WINEPREFIX ready"
    ;;
stop)
    "$WINESERVER" -k >/dev/null 2>&1
    echo "wineserver stopped"
    ;;
actctx)
    # The loader's trace of the plug-in's activation context: the assembly
    # that the manifest names is looked up and found in the prefix's side by
    # side store, and MSVCR80.dll is bound from there. (An assembly that is
    # not found is only logged: the file then loads the system's MSVCR80.dll.)
    host=$2 plugin=$3 arch=$4 version=$5
    WINEDEBUG=+actctx,+loaddll host_run "$host" "$plugin" load >"$work/log" 2>&1 || {
        tail -20 "$work/log"
        fail "the plug-in did not load"
    }
    # Wine writes each backslash of a path twice; slashes read more easily.
    tr -d '\r' <"$work/log" | sed 's|\\\\|/|g' >"$work/trace"
    store="C:/windows/winsxs/${arch}_microsoft\.vc80\.crt_1fc8b3b9a1e18e3b_8\.0\.[0-9.]+_none_[0-9a-f]+"
    grep -F "lookup_assembly looking for name=L\"Microsoft.VC80.CRT\" version=$version arch=L\"$arch\"" "$work/trace" ||
        fail "the loader did not look up Microsoft.VC80.CRT $version ($arch)"
    if grep -F "no matching file" "$work/trace"; then
        fail "an assembly that the manifest names was not found"
    fi
    grep -E "loading manifest file L\"/\?\?/C:/windows/winsxs/manifests/${arch}_microsoft\.vc80\.crt_1fc8b3b9a1e18e3b_" "$work/trace" ||
        fail "no manifest of the runtime assembly was loaded"
    grep -E "Loaded L\"$store/MSVCR80\.dll\"" "$work/trace" ||
        fail "MSVCR80.dll was not bound from the runtime assembly"
    echo "runtime assembly found and bound"
    ;;
threads)
    # The loader's trace of DLL entry calls while the host program starts and
    # ends a thread: the plug-in gets its process attach and no thread
    # notification, while the stand-in libmx.dll, which keeps them on, gets
    # the thread's attach (so the thread did run while the plug-in was there).
    host=$2 plugin=$3
    name=$(basename "$plugin")
    WINEDEBUG=+module host_run "$host" "$plugin" load >"$work/log" 2>&1 || {
        tail -20 "$work/log"
        fail "the plug-in did not load"
    }
    tr -d '\r' <"$work/log" | grep 'MODULE_InitDLL .* - CALL' >"$work/calls"
    grep -F "$name\",PROCESS_ATTACH" "$work/calls" || fail "no process attach for $name"
    grep -F 'libmx.dll",THREAD_ATTACH' "$work/calls" || fail "no thread was started while the plug-in was loaded"
    if grep -E "$name\",THREAD_(ATTACH|DETACH)" "$work/calls"; then
        fail "thread notifications reached $name"
    fi
    echo "thread notifications are off"
    ;;
cases)
    host=$2 plugin=$3 cw=$4
    host_run "$host" "$plugin" cases "$cw" >"$work/out" 2>&1
    status=$?
    tr -d '\r' <"$work/out"
    tail -1 "$work/out" | tr -d '\r' | grep -q -E '^[1-9][0-9]* passed, 0 failed$' || fail "the cases did not all pass"
    [ "$status" = 0 ] || fail "host program exited with $status"
    ;;
diff)
    host=$2 plugin=$3 cw=$4 reference=$5 seed=$6 count=$7
    host_run "$host" "$plugin" diff "$seed" "$count" "$cw" >"$work/plugin" 2>"$work/err" || {
        cat "$work/err"
        fail "host program failed"
    }
    "$reference" diff "$seed" "$count" >"$work/reference" || fail "$reference failed"
    [ "$(wc -l <"$work/reference")" = "$count" ] || fail "the reference printed $(wc -l <"$work/reference") lines, not $count"
    diff "$work/reference" "$work/plugin" | head -20
    cmp -s "$work/reference" "$work/plugin" || fail "the plug-in's results differ from the reference's"
    echo "$count random cases agree"
    ;;
*)
    echo "usage: wine_run.sh start | stop | actctx | cases | diff ..." >&2
    exit 2
    ;;
esac
