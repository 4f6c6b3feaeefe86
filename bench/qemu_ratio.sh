#!/usr/bin/env bash
# The arm64 speed goal, by instruction count under qemu-user (qemu_count.sh):
# the plain walk's instructions per grid point over the shipped walk's, on
# one workload, and whether that ratio reaches GOAL (exit 1 if not).
#   qemu_ratio.sh HIST2_COUNT SKIP D0 D1 D2 GOAL
set -euo pipefail
[ $# = 6 ] || { echo "usage: qemu_ratio.sh HIST2_COUNT SKIP D0 D1 D2 GOAL" >&2; exit 2; }
here=$(dirname "$0")
bin=$1 goal=$6
shipped=$("$here/qemu_count.sh" "$bin" shipped "$2" "$3" "$4" "$5")
plain=$("$here/qemu_count.sh" "$bin" plain "$2" "$3" "$4" "$5")
echo "$shipped"
echo "$plain"
per() { sed -n 's/.*, \([0-9.]*\) per grid point/\1/p' <<<"$1"; }
awk -v s="$(per "$shipped")" -v p="$(per "$plain")" -v g="$goal" 'BEGIN {
    r = p / s
    met = (r >= g)
    printf "ratio %.2fx, goal %sx: %s\n", r, g, (met ? "met" : "NOT met")
    exit (met ? 0 : 1) }'
