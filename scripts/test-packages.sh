#!/usr/bin/env bash
# Builds the packages (scripts/package.sh) and tests them with Wine's msiexec, each in
# fresh prefixes of its own under build/msi-test (tests/packaging/msi_test.py says what
# is checked). Needs the 32-bit Wine beside wine64 (wine32:i386) for the 32-bit views and
# the x86 package. The wineservers of those prefixes are stopped at the end.
#   scripts/test-packages.sh
set -euo pipefail
cd "$(dirname "$0")/.."
started=$(date +%s)
echo "=== packages"

if [ ! -x /usr/lib/wine/wine ]; then
  echo "test-packages.sh: the 32-bit Wine (/usr/lib/wine/wine, package wine32:i386) is missing" >&2
  exit 1
fi

scripts/package.sh
# The stand-ins for the wrapper's outside components, one of each bitness.
for preset in win64 win32; do
  cmake --build --preset "$preset" --target TamselFixtures >/dev/null
done

version=$(python3 packaging/make_package.py version dist/x64/Corvane.dll)
# The checksums of the release files, and those inside the zip.
(cd dist && sha256sum --quiet -c SHA256SUMS)
rm -rf build/msi-test/zip && mkdir -p build/msi-test/zip
python3 -m zipfile -e "dist/Corvane-$version.zip" build/msi-test/zip
(cd "build/msi-test/zip/Corvane-$version" && sha256sum --quiet -c SHA256SUMS &&
  ls x64 x86 include/corvane.h include/tamsel.h README.md LICENSE CHANGELOG.md docs >/dev/null)
echo "ok: SHA256SUMS of dist/ and of the zip"
python3 tests/packaging/msi_test.py --packages dist --dist dist --version "$version" \
  --fixtures64 build/win64/tests/fixtures/TamselFixtures.dll \
  --fixtures32 build/win32/tests/fixtures/TamselFixtures.dll \
  --work build/msi-test --package-wine-dir build/package/wine
echo "=== packages built and tested in $(( $(date +%s) - started )) s"
