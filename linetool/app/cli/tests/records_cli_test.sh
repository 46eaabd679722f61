#!/usr/bin/env bash
# linetool-cli --records: runs that keep a record of every unit in a SQLite
# file, `records export` with its filters and formats, line serials from the
# file's counter, and what happens when the store cannot be used.
# Usage: records_cli_test.sh LINETOOL_CLI RESOURCE_DIR
set -uo pipefail
cli=$1
res=$2
# shellcheck source=../../../../tools/cli/cli_checks.sh
. "$(dirname "$0")/../../../../tools/cli/cli_checks.sh"
profile="kl_line_Tool v0.3.ini"
json_count() {  # FILE: the number of records in a JSON export, or "bad"
  python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))))' "$1" 2>/dev/null || echo bad
}

# Two runs of three bridges, the store relative to the working directory.
station a
for i in 1 2; do
  "$cli" --sim=3 --workdir "$work/a" --records records.db --station-name bench-a run --profile "$profile" >"$work/a/run$i.out" 2>"$work/a/run$i.err"
  expect_status 0 $? "run $i with records"
done
[ -s "$work/a/records.db" ] || fail "no records file in the working directory"
"$cli" --workdir "$work/a" --records records.db records export >"$work/a.csv" 2>"$work/a.err"
expect_status 0 $? "CSV export"
[ "$(wc -l <"$work/a.csv")" -eq 7 ] || fail "CSV export: $(wc -l <"$work/a.csv") lines, expected a header and 6 records"
head -1 "$work/a.csv" | grep -q '^run_id,station,time,port,' || fail "CSV header: $(head -1 "$work/a.csv")"
[ "$(grep -c $'\r$' "$work/a.csv")" -eq 7 ] || fail "CSV lines do not end with CR LF"
[ "$(grep -c ',bench-a,' "$work/a.csv")" -eq 6 ] || fail "CSV: records without the station's name"
# Without line serials both runs wrote the profile's serials: the first one twice.
first=$(grep -m1 "$(printf '\t')00$(printf '\t')" "$work"/a/*.log | cut -f10)
[ -n "$first" ] || fail "no serial of port 0 in the log"
"$cli" --workdir "$work/a" --records records.db records export --format json --serial "$first" >"$work/serial.json"
expect_status 0 $? "export by serial"
[ "$(json_count "$work/serial.json")" = 2 ] || fail "export by serial $first: $(json_count "$work/serial.json") records, expected 2"
today=$(date +%F)
"$cli" --workdir "$work/a" --records records.db records export --format json --from "$today" --to "$today" --station bench-a --result pass >"$work/today.json"
[ "$(json_count "$work/today.json")" = 6 ] || fail "export of today's passes: $(json_count "$work/today.json")"
"$cli" --workdir "$work/a" --records records.db records export --format json --to 2000-01-01 >"$work/old.json"
[ "$(json_count "$work/old.json")" = 0 ] || fail "export before 2000: $(json_count "$work/old.json")"
"$cli" --workdir "$work/a" --records records.db records export --format json --result fail >"$work/fail.json"
[ "$(json_count "$work/fail.json")" = 0 ] || fail "export of failures: $(json_count "$work/fail.json")"

# Line serials from the file's counter: no serial twice over three runs, and
# each bridge carries the serial of its record.
station b
for i in 1 2 3; do
  "$cli" --sim=2 --workdir "$work/b" --records "$work/line.db" --line-serials run --profile "$profile" >"$work/b/run$i.out" 2>"$work/b/run$i.err"
  expect_status 0 $? "run $i with line serials"
done
"$cli" --records "$work/line.db" records export --format json >"$work/line.json"
python3 - "$work/line.json" <<'PY' || fail "line serials: $(cat "$work/line.json" | head -c 300)"
import json, sys
records = json.load(open(sys.argv[1]))
written = [r["serial_written"] for r in records]
assert len(records) == 6, len(records)
assert len(set(written)) == 6, written
assert all(r["after"]["serial"] == r["serial_written"] for r in records)
assert all(len(r["stages"]) == 7 and r["result"] == "PASS" for r in records)
PY

# Usage errors.
"$cli" --sim=2 --workdir "$work/b" --line-serials run --profile "$profile" >/dev/null 2>"$work/e1"
expect_status 2 $? "--line-serials without --records"
grep -q -- '--records' "$work/e1" || fail "--line-serials without --records: $(cat "$work/e1")"
"$cli" records export >/dev/null 2>"$work/e2"
expect_status 2 $? "records export without --records"
"$cli" --records "$work/line.db" records export --from 2026-02-30 >/dev/null 2>"$work/e3"
expect_status 2 $? "a day that is not in the calendar"
"$cli" --records "$work/line.db" records export --format xml >/dev/null 2>&1
expect_status 2 $? "an unknown format"
"$cli" --sim=2 --workdir "$work/b" --records "$work/no/such/folder/r.db" run --profile "$profile" >/dev/null 2>"$work/e4"
expect_status 2 $? "a records file in a missing folder"
grep -q 'records' "$work/e4" || fail "records file in a missing folder: $(cat "$work/e4")"
echo "not a database" >"$work/text.db"
"$cli" --records "$work/text.db" records export >/dev/null 2>"$work/e5"
expect_status 1 $? "export of a file that is no store"

# A line database out of reach: with line serials no run starts, and the
# reason is given; without them the run goes on and its records wait in the
# working directory's outbox.
away="postgresql:///line?host=$work/no-server"
station c
"$cli" --sim=2 --workdir "$work/c" --records "$away" --line-serials run --profile "$profile" >"$work/c.out" 2>"$work/c.err"
expect_status 2 $? "line serials from a database out of reach"
grep -q "No run: the line's serial numbers cannot be taken from the records database." "$work/c.err" ||
  fail "database out of reach: $(cat "$work/c.err")"
grep -q 'cannot reach the records database' "$work/c.err" || fail "database out of reach, no reason: $(cat "$work/c.err")"
grep -q '^Pass:' "$work/c.out" && fail "database out of reach: a run was counted"
"$cli" --sim=2 --workdir "$work/c" --records "$away" run --profile "$profile" >"$work/c2.out" 2>"$work/c2.err"
expect_status 0 $? "records to a database out of reach, no line serials"
grep -q '^port [01] record:' "$work/c2.err" && fail "records lost for a server out of reach: $(cat "$work/c2.err")"
grep -q '^records: 2 wait in the outbox for the records server (.*cannot reach the records database' "$work/c2.err" ||
  fail "records waiting for the server not reported: $(cat "$work/c2.err")"
[ -s "$work/c/records_outbox.sqlite" ] || fail "no outbox in the working directory"
"$cli" --workdir "$work/c" --records "$away" records export --pending >"$work/c.pending" 2>"$work/c.pending.err"
expect_status 0 $? "records export --pending with the server away"
[ "$(cat "$work/c.pending")" = 2 ] || fail "records export --pending: $(cat "$work/c.pending") $(cat "$work/c.pending.err")"
"$cli" --sim=2 --workdir "$work/c" --records "$away" run --profile "$profile" >/dev/null 2>"$work/c3.err"
grep -q '^records: 4 wait' "$work/c3.err" || fail "a second run away from the server: $(cat "$work/c3.err")"
"$cli" --workdir "$work/a" --records records.db records export --pending >"$work/a.pending"
[ "$(cat "$work/a.pending")" = 0 ] || fail "records export --pending of a SQLite store: $(cat "$work/a.pending")"

finish
