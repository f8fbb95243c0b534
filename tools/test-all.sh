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
# The native suite once more under AddressSanitizer and UndefinedBehaviorSanitizer
# (clang; no Windows builds), then each fuzz target briefly from its seeds.
echo "==== sanitize"
start=$(date +%s)
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
built=$(date +%s)
ctest --preset sanitize
tested=$(date +%s)
tools/fuzz.sh --smoke --jobs 2
echo "==== sanitize: build $((built - start)) s, tests $((tested - built)) s, fuzz $(($(date +%s) - tested)) s"
