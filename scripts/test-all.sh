#!/usr/bin/env bash
# Builds and runs every test: native, native with sanitizers, x64 under 64-bit Wine, x86
# under 32-bit Wine (both with the static checks of their binaries), both bitnesses
# registered side by side, the installer packages under Wine's msiexec, and a short run of
# every fuzz target. Installs what is missing first.
#
# The tests under Wine spend much of their time waiting, so they run in lanes of their
# own beside the builds: the x64 tests as soon as the x64 build is done; the x86 tests,
# the side-by-side test and the packages as soon as the x86 build is done; the native
# builds and the fuzz targets in the foreground meanwhile. Where no 32-bit Wine runs, the
# packages are tested under wine64 in the x64 lane instead, once both builds are done (the
# x86 lane then runs only the static checks). Each lane writes its own log, shown whole
# when the lane ends.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$(date +%s)

scripts/bootstrap.sh fuzz package

logs=build/test-all
rm -rf "$logs"
mkdir -p "$logs"

elapsed() { echo "$(( $(date +%s) - started )) s"; }

configure() {
  local options=()
  # Seven seconds a fuzz target here, whatever a longer scripts/fuzz.sh run left in the cache.
  [ "$1" = fuzz ] && options=(-DCORVANE_FUZZ_SECONDS=7)
  cmake --preset "$1" "${options[@]}" >/dev/null
}

build() {
  echo "=== build $1 ($(elapsed))"
  configure "$1"
  cmake --build --preset "$1"
}

run_tests() {
  echo "=== tests $1 ($(elapsed))"
  ctest --preset "$1"
}

side_by_side() {
  echo "=== x64 and x86 registered side by side ($(elapsed))"
  python3 tests/side_by_side/side_by_side_test.py . build/win64 build/win32 build/side-by-side
}

x86_runs=yes
packages_lane=x86
[ -x /usr/lib/wine/wine ] || packages_lane=x64
# Written when the x86 build is done; the x64 lane waits for it before the packages.
win32_built="$logs/win32-built"

build win64
if [ "$packages_lane" = x86 ]; then
  run_tests win64 >"$logs/win64.log" 2>&1 &
else
  (
    status=0
    run_tests win64 || status=1
    while [ ! -e "$win32_built" ]; do sleep 2; done
    [ "$(cat "$win32_built")" = ok ] && scripts/test-packages.sh || status=1
    exit $status
  ) >"$logs/win64.log" 2>&1 &
fi
win64_lane=$!

if build win32; then echo ok >"$win32_built"; else echo failed >"$win32_built"; exit 1; fi
[ -f build/win32/tests-not-run.txt ] && x86_runs=no
if [ "$x86_runs" = yes ]; then
  (run_tests win32 && side_by_side && scripts/test-packages.sh) >"$logs/win32.log" 2>&1 &
elif [ "$packages_lane" = x86 ]; then
  (run_tests win32 && scripts/test-packages.sh) >"$logs/win32.log" 2>&1 &
else
  (run_tests win32) >"$logs/win32.log" 2>&1 &
fi
win32_lane=$!

status=0
for preset in native native-asan fuzz; do
  build "$preset" && run_tests "$preset" || status=1
done

# The conformance vectors: Corvane.dll (x64, and x86 where it runs) and the tool must still
# give them, and the ports must read and write them.
echo "=== conformance vectors ($(elapsed))"
x86_dll=()
[ "$x86_runs" = yes ] && x86_dll=(--dll-x86 build/win32)
python3 conformance/check.py --dll build/win64 "${x86_dll[@]}" --tool build/native/cli/corvane || status=1
ports/dotnet/test.sh || status=1
echo "=== ports: Python and Node, against the conformance vectors, then installed ($(elapsed))"
{ ports/python/test.sh && ports/node/test.sh && ports/test-installed.sh; } || status=1

echo "=== x64 lane ($(elapsed))"
wait "$win64_lane" || status=1
cat "$logs/win64.log"
echo "=== x86 lane ($(elapsed))"
wait "$win32_lane" || status=1
cat "$logs/win32.log"

echo "=== summary ($(elapsed))"
if [ "$x86_runs" = yes ]; then
  echo "x86: every Windows test ran under 32-bit Wine; side by side and the packages tested"
else
  echo "x86: ONLY THE STATIC CHECKS RAN; the x86 tests under 32-bit Wine and the side-by-side test"
  echo "     did not run: $(cat build/win32/tests-not-run.txt 2>/dev/null || echo no 32-bit Wine)"
  if [ "$packages_lane" = x64 ]; then
    echo "     the packages were tested under wine64 (x64 lane) without the 32-bit script host"
  else
    echo "     the packages were tested (x86 lane)"
  fi
fi
if [ "$status" -ne 0 ]; then
  echo "=== some tests failed (see above)"
  exit 1
fi
echo "=== all tests passed"
