#!/bin/sh
# Writes, for help2man, a COMMANDS section from the --help of every tapwright-cli command
# (two levels: `flash`, `flash write`), so the man page lists each command with its options.
set -eu
cli=$1
subcommands() {
    "$cli" "$@" --help | awk '/^Subcommands:/ { s = 1; next } /^[^ ]/ { s = 0 } s && /^  [a-z]/ { print $1 }'
}
section() {  # the help of `tapwright-cli $*` as a subsection
    "$cli" "$@" --help | awk '
        NR == 1 { what = $0; next }
        /^Usage: / { sub(/^Usage: /, ""); printf ".SS \"%s\"\n%s\n", $0, what; next }
        /^[A-Z][a-z]*:$/ { options = ($0 == "Options:"); next }
        options && !/^  -h,--help/ && NF { gsub(/\\/, "\\e"); lines = lines $0 "\n" }
        END { if (lines != "") printf ".nf\n%s.fi\n", lines }'
}
echo "[COMMANDS]"
for command in $(subcommands); do
    section "$command"
    for operation in $(subcommands "$command"); do
        section "$command" "$operation"
    done
done
