#!/usr/bin/env bash
# Fails when a file under SRC includes a header from a folder above its own,
# or names no folder at all. Folders depend one way, lowest first:
# protocol <- record <- serial <- engine <- ui <- control <- app.
set -euo pipefail
src=${1:?usage: check-includes.sh SRC_DIR}

rank() {
    case $1 in
    protocol) echo 0 ;; record) echo 1 ;; serial) echo 2 ;; engine) echo 3 ;; ui) echo 4 ;; control) echo 5 ;; app) echo 6 ;;
    *) echo -1 ;;
    esac
}

status=0
for file in "$src"/*/*.h "$src"/*/*.cpp; do
    [ -e "$file" ] || continue
    folder=$(basename "$(dirname "$file")")
    own=$(rank "$folder")
    while IFS= read -r line; do
        header=${line#*\"}
        header=${header%%\"*}
        theirs=$(rank "${header%%/*}")
        if [[ $header != */* ]] || ((theirs < 0)); then
            echo "$file: \"$header\" names no folder under src/"
            status=1
        elif ((theirs > own)); then
            echo "$file: includes \"$header\", from a folder above $folder"
            status=1
        fi
    done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done
exit $status
