#!/bin/sh
# Builds the three presets and runs every test: native, then under Wine.
set -e
cd "$(dirname "$0")/.."
tools/install-deps.sh
for preset in host win32 win64; do
  echo "==== $preset"
  start=$(date +%s)
  cmake --preset $preset >/dev/null
  cmake --build --preset $preset
  built=$(date +%s)
  ctest --preset $preset
  echo "==== $preset: build $((built - start)) s, tests $(($(date +%s) - built)) s"
done
