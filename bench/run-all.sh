#!/usr/bin/env bash
# Builds the benchmarks optimised (RelWithDebInfo: -O2 -g, symbols kept for
# callgrind) and runs every performance figure, writing one results file.
#
#   bench/run-all.sh [build-dir] [results-file]
#
# Environment: REPS (repetitions of every benchmark, default 5; the median is
# reported), CALLGRIND=0 to skip the instruction counts, SKIP_BUILD=1 to use
# the binaries as they are, STAGES (default "bench callgrind") to run a part.
# Needs root (private namespaces). The machine may be shared: the figures are
# CPU times of the calling thread and instruction counts, not wall times.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$here/build-perf}")
results=$(realpath -m "${2:-$build/perf-results.txt}")
stages=${STAGES:-bench callgrind}
reps=${REPS:-5}
callgrind=${CALLGRIND:-1}

if [ "${SKIP_BUILD:-0}" != 1 ]; then
  cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPNLMON_BUILD_TESTS=ON \
    -DPNLMON_BUILD_BENCH=ON -DSANITIZE= >/dev/null
  cmake --build "$build" -j"$(nproc)" --target pnlmon_bench_enumeration pnlmon_bench_flashaware \
    bench_provider vexdisplayprov pnlmon_bench_collector pnlmon-inventory >/dev/null
fi

raw="$build/perf-raw"
mkdir -p "$raw"
common=(--benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true
        --benchmark_format=json)

run() {  # name, binary, arguments...
  local name=$1
  shift
  echo "== $name" >&2
  "$@" "${common[@]}" --benchmark_out="$raw/$name.json" --benchmark_out_format=json >/dev/null 2>"$raw/$name.err"
}

if [[ " $stages " == *" bench "* ]]; then
rm -f "$raw"/*.json
run enum-level0 "$build/bench/driver/pnlmon_bench_enumeration" --log-off \
  --benchmark_filter='BM_DriverEnumeration|BM_BareLibusbKeepOpen' --benchmark_min_time=1
run enum-level4 "$build/bench/driver/pnlmon_bench_enumeration" \
  --benchmark_filter='BM_DriverEnumeration' --benchmark_min_time=1
run memory "$build/bench/driver/pnlmon_bench_enumeration" --log-off --benchmark_filter='BM_DriverMemory'
run flashaware "$build/bench/driver/pnlmon_bench_flashaware" --benchmark_min_time=1
run provider "$build/bench/provider/bench_provider" --benchmark_min_time=2
run collector "$build/bench/tools/pnlmon_bench_collector"
fi

if [[ " $stages " == *" callgrind "* ]] && [ "$callgrind" = 1 ] && command -v valgrind >/dev/null; then
  rm -f "$raw"/callgrind-level*
  # Instructions of the calling thread inside DisplayApi::getDisplayInformationList
  # (user space only: the kernel's share of /proc reads and log writes is not
  # counted), split into libusb and below versus the rest.
  for level in 0 4; do
    arg=()
    [ "$level" = 0 ] && arg=(--log-off)
    echo "== callgrind level $level" >&2
    (cd "$raw" && LD_PRELOAD=libumockdev-preload.so.0 valgrind --tool=callgrind \
      --suppressions="$here/src/usbemu/valgrind.supp" \
      --toggle-collect='DisplayApi::getDisplayInformationList*' \
      --callgrind-out-file="$raw/callgrind-level$level.%p" \
      "$build/bench/driver/pnlmon_bench_enumeration" "${arg[@]}" \
      --benchmark_filter='BM_DriverEnumeration/4$' --benchmark_min_time=0.05 >/dev/null 2>"$raw/callgrind-level$level.err")
  done
fi

python3 "$here/bench/summarise.py" "$raw" > "$results"
{
  echo
  echo "Machine: nproc=$(nproc), kernel $(uname -r), $(gcc --version | head -1)"
  lscpu | head -20 | sed 's/^/  /'
  echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "Commit: $(git -C "$here" rev-parse --short HEAD) $(git -C "$here" status --porcelain | grep -q . && echo '(with local changes)')"
} >> "$results"
cat "$results"
