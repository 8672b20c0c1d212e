#!/usr/bin/env bash
# End-to-end checks of tapwright-cli against the virtual board: outputs and exit codes.
set -u
cli=$1
sim=${2:-}
src=$(cd "$(dirname "$0")/.." && pwd)
. "$(dirname "$0")/cli_lib.sh"

check "cpuid on the virtual board" 0 "$cli" --driver sim cpuid

expect "reads checked by default" out.txt "Read check : on"

check "cpuid, revision 3" 0 "$cli" --driver sim,idcode=0x3D4C9041 --no-read-check cpuid
expect "the mode that ran" out.txt "Read check : off (--no-read-check)"
expect "the mode in the log" log.txt "Driver : sim,idcode=0x3D4C9041 Read check : off"

check "cpuid with no target" 1 "$cli" --driver sim,no-target cpuid

TAPWRIGHT_DRIVER=sim,idcode=0x1D4C9041 check "driver from the environment" 0 "$cli" cpuid
expect "environment honoured" out.txt "Rev 1"

check "cpuid appends to the chosen log" 0 "$cli" --driver sim --log runs.log cpuid
check "second run" 0 "$cli" --driver sim --log runs.log cpuid
[ "$(grep -c 'Reading CPU ID -->   Processor STi-5508 Rev 0 (0D4C9041)' runs.log)" -eq 2 ] ||
    { echo "FAIL: --log did not keep both runs"; cat runs.log; fail=1; }

check "load without trap handler files" 1 "$cli" --driver sim load
expect "result field" err.txt "!!! Error !!!"
expect "names the missing file" err.txt "TrapHandler.bin"

cp -r "$src/TrapHandlers" .
check "load on the virtual board" 0 "$cli" --driver sim load
expect "status shown" err.txt "Load Trap Handler without FLASH management"
expect "loaded" out.txt "Trap handler: Ok"
expect "Iptr of the profile" out.txt "Iptr   : 80000A00"

check "load with no target" 1 "$cli" --driver sim,no-target load
expect "stops at CPU ID" out.txt "Erreur ou Inconnu"

check "unknown backend" 2 "$cli" --driver bogus cpuid
expect "names the valid drivers" err.txt "valid drivers are"

check "refused connection" 1 "$cli" --driver remote-bitbang:127.0.0.1:1 cpuid
expect "names the fix" err.txt "tapwright-sim --listen"

check "settings report" 0 "$cli" settings
expect "default profile listed" out.txt "PERSO"
[ -e Tapwright.ini ] && { echo "FAIL: the CLI wrote Tapwright.ini"; fail=1; }

# Usage errors: exit 2, and a hand-edited settings file stays as it is.
printf '[SETTINGS]\nLPT_NUM= 1\n; bench note\nDUT_NUM= 7\n' >Tapwright.ini
cp Tapwright.ini hand.ini
check "unknown option" 2 "$cli" --bogus cpuid
check "missing file operand" 2 "$cli" --driver sim mem load no-such.img
check "help" 0 "$cli" --help
cmp -s hand.ini Tapwright.ini || { echo "FAIL: a usage error rewrote Tapwright.ini"; fail=1; }
rm -f Tapwright.ini hand.ini

if [ -n "$sim" ]; then
    # Our own host through the remote_bitbang backend, against the board served on loopback.
    start_server "$sim"
    check "cpuid over remote_bitbang" 0 timeout 60 "$cli" --driver "remote-bitbang:127.0.0.1:$port" cpuid
    expect "IDCODE over remote_bitbang" out.txt "IDCODE : 0D4C9041"
    # The stand-in handlers installed beside the program, on a port that may be a real board.
    mkdir -p prefix/bin prefix/share/tapwright bare
    cp "$cli" prefix/bin/ && cp -r "$src/TrapHandlers" prefix/share/tapwright/
    cd bare
    check "stand-ins on another port" 0 "$work/prefix/bin/$(basename "$cli")" \
        --driver "remote-bitbang:127.0.0.1:$port" load
    expect "said once" err.txt "run only on the virtual board: put the board's own in"
    cd "$work"
    stop_server

    # A cable pulled mid-transfer: the link's error, then why the port failed.
    start_server "$sim" --drop-after 100000
    check "connection lost mid-read" 1 timeout 60 "$cli" --driver "remote-bitbang:127.0.0.1:$port" \
        mem read --start 0x40000000 --size 0x10000 lost.bin
    expect "the link's error" err.txt "Erreur Canal DCU désynchronisé, faire un reset de la carte"
    expect "why the port failed" err.txt \
        "port requests failed: remote-bitbang: the connection to 127.0.0.1:$port was closed"
    expect "the file is not a good copy" err.txt "lost.bin is incomplete"
    stop_server
fi

[ $fail -eq 0 ] && echo "cli: all checks passed"
exit $fail
