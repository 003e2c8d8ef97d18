#!/usr/bin/env bash
# The wire and the session's record are standard C++ but for their
# *_posix.cpp files and the *_zlib.cpp file that reads compressed logs
# through zlib, a library the cross compiler does not carry: every other
# file of them must compile for Windows (syntax only, with MinGW-w64,
# warnings as errors). The standard headers they include are parsed once,
# into a precompiled header, not once a file.
set -euo pipefail
src=${1:?usage: check-windows-syntax.sh SRC_DIR}
compiler=x86_64-w64-mingw32-g++-posix
command -v "$compiler" >/dev/null || { echo "$compiler is missing: scripts/setup.sh test"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
flags=(-std=c++20 -Wall -Wextra -Werror -I "$src")
files=()
for file in "$src"/protocol/*.cpp "$src"/record/*.cpp; do
    [[ $file == *_posix.cpp || $file == *_zlib.cpp ]] || files+=("$file")
done
grep -h '^#include <' "${files[@]}" "$src"/protocol/*.h "$src"/record/*.h | sort -u >"$work/std.h"
"$compiler" "${flags[@]}" -x c++-header "$work/std.h" -o "$work/std.h.gch"
status=0
for file in "${files[@]}"; do
    "$compiler" "${flags[@]}" -fsyntax-only -include "$work/std.h" "$file" || status=1
done
exit $status
