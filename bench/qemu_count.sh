#!/usr/bin/env bash
# Instructions per grid point of one hist2_count run on arm64, counted
# under qemu-user: with -singlestep every translated block is one
# instruction, and -d exec,nochain logs each block as it executes. Only
# blocks in the core's code (from hist2 to the end of the text) are logged,
# and the run without the call ("none") is subtracted.
#   qemu_count.sh HIST2_COUNT shipped|plain SKIP D0 D1 D2
# HIST2_COUNT is the arm64 sub-build's bench/hist2_count (linked -no-pie).
set -euo pipefail
[ $# = 6 ] || { echo "usage: qemu_count.sh HIST2_COUNT shipped|plain SKIP D0 D1 D2" >&2; exit 2; }
bin=$1 mode=$2
shift 2
nm=$(command -v aarch64-linux-gnu-nm || command -v llvm-nm || command -v nm)
lo=$("$nm" "$bin" | awk '$3 == "hist2" { print $1 }')
hi=$("$nm" "$bin" | awk '$3 == "_fini" { print $1 }')
[ -n "$lo" ] && [ -n "$hi" ] || { echo "no hist2 or _fini in $bin" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkfifo "$work/log"

count() { # mode skip d0 d1 d2: prints the instructions executed in the core's code
    wc -l <"$work/log" >"$work/n" &
    qemu-aarch64 -L /usr/aarch64-linux-gnu -singlestep -d exec,nochain -dfilter "0x$lo..0x$hi" \
        -D "$work/log" "$bin" "$@" >"$work/out" || { echo "$bin $* failed" >&2; exit 1; }
    wait
    cat "$work/n"
}

base=$(count none "$@")
run=$(count "$mode" "$@")
points=$(sed -n 's/.*: \([0-9]*\) grid points.*/\1/p' "$work/out")
awk -v r="$run" -v b="$base" -v p="$points" -v m="$mode" \
    'BEGIN { printf "%s: %d instructions, %d grid points, %.1f per grid point\n", m, r - b, p, (r - b) / p }'
