#!/usr/bin/env bash
# The main job: builds both Windows targets and runs the demonstration under Wine in a
# private prefix (build/demo/wine), which is stopped afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
for preset in win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done

wine_dir=build/demo/wine
cmake/wine-prefix.sh setup "$wine_dir"
trap 'cmake/wine-prefix.sh cleanup "$wine_dir"' EXIT
cmake/wine-run.sh "$wine_dir" dist/x64/console_demo.exe
