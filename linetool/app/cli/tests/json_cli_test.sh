#!/usr/bin/env bash
# linetool-cli --json on the simulated station: list and run print one JSON
# document on stdout that the schemas beside this script accept, with the
# values the table and the grid show.
# Usage: json_cli_test.sh LINETOOL_CLI RESOURCE_DIR VALIDATOR
set -uo pipefail
cli=$1
res=$2
validate=$3
schemas="$(cd "$(dirname "$0")" && pwd)/schemas"
# shellcheck source=../../../../tools/cli/cli_checks.sh
. "$(dirname "$0")/../../../../tools/cli/cli_checks.sh"
profile="kl_line_Tool v0.3.ini"
cp -r "$res/$profile" "$res/121105_10_0000.bin" "$res/wr_test.bin" "$res/preload" "$work/"
cd "$work"
valid() { json_valid "$schemas/$1" "$2" "$3"; }  # schema document what

"$cli" --sim=4 list --json >list.json 2>err
expect_status 0 $? "list --json"
valid list.schema.json list.json "list --json"
[ "$(field list.json 'd["bridges_found"], len(d["bridges"]), d["left_out"]')" = "(4, 4, 0)" ] ||
  fail "list --json counts: $(cat list.json)"
"$cli" --sim=4 list >list.txt 2>err
[ "$(field list.json '" ".join(b["serial_number"] for b in d["bridges"])')" = \
  "$(awk '/^[0-9]+  /{print $5}' list.txt | tr '\n' ' ' | sed 's/ $//')" ] || fail "list --json serial numbers differ from the table"

# Two bridges, the second never comes back after its restart: exit 1, and the
# document says which stages passed and failed on which port.
cat >world.json <<'WORLD'
{ "controllers": [ { "root_hub": { "ports": 2, "devices": [
  { "port": 1, "bridge": { "serial": "GOOD0001" } },
  { "port": 2, "bridge": { "serial": "LOST0002", "faults": { "never_returns": true } } } ] } } ] }
WORLD
"$cli" --sim=world.json run --profile "$profile" --json >run.json 2>err
expect_status 1 $? "run --json with a bridge that does not come back"
valid run.schema.json run.json "run --json"
[ "$(field run.json 'd["passed"], d["counters"]["pass"], d["counters"]["fail"], d["counters"]["total"]')" = "(False, 1, 1, 2)" ] ||
  fail "run --json counters: $(field run.json 'd["counters"]')"
[ "$(field run.json '[(p["port"], p["result"]) for p in d["ports"]]')" = "[(0, 'PASS'), (1, 'FAIL')]" ] ||
  fail "run --json results: $(cat run.json)"
[ "$(field run.json 'd["ports"][1]["stages"]["relink"], d["ports"][0]["stages"]["rw_test"]')" = "('FAIL', 'PASS')" ] ||
  fail "run --json stages: $(field run.json 'd["ports"]')"
[ "$(field run.json 'd["ports"][0]["firmware_version"] != "" and d["ports"][0]["serial_number"] != ""')" = "True" ] ||
  fail "run --json has no serial number or firmware version"
[ -s "$(field run.json 'd["log"]')" ] || fail "run --json names no log file that exists"

finish
