#!/usr/bin/env bash
# Builds the release files from the two Windows builds, into dist/:
#   Corvane-<version>-x64.msi       64-bit Windows: x64 and x86 DLLs, each registered in its
#                                   own registry view, and corvane.exe (x64)
#   Corvane-<version>-x86.msi       32-bit Windows
#   Corvane-<version>-x64-user.msi  64-bit Windows, per user, without administrator rights
#   Corvane-<version>.zip           both DLL sets, corvane.exe of each bitness, the C++
#                                   header and GUIDs (include/), README.md, LICENSE,
#                                   CHANGELOG.md, docs/, SHA256SUMS
#   SHA256SUMS                      of the packages and the zip
# <version> is Corvane.dll's file version. Installs what is missing first (wixl, msitools),
# builds the deliverables of the presets win64 and win32 when they are out of date.
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh package

for preset in win64 win32; do
  [ -f "build/$preset/CMakeCache.txt" ] || cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target Corvane TamselWrapper corvane corvane_dist_include tamsel_dist_include >/dev/null
done

version=$(python3 packaging/make_package.py version dist/x64/Corvane.dll)
version_x86=$(python3 packaging/make_package.py version dist/x86/Corvane.dll)
if [ "$version" != "$version_x86" ]; then
  echo "package.sh: dist/x64 holds Corvane.dll $version, dist/x86 $version_x86" >&2
  exit 1
fi

# Wine's msidb.exe completes what wixl cannot store (see packaging/make_package.py); it
# runs in a prefix of its own, made once.
wine_dir=build/package/wine
python3 packaging/make_package.py msi --platform x64 --scope perMachine --dist dist \
  --out "dist/Corvane-$version-x64.msi" --wine-dir "$wine_dir"
python3 packaging/make_package.py msi --platform x86 --scope perMachine --dist dist \
  --out "dist/Corvane-$version-x86.msi" --wine-dir "$wine_dir"
python3 packaging/make_package.py msi --platform x64 --scope perUser --dist dist \
  --out "dist/Corvane-$version-x64-user.msi" --wine-dir "$wine_dir"
docs=(--doc README.md --doc LICENSE --doc CHANGELOG.md)
for doc in docs/*.md; do docs+=(--doc "$doc"); done
python3 packaging/make_package.py zip --dist dist "${docs[@]}" --out "dist/Corvane-$version.zip"

(cd dist && sha256sum "Corvane-$version-x64.msi" "Corvane-$version-x86.msi" "Corvane-$version-x64-user.msi" \
  "Corvane-$version.zip" > SHA256SUMS)
echo "dist/SHA256SUMS:"
cat dist/SHA256SUMS
