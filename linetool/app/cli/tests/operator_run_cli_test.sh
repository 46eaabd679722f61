#!/usr/bin/env bash
# A production run by an operator who is not root, on the route the package
# documents (README.capabilities): a throwaway user in a throwaway station
# group starts a copy of linetool-cli that carries the file capabilities
# cap_sys_rawio,cap_sys_admin+ep and is only the group's to run (0750). The
# world's bridges have loop-backed disks, so sfdisk, partx, mkntfs, ntfslabel,
# ntfs-3g, fusefat and the station's unmounts work on real block devices, as
# the user. What udev does on a station PC is done here by the script: the
# loop devices and, as the kernel makes them, their partitions are given to
# the group 0660, as the bridge rule gives a bridge's disk and partitions.
# The user is also in "disk" for /dev/loop-control only (a loop world attaches
# its own loop devices). Every node, user, group and loop device is put back
# on every path. Skipped (77) where it cannot run.
# Usage: operator_run_cli_test.sh LINETOOL_CLI RESOURCE_DIR
set -uo pipefail
cli=$1
res=$2
if [ "$(id -u)" -ne 0 ]; then echo "SKIP: making a throwaway user and loop devices needs root"; exit 77; fi
[ -e /dev/loop-control ] || { echo "SKIP: no /dev/loop-control on this host"; exit 77; }
for tool in setcap setpriv useradd groupadd losetup blkid ntfsfix ntfs-3g; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
# shellcheck source=../../../../tools/cli/cli_checks.sh
. "$(dirname "$0")/../../../../tools/cli/cli_checks.sh"
chmod 0755 "$work"
group=ltop$$
user=ltop$$
watcher=
restore=()  # "node owner:group mode" of every loop node the script changed
made=()     # the nodes it made itself
cleanup() {
  [ -n "$watcher" ] && kill "$watcher" 2>/dev/null && wait "$watcher" 2>/dev/null
  local img l entry node
  for img in "$work"/station/disks/*.img; do
    for l in $(losetup -j "$img" -O NAME -n 2>/dev/null); do losetup -d "$l"; done
  done
  for entry in "${restore[@]}"; do
    set -- $entry
    [ -e "$1" ] && chown "$2" "$1" && chmod "$3" "$1"
  done
  # A node made here whose device the kernel never added goes again.
  for node in "${made[@]}"; do
    [ -e "/sys/block/${node#/dev/}" ] || rm -f "$node"
  done
  getent passwd "$user" >/dev/null && userdel "$user"
  getent group "$group" >/dev/null && groupdel "$group"
  [ -n "${KEEP_WORK:-}" ] && { echo "kept $work"; return; }
  rm -rf "$work"
}
trap cleanup EXIT
groupadd --system "$group" || { echo "FAIL: groupadd"; exit 1; }
useradd --system --no-create-home --gid "$group" --groups disk --shell /usr/sbin/nologin "$user" ||
  { echo "FAIL: useradd"; exit 1; }
uid=$(id -u "$user")
gid=$(getent group "$group" | cut -d: -f3)

# The program as the package installs it on this route.
mkdir -p "$work/bin"
cp "$cli" "$work/bin/linetool-cli"
chown "root:$group" "$work/bin/linetool-cli" && chmod 0750 "$work/bin/linetool-cli"
if ! setcap cap_sys_rawio,cap_sys_admin+ep "$work/bin/linetool-cli" 2>"$work/setcap.err"; then
  echo "SKIP: this file system keeps no file capabilities: $(cat "$work/setcap.err")"; exit 77
fi

give() {  # node -> the group's, 0660, remembered to be put back
  local node=$1
  restore+=("$node $(stat -c %U:%G "$node") $(stat -c %a "$node")")
  chgrp "$group" "$node" && chmod 0660 "$node"
}
# Loop devices: every node there is, and four more that the kernel may hand out.
last=0
for node in /dev/loop[0-9]*; do
  n=${node#/dev/loop}
  [[ $n =~ ^[0-9]+$ ]] || continue
  give "$node"
  [ "$n" -gt "$last" ] && last=$n
done
for n in $(seq $((last + 1)) $((last + 4))); do
  mknod -m 0600 "/dev/loop$n" b 7 "$n" && made+=("/dev/loop$n") && give "/dev/loop$n"
done
# The partitions of the world's disks, as the kernel makes them.
(
  while :; do
    for backing in /sys/block/loop*/loop/backing_file; do
      case "$(cat "$backing" 2>/dev/null)" in "$work"/station/disks/*) ;; *) continue ;; esac
      disk=${backing%/loop/backing_file}
      for p in "$disk"/"${disk##*/}"p*; do
        [ -e "$p" ] || continue
        node=/dev/${p##*/}
        [ "$(stat -c %g "$node" 2>/dev/null)" = "$gid" ] || { chgrp "$group" "$node" && chmod 0660 "$node"; }
      done
    done
    sleep 0.05
  done
) &
watcher=$!

dir=$work/station
mkdir -p "$dir/tmp"
cp -r "$res/kl_line_Tool v0.3.ini" "$res/121105_10_0000.bin" "$res/wr_test.bin" "$res/preload" "$dir/"
sed -i "s/^format_drive_type=.*/format_drive_type=0/" "$dir/kl_line_Tool v0.3.ini"
cat >"$dir/world.json" <<JSON
{ "disk_folder": "disks", "reload_delay_ms": 200, "controllers": [ { "root_hub": { "ports": 2, "devices": [
  { "port": 1, "bridge": { "serial": "OPER1", "disk_size": "61MiB", "disk_backing": "loop" } },
  { "port": 2, "bridge": { "serial": "OPER2", "disk_size": "62MiB", "disk_backing": "loop" } } ] } } ] }
JSON
chown -R "$user:$group" "$dir"

(cd "$dir" && timeout 600 setpriv --reuid="$uid" --regid="$gid" --init-groups --reset-env \
  env TMPDIR="$dir/tmp" "$work/bin/linetool-cli" --sim=world.json run --profile "kl_line_Tool v0.3.ini" >out 2>err)
expect_status 0 $? "the operator's run on loop devices"
grep -q '^Pass: 2 Fail: 0 Total: 2$' "$dir/out" || fail "the operator's run: $(tail -6 "$dir/out") $(cat "$dir/err")"
grep -q 'loop-backed disks in' "$dir/err" || fail "the run did not take the loop devices: $(cat "$dir/err")"

# Each volume: NTFS, clean, labelled, the preload tree on it.
for img in "$dir"/disks/usb_disk_0*.img; do
  dev=$(losetup -f --show -r -o 1048576 "$img") || { fail "$img: no loop device to check it"; continue; }
  [ "$(blkid -p -s TYPE -o value "$dev")" = ntfs ] || fail "$img: file system $(blkid -p -s TYPE -o value "$dev")"
  [ "$(blkid -p -s LABEL -o value "$dev")" = VX7700 ] || fail "$img: label $(blkid -p -s LABEL -o value "$dev")"
  ntfsfix -n "$dev" >"$work/check" 2>&1 || fail "$img: ntfsfix -n: $(cat "$work/check")"
  point=$(mktemp -d -p "$work")
  if ntfs-3g -o ro "$dev" "$point"; then
    diff -r "$res/preload" "$point" >"$work/diff" 2>&1 || fail "$img: the preload tree differs: $(head -5 "$work/diff")"
    umount "$point"
  else
    fail "$img: ntfs-3g cannot mount it"
  fi
  losetup -d "$dev"
done
# Nothing stays mounted or attached.
grep -q "$dir" /proc/self/mountinfo && fail "mounts are left: $(grep "$dir" /proc/self/mountinfo)"
for img in "$dir"/disks/usb_disk_0*.img; do
  [ -n "$(losetup -j "$img")" ] && fail "$img is still attached"
done
finish
