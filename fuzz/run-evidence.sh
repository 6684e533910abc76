#!/usr/bin/env bash
# The long fuzz runs behind docs/reliability/fuzzing.md: each target, one
# after another, one process each, for ten million executions, seeded with the
# kept corpus, the regression seeds (and the real EDID blocks when present).
# What the runs find goes to <build>/evidence/corpus-<target>, logs to
# <build>/evidence/<target>.log, crash inputs to <build>/evidence/.
#
#   fuzz/run-evidence.sh [build-dir] [target...]
#
# The build is the clang ASan+UBSan one:
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -DSANITIZE=address \
#     -DPNLMON_BUILD_FUZZ=ON -DPNLMON_BUILD_BENCH=OFF -DPNLMON_BUILD_TESTS=ON
#   cmake --build build-fuzz -j2 --target fuzz_edid fuzz_inventory fuzz_osd \
#     fuzz_keyvalue fuzz_config fuzz_logformat fuzz_hexdump
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build-fuzz}" && pwd)
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(edid osd inventory keyvalue config logformat hexdump)
runs=${RUNS:-10000000}
testdata=${PNLMON_EDID_TESTDATA_DIR:-$here/../shared/testdata/edid}
out=$build/evidence
mkdir -p "$out"

# A 16 MiB quarantine instead of 256 MiB: freed memory is reused while still
# hot, which on a virtual machine saves a page fault per allocation; a
# use-after-free is still caught for the last 16 MiB of frees (well over a
# thousand executions of any of these targets).
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

for target in "${targets[@]}"; do
  # The decoders read at most 128 (EDID) or 48 bytes (reports): longer inputs
  # add nothing. Their debug lines are dropped unformatted (level 1 = errors
  # only) to reach ten million runs in reasonable time; the formatting of
  # untrusted text is the log-format target's job, at the full level.
  level=1
  extra=()
  case $target in
    edid) extra=(-max_len=256) ;;
    osd|inventory) extra=(-max_len=64) ;;
    logformat) level=4; extra=(-max_len=5000) ;;
  esac
  seeds=("$here/fuzz/corpus/$target" "$here/fuzz/regressions/$target")
  if [ "$target" = edid ] && [ -d "$testdata" ]; then
    seeds+=("$testdata")
  fi
  mkdir -p "$out/corpus-$target"
  echo "== $target: $runs runs, log level $level, ${extra[*]:-}" | tee "$out/$target.log"
  start=$(date +%s)
  status=0
  PNLMON_FUZZ_LOG_LEVEL=$level "$build/fuzz/decoders/fuzz_$target" -runs="$runs" \
    -print_final_stats=1 -artifact_prefix="$out/" "${extra[@]}" \
    "$out/corpus-$target" "${seeds[@]}" >>"$out/$target.log" 2>&1 || status=$?
  echo "== $target: exit $status after $(( $(date +%s) - start )) s" | tee -a "$out/$target.log"
  if [ $status -ne 0 ]; then
    tail -40 "$out/$target.log"
    failed=1
  fi
done
exit ${failed:-0}
