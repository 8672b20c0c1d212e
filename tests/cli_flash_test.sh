#!/usr/bin/env bash
# The CLI's flash commands against the virtual board: outputs, files, log lines, exit codes.
set -u
cli=$1
root=$2
. "$(dirname "$0")/cli_lib.sh"
ln -s "$root/TrapHandlers" TrapHandlers
board="sim:$work/board"

check "flash id" 0 "$cli" --driver sim flash id
expect "identification" out.txt "ID     : 0020/00D7"
expect "device" out.txt "DEV    : 29W800T"
expect "capacity" out.txt "Size   : 00100000"

check "chip pair on a 32-bit bus" 0 "$cli" --driver sim,flash-width=32 flash id --bus 32
expect "two chips" out.txt "Size   : 00200000"

check "wiring the profile does not know" 1 "$cli" --driver sim,flash-wiring=reversed flash id
expect "nothing loaded" err.txt "flash handler was not loaded"

check "erase needs --yes" 2 "$cli" --driver "$board" flash erase
check "size given as 0x..." 0 "$cli" --driver sim flash read x.bin --size 0x10
[ "$(stat -c %s x.bin)" -eq 16 ] || { echo "FAIL: read size"; fail=1; }
check "not hexadecimal" 2 "$cli" --driver sim flash read x.bin --size 1G
check "bank outside the profile" 2 "$cli" --driver sim flash id --bank 2
: >empty.bin
check "empty image refused" 2 "$cli" --driver sim flash write empty.bin
expect "says why" err.txt "File is empty, nothing to write"
check "no target" 1 "$cli" --driver sim,no-target flash id

head -c 5000 /dev/urandom >image.bin
check "erase" 0 "$cli" --driver "$board" flash erase --yes
check "write and verify" 0 "$cli" --driver "$board" flash write image.bin --verify --size 1388
expect "verified" out.txt "Verify : Ok"
check "read back in another run" 0 "$cli" --driver "$board" flash read back.bin --size 1388
cmp -s image.bin back.bin || { echo "FAIL: read-back differs from the image"; fail=1; }
grep -q "READ failed" err.txt && { echo "FAIL: a good read called incomplete"; fail=1; }
check "cable pulled during READ" 1 "$cli" --driver sim,unplug-after=500000 flash read pulled.bin \
    --size 10000
expect "the link's error" err.txt "Erreur Canal DCU désynchronisé, faire un reset de la carte"
expect "the file is not a good copy" err.txt "pulled.bin is incomplete"
check "cable pulled before READ" 1 "$cli" --driver sim,unplug-after=100 flash read never.bin
grep -q "READ failed" err.txt && { echo "FAIL: no READ ran, yet called incomplete"; fail=1; }
head -c 5000 /dev/urandom >other.bin
check "verify of another image" 1 "$cli" --driver "$board" flash verify other.bin --size 1388
expect "Ko" out.txt "Verify : Ko"

check "erase refused by the chip" 1 "$cli" --driver sim,erase-fails flash erase --yes
expect "erase error logged" log.txt "Erasing Flash -->    Error"
expect "write logged" log.txt "Writing Flash -->    From : 7FF00000 Length : 00001388 bytes"
expect "verify logged" log.txt "Verifying Flash -->  From : 7FF00000 Length : 00001388 bytes Ko"

[ -e Tapwright.ini ] && { echo "FAIL: the CLI wrote Tapwright.ini"; fail=1; }
[ $fail -eq 0 ] && echo "cli flash: all checks passed"
exit $fail
