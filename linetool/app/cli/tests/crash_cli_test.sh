#!/usr/bin/env bash
# A station killed with SIGKILL at random moments of a run on the simulated
# station that keeps unit records in a SQLite file: every time, the profile
# still loads, the day's log holds only whole records, and the records file
# opens cleanly with only whole records, no more than the log has; a run
# afterwards in the same folder passes.
# Usage: crash_cli_test.sh LINETOOL_CLI RESOURCE_DIR [KILLS]
# KILLS defaults to LINETOOL_CRASH_KILLS, else 25.
set -uo pipefail
cli=$1
res=$2
kills=${3:-${LINETOOL_CRASH_KILLS:-25}}
# shellcheck source=../../../../tools/cli/cli_checks.sh
. "$(dirname "$0")/../../../../tools/cli/cli_checks.sh"
# A killed station cannot remove its run folder: it stays in the test's own.
export TMPDIR="$work/tmp"
mkdir -p "$TMPDIR"
profile="kl_line_Tool v0.3.ini"
station="$work/station"
mkdir -p "$station"
cp -r "$res/$profile" "$res/121105_10_0000.bin" "$res/wr_test.bin" "$res/preload" "$station/"

# The length of one whole run sets the range of the kill moments.
start=$(date +%s%N)
(cd "$station" && "$cli" --sim=4 --records records.db run --profile "$profile" >"$work/first.out" 2>&1)
expect_status 0 $? "first run"
run_ms=$((($(date +%s%N) - start) / 1000000 + 50))

# A record begins with CR LF and ends with the tab after its last field; a
# whole one has as many fields as the first run's records.
fields=$(tr -d '\r' <"$station"/*.log | awk -F'\t' 'NR == 2 { print NF }')
[ -n "$fields" ] || fail "first run: no log record"
check_log() {  # what
  local log bad
  for log in "$station"/*.log; do
    [ -e "$log" ] || continue
    [ "$(tail -c 1 "$log" | od -An -c | tr -d ' ')" = '\t' ] || fail "$1: $(basename "$log") ends inside a record"
    bad=$(tr -d '\r' <"$log" | awk -F'\t' -v n="$fields" 'NR > 1 && NF != n { print NR": "NF" fields" }' | head -3)
    [ -z "$bad" ] || fail "$1: $(basename "$log") has broken records: $bad"
  done
}

records() { cat "$station"/*.log 2>/dev/null | grep -vc '^Date' || true; }

# Every unit record exports whole: all its fields, seven stages, a result.
check_store() {  # what
  local log_records=$1 what=$2
  (cd "$station" && "$cli" --records records.db records export --format json >"$work/export.json" 2>"$work/export.err")
  expect_status 0 $? "$what: export ($(cat "$work/export.err"))"
  python3 - "$work/export.json" "$log_records" <<'PY' || fail "$what: records file: $(head -c 300 "$work/export.json")"
import json, sys
records = json.load(open(sys.argv[1]))
fields = {"run_id", "station", "time", "port", "usb_location", "before", "after", "serial_written",
          "firmware_file", "firmware_sha256", "profile_file", "profile_sha256", "stages", "capacity",
          "ata_model", "ata_serial", "result"}
for r in records:
    assert set(r) == fields, sorted(r)
    assert len(r["stages"]) == 7 and r["result"] in ("PASS", "FAIL"), r
    assert len(r["firmware_sha256"]) == 64 and r["run_id"], r
assert len(records) <= int(sys.argv[2]), (len(records), sys.argv[2])
assert len({(r["run_id"], r["port"]) for r in records}) == len(records)
PY
}
check_store "$(records)" "first run"

for i in $(seq "$kills"); do
  delay_ms=$((RANDOM % run_ms))
  before=$(records)
  (cd "$station" && exec "$cli" --sim=4 --records records.db run --profile "$profile" >/dev/null 2>&1) &
  pid=$!
  sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  (cd "$station" && "$cli" profile check "$profile" >"$work/check.out" 2>&1)
  expect_status 0 $? "kill $i after $delay_ms ms: profile check ($(tr '\n' ' ' <"$work/check.out"))"
  check_log "kill $i after $delay_ms ms"
  after=$(records)
  check_store "$after" "kill $i after $delay_ms ms"
  # Records written before the kill stay; a run adds at most one per port.
  grown=$((after - before))
  [ "$grown" -ge 0 ] && [ "$grown" -le 4 ] || fail "kill $i after $delay_ms ms: $grown records more"
done

# The station still works in the same folder.
(cd "$station" && "$cli" --sim=4 --records records.db run --profile "$profile" >"$work/last.out" 2>&1)
expect_status 0 $? "run after the kills"
grep -q '^Pass: 4 Fail: 0 Total: 4$' "$work/last.out" || fail "run after the kills: $(tail -3 "$work/last.out")"
check_log "after the last run"
check_store "$(records)" "after the last run"
finish
