#!/usr/bin/env bash
# pnlmon-cimhost against the test provider: output, exit status, faults and
# clean standard output. Usage: cimhost_tool_test.sh TOOL PROVIDER
set -u
tool=$1
provider=$2
work=$(mktemp -d "$PWD/cimhost_tool.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*"
    echo "--- stdout"; cat "$work/out"
    echo "--- stderr"; cat "$work/err"
    failures=$((failures + 1))
}

# run EXPECTED_EXIT ARGS...: runs the tool, output in $work/out and $work/err
run() {
    local want=$1
    shift
    "$tool" "$@" >"$work/out" 2>"$work/err"
    local got=$?
    if [ "$got" -ne "$want" ]; then
        fail "exit $got, expected $want: $*"
        return 1
    fi
    return 0
}

has() { grep -qF -- "$1" "$work/out" || fail "stdout lacks '$1'"; }
lacks() { ! grep -qF -- "$1" "$work/out" || fail "stdout has '$1'"; }

P=(--provider "$provider" --name HostTestProvider)

if run 0 "${P[@]}" ein; then
    has 'root/cimv2:Test_Item.Name="alpha"'
    has 'status: CMPI_RC_OK'
    lacks 'Logger created'
    ! grep -qF 'Logger created' "$work/err" || fail "library chatter reached stderr without -v"
fi

# At the most detailed verbosity the libraries' own lines go to standard
# error, never to the results.
if run 0 "${P[@]}" -v 4 ein; then
    lacks 'Logger created'
    grep -qF 'Logger created' "$work/err" || fail "library chatter did not reach stderr with -v 4"
fi

if run 0 "${P[@]}" ei; then
    has 'instance of Test_Item'
    has 'Tags = {"first", "alpha"};'
    has '    Child = instance of Test_Child'
fi

run 0 "${P[@]}" gi beta && has 'Name = "beta";'
run 1 "${P[@]}" gi gamma && has 'status: CMPI_RC_ERR_NOT_FOUND (no item gamma)'
run 1 "${P[@]}" --namespace root/other ein && has 'status: CMPI_RC_ERR_INVALID_NAMESPACE'

if run 0 "${P[@]}" --json ei; then
    [ "$(wc -l <"$work/out")" -eq 1 ] || fail "json: one line expected"
    has '"name":"CMPI_RC_OK"'
    has '"Tags":["first","alpha"]'
fi

run 1 "${P[@]}" --fail-set-property 3 ei && has 'status: CMPI_RC_ERR_FAILED (building alpha failed with 1)'

if run 0 "${P[@]}" watch --interval 0.1 --count 2; then
    has 'activateFilter CIM_InstCreation: status: CMPI_RC_OK'
    has 'ei #2: 2 instances, status: CMPI_RC_OK'
    has 'indication Test_Indication in root/cimv2'
    has '    SourceInstance = instance of Test_Item'
    [ "$(grep -c '^indication ' "$work/out")" -eq 4 ] || fail "watch: 4 indications expected"
    lacks 'Logger created'
fi

if run 0 "${P[@]}" --fail-deliver watch --interval 0.1 --count 1; then
    lacks 'indication Test_Indication'
fi
run 0 "${P[@]}" --fail-new-thread watch --interval 0.1 --count 1 && lacks 'indication Test_Indication'
run 0 "${P[@]}" --fail-attach --json watch --interval 0.1 --count 1 && lacks '"indication"'

# A restart with the stored subscriptions after every second request.
if run 0 "${P[@]}" --brief watch --interval 0.1 --count 5 --restart-every 2; then
    [ "$(grep -c '^restart: status: CMPI_RC_OK$' "$work/out")" -eq 2 ] || fail "watch: 2 restarts expected"
    has 'ei #5: 2 instances, status: CMPI_RC_OK'
fi
run 64 "${P[@]}" ei --restart-every 2
run 64 "${P[@]}" watch --interval 1 --restart-every 0

PNLMON_PROVIDER="$provider" run 0 --name HostTestProvider ein && has 'status: CMPI_RC_OK'

run 2 --provider "$work/missing.so" ein
run 2 --provider "$provider" --name Nobody ein && has 'CMPI_RC_ERR_NOT_FOUND'
run 64 "${P[@]}"
run 64 "${P[@]}" frobnicate
run 64 "${P[@]}" ei --count 3
run 64 "${P[@]}" watch
run 64 "${P[@]}" watch --interval -1
run 64 "${P[@]}" --fail-set-property x ei
run 64 "${P[@]}" gi
run 0 --help && has 'Usage: pnlmon-cimhost'
run 0 --version && has 'pnlmon-cimhost 3.'
# A usage error is one line and a pointer to --help.
if run 64 "${P[@]}" --bogus ei; then
    [ "$(wc -l <"$work/err")" -eq 2 ] || fail "usage error: two lines expected"
    grep -qF "Try 'pnlmon-cimhost --help'" "$work/err" || fail "usage error lacks the pointer to --help"
fi
run 0 "${P[@]}" --namespace=root/cimv2 watch --interval=0.1 --count=1

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "all passed"
