#!/usr/bin/env bash
# The whole system on emulated monitors: the CIM provider, loaded by the
# embedded CIM object manager host, lists the QAV_Display instances of two
# monitors; then one monitor is unplugged and another plugged in, and the
# provider's two lifecycle indications are printed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh" >/dev/null
echo "Building (first time: a few minutes)..."
BUILD_DIR="$here/build" BUILD_TARGETS="pnlmon-sim pnlmon-cimhost vexdisplayprov pnlmon_nlfix" \
  "$here/scripts/build.sh" -DPNLMON_BUILD_BENCH=OFF >/dev/null

bin="$here/build/tools"
out=$(mktemp)
trap 'rm -f "$out"' EXIT
echo
echo "Two monitors attached (examples/demo.json); Tilo leaves after 2.5 s, Sarn arrives after 3.5 s."
echo "QAV_Display instances, then the indications of the changes:"
"$bin/pnlmon-sim/pnlmon-sim" -q "$here/examples/demo.json" -- \
  "$bin/pnlmon-cimhost/pnlmon-cimhost" --provider "$here/build/src/displayprov/libvexdisplayprov.so" \
  --brief watch --list-first --interval 1 --count 6 2>/dev/null | tee "$out" |
  grep -E '^  |^indication' || true

instances=$(grep -c '^  ' "$out" || true)
created=$(grep -c '^indication CIM_InstCreation' "$out" || true)
deleted=$(grep -c '^indication CIM_InstDeletion' "$out" || true)
failed=$(grep -v 'CMPI_RC_OK' "$out" | grep -c 'status:' || true)
echo
echo "Summary: $instances instances listed, $deleted CIM_InstDeletion and $created CIM_InstCreation indications, $failed failed requests."
[ "$instances" -eq 2 ] && [ "$created" -eq 1 ] && [ "$deleted" -eq 1 ] && [ "$failed" -eq 0 ]
