#!/usr/bin/env bash
# Builds and runs every test: native, native with sanitizers, x64 under Wine, the static
# checks of the x86 build, and a short run of every fuzz target. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh fuzz

for preset in native native-asan win64 win32 fuzz; do
  echo "=== $preset"
  options=()
  # Seven seconds a fuzz target here, whatever a longer scripts/fuzz.sh run left in the cache.
  [ "$preset" = fuzz ] && options=(-DCORVANE_FUZZ_SECONDS=7)
  cmake --preset "$preset" "${options[@]}" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
echo "=== all tests passed"
