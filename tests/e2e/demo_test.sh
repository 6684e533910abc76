#!/usr/bin/env bash
# The demonstration run: pnlmon-sim emulates two monitors and the changes of
# examples/demo.json while pnlmon-cimhost loads the provider, lists the
# instances and prints the indications of the changes, one line each.
set -euo pipefail
sim=$1 cimhost=$2 provider=$3 scenario=$4
out=$("$sim" -q "$scenario" -- "$cimhost" --provider "$provider" --brief watch --list-first --interval 1 --count 6 2>/dev/null)
echo "$out"
fail() { echo "FAIL: $*"; exit 1; }
[ "$(grep -c '^  ' <<<"$out")" -eq 2 ] || fail "two instances listed first"
grep -q '^  7427-A10-TL12345  TLO 7427-A10  firmware 0105' <<<"$out" || fail "Tilo listed"
[ "$(grep -c '^indication CIM_InstDeletion: 7427-A10-TL12345 ' <<<"$out")" -eq 1 ] || fail "one deletion for Tilo"
[ "$(grep -c '^indication CIM_InstCreation: 7429-C16-SR24680 ' <<<"$out")" -eq 1 ] || fail "one creation for Sarn"
[ "$(grep -c '^indication' <<<"$out")" -eq 2 ] || fail "no other indication"
! grep 'status:' <<<"$out" | grep -qv CMPI_RC_OK || fail "a request failed"
echo "demo ok"
