#!/usr/bin/env bash
# Runs every test: the normal build, the AddressSanitizer+UBSan build (with
# the short fuzz runs) and the ThreadSanitizer build of the concurrency
# tests, then the package checks (scripts/package-check.sh). Needs root (the
# tests use private namespaces). Long runs (labelled
# "long") are left out; run them with: ctest --test-dir build -L long
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
jobs=$(nproc)

echo "== normal build"
BUILD_DIR="$here/build" "$here/scripts/build.sh"
(cd "$here/build" && ctest -j"$jobs" --output-on-failure -LE long)

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build, with the fuzzers"
CC=clang CXX=clang++ BUILD_DIR="$here/build-asan" "$here/scripts/build.sh" \
  -DSANITIZE=address -DPNLMON_BUILD_FUZZ=ON -DPNLMON_BUILD_BENCH=OFF
# The suite's second run with installed files in place (sandbox.installed_package)
# checks where the tests read and write, which the normal build covers.
(cd "$here/build-asan" && ctest -j"$jobs" --output-on-failure -LE 'long|packaging' -E '^sandbox\.installed_package$')

echo "== ThreadSanitizer build of the concurrency tests"
tsan_targets=(pnlmon_display_manager_test pnlmon_cimhost_test e2e_tests vexdisplayprov e2e_sharing_tests pnlmon-inventory pnlmon-sim-hold
  pnlmon_display_watch_test e2e_announce_tests)
BUILD_DIR="$here/build-tsan" BUILD_TARGETS="${tsan_targets[*]}" "$here/scripts/build.sh" \
  -DSANITIZE=thread -DPNLMON_BUILD_BENCH=OFF
(cd "$here/build-tsan" && ctest -j"$jobs" --output-on-failure -LE long -R '^(display\.manager|display\.watch|cimhost\.Host|e2e_tests|e2e_announce_tests|e2e_sharing_tests)$')

echo "== packages: Debian and RPM builds, lintian, rpmlint, install, purge"
"$here/scripts/package-check.sh"
