#!/usr/bin/env bash
# Builds the Debian packages into build-pkg/ (BUILD_DIR): tapwright, the core tools, and
# tapwright-gui, the desktop program, where Qt 6 is installed. Install with
#   sudo apt install ./build-pkg/tapwright_*.deb        (core tools)
#   sudo apt install ./build-pkg/tapwright*.deb         (with the desktop program)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-pkg}

"$root/scripts/setup.sh"
# Debian's hardening flags, as a Debian build would use them.
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CXXFLAGS LDFLAGS
BUILD_DIR="$build" "$root/scripts/build.sh" -DCMAKE_INSTALL_PREFIX=/usr \
    -DTAPWRIGHT_TESTS=OFF -DTAPWRIGHT_BENCH=OFF -DTAPWRIGHT_SANITIZE=OFF >/dev/null
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/*.deb
