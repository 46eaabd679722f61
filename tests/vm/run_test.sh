#!/usr/bin/env bash
# A production run on the guest's kernel by an operator who is not root, on
# the route the package sets up: the group "linetool", the bridges' udev rule
# (their disks and sg nodes the group's, udisks2 kept off them), the tmpfiles
# entry for /run/linetool/drives, and linetool-cli 0750 root:linetool with the
# file capabilities cap_sys_rawio,cap_sys_admin+ep. Four bridges on
# SuperSpeed root ports, every stage of the sample profile on (configuration,
# firmware, restart and re-find, partition, format, write/read test,
# preload), once NTFS (sfdisk, mkntfs and ntfs-3g started with the
# capabilities passed on) and once FAT32 (the station's formatter, the
# kernel's vfat mounted by the station). All pass as the operator's uid; in
# the guest the re-found bridges sit at their own ports with slot 0's
# descriptors, the preload tree reads back byte for byte, nothing stays
# mounted and the kernel's block events show no re-read behind the station's
# back; on the host the disk images pass ntfsfix -n / fsck.fat -n, blkid
# reads the label, and the daily log has the lines a simulator run of the
# same world writes.
. "$(dirname "$0")/vm_lib.sh"
need_rig
need_file "$linetool_cli"
need_server bridges
for tool in blkid ntfsfix fsck.fat setcap setpriv systemd-tmpfiles; do
  command -v $tool >/dev/null || skip "$tool is not installed"
done
res="$repo/resources"
profile="kl_line_Tool v0.3.ini"

world() { # MiB -> four bridges of about MiB
  local entries=() i
  for i in 1 2 3 4; do entries+=("{ \"port\": $i, \"bridge\": { \"serial\": \"VM$i\", \"disk_size\": \"$(($1 + i))MiB\" } }"); done
  local IFS=,
  printf '{ "disk_folder": "disks", "reload_delay_ms": 500, "controllers": [ { "root_hub": { "ports": 4, "devices": [ %s ] } } ] }\n' "${entries[*]}"
}

station() { # dir fs(0 NTFS, 1 FAT32) MiB
  mkdir -p "$1"
  cp -r "$res/$profile" "$res/121105_10_0000.bin" "$res/wr_test.bin" "$res/preload" "$1/"
  sed -i "s/^format_drive_type=.*/format_drive_type=$2/" "$1/$profile"
  world "$3" >"$1/world.json"
}

# In the guest: the operator's route as the package sets it up, the run as
# the operator in a station folder of its own, the port table after it, each
# volume's tree.
cat >"$scratch/guest.sh" <<GUEST
set -u
op=/run/operator
mkdir -p \$op/bin \$op/station
# The operator and the station's group, in copies of the account files.
gid=4242; uid=4242
while getent group \$gid >/dev/null || getent passwd \$uid >/dev/null; do gid=\$((gid + 1)); uid=\$gid; done
cp /etc/group \$op/group && echo "linetool:x:\$gid:" >>\$op/group
cp /etc/passwd \$op/passwd && echo "operator:x:\$uid:\$gid::/nonexistent:/usr/sbin/nologin" >>\$op/passwd
mount --bind \$op/group /etc/group && mount --bind \$op/passwd /etc/passwd || exit 3
# What the package installs: the rule, the folders, the program.
mkdir -p /run/udev/rules.d
cp "$repo/resources/linetool/90-linetool-bridges.rules" /run/udev/rules.d/
systemd-tmpfiles --create "$repo/packaging/linetool.tmpfiles" || exit 3
install -m 0750 -o root -g linetool "$linetool_cli" \$op/bin/linetool-cli
setcap cap_sys_rawio,cap_sys_admin+ep \$op/bin/linetool-cli || exit 3
# udevd resolves the rule's group name now that the group exists.
udevadm control --exit
\$(command -v systemd-udevd || echo /lib/systemd/systemd-udevd) --daemon --resolve-names=early
udevadm trigger --subsystem-match=block --subsystem-match=scsi_generic
udevadm settle
ls -l /dev/sd? /dev/sg? >nodes.txt 2>&1
cp -r "$profile" 121105_10_0000.bin wr_test.bin preload \$op/station/
chown -R operator:linetool \$op/station
as_operator() { (cd \$op/station && setpriv --reuid=operator --regid=linetool --init-groups --reset-env \
  env PATH=/usr/sbin:/usr/bin:/sbin:/bin "\$@"); }
as_operator id -u >operator.uid
# The kernel's block events during the run: what udev's watch and the
# station's own steps made the kernel send.
udevadm monitor --kernel --subsystem-match=block >uevents.txt 2>/dev/null &
monitor=\$!
as_operator \$op/bin/linetool-cli run --json --profile "$profile" >run.json 2>run.err
echo \$? >run.status
udevadm settle
kill \$monitor
cp \$op/station/*.log .
# What is still mounted of the bridges' disks once the run has ended.
awk '\$1 ~ "^/dev/sd" || \$2 ~ "^/run/linetool"' /proc/mounts >mounts-after.txt
as_operator \$op/bin/linetool-cli list --json >after.json 2>>run.err
mkdir -p /run/check
for dev in \$(lsblk -rno NAME,TYPE | awk '\$2 == "part" { print "/dev/" \$1 }'); do
  p=/run/check/\${dev##*/}; mkdir -p "\$p"
  if [ "\$(blkid -s TYPE -o value "\$dev")" = ntfs ]; then ntfs-3g -o ro "\$dev" "\$p"; else mount -o ro "\$dev" "\$p"; fi || { echo "\$dev: no mount" >>trees.txt; continue; }
  if diff -r preload "\$p" >/dev/null && [ ! -e "\$p/wr_test.bin" ]; then echo "\$dev: same" >>trees.txt; else echo "\$dev: differs" >>trees.txt; fi
  umount "\$p"
done
GUEST

check_run() { # dir type(ntfs|vfat)
  local dir=$1 type=$2 img part
  [ "$(cat "$dir/run.status")" = 0 ] || fail "$type run: exit $(cat "$dir/run.status"): $(cat "$dir/run.err")"
  [ "$(cat "$dir/operator.uid")" != 0 ] || fail "$type run: not an operator's: uid $(cat "$dir/operator.uid")"
  grep -q ' root linetool ' "$dir/nodes.txt" || fail "$type run: the bridges' nodes are not the group's: $(cat "$dir/nodes.txt")"
  python3 - "$dir/run.json" "$dir/after.json" <<'PY' || fail "$type run: $(cat "$dir/run.json" "$dir/after.json")"
import json, sys
run, after = json.load(open(sys.argv[1])), json.load(open(sys.argv[2]))
assert run["passed"] and run["counters"] == {"pass": 4, "fail": 0, "total": 4}, run["counters"]
for p in run["ports"]:
    assert p["result"] == "PASS" and all(v == "PASS" for v in p["stages"].values()), p
assert [b["location"] for b in after["bridges"]] == [1, 2, 3, 4], after
assert [b["serial_number"] for b in after["bridges"]] == [p["serial_number"] for p in run["ports"]], (after, run)
PY
  # Every volume is unmounted when its port's job ends.
  [ ! -s "$dir/mounts-after.txt" ] || fail "$type run: still mounted after the run: $(cat "$dir/mounts-after.txt")"
  # One descriptor per bridge, opened read-only for SG_IO, and the whole disk
  # locked from the partition step through the format: udev's watch re-reads
  # no table behind the station's back, and a disk sees a few change events,
  # not one per command. A partition goes and comes back only on the
  # station's own re-reads of the table while it holds the disk (after the
  # new table, after the first sector is realigned, once more where it waits
  # for the volume's letter) and at most one of udev's in the moment the
  # station lets the disk go for the new partitions' nodes.
  python3 - "$dir/uevents.txt" <<'PY' || fail "$type run: block events: $(grep -c . "$dir/uevents.txt") lines"
import collections, re, sys
changes, removed = collections.Counter(), collections.Counter()
for line in open(sys.argv[1]):
    m = re.match(r"KERNEL\[[0-9.]+\]\s+(\w+)\s+(\S+) \(block\)", line)
    if not m:
        continue
    action, name = m.group(1), m.group(2).rsplit("/", 1)[1]
    if not name.startswith("sd"):
        continue
    if action == "change" and not name[-1].isdigit():
        changes[name] += 1
    if action == "remove" and name[-1].isdigit():
        removed[name] += 1
print("block events: disk changes %s, partitions removed %s" % (dict(changes), dict(removed)))
assert len(changes) == 4 and max(changes.values()) <= 8, changes
assert not removed or max(removed.values()) <= 4, removed
PY
  [ "$(grep -c ': same$' "$dir/trees.txt")" -eq 4 ] || fail "$type run: preload trees: $(cat "$dir/trees.txt")"
  for img in "$dir"/disks/usb_disk_*.img; do
    part="$scratch/part.img"
    dd if="$img" of="$part" bs=1M skip=1 conv=sparse status=none
    [ "$(blkid -p -s TYPE -o value "$part")" = "$type" ] || fail "$img: file system $(blkid -p -s TYPE -o value "$part")"
    [ "$(blkid -p -s LABEL -o value "$part")" = VX7700 ] || fail "$img: label $(blkid -p -s LABEL -o value "$part")"
    if [ "$type" = ntfs ]; then
      ntfsfix -n "$part" >"$scratch/check" 2>&1 || fail "$img: ntfsfix -n: $(cat "$scratch/check")"
    else
      fsck.fat -n "$part" >"$scratch/check" 2>&1
      grep -Eq "[0-9]+ files, [0-9]+/[0-9]+ clusters$" "$scratch/check" || fail "$img: fsck.fat -n: $(cat "$scratch/check")"
      grep -Ev "^fsck\.fat |[0-9]+ files, |^There is no label in boot sector, but there is volume label 'VX7700' stored in root directory$|^  Auto-copying volume label from root directory to boot sector\.$|^Leaving filesystem unchanged\.$|^$" \
        "$scratch/check" | grep -q . && fail "$img: fsck.fat -n found: $(cat "$scratch/check")"
    fi
    rm -f "$part"
  done
  # The daily log: the lines a simulator run of the same world writes, times aside.
  mkdir -p "$dir/sim"
  station "$dir/sim" "$([ "$type" = ntfs ] && echo 0 || echo 1)" "$3"
  (cd "$dir/sim" && timeout 300 "$linetool_cli" --sim=world.json run --profile "$profile" >out 2>err) || fail "$type: the simulator's run failed: $(cat "$dir/sim/err")"
  local guest_log sim_log
  guest_log=$(find "$dir" -maxdepth 1 -name '*.log' | head -1)
  sim_log=$(find "$dir/sim" -maxdepth 1 -name '*.log' | head -1)
  [ -n "$guest_log" ] && [ -n "$sim_log" ] || fail "$type run: no daily log ($guest_log / $sim_log)"
  # A restarted bridge comes back under the drive number the kernel's order
  # gives it, and the ports take their drive letters in the order they reach
  # the partition step: those two columns are compared as sets, one distinct
  # number of 1-4 and one distinct letter of E-H per port.
  log_view() { sed 's/[0-9]\{1,2\}:[0-9]\{2\}:[0-9]\{2\}//g' "$1" | awk -F'\t' -v OFS='\t' 'NR > 1 { $13 = "#"; $14 = "#" } { print }'; }
  drives=$(awk -F'\t' 'NR > 1 { print $13 }' "$guest_log" | sort -u | paste -sd' ')
  [ "$drives" = "01 02 03 04" ] || fail "$type run: the log's drive numbers are $drives, not one of 1-4 each"
  letters=$(awk -F'\t' 'NR > 1 { print $14 }' "$guest_log" | sort -u | paste -sd' ')
  [ "$letters" = "E F G H" ] || fail "$type run: the log's drive letters are $letters, not one of E-H each"
  diff <(log_view "$guest_log") <(log_view "$sim_log") >"$scratch/logdiff" ||
    fail "$type run: the daily log differs from the simulator's: $(head -8 "$scratch/logdiff")"
}

for case in "ntfs 0 60" "vfat 1 540"; do
  set -- $case
  dir="$scratch/$1"
  station "$dir" "$2" "$3"
  cp "$scratch/guest.sh" "$dir/"
  (cd "$dir" && "$vm" --world world.json --timeout 400 --console console.log -- bash guest.sh >vm.out 2>vm.err) ||
    fail "$1 run: the guest failed: $(cat "$dir/vm.err")"
  check_run "$dir" "$1" "$3"
  echo "run $1: 4 of 4 passed as uid $(cat "$dir/operator.uid"), volumes clean"
done
echo "run: an operator's NTFS and FAT32 runs on the kernel: passed"
