# 32-bit Wine for the i686 build, sourced by the scripts after testbed.sh.
#
# The i686 programs run in an i386 Debian root with its own Wine (wine32, and wine64:amd64 so that
# the wineserver and any 64-bit helper run natively). The host's Wine is never touched: once
# wine32:i386 is installed on the host, Debian's `wine` launcher hands every program to the 32-bit
# loader, and on a machine that cannot execute 32-bit x86 code that breaks the 64-bit test bed too.
#
# Where the kernel runs i386 code, the root runs natively. Where it cannot, qemu-i386 runs it,
# registered in binfmt_misc for the length of the run; it comes from bookworm-backports (qemu 10):
# bookworm's own qemu 7.2 spends 80-90 s of CPU on every Wine process before it does anything.
# Both the root and qemu are kept in a cache folder outside the checkout and reused while intact.
#
#   wine32_prepare          makes the root usable; false, with the reason in WINE32_WHY, when not
#   wine32_run CMD...       runs CMD with the root's Wine first on PATH, in a private mount namespace
#   wine32_release          removes what wine32_prepare registered
#
# VORN_I386=qemu forces emulation on a machine that could run the root natively.

WINE32_CACHE=${VORN_CACHE:-/var/cache/vorn-zelpc}
WINE32_ROOT=$WINE32_CACHE/i386-root
WINE32_X_LIBS="libxrandr2 libxrender1 libxi6 libxcursor1 libxfixes3 libxinerama1 libxcomposite1 libxxf86vm1"
# Wine loads the X libraries at run time: without recommends they must be named, or mode switches fail.
WINE32_PACKAGES="wine wine32 wine64:amd64 $WINE32_X_LIBS $(printf '%s:amd64 ' $WINE32_X_LIBS)"
WINE32_MIRROR=http://deb.debian.org/debian
WINE32_BINFMT=
WINE32_WHY=
WINE32_EMULATED=no
# How much slower than native the tests may find the machine: the one factor on machine-bound timing.
export VORN_TIME_FACTOR=1

wine32_why() { WINE32_WHY="$*"; return 1; }

# qemu-i386 from bookworm-backports, fetched with a private apt list so the host's sources stay as
# they are; only the static binary is kept.
wine32_fetch_qemu() {
  local dir=$WINE32_CACHE/qemu
  [ -x "$dir/qemu-i386" ] && "$dir/qemu-i386" --version | grep -q 'version 10\.' && return 0
  local apt=$WINE32_CACHE/apt
  mkdir -p "$apt/lists/partial" "$dir"
  echo "deb $WINE32_MIRROR bookworm-backports main" >"$apt/sources.list"
  local opts=(-o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
              -o "Dir::State::Lists=$apt/lists" -o Debug::NoLocking=1)
  apt-get "${opts[@]}" update -qq >/dev/null 2>&1 || return 1
  (cd "$apt" && rm -f qemu-user_*.deb && apt-get "${opts[@]}" download qemu-user >/dev/null 2>&1) || return 1
  dpkg-deb --fsys-tarfile "$apt"/qemu-user_*.deb | tar -xO ./usr/bin/qemu-i386 >"$dir/qemu-i386.new" || return 1
  chmod +x "$dir/qemu-i386.new" && mv "$dir/qemu-i386.new" "$dir/qemu-i386"
  rm -f "$apt"/qemu-user_*.deb
  # Debian's qemu keeps argv[0] (binfmt flag P) only when its name ends in -binfmt-P.
  ln -sf qemu-i386 "$dir/qemu-i386-binfmt-P"
}

# Registers qemu for i386 ELF programs. F opens the interpreter now, so it also works inside the root.
wine32_register_qemu() {
  [ -e /proc/sys/fs/binfmt_misc/register ] ||
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || return 1
  WINE32_BINFMT=vorn-i386-$$
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\xfc\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":$WINE32_BINFMT:M::$magic:$mask:$WINE32_CACHE/qemu/qemu-i386-binfmt-P:OPF" \
    >/proc/sys/fs/binfmt_misc/register 2>/dev/null || { WINE32_BINFMT=; return 1; }
}

wine32_release() {
  if [ -n "$WINE32_BINFMT" ] && [ -e "/proc/sys/fs/binfmt_misc/$WINE32_BINFMT" ]; then
    echo -1 >"/proc/sys/fs/binfmt_misc/$WINE32_BINFMT" || true
  fi
  WINE32_BINFMT=
}

wine32_root_intact() {
  [ "$(cat "$WINE32_ROOT/.vorn-packages" 2>/dev/null)" = "$WINE32_PACKAGES" ] &&
    wine32_run wine --version >/dev/null 2>&1
}

# About 330 MB to download; a minute to build where i386 runs natively, about 7 under qemu. Man
# pages, docs and locales are left out.
wine32_build_root() {
  testbed_log "building the i386 root for 32-bit Wine in $WINE32_ROOT"
  rm -rf "$WINE32_ROOT.new"
  # i386 programs already run (wine32_prepare saw to it); mmdebstrap's own check would look for a
  # qemu of Debian's naming instead of the one registered here.
  mmdebstrap --quiet --variant=apt --architectures=i386,amd64 --include="${WINE32_PACKAGES// /,}" \
    --skip=check/qemu \
    --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/doc/*' \
    --dpkgopt='path-exclude=/usr/share/locale/*' \
    bookworm "$WINE32_ROOT.new" "$WINE32_MIRROR" >"$WINE32_CACHE/mmdebstrap.log" 2>&1 || return 1
  echo "$WINE32_PACKAGES" >"$WINE32_ROOT.new/.vorn-packages"
  rm -rf "$WINE32_ROOT" && mv "$WINE32_ROOT.new" "$WINE32_ROOT"
}

wine32_prepare() {
  command -v mmdebstrap >/dev/null && command -v arch-test >/dev/null ||
    { wine32_why "mmdebstrap and arch-test are not installed"; return 1; }
  mkdir -p "$WINE32_CACHE"
  if [ "${VORN_I386:-}" != qemu ] && arch-test -n i386 >/dev/null 2>&1; then
    testbed_log "this machine runs i386 code natively"
  else
    wine32_fetch_qemu || { wine32_why "qemu-i386 10 could not be fetched from bookworm-backports"; return 1; }
    wine32_register_qemu || { wine32_why "qemu-i386 could not be registered in binfmt_misc"; return 1; }
    arch-test i386 >/dev/null 2>&1 ||
      { wine32_release; wine32_why "i386 programs do not run even under qemu-i386"; return 1; }
    # Measured: the i686 tests run 2.3-2.4 times slower under emulation than natively.
    export VORN_TIME_FACTOR=4
    WINE32_EMULATED=yes
    testbed_log "this machine runs i386 code under $("$WINE32_CACHE/qemu/qemu-i386" --version | head -1)"
  fi
  if ! wine32_root_intact; then
    wine32_build_root || { wine32_release; wine32_why "the i386 root could not be built (see $WINE32_CACHE/mmdebstrap.log)"; return 1; }
    # Verify what was built; a root whose Wine cannot start is removed, not kept for the next run.
    wine32_root_intact ||
      { rm -rf "$WINE32_ROOT"; wine32_release; wine32_why "the i386 root's Wine does not start on this machine"; return 1; }
  fi
}

# The host's display, the checkout and /tmp (the test bed's prefix and X socket) at the same paths
# inside the root; all mounts die with the namespace.
wine32_run() {
  local here
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  VORN_I386_ROOT=$WINE32_ROOT PATH="$here/wine32:$PATH" \
    unshare --mount --propagation private -- bash -c '
      set -e
      root=$VORN_I386_ROOT repo=$(pwd)
      mount --rbind /dev "$root/dev"
      mount -t proc proc "$root/proc"
      mount --rbind /sys "$root/sys" && mount -o remount,bind,ro "$root/sys"
      mount --bind /tmp "$root/tmp"
      mkdir -p "$root$repo" && mount --bind "$repo" "$root$repo"
      exec "$@"' wine32-run "$@"
}

# ctest on the i686 tree with a test bed of its own, inside the root's namespace.
wine32_ctest() {
  wine32_run bash -c '
    source scripts/lib/testbed.sh
    WINE=wine WINESERVER=wineserver
    trap testbed_stop EXIT
    testbed_start
    ctest --preset win32 "$@"' wine32-ctest "$@"
}
