#!/usr/bin/env bash
# real-mounts.sh <test-binary> [arguments...]: runs the test in a private mount namespace with
# small ext4 images on loop devices; without root or loop devices it still runs and skips.
set -u

if [[ "${1:-}" == "--inner" ]]; then
  # Inside the namespace: a /dev of our own with an empty disk/by-label that the test fills.
  work=$2 binary=$3
  shift 3
  mkdir -p "$work/realdev" "$work/mnt" && mount --bind /dev "$work/realdev" &&
    mount -t tmpfs -o mode=755 tovik-dev /dev || exit 1
  for node in null zero full random urandom tty $TOVIK_LOOP_UPD; do
    cp -a "$work/realdev/$(basename "$node")" /dev/ 2>/dev/null
  done
  umount "$work/realdev" && mkdir -p /dev/disk/by-label || exit 1
  TOVIK_MOUNT_ROOT="$work/mnt" exec "$binary" "$@"
fi

binary=$1
shift
skip() {
  TOVIK_REAL_MOUNTS_SKIP="$1" exec "$binary" "${@:2}"
}
[[ $(id -u) -eq 0 ]] || skip "not running as root" "$@"
for tool in losetup unshare mkfs.ext4 e2fsck debugfs mount umount; do
  command -v "$tool" >/dev/null || skip "$tool is not installed" "$@"
done

work=$(mktemp -d /tmp/tovik-mounts.XXXXXX)
attached=()
cleanup() {
  for loop in "${attached[@]}"; do losetup -d "$loop" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
make_loop() { # variable size label
  truncate -s "$2" "$work/$1.img" && mkfs.ext4 -q -F -L "$3" "$work/$1.img" >/dev/null 2>&1 &&
    attached+=("$(losetup -f --show "$work/$1.img")") && export "$1=${attached[-1]}" \
    "$1_IMAGE=$work/$1.img"
}
# Root inside a container may still lack the right to make namespaces or mount: skip then too.
mkdir -p "$work/probe"
if ! make_loop TOVIK_LOOP_UPD 16M tovikupd ||
   ! unshare --mount --propagation private mount "$TOVIK_LOOP_UPD" "$work/probe" >/dev/null 2>&1; then
  cleanup
  trap - EXIT
  skip "cannot mount loop images in a private mount namespace" "$@"
fi
unshare --mount --propagation private "$0" --inner "$work" "$binary" "$@"
