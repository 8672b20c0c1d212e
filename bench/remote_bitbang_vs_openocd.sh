#!/usr/bin/env bash
# JTAG clocks per second over remote_bitbang, side by side in one run: OpenOCD 0.12's own
# client (a Tcl loop of 64-bit DR scans, every TDO bit captured) and tapwright-cli (a memory
# read), one after the other against the same tapwright-sim server. The server counts each
# session's TCK clocks and the time it was busy (a client's pauses of 50 ms or more, such as
# the link's nTRST pulse, left out), so both rates are measured the same way.
# Usage: bench/remote_bitbang_vs_openocd.sh [BUILD_DIR] [SCANS] [READ_SIZE_HEX]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
scans=${2:-20000}
size=${3:-4000}
sim=$build/sim/tapwright-sim
cli=$build/cli/tapwright-cli
for program in "$sim" "$cli"; do
    [ -x "$program" ] || { echo "$program missing: build first (scripts/build.sh)" >&2; exit 1; }
done
openocd=$(command -v openocd) || { echo "openocd missing: sudo apt-get install -y openocd" >&2; exit 1; }

work=$(mktemp -d)
server=""
cleanup() {
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
cp -r "$root/TrapHandlers" .

# Started directly, so that $! is the server itself.
"$sim" --stats --listen 0 >sim.out 2>sim.err &
server=$!
port=""
for _ in $(seq 100); do
    port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' sim.out)
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { echo "tapwright-sim did not start:" >&2; cat sim.out sim.err >&2; exit 1; }

sessions() { grep -c '^session:' sim.out || true; }
wait_sessions() {  # the server writes a session's line once its client has gone
    for _ in $(seq 100); do [ "$(sessions)" -ge "$1" ] && return 0; sleep 0.1; done
    echo "the server did not report session $1:" >&2; cat sim.out >&2; exit 1
}

cat >sti.cfg <<CFG
adapter driver remote_bitbang
remote_bitbang host 127.0.0.1
remote_bitbang port $port
adapter speed 1000
gdb_port disabled
telnet_port disabled
tcl_port disabled
jtag newtap sti cpu -irlen 5 -expected-id 0x0D4C9041
CFG
timeout 600 "$openocd" -f sti.cfg -c init -c "irscan sti.cpu 2" \
    -c "for {set i 0} {\$i < $scans} {incr i} { drscan sti.cpu 64 0 }" -c shutdown \
    >openocd.log 2>&1 || { echo "openocd failed:" >&2; cat openocd.log >&2; exit 1; }
grep -q "tap/device found: 0x0d4c9041" openocd.log || { cat openocd.log >&2; exit 1; }
wait_sessions 1

timeout 900 "$cli" --driver "remote-bitbang:127.0.0.1:$port" mem read --start C0000000 \
    --size "$size" read.bin >cli.out 2>&1 || { echo "tapwright-cli failed:" >&2; cat cli.out >&2; exit 1; }
wait_sessions 2

# "session: L letters, C TCK clocks, T s busy"
grep '^session:' sim.out | awk -v scans="$scans" -v size="$size" '
    { clocks[NR] = $4; busy[NR] = $7; rate[NR] = $4 / $7 }
    END {
        printf "OpenOCD 0.12 remote_bitbang, %d drscans of 64 bits: %d clocks in %.2f s busy: %.3f M clocks/s\n",
               scans, clocks[1], busy[1], rate[1] / 1e6
        printf "tapwright-cli mem read of 0x%s bytes:            %d clocks in %.2f s busy: %.3f M clocks/s\n",
               size, clocks[2], busy[2], rate[2] / 1e6
        printf "tapwright / OpenOCD: %.3f\n", rate[2] / rate[1]
    }'
