#!/bin/bash
# Sets up what runs the shipped 32-bit program on a machine that can't execute i386 code: a
# Debian 12 i386 chroot with 32-bit Wine, whose i386 binaries run through qemu-i386 user-mode
# emulation registered with binfmt_misc. Cached under $HALCYRA_WINE32_ROOT (default
# /var/cache/halcyra-wine32) and idempotent: a second call only checks the registration and the
# mounts. Needs root. Prints the reason and exits non-zero when the set-up can't be reached.
#
#   tools/wine32-setup.sh            set up (about 4.5 min and 1.5 GB the first time)
#   tools/wine32-setup.sh --unmount  unmount what the chroot has mounted (before deleting it)
#
# Layout: qemu/ (the extracted qemu-user package), chroot/, share/ (a folder mounted at the same
# path inside the chroot, where the tests keep prefixes, programs and disk images).
set -euo pipefail
root=${HALCYRA_WINE32_ROOT:-/var/cache/halcyra-wine32}
chroot=$root/chroot
share=$root/share
qemu=$root/qemu/usr/bin/qemu-i386
binfmt=/proc/sys/fs/binfmt_misc
entry=halcyra-i386
# Bumped when what the chroot must hold changes.
stamp_version=1

fail() { echo "wine32-setup: $*" >&2; exit 1; }

unmount_all() {
  # Deepest first; /dev is an rbind, so its submounts go with -R.
  for m in "$chroot$share" "$chroot/dev" "$chroot/sys" "$chroot/proc"; do
    if mountpoint -q "$m" 2>/dev/null; then umount -R "$m" || umount -lR "$m"; fi
  done
  if mountpoint -q "$share" 2>/dev/null; then umount "$share" || umount -l "$share"; fi
}

if [ "${1:-}" = "--unmount" ]; then unmount_all; exit 0; fi

[ "$(id -u)" -eq 0 ] || fail "needs root (debootstrap, chroot, mounts, binfmt_misc)"
mkdir -p "$root"
exec 9>"$root/lock"
flock 9

# The archive the host's apt uses, so that nothing else is asked.
mirror=${HALCYRA_DEBIAN_MIRROR:-}
if [ -z "$mirror" ]; then
  mirror=$(sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null \
             | grep -v security | head -n1 || true)
  [ -n "$mirror" ] || mirror=$(sed -n 's/^deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?\([^[:space:]]*\)[[:space:]].*/\2/p' \
             /etc/apt/sources.list 2>/dev/null | grep -v security | head -n1 || true)
fi
[ -n "$mirror" ] || fail "no Debian archive found in the host's apt sources"

# 1. qemu-i386 10.0 and debootstrap from trixie, fetched with an apt configuration of their own
# and only extracted: bookworm's qemu 7.2 is too slow for Wine. Nothing is installed on the host.
fetch_debs() {
  local apt=$root/apt
  mkdir -p "$apt/etc/preferences.d" "$apt/state/lists/partial" "$apt/cache/archives/partial" "$root/debs"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror trixie main" \
    > "$apt/etc/sources.list"
  : > "$apt/state/status"
  local opts=(-o Dir::Etc="$apt/etc" -o Dir::Etc::SourceList="$apt/etc/sources.list"
              -o Dir::Etc::SourceParts=- -o Dir::State="$apt/state"
              -o Dir::State::Status="$apt/state/status" -o Dir::Cache="$apt/cache"
              -o APT::Architecture="$(dpkg --print-architecture)" -o Acquire::Check-Valid-Until=false
              -o APT::Sandbox::User=root -q)
  apt-get "${opts[@]}" update >/dev/null || fail "can't read the trixie package lists from $mirror"
  (cd "$root/debs" && apt-get "${opts[@]}" download qemu-user debootstrap >/dev/null) \
    || fail "can't download qemu-user and debootstrap from $mirror"
}
if [ ! -x "$qemu" ] || [ ! -x "$root/debootstrap/usr/sbin/debootstrap" ]; then
  fetch_debs
  rm -rf "$root/qemu" "$root/debootstrap"
  dpkg -x "$root"/debs/qemu-user_*.deb "$root/qemu"
  dpkg -x "$root"/debs/debootstrap_*.deb "$root/debootstrap"
  [ -x "$qemu" ] || fail "the qemu-user package holds no usr/bin/qemu-i386"
fi

# 2. binfmt_misc: every i386 ELF binary runs through qemu-i386. Flag F opens the interpreter now,
# so it also works inside the chroot.
if [ ! -e "$binfmt/register" ]; then
  mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null \
    || fail "binfmt_misc is not available on this kernel (mounting $binfmt failed)"
fi
if [ -e "$binfmt/$entry" ] && ! grep -qx "interpreter $qemu" "$binfmt/$entry"; then
  echo -1 > "$binfmt/$entry"
fi
if [ ! -e "$binfmt/$entry" ]; then
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":$entry:M::$magic:$mask:$qemu:F" > "$binfmt/register" \
    || fail "can't register qemu-i386 with binfmt_misc"
fi
[ "$(cat "$binfmt/status")" = enabled ] || echo 1 > "$binfmt/status"
grep -q '^enabled' "$binfmt/$entry" || echo 1 > "$binfmt/$entry"

mount_all() {
  mountpoint -q "$chroot/proc" || mount -t proc proc "$chroot/proc"
  mountpoint -q "$chroot/sys" || mount --rbind /sys "$chroot/sys"
  if ! mountpoint -q "$chroot/dev"; then
    mount --rbind /dev "$chroot/dev"
    mount --make-rslave "$chroot/dev"
  fi
  # share/ is a shared mount bound at the same path inside the chroot: paths of prefixes, disk
  # images and symlinks are the same on both sides, and tmpfs mounts the tests make under it
  # later appear inside the chroot too.
  mkdir -p "$share" "$chroot$share"
  if ! mountpoint -q "$share"; then
    mount --bind "$share" "$share"
    mount --make-shared "$share"
  fi
  mountpoint -q "$chroot$share" || mount --bind "$share" "$chroot$share"
}

# 3. The chroot with 32-bit Wine.
if [ "$(cat "$root/ready" 2>/dev/null)" != "$stamp_version" ]; then
  unmount_all
  # Never delete through a bind mount (that would delete the host's /dev).
  if grep -q " $chroot/" /proc/mounts; then fail "mounts are left under $chroot; not deleting it"; fi
  rm -rf "$chroot"
  echo "wine32-setup: making the i386 chroot under $chroot (a few minutes)" >&2
  DEBOOTSTRAP_DIR=$root/debootstrap/usr/share/debootstrap \
    "$root/debootstrap/usr/sbin/debootstrap" --arch=i386 --variant=minbase bookworm "$chroot" \
    "$mirror" > "$root/debootstrap.log" 2>&1 \
    || fail "debootstrap of the i386 chroot failed (see $root/debootstrap.log)"
  cp /etc/resolv.conf "$chroot/etc/resolv.conf"
  cp /etc/apt/apt.conf.d/* "$chroot/etc/apt/apt.conf.d/" 2>/dev/null || true
  mount_all
  chroot "$chroot" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
    sh -c 'apt-get update -q && apt-get install -y -q --no-install-recommends wine wine32 fonts-wine' \
    > "$root/apt.log" 2>&1 || fail "installing Wine in the chroot failed (see $root/apt.log)"
  chroot "$chroot" /usr/bin/env -i PATH=/usr/bin:/bin sh -c 'apt-get clean' >/dev/null 2>&1 || true
  echo "$stamp_version" > "$root/ready"
fi
mount_all
[ -x "$chroot/usr/lib/wine/wine" ] || fail "no 32-bit Wine in $chroot"
echo "$chroot"
