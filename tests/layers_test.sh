#!/usr/bin/env bash
# Each layer includes only itself and the layers below it: port < link < config < flash < ui <
# cli, app. The virtual board (sim/) includes nothing of the host side; port/ may serve it.
set -u
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
fail=0
layer() {  # folder, the folders it may include from...
    local dir=$1
    local ok
    ok=$(IFS='|'; echo "$*")
    local bad
    bad=$(grep -rnE '^\s*#\s*include\s+"[^"]+/' "$root/$dir" | grep -vE "#\s*include\s+\"($ok)/")
    if [ -n "$bad" ]; then
        echo "FAIL: $dir/ includes from outside its layer and those below:"
        echo "$bad"
        fail=1
    fi
}
layer sim
layer port sim
layer link port
layer config link port
layer flash config link port
layer ui flash config link port
layer cli ui flash config link port
layer app ui flash config link port
[ $fail -eq 0 ] && echo "layers: every include goes down"
exit $fail
