#!/usr/bin/env bash
# Fuzzes the settings loader and saver: builds tests/fuzz/SettingsFuzz.cpp with libFuzzer,
# ASan and UBSan and runs it for FUZZ_SECONDS (default 60) on a copy of the corpus.
# Exits non-zero when the fuzzer finds a crash; the crashing input is kept in FUZZ_ARTIFACTS.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cxx=${FUZZ_CXX:-$(command -v clang++-14 || command -v clang++ || true)}
if [[ -z "$cxx" ]]; then
    echo "fuzz.sh: no clang++ found; install clang (Debian: apt-get install clang)" >&2
    exit 2
fi
seconds=${FUZZ_SECONDS:-60}
artifacts=${FUZZ_ARTIFACTS:-$root/build-fuzz-artifacts}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cxx" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" "$root/tests/fuzz/SettingsFuzz.cpp" "$root/config/IniFile.cpp" \
    "$root/config/Settings.cpp" -o "$work/settings_fuzz"

cp -r "$root/tests/fuzz/corpus" "$work/corpus"
mkdir -p "$work/artifacts"
status=0
# Run from the work directory: the global settings object reads (never writes) the file there.
(cd "$work" && ./settings_fuzz -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -max_len=16384 -artifact_prefix="$work/artifacts/" corpus) || status=$?

if [[ $status -ne 0 ]]; then
    mkdir -p "$artifacts"
    cp "$work"/artifacts/* "$artifacts"/ 2>/dev/null || true
    echo "fuzz.sh: the fuzzer failed (status $status); inputs kept in $artifacts" >&2
    exit 1
fi
echo "fuzz.sh: no crash in ${seconds} s"
