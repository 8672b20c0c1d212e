#!/usr/bin/env bash
# The Debian packages as a technician gets them: built by scripts/package.sh, unpacked into a
# scratch root, the installed CLI run on the virtual board from an empty folder, the man
# pages rendered, the completion asked for the commands, lintian run.
#   tests/package_test.sh [BUILD_DIR]    (default: build-pkg)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-pkg}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
BUILD_DIR="$build" "$root/scripts/package.sh" >"$scratch/build.txt" 2>&1 ||
    { cat "$scratch/build.txt"; echo "FAIL: package build"; exit 1; }
fail=0
no() { echo "FAIL: $*"; fail=1; }

debs=("$build"/tapwright*.deb)
for deb in "${debs[@]}"; do dpkg -x "$deb" "$scratch/root" || no "dpkg -x $deb"; done
usr=$scratch/root/usr
[[ $(dpkg-deb -f "$build"/tapwright_*.deb Depends) != *qt* ]] || no "the core package pulls in Qt"

# From an empty folder the installed stand-in handlers serve; a folder's own TrapHandlers win.
mkdir "$scratch/work" && cd "$scratch/work" || exit 1
"$usr/bin/tapwright-cli" --driver sim load >out.txt 2>&1 && grep -q "Trap handler: Ok" out.txt ||
    { no "load from an empty folder"; cat out.txt; }
mkdir TrapHandlers
! "$usr/bin/tapwright-cli" --driver sim load >out.txt 2>&1 &&
    grep -qF "$PWD/TrapHandlers/TrapHandler.bin" out.txt || { no "the folder's handlers win"; cat out.txt; }
# The example settings file holds the defaults.
"$usr/bin/tapwright-cli" settings | grep -v "Tapwright.ini" >defaults.txt
cp "$usr/share/tapwright/Tapwright.ini" .
"$usr/bin/tapwright-cli" settings | grep -v "Tapwright.ini" | diff - defaults.txt ||
    no "the example settings file is not the defaults"

# Every installed program has a man page that renders without a warning.
for program in "$usr"/bin/*; do
    page=$usr/share/man/man1/$(basename "$program").1.gz
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) &&
        [ -z "$warnings" ] && man -l "$page" 2>/dev/null | grep -q "^SYNOPSIS" ||
        no "man page of $(basename "$program"): $warnings"
done
appstreamcli validate --no-net "$usr"/share/metainfo/*.xml >/dev/null || no "metainfo"

# The completion loads where bash-completion finds it and completes the commands.
completed=$(PATH=$usr/bin:$PATH bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1/share/bash-completion/completions/tapwright-cli"
    complete -p tapwright-cli >/dev/null || exit 1
    for line in "tapwright-cli " "tapwright-cli --driver sim flash " "tapwright-cli flash --bus "; do
        read -ra COMP_WORDS <<<"$line"; COMP_WORDS+=(""); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMP_LINE=$line COMP_POINT=${#line} _tapwright_cli 2>/dev/null; echo "${COMPREPLY[*]}"
    done' _ "$usr")
[ "$completed" = $'cpuid load settings flash eeprom mem misc\nid read erase write verify\n8 16 32' ] ||
    no "completion: $completed"

# lintian: no error; a warning only where the README's packaging notes give the reason.
lintian --tag-display-limit 0 "${debs[@]}" >lintian.txt 2>/dev/null
grep -q '^E: ' lintian.txt && no "lintian errors: $(grep '^E: ' lintian.txt)"
for tag in $(awk '/^W: / { print $3 }' lintian.txt | sort -u); do
    grep -q "\`$tag\`" "$root/README.md" || no "lintian warning $tag not in the README"
done

[ $fail -eq 0 ] && echo "package test: ok (${debs[*]##*/})"
exit $fail
