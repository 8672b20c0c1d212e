# Shared by the CLI test scripts: a scratch folder, the two checks they make, and the board
# served over remote_bitbang.
# Sourced after `cli` is set; leaves the caller in the scratch folder with fail=0.
work=$(mktemp -d)
server=""
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"
fail=0
check() {  # description, expected exit code, command...
    local what=$1 want=$2; shift 2
    timeout 300 "$@" >out.txt 2>err.txt  # every command ends, even on a hung link
    local got=$?
    if [ "$got" -ne "$want" ]; then
        echo "FAIL: $what: exit $got, expected $want"; cat out.txt err.txt; fail=1
    fi
}
expect() {  # description, file, text
    grep -qF -- "$3" "$2" || { echo "FAIL: $1: '$3' not in $2"; cat "$2"; fail=1; }
}
start_server() {  # tapwright-sim path, extra options...: serves the board, sets server and port
    local sim=$1; shift
    "$sim" "$@" --listen 0 >listen.txt 2>&1 &
    server=$!
    port=""
    for _ in $(seq 50); do
        port=$(grep -o '127.0.0.1:[0-9]*' listen.txt | head -1 | cut -d: -f2)
        [ -n "$port" ] && break
        sleep 0.1
    done
    [ -n "$port" ] || { echo "FAIL: the board server did not start"; cat listen.txt; fail=1; }
}
stop_server() {
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
    server=""
}
