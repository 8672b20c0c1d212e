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

expect "where it differs" err.txt "Verify failed at 7FF00"
check "write over data not erased" 1 "$cli" --driver "$board" flash write other.bin --size 1388
expect "says why and what to do" err.txt ": ERASE it first"

check "erase refused by the chip" 1 "$cli" --driver sim,erase-fails flash erase --yes
expect "erase failure logged" log.txt "Erasing Flash -->    Base address 7FF00000 Ko"
expect "write logged" log.txt "Writing Flash -->    From : 7FF00000 Length : 00001388 bytes Ok"
expect "verify logged" log.txt "Verifying Flash -->  From : 7FF00000 Length : 00001388 bytes Ko"
expect "a cut read logs what it read" log.txt "Reading Flash -->    From : 7FF00000 Length : 0000"
expect "session line" log.txt "Command : tapwright-cli --driver sim,erase-fails flash erase --yes Driver : sim,erase-fails"

# Refused before anything is written or read: exit code, what is said, the arguments.
head -c 2000000 /dev/zero >two-mib.bin
while IFS='|' read -r want says args; do
    check "refused: $args" "$want" "$cli" --driver "$board" $args
    expect "refused: $args" err.txt "$says"
done <<'EOF'
1|951424 bytes would be left out|flash write two-mib.bin --size 100000
1|outside the flash (7FF00000 to 7FFFFFFF)|flash read x.bin --start 12345678 --size 100
1|outside the flash|flash write two-mib.bin --start 7FFF0000 --size 20000
1|not a multiple of 2 (16-bit bus)|flash write image.bin --start 7FF00001
1|Cannot create|flash read no-such-folder/back.rom
2|drop --start and --size|flash erase --yes --start 7FF00000 --size 10000
2|drop --start and --size|flash id --size 10
EOF
expect "a refused write is logged as nothing written" log.txt \
    "Writing Flash -->    From : 7FFF0000 Length : 00000000 bytes Ko"
check "log that cannot be written" 3 "$cli" --driver sim --log no-such-folder/log.txt cpuid
expect "said on stderr" err.txt "cannot write the log no-such-folder/log.txt"

[ -e Tapwright.ini ] && { echo "FAIL: the CLI wrote Tapwright.ini"; fail=1; }
[ $fail -eq 0 ] && echo "cli flash: all checks passed"
exit $fail
