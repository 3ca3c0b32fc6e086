#!/usr/bin/env bash
# Builds the packages (scripts/package.sh) and tests them: Windows Installer's validation
# rules over their tables (tests/packaging/ice_check.py), the zip, Authenticode signing
# with a throwaway certificate (tests/packaging/signing_test.sh), and Wine's msiexec, each
# in fresh prefixes of its own under build/msi-test (tests/packaging/msi_test.py says what
# is checked). With the 32-bit Wine beside wine64 (wine32:i386) everything runs; without
# it, under wine64 alone, the x64 and per-user packages are installed and the 32-bit
# script host's checks are skipped (the output says which). The wineservers of those
# prefixes are stopped at the end.
#   scripts/test-packages.sh
set -euo pipefail
cd "$(dirname "$0")/.."
started=$(date +%s)
echo "=== packages"

wine32=(--no-wine32)
if [ -x /usr/lib/wine/wine ]; then
  wine32=()
else
  echo "SKIPPED: no 32-bit Wine (/usr/lib/wine/wine, package wine32:i386): the x86 package is not installed" \
    "and the 32-bit script host is not run; everything else runs under wine64"
fi

scripts/package.sh
# The stand-ins for the wrapper's outside components, one of each bitness.
for preset in win64 win32; do
  cmake --build --preset "$preset" --target TamselFixtures >/dev/null
done

version=$(python3 packaging/make_package.py release-version)
docs=(--doc README.md --doc LICENSE --doc CHANGELOG.md)
for doc in docs/*.md; do docs+=(--doc "$doc"); done
# The checksums of the release files, and those inside the zip; every relative link of the
# zip's documents names a file the zip holds.
(cd dist && sha256sum --quiet -c SHA256SUMS)
rm -rf build/msi-test/zip && mkdir -p build/msi-test/zip
python3 -m zipfile -e "dist/Corvane-$version.zip" build/msi-test/zip
(cd "build/msi-test/zip/Corvane-$version" && sha256sum --quiet -c SHA256SUMS &&
  ls x64 x86 include/corvane.h include/tamsel.h README.md LICENSE CHANGELOG.md docs >/dev/null)
echo "ok: SHA256SUMS of dist/ and of the zip"
python3 tests/packaging/zip_links.py "build/msi-test/zip/Corvane-$version"

# The same files packed again, in another folder at another time, give the same bytes (the
# whole build is compared by scripts/test-reproducible.sh).
rm -rf build/msi-test/again && mkdir -p build/msi-test/again
sleep 1
python3 packaging/make_package.py msi --platform x64 --scope perMachine --dist dist --version "$version" \
  --out "build/msi-test/again/Corvane-$version-x64.msi" --wine-dir build/package/wine >/dev/null
python3 packaging/make_package.py zip --dist dist "${docs[@]}" --version "$version" \
  --out "build/msi-test/again/Corvane-$version.zip" >/dev/null
for file in "Corvane-$version-x64.msi" "Corvane-$version.zip"; do
  cmp "dist/$file" "build/msi-test/again/$file" || { echo "FAIL: $file packed again differs"; exit 1; }
done
echo "ok: the x64 package and the zip packed again elsewhere, later, are byte-identical"
python3 tests/packaging/ice_check.py dist/Corvane-"$version"-*.msi
python3 tests/packaging/guide_check.py docs/administration.md dist "$version"

# Three runs side by side, each with prefixes of its own (they mostly wait on Wine): the
# signing test, the per-machine packages and the per-user package.
mkdir -p build/msi-test
logs=build/msi-test/logs
rm -rf "$logs" && mkdir -p "$logs"
CORVANE_PACKAGE_WINE_DIR=build/msi-test/signing-wine tests/packaging/signing_test.sh build/msi-test/signing \
  >"$logs/signing.log" 2>&1 &
signing=$!
msi_test() { # msi_test NAME PACKAGES
  python3 tests/packaging/msi_test.py --packages dist --dist dist --version "$version" \
    --fixtures64 build/win64/tests/fixtures/TamselFixtures.dll \
    --fixtures32 build/win32/tests/fixtures/TamselFixtures.dll \
    --work "build/msi-test/$1" --package-wine-dir "build/msi-test/$1-wine" --only "$2" \
    ${wine32[@]+"${wine32[@]}"} >"$logs/$1.log" 2>&1
}
msi_test machine x64,x86 &
machine=$!
msi_test user x64-user &
user=$!
status=0
for run in signing:$signing machine:$machine user:$user; do
  wait "${run#*:}" || status=1
  echo "--- ${run%%:*}"
  cat "$logs/${run%%:*}.log"
done
[ "$status" -eq 0 ] || { echo "=== packages: some checks failed (see above)"; exit 1; }
echo "=== packages built and tested in $(( $(date +%s) - started )) s"
