#!/usr/bin/env bash
# Figures of the kernel rig (not a timed test), each as a ratio against its
# reference measured in the same run:
#   boot: the guest's boot to COMMAND (scripts/vm ... -- true, wall time)
#         against the kernel's own start to /init (its console timestamps);
#   run:  a four-bridge FAT32 run of every stage in the guest against the same
#         world's run on the simulator (linetool-cli --sim=FILE), wall time;
#   rw:   the write/read test's throughput in the guest (its stage time in the
#         unit records), a port's mean, against dd with the same cache bypass
#         (oflag=direct / iflag=direct) on the same virtual disks in that boot,
#         one dd a disk, all at once as the station's four tests ran.
# Usage: tests/vm/bench.sh [boot|run]...   (default: both)
set -uo pipefail
. "$(dirname "$0")/vm_lib.sh"
trap - EXIT
trap 'rm -rf "$scratch"' EXIT
need_rig
cd "$scratch"
res="$repo/resources"
profile="kl_line_Tool v0.3.ini"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
now() { date +%s.%N; }

bench_boot() {
  local t0 t1 wall init
  t0=$(now)
  "$vm" --console console.log -- true || fail "the guest did not run true"
  t1=$(now)
  wall=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }')
  init=$(sed -n 's/^\[ *\([0-9.]*\)\] Run \/init as init process.*/\1/p' console.log | head -1)
  echo "boot: ${wall} s to COMMAND, the kernel ${init:-?} s to /init: ratio $(ratio "$wall" "${init:-0}")"
}

bench_run() {
  need_server bridges
  mkdir -p run && cd run
  cp -r "$res/$profile" "$res/121105_10_0000.bin" "$res/wr_test.bin" "$res/preload" .
  sed -i "s/^format_drive_type=.*/format_drive_type=1/" "$profile"
  printf '{ "disk_folder": "disks", "reload_delay_ms": 500, "controllers": [ { "root_hub": { "ports": 4, "devices": [ %s ] } } ] }\n' \
    "$(for i in 1 2 3 4; do printf '{ "port": %d, "bridge": { "serial": "BN%d", "disk_size": "%dMiB" } }%s' $i $i $((540 + i)) "$([ $i -lt 4 ] && echo ,)"; done)" >world.json
  size=$(stat -c %s wr_test.bin)
  cat >guest.sh <<GUEST
t0=\$(date +%s.%N)
$linetool_cli --records records.db run --profile "$profile" >run.out 2>run.err || exit 1
t1=\$(date +%s.%N)
echo "\$t0 \$t1" >run.times
$linetool_cli --records records.db records export --format json >records.json
# dd on each bridge's volume at once, as the station's four tests ran, with
# the same cache bypass as the station's test; each dd's own time.
# The source in memory, as the station holds its reference.
cp wr_test.bin /run/wr_test.bin
i=0
for dev in \$(lsblk -rno NAME,TYPE | awk '\$2 == "part" { print "/dev/" \$1 }'); do
  i=\$((i + 1)); mkdir -p /run/dd\$i && mount "\$dev" /run/dd\$i || exit 1
  ( s0=\$(date +%s.%N)
    dd if=/run/wr_test.bin of=/run/dd\$i/dd.bin bs=1M oflag=direct conv=fsync status=none
    dd if=/run/dd\$i/dd.bin of=/dev/null bs=1M iflag=direct status=none
    echo "\$s0 \$(date +%s.%N)" >dd\$i.times ) &
done
wait
cat dd*.times >dd.times
for d in /run/dd*; do rm -f \$d/dd.bin; umount \$d; done
GUEST
  "$vm" --world world.json --timeout 900 -- bash guest.sh >vm.out 2>vm.err || fail "the guest's run failed: $(cat vm.err run.err 2>/dev/null)"
  mkdir -p sim && cp -r "$profile" 121105_10_0000.bin wr_test.bin preload world.json sim/
  local s0 s1
  s0=$(now)
  (cd sim && "$linetool_cli" --sim=world.json run --profile "$profile" >out 2>err) || fail "the simulator's run failed"
  s1=$(now)
  python3 - run.times "$s0" "$s1" records.json dd.times "$size" "$(grep -o '^wr_test_count=[0-9]*' "$profile" | cut -d= -f2)" <<'PY'
import json, sys
g0, g1 = map(float, open(sys.argv[1]).read().split())
sim = float(sys.argv[3]) - float(sys.argv[2])
print("run: %.1f s in the guest, %.1f s on the simulator: ratio %.2f" % (g1 - g0, sim, (g1 - g0) / sim))
doc = json.load(open(sys.argv[4]))
records = doc if isinstance(doc, list) else doc.get("records", [])
ms = [r["stages"]["write_read"]["ms"] for r in records if r["stages"]["write_read"]["ms"]]
size, count = int(sys.argv[6]), int(sys.argv[7] or 1)
spans = [b - a for a, b in (map(float, l.split()) for l in open(sys.argv[5]) if l.strip())]
station = 2 * size * count / (sum(ms) / len(ms) / 1000) / 1e6  # written and read back, per port
dd = 2 * size / (sum(spans) / len(spans)) / 1e6
print("rw: the write/read test %.2f MB/s a port, dd direct %.2f MB/s a disk (%d at once, same disks): ratio %.2f"
      % (station, dd, len(spans), station / dd))
PY
}

what=("$@")
((${#what[@]})) || what=(boot run)
for w in "${what[@]}"; do "bench_$w"; done
