#!/bin/sh
# Runs a fuzzer (or any command) with a temporary folder of its own and fails
# when the command leaves anything in it: a fuzz run is a long-running process
# whose logging must not leave files behind.
#
#   run-leaves-nothing.sh COMMAND [ARGS...]
set -u
tmp=$(mktemp -d "${TMPDIR:-/tmp}/pnlmon-fuzz-tmp.XXXXXX") || exit 1
TMPDIR=$tmp "$@"
status=$?
left=$(ls -A "$tmp")
rm -rf "$tmp"
if [ -n "$left" ]; then
    echo "FAIL: the run left files in its temporary folder: $left"
    [ "$status" -ne 0 ] || status=1
fi
exit "$status"
