#!/usr/bin/env bash
# The station's window on the guest's kernel: linetool's window (offscreen)
# over three bridges; the device server pulls the third (at USB port 4) and plugs it again,
# and the grid follows each through udev: 3 ports, then 2, then 3, each at its
# own Port# with its serial. The pictures stay in the build tree
# (vm-window/window_<n>.png) to be looked at.
. "$(dirname "$0")/vm_lib.sh"
need_rig
rig_window="$build/linetool/ui/linetool_rig_window"
need_file "$rig_window"
need_server bridges
cd "$scratch"
res="$repo/resources"
cp -r "$res/kl_line_Tool v0.3.ini" "$res/121105_10_0000.bin" "$res/wr_test.bin" "$res/preload" .
cat >world.json <<'JSON'
{ "disk_folder": "disks", "controllers": [ { "root_hub": { "ports": 4, "devices": [
  { "port": 1, "bridge": { "serial": "WIN000000001", "disk_size": "64MiB" } },
  { "port": 2, "bridge": { "serial": "WIN000000002", "disk_size": "64MiB" } },
  { "port": 4, "bridge": { "serial": "WIN000000004", "disk_size": "64MiB" } } ] } } ] }
JSON
mkdir -p server
"$vm" --world world.json --control-dir "$scratch/server" --timeout 300 --env QT_QPA_PLATFORM=offscreen -- \
  "$rig_window" shots 3 2 3 >out 2>err &
vm_pid=$!
await() { # file -> 0 once it exists, 1 when the guest ended first
  local i
  for i in $(seq 1500); do [ -e "$1" ] && return 0; kill -0 $vm_pid 2>/dev/null || return 1; sleep 0.1; done
  return 1
}
await step-1 && { "$server" --control "$scratch/server" unplug 2 >/dev/null || echo "unplug 2 refused" >>err; }
await step-2 && { "$server" --control "$scratch/server" plug 2 >/dev/null || echo "plug 2 refused" >>err; }
wait $vm_pid
status=$?
keep="$build/vm-window"
rm -rf "$keep" && mkdir -p "$keep" && cp shots/*.png "$keep/" 2>/dev/null
[ "$status" -eq 0 ] || fail "the window did not follow the plugs ($status): $(cat out err)"
python3 - out <<'PY' || fail "the grid: $(cat out)"
import re, sys
steps, cur = [], None
for line in open(sys.argv[1]):
    if re.match(r"step \d+: ", line):
        cur = []
        steps.append(cur)
    elif cur is not None and "\t" in line:
        cells = line.rstrip("\n").split("\t")
        cur.append((cells[0], cells[4]))
want_all = [("0", "WIN000000001"), ("1", "WIN000000002"), ("2", "WIN000000004")]
assert steps == [want_all, want_all[:2], want_all], steps
PY
for n in 1 2 3; do [ -s "$keep/window_$n.png" ] || fail "no picture window_$n.png"; done
echo "window: the grid followed an unplug and a plug through udev: passed (pictures in $keep)"
