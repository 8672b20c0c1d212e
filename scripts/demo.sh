#!/usr/bin/env bash
# Installs what is needed, builds, and runs the main job on the virtual board.
# The board keeps its memory in build/demo/board between runs; logs and read-back files
# land in build/demo.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/setup.sh"
BUILD_DIR="$root/build" "$root/scripts/build.sh" >/dev/null

work="$root/build/demo"
mkdir -p "$work"
ln -sfn "$root/TrapHandlers" "$work/TrapHandlers"
cd "$work"
cli="$root/build/cli/tapwright-cli"
driver="sim:$work/board"

rm -f log.txt readback.rom  # this session's log and read-back only

step() { echo; echo "== $*"; }

step "1/6 Identify the processor on the virtual board"
"$cli" --driver "$driver" cpuid
step "2/6 Load the general trap handler"
"$cli" --driver "$driver" load
step "3/6 Identify the flash and load its handler (LOAD TRAP)"
"$cli" --driver "$driver" flash id
step "4/6 Erase the flash"
"$cli" --driver "$driver" flash erase --yes
step "5/6 Write a sample image and verify it"
awk 'BEGIN { for (i = 0; i < 1024; i++) printf "Tapwright sample image, line %04d, for the virtual board.\n", i }' >sample.rom
size=$(printf %X "$(wc -c <sample.rom)")
"$cli" --driver "$driver" flash write sample.rom --verify --size "$size"
step "6/6 Read it back"
"$cli" --driver "$driver" flash read readback.rom --size "$size"
cmp sample.rom readback.rom
echo "Read-back matches the sample image."
step "Then read the EEPROM to a file (EEPROM page READ)"
"$cli" --driver "$driver" eeprom read eeprom.bin

echo
echo "Operation log:  $work/log.txt"
echo "Read-back file: $work/readback.rom"
echo "EEPROM file:    $work/eeprom.bin"
echo "Work folder:    $work (trace.txt, board/)"
