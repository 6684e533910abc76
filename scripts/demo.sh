#!/usr/bin/env bash
# The whole system on emulated monitors: the CIM provider, loaded by the
# embedded CIM object manager host, lists the QAV_Display instances of two
# monitors; then one monitor is unplugged and another plugged in, and the
# provider's two lifecycle indications are printed.
#
#   scripts/demo.sh                 build what it needs, then run
#   scripts/demo.sh --prebuilt SIM CIMHOST PROVIDER SCENARIO
#                                   run with these programs (the tests do)
#
# The run is the same on a quiet or a busy machine: each change of the
# scenario's timeline is made once the host has reported the previous step,
# and the run has a PID namespace of its own where the system allows one, so
# a monitor flash utility running elsewhere on the machine (which makes the
# driver leave every monitor alone) cannot empty the lists.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

if [ "${1:-}" = --prebuilt ]; then
  [ $# -eq 5 ] || { echo "usage: $0 --prebuilt SIM CIMHOST PROVIDER SCENARIO" >&2; exit 64; }
  sim=$2 cimhost=$3 provider=$4 scenario=$5
else
  "$here/scripts/install-deps.sh" >/dev/null
  echo "Building (first time: a few minutes)..."
  BUILD_DIR="$here/build" BUILD_TARGETS="pnlmon-sim pnlmon-cimhost vexdisplayprov pnlmon_nlfix" \
    "$here/scripts/build.sh" -DPNLMON_BUILD_BENCH=OFF >/dev/null
  bin="$here/build/tools"
  sim=$bin/pnlmon-sim/pnlmon-sim
  cimhost=$bin/pnlmon-cimhost/pnlmon-cimhost
  provider=$here/build/src/displayprov/libvexdisplayprov.so
  scenario=$here/examples/demo.json
fi

# PNLMON_DEMO_PIDS: "own" once inside a PID namespace of our own; "shared"
# runs among the machine's processes without trying for one.
if [ -z "${PNLMON_DEMO_PIDS:-}" ]; then
  for user in "" "--user --map-root-user"; do
    # shellcheck disable=SC2086
    if unshare $user --pid --fork --mount-proc true 2>/dev/null; then
      # shellcheck disable=SC2086
      PNLMON_DEMO_PIDS=own exec unshare $user --pid --fork --mount-proc \
        "$here/scripts/demo.sh" --prebuilt "$sim" "$cimhost" "$provider" "$scenario"
    fi
  done
fi

# The program names the driver takes for monitor flash utilities: its
# default list, or FlashUtilityNames of its configuration file.
flash_names() {
  local names=kap_download,kap_config,7715MonUtil,vexfwupdate,qtz-app line
  if [ -r /etc/pnlmon/pnlmon.conf ]; then
    while IFS= read -r line || [ -n "$line" ]; do
      case $line in FlashUtilityNames=?*) names=${line#FlashUtilityNames=} ;; esac
    done </etc/pnlmon/pnlmon.conf
  fi
  echo "$names"
}

# Prints the name of a flash utility this run can see running, if any.
running_flash_utility() {
  local names file program
  names=",$(flash_names),"
  for file in /proc/[0-9]*/cmdline; do
    program=
    IFS= read -r -d '' program 2>/dev/null <"$file" || true
    program=${program%%$'\n'*}
    program=${program##*/}
    if [ -n "$program" ] && [[ $names == *",$program,"* ]]; then
      echo "$program"
      return 0
    fi
  done
  return 1
}

flash_utility_note() {
  echo "The monitor flash utility \"$1\" is running on this machine. While one runs, the driver"
  echo "leaves every monitor alone (emulated ones too), so the provider lists no instances."
  echo "Let it finish, then run the demo again."
}

if utility=$(running_flash_utility); then
  flash_utility_note "$utility"
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=$work/out err=$work/err
: >"$out"
# The timeline's changes, in order; the scenario runs without it.
events=()
while read -r word _ verb name; do
  [ "$word" = at ] && events+=("$verb $name")
done < <("$sim" --check "$scenario")
jq 'del(.timeline)' "$scenario" >"$work/scenario.json"

echo
echo "The monitors of $(basename "$scenario") are attached. Once they are listed, the changes follow one"
echo "at a time, each once the previous one is indicated: $(IFS=,; echo "${events[*]}" | sed 's/,/, /g')."
echo "QAV_Display instances, then the indications of the changes:"
coproc SIM { "$sim" -q --stdin-control "$work/scenario.json" -- \
  "$cimhost" --provider "$provider" --brief watch --list-first --interval 1 --count 6 2>"$err"; }
sim_pid=$SIM_PID
exec {from_sim}<&"${SIM[0]}" {to_sim}>&"${SIM[1]}"
# The first change once the first request of the watch is answered, each
# later one once the previous one is indicated.
next=0 polled=0 indicated=0
while IFS= read -r line <&"$from_sim"; do
  printf '%s\n' "$line" >>"$out"
  case $line in
    "  "*) printf '%s\n' "$line" ;;
    indication*) printf '%s\n' "$line"; indicated=$((indicated + 1)) ;;
    "ei #"*) polled=$((polled + 1)) ;;
  esac
  if [ "$polled" -gt 0 ] && [ "$next" -lt ${#events[@]} ] && [ "$indicated" -eq "$next" ]; then
    trap '' PIPE
    printf '%s\n' "${events[$next]}" >&"$to_sim" 2>/dev/null || true
    trap - PIPE
    next=$((next + 1))
  fi
done
exec {from_sim}<&- {to_sim}>&-
status=0
wait "$sim_pid" || status=$?

instances=$(grep -c '^  ' "$out" || true)
created=$(grep -c '^indication CIM_InstCreation' "$out" || true)
deleted=$(grep -c '^indication CIM_InstDeletion' "$out" || true)
failed=$(grep -v 'CMPI_RC_OK' "$out" | grep -c 'status:' || true)
echo
echo "Summary: $instances instances listed, $deleted CIM_InstDeletion and $created CIM_InstCreation indications, $failed failed requests."
if [ "$status" -eq 0 ] && [ "$instances" -eq 2 ] && [ "$created" -eq 1 ] && [ "$deleted" -eq 1 ] &&
   [ "$failed" -eq 0 ]; then
  exit 0
fi
{
  echo
  if utility=$(running_flash_utility); then
    flash_utility_note "$utility"
  fi
  echo "The demo did not go as expected (exit status $status). The host's output:"
  cat "$out"
  if [ -s "$err" ]; then
    echo "Its standard error:"
    cat "$err"
  fi
} >&2
exit 1
