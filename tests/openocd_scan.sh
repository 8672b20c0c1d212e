#!/bin/sh
# Acceptance by a peer no one here wrote: OpenOCD, through its remote_bitbang driver, finds
# the virtual board's TAP and reads its IDCODE.
# Usage: openocd_scan.sh <tapwright-sim> <openocd>
set -u
SIM=$1
OPENOCD=$2
WORK=$(mktemp -d)
SIM_PID=
cleanup() {
    if [ -n "$SIM_PID" ]; then
        kill "$SIM_PID" 2>/dev/null
        wait "$SIM_PID" 2>/dev/null
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Started directly so that $! is the server itself; the EXIT trap always stops it.
"$SIM" --listen 0 >"$WORK/sim.out" 2>"$WORK/sim.err" &
SIM_PID=$!

PORT=
i=0
while [ $i -lt 100 ]; do
    PORT=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$WORK/sim.out" 2>/dev/null)
    [ -n "$PORT" ] && break
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.1
    i=$((i + 1))
done
if [ -z "$PORT" ]; then
    echo "FAIL: tapwright-sim did not report its port"
    cat "$WORK/sim.out" "$WORK/sim.err"
    exit 1
fi

cat >"$WORK/sti.cfg" <<CFG
adapter driver remote_bitbang
remote_bitbang host 127.0.0.1
remote_bitbang port $PORT
adapter speed 1000
gdb_port disabled
telnet_port disabled
tcl_port disabled
jtag newtap sti cpu -irlen 5 -expected-id 0x0D4C9041
CFG

timeout 30 "$OPENOCD" -f "$WORK/sti.cfg" -c init -c scan_chain -c "irscan sti.cpu 2" \
    -c "drscan sti.cpu 32 0" -c shutdown >"$WORK/openocd.log" 2>&1
STATUS=$?
cat "$WORK/openocd.log"

# OpenOCD exits 0 even on a wrong IDCODE: judge by what it printed.
if [ $STATUS -ne 0 ]; then
    echo "FAIL: openocd exited with $STATUS"
    exit 1
fi
if ! grep -q "tap/device found: 0x0d4c9041" "$WORK/openocd.log"; then
    echo "FAIL: TAP with IDCODE 0x0d4c9041 not found"
    exit 1
fi
if grep -qi "UNEXPECTED" "$WORK/openocd.log"; then
    echo "FAIL: openocd reports an unexpected IDCODE"
    exit 1
fi
if ! grep -Eq "^0d4c9041[[:space:]]*$" "$WORK/openocd.log"; then
    echo "FAIL: drscan did not return 0d4c9041"
    exit 1
fi
echo "PASS"
exit 0
