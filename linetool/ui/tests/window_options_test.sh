#!/usr/bin/env bash
# linetool, the window: its command line takes the station's records options
# as linetool-cli does, its help names them, and it refuses what linetool-cli
# refuses before any window opens. SIGTERM closes a window on the simulated
# station as its Exit does, leaving nothing in the temporary folder.
# Usage: window_options_test.sh LINETOOL
set -uo pipefail
cli=$1
# shellcheck source=../../../tools/cli/cli_checks.sh
. "$(dirname "$0")/../../../tools/cli/cli_checks.sh"
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$work/runtime"

help_and_version --help
"$cli" --help >"$work/help" 2>&1
for option in "--records STORE" "--line-serials" "--station-name NAME" "Last" "Records..."; do
  grep -q -- "$option" "$work/help" || fail "--help does not name $option"
done

usage_error "--line-serials needs --records STORE" --line-serials
usage_error "cannot open the records file" --workdir "$work" --records "$work/none/records.db"
[ -e "$work/none" ] && fail "a records folder was made for a store that cannot be opened"
usage_error "no such working directory" --workdir "$work/gone" --records records.db
[ -e "$work/gone" ] && fail "a working directory was made"

mkdir -p "$work/station" "$work/tmp"
(cd "$work/station" && TMPDIR="$work/tmp" exec "$cli" --sim=2 >"$work/term.out" 2>&1) &
pid=$!
for _ in $(seq 100); do
  [ -n "$(ls "$work/tmp")" ] && break
  sleep 0.1
done
[ -n "$(ls "$work/tmp")" ] || fail "the simulated station made no folder: $(cat "$work/term.out")"
kill -TERM "$pid"
for _ in $(seq 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  kill -KILL "$pid"
  fail "SIGTERM did not close the window"
fi
wait "$pid"
expect_status 18 $? "the window closed by SIGTERM"
[ -z "$(ls "$work/tmp")" ] || fail "the closed window left $(ls "$work/tmp")"
finish
