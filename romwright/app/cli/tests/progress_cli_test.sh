#!/usr/bin/env bash
# romwright-cli's progress and Ctrl-C on the simulated programmer: a progress
# line on a terminal that reaches 100 %, nothing of it into a pipe, and a read
# stopped by SIGINT that cancels the transfer, writes no file and says so in
# its exit status.
# Usage: progress_cli_test.sh ROMWRIGHT_CLI TOOLS_CLI_DIR
set -uo pipefail
cli=$1
tools=$2
# shellcheck source=../../../../tools/cli/cli_checks.sh
. "$(dirname "$0")/../../../../tools/cli/cli_checks.sh"
cd "$work"

# A 16 MiB read with stderr on a terminal.
"$tools/run_on_terminal.py" term.log -- "$cli" --sim=W25Q128 read -o chip.bin >out
expect_status 0 $? "read of 16 MiB on a terminal"
[ "$(stat -c %s chip.bin)" -eq 16777216 ] || fail "the read did not save 16 MiB"
tr '\r' '\n' <term.log >term.lines
grep -q '100%  16.0 MiB of 16.0 MiB' term.lines || fail "the progress line does not reach 100 %: $(tail -c 300 term.log)"
grep -qE ' [0-9]+%  [0-9.]+ [KM]iB of 16.0 MiB  [0-9.]+ [KM]iB/s  [0-9:]+ left' term.lines ||
  fail "no rate and time left on the way: $(head -c 300 term.log)"

# The same into pipes: no progress line anywhere, stdout as on the terminal.
"$cli" --sim=W25Q128 read -o chip2.bin >out2 2>err2
expect_status 0 $? "read of 16 MiB into a pipe"
grep -q '%  ' err2 && fail "progress went into the pipe: $(cat err2)"
grep -q $'\r' err2 out2 && fail "carriage returns went into the pipe"
# (The tenths the "Progress:" lines land on and the time taken differ from run to run.)
same() { grep -v '^Progress: ' "$1" | sed 's/Elapsed time: [0-9]* ms/Elapsed time: N ms/'; }
diff <(same out) <(same out2) >/dev/null || fail "stdout differs between a terminal and a pipe: $(diff out out2 | head -5)"
[ "$(grep -c '100%  16.0 MiB' term.lines)" -eq 1 ] || fail "the progress line is not ended once at 100 %: $(tail -c 300 term.log)"

# Ctrl-C during a slow read: the transfer is cancelled, no file, exit 130.
"$tools/run_on_terminal.py" stop.log --interrupt-after '%' -- "$cli" --sim=W25Q128 --sim-rate 1000000 read -o stopped.bin >out3
expect_status 130 $? "read stopped by Ctrl-C"
[ -e stopped.bin ] && fail "a stopped read left a file"
grep -q 'stopped' stop.log || fail "a stopped read does not say so: $(tail -c 300 stop.log)"

finish
