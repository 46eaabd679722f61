#!/usr/bin/env bash
# `linetool-cli --sim run` end to end: a run that passes, and runs that must not
# start, each saying why with exit status 2.
# Usage: sim_run_cli_test.sh LINETOOL_CLI RESOURCE_DIR
set -uo pipefail
cli=$1
res=$2
# shellcheck source=cli_checks.sh
. "$(dirname "$0")/cli_checks.sh"
profile="kl_line_Tool v0.3.ini"
station() {  # a fresh working directory with the sample files
  rm -rf "$work/$1"
  mkdir -p "$work/$1"
  cp -r "$res/$profile" "$res/121105_10_0000.bin" "$res/wr_test.bin" "$res/preload" "$work/$1/"
}

# The sample run passes on two bridges.
station good
(cd "$work/good" && "$cli" --sim=2 run --profile "$profile" >out 2>err)
expect_status 0 $? "run of the sample profile"
grep -q '^Pass: 2 Fail: 0 Total: 2$' "$work/good/out" || fail "sample run: $(tail -3 "$work/good/out")"

# A firmware too large for the image: no run, no FW Update PASS, the reason.
station big
head -c 70000 /dev/urandom >"$work/big/121105_10_0000.bin"
(cd "$work/big" && "$cli" --sim=2 run --profile "$profile" >out 2>err)
expect_status 2 $? "run with a 70,000-byte firmware"
grep -q '121105_10_0000.bin FW file size too large, 65535 bytes at most' "$work/big/err" ||
  fail "70,000-byte firmware: $(cat "$work/big/err")"
grep -q 'PASS' "$work/big/out" && fail "70,000-byte firmware: a stage passed: $(cat "$work/big/out")"
grep -q '^Pass:' "$work/big/out" && fail "70,000-byte firmware: the run was counted"

# A folder in place of the firmware file.
station folder
rm "$work/folder/121105_10_0000.bin"
mkdir "$work/folder/121105_10_0000.bin"
(cd "$work/folder" && "$cli" --sim=2 run --profile "$profile" >out 2>err)
expect_status 2 $? "run with a folder for a firmware"
grep -q '121105_10_0000.bin FW file cannot be read' "$work/folder/err" || fail "folder firmware: $(cat "$work/folder/err")"

finish
