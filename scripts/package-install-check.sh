#!/usr/bin/env bash
# package-install-check.sh WORKDIR VERSION: the installed half of
# scripts/package-check.sh (which builds WORKDIR/deb first). As root:
# installs the Debian packages, checks what an administrator gets, builds and
# packages a consumer of libvexdisplay, then purges everything and checks
# that nothing of ours is left. The group "pnlmon" survives a purge (files
# and rules of the administrator may name it, as Debian does with system
# groups); when this check created it, this check deletes it again.
#
# While the packages are installed, /etc/pnlmon and /var/log/pnlmon exist on
# the machine: the window is kept short, and the packages are purged on any
# exit.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
work=${1:?usage: package-install-check.sh WORKDIR VERSION}
version=${2:?usage: package-install-check.sh WORKDIR VERSION}
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
L=/usr/lib/$multiarch
ours=(libvexdisplay3 libvexdisplay-dev pnlmon-cim-provider pnlmon pnlmon-devtools)
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
export DEBIAN_FRONTEND=noninteractive

[ "$(id -u)" = 0 ] || { echo "package-install-check: needs root (skipped)"; exit 0; }
for p in "${ours[@]}" vexdisplay-consumer; do
  if dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -v >/dev/null '^not-installed$'; then
    echo "FAIL: $p is already on this machine: not touching it" >&2; exit 1
  fi
done
for d in /etc/pnlmon /var/log/pnlmon; do
  [ ! -e "$d" ] || { echo "FAIL: $d exists before the installation: not touching it" >&2; exit 1; }
done
had_group=0
getent group pnlmon >/dev/null && had_group=1

purge_all() {
  local present=()
  for p in vexdisplay-consumer "${ours[@]}"; do
    dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -v >/dev/null '^not-installed$' && present+=("$p")
  done
  [ ${#present[@]} = 0 ] || apt-get purge -y -q "${present[@]}" >"$work/purge.log" 2>&1 || cat "$work/purge.log" >&2
  if [ $had_group = 0 ] && getent group pnlmon >/dev/null; then
    delgroup --system --quiet pnlmon 2>/dev/null || groupdel pnlmon
  fi
}
trap purge_all EXIT

echo "== installing ${ours[*]}"
debs=()
for p in "${ours[@]}"; do debs+=("$(ls "$work"/deb/"$p"_*.deb)"); done
apt-get install -y -q --no-install-recommends "${debs[@]}" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; echo "FAIL: apt-get install" >&2; exit 1; }

# What the maintainer scripts made.
getent group pnlmon >/dev/null || fail "the group pnlmon was not created"
[ "$(stat -c %a:%U:%G /var/log/pnlmon)" = 755:root:root ] || fail "/var/log/pnlmon: $(stat -c %a:%U:%G /var/log/pnlmon)"
dpkg-query -W -f='${Conffiles}\n' pnlmon | grep ' /etc/pnlmon/log.conf ' >/dev/null || fail "log.conf is not a registered conffile"
/var/lib/dpkg/info/pnlmon.postinst configure "$version" || fail "postinst configure (again) failed"
getent group pnlmon | grep '^pnlmon:' >/dev/null || fail "the group pnlmon went missing"

# The installed tools, against the installed libraries.
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

# The installed emulator runs the installed pnlmon-inventory and the
# installed stand-in CIM host, which loads the installed provider.
scenario=$work/one-monitor.json
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

# A consumer built against the installed development package, with CMake
# and with pkg-config.
cb=$work/consumer-cmake
cmake -S "$here/tests/packaging/consumer" -B "$cb" >"$work/consumer.log" 2>&1 &&
  cmake --build "$cb" >>"$work/consumer.log" 2>&1 || { cat "$work/consumer.log"; fail "consumer (find_package) does not build"; }
grep -q "vexdisplay_DIR:PATH=$L/cmake/vexdisplay" "$cb/CMakeCache.txt" || fail "find_package did not find the installed package"
[[ "$("$cb/vexdisplay_consumer")" == *"$version"* ]] || fail "consumer (find_package) did not print $version"
# shellcheck disable=SC2046
c++ -std=c++17 "$here/tests/packaging/consumer/main.cpp" -o "$work/consumer-pc" $(pkg-config --cflags --libs vexdisplay) ||
  fail "consumer (pkg-config) does not build"
[[ "$("$work/consumer-pc")" == *"$version"* ]] || fail "consumer (pkg-config) did not print $version"

# The consumer as a package of its own: dpkg-shlibdeps finds libvexdisplay3
# through the library's symbols file.
cw=$work/consumer-pkg
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

# Remove keeps the configuration; purge takes it and the log folder away.
apt-get remove -y -q pnlmon >>"$work/install.log" 2>&1 || fail "apt-get remove pnlmon"
[ -f /etc/pnlmon/log.conf ] || fail "remove took the configuration away"
purge_all
trap - EXIT
for p in vexdisplay-consumer "${ours[@]}"; do
  dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -v >/dev/null '^not-installed$' && fail "$p is still known to dpkg"
done
for d in /etc/pnlmon /var/log/pnlmon /etc/logrotate.d/pnlmon /usr/share/pnlmon /usr/include/vexdisplay "$L/pnlmon" "$L/cmake/vexdisplay"; do
  [ ! -e "$d" ] || fail "$d is left after the purge"
done
left=$(find /usr /etc /lib/udev /var/lib/dpkg/info \( -name '*vexdisplay*' -o -name 'pnlmon*' -o -name 'libpnlmon*' -o -name '60-pnlmon.rules' \) 2>/dev/null | grep -v "^$here" || true)
[ -z "$left" ] || fail "left after the purge: $left"
if [ $had_group = 0 ]; then
  getent group pnlmon >/dev/null && fail "the group pnlmon is still there"
fi
echo "installed-package check: $failures failures"
[ $failures = 0 ]
