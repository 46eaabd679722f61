#!/usr/bin/env bash
# Restart and loss on the guest's kernel, in one run of three bridges: the
# first restarts (leaves the bus, comes back with slot 0's descriptors) and is
# found again at its own port; the second never comes back (world fault
# never_returns) and fails ReLink alone, after the station's 60 s; the third is
# pulled by the device server while the station waits for the second, and
# fails its own port only. Then plug and unplug refresh what the kernel and
# udev show.
. "$(dirname "$0")/vm_lib.sh"
need_rig
need_file "$linetool_cli"
need_server bridges
cd "$scratch"
res="$repo/resources"
profile="kl_line_Tool v0.3.ini"
cp -r "$res/$profile" "$res/121105_10_0000.bin" "$res/wr_test.bin" "$res/preload" .
sed -i "s/^format_drive_type=.*/format_drive_type=0/" "$profile"
cat >world.json <<'JSON'
{ "disk_folder": "disks", "reload_delay_ms": 500, "controllers": [ { "root_hub": { "ports": 3, "devices": [
  { "port": 1, "bridge": { "serial": "RL1", "disk_size": "64MiB" } },
  { "port": 2, "bridge": { "serial": "RL2", "disk_size": "64MiB", "faults": { "never_returns": true } } },
  { "port": 3, "bridge": { "serial": "RL3", "disk_size": "64MiB" } } ] } } ] }
JSON
cat >guest.sh <<GUEST
$linetool_cli list --json >before.json 2>guest.err
$linetool_cli run --json --profile "$profile" >run.json 2>>guest.err
echo \$? >run.status
ls /sys/bus/usb/devices >usb-after-run.txt
: >replug-wanted
for i in \$(seq 300); do [ -e replugged ] && break; sleep 0.1; done
# The plug is the device server's; the kernel enumerates the bridge a moment
# later: wait until it shows the two bridges, then until udev has their disks.
for i in \$(seq 200); do
  [ "\$(ls -d /sys/bus/usb/devices/[0-9]*-[0-9]* | grep -vc :)" -ge 2 ] && [ "\$(ls /sys/block | grep -c '^sd')" -ge 2 ] && break
  sleep 0.1
done
udevadm settle
$linetool_cli list --json >replugged.json 2>>guest.err
GUEST
mkdir -p server
# The pull: 30 s after the run began, while the station waits for bridge 2.
"$vm" --world world.json --control-dir "$scratch/server" --at 30s "unplug 2" --timeout 400 -- bash guest.sh >out 2>err &
vm_pid=$!
for i in $(seq 3000); do [ -e replug-wanted ] && break; kill -0 $vm_pid 2>/dev/null || break; sleep 0.1; done
if [ -e replug-wanted ]; then
  "$server" --control "$scratch/server" plug 2 >/dev/null || echo "plug 2 refused" >>control.err
  : >replugged
fi
wait $vm_pid
status=$?
[ "$status" -eq 0 ] || fail "the guest failed ($status): $(cat err guest.err 2>/dev/null)"
[ "$(cat run.status)" = 1 ] || fail "the run's exit status $(cat run.status), expected 1 (a device failed)"
python3 - before.json run.json replugged.json <<'PY' || fail "$(cat run.json replugged.json)"
import json, sys
before, run, again = (json.load(open(f)) for f in sys.argv[1:4])
assert [b["location"] for b in before["bridges"]] == [1, 2, 3], before
ports = run["ports"]
assert ports[0]["result"] == "PASS", ports[0]
assert ports[1]["stages"]["relink"] == "FAIL" and ports[1]["stages"]["config_update"] == "PASS", ports[1]
# Pulled 30 s into the run: after its restart when the guest is quick, during
# its re-find when the machine is loaded. Either way it fails after the
# stages it passed, and only its own port does.
assert ports[2]["stages"]["fw_update"] == "PASS" and ports[2]["result"] == "FAIL", ports[2]
assert run["counters"] == {"pass": 1, "fail": 2, "total": 3}, run["counters"]
# After the plug the pulled bridge is back at port 3; the lost one is not there.
assert [b["location"] for b in again["bridges"]] == [1, 3], again
PY
echo "relink: a restart re-found, a bridge that never returns, a bridge pulled mid-run: passed"
