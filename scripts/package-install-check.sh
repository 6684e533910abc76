#!/usr/bin/env bash
# package-install-check.sh WORKDIR VERSION: the installed half of
# scripts/package-check.sh (which builds WORKDIR/deb first). As root:
# installs the Debian packages, checks what an administrator gets, builds and
# packages a consumer of libvexdisplay, then purges everything and checks
# that nothing of ours is left.
#
# All of it runs where the machine's own files cannot change: in a private
# mount namespace whose /etc, /usr and /var are overlays with their upper
# layers on a tmpfs (WORKDIR/isolation), so dpkg, apt, addgroup and ldconfig
# write only into the overlays, which vanish with the namespace. udev's
# control socket is hidden there too (the maintainer scripts then leave udev
# alone). So the check runs, and passes, whether or not our packages, their
# folders or the group are on the machine: inside, whatever of ours the
# machine has is purged first (from the overlays only).
#
# The steps run in the order of the list `steps` below; each is a function
# step_<name>. To add one, define step_<name> (report problems with fail;
# exit 1 only when later steps cannot run) and add <name> to the list where
# it belongs: after "install" the packages are installed, "purge" takes them
# away and checks that nothing is left.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: package-install-check.sh WORKDIR VERSION"
work=${1:?$usage}
version=${2:?$usage}
work=$(realpath "$work")
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
L=/usr/lib/$multiarch
ours=(libvexdisplay3 libvexdisplay-dev pnlmon-cim-provider pnlmon pnlmon-devtools)
steps=(clean_stage install maintainer_scripts tools emulated consumer consumer_package purge fleet_metrics)
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
export DEBIAN_FRONTEND=noninteractive
isolated_dirs=(/etc /usr /var)

[ "$(id -u)" = 0 ] || { echo "package-install-check: needs root (skipped)"; exit 0; }

# ------------------------------------------------------------- isolation
# Outside: enter a private mount namespace and run this script again there.
if [ "${PNLMON_PKG_ISOLATED:-}" != 1 ]; then
  for d in "${isolated_dirs[@]}"; do
    case "$work/" in "$d"/*)
      echo "FAIL: the work folder $work lies in $d, which the check covers with an overlay" >&2; exit 1 ;;
    esac
  done
  mkdir -p "$work/isolation"
  rc=0
  PNLMON_PKG_ISOLATED=1 unshare --mount --propagation private -- "$0" "$@" || rc=$?
  rm -rf "$work/isolation"
  exit $rc
fi

# Inside: the overlays. Nothing below may run without them.
mount -t tmpfs pnlmon-pkg-check "$work/isolation" ||
  { echo "FAIL: cannot mount a tmpfs for the overlays" >&2; exit 1; }
for d in "${isolated_dirs[@]}"; do
  name=${d#/}
  mkdir -p "$work/isolation/$name-upper" "$work/isolation/$name-work"
  mount -t overlay pnlmon-pkg-check \
    -o "lowerdir=$d,upperdir=$work/isolation/$name-upper,workdir=$work/isolation/$name-work" "$d" ||
    { echo "FAIL: cannot put an overlay on $d: the check would change the machine's files" >&2; exit 1; }
done
if [ -d /run/udev ]; then
  mount -t tmpfs pnlmon-pkg-check /run/udev
fi

installed() { dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null | grep -v >/dev/null '^not-installed$'; }
purge_all() {
  local present=() p
  for p in vexdisplay-consumer "${ours[@]}"; do
    if installed "$p"; then present+=("$p"); fi
  done
  [ ${#present[@]} = 0 ] || apt-get purge -y -q "${present[@]}" >"$work/purge.log" 2>&1 || cat "$work/purge.log" >&2
}

# ------------------------------------------------------------------ steps
step_clean_stage() {
  # What the machine has of ours is taken away, in the overlays only, so
  # that the installation starts as on a fresh terminal.
  local p present=()
  for p in vexdisplay-consumer "${ours[@]}"; do
    if installed "$p"; then present+=("$p"); fi
  done
  if [ ${#present[@]} -gt 0 ]; then
    echo "(the machine has ${present[*]}: purged in the overlay)"
    dpkg --purge --force-depends "${present[@]}" >"$work/clean.log" 2>&1 || { cat "$work/clean.log" >&2; exit 1; }
  fi
  rm -rf /etc/pnlmon /var/log/pnlmon
  if getent group pnlmon >/dev/null; then
    groupdel pnlmon
  fi
}

step_install() {
  local debs=() p
  for p in "${ours[@]}"; do debs+=("$(ls "$work"/deb/"$p"_*.deb)"); done
  apt-get install -y -q --no-install-recommends "${debs[@]}" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; echo "FAIL: apt-get install" >&2; exit 1; }
}

step_maintainer_scripts() {
  getent group pnlmon >/dev/null || fail "the group pnlmon was not created"
  [ "$(stat -c %a:%U:%G /var/log/pnlmon)" = 755:root:root ] || fail "/var/log/pnlmon: $(stat -c %a:%U:%G /var/log/pnlmon)"
  dpkg-query -W -f='${Conffiles}\n' pnlmon | grep ' /etc/pnlmon/log.conf ' >/dev/null || fail "log.conf is not a registered conffile"
  /var/lib/dpkg/info/pnlmon.postinst configure "$version" || fail "postinst configure (again) failed"
  getent group pnlmon | grep '^pnlmon:' >/dev/null || fail "the group pnlmon went missing"
}

step_tools() {
  # The installed tools, against the installed libraries.
  local out f lib rc
  out=$(pnlmon-inventory --version 2>&1) || fail "pnlmon-inventory --version failed: $out"
  [[ "$out" == *"$version"* ]] || fail "pnlmon-inventory --version did not print $version: $out"
  echo "pnlmon-inventory: $(head -1 <<<"$out")"
  for f in /usr/bin/pnlmon-inventory /usr/bin/pnlmon-decode "$L/cmpi/libvexdisplayprov.so"; do
    lib=$(ldd "$f" | sed -n 's/^[[:space:]]*libvexdisplay\.so\.3 => \([^ ]*\) .*/\1/p')
    if [ -z "$lib" ]; then
      [ "$f" = /usr/bin/pnlmon-decode ] || fail "$f does not link libvexdisplay.so.3"
    elif [ "$(realpath "$lib")" != "$(realpath "$L/libvexdisplay.so.3")" ]; then
      fail "$f loads $lib, not the installed $L/libvexdisplay.so.3"
    fi
  done
  rc=0; pnlmon-decode >/dev/null 2>&1 || rc=$?
  [ $rc = 64 ] || fail "pnlmon-decode without arguments exited $rc, not 64"
}

step_emulated() {
  # The installed emulator runs the installed pnlmon-inventory and the
  # installed stand-in CIM host, which loads the installed provider.
  local scenario=$work/one-monitor.json out loaded
  cat >"$scenario" <<'JSON'
{
  "monitors": [
    { "name": "till1", "vid": "0x04B3", "pid": "0x4676",
      "inventory": { "machine": "7427", "model": "A10", "serialNumber": "7654321" } }
  ]
}
JSON
  out=$(pnlmon-sim -q "$scenario" -- pnlmon-inventory --json 2>"$work/sim.err") ||
    { cat "$work/sim.err" >&2; fail "pnlmon-sim with pnlmon-inventory failed"; }
  [[ "$out" == *'"deviceId": "7427-A10-7654321"'* ]] || fail "pnlmon-inventory under pnlmon-sim: $out"
  out=$(env -u PNLMON_PROVIDER LD_DEBUG=files LD_DEBUG_OUTPUT="$work/ld" \
        pnlmon-sim -q "$scenario" -- pnlmon-cimhost --brief ei 2>"$work/cimhost.err") ||
    { cat "$work/cimhost.err" >&2; fail "pnlmon-sim with pnlmon-cimhost failed"; }
  [[ "$out" == *7427-A10-7654321* ]] || fail "pnlmon-cimhost did not list the monitor: $out"
  loaded=$(cat "$work"/ld.* 2>/dev/null | sed -n 's/.*file=\([^ ]*libvexdisplayprov[^ ]*\).*/\1/p' | sort -u)
  [ -n "$loaded" ] && [ "$(realpath "$loaded")" = "$(realpath "$L/cmpi/libvexdisplayprov.so")" ] || fail "pnlmon-cimhost loaded the provider from: $loaded"
  rm -f "$work"/ld.*
}

step_consumer() {
  # A consumer built against the installed development package, with CMake
  # and with pkg-config.
  local cb=$work/consumer-cmake
  cmake -S "$here/tests/packaging/consumer" -B "$cb" >"$work/consumer.log" 2>&1 &&
    cmake --build "$cb" >>"$work/consumer.log" 2>&1 || { cat "$work/consumer.log"; fail "consumer (find_package) does not build"; }
  grep -q "vexdisplay_DIR:PATH=$L/cmake/vexdisplay" "$cb/CMakeCache.txt" || fail "find_package did not find the installed package"
  [[ "$("$cb/vexdisplay_consumer")" == *"$version"* ]] || fail "consumer (find_package) did not print $version"
  # shellcheck disable=SC2046
  c++ -std=c++17 "$here/tests/packaging/consumer/main.cpp" -o "$work/consumer-pc" $(pkg-config --cflags --libs vexdisplay) ||
    fail "consumer (pkg-config) does not build"
  [[ "$("$work/consumer-pc")" == *"$version"* ]] || fail "consumer (pkg-config) did not print $version"
}

step_consumer_package() {
  # The consumer as a package of its own: dpkg-shlibdeps finds libvexdisplay3
  # through the library's symbols file.
  local cw=$work/consumer-pkg cdeb depends
  rm -rf "$cw"; mkdir -p "$cw"
  cp -r "$here/tests/packaging/consumer" "$cw/src"
  if (cd "$cw/src" && dpkg-buildpackage -b -us -uc) >"$work/consumer-pkg.log" 2>&1; then
    cdeb=$(ls "$cw"/vexdisplay-consumer_*.deb)
    depends=$(dpkg-deb -f "$cdeb" Depends)
    echo "vexdisplay-consumer Depends: $depends"
    [[ "$depends" == *"libvexdisplay3 (>= $version)"* ]] || fail "the consumer package's Depends lack libvexdisplay3: $depends"
    apt-get install -y -q "$cdeb" >>"$work/install.log" 2>&1 || fail "the consumer package does not install"
    [[ "$(vexdisplay_consumer)" == *"$version"* ]] || fail "the installed consumer did not print $version"
  else
    tail -30 "$work/consumer-pkg.log"; fail "the consumer package does not build"
  fi
}

step_purge() {
  # Remove keeps the configuration; purge takes it and the log folder away.
  # The group stays (files and rules of the administrator may name it, as
  # Debian does with system groups).
  local p d left
  apt-get remove -y -q pnlmon >>"$work/install.log" 2>&1 || fail "apt-get remove pnlmon"
  [ -f /etc/pnlmon/log.conf ] || fail "remove took the configuration away"
  purge_all
  for p in vexdisplay-consumer "${ours[@]}"; do
    if installed "$p"; then fail "$p is still known to dpkg"; fi
  done
  for d in /etc/pnlmon /var/log/pnlmon /etc/logrotate.d/pnlmon /usr/share/pnlmon /usr/include/vexdisplay "$L/pnlmon" "$L/cmake/vexdisplay"; do
    [ ! -e "$d" ] || fail "$d is left after the purge"
  done
  left=$(find /usr /etc /lib/udev /var/lib/dpkg/info \( -name '*vexdisplay*' -o -name 'pnlmon*' -o -name 'libpnlmon*' -o -name '60-pnlmon.rules' \) 2>/dev/null | grep -v "^$here" || true)
  [ -z "$left" ] || fail "left after the purge: $left"
  getent group pnlmon >/dev/null || fail "the purge took the group pnlmon away"
}

step_fleet_metrics() {
  # The fleet metrics with prometheus-node-exporter and promtool; installs
  # and purges on its own, in these overlays too.
  "$here/tests/packaging/prometheus_check.sh" "$work" || fail "fleet metrics"
}

for s in "${steps[@]}"; do
  echo "== installed packages: $s"
  "step_$s"
done
echo "installed-package check: $failures failures"
[ $failures = 0 ]
