#!/usr/bin/env bash
# The production run on 1 and on 16 simulated bridges: the same job (the sample
# profile, every stage on) on identical bridges with 500 GB disks. For each it
# prints the wall time of the whole command, the product time of the run itself
# (from the first stage result to the last, on the simulated station's clock,
# which runs 50 times faster than real time), and the ratios 16/1.
# The reference is the one-bridge run measured in the same invocation; 16
# ports worked one after the other would give 16.00.
# Each figure is the median of three runs.
# Usage: run_bench.sh LINETOOL_CLI RESOURCE_DIR
set -euo pipefail
cli=$1
res=$2
factor=50

world() {
  local n=$1 i port hubs json devices
  json='{"reload_delay_ms": 2000, "controllers": [{"root_hub": {"ports": 6, "devices": ['
  devices=()
  for ((i = 0; i < n && i < 3; ++i)); do
    devices+=("{\"port\": $((i + 1)), \"bridge\": {\"disk_size\": \"500GB\"}}")
  done
  for ((port = 4; i < n; ++port)); do
    hubs=()
    for ((p = 1; p <= 7 && i < n; ++p, ++i)); do
      hubs+=("{\"port\": $p, \"bridge\": {\"disk_size\": \"500GB\"}}")
    done
    devices+=("{\"port\": $port, \"hub\": {\"ports\": 7, \"devices\": [$(IFS=,; echo "${hubs[*]}")]}}")
  done
  echo "$json$(IFS=,; echo "${devices[*]}")]}}]}"
}

# Prints "<whole ms> <run ms>" of one run on n bridges.
time_run() {
  local n=$1 work start end
  work=$(mktemp -d)
  cp -r "$res/kl_line_Tool v0.3.ini" "$res/121105_10_0000.bin" "$res/wr_test.bin" "$res/preload" "$work/"
  world "$n" > "$work/world.json"
  start=$EPOCHREALTIME
  if ! (cd "$work" && "$cli" --sim=world.json run --profile "kl_line_Tool v0.3.ini" 2> run.err |
        while IFS= read -r line; do echo "$EPOCHREALTIME $line"; done > run.out); then
    echo "run on $n bridges failed:" >&2
    tail -n 20 "$work/run.out" "$work/run.err" >&2
    rm -rf "$work"
    exit 1
  fi
  end=$EPOCHREALTIME
  grep -q "Pass: $n Fail: 0 Total: $n" "$work/run.out" || { echo "run on $n bridges: not all passed" >&2; exit 1; }
  awk -v s="$start" -v e="$end" '
    / port [0-9]+ (Config Update|FW Update|ReLink|Partition|Format|R\/W Test|Preload): / {
      if (first == "") first = $1; last = $1 }
    END { printf "%d %d\n", (e - s) * 1000, (last - first) * 1000 }' "$work/run.out"
  rm -rf "$work"
}

median() { printf '%s\n' "$@" | sort -n | sed -n 2p; }

declare -A whole run
for n in 1 16; do
  a=$(time_run "$n"); b=$(time_run "$n"); c=$(time_run "$n")
  whole[$n]=$(median "${a% *}" "${b% *}" "${c% *}")
  run[$n]=$(median "${a#* }" "${b#* }" "${c#* }")
done
for n in 1 16; do
  awk -v n="$n" -v w="${whole[$n]}" -v r="${run[$n]}" -v f="$factor" 'BEGIN {
    printf "%2d bridge(s): command %6d ms wall; run %6d ms wall = %6.1f s of product time\n", n, w, r, r * f / 1000 }'
done
awk -v w1="${whole[1]}" -v w16="${whole[16]}" -v r1="${run[1]}" -v r16="${run[16]}" 'BEGIN {
  printf "ratio 16/1: command %.2f, run %.2f (16 ports one after the other: 16.00)\n", w16 / w1, r16 / r1 }'
