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

echo "== Identify the processor on the virtual board"
"$cli" --driver "$driver" cpuid
echo
echo "Work folder: $work (trace.txt, board/)"
