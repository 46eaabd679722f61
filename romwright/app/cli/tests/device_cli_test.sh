#!/usr/bin/env bash
# The contract of romwright-cli's device commands on the simulated programmer:
# files, messages and exit status (0 success, 1 failed operation, 2 bad usage
# or no programmer), as scripts rely on them.
# Usage: device_cli_test.sh ROMWRIGHT_CLI TEST_DATA_DIR
set -uo pipefail
cli=$1
data=$2
# shellcheck source=../../../../tools/cli/cli_checks.sh
. "$(dirname "$0")/../../../../tools/cli/cli_checks.sh"
cd "$work"

for c in detect read write erase verify auto version serial selftest update-firmware; do
  "$cli" "$c" --help >out 2>err
  expect_status 0 $? "$c --help"
  grep -q "^Usage: romwright-cli $c" out || fail "$c --help prints no usage"
done

# Auto writes an image into a simulated chip that IMAGE keeps; read gives it back.
head -c 1048576 /dev/urandom >image.bin
"$cli" --sim=EN25T80,chip.img auto image.bin >out 2>err
expect_status 0 $? "auto"
grep -q "^Erasing...$" out || fail "auto on SPI flash does not erase first"
grep -q "^Verify chip ok!   Elapsed time: [0-9]* ms$" out || fail "auto: no verify ok line"
cmp -s image.bin chip.img || fail "auto: the simulated chip does not hold the image"
"$cli" --sim=EN25T80,chip.img read -o back.bin >out 2>err
expect_status 0 $? "read"
cmp -s image.bin back.bin || fail "read: the file differs from the chip"
"$cli" --sim=EN25T80,chip.img verify image.bin >out 2>err
expect_status 0 $? "verify of the same image"

# One wrong byte at 0x12345: verify fails there.
cp image.bin wrong.bin
printf '\x5A' | dd of=wrong.bin bs=1 seek=$((0x12345)) conv=notrunc 2>/dev/null
if cmp -s image.bin wrong.bin; then printf '\xA5' | dd of=wrong.bin bs=1 seek=$((0x12345)) conv=notrunc 2>/dev/null; fi
"$cli" --sim=EN25T80,chip.img verify wrong.bin >out 2>err
expect_status 1 $? "verify of a different image"
grep -q "^Addr:0x012345   " err || fail "verify: no address of the difference"

# Detect names the chip by its ID bytes; EEPROMs carry none.
"$cli" --sim=W25X80 --chip EN25T80 detect >out 2>err
expect_status 0 $? "detect"
grep -q "^Chip type: W25X80 " err || fail "detect: W25X80 not named"
"$cli" --sim=AT24C32 --chip EN25T80 detect >out 2>err
expect_status 1 $? "detect of an EEPROM"
grep -q "^Chip type is unknown!ManufacturerID:FF" err || fail "detect: FF FF not unknown"

# Erase is for SPI flash only; the programmer gets nothing.
"$cli" --sim=AT24C32 erase >out 2>err
expect_status 2 $? "erase of an EEPROM"

# The programmer itself.
"$cli" --sim version >out 2>err
expect_status 0 $? "version"
grep -q "^Firmware version:  FPR7100" err || fail "version: no version box"
"$cli" --sim serial >out 2>err
expect_status 0 $? "serial"
"$cli" --sim selftest >out 2>err
expect_status 0 $? "selftest"
grep -q "Hardware is OK!" err || fail "selftest: no result"
head -c 262145 /dev/zero >big.fpr
"$cli" --sim update-firmware big.fpr >out 2>err
expect_status 1 $? "update-firmware with a too long file"
grep -q "^File format error!$" err || fail "update-firmware: too long file not refused"

# Numbers on the command line are checked, never wrapped or thrown.
for bad in 0 -1 1e6 99999999999999999999999 1000000001 ""; do
  "$cli" --sim --sim-rate="$bad" version >out 2>err
  expect_status 2 $? "--sim-rate=$bad"
  grep -q "^romwright-cli: --sim-rate takes a whole number of bytes per second from 1 to 1000000000" err ||
    fail "--sim-rate=$bad: no clear error"
done
"$cli" --sim --sim-rate 2000000 --chip AT24C32 read -o slow.bin >out 2>err
expect_status 0 $? "read over a slowed link"
"$cli" --help | grep -q "^Exit status, the same for every command:" || fail "--help lists no exit codes"

# Bad usage, a missing file, a missing programmer.
"$cli" --sim read >out 2>err
expect_status 2 $? "read without -o"
"$cli" --sim write >out 2>err
expect_status 2 $? "write without a file"
"$cli" --sim write missing.bin >out 2>err
expect_status 1 $? "write of a missing file"
grep -q "^Open file error!$" err || fail "write of a missing file: no message"
"$cli" --sim=NO-SUCH-CHIP version >out 2>err
expect_status 2 $? "--sim with an unknown chip"
if ! "$cli" version >/dev/null 2>&1; then
  "$cli" version >out 2>err
  expect_status 2 $? "version without a programmer"
  grep -q "^No programmer linked to computer!$" err || fail "no programmer: no message"
fi

# config.ini beside the program as a Chinese Windows station wrote it, in GBK:
# its Chinese log file name (GBK C8D5 D6BE) becomes the UTF-8 name 日志.log.
mkdir gbk
cp "$cli" gbk/
printf '[Run]\r\nDefaultLanguage=SimpleChinese\r\n[SimpleChinese]\r\nLogFile=\xC8\xD5\xD6\xBE.log\r\n' >gbk/config.ini
(cd gbk && ./romwright-cli --sim --db "$(dirname "$cli")/chips.db" version) >out 2>err
expect_status 0 $? "version with a GBK config.ini"
grep -q "^固件版本:  FPR7100" err || fail "version with a GBK config.ini: no Chinese version box"
grep -q "固件版本" gbk/日志.log 2>/dev/null || fail "the GBK log file name did not become 日志.log"
rm -rf gbk

# A database whose record claims a 32 MiB chip is refused before any transfer:
# the 16 MiB buffer would be overrun.
for c in "read -o big.bin" "write image.bin" "verify image.bin"; do
  # shellcheck disable=SC2086
  "$cli" --sim --db "$data/chip-capacity-32MiB.db" --chip BIG $c >out 2>err
  expect_status 1 $? "$c with a 32 MiB chip record"
  grep -q "^Database error!$" err || fail "$c with a 32 MiB chip record: no Database error!"
done
[ -e big.bin ] && fail "read with a 32 MiB chip record left a file"

finish
