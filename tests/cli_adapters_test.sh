#!/usr/bin/env bash
# The USB (MPSSE) and GPIO cables end to end: the CLI on the emulated adapters, each wired to a
# virtual board kept in a folder, and the failures a technician meets named with their fix.
set -u
cli=$1
root=$2
. "$(dirname "$0")/cli_lib.sh"
ln -s "$root/TrapHandlers" TrapHandlers
seed=${TAPWRIGHT_SEED:-$RANDOM}
echo "seed $seed"
RANDOM=$seed

for cable in "ftdi-sim" "ftdi-sim:0403:6014,khz=1000@chip=ft232h" "gpiod-sim"; do
    board="$cable@sim:$work/board-${cable%%[:@]*}"
    check "$cable: cpuid" 0 "$cli" --driver "$board" cpuid
    expect "$cable: IDCODE" out.txt "IDCODE : 0D4C9041"

    size=$((1 + RANDOM % 3000)); start=$(printf '%X' $((0xC0010000 + RANDOM % 4096)))
    head -c "$size" /dev/urandom >mem.bin
    check "$cable: mem write at $start" 0 "$cli" --driver "$board" mem write mem.bin --start "$start"
    check "$cable: mem read" 0 "$cli" --driver "$board" mem read back.bin --start "$start" \
        --size "$(printf '%X' "$size")"
    cmp -s mem.bin back.bin || { echo "FAIL: $cable: $size bytes at $start differ"; fail=1; }

    size=$((1 + RANDOM % 3000))
    head -c "$size" /dev/urandom >image.bin
    check "$cable: flash erase" 0 "$cli" --driver "$board" flash erase --yes
    check "$cable: flash write and verify" 0 "$cli" --driver "$board" flash write image.bin \
        --verify --size "$(printf '%X' "$size")"
    expect "$cable: verified" out.txt "Verify : Ok"

    head -c 256 /dev/urandom >e2p.bin
    check "$cable: eeprom write" 0 "$cli" --driver "$board" eeprom write e2p.bin
    check "$cable: eeprom read" 0 "$cli" --driver "$board" eeprom read e2p-back.bin
    cmp -s e2p.bin e2p-back.bin || { echo "FAIL: $cable: EEPROM differs"; fail=1; }
done

check "no adapter" 1 "$cli" --driver "ftdi-sim@absent" cpuid
expect "says nothing is there" err.txt "no adapter 0403:6010 (the USB bus shows no device)"
check "adapter of another kind" 1 "$cli" --driver "ftdi-sim@chip=ft232h,serial=X1" cpuid
expect "lists the bus" err.txt "on the bus: 0403:6014 serial X1"
check "permission denied" 1 "$cli" --driver "ftdi-sim@denied" cpuid
expect "names the udev rule" err.txt "60-tapwright.rules"
expect "and the group" err.txt "sudo adduser \$USER plugdev"
check "claimed by another program" 1 "$cli" --driver "ftdi-sim@busy" cpuid
expect "how to unbind ftdi_sio" err.txt "/sys/bus/usb/drivers/ftdi_sio/unbind"
check "ftdi_sio detached" 0 "$cli" --driver "ftdi-sim@driver-bound" cpuid
check "two adapters, no serial" 1 "$cli" --driver "ftdi-sim@serial=AA@serial=BB" cpuid
expect "lists them" err.txt "2 adapters 0403:6010 are plugged in (serials AA, BB)"
check "two adapters, one chosen" 0 "$cli" --driver "ftdi-sim,serial=AA@serial=AA@serial=BB" cpuid
check "no GPIO chip" 1 "$cli" --driver "gpiod-sim:gpiochip4,tck=1,tms=2,tdi=3,tdo=4" cpuid
expect "names the chips there" err.txt "no GPIO chip 'gpiochip4' (this machine has gpiochip0)"
check "GPIO line held" 1 "$cli" --driver "gpiod-sim@busy=11" cpuid
expect "names the line" err.txt "line 11 of gpiochip0 is in use"

after=$((20000 + RANDOM % 40000))
check "unplugged mid-read" 1 "$cli" --driver "ftdi-sim@unplug-after-bytes=$after@sim:$work/pulled" \
    mem read pulled.bin --start C0000000 --size 4000
expect "why the port failed" err.txt "was unplugged (or lost power)"
expect "the file is not a good copy" err.txt "pulled.bin is incomplete"
check "the next run opens" 0 "$cli" --driver "ftdi-sim@sim:$work/pulled" cpuid

# A board folder is one process's at a time, whichever cable reaches the board.
mkdir -p "$work/held"
flock "$work/held/board.lock" sleep 5 &
holder=$!
sleep 0.5
for cable in "ftdi-sim@sim:$work/held" "gpiod-sim@sim:$work/held"; do
    check "$cable: board folder held" 1 "$cli" --driver "$cable" --lock-wait 0 cpuid
    expect "$cable: says so" err.txt "the board folder $work/held is in use by"
done
kill $holder 2>/dev/null
wait $holder 2>/dev/null

[ $fail -eq 0 ] && echo "cli adapters: all checks passed"
exit $fail
