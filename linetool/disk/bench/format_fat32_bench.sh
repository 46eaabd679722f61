#!/usr/bin/env bash
# Times the station's FAT32 formatter (linetool-cli format-fat32) against
# mkfs.fat -F 32 on the same sparse images, in the same run, and reports
# ratios. Both get the same cluster size, so both write FATs of the same size.
#
#   linetool/disk/bench/format_fat32_bench.sh [LINETOOL_CLI] [RUNS]
#
# Two measurements:
# - Largest volume: just below 2^32 sectors of 512 bytes, ours / mkfs.fat,
#   median of RUNS runs each.
# - Data area: three volumes whose FATs have the same size but whose data
#   areas differ eightfold (256 GiB at 8, 1 TiB at 32, 2 TiB at 64 sectors per
#   cluster): our time for each divided by our time for the smallest. A
#   formatter that touched the data area would scale with it.
set -euo pipefail
cd "$(dirname "$0")/../../.."
cli="${1:-build/default/linetool/app/linetool-cli}"
runs="${2:-3}"
mkfs="$(command -v mkfs.fat || echo /usr/sbin/mkfs.fat)"
[ -x "$cli" ] || { echo "no $cli: build first" >&2; exit 1; }
[ -x "$mkfs" ] || { echo "no mkfs.fat: run scripts/setup" >&2; exit 1; }

dir="$(mktemp -d "${TMPDIR:-/tmp}/fat32_bench.XXXXXX")"
trap 'rm -rf "$dir"' EXIT
img="$dir/volume.img"

# Seconds (as a decimal) that one format of a fresh sparse image takes.
time_one() {  # tool bytes cluster
  rm -f "$img"
  truncate -s "$2" "$img"
  sync
  local t0 t1
  t0=$(date +%s%N)
  if [ "$1" = ours ]; then
    "$cli" format-fat32 "$img" --label BENCH --cluster "$3" >/dev/null
  else
    "$mkfs" -F 32 -s "$3" -n BENCH "$img" >/dev/null
  fi
  t1=$(date +%s%N)
  echo $(( (t1 - t0) / 1000 ))
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

time_median() {  # tool bytes cluster
  for _ in $(seq "$runs"); do time_one "$@"; done | median
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

largest=$((0xFFFFFFFE * 512))
ours=$(time_median ours "$largest" 64)
theirs=$(time_median mkfs "$largest" 64)
echo "largest volume (4294967294 sectors, 64 per cluster), median of $runs:"
echo "  ours ${ours} us, mkfs.fat ${theirs} us, ours/mkfs.fat = $(ratio "$ours" "$theirs")"

small=$(time_median ours $((256 << 30)) 8)
mid=$(time_median ours $((1 << 40)) 32)
big=$(time_median ours "$largest" 64)
echo "same FAT size, data area 1x / 4x / 8x (256 GiB, 1 TiB, 2 TiB):"
echo "  ours ${small} / ${mid} / ${big} us, ratio to 256 GiB = 1.00 / $(ratio "$mid" "$small") / $(ratio "$big" "$small")"
echo "FIGURE fat32_format_2TiB $ours $theirs us $(ratio "$ours" "$theirs") - time: ours / mkfs.fat -F 32 -s 64, same image (median of $runs)"
echo "FIGURE fat32_format_data_area_8x $big $small us $(ratio "$big" "$small") - time: 2 TiB / 256 GiB volume, same FAT size (8x the data area)"
