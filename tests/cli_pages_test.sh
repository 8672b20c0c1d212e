#!/usr/bin/env bash
# The EEPROM, MEMORY and MISC. page commands of tapwright-cli against the virtual board.
set -u
cli=$1
root=$2
. "$(dirname "$0")/cli_lib.sh"
cp -r "$root/TrapHandlers" .
board="sim:$work/board"

# EEPROM: write, read back in another run, erase a range.
head -c 256 /dev/urandom >e2p.bin
check "eeprom write" 0 "$cli" --driver "$board" eeprom write e2p.bin
check "eeprom read" 0 "$cli" --driver "$board" eeprom read back.bin
cmp -s e2p.bin back.bin || { echo "FAIL: EEPROM did not read back"; fail=1; }
check "erase needs --yes" 2 "$cli" --driver "$board" eeprom erase --start 10 --size 20
check "eeprom erase" 0 "$cli" --driver "$board" eeprom erase --yes --start 10 --size 20
check "read after erase" 0 "$cli" --driver "$board" eeprom read erased.bin
cmp -s <(head -c 16 e2p.bin; head -c 32 /dev/zero | tr '\0' '\377'; tail -c +49 e2p.bin) erased.bin ||
    { echo "FAIL: erase did not fill 0x10-0x2F with 0xFF"; fail=1; }
# Refused before any transfer: exit code, what is said, the arguments.
head -c 1024 /dev/urandom >1k.bin
while IFS='|' read -r want says args; do
    check "refused: $args" "$want" "$cli" --driver "$board" $args
    expect "refused: $args" err.txt "$says"
done <<'EOF'
1|larger than the largest EEPROM|eeprom read big.bin --size 200001
1|past the end of the EEPROM (00000100 bytes|eeprom read x.bin --start 200 --size 10
1|past the end of the EEPROM|eeprom read x.bin --size 200
1|past the end of the EEPROM|eeprom erase --yes --start F8 --size 10
1|768 bytes would be left out|eeprom write 1k.bin
1|24 bytes would be left out|mem write 1k.bin --start C0000000 --size 3E8
EOF
check "three cycles on a large part" 0 "$cli" --driver "sim,eeprom=24c512" eeprom read c3.bin --cycles 3
check "bad cycles" 2 "$cli" --driver "$board" eeprom read x.bin --cycles 4

# Two processes on one board: the second waits its turn, and neither write is lost.
head -c 16 /dev/urandom >first.bin
head -c 16 /dev/urandom >second.bin
"$cli" --driver "$board" eeprom write first.bin --start 0 --size 10 >/dev/null 2>&1 &
first=$!
check "the second waits its turn" 0 "$cli" --driver "$board" eeprom write second.bin --start 10 --size 10
wait "$first" || { echo "FAIL: the first EEPROM write failed"; fail=1; }
check "read both" 0 "$cli" --driver "$board" eeprom read both.bin --start 0 --size 20
cmp -s <(cat first.bin second.bin) both.bin || { echo "FAIL: an EEPROM write was lost"; fail=1; }

# MEMORY: write and read back, an SDRAM image refused and one loaded and started.
head -c 5000 /dev/urandom >mem.bin
check "mem write" 0 "$cli" --driver "$board" mem write mem.bin --start C0010000
check "mem read" 0 "$cli" --driver "$board" mem read mem-back.bin --start 0xC0010000 --size 1388
cmp -s mem.bin mem-back.bin || { echo "FAIL: memory did not read back"; fail=1; }
check "odd length and unaligned start" 0 "$cli" --driver "$board" mem read odd.bin --start C0010003 --size 7
cmp -s odd.bin <(tail -c +4 mem.bin | head -c 7) || { echo "FAIL: unaligned read"; fail=1; }
check "link error reported" 1 "$cli" --driver "sim,bad-header" mem read bad.bin --start C0000000 --size 10
expect "the file is not a good copy" err.txt "bad.bin is incomplete"
check "cable pulled during EEPROM READ" 1 "$cli" --driver "sim,unplug-after=40000" eeprom read e.bin
expect "the EEPROM file is not a good copy" err.txt "e.bin is incomplete"
check "bad hexadecimal" 2 "$cli" --driver "$board" mem read x.bin --start XYZ --size 10
: >empty.bin
check "empty file for mem write" 2 "$cli" --driver "$board" mem write empty.bin --start C0000000
check "empty file for eeprom write" 2 "$cli" --driver "$board" eeprom write empty.bin
expect "says why" err.txt "File is empty, nothing to write"
{ printf 'main1000\x00\x10\x00\x00\x00\x00\x00\xc0'; head -c 4080 /dev/zero; } >image.rom
check "mem load --go" 0 "$cli" --driver "$board" mem load image.rom --go
expect "fields from the header" out.txt "Size  : 00001000"
expect "entry at the last two bytes" err.txt "C0000FFE"
{ printf 'tsvr2000'; head -c 4088 /dev/zero; } >lower.rom
check "lower-case tag refused" 1 "$cli" --driver "$board" mem load lower.rom
expect "refusal logged" log.txt "Load Memory -->      File not conform Ko"
expect "refusal explained" err.txt "lower.rom is not an SDRAM image"

# MISC.
check "misc memstart" 0 "$cli" --driver "$board" misc memstart
check "misc procid" 0 "$cli" --driver "sim,procid=0x3D415041" misc procid
check "misc reboot" 0 "$cli" --driver "$board" misc reboot
check "no target" 1 "$cli" --driver "sim,no-target" misc memstart

[ $fail -eq 0 ] && echo "cli pages: all checks passed"
exit $fail
