# The package's part of the demo, sourced by scripts/demo: ZelPC.msi installed silently as a
# deployment tool runs it (the ACPI server stand-in runs), the Apps entry Windows Installer writes,
# and the silent uninstall by ProductCode. Needs the test bed started and the win64 build in
# build/win64 and dist/win64.

# demo_package OUT_DIR: the msiexec logs go into OUT_DIR.
demo_package() {
  local out=$1
  local root tools work server package code started elapsed product entry
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  tools=$root/build/win64/tools
  work=$(mktemp -d /tmp/package-demo.XXXXXX)
  package="Z:${root//\//\\}\\dist\\win64\\ZelPC.msi"
  local uninstall_root='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
  local run='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
  # msiexec's own exit code, through cmd: Wine cuts a process's code to 8 bits. Delayed expansion,
  # since %ERRORLEVEL% would be expanded before msiexec runs.
  msiexec_quiet() {
    "$WINE" cmd /v:on /c "start /wait msiexec $* & echo !ERRORLEVEL!" 2>/dev/null | tr -d '\r' | tail -n 1
  }

  "$WINE" "$tools/acpiserver/acpiserver.exe" --log "Z:${work//\//\\}\\acpiserver.log" &
  server=$!
  testbed_wait_for 10 "the ACPI server stand-in's log" test -s "$work/acpiserver.log"

  echo "== ZelPC.msi installed silently (the ACPI server stand-in runs): msiexec /i ZelPC.msi /qn /l*v"
  started=$SECONDS
  code=$(msiexec_quiet /i "$package" /qn /l*v "Z:${out//\//\\}\\package-install.log")
  elapsed=$((SECONDS - started))
  echo "  msiexec ended with exit code $code after about $elapsed s; log: $out/package-install.log"
  grep -a -E '^(Running InstallZel|InstallZel ended|InstallZel skipped)' "$out/package-install.log" | sed 's/^/  log: /'
  echo "  the stand-in logged $(grep -c ' request ' "$work/acpiserver.log") requests from InstallZel"
  echo "== What Windows now knows: the Apps entry Windows Installer wrote, and the logon start"
  # The ProductCode, read from the package as a deployment tool reads it, names the entry.
  product=$(msiinfo export "$root/dist/win64/ZelPC.msi" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p')
  entry="$uninstall_root\\$product"
  echo "  $entry"
  "$WINE" reg query "$entry" | tr -d '\r' |
    grep -E ' (DisplayName|DisplayVersion|Publisher|InstallLocation|UninstallString|NoModify|NoRepair) ' | sed 's/^ */  /'
  "$WINE" reg query "$run" | tr -d '\r' | grep VornTray | sed 's/^ */  Run: /'
  ls "$WINEPREFIX/drive_c/Program Files/Vorn/ZelPC" | sed 's/^/  installed: /'

  echo "== Uninstalled silently by its ProductCode: msiexec /x $product /qn"
  code=$(msiexec_quiet /x "$product" /qn /l*v "Z:${out//\//\\}\\package-uninstall.log")
  echo "  msiexec ended with exit code $code; log: $out/package-uninstall.log"
  "$WINE" reg query "$entry" >/dev/null 2>&1 && echo "  Apps entry: still there" || echo "  Apps entry: gone"
  "$WINE" reg query "$run" /v VornTray >/dev/null 2>&1 && echo "  Run value: still there" || echo "  Run value: gone"
  [ -e "$WINEPREFIX/drive_c/Program Files/Vorn" ] && echo "  folder: still there" || echo "  folder: gone"

  kill "$server"
  wait "$server" 2>/dev/null || true
  rm -rf "$work"
}
