#!/usr/bin/env bash
# The wire and the session's record are standard C++ but for their
# *_posix.cpp files: every other file of them must compile for Windows
# (syntax only, with MinGW-w64).
set -euo pipefail
src=${1:?usage: check-windows-syntax.sh SRC_DIR}
compiler=x86_64-w64-mingw32-g++-posix
command -v "$compiler" >/dev/null || { echo "$compiler is missing: scripts/setup.sh test"; exit 1; }
status=0
for file in "$src"/protocol/*.cpp "$src"/record/*.cpp; do
    [[ $file == *_posix.cpp ]] && continue
    "$compiler" -std=c++20 -fsyntax-only -Wall -Wextra -I "$src" "$file" || status=1
done
exit $status
