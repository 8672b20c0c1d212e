# Shared by the CLI test scripts: a scratch folder, and the two checks they make.
# Sourced after `cli` is set; leaves the caller in the scratch folder with fail=0.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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
