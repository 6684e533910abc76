#!/usr/bin/env bash
# The demonstration run (scripts/demo.sh): pnlmon-sim emulates two monitors
# and the changes of examples/demo.json while pnlmon-cimhost loads the
# provider, lists the instances and prints the indications of the changes,
# one line each. It runs next to a process named like a monitor flash
# utility: the demo's own PID namespace must keep it out of sight. Without
# that namespace the demo must say plainly why it cannot list anything.
#
# The test itself runs in PID and mount namespaces of its own, so its fake
# flash utility is invisible to every other test. As in the test sandbox,
# /etc and /var/log are overlays with their upper layers on a tmpfs, and
# /etc/pnlmon and /var/log/pnlmon are empty folders of the overlays, whether
# or not the machine has them: nothing installed is read, and nothing is
# written to the machine, even by a package installed during the run.
set -euo pipefail
sim=$1 cimhost=$2 provider=$3 scenario=$4
here=$(cd "$(dirname "$0")/../.." && pwd)
demo=$here/scripts/demo.sh

if [ "${PNLMON_DEMO_TEST_NS:-}" != 1 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "needs root (PID namespaces)"; exit 77; }
  layers=$(mktemp -d "${TMPDIR:-/tmp}/pnlmon-demo-test.XXXXXX")
  rc=0
  PNLMON_DEMO_TEST_NS=1 PNLMON_DEMO_TEST_LAYERS=$layers \
    unshare --mount --propagation private --pid --fork --mount-proc "$0" "$@" || rc=$?
  rmdir "$layers"
  exit $rc
fi
fail() { echo "FAIL: $*"; exit 1; }
layers=$PNLMON_DEMO_TEST_LAYERS
mount -t tmpfs pnlmon-test "$layers" || fail "no tmpfs for the overlays"
for folder in /etc /var/log; do
  name=$(basename "$folder")
  mkdir "$layers/$name-upper" "$layers/$name-work"
  mount -t overlay pnlmon-test -o "lowerdir=$folder,upperdir=$layers/$name-upper,workdir=$layers/$name-work" "$folder" ||
    fail "no overlay on $folder"
done
for folder in /etc/pnlmon /var/log/pnlmon; do
  rm -rf "$folder"
  mkdir "$folder"
done

(exec -a kap_config sleep 300) &
utility=$!
trap 'kill "$utility" 2>/dev/null || true' EXIT
# /proc shows the new program's command line a moment after the exec; the
# bound is far above any delay of a loaded machine.
for _ in $(seq 3000); do
  grep -q '^kap_config' "/proc/$utility/cmdline" 2>/dev/null && break
  sleep 0.01
done
grep -q '^kap_config' "/proc/$utility/cmdline" || fail "the fake utility never showed as kap_config"

# In its own PID namespace the demo does not see the utility.
rc=0
out=$(env -u PNLMON_DEMO_PIDS "$demo" --prebuilt "$sim" "$cimhost" "$provider" "$scenario" 2>&1) || rc=$?
echo "$out"
[ "$rc" -eq 0 ] || fail "the demo exited $rc"
[ "$(grep -c '^  ' <<<"$out")" -eq 2 ] || fail "two instances listed first"
grep -q '^  7427-A10-TL12345  TLO 7427-A10  firmware 0105' <<<"$out" || fail "Tilo listed"
[ "$(grep -c '^indication CIM_InstDeletion: 7427-A10-TL12345 ' <<<"$out")" -eq 1 ] || fail "one deletion for Tilo"
[ "$(grep -c '^indication CIM_InstCreation: 7429-C16-SR24680 ' <<<"$out")" -eq 1 ] || fail "one creation for Sarn"
[ "$(grep -c '^indication' <<<"$out")" -eq 2 ] || fail "no other indication"
grep -q '^Summary: 2 instances listed, 1 CIM_InstDeletion and 1 CIM_InstCreation indications, 0 failed requests.$' \
  <<<"$out" || fail "summary"

# Among the machine's processes it names the utility instead of listing none.
rc=0
out=$(PNLMON_DEMO_PIDS=shared "$demo" --prebuilt "$sim" "$cimhost" "$provider" "$scenario" 2>&1) || rc=$?
echo "$out"
[ "$rc" -eq 1 ] || fail "the demo exited $rc next to a flash utility"
grep -q '^The monitor flash utility "kap_config" is running on this machine' <<<"$out" || fail "the utility is named"
! grep -q '^Summary' <<<"$out" || fail "no summary of a run that cannot list anything"

# A run that fails shows the host's standard error.
rc=0
out=$(env -u PNLMON_DEMO_PIDS "$demo" --prebuilt "$sim" "$cimhost" /nonexistent/libvexdisplayprov.so "$scenario" 2>&1) ||
  rc=$?
echo "$out"
[ "$rc" -eq 1 ] || fail "the demo exited $rc without its provider"
grep -q '^Its standard error:' <<<"$out" || fail "standard error shown"
grep -q 'cannot load /nonexistent/libvexdisplayprov.so' <<<"$out" || fail "the host's reason shown"
echo "demo ok"
