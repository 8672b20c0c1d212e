#!/bin/sh
# Cross-builds the core library, the CLI and the Win32 checks for 64-bit Windows with MinGW-w64
# into build-win, then runs the checks and the Windows CLI on the virtual board under Wine
# when it is installed.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
    echo "cross-build-windows: x86_64-w64-mingw32-g++-posix missing; install it with" \
         "'sudo apt-get install -y g++-mingw-w64-x86-64'" >&2
    exit 1
fi
cmake -S "$root" -B "$root/build-win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build-win" -j2 --target tapwright_core tapwright-cli tapwright-win-checks

# Debian's wine64 package puts its loader outside PATH.
wine=$(command -v wine64 || command -v wine || true)
[ -z "$wine" ] && [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
if [ -z "$wine" ]; then
    echo "cross-build-windows: Wine not installed, Win32 checks not run" \
         "('sudo apt-get install -y wine64')" >&2
    exit 0
fi
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || echo wineserver)
# No Mono or Gecko installer prompts while the prefix is made.
export WINEPREFIX="$root/build-win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Windows without a display: the null graphics driver still makes real windows and menus.
if [ ! -f "$WINEPREFIX/user.reg" ] || ! grep -q '"Graphics"="null"' "$WINEPREFIX/user.reg"; then
    timeout 180 "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
        </dev/null >/dev/null 2>&1
    timeout 60 "$wineserver" -w
fi
status=0
timeout 120 "$wine" "$root/build-win/tapwright-win-checks.exe" </dev/null || status=$?
# The Linux board server, when built, serves the Windows remote_bitbang client.
"$root/tests/win/cli_smoke.sh" "$wine" "$root/build-win/cli/tapwright-cli.exe" "$root" \
    "${SIM_SERVER:-$root/build/sim/tapwright-sim}" </dev/null || status=1
"$wineserver" -k 2>/dev/null || true
exit $status
