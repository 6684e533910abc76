#!/usr/bin/env bash
# Checks what an installation from the build tree gets: installs each
# component (cmake --install --component, prefix /usr) into a folder of the
# build tree and checks the files, the tools, the paths and a consumer. The
# .deb files themselves are made and checked only from debian/
# (scripts/package-check.sh), the RPMs from packaging/rpm. One step per
# invocation (the CTest fixture runs "build" first and "cleanup" last):
#   build | contents | tools | paths | consumer | sim | cleanup
# Settings come from the environment (see CMakeLists.txt). Exit status 77
# means "skipped".
set -euo pipefail

step=${1:?step}
work=${PNLMON_PKG_WORK:?}
root=$work/root
libdir=$root/usr/$PNLMON_LIBDIR
bindir=$root/usr/$PNLMON_BINDIR
SKIP=77

export TMPDIR=$work/tmp

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit $SKIP; }
has_target() { [[ " $PNLMON_TARGETS " == *" $1 "* ]]; }
need_unpacked() {
  [ ! -f "$work/skipped" ] || skip "$(cat "$work/skipped")"
  [ -f "$work/unpacked" ] || fail "nothing was installed (did packaging_install_build fail?)"; }

# Runs a command in private mount and PID namespaces: /var/log (and an
# installed /etc/pnlmon) behind empty tmpfs, so that whatever the libraries
# log goes nowhere and the machine's configuration is never read; and its
# own /proc, so that a flash utility running elsewhere does not hide the
# monitors.
private_run() {
  if [ "$(id -u)" -eq 0 ] && unshare --mount --pid --fork --mount-proc --propagation private true 2>/dev/null; then
    unshare --mount --pid --fork --mount-proc --propagation private -- sh -c '
      mount -t tmpfs pnlmon-test /var/log &&
      { [ ! -d /etc/pnlmon ] || mount -t tmpfs pnlmon-test /etc/pnlmon; } &&
      exec "$@"' sh "$@"
  else
    "$@"
  fi
}

# ldd of $1 (with LD_LIBRARY_PATH into the unpacked root) must resolve $2 from $libdir.
check_resolves() {
  local file=$1 lib=$2 line
  line=$(LD_LIBRARY_PATH=$libdir ldd "$file" | grep -F "$lib " || true)
  [ -n "$line" ] || { echo "note: $(basename "$file") does not link $lib"; return 0; }
  [[ "$line" == *"=> $libdir/$lib "* ]] || fail "$(basename "$file"): $lib resolves elsewhere: $line"
}

case "$step" in
build)
  rm -rf "$work"
  mkdir -p "$root" "$TMPDIR"
  if ! has_target vexdisplay; then
    echo "the library vexdisplay is not part of this build" >"$work/skipped"
    skip "$(cat "$work/skipped")"
  fi
  for f in $PNLMON_BUILT_FILES; do
    [ -e "$f" ] || fail "$f is not built: build the whole project before running the packaging tests"
  done
  for component in runtime dev devtools; do
    [ $component != devtools ] || has_target pnlmon-sim || continue
    DESTDIR=$root cmake --install "$PNLMON_BUILD_DIR" --prefix /usr --component $component \
      >>"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "cmake --install --component $component failed"; }
    # The runtime component alone too: what it must carry by itself.
    [ $component != runtime ] || DESTDIR=$work/runtime cmake --install "$PNLMON_BUILD_DIR" --prefix /usr \
      --component runtime >>"$work/install.log" 2>&1 || fail "cmake --install --component runtime failed"
  done
  touch "$work/unpacked"
  ;;

contents)
  need_unpacked
  missing=0
  expect() { # expect -f|-d|-L PATH
    if ! test "$1" "$root/$2"; then echo "missing ($1): /$2" >&2; missing=1; fi
  }
  L=usr/$PNLMON_LIBDIR

  # Libraries: real file, SONAME link (runtime) and development link.
  # The provider sits in LIBDIR/cmpi, where the CIM object managers look.
  for lib in vexdisplay vexdisplayprov; do
    has_target $lib || continue
    D=$L
    [ $lib = vexdisplay ] || D=$L/cmpi
    expect -f "$D/lib$lib.so.$PNLMON_VERSION"
    expect -L "$D/lib$lib.so.3"
    expect -L "$D/lib$lib.so"
    if [ -f "$root/$D/lib$lib.so.$PNLMON_VERSION" ]; then
      soname=$(readelf -d "$root/$D/lib$lib.so.$PNLMON_VERSION" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
      [ "$soname" = "lib$lib.so.3" ] || { echo "lib$lib: SONAME is '$soname'" >&2; missing=1; }
      [ "$(readlink "$root/$D/lib$lib.so.3")" = "lib$lib.so.$PNLMON_VERSION" ] ||
        { echo "lib$lib.so.3 points to $(readlink "$root/$D/lib$lib.so.3")" >&2; missing=1; }
    fi
  done
  # The CIM object manager opens the provider by its unversioned name: that
  # link must come with the runtime component, not only with the dev one.
  if has_target vexdisplayprov; then
    [ -L "$work/runtime/$L/cmpi/libvexdisplayprov.so" ] ||
      { echo "libvexdisplayprov.so is not in the runtime component" >&2; missing=1; }
  fi

  expect -f "usr/$PNLMON_INCLUDEDIR/vexdisplay/display.h"
  expect -f "usr/$PNLMON_INCLUDEDIR/vexdisplay/log.h"
  expect -f "$L/pkgconfig/vexdisplay.pc"
  expect -f "$L/cmake/vexdisplay/vexdisplayConfig.cmake"
  expect -f "$L/cmake/vexdisplay/vexdisplayConfigVersion.cmake"
  expect -f "$L/cmake/vexdisplay/vexdisplayTargets.cmake"

  for tool in pnlmon-decode pnlmon-inventory pnlmon-sim pnlmon-cimhost; do
    has_target $tool || continue
    expect -f "usr/$PNLMON_BINDIR/$tool"
    [ -x "$root/usr/$PNLMON_BINDIR/$tool" ] || { echo "$tool is not executable" >&2; missing=1; }
    expect -f "usr/$PNLMON_MANDIR/man1/$tool.1"
    expect -f "usr/$PNLMON_DATADIR/bash-completion/completions/$tool"
  done
  if has_target pnlmon-sim; then
    expect -f "usr/$PNLMON_MANDIR/man5/pnlmon-sim-scenario.5"
  fi
  if has_target pnlmon-sim && has_target pnlmon_nlfix; then
    expect -f "usr/$PNLMON_LIBDIR/pnlmon/libpnlmon_nlfix.so"
    [ ! -e "$root/usr/$PNLMON_BINDIR/libpnlmon_nlfix.so" ] || { echo "libpnlmon_nlfix.so is in the program folder" >&2; missing=1; }
    expect -f "usr/$PNLMON_LIBDIR/pnlmon/pnlmon-sim-hold"
    [ ! -e "$root/usr/$PNLMON_BINDIR/pnlmon-sim-hold" ] || { echo "pnlmon-sim-hold is in the program folder" >&2; missing=1; }
  fi
  expect -f "usr/$PNLMON_MANDIR/man5/pnlmon.conf.5"
  expect -f "usr/$PNLMON_MANDIR/man5/pnlmon-log.conf.5"

  expect -f etc/pnlmon/log.conf
  expect -f etc/pnlmon/pnlmon.conf
  expect -f "usr/$PNLMON_DATADIR/doc/pnlmon/examples/log.conf"
  expect -f "usr/$PNLMON_DATADIR/doc/pnlmon/examples/pnlmon.conf"
  expect -f "usr/$PNLMON_DATADIR/doc/pnlmon/ADMIN.md"
  expect -f "usr/$PNLMON_DATADIR/doc/pnlmon/TECHNICIAN.md"
  expect -f "${PNLMON_UDEV_RULES_DIR#/}/60-pnlmon.rules"
  expect -d var/log/pnlmon
  for f in $PNLMON_DATA_FILES; do
    expect -f "usr/$PNLMON_DATADIR/pnlmon/$f"
  done
  [ $missing -eq 0 ] || fail "the packages lack files (list above)"

  # The shipped configuration files change nothing but the announcements
  # and the log level: every line is either empty or starts with "#" (a key
  # that matches nothing), except pnlmon.conf's "AnnounceChanges=immediate"
  # and log.conf's "Level=2", and the last line ends in a newline (the
  # reader drops a line's last character).
  for conf in log.conf pnlmon.conf; do
    f=$root/etc/pnlmon/$conf
    if grep -n -v -e '^#' -e '^$' -e '^AnnounceChanges=immediate$' -e '^Level=2$' "$f"; then fail "$conf has an active line"; fi
    [ "$(tail -c1 "$f" | od -An -c | tr -d ' ')" = '\n' ] || fail "$conf does not end in a newline"
    grep -q "^#$(case $conf in log.conf) echo Level=4;; *) echo FlashUtilityNames=kap_download,kap_config,7715MonUtil,vexfwupdate,qtz-app;; esac)\$" "$f" ||
      fail "$conf does not show the default value"
  done
  grep -qx 'AnnounceChanges=immediate' "$root/etc/pnlmon/pnlmon.conf" || fail "pnlmon.conf does not announce immediately"
  grep -qx 'Level=2' "$root/etc/pnlmon/log.conf" || fail "log.conf does not set the terminal's level"

  # The udev rule: one line per supported monitor, identifiers as sysfs shows
  # them (lower-case hex), group and mode on every line.
  rule=$root/${PNLMON_UDEV_RULES_DIR#/}/60-pnlmon.rules
  for pair in 04b3:4676 04b3:4677 04b3:4678 04b3:4679 0f66:467a; do
    n=$(grep -c "^SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"${pair%:*}\", ATTR{idProduct}==\"${pair#*:}\", MODE=\"0660\", GROUP=\"pnlmon\"\$" "$rule" || true)
    [ "$n" = 1 ] || fail "udev rule: $pair appears $n times"
  done
  [ "$(grep -c '^[^#]' "$rule")" = 5 ] || fail "udev rule: unexpected active lines"

  echo "contents ok"
  ;;

tools)
  need_unpacked
  has_target pnlmon-inventory || skip "pnlmon-inventory is not part of this build"
  inv=$bindir/pnlmon-inventory
  out=$(LD_LIBRARY_PATH=$libdir private_run "$inv" --help 2>&1) || fail "pnlmon-inventory --help failed: $out"
  [[ "$out" == *--json* && "$out" == *--watch* ]] || fail "pnlmon-inventory --help does not list its options: $out"
  check_resolves "$inv" libvexdisplay.so.3
  if has_target pnlmon-decode; then
    dec=$bindir/pnlmon-decode
    check_resolves "$dec" libvexdisplay.so.3
    rc=0
    LD_LIBRARY_PATH=$libdir private_run "$dec" >/dev/null 2>&1 || rc=$?
    [ $rc -eq 64 ] || fail "pnlmon-decode without arguments exited $rc, not 64 (usage)"
  fi
  if has_target vexdisplayprov; then
    check_resolves "$libdir/cmpi/libvexdisplayprov.so.3" libvexdisplay.so.3
  fi
  echo "tools ok"
  ;;

paths)
  # What is installed holds no path of the build tree or of the configured
  # prefix when the packages use another (debugging sections aside), and the
  # installed tools find the installed files: the shim in the private library
  # folder, the provider in the library folder.
  need_unpacked
  shopt -s nullglob
  trees=("$PNLMON_BUILD_DIR/")
  [ "$PNLMON_INSTALL_PREFIX" = /usr ] || trees+=("$PNLMON_INSTALL_PREFIX/")
  for f in "$bindir"/* "$libdir"/*.so.* "$libdir"/cmpi/*.so.* "$libdir"/pnlmon/*; do
    [ -f "$f" ] && [ ! -L "$f" ] || continue
    plain=$work/plain
    objcopy --strip-debug "$f" "$plain" 2>/dev/null || cp "$f" "$plain"
    for tree in "${trees[@]}"; do
      if strings -a "$plain" | grep -F -- "$tree"; then fail "$(basename "$f") holds a path under $tree"; fi
    done
  done
  rm -f "$work/plain"
  if has_target pnlmon-sim; then
    [ -f "$libdir/pnlmon/libpnlmon_nlfix.so" ] || fail "the shim is not in $libdir/pnlmon"
    echo '{ "monitors": [ { "name": "till1" } ] }' >"$work/paths.json"
    out=$(LD_LIBRARY_PATH=$libdir PNLMON_NLFIX='' private_run "$bindir/pnlmon-sim" -q "$work/paths.json" -- \
          sh -c 'echo "$LD_PRELOAD"' 2>"$work/sim.err" || true)
    shim=$(tr ':' '\n' <<<"$out" | grep 'libpnlmon_nlfix\.so$' || true)
    [ -n "$shim" ] || { cat "$work/sim.err" >&2; fail "pnlmon-sim preloads no shim: $out"; }
    [ "$(realpath "$shim")" = "$(realpath "$libdir/pnlmon/libpnlmon_nlfix.so")" ] ||
      fail "pnlmon-sim preloads $shim, not the installed shim"
  fi
  if has_target pnlmon-cimhost && has_target vexdisplayprov; then
    LD_LIBRARY_PATH=$libdir LD_DEBUG=files PNLMON_PROVIDER='' private_run "$bindir/pnlmon-cimhost" ein \
      >/dev/null 2>"$work/cimhost.err" || true
    loaded=$(sed -n 's/.*file=\(.*libvexdisplayprov\.so[^ ]*\) *\[0\]; *dynamically loaded.*/\1/p' "$work/cimhost.err" | head -n1)
    [ -n "$loaded" ] || { tail -n 20 "$work/cimhost.err" >&2; fail "pnlmon-cimhost loaded no provider"; }
    case "$(dirname "$(realpath "$loaded")")" in
      "$(realpath "$libdir")" | "$(realpath "$libdir")/cmpi") ;;
      *) fail "pnlmon-cimhost loaded $loaded, not the installed provider" ;;
    esac
  fi
  echo "paths ok"
  ;;

consumer)
  need_unpacked
  lib=$libdir/libvexdisplay.so.3
  # Read whole first: grep -q leaving early would end nm with SIGPIPE, which
  # pipefail takes for "not defined".
  symbols=$(nm -DC --defined-only "$lib")
  grep -q 'DisplayApi::DisplayApi()' <<<"$symbols" ||
    skip "libvexdisplay does not define DisplayApi yet"

  # CMake: find_package(vexdisplay) against the unpacked root.
  cb=$work/consumer-cmake
  rm -rf "$cb"
  cmake -S "$PNLMON_CONSUMER_SRC" -B "$cb" \
    -DCMAKE_PREFIX_PATH="$root/usr" \
    -DCMAKE_CXX_COMPILER="$PNLMON_CXX" \
    -DCMAKE_CXX_FLAGS="$PNLMON_SANITIZE_FLAGS" \
    -DCMAKE_EXE_LINKER_FLAGS="$PNLMON_SANITIZE_FLAGS" >"$work/consumer.log" 2>&1 ||
    { cat "$work/consumer.log"; fail "consumer project does not configure"; }
  cmake --build "$cb" >>"$work/consumer.log" 2>&1 ||
    { cat "$work/consumer.log"; fail "consumer project does not build"; }
  grep -q "vexdisplay_DIR:PATH=$root/" "$cb/CMakeCache.txt" || fail "find_package found a vexdisplay outside the unpacked root"
  check_resolves "$cb/vexdisplay_consumer" libvexdisplay.so.3
  out=$(LD_LIBRARY_PATH=$libdir private_run "$cb/vexdisplay_consumer") || fail "consumer did not run"
  [ -n "$out" ] || fail "consumer printed no version"
  echo "find_package consumer ok: $out"

  # pkg-config: the same program built from the .pc file.
  flags=$(PKG_CONFIG_PATH=$libdir/pkgconfig PKG_CONFIG_SYSROOT_DIR=$root pkg-config --cflags --libs vexdisplay) ||
    fail "pkg-config does not read vexdisplay.pc"
  [[ "$flags" == *"-I$root/usr/$PNLMON_INCLUDEDIR/vexdisplay"* ]] || fail "vexdisplay.pc: unexpected flags $flags"
  # shellcheck disable=SC2086
  "$PNLMON_CXX" -std=c++17 $PNLMON_SANITIZE_FLAGS "$PNLMON_CONSUMER_SRC/main.cpp" -o "$work/consumer-pc" $flags ||
    fail "building with pkg-config flags failed"
  out=$(LD_LIBRARY_PATH=$libdir private_run "$work/consumer-pc") || fail "pkg-config consumer did not run"
  echo "pkg-config consumer ok: $out"
  ;;

sim)
  # The installed pnlmon-sim (with its shim from the package) runs the
  # installed pnlmon-inventory against one emulated monitor.
  need_unpacked
  has_target pnlmon-sim && has_target pnlmon-inventory || skip "pnlmon-sim or pnlmon-inventory is not part of this build"
  scenario=$work/one-monitor.json
  cat >"$scenario" <<'JSON'
{
  "monitors": [
    { "name": "till1", "vid": "0x04B3", "pid": "0x4676",
      "inventory": { "machine": "7427", "model": "A10", "serialNumber": "7654321" } }
  ]
}
JSON
  rc=0
  out=$(LD_LIBRARY_PATH=$libdir PNLMON_NLFIX='' private_run "$bindir/pnlmon-sim" -q "$scenario" -- \
        "$bindir/pnlmon-inventory" --json 2>"$work/sim.err") || rc=$?
  [ $rc -eq 0 ] || { cat "$work/sim.err" >&2; fail "pnlmon-sim with pnlmon-inventory exited $rc"; }
  [[ "$out" == *'"deviceId": "7427-A10-7654321"'* ]] || { cat "$work/sim.err" >&2; fail "the emulated monitor is not listed: $out"; }
  # A hold runs the package's pnlmon-sim-hold, a process of its own.
  held=$work/held.json
  cat >"$held" <<'JSON'
{
  "monitors": [ { "name": "till1" } ],
  "timeline": [ { "at": 0, "hold": "till1", "seconds": 30, "as": "kap_download" } ]
}
JSON
  rc=0
  out=$(LD_LIBRARY_PATH=$libdir PNLMON_NLFIX='' PNLMON_SIM_HOLD='' private_run "$bindir/pnlmon-sim" -q "$held" -- \
        sh -c 'sleep 0.5; cat /proc/[0-9]*/comm' 2>"$work/sim.err") || rc=$?
  [ $rc -eq 0 ] || { cat "$work/sim.err" >&2; fail "pnlmon-sim with a hold exited $rc"; }
  grep -qx kap_download <<<"$out" || { cat "$work/sim.err" >&2; fail "no holder process: $out"; }
  echo "sim ok"
  ;;

cleanup)
  rm -rf "$work"
  ;;

*)
  fail "unknown step $step"
  ;;
esac
