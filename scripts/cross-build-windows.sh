#!/bin/sh
# Cross-builds the window program Tapwright.exe, tapwright-cli.exe and the Win32 checks with
# MinGW-w64, statically linked: 64-bit Windows into build-win, 32-bit (where the PortTalk driver
# loads) into build-win32. Then, where Wine is installed, runs for each: the Win32 checks, the
# window driven through its controls on the virtual board (pictured with each page into
# build-win*/screenshots/ when Xvfb is there), and the Windows CLI on the virtual board.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
apt_hint="sudo scripts/setup.sh (or: sudo apt-get install -y"

build() {  # build dir, toolchain file, compiler, package
    if ! command -v "$3" >/dev/null 2>&1; then
        echo "cross-build-windows: $3 missing; install it with $apt_hint $4)" >&2
        exit 1
    fi
    start=$(date +%s)
    cmake -S "$root" -B "$root/$1" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2" \
          -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$root/$1" -j2 --target tapwright-cli Tapwright tapwright-win-checks \
          tapwright-window-check
    echo "cross-build-windows: $1 built in $(($(date +%s) - start)) s"
}
build build-win mingw-w64.cmake x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64
build build-win32 mingw-w64-i686.cmake i686-w64-mingw32-g++-posix g++-mingw-w64-i686

# Debian's Wine puts its loaders outside PATH: wine64 runs the 64-bit programs, wine (from
# wine32:i386) the 32-bit ones, both in one prefix.
wine64=$(command -v wine64 || true)
[ -z "$wine64" ] && [ -x /usr/lib/wine/wine64 ] && wine64=/usr/lib/wine/wine64
wine32=""
[ -x /usr/lib/wine/wine ] && wine32=/usr/lib/wine/wine
if [ -z "$wine64" ]; then
    echo "cross-build-windows: Wine not installed, the Windows programs were built but not run" \
         "($apt_hint wine64))" >&2
    exit 0
fi
[ -z "$wine32" ] && echo "cross-build-windows: wine32 not installed, the 32-bit programs are" \
    "not run (sudo dpkg --add-architecture i386 && sudo apt-get update &&" \
    "sudo apt-get install -y wine32:i386)" >&2
wineserver=$(dirname "$wine64")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || echo wineserver)

# A virtual screen for the window's pictures; without one, Wine's null display driver still
# makes real windows, only nothing is drawn.
xvfb_pid=""
driver=null
if command -v Xvfb >/dev/null 2>&1; then
    displayfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$displayfile" 2>/dev/null &
    xvfb_pid=$!
    for _ in $(seq 50); do [ -s "$displayfile" ] && break; sleep 0.1; done
    if [ -s "$displayfile" ]; then
        export DISPLAY=":$(cat "$displayfile")"
        driver=x11
    fi
    rm -f "$displayfile"
else
    echo "cross-build-windows: Xvfb not installed, the window is not pictured" \
         "($apt_hint xvfb netpbm))" >&2
fi
cleanup() {
    "$wineserver" -k 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# No Mono or Gecko installer prompts while Wine makes its prefix.
export WINEPREFIX="$root/build-win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A prefix made before wine32 was installed cannot run 32-bit programs: make it again.
if [ -n "$wine32" ] && [ -d "$WINEPREFIX" ] && [ ! -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then
    rm -rf "$WINEPREFIX"
fi
if [ ! -f "$WINEPREFIX/user.reg" ] || ! grep -q "\"Graphics\"=\"$driver\"" "$WINEPREFIX/user.reg"; then
    timeout 180 "$wine64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d "$driver" /f \
        </dev/null >/dev/null 2>&1
    timeout 60 "$wineserver" -w
fi

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

status=0
run() {  # wine loader, build dir
    wine=$1
    build=$root/$2
    echo "== $2 under $(basename "$wine")"
    timeout 120 "$wine" "$build/tests/win/tapwright-win-checks.exe" </dev/null || status=1
    work=$build/window-run
    rm -rf "$work"
    mkdir -p "$work"
    cp -r "$root/TrapHandlers" "$work/"
    pictures=""
    if [ "$driver" = x11 ]; then
        rm -rf "$build/screenshots"
        mkdir -p "$build/screenshots"
        pictures=$(winpath "$build/screenshots")
    fi
    (cd "$work" && timeout 300 "$wine" "$build/tests/win/tapwright-window-check.exe" \
        "$(winpath "$build/app/win/Tapwright.exe")" $pictures </dev/null 2>wine.err) || status=1
    # The file dialogs look at every drive; Wine says it cannot label the root one.
    grep -v 'FS volume label and serial are not available' "$work/wine.err" >&2 || true
    if [ -n "$pictures" ]; then
        for ppm in "$build"/screenshots/*.ppm; do
            [ -f "$ppm" ] || continue
            if command -v pnmtopng >/dev/null 2>&1; then
                pnmtopng "$ppm" >"${ppm%.ppm}.png" 2>/dev/null && rm -f "$ppm"
            fi
        done
        echo "cross-build-windows: pictures of the window in $build/screenshots/"
    fi
    # The Linux board server, when built, serves the Windows remote_bitbang client.
    "$root/tests/win/cli_smoke.sh" "$wine" "$build/cli/tapwright-cli.exe" "$root" \
        "${SIM_SERVER:-$root/build/sim/tapwright-sim}" </dev/null || status=1
}
run "$wine64" build-win
[ -n "$wine32" ] && run "$wine32" build-win32
exit $status
