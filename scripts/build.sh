#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR) with extra cmake
# arguments; $BUILD_TARGETS limits the build to those targets.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
targets=()
for t in ${BUILD_TARGETS:-}; do
  targets+=(--target "$t")
done
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
