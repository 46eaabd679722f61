#!/usr/bin/env bash
# Simulated stations read from world files: files that once crashed the
# simulator are refused with their line and field by `list` and `run`, a run
# on a bridge whose disk has 4,096-byte sectors passes every stage, and a
# disk the host uses is refused with its reason.
# Usage: world_cli_test.sh LINETOOL_CLI RESOURCE_DIR WORLD_DATA_DIR
set -uo pipefail
cli=$1
res=$2
worlds=$3
# shellcheck source=../../../../tools/cli/cli_checks.sh
. "$(dirname "$0")/../../../../tools/cli/cli_checks.sh"
profile="kl_line_Tool v0.3.ini"
cp -r "$res/$profile" "$res/121105_10_0000.bin" "$res/wr_test.bin" "$res/preload" "$work/"
cd "$work"

refused() {  # file "line N: field"
  "$cli" --sim="$worlds/$1" list >out 2>err
  expect_status 2 $? "list of $1"
  grep -qF "$1: $2" err || fail "list of $1: $(cat err)"
  "$cli" --sim="$worlds/$1" run --profile "$profile" >out 2>err
  expect_status 2 $? "run of $1"
  grep -qF "$1: $2" err || fail "run of $1: $(cat err)"
  grep -q '^Pass:' out && fail "run of $1 was counted"
}
refused world-disk-size-huge.json "line 1: disk_size"
refused world-disk-size-wraps.json "line 1: disk_size"
refused world-disk-size-max.json "line 1: disk_size"
refused world-nested-hubs-10000.json "line 1: nested deeper"
refused world-port-1e99.json "line 1: port"
refused world-reload-delay-negative.json "line 2: reload_delay_ms"
refused world-vendor-id-65537.json "line 4: vendor_id"

# A 4Kn disk beside a disk of 512-byte sectors: both are partitioned,
# formatted, tested and preloaded.
cat >w4k.json <<'WORLD'
{ "controllers": [ { "root_hub": { "ports": 2, "devices": [
  { "port": 1, "bridge": { "serial": "SECT4096", "disk_size": "500GB", "sector_size": 4096 } },
  { "port": 2, "bridge": { "serial": "SECT0512", "disk_size": "500GB" } } ] } } ] }
WORLD
"$cli" --sim=w4k.json run --profile "$profile" >out 2>err
expect_status 0 $? "run with a 4Kn disk"
grep -q '^Pass: 2 Fail: 0 Total: 2$' out || fail "4Kn run: $(tail -5 out) $(cat err)"
grep -q 'FAIL' out && fail "4Kn run failed a stage: $(cat out)"

# A disk the host uses is refused: its port fails Partition, the reason is
# logged on stderr, and the other port passes.
cat >wuse.json <<'WORLD'
{ "controllers": [ { "root_hub": { "ports": 2, "devices": [
  { "port": 1, "bridge": { "serial": "USEDDISK", "in_use": "sdb1 is mounted at /home" } },
  { "port": 2, "bridge": { "serial": "FREEDISK" } } ] } } ] }
WORLD
"$cli" --sim=wuse.json run --profile "$profile" >out 2>err
expect_status 1 $? "run with a disk in use"
grep -q '^Pass: 1 Fail: 1 Total: 2$' out || fail "disk in use: $(tail -5 out)"
grep -qx 'port 0 Partition: FAIL' out || fail "disk in use: its Partition did not fail: $(cat out)"
grep -qx 'port 0 Partition: refused: sdb1 is mounted at /home' err || fail "disk in use: no reason: $(cat err)"

# A disk too small for FAT32 at the station's cluster size fails Format, and
# stderr says why with the figures.
cat >wsmall.json <<'WORLD'
{ "controllers": [ { "root_hub": { "ports": 1, "devices": [
  { "port": 1, "bridge": { "serial": "SMALLDSK", "disk_size": "60MiB" } } ] } } ] }
WORLD
sed "s/^format_drive_type=.*/format_drive_type=1/" "$profile" >fat32.ini
"$cli" --sim=wsmall.json run --profile fat32.ini >out 2>err
expect_status 1 $? "FAT32 run on a 60 MiB disk"
grep -qx 'port 0 Format: FAIL' out || fail "small disk: its Format did not fail: $(cat out)"
grep -Eqx 'port 0 Format: FAT32: [0-9,]+ clusters of 16 sectors; FAT32 needs 65,525 to 268,435,443' err ||
  fail "small disk: no reason: $(cat err)"

finish
