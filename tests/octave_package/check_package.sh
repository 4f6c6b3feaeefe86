#!/bin/sh
# Checks the Octave package in dist/ without installing it: packed again
# into another folder it is the same byte for byte; its entries are sorted,
# dated, owned and moded alike; gzip kept no name or time; it carries the
# sources as they are, the license, and the version and date it was made
# for, and the README shows that version.
#
#   check_package.sh PACKAGE VERSION DATE SOURCE_DIR WORK_DIR CMAKE PACK_ARGS...
set -u
package=$1 version=$2 date=$3 src=$4 work=$5 cmake=$6
shift 6
top="vorn_hist2-$version"
failed=0
fail() {
    echo "FAIL $*"
    failed=1
}

rm -rf "$work"
mkdir -p "$work"
[ "$(basename "$package")" = "$top.tar.gz" ] || fail "package named $(basename "$package"), not $top.tar.gz"

# Packed again from a copy of its sources that differs in everything the
# package must not show: another folder, owner (nobody, when run as root),
# modification times, modes, umask and the order the files were made in.
# As root the packing runs as nobody, in a folder of its own under /tmp:
# the source and build folders may be where nobody cannot reach (/root).
repack="$work/repack"
if [ "$(id -u)" = 0 ]; then
    repack=$(mktemp -d /tmp/vorn-repack.XXXXXX)
    trap 'rm -rf "$repack"' EXIT
    chmod 755 "$repack"
fi
mkdir -p "$repack/again"
cp "$src/octave_package/pack.cmake" "$repack/pack.cmake"
file_list=$(printf '%s\n' "$@" | sed -n 's/^-DFILE_LIST=//p')
copy="$repack/copy"
sed -n 's/^set(PACKAGE_FILES "\(.*\)")$/\1/p' "$file_list" | tr ';' '\n' | awk 'NR % 2 == 1' |
    LC_ALL=C sort -r >"$repack/sources"
while read -r f; do
    rel=${f#"$src"/}
    mkdir -p "$copy/$(dirname "$rel")"
    cp "$f" "$copy/$rel"
    touch -d "2001-02-03 04:05:06" "$copy/$rel"
done <"$repack/sources"
chmod -R go-rwx "$copy"
sed "s|$src/|$copy/|g" "$file_list" >"$repack/files.cmake"
as=""
if [ "$(id -u)" = 0 ]; then
    chown -R nobody "$copy"
    chown nobody "$repack" "$repack/again"
    as="runuser -u nobody --"
fi
(umask 077 && $as "$cmake" "$@" -DFILE_LIST="$repack/files.cmake" -DSTAGE_DIR="$repack/stage" \
    -DOUTPUT="$repack/again/$top.tar.gz" -P "$repack/pack.cmake") || fail "packing again"
cmp "$package" "$repack/again/$top.tar.gz" && echo "packed again from a copy: identical ($(wc -c <"$package") bytes)" ||
    fail "packing again gave other bytes"

# gzip header: flag byte without a file name, modification time zero.
header=$(od -An -tu1 -j3 -N5 "$package" | tr -s ' ' | sed 's/^ //')
[ "$header" = "0 0 0 0 0" ] || fail "gzip header flags and time: $header"

tar --list --verbose --full-time --numeric-owner -zf "$package" >"$work/listing" || fail "tar cannot list it"
cat "$work/listing"
awk -v d="$date" -v top="$top/" '
    $2 != "0/0" { print "owner " $2 ": " $6; bad = 1 }
    $4 != d || $5 != "00:00:00" { print "date " $4 " " $5 ": " $6; bad = 1 }
    $1 != "-rw-r--r--" && $1 != "drwxr-xr-x" { print "mode " $1 ": " $6; bad = 1 }
    index($6, top) != 1 { print "outside " top ": " $6; bad = 1 }
    END { exit bad }' "$work/listing" || fail "entries not normalised"
awk '{ print $6 }' "$work/listing" >"$work/names"
LC_ALL=C sort -c "$work/names" || fail "names not sorted"

mkdir -p "$work/unpacked"
tar -xzf "$package" -C "$work/unpacked" || fail "tar cannot unpack it"
pkg="$work/unpacked/$top"
same() {
    cmp -s "$src/$1" "$pkg/$2" || fail "$2 is not $1"
}
same LICENSE COPYING
same vorn_hist2.m inst/vorn_hist2.m
same octave_package/INDEX INDEX
same octave_package/Makefile src/Makefile
same core/hist2.cpp src/core/hist2.cpp
same core/hist2.h src/core/hist2.h
same core/lanes.h src/core/lanes.h
same core/lanes_sse2.h src/core/lanes_sse2.h
same gateway/vorn_hist2.cpp src/gateway/vorn_hist2.cpp
for f in "$src"/registration/*.m; do
    same "registration/$(basename "$f")" "inst/$(basename "$f")"
done
[ ! -e "$pkg/src/mex.h" ] && [ ! -e "$pkg/src/hostapi" ] || fail "the stand-in mex.h is packed: Octave brings its own"

grep -qx "Version: $version" "$pkg/DESCRIPTION" || fail "DESCRIPTION Version is not $version"
grep -qx "Date: $date" "$pkg/DESCRIPTION" || fail "DESCRIPTION Date is not $date"
grep -qx "Author: The vorn_hist2 authors" "$pkg/DESCRIPTION" || fail "DESCRIPTION Author"
grep -qx "Maintainer: The vorn_hist2 authors" "$pkg/DESCRIPTION" || fail "DESCRIPTION Maintainer"
grep -qx "Copyright (c) 2026 The vorn_hist2 authors" "$src/LICENSE" || fail "LICENSE copyright line"
grep -qx "MIT License" "$src/LICENSE" || fail "LICENSE is not the MIT license"
grep -q "version $version" "$src/README.md" || fail "README does not show version $version"
grep -q "$top.tar.gz" "$src/README.md" || fail "README does not name $top.tar.gz"

[ "$failed" = 0 ] && echo "package checks passed"
exit $failed
