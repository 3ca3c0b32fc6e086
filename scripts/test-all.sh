#!/usr/bin/env bash
# Builds and runs every test: native, native with sanitizers, x64 under 64-bit Wine, x86
# under 32-bit Wine (both with the static checks of their binaries), and a short run of
# every fuzz target. Installs what is missing first.
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

# The tests under Wine mostly wait on one core; the x86 build, its tests and the fuzz
# targets use the rest meanwhile. Each side writes its own log, shown whole when it ends.
logs=build/test-all
mkdir -p "$logs"
ctest --preset win64 >"$logs/win64.log" 2>&1 &
win64_tests=$!
side_by_side() {
  echo "=== x64 and x86 registered side by side"
  if [ -f build/win32/tests-not-run.txt ]; then
    echo "not run: $(cat build/win32/tests-not-run.txt)"
    return 0
  fi
  python3 tests/side_by_side/side_by_side_test.py . build/win64 build/win32 build/side-by-side
}
(build_and_test win32 && side_by_side && build_and_test fuzz) >"$logs/others.log" 2>&1 &
others=$!

status=0
wait "$others" || status=1
cat "$logs/others.log"
echo "=== win64 tests"
wait "$win64_tests" || status=1
cat "$logs/win64.log"

# The packages need both builds and the 32-bit Wine.
if [ -f build/win32/tests-not-run.txt ]; then
  packages="not tested: $(cat build/win32/tests-not-run.txt)"
else
  scripts/test-packages.sh || status=1
  packages="tested with msiexec"
fi

echo "=== summary"
if [ -f build/win32/tests-not-run.txt ]; then
  echo "x86: ONLY THE STATIC CHECKS RAN; the x86 tests under 32-bit Wine did not run: $(cat build/win32/tests-not-run.txt)"
else
  echo "x86: every Windows test ran under 32-bit Wine"
fi
echo "packages: $packages"
if [ "$status" -ne 0 ]; then
  echo "=== some tests failed (see above)"
  exit 1
fi
echo "=== all tests passed"
