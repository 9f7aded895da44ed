#!/usr/bin/env bash
# Runs a test binary inside a private mount namespace with small ext4 images on loop devices, so
# the real kernel mounts, fills and unmounts them while nothing outside sees any of it.
#   real-mounts.sh <test-binary> [test arguments...]
# Without root or loop devices the binary still runs and skips, saying why.
set -u

if [[ "${1:-}" == "--inner" ]]; then
  # Inside the namespace: a /dev of our own (the loop nodes and the basics), holding an empty
  # /dev/disk/by-label that the test fills as udev would.
  shift
  work=$1 binary=$2
  shift 2
  set -e
  mkdir -p "$work/realdev"
  mount --bind /dev "$work/realdev"
  mount -t tmpfs -o mode=755 tovik-dev /dev
  for node in null zero full random urandom tty; do
    if [[ -e "$work/realdev/$node" ]]; then
      cp -a "$work/realdev/$node" /dev/
    fi
  done
  for loop in $TOVIK_LOOP_UPD $TOVIK_LOOP_TOVIK $TOVIK_LOOP_TINY $TOVIK_LOOP_SPACE; do
    cp -a "$work/realdev/$(basename "$loop")" /dev/
  done
  umount "$work/realdev"
  mkdir -p /dev/disk/by-label "$work/mnt"
  export TOVIK_MOUNT_ROOT="$work/mnt"
  set +e
  exec "$binary" "$@"
fi

binary=$1
shift
skip() { # reason, test arguments...
  local reason=$1
  shift
  TOVIK_REAL_MOUNTS_SKIP="$reason" exec "$binary" "$@"
}
[[ $(id -u) -eq 0 ]] || skip "not running as root" "$@"
[[ -e /dev/loop-control ]] || skip "no /dev/loop-control" "$@"
losetup -f >/dev/null 2>&1 || skip "no free loop device" "$@"
for tool in unshare mkfs.ext4 mount umount; do
  command -v "$tool" >/dev/null || skip "$tool is not installed" "$@"
done

work=$(mktemp -d /tmp/tovik-mounts.XXXXXX)
attached=()
cleanup() {
  for loop in "${attached[@]}"; do
    losetup -d "$loop" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT

attach() { # image size label -> prints the loop device
  truncate -s "$2" "$work/$1" && mkfs.ext4 -q -F -L "$3" "$work/$1" >/dev/null 2>&1 &&
    losetup -f --show "$work/$1"
}
make_loop() { # variable image size label
  local loop
  loop=$(attach "$2" "$3" "$4") || return 1
  attached+=("$loop")
  export "$1=$loop"
}
if ! make_loop TOVIK_LOOP_UPD upd.img 16M tovikupd || ! make_loop TOVIK_LOOP_TOVIK tovik.img 16M TOVIK ||
   ! make_loop TOVIK_LOOP_TINY tiny.img 2M tovikupd || ! make_loop TOVIK_LOOP_SPACE space.img 2M "tovik upd"; then
  cleanup
  trap - EXIT
  skip "cannot set up loop devices" "$@"
fi

# Root inside a container may still lack the right to make namespaces or mount: skip then too.
mkdir -p "$work/probe"
if ! unshare --mount --propagation private mount "$TOVIK_LOOP_UPD" "$work/probe" >/dev/null 2>&1; then
  cleanup
  trap - EXIT
  skip "cannot mount loop images in a private mount namespace" "$@"
fi

unshare --mount --propagation private "$0" --inner "$work" "$binary" "$@"
exit $?
