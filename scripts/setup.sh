#!/usr/bin/env bash
# Installs what Tapwright needs to build, test and run on Debian 12. Idempotent and quiet:
# nothing is downloaded when every package is already there.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
    libusb-1.0-0-dev libgpiod-dev
    qt6-base-dev
    openocd
    g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 fonts-wine
    xvfb netpbm
    clang libclang-rt-14-dev
    help2man dpkg-dev lintian bash-completion appstream man-db file
)
# The 32-bit Windows programs run under wine32 from Debian's i386 architecture; without it
# they are built but not run.
optional=(wine32:i386)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
missing_optional=()
for p in "${optional[@]}"; do installed "$p" || missing_optional+=("$p"); done
[ ${#missing[@]} -eq 0 ] && [ ${#missing_optional[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "setup: run as root or install sudo" >&2; exit 1; }
    sudo="sudo"
fi
echo "setup: installing ${missing[*]} ${missing_optional[*]}"
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing_optional[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq </dev/null
if [ ${#missing[@]} -gt 0 ]; then
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null >/dev/null
fi
if [ ${#missing_optional[@]} -gt 0 ] &&
    ! $sudo apt-get install -y -qq --no-install-recommends "${missing_optional[@]}" \
        </dev/null >/dev/null; then
    echo "setup: ${missing_optional[*]} could not be installed; the 32-bit Windows programs" \
         "are built but not run" >&2
fi
