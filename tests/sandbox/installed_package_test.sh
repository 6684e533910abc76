#!/bin/sh
# Runs the test suite on a machine that looks as if our package were
# installed: in a private mount namespace, /etc and /var/log are replaced by
# tmpfs whose "/etc/pnlmon" and "/var/log/pnlmon" hold a configuration that would break
# the tests if they read it (logging off) and a log with a sentinel line. The
# suite must pass, and those files must be exactly as they were.
#
#   installed_package_test.sh CTEST BUILD_DIR [EXCLUDE_REGEX]
set -eu

ctest=$1
build=$2
exclude=${3:-^sandbox\.installed_package$}

if [ "$(id -u)" != 0 ]; then
    echo "needs root (private mount namespaces)"
    exit 77
fi

if [ "${PNLMON_FAKE_INSTALL:-}" != 1 ]; then
    PNLMON_FAKE_INSTALL=1 exec unshare --mount --propagation private "$0" "$@"
fi

# tmpfs over /etc (with a copy of the machine's /etc, so that programs still
# find what they need there) and over /var/log. No overlay: a machine whose
# root is an overlay itself would then stack the sandbox's too deep.
# The copy is made on a first tmpfs over /var/log, which a second one then
# hides: nothing is created outside this namespace.
mount -t tmpfs pnlmon-fake-etc /var/log
mkdir /var/log/etc
cp -a /etc/. /var/log/etc/
rm -rf /var/log/etc/pnlmon
mount --bind /var/log/etc /etc
mount -t tmpfs pnlmon-fake-log /var/log
mkdir /etc/pnlmon /var/log/pnlmon
printf 'Level=0\nIsConsole=0\n' > /etc/pnlmon/log.conf
printf 'FlashUtilityNames=sh,bash,ctest\n' > /etc/pnlmon/pnlmon.conf
printf 'installed log: tests must not write here\r\n' > /var/log/pnlmon/pnlmon.log
mkdir /var/log/pnlmon/old
printf 'rotated\r\n' > /var/log/pnlmon/old/pnlmon.log.1

snapshot() {
    # Names, sizes, modes and modification times, then the contents.
    find /etc/pnlmon /var/log/pnlmon -printf '%p %y %s %m %T@\n' | sort
    find /etc/pnlmon /var/log/pnlmon -type f -exec sha256sum {} + | sort
}
before=$(snapshot)

# The inner run keeps its records apart from the outer ctest's.
mount -t tmpfs pnlmon-inner-testing "$build/Testing" 2>/dev/null || {
    mkdir -p "$build/Testing" && mount -t tmpfs pnlmon-inner-testing "$build/Testing"
}

status=0
"$ctest" --test-dir "$build" -j2 --output-on-failure -LE 'long|packaging|fuzz' -E "$exclude" || status=$?

after=$(snapshot)
if [ "$before" != "$after" ]; then
    echo "FAIL: the installed files changed"
    echo "before:"; echo "$before"
    echo "after:"; echo "$after"
    exit 1
fi
if [ "$status" != 0 ]; then
    echo "FAIL: the suite failed with the package's folders present"
    exit 1
fi
echo "suite passed; the installed configuration and log are untouched"
