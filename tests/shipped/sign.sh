#!/usr/bin/env bash
# scripts/sign on a copy of the x86_64 tree's programs, setup and package: without a certificate it
# changes nothing and says so; with a throwaway code-signing certificate every file verifies against
# it, the setup and the package are packed again, the Uninstall.exe the signed setup installs
# verifies too, and SHA256SUMS matches the signed files. The installs run under Wine in a prefix of
# their own, on the test bed's display.
#   sign.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
work=$(mktemp -d /tmp/vorn-sign.XXXXXX)
prefix=$work/prefix
WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver64}
# Ends what the installs started (VornTray) with the private prefix's own server.
trap '[ -d "$prefix" ] && WINEPREFIX=$prefix "$WINESERVER" -k >/dev/null 2>&1; rm -rf "$work"' EXIT
dist=$work/dist
mkdir -p "$dist/win64"
build=$source_dir/build/win64
cp "$build/traymode/VornTray.exe" "$build/installclient/InstallZel.exe" "$build/installer/ZelPCSetup.exe" \
  "$build/installer/ZelPC.msi" "$dist/win64/"
cp -r "$dist" "$work/unsigned"
files=(win64/VornTray.exe win64/InstallZel.exe win64/ZelPCSetup.exe win64/ZelPC.msi)
fail() { echo "FAIL: $*"; exit 1; }

out=$(env -u VORN_SIGN_PFX -u VORN_SIGN_PASSWORD "$source_dir/scripts/sign" "$dist")
echo "$out"
[[ $out == "Not signed: no certificate given"* ]] || fail "no plain 'Not signed' line"
diff -r "$work/unsigned" "$dist" || fail "files changed without a certificate"

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Vorn test signing" \
  -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass:throwaway -out "$work/cert.pfx"
VORN_SIGN_PFX=$work/cert.pfx VORN_SIGN_PASSWORD=throwaway "$source_dir/scripts/sign" "$dist"

for file in "${files[@]}"; do
  osslsigncode verify -CAfile "$work/cert.pem" -in "$dist/$file" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log"; fail "$file does not verify"; }
  grep -q "Vorn test signing" "$work/verify.log" || fail "$file is not signed by the test certificate"
  echo "verified: $file"
done
# An unsigned file must not pass the same check, or the check proves nothing.
! osslsigncode verify -CAfile "$work/cert.pem" -in "$work/unsigned/win64/VornTray.exe" >/dev/null 2>&1 ||
  fail "an unsigned program verifies"
# The setup a user runs installs an uninstaller that is signed as well.
install() {
  WINEPREFIX=$prefix WINEDEBUG=-all "$WINE" "$1" /S "/D=C:\\$2" || fail "$1 /S ended with exit code $?"
  uninstaller=$prefix/drive_c/$2/Uninstall.exe
  [ -f "$uninstaller" ] || fail "$1 installed no Uninstall.exe"
}
WINEPREFIX=$prefix WINEDEBUG=-all "$WINE" wineboot --init >/dev/null 2>&1
install "$dist/win64/ZelPCSetup.exe" Signed
osslsigncode verify -CAfile "$work/cert.pem" -in "$uninstaller" >"$work/verify.log" 2>&1 ||
  { cat "$work/verify.log"; fail "the installed Uninstall.exe does not verify"; }
grep -q "Vorn test signing" "$work/verify.log" || fail "the installed Uninstall.exe is not signed by the test certificate"
echo "verified: Uninstall.exe installed by the signed setup"
install "$work/unsigned/win64/ZelPCSetup.exe" Unsigned
! osslsigncode verify -CAfile "$work/cert.pem" -in "$uninstaller" >/dev/null 2>&1 ||
  fail "the Uninstall.exe of an unsigned setup verifies"
cmp -s "$work/unsigned/win64/ZelPCSetup.exe" "$dist/win64/ZelPCSetup.exe" && fail "the setup was not packed again"
# The package carries the signed programs and a signed custom-action DLL.
msidump=$work/msidump
mkdir -p "$msidump" && (cd "$msidump" && msiextract "$dist/win64/ZelPC.msi" >/dev/null && msidump -s "$dist/win64/ZelPC.msi" >/dev/null)
cmp -s "$(find "$msidump" -name VornTray.exe)" "$dist/win64/VornTray.exe" || fail "the package holds another VornTray.exe"
osslsigncode verify -CAfile "$work/cert.pem" -in "$msidump/_Streams/Binary.MsiActions" >/dev/null 2>&1 ||
  fail "the package's custom-action DLL is not signed"
(cd "$dist" && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS does not match"
echo "signed and verified: ${files[*]}"
