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
# <version> is the release version of the file VERSION, or the one --version gives for this
# build. Installs what is missing first (wixl, msitools, osslsigncode), builds the
# deliverables of the presets win64 and win32 when they are out of date.
#
# Reproducible: every time stored in the packages and the zip is SOURCE_DATE_EPOCH, which
# is the time of the last commit unless set; the same commit gives the same unsigned files.
#
# Signing (Authenticode, SHA-256): --sign FILE.pfx signs copies of every DLL and EXE of
# dist/x64 and dist/x86 and packs those, then signs every package. The certificate's password comes
# from the environment variable CORVANE_SIGN_PASSWORD or from --sign-password-file FILE,
# never from the command line; --timestamp URL adds a time stamp from that server (RFC 3161),
# so the signature outlives the certificate.
# --out DIR writes the packages, the zip and SHA256SUMS there instead of dist/.
# --ports also builds the Python and Node packages of the stored formats into DIR/ports
# (ports/build-packages.sh: the wheel, the sdist and the npm .tgz; not in SHA256SUMS).
#   scripts/package.sh [--version X.Y.Z] [--out DIR] [--ports] [--sign FILE.pfx
#                      [--sign-password-file FILE] [--timestamp URL]]
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '2,30p' "$0" >&2; exit 2; }
version=
out=dist
pfx=
password_file=
timestamp=
ports=no
while [ $# -gt 0 ]; do
  case "$1" in
    --version) version=${2:?}; shift 2 ;;
    --sign) pfx=${2:?}; shift 2 ;;
    --sign-password-file) password_file=${2:?}; shift 2 ;;
    --timestamp) timestamp=${2:?}; shift 2 ;;
    --out) out=${2:?}; shift 2 ;;
    --ports) ports=yes; shift ;;
    *) usage ;;
  esac
done
if [ -z "$pfx" ] && { [ -n "$password_file" ] || [ -n "$timestamp" ]; }; then
  echo "package.sh: --sign-password-file and --timestamp need --sign" >&2
  exit 2
fi

scripts/bootstrap.sh package

version=$(python3 packaging/make_package.py release-version ${version:+--version "$version"})
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
fi
export SOURCE_DATE_EPOCH

# The signing password goes to osslsigncode in a file of mode 600, never in its arguments.
secret_dir=
cleanup() { [ -z "$secret_dir" ] || rm -rf "$secret_dir"; }
trap cleanup EXIT
if [ -n "$pfx" ]; then
  [ -r "$pfx" ] || { echo "package.sh: cannot read the certificate $pfx" >&2; exit 2; }
  secret_dir=$(mktemp -d)
  if [ -n "$password_file" ]; then
    cp "$password_file" "$secret_dir/password"
  elif [ -n "${CORVANE_SIGN_PASSWORD+set}" ]; then
    printf '%s' "$CORVANE_SIGN_PASSWORD" > "$secret_dir/password"
  else
    echo "package.sh: --sign needs the password in CORVANE_SIGN_PASSWORD or --sign-password-file" >&2
    exit 2
  fi
  chmod 600 "$secret_dir/password"
fi

# sign FILE DESCRIPTION: an Authenticode signature with a SHA-256 digest, in place.
sign() {
  local options=(-pkcs12 "$pfx" -readpass "$secret_dir/password" -h sha256 -n "$2")
  [ -z "$timestamp" ] || options+=(-ts "$timestamp")
  osslsigncode sign "${options[@]}" -in "$1" -out "$1.signed" >/dev/null
  mv "$1.signed" "$1"
}

for preset in win64 win32; do
  [ -f "build/$preset/CMakeCache.txt" ] || cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target Corvane TamselWrapper corvane corvane_dist_include tamsel_dist_include >/dev/null
done

# What is packed: dist/x64, dist/x86 and dist/include as built, or signed copies of them
# (dist/x64 and dist/x86 stay as the build wrote them).
files=dist
if [ -n "$pfx" ]; then
  files=$out/.signed
  rm -rf "$files" && mkdir -p "$files"
  cp -r dist/x64 dist/x86 dist/include "$files/"
  for file in "$files"/x64/Corvane.dll "$files"/x64/TamselWrapper.dll "$files"/x64/corvane.exe \
              "$files"/x86/Corvane.dll "$files"/x86/TamselWrapper.dll "$files"/x86/corvane.exe; do
    sign "$file" "Corvane"
  done
fi

mkdir -p "$out"
rm -f "$out"/Corvane-*.msi "$out"/Corvane-*.zip "$out"/SHA256SUMS
# Wine's msidb.exe completes what wixl cannot store (see packaging/make_package.py); it
# runs in a prefix of its own, made once.
# CORVANE_PACKAGE_WINE_DIR names another (for runs side by side).
wine_dir=${CORVANE_PACKAGE_WINE_DIR:-build/package/wine}
for package in "x64 perMachine x64" "x86 perMachine x86" "x64 perUser x64-user"; do
  set -- $package
  python3 packaging/make_package.py msi --platform "$1" --scope "$2" --dist "$files" --version "$version" \
    --out "$out/Corvane-$version-$3.msi" --wine-dir "$wine_dir"
  [ -z "$pfx" ] || sign "$out/Corvane-$version-$3.msi" "Corvane $version"
done
docs=(--doc README.md --doc LICENSE --doc CHANGELOG.md)
for doc in docs/*.md; do docs+=(--doc "$doc"); done
python3 packaging/make_package.py zip --dist "$files" "${docs[@]}" --version "$version" --out "$out/Corvane-$version.zip"

(cd "$out" && sha256sum "Corvane-$version-x64.msi" "Corvane-$version-x86.msi" "Corvane-$version-x64-user.msi" \
  "Corvane-$version.zip" > SHA256SUMS)
[ "$files" = dist ] || rm -rf "$files"
echo "$out/SHA256SUMS:"
cat "$out/SHA256SUMS"
if [ "$ports" = yes ]; then
  rm -rf "$out/ports"
  echo "$out/ports:"
  ports/build-packages.sh "$out/ports"
fi
if [ -n "$pfx" ]; then
  echo "package.sh: Corvane $version, signed with $pfx${timestamp:+, time-stamped by $timestamp}"
else
  echo "package.sh: Corvane $version, UNSIGNED (no --sign certificate given)"
fi
