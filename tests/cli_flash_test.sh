#!/usr/bin/env bash
# The CLI's flash commands against the virtual board: outputs, files, log lines, exit codes.
set -u
cli=$1
root=$2
. "$(dirname "$0")/cli_lib.sh"
ln -s "$root/TrapHandlers" TrapHandlers
board="sim:$work/board"

check "flash id" 0 "$cli" --driver sim flash id

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
[ -e pulled.bin ] || [ ! -e pulled.bin.incomplete ] && { echo "FAIL: the incomplete file kept its name"; fail=1; }
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
expect "a cut read logs what it read" log.txt "Reading Flash -->    From : 7FF00000 Length : 0000"
expect "session line" log.txt \
    "Command : tapwright-cli --driver sim,erase-fails flash erase --yes Driver : sim,erase-fails"

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

# Ctrl-C during a long write, with other processes on the same board meanwhile: one that may
# not wait is told who holds the board, one that waits reads what the writer really did.
slow="sim:$work/slow"
head -c 1048576 /dev/urandom >mib.bin
"$cli" --driver "$slow,ack-delay=14" --log slow.log flash write mib.bin >w.out 2>w.err &
writer=$!
for _ in $(seq 300); do grep -q "Write FLASH Data" w.err && break; sleep 0.02; done
check "board in use" 1 "$cli" --driver "$slow" --lock-wait 0 cpuid
expect "names the holder" err.txt "the board folder $work/slow is in use by process $writer"
"$cli" --driver "$slow" --lock-wait 60 flash read after.bin >r.out 2>r.err &
reader=$!
kill -INT "$writer"
wait "$writer"
[ $? -eq 130 ] || { echo "FAIL: Ctrl-C: exit not 130"; cat w.err; fail=1; }
wait "$reader" || { echo "FAIL: the waiting reader failed"; cat r.err; fail=1; }
at=$(grep -o "Length : [0-9A-F]* bytes Ko interrupted at 7FF[0-9A-F]*" slow.log | tail -c 9)
if [ -z "$at" ]; then
    echo "FAIL: no interrupted line"; cat slow.log; fail=1
else
    done=$((0x$at - 0x7FF00000))
    cmp -s <(head -c "$done" mib.bin) <(head -c "$done" after.bin) ||
        { echo "FAIL: the board lost what was written before Ctrl-C"; fail=1; }
    cmp -s <(tail -c +"$((done + 1))" after.bin) <(head -c "$((1048576 - done))" /dev/zero | tr '\0' '\377') ||
        { echo "FAIL: the board holds more than was written before Ctrl-C"; fail=1; }
fi
[ "$(od -A n -t x1 -j 64 -N 16 "$work/slow/iram.bin" | tr -d ' \n')" = "$(printf '0%.0s' $(seq 32))" ] ||
    { echo "FAIL: Ctrl-C left the trap vectors in place"; fail=1; }

[ -e Tapwright.ini ] && { echo "FAIL: the CLI wrote Tapwright.ini"; fail=1; }
[ $fail -eq 0 ] && echo "cli flash: all checks passed"
exit $fail
