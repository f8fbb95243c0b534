#!/bin/sh
# Runs the libFuzzer targets of fuzz/ (built by the "sanitize" preset: clang,
# AddressSanitizer, UndefinedBehaviorSanitizer) and prints the executions of
# each.
#
#   tools/fuzz.sh [--smoke] [--time SECONDS] [--runs N] [TARGET...]
#
#   --smoke       20 seconds per target (what CI runs)
#   --time S      seconds per target (default 60)
#   --runs N      stop a target after N executions (whichever comes first)
#   --jobs N      targets run side by side (default 1)
#   TARGET        names as in fuzz/CMakeLists.txt (default: every target built)
#
# Each target starts from its seeds (made by fuzz_NAME_replay from real
# messages) and the corpus it grew in earlier runs, build/sanitize/fuzz/corpus/NAME.
# A finding stops that target; its input is left in build/sanitize/fuzz/findings/NAME/
# and its log in build/sanitize/fuzz/logs/NAME.log, and the script ends non-zero.
# Keep a fixed finding's input in fuzz/regressions/NAME/ so every test run replays it.
set -e
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=60
runs=""
jobs=1
targets=""
while [ $# -gt 0 ]; do
  case "$1" in
    --smoke) seconds=20 ;;
    --time) seconds="$2"; shift ;;
    --runs) runs="$2"; shift ;;
    --jobs) jobs="$2"; shift ;;
    -h|--help) sed -n '2,19p' "$0"; exit 0 ;;
    *) targets="$targets $1" ;;
  esac
  shift
done

build="$root/build/sanitize"
if [ ! -f "$build/build.ninja" ]; then cmake --preset sanitize >/dev/null; fi
if [ -z "$targets" ]; then
  targets=$(sed -n 's/^orvex_fuzz_target(\([a-z0-9_]*\).*/\1/p' fuzz/CMakeLists.txt)
fi
build_targets=""
for t in $targets; do build_targets="$build_targets fuzz_$t fuzz_${t}_replay"; done
cmake --build --preset sanitize --target $build_targets >/dev/null

out="$build/fuzz"
mkdir -p "$out/logs"
# Any report ends the run at its input; leaks are looked for after each input.
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# One target: its line of the table goes to logs/NAME.result.
run_target() {
  t=$1
  corpus="$out/corpus/$t"
  findings="$out/findings/$t"
  log="$out/logs/$t.log"
  mkdir -p "$corpus" "$findings"
  "$build/fuzz/fuzz_${t}_replay" --write-seeds "$corpus" >/dev/null
  set -- -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$findings/"
  [ -n "$runs" ] && set -- "$@" -runs="$runs"
  [ -f "fuzz/dicts/$t.dict" ] && set -- "$@" -dict="$root/fuzz/dicts/$t.dict"
  start=$(date +%s)
  if "$build/fuzz/fuzz_$t" "$@" "$corpus" >"$log" 2>&1; then
    result=ok
  else
    result="FINDING (see $log)"
  fi
  elapsed=$(($(date +%s) - start))
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  [ -z "$executions" ] && executions=$(sed -n 's/^#\([0-9]*\).*/\1/p' "$log" | tail -1)
  rate=$(awk -v n="${executions:-0}" -v s="$elapsed" 'BEGIN { printf "%d", (s > 0 ? n / s : n) }')
  printf '%-16s %14s %8s %10s  %s\n' "$t" "${executions:-0}" "$elapsed" "$rate" "$result" >"$out/logs/$t.result"
}

printf '%-16s %14s %8s %10s  %s\n' target executions seconds "exec/s" result
running=0
for t in $targets; do
  rm -f "$out/logs/$t.result"
  run_target "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait
    running=0
  fi
done
wait
failed=0
for t in $targets; do
  if [ -f "$out/logs/$t.result" ]; then cat "$out/logs/$t.result"; else echo "$t: no result"; failed=1; fi
  grep -q FINDING "$out/logs/$t.result" 2>/dev/null && failed=1
done
exit $failed
