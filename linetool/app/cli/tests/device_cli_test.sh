#!/usr/bin/env bash
# The contract of `linetool-cli list`, `regs` and `config` on the simulated
# station: rows, walk order, the left-out line, the hex grid and exit status.
# Usage: device_cli_test.sh LINETOOL_CLI
set -uo pipefail
cli=$1
# shellcheck source=../../../../tools/cli/cli_checks.sh
. "$(dirname "$0")/../../../../tools/cli/cli_checks.sh"
cd "$work"
rows() { grep -cE '^[0-9]+  ' "$1"; }

"$cli" --sim=4 list >out 2>err
expect_status 0 $? "list --sim=4"
[ "$(rows out)" -eq 4 ] || fail "list --sim=4 prints $(rows out) rows"
head -1 out | grep -q '^Port#  Status  VID   PID   Serial Number' || fail "list header: $(head -1 out)"
grep -q '^4 bridges found\.$' out || fail "list --sim=4 does not count 4 bridges"
grep -q 'left out' out && fail "list --sim=4 reports bridges left out"

# A world file: 16 bridges behind two hubs on two controllers, in walk order.
world() {  # bridges-per-hub
  local n=$1
  printf '{ "controllers": [\n'
  for c in 0 1; do
    printf '  { "root_hub": { "ports": 2, "devices": [ { "port": 2, "hub": { "ports": %d, "devices": [' "$n"
    for p in $(seq 1 "$n"); do
      [ "$p" -gt 1 ] && printf ','
      printf ' { "port": %d, "bridge": { "serial": "C%dP%02d" } }' "$p" "$c" "$p"
    done
    printf ' ] } } ] } }'
    [ "$c" -eq 0 ] && printf ','
    printf '\n'
  done
  printf '] }\n'
}
world 8 >w16.json
"$cli" --sim=w16.json list >out 2>err
expect_status 0 $? "list of a 16-bridge world"
[ "$(rows out)" -eq 16 ] || fail "16-bridge world prints $(rows out) rows"
awk '/^[0-9]+  /{print $5}' out | tr '\n' ' ' >serials
[ "$(cat serials)" = "C0P01 C0P02 C0P03 C0P04 C0P05 C0P06 C0P07 C0P08 C1P01 C1P02 C1P03 C1P04 C1P05 C1P06 C1P07 C1P08 " ] ||
  fail "walk order: $(cat serials)"
awk '/^15  /{print $11}' out | grep -qx 118 || fail "location of the last bridge: $(grep '^15 ' out)"

world 9 >w18.json
"$cli" --sim=w18.json list >out 2>err
expect_status 0 $? "list of an 18-bridge world"
[ "$(rows out)" -eq 16 ] || fail "18-bridge world prints $(rows out) rows"
grep -q '^2 bridges were left out' out || fail "18-bridge world does not say that 2 were left out"

echo '{ "controllers": [ { "root_hub": { "ports": 1, "devices": [ { "port": 3, "bridge": {} } ] } } ] }' >bad.json
"$cli" --sim=bad.json list >out 2>err
expect_status 2 $? "list of a bad world"
grep -q 'port 3' err || fail "bad world error: $(cat err)"

# Registers: the firmware version as a grid, the limits of the dialog.
"$cli" --sim=2 regs read --port 1 --addr 7F0 --len 7 >out 2>err
expect_status 0 $? "regs read"
grep -qx '07F0  12 11 05 10 00 00 00' out || fail "regs read grid: $(cat out)"
"$cli" --sim=2 regs read --port 0 --addr 7F0 --len 101 >out 2>err
expect_status 1 $? "regs read of 0x101 bytes"
grep -q '^Access Device is Failed ! (3)$' err || fail "0x101 bytes: $(cat err)"
"$cli" --sim=2 regs read --port 0 --addr 7F0 --len zz >out 2>err
expect_status 2 $? "regs read with a bad length"
grep -q 'Invalid value for register length' err || fail "bad length: $(cat err)"
"$cli" --sim=2 regs write --port 0 --addr CA02 --value 1FF >out 2>err
expect_status 0 $? "regs write"
# A zero length only as "0": it reads nothing and prints the empty grid.
"$cli" --sim=2 regs read --port 0 --addr 7F0 --len 0 >out 2>err
expect_status 0 $? "regs read of length 0"
[ "$(wc -l <out)" -eq 1 ] || fail "length 0 prints more than the captions: $(cat out)"
for len in 00 0x0 10000 ""; do
  "$cli" --sim=2 regs read --port 0 --addr 7F0 --len "$len" >out 2>err
  expect_status 2 $? "regs read --len '$len'"
  grep -q 'Invalid value for register length' err || fail "length '$len': $(cat err)"
done
for addr in 10000 zz ""; do
  "$cli" --sim=2 regs read --port 0 --addr "$addr" --len 1 >out 2>err
  expect_status 2 $? "regs read --addr '$addr'"
  grep -q 'Invalid value for register address' err || fail "address '$addr': $(cat err)"
done
"$cli" --sim=2 regs write --port 0 --addr CA02 --value 100000000 >out 2>err
expect_status 2 $? "regs write of a value above 32 bits"
# Numbers out of any range are refused with a clear error, never a crash.
for cmd in "regs read --addr 0 --len 1" "regs write --addr 0 --value 1" "config read --image 0"; do
  for port in 99999999999999999999999 16 -1 1x; do
    # shellcheck disable=SC2086
    "$cli" --sim=2 $cmd --port "$port" >out 2>err
    expect_status 2 $? "$cmd --port $port"
    grep -q "^linetool-cli: --port N with N from 0 to 15 is required, not \"$port\"$" err ||
      fail "$cmd --port $port: $(cat err)"
  done
done
for sim in 0 65 99999999999999999999999; do
  for cmd in list "regs read --port 0 --addr 0 --len 1" "config read --port 0 --image 0"; do
    # shellcheck disable=SC2086
    "$cli" --sim=$sim $cmd >out 2>err
    expect_status 2 $? "--sim=$sim $cmd"
    grep -q "^linetool-cli: --sim=N takes a bridge count from 1 to 64, not $sim$" err || fail "--sim=$sim $cmd: $(cat err)"
  done
done
"$cli" --sim=2 regs read --port 7 --addr 0 --len 1 >out 2>err
expect_status 1 $? "regs read of an empty port"

# A configuration slot: eight lines of 16 bytes.
"$cli" --sim=1 config read --port 0 --image 1 >out 2>err
expect_status 0 $? "config read"
[ "$(grep -c '^00[0-7]0  FF FF' out)" -eq 8 ] || fail "config grid: $(cat out)"
"$cli" --sim=1 config read --port 0 --image 2 >out 2>err
expect_status 2 $? "config read of image 2"

finish
