#!/usr/bin/env bash
# A production run on the guest's kernel by an operator who is not root, on
# the route the package sets up: the group "linetool", the bridges' udev rule
# (which gives their disks and sg nodes to the group and keeps udisks2 off
# them), the tmpfiles entry for /run/linetool/drives, and linetool-cli 0750
# root:linetool with the file capabilities cap_sys_rawio,cap_sys_admin+ep.
# Two bridges, every stage on: once FAT32 (the station's formatter, the
# kernel's vfat mounted by the station), then again over the same bridges
# NTFS (sfdisk, mkntfs, ntfslabel and ntfs-3g started with the capabilities
# passed on). Both pass, as the operator's uid; nothing stays mounted.
. "$(dirname "$0")/vm_lib.sh"
need_rig
need_file "$linetool_cli"
need_server bridges
for tool in setcap setpriv systemd-tmpfiles; do command -v $tool >/dev/null || skip "$tool is not installed"; done
cd "$scratch"
res="$repo/resources"
profile="kl_line_Tool v0.3.ini"
cat >world.json <<'JSON'
{ "disk_folder": "disks", "reload_delay_ms": 500, "controllers": [ { "root_hub": { "ports": 2, "devices": [
  { "port": 1, "bridge": { "serial": "OPVM00000001", "disk_size": "541MiB" } },
  { "port": 2, "bridge": { "serial": "OPVM00000002", "disk_size": "542MiB" } } ] } } ] }
JSON
cat >guest.sh <<GUEST
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
cp -r "$res/$profile" "$res/121105_10_0000.bin" "$res/wr_test.bin" "$res/preload" \$op/station/
chown -R operator:linetool \$op/station
as_operator() { (cd \$op/station && setpriv --reuid=operator --regid=linetool --init-groups --reset-env \
  env PATH=/usr/sbin:/usr/bin:/sbin:/bin "\$@"); }
as_operator id -u >operator.uid
for fs in 1 0; do
  sed -i "s/^format_drive_type=.*/format_drive_type=\$fs/" "\$op/station/$profile"
  as_operator \$op/bin/linetool-cli run --json --profile "$profile" >run\$fs.json 2>run\$fs.err
  echo \$? >run\$fs.status
  awk '\$1 ~ "^/dev/sd" || \$2 ~ "^/run/linetool"' /proc/mounts >mounts\$fs.txt
done
cp \$op/station/*.log . 2>/dev/null
GUEST
"$vm" --world world.json --timeout 400 -- bash guest.sh >vm.out 2>vm.err || fail "the guest failed: $(cat vm.err)"
[ "$(cat operator.uid)" != 0 ] || fail "the run was not an operator's: uid $(cat operator.uid)"
grep -q ' root linetool ' nodes.txt || fail "the bridges' nodes are not the group's: $(cat nodes.txt)"
for fs in 1 0; do
  name=$([ $fs = 1 ] && echo FAT32 || echo NTFS)
  [ "$(cat run$fs.status)" = 0 ] || fail "$name: the operator's run: exit $(cat run$fs.status): $(cat run$fs.err)"
  python3 - run$fs.json <<'PY' || fail "$name: $(cat run$fs.json run$fs.err)"
import json, sys
run = json.load(open(sys.argv[1]))
assert run["counters"] == {"pass": 2, "fail": 0, "total": 2}, run["counters"]
for p in run["ports"]:
    assert all(v == "PASS" for v in p["stages"].values()), p
PY
  [ ! -s mounts$fs.txt ] || fail "$name: still mounted after the run: $(cat mounts$fs.txt)"
  echo "operator $name: 2 of 2 passed as uid $(cat operator.uid), nothing left mounted"
done
[ "$(find . -maxdepth 1 -name '*.log' | wc -l)" -ge 1 ] || fail "the operator's run left no daily log"
echo "operator: an operator who is not root ran FAT32 and NTFS on the kernel: passed"
