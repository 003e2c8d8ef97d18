#!/usr/bin/env bash
# Usage: check-deb.sh DEB WORK_DIR VERSION SOURCE_DIR
# Checks that the Debian package DEB (built by build-deb.sh) declares the
# libraries and the font the programs load, and carries the installed layout
# and the licence of SOURCE_DIR; unpacks it under WORK_DIR. Names every fault
# it finds and fails if there is one.
set -uo pipefail
deb=$1 out=$2 version=$3 source=$4
faults=0

fail() {
    echo "FAIL: $*"
    faults=$((faults + 1))
}

rm -rf "$out"
mkdir -p "$out"
if [ ! -f "$deb" ]; then
    echo "FAIL: no package $deb"
    exit 1
fi

dpkg-deb -I "$deb"
[ "$(dpkg-deb -f "$deb" Package)" = kora232 ] || fail "the package is not named kora232"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package version is not $version"
[ "$(dpkg-deb -f "$deb" Section)" = electronics ] || fail "the section is not electronics"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 libstdc++6 libc6 \
    fonts-liberation2; do
    [[ ", $depends," == *", $needed "* || ", $depends," == *", $needed,"* ]] ||
        fail "Depends does not name $needed: $depends"
done

contents=$(dpkg-deb -c "$deb")
for path in usr/bin/kora232 usr/bin/kora232-headless usr/bin/acceptor-sim \
    usr/share/applications/kora232.desktop \
    usr/share/icons/hicolor/32x32/apps/kora232.png usr/share/icons/hicolor/256x256/apps/kora232.png \
    usr/share/icons/hicolor/scalable/apps/kora232.svg \
    usr/share/man/man1/kora232.1.gz usr/share/man/man1/acceptor-sim.1.gz \
    usr/share/man/man1/kora232-headless.1.gz lib/systemd/system/kora232-headless@.service; do
    grep -q " \./$path\$" <<<"$contents" || fail "the package does not carry /$path"
done

unpacked=$out/unpacked
dpkg-deb -x "$deb" "$unpacked"
for program in kora232 kora232-headless acceptor-sim; do
    kind=$(file -b "$unpacked/usr/bin/$program")
    [[ $kind == *", stripped"* ]] || fail "/usr/bin/$program in the package is not stripped: $kind"
done

doc=$unpacked/usr/share/doc/kora232
if [ ! -f "$doc/copyright" ]; then
    fail "the package does not carry /usr/share/doc/kora232/copyright"
else
    format=https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
    [ "$(head -n 1 "$doc/copyright")" = "Format: $format" ] ||
        fail "the copyright file is not in the machine-readable format"
    # Word for word, whatever the line breaks and the folding's '.' lines: a
    # licence edited in one place and not the other is a different licence.
    words() { tr -s ' \n' '\n\n' | grep -v '^\.\?$'; }
    licence=$(sed -n '/^Permission/,$p' "$source/LICENSE" | words)
    if [ -z "$licence" ]; then
        fail "$source/LICENSE has no permission notice"
    elif [ "$(sed -n '/^ Permission/,$p' "$doc/copyright" | words)" != "$licence" ]; then
        fail "the licence in the copyright file is not the text of LICENSE"
    fi
fi

if [ ! -f "$doc/changelog.gz" ]; then
    fail "the package does not carry /usr/share/doc/kora232/changelog.gz"
else
    # gzip -n: no file name (flags byte 0) and no time stamp (4 zero bytes).
    header=$(od -A n -t x1 -j 3 -N 5 "$doc/changelog.gz" | tr -d ' \n')
    [ "$header" = 0000000000 ] ||
        fail "changelog.gz keeps a name or a time stamp (gzip header after the method: $header)"
    newest=$(zcat "$doc/changelog.gz" | dpkg-parsechangelog -l - -S Version 2>&1)
    [ "$newest" = "$version" ] || fail "the newest changelog entry is '$newest', not $version"
fi

# The release a software centre announces is the one the package holds.
metainfo=$unpacked/usr/share/metainfo/io.github.kora232.kora232.metainfo.xml
if [ ! -f "$metainfo" ]; then
    fail "the package does not carry /usr/share/metainfo/io.github.kora232.kora232.metainfo.xml"
else
    release=$(grep -o -m 1 '<release version="[^"]*"' "$metainfo" | cut -d '"' -f 2)
    [ "$release" = "$version" ] || fail "the metainfo's newest release is '$release', not $version"
fi

# The README and its guides are read where they are installed: every
# picture they show and every guide they link to lies beside them at the
# same relative path.
for page in README.md $(grep -oP '\]\(\Kdocs/[^)#]+\.md' "$source/README.md" | sort -u); do
    folder=$(dirname "$page")
    [ "$folder" = . ] && folder= || folder=$folder/
    links=$(grep -oP '\]\(\K[^)#]+(?=[)#])' "$source/$page" | grep -v '^https\?:' | grep -v '^\.\./' | sort -u)
    for link in $links; do
        grep -q " \./usr/share/doc/kora232/$folder$link\$" <<<"$contents" ||
            fail "$page links to $link, which the package does not carry beside it"
    done
done
grep -qP '!\[[^]]*\]\(docs/' "$source/README.md" || fail "found no pictures in $source/README.md"

# The README installs the package by name, from the folder
# the package preset leaves it in: the name is the one this build makes.
named=$(grep -oP 'apt-get install \./\K[^ `]+\.deb' "$source/README.md" | sort -u)
if [ "$(wc -l <<<"$named")" -ne 1 ] || [ -z "$named" ]; then
    fail "the README should install one package by name, not: ${named:-none}"
else
    [ "$(basename "$named")" = "$(basename "$deb")" ] ||
        fail "the README installs $(basename "$named"), but the build makes $(basename "$deb")"
    folder=$(jq -r '.packagePresets[] | select(.name == "package") | .packageDirectory' \
        "$source/CMakePresets.json")
    [ "${folder/'${sourceDir}'/.}" = "./$(dirname "$named")" ] ||
        fail "the README installs from $(dirname "$named"), the package preset leaves it in $folder"
fi

# The software centre fetches the screenshots from the project's site, where
# the project's docs/ folder serves them: each is a picture of ours.
if [ -f "$metainfo" ]; then
    raw=https://raw.githubusercontent.com/kora232/kora232/main/
    shots=$(grep -oP '<image[^>]*>\K[^<]+' "$metainfo")
    [ -n "$shots" ] || fail "the metainfo has no screenshots"
    for url in $shots; do
        [[ $url == "$raw"* && -f "$source/${url#"$raw"}" ]] ||
            fail "the screenshot $url is no picture in $source/docs"
    done
fi

[ "$faults" -eq 0 ] || { echo "$faults fault(s) in the package"; exit 1; }
echo "package $(basename "$deb") OK"
