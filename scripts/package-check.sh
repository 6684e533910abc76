#!/usr/bin/env bash
# Builds and checks the packages the way an archive and an administrator
# would, then leaves the machine as it found it:
#   1. the Debian packages (dpkg-buildpackage), lintian on every package and
#      the .changes file: no error, no warning;
#   2. their contents: file lists, conffiles, the udev rule and the trigger
#      in postinst, dependencies that exist in the distribution, stripped and
#      hardened binaries without build-machine paths;
#   3. the RPM packages (packaging/rpm/build.sh) and rpmlint: no error;
#   4. (as root, unless --no-install) installs the Debian packages, runs the
#      installed tools against the installed libraries (also under the
#      installed emulator and CIM host), builds a consumer with find_package
#      and pkg-config and as a package of its own (its dependency on
#      libvexdisplay3 must come from dpkg-shlibdeps), re-runs postinst,
#      then purges everything and checks that nothing of ours is left; all
#      of it in a private mount namespace over overlays of /etc, /usr and
#      /var (scripts/package-install-check.sh), so the machine's own files
#      never change and our packages may be installed on it or not.
#
# The steps run in the order of the list `steps` below; each is a function
# step_<name> that reports problems with fail (and exits only when later
# steps cannot run). To add a check, define step_<name> and add <name> to
# the list; checks of the installed packages go into the list of
# scripts/package-install-check.sh instead.
# Usage: scripts/package-check.sh [--no-install] [--keep WORKDIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
install=1
work=""
while [ $# -gt 0 ]; do
  case "$1" in
    --no-install) install=0 ;;
    --keep) work=${2:?}; shift ;;
    *) echo "usage: $0 [--no-install] [--keep WORKDIR]" >&2; exit 64 ;;
  esac
  shift
done
if [ -z "$work" ]; then
  work=$(mktemp -d "${TMPDIR:-/tmp}/pnlmon-pkgcheck.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"
start=$SECONDS
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
step() { echo "== $* ($((SECONDS - start)) s)"; }
version=$(dpkg-parsechangelog -l "$here/debian/changelog" -S Version)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
ours=(libvexdisplay3 libvexdisplay-dev pnlmon-cim-provider pnlmon pnlmon-devtools)

deb() { ls "$work"/deb/"$1"_*.deb; }
listing() { dpkg-deb -c "$(deb "$1")" | awk '{print $6}' | sed 's,^\.,,'; }
expect_files() { # PACKAGE PATH...: each path is in the package
  local p=$1 list; shift
  list=$(listing "$p")
  for f in "$@"; do grep -qx -- "$f" <<<"$list" || fail "$p lacks $f"; done
}

# The udev triggers of a maintainer script (FILE) name only the supported
# monitors, 04b3:4676..4679 and 0f66:467a; the same in both formats.
expect_monitor_triggers() { # LABEL FILE
  local triggers
  triggers=$(grep -A2 'udevadm trigger' "$2" | tr -d '\\\n' | sed 's/udevadm trigger/\n&/g' | grep trigger || true)
  [ "$(wc -l <<<"$triggers")" = 2 ] || fail "$1: expected two udevadm trigger calls: $triggers"
  grep -q "idVendor=04b3 --attr-match='idProduct=467\[6-9\]'" <<<"$triggers" || fail "$1: no trigger of 04b3:4676..4679"
  grep -q "idVendor=0f66 --attr-match=idProduct=467a" <<<"$triggers" || fail "$1: no trigger of 0f66:467a"
}

step_debian_build() {
  # PNLMON_PKG_REUSE=1 with --keep reuses the packages of an earlier run.
  if [ "${PNLMON_PKG_REUSE:-0}" = 1 ] && ls "$work"/deb/*.changes >/dev/null 2>&1; then
    echo "reusing $work/deb"
  else
    rm -rf "$work/deb"
    "$here/packaging/deb/build.sh" "$work/deb" >"$work/deb-build.log" 2>&1 ||
      { tail -40 "$work/deb-build.log"; echo "FAIL: dpkg-buildpackage" >&2; exit 1; }
  fi
  for p in "${ours[@]}"; do
    deb "$p" >/dev/null 2>&1 || fail "package $p was not built"
    deb "$p-dbgsym" >/dev/null 2>&1 || [ "$p" = libvexdisplay-dev ] || fail "no $p-dbgsym package"
  done
}

step_lintian() {
  # lintian leaves files of its own in its temporary folder: give it one of ours.
  mkdir -p "$work/lintian-tmp"
  TMPDIR="$work/lintian-tmp" lintian --pedantic "$work"/deb/*.changes >"$work/lintian.txt" 2>&1 || true
  lint_e=$(grep -c '^E: ' "$work/lintian.txt" || true)
  lint_w=$(grep -c '^W: ' "$work/lintian.txt" || true)
  echo "lintian: $lint_e errors, $lint_w warnings ($(grep -c '^[IPX]: ' "$work/lintian.txt" || true) notes)"
  grep -E '^[EW]: ' "$work/lintian.txt" || true
  [ "$lint_e" = 0 ] && [ "$lint_w" = 0 ] || fail "lintian found errors or warnings"
}

step_debian_contents() {
  L=/usr/lib/$multiarch
  expect_files libvexdisplay3 "$L/libvexdisplay.so.$version" "$L/libvexdisplay.so.3"
  expect_files libvexdisplay-dev "$L/libvexdisplay.so" /usr/include/vexdisplay/display.h \
    /usr/include/vexdisplay/log.h "$L/pkgconfig/vexdisplay.pc" "$L/cmake/vexdisplay/vexdisplayConfig.cmake" \
    "$L/cmake/vexdisplay/vexdisplayConfigVersion.cmake" "$L/cmake/vexdisplay/vexdisplayTargets.cmake"
  expect_files pnlmon-cim-provider "$L/cmpi/libvexdisplayprov.so.$version" "$L/cmpi/libvexdisplayprov.so.3" \
    "$L/cmpi/libvexdisplayprov.so" /usr/share/pnlmon/QAV_Display.mof /usr/share/pnlmon/qualifiers.mof \
    /usr/share/pnlmon/vexdisplayprov.reg /usr/share/pnlmon/vexdisplayprov-registration.mof
  expect_files pnlmon /usr/bin/pnlmon-inventory /usr/bin/pnlmon-decode /etc/pnlmon/log.conf \
    /etc/pnlmon/pnlmon.conf /lib/udev/rules.d/60-pnlmon.rules /var/log/pnlmon/ /etc/logrotate.d/pnlmon \
    /usr/share/man/man1/pnlmon-inventory.1.gz /usr/share/man/man1/pnlmon-decode.1.gz \
    /usr/share/man/man5/pnlmon.conf.5.gz /usr/share/man/man5/pnlmon-log.conf.5.gz \
    /usr/share/doc/pnlmon/ADMIN.md.gz /usr/share/doc/pnlmon/copyright
  expect_files pnlmon-devtools /usr/bin/pnlmon-sim /usr/bin/pnlmon-cimhost "$L/pnlmon/libpnlmon_nlfix.so" "$L/pnlmon/pnlmon-sim-hold" \
    /usr/share/man/man1/pnlmon-sim.1.gz /usr/share/man/man1/pnlmon-cimhost.1.gz /usr/share/man/man5/pnlmon-sim-scenario.5.gz
  # Only the tools are in /usr/bin (no library there), and no file is in two packages.
  all=$(for p in "${ours[@]}"; do listing "$p" | grep -v '/$'; done)
  grep '^/usr/bin/' <<<"$all" | grep -v '^/usr/bin/pnlmon-[a-z]*$' && fail "unexpected files in /usr/bin"
  dups=$(sort <<<"$all" | uniq -d | grep -v '^/usr/share/doc/' || true)
  [ -z "$dups" ] || fail "files in more than one package: $dups"

  summaries=""
  for p in "${ours[@]}"; do
    desc=$(dpkg-deb -f "$(deb "$p")" Description)
    [ "$(wc -l <<<"$desc")" -ge 3 ] || fail "$p has no long description"
    summaries+="$(head -1 <<<"$desc")"$'\n'
  done
  [ "$(sort <<<"$summaries" | uniq -d | wc -l)" = 0 ] || fail "two packages share a summary"

  # Every package named in a relation exists in the distribution or is ours.
  for p in "${ours[@]}"; do
    for field in Depends Pre-Depends Recommends Suggests; do
      { dpkg-deb -f "$(deb "$p")" "$field" || true; } | tr ',|' '\n\n' | sed 's/(.*//; s/[[:space:]]//g' | { grep . || true; } |
        while read -r name; do
          [[ " ${ours[*]} " == *" $name "* ]] && continue
          [ -n "$(apt-cache policy "$name" 2>/dev/null | sed -n 's/ *Candidate: //p' | grep -v none)" ] ||
            echo "FAIL: $p $field names $name, which the distribution does not have" >&2
        done
    done
  done 2>&1 | tee "$work/relations.txt"
  [ -s "$work/relations.txt" ] && fail "relations name unknown packages"
  for p in pnlmon pnlmon-cim-provider; do
    dpkg-deb -f "$(deb "$p")" Depends | grep "libvexdisplay3 (>= $version)" >/dev/null ||
      fail "$p does not depend on libvexdisplay3 (>= $version): $(dpkg-deb -f "$(deb "$p")" Depends)"
  done

  ctl=$work/ctl
  rm -rf "$ctl"; dpkg-deb -e "$(deb pnlmon)" "$ctl"
  for conf in /etc/pnlmon/log.conf /etc/pnlmon/pnlmon.conf /etc/logrotate.d/pnlmon; do
    grep -qx "$conf" "$ctl/conffiles" || fail "$conf is not a conffile"
  done
  [ -f "$work/ctl-lib/symbols" ] || { dpkg-deb -e "$(deb libvexdisplay3)" "$work/ctl-lib"; }
  [ -f "$work/ctl-lib/symbols" ] || fail "libvexdisplay3 has no symbols file"
  expect_monitor_triggers "postinst" "$ctl/postinst"
  grep -q 'addgroup --system' "$ctl/postinst" || fail "postinst does not create the group"

  # Unpacked: configuration, udev rule, binaries.
  root=$work/root
  rm -rf "$root"
  for p in "${ours[@]}"; do dpkg-deb -x "$(deb "$p")" "$root"; done
  for conf in log.conf pnlmon.conf; do
    f=$root/etc/pnlmon/$conf
    # Only the announcement setting and the terminal's log level are active;
    # everything else shows its default.
    grep -n -v -e '^#' -e '^$' -e '^AnnounceChanges=immediate$' -e '^Level=2$' "$f" && fail "$conf has an active line"
    [ "$(tail -c1 "$f" | od -An -c | tr -d ' ')" = '\n' ] || fail "$conf does not end in a newline"
  done
  grep -qx '#Level=4' "$root/etc/pnlmon/log.conf" || fail "log.conf does not show the default level"
  grep -qx 'Level=2' "$root/etc/pnlmon/log.conf" || fail "log.conf does not set the terminal's level"
  grep -qx 'AnnounceChanges=immediate' "$root/etc/pnlmon/pnlmon.conf" || fail "pnlmon.conf does not announce changes immediately"
  grep -qx '#FlashUtilityNames=kap_download,kap_config,7715MonUtil,vexfwupdate,qtz-app' "$root/etc/pnlmon/pnlmon.conf" ||
    fail "pnlmon.conf does not show the default flash utilities"
  rule=$root/lib/udev/rules.d/60-pnlmon.rules
  for pair in 04b3:4676 04b3:4677 04b3:4678 04b3:4679 0f66:467a; do
    n=$(grep -c "^SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"${pair%:*}\", ATTR{idProduct}==\"${pair#*:}\", MODE=\"0660\", GROUP=\"pnlmon\"\$" "$rule" || true)
    [ "$n" = 1 ] || fail "udev rule: $pair appears $n times"
  done
  [ "$(grep -c '^[^#]' "$rule")" = 5 ] || fail "udev rule: unexpected active lines"
  [ "$(stat -c %a "$root/var/log/pnlmon")" = 755 ] || fail "/var/log/pnlmon is not mode 755"

  # Binaries: stripped, hardened, and no path of the build machine in them
  # (the scratch build folder, the source tree, /usr/local).
  while IFS= read -r -d '' f; do
    file -b "$f" | grep '^ELF' >/dev/null || continue
    name=${f#"$root"}
    file -b "$f" | grep ', stripped' >/dev/null || fail "$name is not stripped"
    readelf -d "$f" | grep 'BIND_NOW' >/dev/null || fail "$name is not linked with -z now"
    readelf -lW "$f" | grep 'GNU_RELRO' >/dev/null || fail "$name has no RELRO segment"
    paths=$(strings -a "$f" | grep -E "pnlmon-deb\.|obj-$(dpkg-architecture -qDEB_HOST_GNU_TYPE)|$here|/usr/local|/build/" || true)
    [ -z "$paths" ] || fail "$name holds build paths: $(tr '\n' ' ' <<<"$paths")"
  done < <(find "$root/usr" -type f -print0)
}

step_rpm() {
  if { [ "${PNLMON_PKG_REUSE:-0}" = 1 ] && ls "$work"/rpm/*.rpm >/dev/null 2>&1; } ||
     { rm -rf "$work/rpm"; "$here/packaging/rpm/build.sh" "$work/rpm" >"$work/rpm-build.log" 2>&1; }; then
    rpmlint -c "$here/packaging/rpm/rpmlint.toml" "$work"/rpm/*.rpm >"$work/rpmlint.txt" 2>&1 || true
    summary=$(grep 'packages and' "$work/rpmlint.txt" || echo "rpmlint did not run")
    echo "rpmlint: $summary"
    grep -E ': [EW]: ' "$work/rpmlint.txt" || true
    [[ "$summary" == *" 0 errors"* ]] || fail "rpmlint found errors"
    rpml=$(rpm -qlp "$work"/rpm/pnlmon-cim-provider-*.rpm)
    grep -qx '/usr/lib64/cmpi/libvexdisplayprov.so' <<<"$rpml" || fail "RPM: the provider is not in %{_libdir}/cmpi"
    rpm -qcp "$work"/rpm/pnlmon-"$version"-*.rpm | grep -x >/dev/null /etc/pnlmon/log.conf || fail "RPM: log.conf is not %config"
    rpm -qp --requires "$work"/rpm/pnlmon-"$version"-*.rpm | grep 'libvexdisplay.so.3()(64bit)' >/dev/null ||
      fail "RPM: pnlmon does not require libvexdisplay.so.3"
    rpm -qp --scripts "$work"/rpm/pnlmon-"$version"-*.rpm >"$work/rpm-scripts.txt"
    expect_monitor_triggers "RPM %post" "$work/rpm-scripts.txt"
  else
    tail -40 "$work/rpm-build.log"; fail "rpmbuild failed"
  fi
}

step_installed() {
  if [ $install = 1 ]; then
    "$here/scripts/package-install-check.sh" "$work" "$version" || failures=$((failures + 1))
  else
    echo "(--no-install)"
  fi
}

steps=(debian_build lintian debian_contents rpm installed)
for s in "${steps[@]}"; do
  step "$s"
  "step_$s"
done

step "done"
echo "package-check: $failures failures, $((SECONDS - start)) s"
[ $failures = 0 ]
