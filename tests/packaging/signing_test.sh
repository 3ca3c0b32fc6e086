#!/usr/bin/env bash
# Authenticode signing of a release with a throwaway certificate authority: scripts/package.sh
# --sign with the password in CORVANE_SIGN_PASSWORD; then every DLL and EXE of the zip and
# every package verifies against that authority (osslsigncode verify), a DLL with one byte
# changed does not, and under wine64 the signed x64 package installs, its signed DLLs
# register again with regsvr32 and serve the 64-bit cscript.
#   tests/packaging/signing_test.sh WORK_DIR      (run from the repository root)
set -euo pipefail
work=$(realpath -m "$1")
rm -rf "$work" && mkdir -p "$work"
failures=0
check() { # check STATUS WHAT
  if [ "$1" -eq 0 ]; then echo "ok: $2"; else echo "FAIL: $2"; failures=$((failures + 1)); fi
}

# A certificate authority and a code-signing certificate it issued, in a password-protected
# PKCS#12 file.
(
  cd "$work"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 -subj "/CN=Corvane Test CA" \
    -addext basicConstraints=critical,CA:true -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=Corvane Test Signer" 2>/dev/null
  printf 'extendedKeyUsage=codeSigning\nkeyUsage=critical,digitalSignature\nbasicConstraints=CA:false\n' > signer.ext
  openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out signer.pem -days 30 \
    -extfile signer.ext 2>/dev/null
  openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -out signer.pfx \
    -passout pass:throwaway-secret
)

set +e  # from here each check reports its own failure
output=$(CORVANE_SIGN_PASSWORD=throwaway-secret scripts/package.sh --sign "$work/signer.pfx" --out "$work/dist")
[ $? -eq 0 ] || { printf '%s\n' "$output"; echo "FAIL: package.sh --sign"; exit 1; }
last=$(printf '%s\n' "$output" | tail -n 1)
case "$last" in *", signed with "*) check 0 "package.sh --sign: $last" ;; *) check 1 "package.sh --sign: $last" ;; esac
if printf '%s\n' "$output" | grep -q throwaway-secret; then check 1 "the password appears in the output"; fi
version=$(python3 packaging/make_package.py release-version)

verify() { osslsigncode verify -CAfile "$work/ca.pem" -ignore-crl -ignore-cdp -in "$1" >"$work/verify.log" 2>&1; }
mkdir -p "$work/zip"
python3 -m zipfile -e "$work/dist/Corvane-$version.zip" "$work/zip"
bad=()
for file in "$work/zip/Corvane-$version"/x64/* "$work/zip/Corvane-$version"/x86/* "$work/dist"/*.msi; do
  verify "$file" || bad+=("$(basename "$(dirname "$file")")/$(basename "$file")")
done
check ${#bad[@]} "every DLL and EXE of the zip and every package verifies against the test CA${bad[*]:+; not: ${bad[*]}}"
python3 - "$work/dist/Corvane-$version-x64.msi" "$work/zip/Corvane-$version/x64/Corvane.dll" <<'PY'
import re, subprocess, sys
for path in sys.argv[1:]:
    out = subprocess.run(["osslsigncode", "verify", "-in", path], capture_output=True, text=True).stdout
    if not re.search(r"Message digest algorithm\s*: SHA256", out):
        sys.exit(1)
PY
check $? "the signatures' digests are SHA-256 (a package, a DLL)"

# One changed byte in the middle of a signed DLL.
cp "$work/zip/Corvane-$version/x64/Corvane.dll" "$work/tampered.dll"
size=$(stat -c %s "$work/tampered.dll")
python3 - "$work/tampered.dll" $((size / 2)) <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read()); data[int(sys.argv[2])] ^= 1
open(sys.argv[1], "wb").write(data)
PY
if verify "$work/tampered.dll"; then check 1 "a signed DLL with one changed byte fails verification"
else check 0 "a signed DLL with one changed byte fails verification"; fi

# The signed package and DLLs under wine64.
export WINEPREFIX="$work/prefix" WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8 \
  WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY
wine=/usr/lib/wine/wine64
winpath() { printf 'Z:%s' "$(realpath "$1" | tr / '\\')"; }
$wine wineboot -i </dev/null >/dev/null 2>&1
wineserver -p </dev/null >/dev/null 2>&1 || true
$wine msiexec /i "$(winpath "$work/dist/Corvane-$version-x64.msi")" /qn </dev/null >/dev/null 2>&1
check $? "the signed x64 package installs (msiexec /i /qn)"
installed="$WINEPREFIX/drive_c/Program Files/Corvane"
verify "$installed/Corvane.dll"
check $? "... and installs the signed Corvane.dll"
status=0
for dll in Corvane.dll TamselWrapper.dll; do
  $wine regsvr32 /s "C:\\Program Files\\Corvane\\$dll" </dev/null >/dev/null 2>&1 || status=1
done
check $status "regsvr32 registers the signed DLLs"
$wine regsvr32 /s "$(winpath build/win64/tests/fixtures/TamselFixtures.dll)" </dev/null >/dev/null 2>&1
result=$($wine cscript //nologo "$(winpath tests/packaging/installed_objects.js)" </dev/null 2>&1 || true)
case "$result" in *"all checks passed"*) check 0 "the signed DLLs serve the 64-bit cscript" ;;
  *) check 1 "the signed DLLs serve the 64-bit cscript: $result" ;; esac
if [ ! -x /usr/lib/wine/wine ]; then
  echo "SKIPPED: the signed x86 DLLs under the 32-bit cscript (no 32-bit Wine)"
else
  $wine regsvr32 /s "$(winpath build/win32/tests/fixtures/TamselFixtures.dll)" </dev/null >/dev/null 2>&1
  result=$(/usr/lib/wine/wine cscript //nologo "$(winpath tests/packaging/installed_objects.js)" </dev/null 2>&1 || true)
  case "$result" in *"all checks passed"*) check 0 "the signed x86 DLLs serve the 32-bit cscript" ;;
    *) check 1 "the signed x86 DLLs serve the 32-bit cscript: $result" ;; esac
fi
wineserver -k </dev/null >/dev/null 2>&1 || true
[ "$failures" -eq 0 ] || { echo "signing: $failures checks failed"; exit 1; }
echo "signing: all checks passed"
