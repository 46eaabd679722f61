#!/usr/bin/env bash
# The contract of `romwright-cli chips`, `convert` and `chipdb`: output, files
# and exit status, as scripts rely on them.
# Usage: data_cli_test.sh ROMWRIGHT_CLI CHIP_LIST TEST_DATA_DIR
set -uo pipefail
cli=$1
list=$2
data=$3
# shellcheck source=../../../../tools/cli/cli_checks.sh
. "$(dirname "$0")/../../../../tools/cli/cli_checks.sh"
cd "$work"

help_and_version "--help" "chips --help" "convert --help" "chipdb --help"

usage_error "not expected: --bogus" --bogus chips
usage_error "unknown option --out" read --out x.bin
usage_error "unknown command or argument bogus" bogus
usage_error "a command is required (.* --help lists them)"
usage_error "a command is required (romwright-cli chipdb --help lists them)" chipdb
usage_error "File does not exist: missing.hex" convert missing.hex out.bin --chip AT24C02
usage_error "File does not exist: missing.csv" chipdb build missing.csv out.db
usage_error "--output is required" --sim read
usage_error "sim-rate takes a whole number" --sim --sim-rate=12x version
usage_error "FILE is required" --sim write

# chips: the database beside the executable, the search's count line, one row per chip.
total=$(grep -c -v -e '^#' -e '^name,' -e '^$' "$list")
"$cli" chips >out 2>err
expect_status 0 $? "chips"
[ "$(head -1 out)" = "Find $total Chips!" ] || fail "chips: first line '$(head -1 out)', expected Find $total Chips!"
[ "$(wc -l <out)" -eq $((total + 1)) ] || fail "chips: not one row per chip"
"$cli" chips 'en25*80' >lower 2>err
"$cli" chips 'EN25*80' >upper 2>err
cmp -s lower upper || fail "chips: en25*80 and EN25*80 differ"
grep -q '^EN25T80 .* 1024KB .* Eon .* SPI FLASH$' upper || fail "chips: no EN25T80 row with capacity, maker and type"
# A stored lower-case x is matched only by a pattern without a letter there.
"$cli" chips '93C46*16' >out 2>err
grep -q '^93C46 (x16) .* 64 x16bit ' out || fail "chips: 93C46 (x16) capacity text"
"$cli" --db missing.db chips >out 2>err
expect_status 1 $? "chips with a missing database"
grep -q "Database error!" err || fail "chips with a missing database: no message"
"$cli" chips a b >out 2>err
expect_status 2 $? "chips with two patterns"

# convert: binary and Intel HEX, with the chip's capacity as the length.
head -c 4097 /dev/urandom >in.bin
"$cli" convert in.bin out.bin --chip AT24C32 >out 2>err
expect_status 0 $? "convert of a file one byte too long"
grep -q "File is too long!" err || fail "convert: no File is too long! on stderr"
cmp -s out.bin <(head -c 4096 in.bin) || fail "convert: the first 4096 bytes are not saved"
printf ':020000021000EC\r\n:020000001234B8\r\n:00000001FF\r\n' >seg.hex
"$cli" --chip AT24C02 convert seg.hex seg.bin >out 2>err
expect_status 0 $? "convert of a HEX file starting at segment 0x1000"
[ "$(head -c 2 seg.bin | od -An -tx1 | tr -d ' ')" = "1234" ] || fail "convert: segment 0x1000 does not load at 0"
[ "$(wc -c <seg.bin)" -eq 256 ] || fail "convert: AT24C02 image is not 256 bytes"
printf ':020000001234b8\r\n:00000001FF\r\n' >lower.hex
"$cli" convert lower.hex x.bin --chip AT24C02 >out 2>err
expect_status 1 $? "convert of a HEX file with lower-case digits"
grep -q "Open file error!" err || fail "convert of a bad HEX file: no message"
# HEX data go to their own chip address: a file for 0x10000 whose first
# record is its upper address, data for 0x100000 beyond a 1 MiB chip, and an
# image linked for 0x08000000, which alone is moved down (and says so).
byte_at() { od -An -tx1 -j "$2" -N 1 "$1" | tr -d ' '; }
printf ':020000040001F9\r\n:02000000A1A2BB\r\n:00000001FF\r\n' >high.hex
"$cli" convert high.hex high.bin --chip EN25T80 >out 2>err
expect_status 0 $? "convert of a HEX file for chip address 0x10000"
[ "$(byte_at high.bin 65536)$(byte_at high.bin 65537)" = "a1a2" ] || fail "convert: data for 0x10000 are not at 0x10000"
[ "$(byte_at high.bin 0)" = "ff" ] || fail "convert: data for 0x10000 landed at 0"
printf ':020000040010EA\r\n:01000000B04F\r\n:00000001FF\r\n' >beyond.hex
"$cli" convert beyond.hex beyond.bin --chip EN25T80 >out 2>err
expect_status 0 $? "convert of a HEX file with data beyond the chip"
grep -q "File is too long!" err || fail "convert: data for 0x100000 on a 1 MiB chip are not too long"
[ "$(byte_at beyond.bin 0)" = "ff" ] || fail "convert: data for 0x100000 landed at 0"
printf ':020000040800F2\r\n:0100100042AD\r\n:00000001FF\r\n' >mcu.hex
"$cli" convert mcu.hex mcu.bin --chip AT24C02 >out 2>err
expect_status 0 $? "convert of a HEX image linked for 0x08000000"
grep -q "moved down by 08000000H" err || fail "convert: moving the image down is not reported ($(cat err))"
[ "$(byte_at mcu.bin 16)" = "42" ] || fail "convert: the image linked for 0x08000000 is not moved down"
# A cut HEX file fails and says where; OUT is not written.
printf ':020000001234B8\r\n:0200020056' >cut.hex
"$cli" convert cut.hex cut.bin --chip AT24C02 >out 2>err
expect_status 1 $? "convert of a cut HEX file"
grep -q "line 2: the record ends early" err || fail "convert of a cut HEX file: no line ($(cat err))"
[ -e cut.bin ] && fail "convert of a cut HEX file wrote its output"
# An OUT ending in hex is Intel HEX, and converts back to the same bytes.
"$cli" convert in.bin round.hex --chip AT24C32 >out 2>err
expect_status 0 $? "convert to a .hex file"
[ "$(head -c 9 round.hex)" = ":20000000" ] || fail "convert: a .hex output is no Intel HEX"
"$cli" convert round.hex round.bin --chip AT24C32 >out 2>err
expect_status 0 $? "convert of a saved .hex file"
cmp -s round.bin out.bin || fail "convert: a .hex output does not load back to the same bytes"

"$cli" convert in.bin x.bin >out 2>err
expect_status 2 $? "convert without --chip"
"$cli" convert in.bin x.bin --chip NO-SUCH-CHIP >out 2>err
expect_status 2 $? "convert with an unknown chip"

# chipdb: dump and build round-trip to the same bytes; a bad list builds nothing.
db="$(dirname "$cli")/chips.db"
"$cli" chipdb dump "$db" >dump.csv 2>err
expect_status 0 $? "chipdb dump"
"$cli" chipdb build dump.csv again.db >out 2>err
expect_status 0 $? "chipdb build of a dump"
cmp -s again.db "$db" || fail "chipdb: dump and build do not give the same database"
{ cat dump.csv; sed -n 2p dump.csv; } >twice.csv
"$cli" chipdb build twice.csv bad.db >out 2>err
expect_status 1 $? "chipdb build of a list with a name twice"
grep -q "used more than once" err || fail "chipdb build: duplicate name not reported"
[ -e bad.db ] && fail "chipdb build of a bad list left a database"
# A chip named "#HASHCHIP" is no comment: dump and build keep it.
"$cli" chipdb dump "$data/chip-name-hash.db" >hash.csv 2>err
expect_status 0 $? "chipdb dump of a chip named #HASHCHIP"
"$cli" chipdb build hash.csv hash.db >out 2>err
expect_status 0 $? "chipdb build of a chip named #HASHCHIP"
grep -q ": 1 chips$" out || fail "chipdb build: #HASHCHIP dropped ($(cat out))"
cmp -s hash.db "$data/chip-name-hash.db" || fail "chipdb: #HASHCHIP does not build back to the same bytes"
grep -v '^"#HASHCHIP"' hash.csv >empty.csv
"$cli" chipdb build empty.csv empty.db >out 2>err
expect_status 1 $? "chipdb build of a list without chips"
grep -q "no chips" err || fail "chipdb build of an empty list: no reason"
[ -e empty.db ] && fail "chipdb build of an empty list left a database"
"$cli" chipdb dump in.bin >out 2>err
expect_status 1 $? "chipdb dump of a file that is no database"

finish
