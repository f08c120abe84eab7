#!/usr/bin/env bash
# scripts/build's copy into dist/ on a small build folder: with a program missing it stops, naming
# the file, and copies nothing; with all four present it copies each from where the build left it.
#   distfiles.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
work=$(mktemp -d /tmp/vorn-distfiles.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
cd "$work"
mkdir -p build/win64/traymode build/win64/installclient build/win64/installer
echo tray >build/win64/traymode/VornTray.exe
echo setup >build/win64/installer/ZelPCSetup.exe
echo package >build/win64/installer/ZelPC.msi
# A same-named file elsewhere in the build folder must not stand in for the missing one.
mkdir -p build/win64/stale
echo stale >build/win64/stale/InstallZel.exe

copy() { bash -c 'set -euo pipefail; source "$1/scripts/lib/distfiles.sh"; copy_built win64' copy "$source_dir"; }
if copy 2>"$work/err"; then
  fail "the copy succeeded without build/win64/installclient/InstallZel.exe"
fi
cat "$work/err"
grep -q "build/win64/installclient/InstallZel.exe is missing" "$work/err" || fail "the missing file is not named"
[ ! -e dist ] || fail "dist/ was written for an incomplete build: $(find dist -type f | tr '\n' ' ')"

echo client >build/win64/installclient/InstallZel.exe
copy || fail "the copy of a complete build failed"
for file in traymode/VornTray.exe installclient/InstallZel.exe installer/ZelPCSetup.exe installer/ZelPC.msi; do
  cmp -s "build/win64/$file" "dist/win64/$(basename "$file")" || fail "dist/win64/$(basename "$file") is not build/win64/$file"
done
echo "missing file named, complete build copied"
