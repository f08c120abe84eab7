#!/usr/bin/env bash
# The packages of both trees checked by check_sequence.py, and the check itself shown to catch
# wixl's traps: the same source packed with each trap put back must fail it.
#   sequence.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/vorn-sequence.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

packages=()
for target in win32 win64; do
  package=$source_dir/build/$target/installer/ZelPC.msi
  [ -f "$package" ] || fail "$package is missing: scripts/build builds both"
  packages+=("$package")
done
"$here/check_sequence.py" --source "$source_dir/installer/zelpc.wxs" "${packages[@]}"

build=$source_dir/build/win64
traps=(
  'only_before|s|<Custom Action="CloseVornTray" After="InstallValidate" |<Custom Action="CloseVornTray" |'
  'others_between|s|<Custom Action="CloseVornTray" After="InstallValidate" Before="InstallInitialize"|<Custom Action="CloseVornTray" After="InstallValidate" Before="ProcessComponents"|'
  'remove_existing_products_unpinned|s|      <RemoveExistingProducts [^\n]*\n||'
  'remove_existing_products_outside_the_script|s|<RemoveExistingProducts After="InstallInitialize" Before="ProcessComponents"/>|<RemoveExistingProducts After="InstallValidate" Before="InstallInitialize"/>|'
  'condition_on_three_lines|s|>NOT Installed</Custom>\n    </InstallExecuteSequence>|>\n        NOT Installed\n      </Custom>\n    </InstallExecuteSequence>|'
  'impersonate_left_to_wixl|s| Impersonate="yes"||'
  'component_state_dollar_single|s|>\$\$Programs=3<|>$Programs=3<|'
)
for entry in "${traps[@]}"; do
  name=${entry%%|*} script=${entry#*|}
  mkdir -p "$work/$name"
  cp "$source_dir/installer/pack-msi" "$source_dir/installer/installfacts.h" "$work/$name/"
  sed -z "$script" "$source_dir/installer/zelpc.wxs" >"$work/$name/zelpc.wxs"
  cmp -s "$source_dir/installer/zelpc.wxs" "$work/$name/zelpc.wxs" && fail "trap $name changed nothing in zelpc.wxs"
  "$work/$name/pack-msi" x64 "$build/traymode/VornTray.exe" "$build/installclient/InstallZel.exe" \
    "$build/installer/msiactions/msiactions.dll" "$build/traymode/icons/vorntray.ico" "$work/$name/ZelPC.msi" \
    2>"$work/$name/pack.err" || { cat "$work/$name/pack.err"; fail "trap $name could not be packed"; }
  if "$here/check_sequence.py" --source "$work/$name/zelpc.wxs" "$work/$name/ZelPC.msi" >"$work/$name/check.out"; then
    fail "trap $name passes the check"
  fi
  echo "trap $name caught: $(grep -m1 FAULT "$work/$name/check.out" | sed 's/^FAULT [^:]*: //')"
done
