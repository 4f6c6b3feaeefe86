#!/bin/sh
# Inspects vorn_hist2.mexa64 with binutils' own readers (readelf, objdump,
# nm) and checks every property the host relies on: container, name, needed
# libraries, exported symbols and their versions, required versions, stack,
# and the x86-64 baseline instruction set. Prints one line per failed check.
# Usage: check_mexa64.sh FILE
set -u
f=$1
failures=0
checks=0

# check NAME EXPECTED ACTUAL
check() {
    checks=$((checks + 1))
    if [ "$2" != "$3" ]; then
        failures=$((failures + 1))
        printf 'FAIL %s\n  expected: %s\n  found:    %s\n' "$1" "$2" "$3"
    fi
}

oneline() { tr '\n' ' ' | sed 's/ *$//'; }

[ -f "$f" ] || { echo "FAIL no file $f"; exit 1; }

# Container: a 64-bit x86-64 shared object.
header=$(readelf -h "$f")
check class "ELF64" "$(printf '%s\n' "$header" | sed -n 's/^ *Class: *//p')"
check type "DYN" "$(printf '%s\n' "$header" | sed -n 's/^ *Type: *\([A-Z]*\).*/\1/p')"
check machine "Advanced Micro Devices X86-64" "$(printf '%s\n' "$header" | sed -n 's/^ *Machine: *//p')"

# Dynamic section: the host's libraries first, then glibc's, in this order;
# no soname, no run path, no text relocations.
dynamic=$(readelf -dW "$f")
check needed "libmx.so libmex.so libmat.so libm.so.6 libstdc++.so.6 libpthread.so.0 libc.so.6" \
    "$(printf '%s\n' "$dynamic" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | oneline)"
check "soname, rpath, runpath, textrel" "" \
    "$(printf '%s\n' "$dynamic" | grep -o -E '\((SONAME|RPATH|RUNPATH|TEXTREL)\)' | oneline)"

# Version definitions: the base named after the file, then node MEX.
check "version definitions" "1 0x01 vorn_hist2.mexa64 2 0x00 MEX" \
    "$(objdump -p "$f" | sed -n '/^Version definitions:/,/^$/p' | awk 'NF == 4 { print $1, $2, $4 }' | oneline)"

# Required versions, by version index: libm and libc at GLIBC_2.2.5, libmx
# at v7.3, nothing else.
check "version references" "03 libm.so.6 GLIBC_2.2.5 04 libc.so.6 GLIBC_2.2.5 05 libmx.so v7.3" \
    "$(objdump -p "$f" | sed -n '/^Version References:/,/^$/p' |
        awk '/required from/ { lib = $3; sub(":", "", lib) } NF == 4 && $1 ~ /^0x/ { print $3, lib, $4 }' |
        sort | oneline)"

# Exports: the two functions at default version MEX and the absolute MEX
# that names the node; no other global or weak defined dynamic symbol.
check "defined dynamic symbols" "A MEX T mexFunction@@MEX T mexVersion@@MEX" \
    "$(nm -D --defined-only "$f" | awk '{ print $2, $3 }' | sort | oneline)"
check "MEX is absolute, value 0" "0000000000000000 g DO *ABS* MEX" \
    "$(objdump -T "$f" | awk '$NF == "MEX" && $(NF-1) == "MEX" { print $1, $2, $3, $4, $NF }')"

# Imports: which need a version, and of which strength.
dynsyms=$(objdump -T "$f")
imported() { printf '%s\n' "$dynsyms" | grep '\*UND\*' | awk -v v="$1" '$(NF-1) == v { print $NF }' | sort | oneline; }
check "imports at v7.3" "mxCreateDoubleMatrix mxGetDimensions mxGetNumberOfDimensions" "$(imported '(v7.3)')"
# glibc: __cxa_finalize, and floor or floorf (whichever the compiler did not
# expand inline), nothing else.
check "imports at GLIBC_2.2.5 besides floor and floorf" "__cxa_finalize" \
    "$(imported '(GLIBC_2.2.5)' | tr ' ' '\n' | grep -v -x -E 'floorf?' | oneline)"
check "floor or floorf imported" "yes" \
    "$(imported '(GLIBC_2.2.5)' | tr ' ' '\n' | grep -q -x -E 'floorf?' && echo yes)"
check "unversioned imports of the host" "mexErrMsgTxt mxGetData mxGetM mxGetN mxGetPr mxIsComplex mxIsDouble mxIsNumeric mxIsSparse mxIsUint8" \
    "$(imported Base | tr ' ' '\n' | grep -E '^mx|^mex' | oneline)"
check "__cxa_finalize is weak" "w" \
    "$(printf '%s\n' "$dynsyms" | awk '$NF == "__cxa_finalize" { print $2 }')"

# The core stays inside: no dynamic symbol names it, and hist2 is a local
# symbol of the object's own symbol table.
check "core names among dynamic symbols" "" \
    "$(nm -D "$f" | grep -E ' (hist2|hist2_walk_ends|_ZL4samp[A-Za-z]*|_ZL3ran|samp|ran)(@.*)?$' | oneline)"
check "hist2 is local" "t hist2" "$(nm "$f" | awk '$3 == "hist2" { print $2, $3 }')"
check "samp and ran are local" "r _ZL3ran t _ZL4sampPKmPKhfff" \
    "$(nm "$f" | awk '$3 ~ /^_ZL(3ran|4samp)/ { print $2, $3 }' | sort | oneline)"

# A non-executable stack.
check "stack flags" "RW" "$(readelf -lW "$f" | awk '$1 == "GNU_STACK" { print $7 }')"

# The x86-64 baseline: no AVX (VEX-coded or ymm/zmm), no SSE3 and later, no
# bit-manipulation extensions, and so no fused multiply-add.
check "instructions beyond the x86-64 baseline" "" \
    "$(objdump -d --no-show-raw-insn "$f" |
        awk -F'\t' 'NF >= 2 { print $2 }' |
        grep -E '^(v[a-z0-9]+|round[sp][sd]|dpp[sd]|blendv?p[sd]|pblend[a-z]*|pmulld|ptest|pextr[bdq]|pinsr[bdq]|pmax[su][bdw]|pmin[su][bdw]|crc32[a-z]*|popcnt|lzcnt|tzcnt|movbe|andn|bextr|[a-z]*fmadd[a-z0-9]*|h(add|sub)p[sd]|pshufb|palignr|lddqu|movddup|movs[hl]dup)( |$)|%[yz]mm' |
        sort -u | oneline)"

# The stand-in host libraries it was linked against are not delivered
# with it.
check "host libraries next to the file" "" \
    "$(cd "$(dirname "$f")" && ls -d libmx.so* libmex.so* libmat.so* 2>/dev/null | oneline)"

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" = 0 ]
