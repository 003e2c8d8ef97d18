#!/usr/bin/env bash
# Usage: debian-changelog.sh CHANGELOG.md PACKAGE MAINTAINER OUTPUT.gz
# Writes CHANGELOG.md in the format Debian's tools read from a native
# package's changelog.gz, compressed with gzip -n -9: no name, no time stamp,
# so that two builds of one source give the same bytes. Each "## VERSION -
# YYYY-MM-DD" heading becomes an entry dated that day; its list keeps its
# words and its line breaks.
set -euo pipefail
source=$1 package=$2 maintainer=$3 output=$4
export LC_ALL=C # English day and month names, whatever the locale
trap 'rm -f "$output.tmp"' EXIT

entries=0
date=
text=

# Ends the entry being read, if any, with its sign-off line.
close_entry() {
    [ -n "$date" ] || return 0
    # Debian's changelog parser wants exactly one blank line around the list.
    text=${text#"${text%%[!$'\n']*}"}
    text=${text%"${text##*[!$'\n']}"}
    [ -n "$text" ] || { echo "$source: the entry of $date says nothing" >&2; exit 1; }
    printf '%s\n\n -- %s  %s\n' "$text" "$maintainer" \
        "$(date -u -d "$date" '+%a, %d %b %Y 00:00:00 +0000')"
}

{
    while IFS= read -r line || [ -n "$line" ]; do
        if [[ $line == "## "* ]]; then
            close_entry
            [ "$entries" -eq 0 ] || echo
            if ! [[ $line =~ ^##\ ([0-9][0-9A-Za-z.+~]*)\ -\ ([0-9]{4}-[0-9]{2}-[0-9]{2})$ ]] ||
                ! date -u -d "${BASH_REMATCH[2]}" >/dev/null 2>&1; then
                echo "$source: '$line' is not '## VERSION - YYYY-MM-DD'" >&2
                exit 1
            fi
            date=${BASH_REMATCH[2]}
            printf '%s (%s) unstable; urgency=medium\n\n' "$package" "${BASH_REMATCH[1]}"
            text=
            entries=$((entries + 1))
        elif [ -n "$date" ]; then
            # "- " items become Debian's "  * ", anything indented under them
            # moves two columns right with them.
            case $line in
                "- "*) line="  * ${line#- }" ;;
                "") ;;
                *) line="  $line" ;;
            esac
            text+=$line$'\n'
        fi
    done <"$source"
    close_entry
} >"$output.tmp"

if [ "$entries" -eq 0 ]; then
    echo "$source: no release heading '## VERSION - YYYY-MM-DD'" >&2
    exit 1
fi
# Markdown's code marks mean nothing in a plain text changelog.
tr -d '`' <"$output.tmp" | gzip -n -9 >"$output"
