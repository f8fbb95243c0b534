#!/bin/sh
# Builds the benchmarks in a release build of their own and runs them: full
# updates on every path through the updater's own programming sequence (a
# table, and the same figures as JSON), then the SZDD expander's throughput.
#
#   tools/bench.sh [--only ROW]      ROW: midi-din, midi-unpaced, network, adapter, do-zaz
#
# Figures land in build/bench/update-bench.json and build/bench/szdd-bench.json.
set -e
cd "$(dirname "$0")/.."
build=build/bench
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVEX_TARGET=host >/dev/null
fi
cmake --build "$build" -j2 --target update_bench szdd_bench >/dev/null
"$build/bench/update_bench" --json "$build/update-bench.json" "$@"
case "$*" in *--only*) exit 0 ;; esac
echo
"$build/bench/szdd_bench" --benchmark_out="$build/szdd-bench.json" --benchmark_out_format=json
