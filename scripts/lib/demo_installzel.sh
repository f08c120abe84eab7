# InstallZel's part of the demo, sourced by scripts/demo: a run against the ACPI server stand-in,
# whose log shows every request and reply, then a run without a server, whose message box is
# photographed and answered. Needs the test bed started (DISPLAY and WINEPREFIX exported) and the
# win64 build in build/win64 and dist/win64.

# demo_installzel OUT_DIR: the screenshot goes into OUT_DIR.
demo_installzel() {
  local out=$1
  local root tools program work status
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  tools=$root/build/win64/tools
  program=$root/dist/win64/InstallZel.exe
  work=$(mktemp -d /tmp/installzel-demo.XXXXXX)

  echo "== InstallZel runs while the ACPI server stand-in runs; the stand-in allows every device switch"
  "$WINE" "$tools/acpiserver/acpiserver.exe" --log "$(winpath "$work/acpiserver.log")" &
  local server=$!
  testbed_wait_for 10 "the ACPI server stand-in's log" test -s "$work/acpiserver.log"
  status=0
  "$WINE" "$program" || status=$?
  echo "  The stand-in's log: milliseconds, the 24 bytes as they lie in the block, the record decoded"
  tr -d '\r' <"$work/acpiserver.log" | sed 's/^/  /'
  echo "  InstallZel ended with exit code $status"
  kill "$server"
  wait "$server" 2>/dev/null || true

  echo "== InstallZel runs without a server: after its 11 s wait it shows one message box"
  # The test bed has no window manager; told that windows are undecorated, Wine draws the box's caption.
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
  "$WINE" "$program" &
  local client=$!
  "$WINE" "$tools/answerbox.exe" | tr -d '\r' | sed 's/^/  /'
  sleep 0.5
  import -display "$DISPLAY" -window root "$out/installzel-no-server.png"
  echo "  screenshot of the message box: $out/installzel-no-server.png"
  "$WINE" "$tools/answerbox.exe" --press | tr -d '\r' | grep pressed | sed 's/^/  /'
  status=0
  wait "$client" || status=$?
  echo "  InstallZel ended with exit code $status"
  rm -rf "$work"
}
