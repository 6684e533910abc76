#!/usr/bin/env bash
# prometheus_check.sh WORKDIR: the fleet-metrics path with the real
# components, as root, on the Debian packages in WORKDIR/deb (built by
# scripts/package-check.sh). Installs them with prometheus-node-exporter,
# runs the installed collector the way pnlmon-metrics.service runs it under
# the installed pnlmon-sim (two monitors; unprintable identity bytes; a
# flash utility running; a monitor another program holds), checks each file
# with promtool (from the distribution's prometheus package, unpacked into
# WORKDIR, not installed), serves the folder with node_exporter on a
# loopback port and finds every pnlmon_ series in its /metrics. Then stops
# node_exporter and purges what it installed.
#
# Every collector run has a PID namespace of its own, so that the fake flash
# utility is seen by that run only, and a flash utility elsewhere on the
# machine does not change the result.
set -euo pipefail
work=${1:?usage: prometheus_check.sh WORKDIR}
ours=(libvexdisplay3 pnlmon-cim-provider pnlmon pnlmon-devtools)
textfile=/var/lib/prometheus/node-exporter
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
export DEBIAN_FRONTEND=noninteractive
m=$work/metrics
rm -rf "$m"; mkdir -p "$m"

[ "$(id -u)" = 0 ] || { echo "prometheus_check: needs root (skipped)"; exit 0; }
installed() { dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null | grep -qv '^not-installed$'; }
for p in "${ours[@]}"; do
  installed "$p" && { echo "FAIL: $p is already on this machine: not touching it" >&2; exit 1; }
done
had_exporter=0
installed prometheus-node-exporter && had_exporter=1
[ ! -e "$textfile/pnlmon.prom" ] || { echo "FAIL: $textfile/pnlmon.prom exists already: not touching it" >&2; exit 1; }
had_group=0
getent group pnlmon >/dev/null && had_group=1
# prometheus-node-exporter creates a system user that its purge keeps.
had_user=0
getent passwd prometheus >/dev/null && had_user=1

exporter_pid=""
made_policy=0
cleanup() {
  [ -z "$exporter_pid" ] || { kill "$exporter_pid" 2>/dev/null; wait "$exporter_pid" 2>/dev/null || true; }
  local present=()
  for p in "${ours[@]}"; do installed "$p" && present+=("$p"); done
  [ $had_exporter = 1 ] || { installed prometheus-node-exporter && present+=(prometheus-node-exporter); }
  [ ${#present[@]} = 0 ] || apt-get purge -y -q "${present[@]}" >"$m/purge.log" 2>&1 || cat "$m/purge.log" >&2
  [ $made_policy = 0 ] || rm -f /usr/sbin/policy-rc.d
  if [ $had_group = 0 ] && getent group pnlmon >/dev/null; then
    delgroup --system --quiet pnlmon 2>/dev/null || groupdel pnlmon
  fi
  if [ $had_user = 0 ] && getent passwd prometheus >/dev/null; then
    deluser --system --quiet prometheus >/dev/null 2>&1 || userdel prometheus
  fi
  if [ $had_user = 0 ] && getent group prometheus >/dev/null; then
    delgroup --system --quiet prometheus 2>/dev/null || groupdel prometheus
  fi
}
trap cleanup EXIT

# The packages' services must not start on their own here: this check starts
# node_exporter itself, on a port of its choosing.
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
  chmod 755 /usr/sbin/policy-rc.d
  made_policy=1
fi

echo "== installing ${ours[*]} prometheus-node-exporter"
debs=()
for p in "${ours[@]}"; do debs+=("$(ls "$work"/deb/"$p"_*.deb)"); done
apt-get install -y -q --no-install-recommends "${debs[@]}" prometheus-node-exporter >"$m/install.log" 2>&1 ||
  { cat "$m/install.log"; echo "FAIL: apt-get install" >&2; exit 1; }
[ -d "$textfile" ] || fail "prometheus-node-exporter made no $textfile"

# promtool, from the distribution's package, without installing a server.
promtool=$work/prometheus-pkg/usr/bin/promtool
if [ ! -x "$promtool" ]; then
  (cd "$work" && rm -f prometheus_*.deb && apt-get download -q prometheus >"$m/download.log" 2>&1) ||
    { cat "$m/download.log"; fail "apt-get download prometheus"; }
  dpkg-deb -x "$(ls "$work"/prometheus_*.deb)" "$work/prometheus-pkg"
fi
"$promtool" --version >/dev/null 2>&1 || fail "no promtool"

# ------------------------------------------------------------ the units
unitdir=/lib/systemd/system
service=$unitdir/pnlmon-metrics.service
[ -f "$service" ] && [ -f "$unitdir/pnlmon-metrics.timer" ] || fail "the units are not installed"
# Enabled as Debian's textfile collectors' timers are.
[ -L /etc/systemd/system/timers.target.wants/pnlmon-metrics.timer ] || fail "pnlmon-metrics.timer is not enabled"
if command -v systemd-analyze >/dev/null; then
  # Only a missing manual-page viewer may be reported.
  systemd-analyze verify "$service" "$unitdir/pnlmon-metrics.timer" 2>&1 | grep -v "Command 'man " >"$m/verify.txt" || true
  [ ! -s "$m/verify.txt" ] || { cat "$m/verify.txt" >&2; fail "systemd-analyze verify found problems"; }
fi
for key in 'CapabilityBoundingSet=' 'NoNewPrivileges=yes' 'ProtectSystem=strict' 'PrivateTmp=yes' \
           'DevicePolicy=closed' 'DeviceAllow=char-usb_device rw' "ReadWritePaths=-$textfile -/var/log/pnlmon"; do
  grep -qx -- "$key" "$service" || fail "the service lacks '$key'"
done
# The command of the service, its folder variable filled in.
exec_start=$(sed -n 's/^ExecStart=//p' "$service" | sed "s|\${PNLMON_TEXTFILE_DIR}|$textfile|")
[ "$exec_start" = "/usr/bin/pnlmon-inventory --prometheus --output=$textfile/pnlmon.prom" ] ||
  fail "unexpected ExecStart: $exec_start"
success_statuses=" $(sed -n 's/^SuccessExitStatus=//p' "$service") "

# The service's command in an approximation of its sandbox, where systemd
# cannot run: no network, the whole file system read-only but the folders
# of ReadWritePaths= and /tmp (PrivateTmp= gives a writable one; the
# emulator's device sockets live there), root without any capability and
# no new privileges. Not approximated: DevicePolicy=/DeviceAllow= (the
# emulated device nodes are sockets in /tmp), SystemCallFilter= and the
# Protect*= settings of kernel and cgroups.
sandboxed=$m/sandboxed.sh
cat >"$sandboxed" <<SH
#!/bin/sh
set -e
for d in /tmp $textfile /var/log/pnlmon; do mount --bind "\$d" "\$d"; done
# / and any folder mounted apart below it (the package check's overlays).
for d in / /etc /usr /var; do
  [ "\$d" = / ] || mountpoint -q "\$d" || continue
  mount -o remount,bind,ro "\$d"
done
if touch /etc/pnlmon/.probe 2>/dev/null; then rm -f /etc/pnlmon/.probe; echo "the sandbox is not read-only" >&2; exit 70; fi
exec setpriv --no-new-privs --bounding-set=-all --inh-caps=-all --ambient-caps=-all $exec_start
SH
chmod 755 "$sandboxed"

# collect SCENARIO [BEFORE]: runs the service's command, sandboxed as above,
# under the installed emulator, in a PID namespace of its own; BEFORE is
# shell run in that namespace first (a fake flash utility). Leaves the
# status in $status.
collect() {
  local scenario=$1 before=${2:-:} delay=${3:-0}
  status=0
  unshare --pid --fork --mount-proc bash -c "$before
    pnlmon-sim -q '$scenario' -- sh -c 'sleep $delay; exec unshare --net --mount $sandboxed'" \
    >"$m/collect.out" 2>"$m/collect.err" || status=$?
  [ ! -s "$m/collect.out" ] || fail "the collector wrote to standard output: $(head -3 "$m/collect.out")"
  [[ "$success_statuses" == *" $status "* ]] || [ "$status" = 0 ] ||
    { cat "$m/collect.err" >&2; fail "the collector ended with $status, which fails the unit"; }
  if "$promtool" check metrics <"$textfile/pnlmon.prom" >"$m/promtool.txt" 2>&1; then :; else
    cat "$m/promtool.txt" >&2; fail "promtool check metrics: $scenario"
  fi
  local extra
  extra=$(ls -A "$textfile" | grep -v -x -e pnlmon.prom || true)
  [ -z "$extra" ] || fail "left in $textfile: $extra"
  [ "$(stat -c %a "$textfile/pnlmon.prom")" = 644 ] || fail "pnlmon.prom is not mode 644"
}

# ------------------------------------------------------------ node_exporter
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
prometheus-node-exporter --web.listen-address="127.0.0.1:$port" --collector.disable-defaults \
  --collector.textfile --collector.textfile.directory="$textfile" >"$m/exporter.log" 2>&1 &
exporter_pid=$!
scrape() { curl -fsS --max-time 10 "http://127.0.0.1:$port/metrics" >"$m/scrape.txt"; }
for _ in $(seq 100); do scrape 2>/dev/null && break; sleep 0.1; done
scrape || { cat "$m/exporter.log" >&2; fail "node_exporter does not answer on 127.0.0.1:$port"; exit 1; }
# value NAME [LABEL-TEXT]: the value of the first pnlmon series in the
# scrape named NAME whose labels contain LABEL-TEXT, as an integer when it
# is one (node_exporter writes 18756000 as 1.8756e+07).
value() {
  name=$1 want=${2:-} awk '
    BEGIN { name = ENVIRON["name"]; want = ENVIRON["want"] }
    index($0, name "{") == 1 || index($0, name " ") == 1 {
      if (want == "" || index($0, want) > 0) { v = $NF; if (v == int(v)) printf "%d\n", v; else print v; exit }
    }' "$m/scrape.txt"
}
expect() { # NAME LABEL-TEXT VALUE
  local got
  got=$(value "$1" "$2")
  [ "$got" = "$3" ] || fail "/metrics: $1${2:+ with $2} is '${got}', not $3"
}

# ------------------------------------------------------------ two monitors
two=$m/two.json
cat >"$two" <<'JSON'
{"monitors": [
  {"name": "tilo", "vid": "0x04B3", "pid": "0x4676",
   "inventory": {"firmwareRevision": "0105", "machine": "7427", "model": "A10", "serialNumber": "TL12345",
                 "powerOnSeconds": 18756000, "backlightOnSeconds": 14760000, "brightness": 80,
                 "status0": 0, "status1": "0x0C"}},
  {"name": "sarn", "vid": "0x0F66", "pid": "0x467A",
   "inventory": {"firmwareRevision": "0300", "machine": "7429", "model": "C16", "serialNumber": "SR24680",
                 "powerOnSeconds": 5400000, "backlightOnSeconds": 5396400, "brightness": 100,
                 "status0": 1, "status1": "0x03"}}
]}
JSON
echo "== two monitors"
collect "$two"
[ "$status" = 0 ] || fail "two monitors: status $status"
scrape || fail "scrape after two monitors"
expect node_textfile_scrape_error "" 0
grep -q "^node_textfile_mtime_seconds{file=\"$textfile/pnlmon.prom\"}" "$m/scrape.txt" ||
  grep -q '^node_textfile_mtime_seconds{file="pnlmon.prom"}' "$m/scrape.txt" || fail "node_exporter did not read pnlmon.prom"
for series in pnlmon_read_success pnlmon_read_duration_seconds pnlmon_flash_utility_running \
              pnlmon_monitors_attached pnlmon_monitors_busy pnlmon_monitors_unreadable pnlmon_monitor_info \
              pnlmon_monitor_power_on_seconds_total pnlmon_monitor_backlight_on_seconds_total \
              pnlmon_monitor_backlight_fault pnlmon_monitor_brightness_ratio pnlmon_monitor_mode_width_pixels \
              pnlmon_monitor_mode_height_pixels pnlmon_monitor_mode_refresh_hertz pnlmon_monitor_mode_preferred; do
  grep -q "^# TYPE $series " "$m/scrape.txt" || fail "/metrics lacks $series"
done
expect pnlmon_read_success "" 1
expect pnlmon_flash_utility_running "" 0
expect pnlmon_monitors_attached "" 2
expect pnlmon_monitors_busy "" 0
t='device_id="7427-A10-TL12345"'
s='device_id="7429-C16-SR24680"'
expect pnlmon_monitor_info "$t" 1
grep '^pnlmon_monitor_info{' "$m/scrape.txt" | grep "$t" | grep 'firmware="0105"' | grep 'serial="TL12345"' |
  grep 'video_source="VGA"' | grep 'usb_id="04b3:4676"' | grep -q 'bus="1"' || fail "/metrics: the Tilo's info labels"
expect pnlmon_monitor_power_on_seconds_total "$t" 18756000
expect pnlmon_monitor_backlight_on_seconds_total "$t" 14760000
expect pnlmon_monitor_power_on_seconds_total "$s" 5400000
expect pnlmon_monitor_backlight_fault "$t" 0
expect pnlmon_monitor_backlight_fault "$s" 1
expect pnlmon_monitor_brightness_ratio "$t" 0.8
expect pnlmon_monitor_brightness_ratio "$s" 1
grep '^pnlmon_monitor_info{' "$m/scrape.txt" | grep "$s" | grep -q 'video_source="DisplayPort"' ||
  fail "/metrics: the Sarn's video source"
for n in pnlmon_monitor_mode_width_pixels pnlmon_monitor_mode_height_pixels pnlmon_monitor_mode_refresh_hertz \
         pnlmon_monitor_mode_preferred; do
  [ -n "$(value "$n" "$t")" ] && [ -n "$(value "$n" "$s")" ] || fail "/metrics: $n is missing for a monitor"
done
grep '^pnlmon_read_duration_seconds ' "$m/scrape.txt" >"$m/duration.txt" || fail "/metrics: no read duration"

# ------------------------------------------------- unprintable identity bytes
odd=$m/odd.json
cat >"$odd" <<'JSON'
{"monitors": [
  {"name": "odd", "vid": "0x04B3", "pid": "0x4676",
   "inventory": "22 5c 0a ff 37 34 32 37 41 31 30 53 52 22 5c 0a ff 01 100e0000100e00005001 0c"},
  {"name": "blank", "vid": "0x04B3", "pid": "0x4676",
   "inventory": "ffffffffffffffffffffffffffffffffffff100e0000100e00005000 0c"},
  {"name": "blank2", "vid": "0x04B3", "pid": "0x4676",
   "inventory": "ffffffffffffffffffffffffffffffffffff100e0000100e00005000 0c"}
]}
JSON
echo "== unprintable identity bytes"
collect "$odd"
[ "$status" = 0 ] || fail "unprintable bytes: status $status"
scrape || fail "scrape after unprintable bytes"
expect node_textfile_scrape_error "" 0
expect pnlmon_monitors_attached "" 3
# Quote, backslash, line feed and 0xFF, as the terminal views show them.
expect pnlmon_monitor_backlight_fault 'device_id="7427-A10-SR\"\\\\\\x0a\\xff\\x01"' 1
# The two blank identities get keys of their own, from their USB places.
ids=$(grep '^pnlmon_monitor_info{' "$m/scrape.txt" | grep -o 'device_id="[^"]*"' | sort -u)
[ "$(grep -c . <<<"$ids")" = 3 ] || fail "/metrics: not three device ids: $ids"
[ "$(grep -c '@1-[0-9.]*"$' <<<"$ids")" = 2 ] || fail "/metrics: the blank monitors' keys lack their places: $ids"
[ "$(grep -c '^pnlmon_monitor_info{' "$m/scrape.txt")" = 3 ] || fail "/metrics: not three info series"

# ------------------------------------------------------ flash utility running
echo "== a flash utility running"
collect "$two" '(exec -a kap_config sleep 60) & sleep 0.2;'
[ "$status" = 11 ] || fail "flash utility: status $status, not 11"
scrape || fail "scrape with a flash utility"
expect node_textfile_scrape_error "" 0
expect pnlmon_read_success "" 0
expect pnlmon_flash_utility_running "" 1
grep -q '^pnlmon_monitor_' "$m/scrape.txt" && fail "/metrics: monitor values while a flash utility runs"
grep -q '^pnlmon_monitors_attached' "$m/scrape.txt" && fail "/metrics: a monitor count while a flash utility runs"

# ------------------------------------------------ another program holds one
echo "== another program holds a monitor"
# The Sarn is held by another program (pnlmon-sim-hold, named "fwhold": no
# flash utility) from the start; the collector runs a second later.
held=$m/held.json
sed 's/^]}$/], "timeline": [{"at": 0, "hold": "sarn", "seconds": 60, "as": "fwhold"}]}/' "$two" >"$held"
grep -q '"hold": "sarn"' "$held" || fail "held scenario not made"
collect "$held" : 1
[ "$status" = 0 ] || fail "held monitor: status $status"
scrape || fail "scrape with a held monitor"
expect pnlmon_read_success "" 1
expect pnlmon_monitors_busy "" 1
expect pnlmon_monitors_unreadable "" 0
expect pnlmon_monitor_info "$t" 1

# --------------------------------------------------------------- the purge
kill "$exporter_pid"; wait "$exporter_pid" 2>/dev/null || true; exporter_pid=""
cp "$textfile/pnlmon.prom" "$m/last.prom"
apt-get purge -y -q pnlmon >"$m/purge-pnlmon.log" 2>&1 || fail "apt-get purge pnlmon"
[ ! -e "$textfile/pnlmon.prom" ] || fail "pnlmon.prom is left after purging pnlmon"
[ ! -e /etc/systemd/system/timers.target.wants/pnlmon-metrics.timer ] || fail "the timer link is left after the purge"
cleanup
trap - EXIT
if pgrep -f "^prometheus-node-exporter --web.listen-address=127.0.0.1:$port " >/dev/null; then
  fail "node_exporter is still running: $(pgrep -a -f "^prometheus-node-exporter --web.listen-address=127.0.0.1:$port ")"
fi
[ $had_user = 1 ] || ! getent passwd prometheus >/dev/null || fail "the user prometheus is left"
echo "prometheus check: $failures failures ($(cat "$m/duration.txt" 2>/dev/null))"
[ $failures = 0 ]
