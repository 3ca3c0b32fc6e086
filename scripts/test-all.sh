#!/usr/bin/env bash
# Builds and runs every test: native, native with sanitizers, x64 under Wine, and the
# static checks of the x86 build. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh

for preset in native native-asan win64 win32; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
echo "=== all tests passed"
