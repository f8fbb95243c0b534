#!/bin/sh
# The main job: OrvexUpdate under Wine in simulation mode, updating the first
# unit of an emulated studio end to end by itself. Prints the run's log, saves
# pictures of the Ready, Programming and Done views, and ends with one line:
# unit, old and new version, packets written and verified, seconds taken.
#
#   tools/main-job.sh [SCENARIO]     built-in name (default: "default") or a .toml path
set -e
cd "$(dirname "$0")/.."
root=$PWD
scenario=${1:-default}
case "$scenario" in
  */*|*.toml) scenario=$(cd "$(dirname "$scenario")" && pwd)/$(basename "$scenario") ;;
esac
tools/install-deps.sh
# The updater is a 32-bit program; where the kernel cannot run 32-bit code,
# the same sources built for x86-64 stand in for it.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then preset=win32; else preset=win64; fi
cmake --preset $preset >/dev/null
cmake --build --preset $preset --target OrvexUpdate
exe=$root/build/$preset/updater/OrvexUpdate.exe
echo "Running $(file -b "$exe" | cut -d, -f1) $exe"
run=$root/build/main-job
rm -rf "$run"
mkdir -p "$run"
cd "$run"
start=$(date +%s)
status=0
# -autoanswer confirms the firmware write and every other box by itself;
# -autoupdate presses Update, then Close. Wine's own chatter goes to a file.
"$root/tools/wine-run.sh" "$root/build/$preset/wineprefix" "$exe" "-simulate=$scenario" \
  -autoanswer -autoupdate -pictures=pictures 2>"$run/wine-stderr.log" || status=$?
echo "---- $run/OrvexUpdate.log"
cat OrvexUpdate.log
# The first picture of each view, as PNG files.
convert=/usr/bin/convert
for view in ready programming done; do
  pick=$(ls pictures/*-$view.bmp 2>/dev/null | head -n 1)
  # Of the Programming pictures, the one taken half-way through writing shows the bar.
  [ "$view" = programming ] && pick=$(ls pictures/*-programming.bmp 2>/dev/null | tail -n 2 | head -n 1)
  if [ -n "$pick" ]; then
    "$convert" "$pick" "$run/$view.png" && echo "picture of the $view view: $run/$view.png"
  else
    echo "no picture of the $view view"
  fi
done
summary=$(grep "Simulated studio: summary:" OrvexUpdate.log | tail -n 1 | sed 's/.*summary: //')
if [ $status -ne 0 ] || ! grep -q "EEPROM Programming Success" OrvexUpdate.log || [ -z "$summary" ]; then
  echo "FAILED: the update did not complete (program exit code $status; see $run/OrvexUpdate.log)"
  [ $status -ne 0 ] || status=1
  exit $status
fi
echo "SUCCESS: $summary (whole run $(($(date +%s) - start)) s)"
