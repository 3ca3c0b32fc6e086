#!/usr/bin/env bash
# The main job: builds Corvane.dll and TamselWrapper.dll for x64 and x86 (dist/x64,
# dist/x86), registers both bitnesses side by side in a private Wine prefix (build/demo/wine)
# and runs the examples of examples/ there: the 64-bit cscript with the x64 DLLs, the 32-bit
# cscript with the x86 DLLs, and the C++ client of each bitness. Tamsel.Wrapper runs first
# without its outside components, then with the test stand-ins of tests/fixtures registered
# in their place. Everything it registered is unregistered at the end, and the prefix's
# wineserver is stopped.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$(date +%s)

scripts/bootstrap.sh
targets=(Corvane TamselWrapper corvane_dist_include TamselFixtures crypt_client)
for preset in win64 win32; do
  echo "=== building $preset: ${targets[*]}"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target "${targets[@]}" >/dev/null
done
x86=yes
if [ -f build/win32/tests-not-run.txt ]; then
  x86=no
  echo "=== the x86 DLLs are built but cannot run here: $(cat build/win32/tests-not-run.txt)"
fi
cmake --build --preset win64 --target wine_desktop_keeper >/dev/null
ls -l dist/x64/*.dll dist/x86/*.dll | awk '{print $5, $NF}'

wine_dir=build/demo/wine
cmake/wine-prefix.sh setup "$wine_dir" build/win64/wine_desktop_keeper.exe
run() {
  local bits=$1
  shift
  local option=()
  [ "$bits" = 32 ] && option=(--x86)
  cmake/wine-run.sh "${option[@]}" "$wine_dir" "$@" | tr -d '\r'
}
windows_path() { echo "Z:$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" | tr / '\\'; }
dist_dir() { if [ "$1" = 64 ]; then echo dist/x64; else echo dist/x86; fi; }
build_dir() { if [ "$1" = 64 ]; then echo build/win64; else echo build/win32; fi; }
bitnesses=(64)
[ "$x86" = yes ] && bitnesses+=(32)

# regsvr32 [/u] of a DLL in the given bitness; without /u it must succeed.
regsvr32() {
  local bits=$1 dll=$2
  shift 2
  run "$bits" regsvr32 /s "$@" "$(windows_path "$dll")"
}
stand_ins() { echo "$(build_dir "$1")/tests/fixtures/TamselFixtures.dll"; }
unregister_all() {
  for bits in "${bitnesses[@]}"; do
    for dll in "$(dist_dir "$bits")/Corvane.dll" "$(dist_dir "$bits")/TamselWrapper.dll" "$(stand_ins "$bits")"; do
      regsvr32 "$bits" "$dll" /u || true
    done
  done
}
finish() {
  unregister_all
  cmake/wine-prefix.sh cleanup "$wine_dir"
}
trap finish EXIT
# A run that was interrupted may have left the stand-ins registered.
for bits in "${bitnesses[@]}"; do regsvr32 "$bits" "$(stand_ins "$bits")" /u || true; done

for bits in "${bitnesses[@]}"; do
  echo "=== the $bits-bit regsvr32 registers $(dist_dir "$bits")/Corvane.dll and TamselWrapper.dll"
  regsvr32 "$bits" "$(dist_dir "$bits")/Corvane.dll"
  regsvr32 "$bits" "$(dist_dir "$bits")/TamselWrapper.dll"
done
clsid_key='HKLM\Software\Classes\CLSID\{BC13CC86-97F9-44AD-9BC6-B202B22FFAD6}\InprocServer32'
for bits in "${bitnesses[@]}"; do
  echo "Corvane.Crypt for $bits-bit hosts: $(run 64 reg query "$clsid_key" /ve "/reg:$bits" | sed -n 's/.*REG_SZ *//p')"
done

for bits in "${bitnesses[@]}"; do
  if [ "$bits" = 64 ]; then host='C:\windows\system32\cscript.exe'; else host='C:\windows\syswow64\cscript.exe'; fi
  for script in examples/crypt.vbs examples/crypt.js; do
    echo "=== $bits-bit cscript ($host): $script"
    run "$bits" cscript //nologo "$(windows_path "$script")"
  done
  echo "=== $bits-bit C++ client: $(build_dir "$bits")/examples/crypt_client.exe (examples/crypt_client.cpp)"
  run "$bits" "$(build_dir "$bits")/examples/crypt_client.exe"
done

echo "=== Tamsel.Wrapper without its outside components (Tamsel.clsTwofish, Ostrel.Base64Func)"
run 64 cscript //nologo "$(windows_path examples/wrapper.vbs)" || true
echo "=== registering the test stand-ins (TamselFixtures.dll from tests/fixtures, never shipped) as"
echo "    Tamsel.clsTwofish and Ostrel.Base64Func, for each bitness"
for bits in "${bitnesses[@]}"; do regsvr32 "$bits" "$(stand_ins "$bits")"; done
for bits in "${bitnesses[@]}"; do
  for script in examples/wrapper.vbs examples/wrapper.js; do
    echo "=== $bits-bit cscript: $script, with the test stand-ins"
    run "$bits" cscript //nologo "$(windows_path "$script")"
  done
done

echo "=== demo finished in $(( $(date +%s) - started )) s; unregistering what it registered"
