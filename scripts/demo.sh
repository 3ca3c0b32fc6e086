#!/usr/bin/env bash
# The main job: builds Corvane.dll for x64 and x86 (dist/x64, dist/x86), registers the
# x64 DLL with regsvr32 in a private Wine prefix (build/demo/wine) and runs the two
# example scripts there with cscript. The prefix's wineserver is stopped afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
for preset in win64 win32; do
  echo "=== building $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
ls -l dist/x64/Corvane.dll dist/x86/Corvane.dll

wine_dir=build/demo/wine
cmake/wine-prefix.sh setup "$wine_dir" build/win64/wine_desktop_keeper.exe
trap 'cmake/wine-prefix.sh cleanup "$wine_dir"' EXIT
run() { cmake/wine-run.sh "$wine_dir" "$@"; }
windows_path() { echo "Z:$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" | tr / '\\'; }

echo "=== regsvr32 dist\\x64\\Corvane.dll"
run regsvr32 /s "$(windows_path dist/x64/Corvane.dll)"
for script in examples/demo.vbs examples/demo.js; do
  echo "=== cscript $script"
  run cscript //nologo "$(windows_path "$script")"
done
