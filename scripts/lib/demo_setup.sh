# The setup program's part of the demo, sourced by scripts/demo: the wizard as a user goes through
# it, page by page with a screenshot each, the Apps entry it writes, then the uninstaller with its
# check box. Needs the test bed started and the win64 build in build/win64 and dist/win64.

# demo_setup OUT_DIR: the screenshots go into OUT_DIR. It runs in a subshell, so that its helpers
# (shoot, next, installed) stay its own and do not leak into the caller.
demo_setup() (
  local out=$1
  local root tools work log server setup uninstaller status started
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  tools=$root/build/win64/tools
  work=$(mktemp -d /tmp/setup-demo.XXXXXX)
  log="$WINEPREFIX/drive_c/Program Files/Vorn/ZelPC/ZelPCSetup.log"
  local apps='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VornZelPC'
  local run='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'

  # The page on screen, photographed; then "Next" (or whatever the default button says) is pressed.
  shoot() {
    sleep 1
    import -display "$DISPLAY" -window root "$out/$1.png"
    echo "  screenshot: $out/$1.png"
  }
  next() { "$WINE" "$tools/answerbox.exe" --press | tr -d '\r' | grep pressed | sed 's/^/  /'; }
  installed() { [ -f "$log" ] && iconv -f UTF-16LE <"$log" | grep -q '^Installed'; }

  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
  "$WINE" "$tools/acpiserver/acpiserver.exe" --log "$(winpath "$work/acpiserver.log")" &
  server=$!
  testbed_wait_for 10 "the ACPI server stand-in's log" test -s "$work/acpiserver.log"

  echo "== ZelPCSetup.exe is opened (the ACPI server stand-in runs): the welcome page"
  "$WINE" "$root/dist/win64/ZelPCSetup.exe" &
  setup=$!
  "$WINE" "$tools/answerbox.exe" | tr -d '\r' | grep caption | sed 's/^/  /'
  shoot setup-1-welcome
  next
  echo "== The folder page: the 64-bit Program Files"
  shoot setup-2-folder
  next
  echo "== The progress page, once the installation is complete"
  testbed_wait_for 30 "the setup log's \"Installed\" line" installed
  shoot setup-3-progress
  iconv -f UTF-16LE <"$log" | tr -d '\r' | sed 's/^/  log: /'
  echo "  the stand-in logged $(grep -c ' request ' "$work/acpiserver.log") requests from InstallZel"
  next
  echo "== The finish page; \"Start VornTray now\" is ticked, Finish is pressed"
  shoot setup-4-finish
  next
  status=0
  wait "$setup" || status=$?
  echo "  setup ended with exit code $status"
  sleep 2
  echo "== What Windows now knows: the Apps entry and the logon start"
  "$WINE" reg query "$apps" | tr -d '\r' | grep REG_ | sed 's/^ */  /'
  "$WINE" reg query "$run" | tr -d '\r' | grep VornTray | sed 's/^ */  Run: /'
  echo "  VornTray runs: its icon is in the corner of the next screenshot"

  echo "== The uninstaller is opened from the Apps entry: the saved panel mode stays unless ticked"
  uninstaller=$("$WINE" reg query "$apps" /v UninstallString | tr -d '\r"' | sed -n 's/.*REG_SZ *//p')
  "$WINE" "$uninstaller" &
  started=$!
  "$WINE" "$tools/answerbox.exe" | tr -d '\r' | grep caption | sed 's/^/  /'
  shoot uninstall-1-components
  next
  sleep 3
  echo "== The uninstaller's progress page"
  shoot uninstall-2-progress
  next
  wait "$started" || true
  sleep 2
  echo "== Afterwards"
  "$WINE" reg query "$apps" >/dev/null 2>&1 && echo "  Apps entry: still there" || echo "  Apps entry: gone"
  "$WINE" reg query "$run" /v VornTray >/dev/null 2>&1 && echo "  Run value: still there" || echo "  Run value: gone"
  [ -e "$WINEPREFIX/drive_c/Program Files/Vorn" ] && echo "  folder: still there" || echo "  folder: gone"
  shoot uninstall-3-done
  echo "  VornTray has ended: its icon is gone"
  "$WINE" reg query 'HKLM\SOFTWARE\Vorn\ZelPC' 2>/dev/null | tr -d '\r' | grep Disp | sed 's/^ */  saved mode kept: /'

  kill "$server"
  wait "$server" 2>/dev/null || true
  rm -rf "$work"
)
