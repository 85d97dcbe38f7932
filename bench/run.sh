#!/bin/sh
# Builds the benchmarks with the "bench" preset, runs them and prints the tables of
# docs/performance.md.
#
#   bench/run.sh [RUNS]        RUNS: timed runs per command (default 5); takes about 2 x RUNS minutes
#
# Needs, beyond the normal build (g++, CMake, Ninja): Google Benchmark (Debian package
# libbenchmark-dev) and objcopy (binutils). The build goes to build-bench/ (the preset's), or to
# $TTYPROG_BENCH_DIR; scratch files go to a temporary directory that is removed afterwards.
set -eu

runs=${1:-5}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${TTYPROG_BENCH_DIR:-$source_dir/build-bench}

for tool in cmake ninja objcopy; do
  command -v "$tool" >/dev/null || { echo "bench/run.sh: $tool is needed" >&2; exit 1; }
done

(cd "$source_dir" && cmake --preset bench -B "$build_dir" >/dev/null)
cmake --build "$build_dir" -j2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

echo "## ttyprog performance, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) CPUs;" \
  "Linux $(uname -r); $(g++ --version | head -n1)."
echo "Load before: $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min)."

"$build_dir/bin/line_bench" "$build_dir/bin/ttyprog" "$build_dir/bin/ttyprog-sim" "$work" "$runs"

echo
echo "### HEX loader on text in memory (Google Benchmark, $runs repetitions of at least 0.5 s)"
echo
echo '```'
"$build_dir/bin/loader_bench" --benchmark_repetitions="$runs" --benchmark_report_aggregates_only=true \
  --benchmark_min_time=0.5 2>/dev/null | grep -E '^(Benchmark|BM_.*_(median|min|max|cv))'
echo '```'
echo
echo "Load after: $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min)."
