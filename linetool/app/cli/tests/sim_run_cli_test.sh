#!/usr/bin/env bash
# `linetool-cli --sim run` end to end: a run that passes, and runs that must not
# start, each saying why with exit status 2.
# Usage: sim_run_cli_test.sh LINETOOL_CLI RESOURCE_DIR
set -uo pipefail
cli=$1
res=$2
# shellcheck source=../../../../tools/cli/cli_checks.sh
. "$(dirname "$0")/../../../../tools/cli/cli_checks.sh"
profile="kl_line_Tool v0.3.ini"

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

# --workdir: relative names on the command line are taken against it, as with
# git -C; the run works in that folder (its Temp, its log).
station wd
mkdir -p "$work/elsewhere"
(cd "$work/elsewhere" && "$cli" --sim=2 --workdir ../wd run --profile "$profile" >out 2>err)
expect_status 0 $? "run with --workdir and the station's own profile name"
grep -q '^Pass: 2 Fail: 0 Total: 2$' "$work/elsewhere/out" || fail "--workdir run: $(cat "$work/elsewhere/err")"
[ -s "$work/wd/Temp/TempBinData.bin" ] || fail "--workdir run composed no image in the working directory"
ls "$work/wd/"*.log >/dev/null 2>&1 || fail "--workdir run wrote no log in the working directory"
[ -e "$work/elsewhere/Temp" ] && fail "--workdir run wrote into the current directory"
(cd "$work/elsewhere" && "$cli" --workdir "$work/wd" profile check "$profile" >out 2>err)
expect_status 0 $? "profile check with --workdir"
(cd "$work/elsewhere" && "$cli" --workdir=../wd image --fw 121105_10_0000.bin --chip 001 >out 2>err)
expect_status 0 $? "image with --workdir"
grep -qx "$work/elsewhere/../wd/Temp/UnConfig_121105_10_0000.bin" "$work/elsewhere/out" ||
  fail "image with --workdir: $(cat "$work/elsewhere/out" "$work/elsewhere/err")"
"$cli" --sim=2 --workdir "$work/elsewhere" run --profile "$profile" >"$work/out" 2>"$work/err"
expect_status 2 $? "run with --workdir of a folder without the profile"
grep -q "^$profile File/Path Not Exist" "$work/err" || fail "profile missing in --workdir: $(cat "$work/err")"
grep -q "did not load" "$work/err" || fail "profile missing in --workdir: no reason given: $(cat "$work/err")"

# A profile with auto mode on: no run, and the reason.
station auto
sed -i 's/^auto_mp=0/auto_mp=1/' "$work/auto/$profile"
grep -q '^auto_mp=1' "$work/auto/$profile" || fail "the sample profile has no auto_mp line"
"$cli" --sim=1 --workdir "$work/auto" run --profile "$profile" >"$work/out" 2>"$work/err"
expect_status 2 $? "run of a profile with auto mode on"
grep -q 'auto mode on (auto_mp=1)' "$work/err" || fail "auto mode: $(cat "$work/err")"

# --sim=0 names no station: the same exit status as in every other command.
"$cli" --sim=0 --workdir "$work/good" run --profile "$profile" >"$work/out" 2>"$work/err"
expect_status 2 $? "run --sim=0"

# Ctrl-C during a run (a bridge that never comes back keeps it going): the jobs
# stop, the program says so and exits with 130, and the station runs again.
station stop
cat >"$work/stop/world.json" <<'WORLD'
{ "controllers": [ { "root_hub": { "ports": 2, "devices": [
  { "port": 1, "bridge": { "serial": "GOOD0001" } },
  { "port": 2, "bridge": { "serial": "LOST0002", "faults": { "never_returns": true } } } ] } } ] }
WORLD
# The signal goes once the good bridge is back and the run waits for the lost
# one (1.2 s at the simulation's pace), not after a fixed time that a loaded
# machine may spend starting the program.
(cd "$work/stop" && exec "$cli" --sim=world.json run --profile "$profile" >out 2>err) &
run_pid=$!
for _ in $(seq 200); do
  grep -q "port 0 ReLink: PASS" "$work/stop/out" 2>/dev/null && break
  sleep 0.02
done
kill -INT "$run_pid"
wait "$run_pid"
expect_status 130 $? "run stopped by SIGINT"
grep -q 'stopped by a signal' "$work/stop/err" || fail "a stopped run does not say so: $(cat "$work/stop/err")"
(cd "$work/stop" && "$cli" --sim=2 run --profile "$profile" >out 2>err)
expect_status 0 $? "run after a stopped run"

finish
