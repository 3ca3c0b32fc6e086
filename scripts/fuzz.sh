#!/usr/bin/env bash
# Runs every fuzz target for longer than the test run does.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 600)
# Findings are written to build/fuzz/fuzz/<target>-crash-*; new inputs to build/fuzz/fuzz/corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}

scripts/bootstrap.sh fuzz
cmake --preset fuzz -DCORVANE_FUZZ_SECONDS="$seconds" >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz --timeout $((seconds + 120))
