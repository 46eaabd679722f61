#!/usr/bin/env bash
# `linetool-cli --sim=WORLD run` on loop-backed disks: simulated bridges, real
# block devices below them. An NTFS run and a FAT32 run of every stage on four
# ports, each volume checked afterwards with the file system's own checker,
# its label read back by blkid, the preload tree compared byte for byte and
# the write/read test's file gone again. The system disk's image is never
# written. Skipped (77) where this host cannot make loop devices.
# Usage: loop_run_cli_test.sh LINETOOL_CLI RESOURCE_DIR
set -uo pipefail
cli=$1
res=$2
if [ "$(id -u)" -ne 0 ]; then echo "SKIP: loop devices need root"; exit 77; fi
if [ ! -e /dev/loop-control ]; then echo "SKIP: no /dev/loop-control on this host"; exit 77; fi
for tool in losetup blkid ntfsfix fsck.fat ntfs-3g; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
# shellcheck source=../../../../tools/cli/cli_checks.sh
. "$(dirname "$0")/../../../../tools/cli/cli_checks.sh"
# Loop devices this script attaches itself go on every path.
attached=()
mounted=()
cleanup() {
  for m in "${mounted[@]}"; do umount "$m" 2>/dev/null; done
  for l in "${attached[@]}"; do losetup -d "$l" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
profile="kl_line_Tool v0.3.ini"
partition_offset=1048576

world() {  # disk-folder MiB -> a four-bridge world with loop-backed disks of about MiB
  local entries=() i
  for i in 1 2 3 4; do
    entries+=("{ \"port\": $i, \"bridge\": { \"serial\": \"LOOP$i\", \"disk_size\": \"$(($2 + i))MiB\", \"disk_backing\": \"loop\" } }")
  done
  local IFS=,
  printf '{ "disk_folder": "%s", "reload_delay_ms": 200, "controllers": [ { "root_hub": { "ports": 4, "devices": [ %s ] } } ] }\n' \
    "$1" "${entries[*]}"
}

# Attaches a partition of a kept image read-only as $dev.
attach_partition() {
  dev=$(losetup -f --show -r -o "$partition_offset" "$1") || return 1
  attached+=("$dev")
}

run_station() {  # name fs(0 NTFS, 1 FAT32) disk-MiB [elsewhere: started in another folder with --workdir]
  local name=$1 dir="$work/$1" elsewhere="$work/$1-started-here"
  mkdir -p "$dir" "$elsewhere"
  cp -r "$res/$profile" "$res/121105_10_0000.bin" "$res/wr_test.bin" "$res/preload" "$dir/"
  sed -i "s/^format_drive_type=.*/format_drive_type=$2/" "$dir/$profile"
  world disks "$3" >"$dir/world.json"
  if [ "${4:-}" = elsewhere ]; then
    (cd "$elsewhere" && timeout 600 "$cli" --sim=world.json --workdir "$dir" run --profile "$profile" >"$dir/out" 2>"$dir/err")
  else
    (cd "$dir" && timeout 600 "$cli" --sim=world.json run --profile "$profile" >out 2>err)
  fi
  expect_status 0 $? "$name run on loop devices"
  # The world's disk folder is taken against the working folder.
  [ -z "$(ls -A "$elsewhere")" ] || fail "$name run: files in the folder it was started from: $(ls -A "$elsewhere")"
  grep -q '^Pass: 4 Fail: 0 Total: 4$' "$dir/out" || fail "$name run: $(tail -8 "$dir/out") $(cat "$dir/err")"
  grep -q 'loop-backed disks in' "$dir/err" || fail "$name run: the loop backing is not reported: $(cat "$dir/err")"
  grep -q 'NTFS volumes through ntfs-3g' "$dir/err" || fail "$name run: the mount drivers are not reported"
  # Every loop device of the run is gone, the images stay.
  local img
  for img in "$dir"/disks/usb_disk_0*.img; do
    [ -n "$(losetup -j "$img")" ] && fail "$name run: $img is still attached: $(losetup -j "$img")"
  done
  [ "$(find "$dir/disks" -name 'usb_disk_*.img' | wc -l)" -eq 4 ] || fail "$name run: the disk images were not kept"
  # Drive 0 is never touched: its sparse image has no block written.
  [ "$(du --block-size=1 "$dir/disks/system_disk.img" | cut -f1)" -eq 0 ] ||
    fail "$name run: the system disk's image was written"
}

check_volume() {  # image fs-type(ntfs|vfat) -> checker, label, preload tree
  local img=$1 type=$2 point
  attach_partition "$img" || { fail "$img: no loop device to check it"; return; }
  [ "$(blkid -p -s TYPE -o value "$dev")" = "$type" ] || fail "$img: file system $(blkid -p -s TYPE -o value "$dev"), expected $type"
  [ "$(blkid -p -s LABEL -o value "$dev")" = "VX7700" ] || fail "$img: label $(blkid -p -s LABEL -o value "$dev")"
  if [ "$type" = ntfs ]; then
    ntfsfix -n "$dev" >"$work/check" 2>&1 || fail "$img: ntfsfix -n: $(cat "$work/check")"
  else
    # The station writes the label into the root directory only (the boot
    # sector keeps "NO NAME"), which fsck.fat remarks on; any other finding,
    # or a missing summary, is a fault.
    fsck.fat -n "$dev" >"$work/check" 2>&1
    grep -Eq "^$dev: [0-9]+ files, [0-9]+/[0-9]+ clusters$" "$work/check" || fail "$img: fsck.fat -n: $(cat "$work/check")"
    grep -Ev "^fsck\.fat |^$dev: [0-9]+ files|^There is no label in boot sector, but there is volume label 'VX7700' stored in root directory$|^  Auto-copying volume label from root directory to boot sector\.$|^Leaving filesystem unchanged\.$|^$" \
      "$work/check" >"$work/findings"
    [ -s "$work/findings" ] && fail "$img: fsck.fat -n found: $(cat "$work/findings")"
  fi
  point=$(mktemp -d -p "$work")
  # fusefat lists the root directory's volume-label entry as a file.
  local skip=()
  if [ "$type" = ntfs ]; then
    ntfs-3g -o ro "$dev" "$point"
  elif ! mount -o ro "$dev" "$point" 2>/dev/null; then
    fusefat -o ro "$dev" "$point" >/dev/null
    skip=(-x VX7700)
  fi
  mounted+=("$point")
  diff -r "${skip[@]}" "$res/preload" "$point" >"$work/diff" 2>&1 || fail "$img: the preload tree differs: $(head -5 "$work/diff")"
  # A passed write/read test removes its file from the volume.
  [ -e "$point/wr_test.bin" ] && fail "$img: the write/read test left wr_test.bin"
  umount "$point"
  losetup -d "$dev"
}

SECONDS=0; run_station ntfs 0 60; echo "run ntfs 0 60: ${SECONDS}s"
for img in "$work"/ntfs/disks/usb_disk_0*.img; do check_volume "$img" ntfs; done
# FAT32 at the station's 8 KiB clusters needs some 520 MiB for its 65,525
# clusters; the images are sparse.
SECONDS=0; run_station fat32 1 540 elsewhere; echo "run fat32 1 540: ${SECONDS}s"
for img in "$work"/fat32/disks/usb_disk_0*.img; do check_volume "$img" vfat; done
finish
