# The test bed, sourced by the scripts: packages, a private X display with the panel modes,
# and a private Wine prefix. Everything it starts is stopped by testbed_stop, by PID.

# A minimal Debian system (a container image, a chroot) may lack even the tools the scripts call
# themselves: mount and unshare, flock, chroot, git for the reproducible-build check, the archive
# keyring for the private apt list.
TESTBED_PACKAGES=(cmake make python3 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest
                wine wine64 xserver-xorg-core xserver-xorg-video-dummy x11-utils imagemagick
                mmdebstrap arch-test nsis osslsigncode openssl python3-matplotlib
                wixl msitools faketime mount util-linux coreutils git debian-archive-keyring)

# The 64-bit Wine, named explicitly: Debian's `wine` launcher hands every program to the 32-bit
# loader once wine32:i386 is installed, even on a machine that cannot run it. The i686 phase
# (scripts/lib/wine32.sh) sets both to the i386 root's.
WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver64}

testbed_log() { echo "[testbed] $*" >&2; }

# A path as Wine's Z: drive shows it.
winpath() { echo "Z:${1//\//\\}"; }

# Installs what is missing; needs root on a fresh machine.
testbed_install() {
  local missing=()
  for p in "${TESTBED_PACKAGES[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    testbed_log "installing ${missing[*]}"
    apt-get update -qq || true
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

# testbed_wait_for SECONDS WHAT CMD...: runs CMD every 0.1 s until it succeeds; after SECONDS it
# gives up, saying what it waited for, and fails.
testbed_wait_for() {
  local seconds=$1 what=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      testbed_log "gave up after ${seconds} s waiting for $what"
      return 1
    fi
    sleep 0.1
  done
}

testbed_xorg_alive() { kill -0 "$TESTBED_XORG_PID" 2>/dev/null; }
# Done once Xorg has written its display number, or has died trying.
testbed_xorg_settled() { [ -s "$TESTBED_DIR/display" ] || ! testbed_xorg_alive; }

# Starts the display and the prefix; exports DISPLAY, WINEPREFIX and TESTBED_DIR.
testbed_start() {
  TESTBED_DIR=$(mktemp -d /tmp/vorn-testbed.XXXXXX)
  local here
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  # Xorg takes a free display number itself and writes it to fd 3 once it accepts clients, so two
  # test beds starting at once cannot pick the same number.
  Xorg -displayfd 3 -config "$here/xorg-panel.conf" -noreset -nolisten tcp -novtswitch \
       -logfile "$TESTBED_DIR/xorg.log" 3>"$TESTBED_DIR/display" >"$TESTBED_DIR/xorg.out" 2>&1 &
  TESTBED_XORG_PID=$!
  if ! testbed_wait_for 20 "Xorg to report its display number" testbed_xorg_settled || ! testbed_xorg_alive; then
    testbed_log "Xorg did not come up; its output:"
    cat "$TESTBED_DIR/xorg.out" >&2
    return 1
  fi
  export DISPLAY=":$(head -n 1 "$TESTBED_DIR/display")"
  export WINEPREFIX="$TESTBED_DIR/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # What Debian's launcher sets for the 64-bit loader; the i386 root's `wine` drops it again.
  export WINELOADER=/usr/lib/wine/wine64
  "$WINE" wineboot --init >/dev/null 2>&1
  # A crash must fail the test, not wait for somebody to close a dialog.
  "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  "$WINESERVER" -w
  testbed_log "display $DISPLAY, prefix $WINEPREFIX"
}

testbed_stop() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "${WINEPREFIX}" ]; then
    "$WINESERVER" -k >/dev/null 2>&1 || true
  fi
  if [ -n "${TESTBED_XORG_PID:-}" ]; then
    kill "$TESTBED_XORG_PID" 2>/dev/null || true
    wait "$TESTBED_XORG_PID" 2>/dev/null || true
  fi
  [ -n "${TESTBED_DIR:-}" ] && rm -rf "$TESTBED_DIR"
  TESTBED_XORG_PID= TESTBED_DIR=
}
