#!/usr/bin/env bash
# Captures the sysfs trees the Linux discovery's unit tests read, each from the
# rig's guest with the device server's bridges (tests/vm/capture_sysfs.py):
#   platform/linux/tests/data/sysfs_super_root_port   a bridge on a SuperSpeed root port
#   platform/linux/tests/data/sysfs_high_root_port    the same bridge at high speed
#   platform/linux/tests/data/sysfs_behind_two_hubs   a bridge behind a chain of two hubs
#   platform/linux/tests/data/sysfs_cdrom_bridge      a bridge that presents a CD-ROM
# Usage: tests/vm/capture_fixtures.sh [NAME...]   (default: all four)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
data="$repo/platform/linux/tests/data"
work=$(mktemp -d "$repo/build/.capture.XXXXXX")
trap 'rm -rf "$work"' EXIT

world() { # name -> world file
  local b='"serial": "FIX0001", "disk_size": "64MiB"'
  case $1 in
    super_root_port) echo "{ \"disk_folder\": \"d\", \"controllers\": [ { \"root_hub\": { \"ports\": 2, \"devices\": [ { \"port\": 2, \"bridge\": { $b, \"speed\": \"super\" } } ] } } ] }" ;;
    high_root_port) echo "{ \"disk_folder\": \"d\", \"controllers\": [ { \"root_hub\": { \"ports\": 2, \"devices\": [ { \"port\": 2, \"bridge\": { $b, \"speed\": \"high\" } } ] } } ] }" ;;
    behind_two_hubs) echo "{ \"disk_folder\": \"d\", \"controllers\": [ { \"root_hub\": { \"ports\": 2, \"devices\": [ { \"port\": 1, \"hub\": { \"ports\": 4, \"devices\": [ { \"port\": 3, \"hub\": { \"ports\": 4, \"devices\": [ { \"port\": 2, \"bridge\": { $b, \"speed\": \"full\" } } ] } } ] } } ] } } ] }" ;;
    cdrom_bridge) echo "{ \"disk_folder\": \"d\", \"controllers\": [ { \"root_hub\": { \"ports\": 2, \"devices\": [ { \"port\": 1, \"bridge\": { $b, \"speed\": \"super\", \"cdrom\": true } } ] } } ] }" ;;
    *) echo "capture_fixtures: unknown tree $1" >&2; return 1 ;;
  esac
}

names=("$@")
((${#names[@]})) || names=(super_root_port high_root_port behind_two_hubs cdrom_bridge)
for n in "${names[@]}"; do
  mkdir -p "$work/$n"
  world "$n" >"$work/$n/world.json"
  (cd "$work/$n" && "$repo/scripts/vm" --world world.json --timeout 300 -- "$repo/tests/vm/capture_sysfs.py" "$work/$n/tree")
  rm -rf "$data/sysfs_$n"
  mkdir -p "$data"
  mv "$work/$n/tree" "$data/sysfs_$n"
done
