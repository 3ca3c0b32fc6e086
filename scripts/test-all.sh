#!/usr/bin/env bash
# Builds and runs every test: native, native with sanitizers, x64 under Wine, the static
# checks of the x86 build, and a short run of every fuzz target. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh fuzz

build_and_test() {
  local preset=$1
  echo "=== $preset"
  local options=()
  # Seven seconds a fuzz target here, whatever a longer scripts/fuzz.sh run left in the cache.
  [ "$preset" = fuzz ] && options=(-DCORVANE_FUZZ_SECONDS=7)
  cmake --preset "$preset" "${options[@]}" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
}

build_and_test native
build_and_test native-asan

echo "=== win64"
cmake --preset win64 >/dev/null
cmake --build --preset win64

# The tests under Wine mostly wait on one core; the x86 build and the fuzz targets use the
# rest meanwhile. Each side writes its own log, shown whole when it ends.
logs=build/test-all
mkdir -p "$logs"
ctest --preset win64 >"$logs/win64.log" 2>&1 &
wine_tests=$!
(build_and_test win32 && build_and_test fuzz) >"$logs/others.log" 2>&1 &
others=$!

status=0
wait "$others" || status=1
cat "$logs/others.log"
echo "=== win64 tests"
wait "$wine_tests" || status=1
cat "$logs/win64.log"

scripts/test-packages.sh || status=1

if [ "$status" -ne 0 ]; then
  echo "=== some tests failed (see above)"
  exit 1
fi
echo "=== all tests passed"
