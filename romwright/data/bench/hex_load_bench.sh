#!/usr/bin/env bash
# Times loading a 16 MiB chip image from Intel HEX (romwright-cli convert, which
# loads the file into the data buffer and saves the chip's bytes as binary)
# against objcopy -I ihex -O binary on the same file, in the same run, and
# reports the ratio of the median times, each output put on the medium (sync)
# before its time ends. Both outputs are compared with the random image the
# HEX file was made from. The last line is the figure for
# scripts/bench: FIGURE name ours reference unit ratio goal what.
#
#   romwright/data/bench/hex_load_bench.sh [ROMWRIGHT_CLI] [RUNS]
#
# The HEX file is written by objcopy (data records first, a type 04 record at
# each 64 KiB boundary); a second file starts with a type 04 record for 0000,
# as other tools write it. Both must load byte for byte.
set -euo pipefail
cd "$(dirname "$0")/../../.."
cli="${1:-build/default/romwright/app/romwright-cli}"
runs="${2:-5}"
[ -x "$cli" ] || { echo "no $cli: build first" >&2; exit 1; }
command -v objcopy >/dev/null || { echo "no objcopy: run scripts/setup" >&2; exit 1; }

dir="$(mktemp -d "${TMPDIR:-/tmp}/hex_bench.XXXXXX")"
trap 'rm -rf "$dir"' EXIT
chip=W25Q128  # 16 MiB

head -c 16777216 /dev/urandom > "$dir/image.bin"
objcopy -I binary -O ihex "$dir/image.bin" "$dir/image.hex"
{ printf ':020000040000FA\r\n'; cat "$dir/image.hex"; } > "$dir/leading04.hex"

# Microseconds one conversion takes.
time_one() {  # tool input output
  local t0 t1
  t0=$(date +%s%N)
  if [ "$1" = ours ]; then
    "$cli" convert "$2" "$3" --chip "$chip" >/dev/null
  else
    # romwright-cli puts its output on the medium before it ends: objcopy's
    # output goes there too, in the time measured.
    objcopy -I ihex -O binary "$2" "$3"
    sync "$3"
  fi
  t1=$(date +%s%N)
  echo $(( (t1 - t0) / 1000 ))
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

# Warm the page cache once, and check what both produce.
time_one ours "$dir/image.hex" "$dir/ours.bin" >/dev/null
time_one objcopy "$dir/image.hex" "$dir/objcopy.bin" >/dev/null
cmp "$dir/ours.bin" "$dir/image.bin"
cmp "$dir/objcopy.bin" "$dir/image.bin"
time_one ours "$dir/leading04.hex" "$dir/ours04.bin" >/dev/null
cmp "$dir/ours04.bin" "$dir/image.bin"
echo "both outputs equal the 16 MiB image (also with a leading type 04 record)"

ours=() theirs=()
for _ in $(seq "$runs"); do  # interleaved, so load on the machine hits both alike
  ours+=("$(time_one ours "$dir/image.hex" "$dir/ours.bin")")
  theirs+=("$(time_one objcopy "$dir/image.hex" "$dir/objcopy.bin")")
done
o=$(printf '%s\n' "${ours[@]}" | median)
t=$(printf '%s\n' "${theirs[@]}" | median)
echo "16 MiB Intel HEX ($(stat -c %s "$dir/image.hex") bytes) to binary, median of $runs:"
echo "  romwright-cli convert ${o} us, objcopy ${t} us, romwright/objcopy = $(ratio "$o" "$t")"
echo "FIGURE hex_load_16MiB $o $t us $(ratio "$o" "$t") <=0.5 time: romwright-cli convert / objcopy -I ihex -O binary, outputs synced (median of $runs)"
