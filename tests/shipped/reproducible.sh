#!/usr/bin/env bash
# The same sources built in two folders of different names and depths must give byte-identical
# programs, setups and packages: nothing of the build's path or time may end up in them (the
# packages' summary stream and cabinet included).
#   reproducible.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
work=$(mktemp -d /tmp/vorn-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT
first=$work/a
second=$work/second-build/with/a/longer/path
for copy in "$first" "$second"; do
  mkdir -p "$copy"
  # The tracked files as they are in the working tree.
  git -C "$source_dir" ls-files -z | (cd "$source_dir" && tar --null -T - -cf -) | tar -xf - -C "$copy"
  for target in win32 win64; do
    (cd "$copy" && cmake --preset "$target" >/dev/null && cmake --build --preset "$target" --target setup package -j "$(nproc)" >/dev/null)
  done
done
status=0
for target in win32 win64; do
  for file in traymode/VornTray.exe installclient/InstallZel.exe installer/ZelPCSetup.exe installer/ZelPC.msi; do
    a=$first/build/$target/$file b=$second/build/$target/$file
    if cmp -s "$a" "$b"; then
      echo "identical: $target/$(basename "$file") $(sha256sum <"$a" | cut -c1-16)"
    else
      echo "DIFFERENT: $target/$(basename "$file"), first differing bytes:"
      cmp -l "$a" "$b" | head -5 || true
      status=1
    fi
  done
done
exit $status
