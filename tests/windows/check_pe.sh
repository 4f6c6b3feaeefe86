#!/usr/bin/env bash
# Reads a Windows plug-in back with binutils' objdump and llvm-readobj and
# checks what the host relies on: container and processor, the one export
# and the directory name, the imports and their order, no delayed imports,
# the embedded runtime manifest, and no instruction beyond the processor's
# baseline.
#
#   check_pe.sh OBJDUMP READOBJ PLUGIN win64|win32 MANIFEST
set -uo pipefail
objdump=$1 readobj=$2 plugin=$3 platform=$4 manifest=$5
name=$(basename "$plugin")
failures=0

check() { # what, actual, expected
    if [ "$2" == "$3" ]; then
        echo "ok: $1"
    else
        echo "FAILED: $1"
        echo "  expected: $3" | sed '2,$s/^/            /'
        echo "  actual:   $2" | sed '2,$s/^/            /'
        failures=$((failures + 1))
    fi
}

if [ "$platform" = win64 ]; then
    format=pei-x86-64 magic="020b	(PE32+)" arch=amd64 version=8.0.50608.0
else
    format=pei-i386 magic="010b	(PE32)" arch=x86 version=8.0.50727.6195
fi

headers=$("$objdump" -p "$plugin") || exit 1
check "container" "$(grep -o 'file format .*' <<<"$headers")" "file format $format"
check "optional header magic" "$(grep -P -o '^Magic\t+\K.*' <<<"$headers")" "$magic"
check "a DLL" "$(grep -P -c '^\tDLL$' <<<"$headers")" 1

# Exports: one name at ordinal 1, base 1, in a directory named after the file.
check "export directory name" "$(grep -P -o '^Name \t+[0-9a-f]+ \K.*' <<<"$headers")" "$name"
check "ordinal base" "$(grep -P -o '^Ordinal Base \t+\K.*' <<<"$headers")" 1
check "export address table entries" "$(grep -m1 -P -o '^\tExport Address Table \t+\K.*' <<<"$headers")" 00000001
check "export name table entries" "$(grep -m1 -P -o '^\t\[Name Pointer/Ordinal\] Table\t+\K.*' <<<"$headers")" 00000001
exports=$("$readobj" --coff-exports "$plugin" | grep -E '^ *(Ordinal|Name):' | tr -s ' ') || exit 1
check "exports" "$exports" " Ordinal: 1
 Name: mexFunction"

# Imports, in order, each with the names bound from it; nothing delayed.
imports=$("$readobj" --coff-imports "$plugin") || exit 1
check "imported libraries, in order" "$(grep -P -o '^  Name: \K.*' <<<"$imports" | tr '\n' ' ')" \
    "libmx.dll libmex.dll MSVCR80.dll KERNEL32.dll "
names_from() { # library: the names imported from it, sorted
    awk -v lib="$1" '/^(Import|DelayImport) \{/ {inlib = 0}
                     $1 == "Name:" && $2 == lib {inlib = 1}
                     inlib && $1 == "Symbol:" {print $2}' <<<"$imports" | sort | tr '\n' ' '
}
check "from libmx.dll" "$(names_from libmx.dll)" \
    "mxCreateDoubleMatrix_730 mxGetData mxGetDimensions_730 mxGetM mxGetN mxGetNumberOfDimensions_730 mxGetPr mxIsComplex mxIsDouble mxIsNumeric mxIsSparse mxIsUint8 "
check "from libmex.dll" "$(names_from libmex.dll)" "mexErrMsgTxt "
check "from MSVCR80.dll" "$(names_from MSVCR80.dll)" "floor "
check "from KERNEL32.dll" "$(names_from KERNEL32.dll)" "DisableThreadLibraryCalls "
check "delayed imports" "$(grep -c '^DelayImport' <<<"$imports")" 0
check "delay import directory" "$(grep -P -o '^Entry d \K[0-9a-f]+ [0-9a-f]+' <<<"$headers" | tr -d '0 ')" ""

# The manifest: one resource, type 24, id 2, language 1033, holding the
# manifest file's bytes. The dump's character column shows the text, with a
# dot for each line break.
resources=$("$readobj" --coff-resources "$plugin") || exit 1
check "number of resources" "$(grep -P -o 'Total Number of Resources: \K.*' <<<"$resources")" 1
check "resource type, id, language" "$(grep -E -o '(Type|Name|Language): .*\(ID [0-9]+\)' <<<"$resources" | tr '\n' ' ')" \
    "Type: MANIFEST (ID 24) Name: (ID 2) Language: (ID 1033) "
check "manifest code page" "$(grep -P -o '^ +Codepage: \K.*' <<<"$resources")" 1252
embedded=$(grep -P -o '^ +[0-9A-F]{4}: .*\|\K.*(?=\|$)' <<<"$resources" | tr -d '\n')
check "embedded manifest is the build's manifest" "$embedded" "$(tr '\n' '.' <"$manifest")"
attributes() { # element: its attributes, one a line, in order
    grep -o "<$1 [^>]*>" <<<"$embedded" | grep -o '[A-Za-z]*="[^"]*"'
}
check "assembly attributes" "$(attributes assembly)" 'xmlns="urn:schemas-microsoft-com:asm.v1"
manifestVersion="1.0"'
check "runtime assembly identity" "$(attributes assemblyIdentity)" "type=\"win32\"
name=\"Microsoft.VC80.CRT\"
version=\"$version\"
processorArchitecture=\"$arch\"
publicKeyToken=\"1fc8b3b9a1e18e3b\""
check "one dependency, one dependent assembly" \
    "$(grep -o '<dependency>\|<dependentAssembly>\|<assemblyIdentity ' <<<"$embedded" | tr '\n' ' ')" \
    "<dependency> <dependentAssembly> <assemblyIdentity  "

# Instructions: x87 floating point and no SSE at all in the 32-bit file;
# nothing beyond the x86-64 baseline (no SSE4, no AVX) in the 64-bit one.
code=$("$objdump" -d --no-show-raw-insn "$plugin") || exit 1
if [ "$platform" = win32 ]; then
    check "no SSE register used" "$(grep -c '%xmm' <<<"$code")" 0
    check "x87 arithmetic present" "$(grep -E -c '	f(ld|stp|mul|add|sub)' <<<"$code" | sed 's/^[1-9][0-9]*$/yes/')" yes
else
    check "no AVX or SSE4 instruction" \
        "$(grep -E -c '%[yz]mm|	(v[a-z0-9]+|round[sp][sd]|pmulld|ptest|blendv[a-z]*|dpp[sd]|pminsd|pmaxsd|insertps|extractps)\b' <<<"$code")" 0
fi

echo "$failures failed"
[ "$failures" = 0 ]
