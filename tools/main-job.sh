#!/bin/sh
# The main job: OrvexUpdate under Wine against what this machine offers, with
# every message box answered by itself; prints the run's log.
set -e
cd "$(dirname "$0")/.."
root=$PWD
tools/install-deps.sh
# The updater is a 32-bit program; where the kernel cannot run 32-bit code,
# the same sources built for x86-64 stand in for it.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then preset=win32; else preset=win64; fi
cmake --preset $preset >/dev/null
cmake --build --preset $preset --target OrvexUpdate
exe=$root/build/$preset/updater/OrvexUpdate.exe
echo "Running $(file -b "$exe" | cut -d, -f1) $exe"
run=$root/build/main-job
mkdir -p "$run"
rm -f "$run/OrvexUpdate.log"
cd "$run"
status=0
# Wine's own chatter (no sound card, and so on) goes to a file of its own.
"$root/tools/wine-run.sh" "$root/build/$preset/wineprefix" "$exe" -autoanswer 2>"$run/wine-stderr.log" || status=$?
echo "---- $run/OrvexUpdate.log"
cat OrvexUpdate.log
exit $status
