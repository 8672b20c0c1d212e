#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds, runs ctest, the Debian packages'
# check, the sanitizer build, the Windows cross-build with its Win32 checks under Wine, and
# the settings fuzzer. Fails on the first failure.
#   --quick   skip the packages, the sanitizer build, the cross-build and the fuzzer
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quick=0
[ "${1:-}" = "--quick" ] && quick=1

"$root/scripts/setup.sh"

echo "== build and test (release)"
BUILD_DIR="$root/build" "$root/scripts/build.sh"
(cd "$root/build" && ctest --output-on-failure -j2 --timeout 300)

[ $quick -eq 1 ] && exit 0

echo "== Debian packages (build, unpack, run the installed tools, lintian)"
"$root/tests/package_test.sh"

echo "== build and test (address and undefined-behaviour sanitizers)"
BUILD_DIR="$root/build-asan" BUILD_TYPE=Debug "$root/scripts/build.sh" \
    -DTAPWRIGHT_SANITIZE=ON -DTAPWRIGHT_BENCH=OFF
(cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j2 --timeout 600)

if [ -x "$root/scripts/cross-build-windows.sh" ]; then
    echo "== Windows cross-build"
    "$root/scripts/cross-build-windows.sh"
fi

if [ -x "$root/scripts/fuzz.sh" ]; then
    echo "== settings fuzzer"
    FUZZ_SECONDS=${FUZZ_SECONDS:-60} "$root/scripts/fuzz.sh"
fi
echo "== all tests passed"
