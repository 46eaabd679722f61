#!/usr/bin/env bash
# The bridge disks' udev rule, run by this system's udevadm (252 has no
# "udevadm verify") over a loop device inside a private mount namespace, so
# that what "udevadm test" applies (node ownership, /dev/disk links, the
# /run/udev database) lands on private copies only:
# - the rule file parses without an error and leaves a disk that is no bridge
#   (the loop device) as it was;
# - with its bridge match pointed at the loop device's image, the disk and its
#   partition are hidden from udisks2 (UDISKS_IGNORE=1, UDISKS_AUTO=0) and
#   given to the group, mode 0660.
# That the INQUIRY and USB ID matches find a real bridge needs a bridge (or the
# kernel rig): no device here has those attributes.
# Usage: check_bridge_rules.sh RULES_FILE
# Exits 77 (skipped) where it cannot run: not root, no udevadm, unshare or loop devices.
set -uo pipefail
rules=$1
if [ "$(id -u)" -ne 0 ]; then echo "SKIP: needs root (loop devices, a mount namespace)"; exit 77; fi
for tool in udevadm unshare losetup sfdisk partx groupadd; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ -e /dev/loop-control ] || { echo "SKIP: no /dev/loop-control on this host"; exit 77; }
work=$(mktemp -d)
group=ltrules$$
loop=
cleanup() {
  [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null
  getent group "$group" >/dev/null && groupdel "$group"
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

truncate -s 8M "$work/disk.img"
printf 'label: dos\nstart=2048, type=7\n' | sfdisk --quiet "$work/disk.img" || { echo "FAIL: sfdisk"; exit 1; }
loop=$(losetup -f --show "$work/disk.img") || { echo "SKIP: no free loop device"; exit 77; }
partx --add "$loop" 2>/dev/null || true
part=${loop}p1
[ -b "$part" ] || { echo "FAIL: no partition node $part"; exit 1; }
groupadd --system "$group" || { echo "FAIL: groupadd"; exit 1; }
gid=$(getent group "$group" | cut -d: -f3)
name=$(basename "$rules")

# udevadm test in a namespace whose /dev, /run and /etc/udev/rules.d are private.
udev_test() {  # rules-folder device-node -> udevadm's output
  local node=$2 sys
  sys=/sys/class/block/$(basename "$node")
  unshare --mount --propagation private sh -c '
    set -e
    mount -t tmpfs tmpfs /dev
    mknod -m 600 "$2" b "$3" "$4"
    mount -t tmpfs tmpfs /run
    mount --bind "$1" /etc/udev/rules.d
    udevadm test --action=add "$5" 2>&1' sh "$1" "$node" "$(($(stat -c 0x%t "$node")))" \
    "$(($(stat -c 0x%T "$node")))" "$sys"
}

mkdir "$work/shipped" "$work/pointed"
sed "s/GROUP=\"linetool\"/GROUP=\"$group\"/" "$rules" >"$work/shipped/$name"
grep -q "GROUP=\"$group\"" "$work/shipped/$name" || fail "$name gives the disks to no group \"linetool\""
# The bridge's INQUIRY match, pointed at this loop device's image.
sed -E 's|^SUBSYSTEMS=="scsi", ATTRS\{vendor\}=="VX", ATTRS\{model\}=="VX7700\*"|ATTRS{loop/backing_file}=="'"$work"'/disk.img"|' \
  "$work/shipped/$name" >"$work/pointed/$name"
cmp -s "$work/shipped/$name" "$work/pointed/$name" && fail "$name has no INQUIRY match of the bridge"

for node in "$loop" "$part"; do
  out=$(udev_test "$work/shipped" "$node")
  grep -q "Reading rules file: /etc/udev/rules.d/$name" <<<"$out" || fail "udevadm did not read $name: $out"
  errors=$(grep "/etc/udev/rules.d/$name:" <<<"$out")
  [ -z "$errors" ] || fail "udevadm finds faults in $name: $errors"
  grep -qE '^(UDISKS_IGNORE|UDISKS_AUTO|LINETOOL_BRIDGE)=' <<<"$out" && fail "$node, no bridge, is marked: $(grep -E '^UDISKS|^LINETOOL' <<<"$out")"
  grep -q "gid=$gid" <<<"$out" && fail "$node, no bridge, is given to the group"

  out=$(udev_test "$work/pointed" "$node")
  for property in UDISKS_IGNORE=1 UDISKS_AUTO=0 LINETOOL_BRIDGE=1; do
    grep -qx "$property" <<<"$out" || fail "$node as a bridge: no $property in $(grep -E '^UDISKS|^LINETOOL' <<<"$out")"
  done
  grep -q "Setting permissions $node, uid=0, gid=$gid, mode=0660" <<<"$out" ||
    fail "$node as a bridge: not the group's, 0660: $(grep -i 'permissions' <<<"$out")"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "bridge rules: all checks passed ($name)"
