#!/usr/bin/env bash
# The contract of `linetool-cli info` on the simulated station: the ten column
# captions, the Status row, the register report and the exit status.
# Usage: info_cli_test.sh LINETOOL_CLI
set -uo pipefail
cli=$1
# shellcheck source=../../../../tools/cli/cli_checks.sh
. "$(dirname "$0")/../../../../tools/cli/cli_checks.sh"
cd "$work"

# A fresh bridge: both slots erased (every option off, no idle timer), UASP
# supported and enabled.
"$cli" --sim=2 info --port 1 >out 2>err
expect_status 0 $? "info --port 1"
[ "$(sed -n 1p out)" = "Config  CS  EE  TL  HS  U1U2  LP  2TB  SE  Idle Timer" ] || fail "captions: $(sed -n 1p out)"
[ "$(sed -n 2p out)" = "Status  X   X   X   X   X     X   X    X   Never" ] || fail "status row: $(sed -n 2p out)"
sed -n 3p out | grep -qE '^-?[0-9]+2-[0-9]+1$' || fail "variant line of chip 0x11: $(sed -n 3p out)"
[ "$(tail -n +4 out)" = "$(printf '\nSupport UASP : Yes \n\nEnable UASP : Yes ')" ] || fail "report: $(cat out)"
[ -s err ] && fail "info wrote to stderr: $(cat err)"

# A world file sets the registers and slot 1: flag byte 0x81, idle byte 0xF7,
# UASP not supported (0xC890 bit 2) but enabled (0x9000 bit 7).
slot1=$(printf 'FF%.0s' $(seq 1 122); printf 'F7FFFF81FFFF')
cat >regs.json <<JSON
{ "controllers": [ { "root_hub": { "ports": 2, "devices": [
  { "port": 1, "bridge": { "serial": "R1",
    "registers": { "0xC890": "0x04", "0xC8FF": "0x72", "0x9000": "0x80" },
    "config_slots": [ null, "$slot1" ] } },
  { "port": 2, "bridge": { "serial": "R2", "faults": { "fail_from_call": { "E0": 1 } } } } ] } } ] }
JSON
"$cli" --sim=regs.json info --port 0 --image 1 >out 2>err
expect_status 0 $? "info of a world file's bridge"
[ "$(sed -n 2p out)" = "Status  X   O   O   O   O     O   O    X   1 hr" ] || fail "slot 1 status row: $(sed -n 2p out)"
sed -n 3p out | grep -qE '^-?[0-9]+7-[0-9]+2$' || fail "variant line of 0x72: $(sed -n 3p out)"
[ "$(tail -n +4 out)" = "$(printf '\nSupport UASP : No \n\nEnable UASP : Yes ')" ] || fail "world report: $(cat out)"
# Every slot read of the second bridge fails (the refresh still finds it by
# its serial number): the cells stay empty, the report is still printed.
"$cli" --sim=regs.json info --port 1 >out 2>err
expect_status 1 $? "info of a bridge whose slot read fails"
[ "$(sed -n 2p out)" = "Status" ] || fail "failed slot read status row: $(sed -n 2p out)"
grep -q '^Enable UASP : Yes $' out || fail "failed slot read report: $(cat out)"
sed -i 's/"0x04"/"0x104"/' regs.json
"$cli" --sim=regs.json info --port 0 >out 2>err
expect_status 2 $? "a world file with a register value above one byte"
grep -q 'line 3: 0xC890: expected a whole number from 0 to 255' err || fail "register value error: $(cat err)"

"$cli" --sim=2 info --port 0 --image 1 >out 2>err
expect_status 0 $? "info --port 0 --image 1"
"$cli" --sim=2 info --port 5 >out 2>err
expect_status 1 $? "info of an empty port"
for bad in "--port 0 --image 2" "--port 16" "--port 0 --len 1" ""; do
  # shellcheck disable=SC2086
  "$cli" --sim=2 info $bad >out 2>err
  expect_status 2 $? "info $bad"
done
"$cli" info --help >out 2>err
expect_status 0 $? "info --help"
grep -q 'Status row' out || fail "info --help: $(cat out)"

finish
