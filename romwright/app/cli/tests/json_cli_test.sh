#!/usr/bin/env bash
# romwright-cli --json on the simulated programmer: chips, detect, version,
# serial and selftest print one JSON document on stdout that the schemas
# beside this script accept, with the values the text output shows.
# Usage: json_cli_test.sh ROMWRIGHT_CLI VALIDATOR
set -uo pipefail
cli=$1
validate=$2
schemas="$(cd "$(dirname "$0")" && pwd)/schemas"
# shellcheck source=../../../../tools/cli/cli_checks.sh
. "$(dirname "$0")/../../../../tools/cli/cli_checks.sh"
cd "$work"
valid() { json_valid "$schemas/$1" "$2" "$3"; }  # schema document what

"$cli" chips 'w25q*' --json >chips.json 2>err
expect_status 0 $? "chips --json"
valid chips.schema.json chips.json "chips --json"
"$cli" chips 'w25q*' >chips.txt 2>err
[ "Find $(field chips.json 'd["count"]') Chips!" = "$(head -1 chips.txt)" ] || fail "chips --json count differs"
[ "$(field chips.json '[c for c in d["chips"] if c["name"] == "W25Q128"][0]["capacity_bytes"]')" = 16777216 ] ||
  fail "chips --json: W25Q128 is not 16 MiB"

"$cli" --sim=W25X80 --chip EN25T80 detect --json >detect.json 2>err
expect_status 0 $? "detect --json"
valid detect.schema.json detect.json "detect --json"
[ "$(field detect.json 'd["ok"], d["chip"], d["manufacturer_id"]')" = "(True, 'W25X80', 239)" ] ||
  fail "detect --json: $(cat detect.json)"
"$cli" --sim=AT24C32 detect --json >eeprom.json 2>err
expect_status 1 $? "detect --json of an EEPROM"
valid detect.schema.json eeprom.json "detect --json of an EEPROM"
[ "$(field eeprom.json 'd["ok"], d["chip"], d["device_id"]')" = "(False, None, 255)" ] ||
  fail "detect --json of an EEPROM: $(cat eeprom.json)"

for c in version serial selftest; do
  "$cli" --sim "$c" --json >"$c.json" 2>err
  expect_status 0 $? "$c --json"
  valid "$c.schema.json" "$c.json" "$c --json"
  [ "$(field "$c.json" 'd["ok"]')" = True ] || fail "$c --json: $(cat "$c.json")"
done
grep -q "FPR7100" version.json || fail "version --json: $(cat version.json)"
[ "$(field selftest.json 'd["hardware_ok"]')" = True ] || fail "selftest --json: $(cat selftest.json)"

finish
