#!/usr/bin/env bash
# A developer's check, not part of scripts/test: do the README's commands work on a fresh machine of
# another Debian release (Debian 13, trixie, by default)? It builds a root of that release with
# mmdebstrap's minbase variant (the priority-required set that Debian's container image has), puts a
# clean clone of this checkout's committed HEAD into it, and runs scripts/test, then scripts/demo,
# there as a new user would: as root, nothing installed beforehand.
#
# The root gets its own /proc, /sys, /dev (with its own pts and shm), binfmt_misc and /tmp, all made
# in a private mount namespace, so none of it is seen outside and all of it goes when the namespace
# does. The root is bind-mounted onto itself first, so that its / is a mount point as on a machine
# or in a container. No PID namespace: the i686 run names its binfmt_misc entry after its PID, and
# other runs on the machine judge that entry by the same PIDs.
#
#   scripts/lib/host-check.sh [RELEASE [WORK]]
#
# WORK (default /var/tmp/vorn-host-check-RELEASE) keeps the root, built anew on every run, and the
# logs: mmdebstrap.log, test.log, demo.log, and summary.txt with the times and ctest summaries.
set -euo pipefail
cd "$(dirname "$0")/../.."
release=${1:-trixie}
work=${2:-/var/tmp/vorn-host-check-$release}
root=$work/root
mirror=http://deb.debian.org/debian
commit=$(git rev-parse HEAD)

log() { echo "[host-check] $*" | tee -a "$work/summary.txt" >&2; }

# Processes whose root directory lies in the root: the run's own, should any outlive it.
processes_in_root() {
  local p
  for p in /proc/[0-9]*; do
    [[ "$(readlink "$p/root" 2>/dev/null)" == "$root"* ]] && echo "${p#/proc/}"
  done
  return 0
}

for tool in mmdebstrap git unshare mount chroot; do
  command -v "$tool" >/dev/null || { echo "host-check: $tool is not installed" >&2; exit 1; }
done
if [ -n "$(processes_in_root)" ]; then
  echo "host-check: processes still run in $root; not touching it" >&2
  exit 1
fi
mkdir -p "$work"
rm -rf "$root"
: >"$work/summary.txt"
git diff --quiet HEAD || log "uncommitted changes in $(pwd) are not part of the check"
log "commit $commit ($(git log -1 --format=%s "$commit")) on Debian $release, $(date -u '+%F %T') UTC"

started=$SECONDS
mmdebstrap --variant=minbase "$release" "$root" "$mirror" >"$work/mmdebstrap.log" 2>&1 ||
  { log "mmdebstrap failed; see $work/mmdebstrap.log"; exit 1; }
log "root built in $((SECONDS - started)) s: $(cat "$root/etc/debian_version"), $(du -sh "$root" | cut -f1)"
git clone --quiet --no-checkout "$(pwd)" "$root/src/vorn-zelpc"
git -C "$root/src/vorn-zelpc" checkout --quiet --detach "$commit"

# run NAME COMMAND: runs COMMAND in the clone inside the root, its output in WORK/NAME.log.
run() {
  local name=$1 command=$2 status=0 start=$SECONDS
  unshare --mount --propagation private -- bash -c '
    set -e
    root=$1 command=$2
    mount --bind "$root" "$root"
    mount -t proc proc "$root/proc"
    mount -t sysfs sysfs "$root/sys"
    mount -t devtmpfs devtmpfs "$root/dev"
    mkdir -p "$root/dev/pts" "$root/dev/shm"
    mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
    mount --bind "$root/dev/pts/ptmx" "$root/dev/ptmx"
    mount -t tmpfs -o mode=1777 shm "$root/dev/shm"
    mount -t binfmt_misc binfmt_misc "$root/proc/sys/fs/binfmt_misc"
    mount -t tmpfs -o mode=1777 tmp "$root/tmp"
    exec chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      bash -c "cd /src/vorn-zelpc && $command"' host-check "$root" "$command" \
    >"$work/$name.log" 2>&1 </dev/null || status=$?
  local minutes=$(( (SECONDS - start + 30) / 60 ))
  log "$command: exit code $status after $((SECONDS - start)) s (about $minutes min); log in $work/$name.log"
  grep -E 'tests passed|tests failed|^== |not run:' "$work/$name.log" | sed 's/^/    /' | tee -a "$work/summary.txt" >&2 || true
  return "$status"
}

status=0
run test scripts/test || status=1
run demo scripts/demo || status=1

# Whatever the runs left running would keep the namespace, and with it the mounts, alive.
leftover=$(processes_in_root)
if [ -n "$leftover" ]; then
  log "left running in the root, now ended: $(echo $leftover)"
  kill $leftover 2>/dev/null || true
  status=1
fi
# An i686 run registers vorn-i386-PID in binfmt_misc; one whose PID is gone was left behind.
for entry in /proc/sys/fs/binfmt_misc/vorn-i386-*; do
  [ -e "$entry" ] && ! kill -0 "${entry##*-}" 2>/dev/null || continue
  log "binfmt_misc entry left behind: ${entry##*/}"
  status=1
done
log "done: exit code $status; the root stays in $root until the next check"
exit $status
