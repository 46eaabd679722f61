#!/usr/bin/env bash
# Discovery on a real kernel's sysfs: 16 bridges, 4 on the SuperSpeed root
# ports of each of two controllers and 8 behind a chain of two (full-speed)
# hubs. `linetool-cli list --json` gives each its port, location (port + 10 x
# hub depth + 100 x controller index), hub port, speed, descriptors and disk;
# the kernel's own link speeds are checked beside it.
. "$(dirname "$0")/vm_lib.sh"
need_rig
need_file "$linetool_cli"
need_server bridges
cd "$scratch"

bridge() { # port serial speed
  printf '{ "port": %s, "bridge": { "serial": "%s", "speed": "%s", "disk_size": "64MiB" } }' "$1" "$2" "$3"
}
{
  echo '{ "disk_folder": "disks", "controllers": ['
  echo '{ "root_hub": { "ports": 5, "devices": ['
  for p in 1 2 3 4; do bridge $p "D0$p" super; echo ,; done
  echo '{ "port": 5, "hub": { "ports": 5, "devices": ['
  for p in 1 2 3 4; do bridge $p "H1$p" full; echo ,; done
  echo '{ "port": 5, "hub": { "ports": 4, "devices": ['
  for p in 1 2 3; do bridge $p "H2$p" full; echo ,; done
  bridge 4 H24 full
  echo '] } } ] } } ] } },'
  echo '{ "root_hub": { "ports": 4, "devices": ['
  for p in 1 2 3; do bridge $p "E0$p" super; echo ,; done
  bridge 4 E04 super
  echo '] } } ] }'
} >world.json

cat >guest.sh <<GUEST
$linetool_cli list --json >list.json 2>list.err || exit 1
for d in /sys/bus/usb/devices/*; do
  [ -f "\$d/serial" ] && [ "\$(cat "\$d/idVendor")" != 1d6b ] && echo "\$(cat "\$d/serial") \$(cat "\$d/speed") \${d##*/}"
done | sort >kernel.txt
GUEST
"$vm" --world world.json --timeout 300 -- bash guest.sh >out 2>err || fail "the guest's list failed: $(cat err list.err 2>/dev/null)"

python3 - list.json kernel.txt <<'PY' || fail "list --json: $(cat list.json)"
import json, sys
doc = json.load(open(sys.argv[1]))
want = [("D0%d" % p, p, p, "SUPER") for p in range(1, 5)] + \
       [("H1%d" % p, 10 + p, p, "FULL") for p in range(1, 5)] + \
       [("H2%d" % p, 20 + p, p, "FULL") for p in range(1, 5)] + \
       [("E0%d" % p, 100 + p, p, "SUPER") for p in range(1, 5)]
got = doc["bridges"]
assert doc["bridges_found"] == 16, "found %s" % doc["bridges_found"]
assert len(got) == 16
drives = set()
for i, (b, (serial, location, hub_port, speed)) in enumerate(zip(got, want)):
    seen = (b["port"], b["serial_number"], b["location"], b["hub_port"], b["status"])
    assert seen == (i, serial, location, hub_port, speed), "port %d: %s, expected %s" % (i, seen, (i, serial, location, hub_port, speed))
    assert b["vid"] and b["pid"] and len(b["firmware_version"]) == 12, b
    assert b["capacity_bytes"] == 64 << 20 and b["capacity"] == "64 MB", b
    assert b["drive"] not in (None, 0) and b["drive"] not in drives, b
    drives.add(b["drive"])
kernel = dict((l.split()[0], l.split()[1]) for l in open(sys.argv[2]))
for serial, location, _, speed in want:
    assert kernel.get(serial) == ("5000" if speed == "SUPER" else "12"), "%s links at %s" % (serial, kernel.get(serial))
PY
echo "discovery: 16 bridges at their ports, locations and speeds: passed"
