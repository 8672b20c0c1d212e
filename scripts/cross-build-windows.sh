#!/bin/sh
# Cross-builds the core library and the CLI for 64-bit Windows with MinGW-w64 into build-win.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
    echo "cross-build-windows: x86_64-w64-mingw32-g++-posix missing; install it with" \
         "'sudo apt-get install -y g++-mingw-w64-x86-64'" >&2
    exit 1
fi
cmake -S "$root" -B "$root/build-win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build-win" -j2 --target tapwright_core tapwright-cli
