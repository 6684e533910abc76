#!/usr/bin/env bash
# Runs every test: the normal build, then the AddressSanitizer+UBSan build
# (with the short fuzz runs). Needs root (the tests use private namespaces).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
jobs=$(nproc)

echo "== normal build"
BUILD_DIR="$here/build" "$here/scripts/build.sh"
(cd "$here/build" && ctest -j"$jobs" --output-on-failure)

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
CC=clang CXX=clang++ BUILD_DIR="$here/build-asan" "$here/scripts/build.sh" \
  -DSANITIZE=address -DPNLMON_BUILD_FUZZ=ON -DPNLMON_BUILD_BENCH=OFF
(cd "$here/build-asan" && ctest -j"$jobs" --output-on-failure)
