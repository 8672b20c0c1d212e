#!/usr/bin/env bash
# The Windows build of the CLI under Wine on the in-process virtual board: handler paths,
# binary files that survive a round trip (bytes 0x0A, 0x0D and 0x1A included), the board kept
# in a folder between runs, and the settings file left alone. Then the Windows backends: the
# PortTalk driver client failing cleanly, and Winsock against the Linux board server when
# its path is given.
set -u
wine=$1
cli=$2
root=$3
sim=${4:-}
. "$root/tests/cli_lib.sh"
cp -r "$root/TrapHandlers" TrapHandlers

check "cpuid" 0 "$wine" "$cli" --driver sim cpuid
expect "IDCODE" out.txt "IDCODE : 0D4C9041"

# Every byte value, twice, so text-mode translation of any kind shows.
for _ in 1 2; do for i in $(seq 0 255); do printf "\\$(printf %03o "$i")"; done; done >image.bin
check "flash erase" 0 "$wine" "$cli" --driver sim:board flash erase --yes
check "flash write and verify" 0 "$wine" "$cli" --driver sim:board flash write image.bin --verify --size 200
expect "verified" out.txt "Verify : Ok"
check "flash read back in another run" 0 "$wine" "$cli" --driver sim:board flash read back.bin --size 200
cmp -s image.bin back.bin || { echo "FAIL: flash read-back differs from the image"; fail=1; }

check "memory write" 0 "$wine" "$cli" --driver sim:board mem write image.bin --start C0010000
check "memory read" 0 "$wine" "$cli" --driver sim:board mem read mem.bin --start C0010000 --size 200
cmp -s image.bin mem.bin || { echo "FAIL: memory read-back differs"; fail=1; }

head -c 256 image.bin >eeprom.bin  # every byte value once: the whole 256-byte EEPROM
check "eeprom write" 0 "$wine" "$cli" --driver sim:board eeprom write eeprom.bin
check "eeprom read" 0 "$wine" "$cli" --driver sim:board eeprom read e2p.bin --size 100
cmp -s eeprom.bin e2p.bin || { echo "FAIL: EEPROM read-back differs"; fail=1; }

[ -e Tapwright.ini ] && { echo "FAIL: the CLI wrote Tapwright.ini"; fail=1; }
grep -q "Writing Flash -->    From : 7FF00000 Length : 00000200 bytes" log.txt || { echo "FAIL: no log line in log.txt"; fail=1; }

# No PortTalk driver in Wine: the install-and-start cycle ends, and says so.
check "porttalk without its driver" 1 "$wine" "$cli" --driver porttalk cpuid
expect "driver story" err.txt "Couldn't access PortTalk Driver, Please ensure driver is loaded."
expect "why" err.txt "tapwright-cli: cannot open the 'porttalk' port driver"

check "refused connection" 1 "$wine" "$cli" --driver remote-bitbang:127.0.0.1:1 cpuid
expect "names the server" err.txt "cannot connect to 127.0.0.1:1 (connection refused)"
if [ -n "$sim" ] && [ -x "$sim" ]; then
    start_server "$sim"
    check "cpuid over Winsock" 0 "$wine" "$cli" --driver "remote-bitbang:127.0.0.1:$port" cpuid
    expect "IDCODE over Winsock" out.txt "IDCODE : 0D4C9041"
    stop_server
fi

[ $fail -eq 0 ] && echo "windows cli: all checks passed"
exit $fail
