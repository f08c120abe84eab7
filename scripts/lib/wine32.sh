# 32-bit Wine for the i686 build, sourced by the scripts after testbed.sh.
#
# The i686 programs run in an i386 Debian root with its own Wine (wine32, and wine64:amd64 so that
# the wineserver and any 64-bit helper run natively). The host's Wine is never touched: once
# wine32:i386 is installed on the host, Debian's `wine` launcher hands every program to the 32-bit
# loader, and on a machine that cannot execute 32-bit x86 code that breaks the 64-bit test bed too.
#
# Where the kernel runs i386 code, the root runs natively. Where it cannot, qemu-i386 10 runs it,
# registered in binfmt_misc for the length of the run. It comes from the host's own release where
# that has qemu 10 (Debian 13), else from its backports (Debian 12): bookworm's own qemu 7.2 spends
# 80-90 s of CPU on every Wine process before it does anything. Both the root and qemu are kept in a
# cache folder outside the checkout and reused while intact.
#
# The cache is shared by every run on the machine: a run holds a shared lock on it for as long as it
# uses the root, and an exclusive one while it builds or replaces anything in it.
#
#   wine32_prepare          makes the root usable and takes the lock; false, with the reason in
#                           WINE32_WHY, when not
#   wine32_run CMD...       runs CMD with the root's Wine first on PATH, in a private mount namespace
#   wine32_release          removes what wine32_prepare registered and lets the lock go
#
# VORN_I386=qemu forces emulation on a machine that could run the root natively.
# VORN_I386_RELEASE names the root's Debian release (bookworm: Wine 8, what the i686 tests are
# measured with on Debian 12 and 13 alike); changing it builds a new root.

WINE32_CACHE=${VORN_CACHE:-/var/cache/vorn-zelpc}
WINE32_ROOT=$WINE32_CACHE/i386-root
WINE32_RELEASE=${VORN_I386_RELEASE:-bookworm}
WINE32_X_LIBS="libxrandr2 libxrender1 libxi6 libxcursor1 libxfixes3 libxinerama1 libxcomposite1 libxxf86vm1"
# Wine loads the X libraries at run time: without recommends they must be named, or mode switches fail.
WINE32_PACKAGES="wine wine32 wine64:amd64 $WINE32_X_LIBS $(printf '%s:amd64 ' $WINE32_X_LIBS)"
# What the root was built from; a root with another stamp is built anew.
WINE32_STAMP="$WINE32_RELEASE: $WINE32_PACKAGES"
WINE32_MIRROR=http://deb.debian.org/debian
WINE32_BUILD_LOG=$WINE32_CACHE/mmdebstrap.log
# A whole i686 run holds the shared lock; a build waits for the runs before it, within reason.
WINE32_LOCK_SECONDS=3600
WINE32_LOCK=
WINE32_BINFMT=
WINE32_WHY=
WINE32_EMULATED=no
# How much slower than native the tests may find the machine: the one factor on machine-bound timing.
# Only a default: scripts/bench sources this file again inside the root, under the factor set below.
if [ -z "${VORN_TIME_FACTOR:-}" ]; then
  export VORN_TIME_FACTOR=1
  WINE32_DEFAULT_FACTOR=yes
fi

wine32_why() { WINE32_WHY="$*"; return 1; }

# wine32_try [--log FILE] CMD...: runs CMD; when it fails, WINE32_WHY names CMD and the first line
# of its output that reads as an error (else its last line), so that the reason is the cause. With
# --log the output is also kept in FILE. Other runs may share the cache, so nothing else is written there.
wine32_try() {
  local log=/dev/null output line
  if [ "$1" = --log ]; then log=$2; shift 2; fi
  output=$("$@" 2>&1) && { echo "$output" >"$log"; return 0; }
  echo "$output" >"$log"
  line=$(grep -m 1 -iE '^E: |error|cannot|can.t|fail|not found|denied|invalid|no such' <<<"$output" ||
         tail -n 1 <<<"$output")
  wine32_why "\`$*\` failed: ${line:-no output}"
}

# wine32_lock -s|-x: takes the cache's lock shared or exclusive, converting the one this run holds,
# so that a run that builds and then uses the root never waits for itself.
wine32_lock() {
  if [ -z "$WINE32_LOCK" ]; then
    exec {WINE32_LOCK}>>"$WINE32_CACHE/lock"
  fi
  flock -n "$1" "$WINE32_LOCK" && return 0
  testbed_log "waiting for another run's use of $WINE32_CACHE"
  flock -w "$WINE32_LOCK_SECONDS" "$1" "$WINE32_LOCK" ||
    wine32_why "gave up after $WINE32_LOCK_SECONDS s waiting for the lock on $WINE32_CACHE held by another run"
}

# The private apt list's key: the archive keyring, under the name the host's release gives it.
wine32_keyring() {
  local k
  for k in /usr/share/keyrings/debian-archive-keyring.pgp /usr/share/keyrings/debian-archive-keyring.gpg; do
    [ -f "$k" ] && { echo "$k"; return; }
  done
}

wine32_qemu_ready() {
  [ -x "$WINE32_CACHE/qemu/qemu-i386" ] && "$WINE32_CACHE/qemu/qemu-i386" --version | grep -qE 'version (1[0-9]|[2-9][0-9])\.'
}

# qemu-i386 10 or later, from the host's release or else its backports, fetched with a private apt
# list so the host's sources stay as they are; only the static binary is kept.
wine32_fetch_qemu() {
  local dir=$WINE32_CACHE/qemu apt=$WINE32_CACHE/apt release keyring suite version
  release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$release" ] || { wine32_why "/etc/os-release names no release to fetch qemu-i386 from"; return 1; }
  keyring=$(wine32_keyring)
  [ -n "$keyring" ] || { wine32_why "the Debian archive keyring is not installed"; return 1; }
  mkdir -p "$apt/lists/partial" "$dir"
  local opts=(-o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
              -o "Dir::State::Lists=$apt/lists" -o Debug::NoLocking=1)
  for suite in "$release" "$release-backports"; do
    echo "deb [signed-by=$keyring] $WINE32_MIRROR $suite main" >"$apt/sources.list"
    rm -rf "$apt/lists" && mkdir -p "$apt/lists/partial"
    wine32_try apt-get "${opts[@]}" update || return 1
    version=$(apt-cache "${opts[@]}" show qemu-user 2>/dev/null | sed -n 's/^Version: *//p' | head -n 1)
    # Debian's versions read epoch:upstream; the upstream major is what counts.
    [ "$(echo "${version#*:}" | cut -d. -f1)" -ge 10 ] 2>/dev/null && break
    version=
  done
  [ -n "$version" ] || { wine32_why "neither $release nor $release-backports has qemu-user 10"; return 1; }
  rm -f "$apt"/qemu-user_*.deb
  wine32_try env -C "$apt" apt-get "${opts[@]}" download qemu-user || return 1
  dpkg-deb --fsys-tarfile "$apt"/qemu-user_*.deb | tar -xO ./usr/bin/qemu-i386 >"$dir/qemu-i386.new" ||
    { wine32_why "qemu-user $version holds no ./usr/bin/qemu-i386"; return 1; }
  chmod +x "$dir/qemu-i386.new" && mv "$dir/qemu-i386.new" "$dir/qemu-i386"
  rm -f "$apt"/qemu-user_*.deb
  # Debian's qemu keeps argv[0] (binfmt flag P) only when its name ends in -binfmt-P.
  ln -sf qemu-i386 "$dir/qemu-i386-binfmt-P"
  testbed_log "qemu-user $version fetched from $suite"
}

# A run that was killed leaves its vorn-i386-PID entry behind; one whose process is gone is removed.
# PID is the registering shell's, in the host's PID namespace, so kill -0 tells whether it lives.
wine32_remove_stale_entries() {
  local entry pid
  for entry in /proc/sys/fs/binfmt_misc/vorn-i386-*; do
    [ -e "$entry" ] || continue
    pid=${entry##*-}
    kill -0 "$pid" 2>/dev/null && continue
    echo -1 >"$entry" 2>/dev/null && testbed_log "removed the binfmt entry of a run that is gone: ${entry##*/}"
  done
}

# Registers qemu for i386 ELF programs. F opens the interpreter now, so it also works inside the root.
wine32_register_qemu() {
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    wine32_try mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || return 1
  fi
  WINE32_BINFMT=vorn-i386-$$
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\xfc\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  local rule=":$WINE32_BINFMT:M::$magic:$mask:$WINE32_CACHE/qemu/qemu-i386-binfmt-P:OPF"
  wine32_try bash -c 'echo "$1" >/proc/sys/fs/binfmt_misc/register' register-qemu "$rule" ||
    { WINE32_BINFMT=; WINE32_WHY="registering qemu-i386 in binfmt_misc failed: ${WINE32_WHY#*failed: }"; return 1; }
}

wine32_release() {
  if [ -n "$WINE32_BINFMT" ] && [ -e "/proc/sys/fs/binfmt_misc/$WINE32_BINFMT" ]; then
    echo -1 >"/proc/sys/fs/binfmt_misc/$WINE32_BINFMT" || true
  fi
  WINE32_BINFMT=
  if [ -n "$WINE32_LOCK" ]; then
    exec {WINE32_LOCK}>&-
    WINE32_LOCK=
  fi
}

wine32_root_intact() {
  [ "$(cat "$WINE32_ROOT/.vorn-stamp" 2>/dev/null)" = "$WINE32_STAMP" ] &&
    { wine32_try wine32_run wine --version ||
      wine32_why "\`wine --version\` in the i386 root failed: ${WINE32_WHY#*failed: }"; }
}

# About 330 MB to download; a minute to build where i386 runs natively, about 7 under qemu. Man
# pages, docs and locales are left out. The build's output stays in WINE32_BUILD_LOG.
wine32_build_root() {
  testbed_log "building the i386 root ($WINE32_RELEASE) for 32-bit Wine in $WINE32_ROOT; its log: $WINE32_BUILD_LOG"
  rm -rf "$WINE32_ROOT.new"
  # i386 programs already run (wine32_prepare saw to it); mmdebstrap's own check would look for a
  # qemu of Debian's naming instead of the one registered here.
  wine32_try --log "$WINE32_BUILD_LOG" \
    mmdebstrap --quiet --variant=apt --architectures=i386,amd64 --include="${WINE32_PACKAGES// /,}" \
    --skip=check/qemu \
    --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/doc/*' \
    --dpkgopt='path-exclude=/usr/share/locale/*' \
    "$WINE32_RELEASE" "$WINE32_ROOT.new" "$WINE32_MIRROR" || return 1
  echo "$WINE32_STAMP" >"$WINE32_ROOT.new/.vorn-stamp"
  rm -rf "$WINE32_ROOT" && mv "$WINE32_ROOT.new" "$WINE32_ROOT"
}

# Under the exclusive lock: builds the root unless another run has just done so, and verifies it; a
# root whose Wine cannot start is removed, not kept for the next run.
wine32_build_checked_root() {
  wine32_root_intact && return 0
  wine32_build_root || return 1
  wine32_root_intact || { rm -rf "$WINE32_ROOT"; return 1; }
}

wine32_prepare() {
  local tool
  for tool in mmdebstrap arch-test unshare mount flock chroot; do
    command -v "$tool" >/dev/null || { wine32_why "$tool is not installed"; return 1; }
  done
  mkdir -p "$WINE32_CACHE"
  # The root's mounts are made in a private mount namespace; that needs / to be a mount point.
  if ! wine32_try unshare --mount --propagation private true; then
    mountpoint -q / ||
      WINE32_WHY="$WINE32_WHY (/ is not a mount point here, as in a chroot: bind-mount the root onto itself first)"
    return 1
  fi
  wine32_lock -s || return 1
  wine32_remove_stale_entries
  if [ "${VORN_I386:-}" != qemu ] && arch-test -n i386 >/dev/null 2>&1; then
    testbed_log "this machine runs i386 code natively"
  else
    if ! wine32_qemu_ready; then
      wine32_lock -x && { wine32_qemu_ready || wine32_fetch_qemu; } && wine32_lock -s ||
        { wine32_release; return 1; }
    fi
    wine32_register_qemu || { wine32_release; return 1; }
    wine32_try arch-test i386 ||
      { wine32_release; WINE32_WHY="i386 programs do not run even under qemu-i386: $WINE32_WHY"; return 1; }
    # Measured: the i686 tests run 2.3-2.4 times slower under emulation than natively.
    [ "${WINE32_DEFAULT_FACTOR:-}" != yes ] || export VORN_TIME_FACTOR=4
    WINE32_EMULATED=yes
    testbed_log "this machine runs i386 code under $("$WINE32_CACHE/qemu/qemu-i386" --version | head -1)"
  fi
  if ! wine32_root_intact; then
    wine32_lock -x && wine32_build_checked_root && wine32_lock -s || { wine32_release; return 1; }
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
