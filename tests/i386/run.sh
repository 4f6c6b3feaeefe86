#!/usr/bin/env bash
# Runs an i386 Linux program of the tests: directly where this machine runs
# 32-bit x86 programs, otherwise under qemu-i386, which emulates the x87
# unit, precision control included.
#
#   run.sh PROBE QEMU PROGRAM [ARGS...]
#
# PROBE is an i386 program that exits 0; QEMU is qemu-i386.
set -u
probe=$1 qemu=$2
shift 2
if "$probe" 2>/dev/null; then
    exec "$@"
fi
echo "run.sh: this machine does not run 32-bit x86 programs; $(basename "$1") runs under qemu-i386" >&2
exec "$qemu" "$@"
