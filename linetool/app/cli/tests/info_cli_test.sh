#!/usr/bin/env bash
# The contract of `linetool-cli info` on the simulated station: the ten column
# captions, the Status row, the register report and the exit status.
# Usage: info_cli_test.sh LINETOOL_CLI
set -uo pipefail
cli=$1
# shellcheck source=cli_checks.sh
. "$(dirname "$0")/cli_checks.sh"
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
