#!/usr/bin/env bash
# A programmer operation killed with SIGKILL at a random moment leaves the
# file the user named either absent or complete: `read -o FILE` of a 16 MiB
# simulated chip (about half a second), killed anywhere in its run or just
# while it saves, never leaves a cut FILE behind.
# Usage: crash_cli_test.sh ROMWRIGHT_CLI [ROUNDS]
set -uo pipefail
cli=$(realpath "$1")
rounds=${2:-8}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Seconds with three decimals from a number of milliseconds.
seconds() { printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000)); }

# A fresh simulated chip reads as 0xFF.
head -c 16777216 /dev/zero | tr '\0' '\377' >expected.bin
absent=0
complete=0
for ((round = 0; round < rounds; round++)); do
  rm -f out.bin
  "$cli" --sim=W25Q128 read -o out.bin >log 2>&1 &
  pid=$!
  if ((round % 2 == 0)); then
    # Anywhere from start-up through the read to the save.
    sleep "$(seconds $((RANDOM % 600)))"
  else
    # Within the first milliseconds after the read, while the file is saved.
    until grep -q "Read chip ok!" log || ! kill -0 "$pid" 2>/dev/null; do sleep 0.001; done
    sleep "$(seconds $((RANDOM % 35)))"
  fi
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  if [ ! -e out.bin ]; then
    absent=$((absent + 1))
  elif cmp -s out.bin expected.bin; then
    complete=$((complete + 1))
  else
    fail "round $round: out.bin holds $(wc -c <out.bin) bytes that are not the chip's"
  fi
done
echo "killed reads: $absent left no file, $complete a complete one"
[ "$failures" -eq 0 ] && echo "killed operations: all checks passed"
exit $((failures > 0))
