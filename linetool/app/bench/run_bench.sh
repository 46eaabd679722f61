#!/usr/bin/env bash
# The production run on 1 and on 16 simulated bridges with every stage on (the
# sample profile): the wall time of each and their ratio. Only the partition,
# the re-find and the preload copy are taken one port at a time, so the ratio
# stays near 1 while the ports run in parallel. Each figure is the median of
# three runs.
# Usage: run_bench.sh LINETOOL_CLI RESOURCE_DIR
set -euo pipefail
cli=$1
res=$2

time_run() {
  local n=$1 work start end
  work=$(mktemp -d)
  cp -r "$res/kl_line_Tool v0.3.ini" "$res/121105_10_0000.bin" "$res/wr_test.bin" "$res/preload" "$work/"
  start=$(date +%s%N)
  (cd "$work" && "$cli" --sim="$n" run --profile "kl_line_Tool v0.3.ini" > run.out 2> run.err) || {
    echo "run on $n bridges failed:" >&2
    tail -n 20 "$work/run.out" "$work/run.err" >&2
    rm -rf "$work"
    exit 1
  }
  end=$(date +%s%N)
  grep -q "Pass: $n Fail: 0 Total: $n" "$work/run.out" || { echo "run on $n bridges: not all passed" >&2; exit 1; }
  rm -rf "$work"
  echo $(((end - start) / 1000000))
}

median() { printf '%s\n' "$@" | sort -n | sed -n 2p; }

one=$(median "$(time_run 1)" "$(time_run 1)" "$(time_run 1)")
sixteen=$(median "$(time_run 16)" "$(time_run 16)" "$(time_run 16)")
echo "1 bridge:    ${one} ms (reference)"
echo "16 bridges:  ${sixteen} ms"
awk -v a="$sixteen" -v b="$one" 'BEGIN { printf "ratio 16/1:  %.2f (16 ports serially would be 16.00)\n", a / b }'
