#!/usr/bin/env bash
# Usage: check-manuals.sh MAN_DIR PROGRAM=EXECUTABLE...
# Checks each PROGRAM's manual page MAN_DIR/PROGRAM.1 against what
# "EXECUTABLE --help" lists: the options of the help and of the page's
# OPTIONS are the same, so are the statuses of the help's "Exit status:" and
# of the page's EXIT STATUS, and every entry of a further list in the help,
# such as the simulator's Commands and Faults, is a heading of the page's
# section of that name. The page must also format without a warning and have
# the usual sections. Names every fault it finds and fails if there is one.
set -uo pipefail
mandir=$1
shift
faults=0

fail() {
    echo "FAIL: $*"
    faults=$((faults + 1))
}

# The help's lists as "SECTION<tab>ENTRY" lines: a line that ends with ':'
# (or '):') opens a list named by its words up to any parenthesis ("Exit
# status:" is EXIT STATUS), and its entries are the lines indented by two
# spaces, up to the first run of two spaces.
help_entries() {
    awk '
        /^[A-Z][^ ]*( .*)?:$/ { list = toupper($0); sub(/ *[(:].*$/, "", list); next }
        /^$/ { list = "" }
        list != "" && /^  [^ ]/ {
            entry = substr($0, 3)
            sub(/   *.*$/, "", entry)
            print list "\t" entry
        }'
}

# The page's item headings as "SECTION<tab>HEADING" lines: the lines at the
# section's own indent, which is where a definition list puts its terms.
page_headings() {
    awk '
        /^[A-Z][A-Z ]*$/ { section = $0; next }
        /^       [^ ]/ { heading = substr($0, 8); print section "\t" heading }'
}

# The names in an option heading: "-h, --help" gives -h and --help,
# "--port <N=DEVICE>" and "--port N=DEVICE" give --port.
option_names() {
    tr ',' '\n' | sed -E 's/^ +//; s/[ =<].*$//' | grep -E '^-'
}

for pair in "$@"; do
    program=${pair%%=*} executable=${pair#*=}
    page=$mandir/$program.1
    if [ ! -f "$page" ]; then
        fail "no manual page $page"
        continue
    fi
    if ! help=$("$executable" --help 2>&1); then
        fail "$program --help did not end with status 0: $help"
        continue
    fi

    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$program.1 formats with warnings: $warnings"
    text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -P cat -l "$page" 2>/dev/null | col -b)
    headings=$(page_headings <<<"$text")

    for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" "SEE ALSO"; do
        grep -qx "$section" <<<"$text" || fail "$program.1 has no $section section"
    done
    grep -qE "^       $program - " <<<"$text" ||
        fail "$program.1 does not begin its NAME section with '$program - '"

    entries=$(help_entries <<<"$help")
    documented=$(grep -P '^OPTIONS\t' <<<"$headings" | cut -f 2 | option_names | sort -u)
    listed=$(grep -P '^OPTIONS\t' <<<"$entries" | cut -f 2 | option_names | sort -u)
    if [ -z "$listed" ]; then
        fail "$program --help lists no options under 'Options:'"
    fi
    for option in $listed; do
        grep -qxF -- "$option" <<<"$documented" ||
            fail "$program.1 does not give $option, which $program --help lists"
    done
    for option in $documented; do
        grep -qxF -- "$option" <<<"$listed" ||
            fail "$program.1 gives $option, which $program --help does not list"
    done

    # Both give the same exit statuses, whatever the words for each.
    said=$(grep -P '^EXIT STATUS\t' <<<"$entries" | cut -f 2 | sort -u)
    paged=$(grep -P '^EXIT STATUS\t' <<<"$headings" | cut -f 2 | sort -u)
    if [ -z "$said" ]; then
        fail "$program --help gives no exit status under 'Exit status:'"
    elif [ "$said" != "$paged" ]; then
        fail "$program.1 gives the exit statuses $(echo $paged), $program --help $(echo $said)"
    fi

    # Other lists, word for word: the page gives each entry as the help does.
    while IFS=$'\t' read -r list entry; do
        [ "$list" = OPTIONS ] || [ "$list" = "EXIT STATUS" ] && continue
        grep -qxF -- "$list"$'\t'"$entry" <<<"$headings" ||
            fail "$program.1 has no heading '$entry' in a $list section, which $program --help lists"
    done <<<"$entries"

    echo "$program.1: $(wc -w <<<"$listed") options, exit statuses $(echo $said) and" \
        "$(grep -vcP '^(OPTIONS|EXIT STATUS)\t' <<<"$entries") other entries of --help"
done

[ "$faults" -eq 0 ] || { echo "$faults fault(s) in the manual pages"; exit 1; }
echo "manual pages OK"
