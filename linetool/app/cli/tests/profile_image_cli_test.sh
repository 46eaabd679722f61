#!/usr/bin/env bash
# The contract of `linetool-cli profile check` and `linetool-cli image`: output,
# files and exit status, as scripts rely on them.
# Usage: profile_image_cli_test.sh LINETOOL_CLI RESOURCE_DIR
set -uo pipefail
cli=$1
res=$2
# shellcheck source=../../../../tools/cli/cli_checks.sh
. "$(dirname "$0")/../../../../tools/cli/cli_checks.sh"

profile="kl_line_Tool v0.3.ini"
cp -r "$res/$profile" "$res/121105_10_0000.bin" "$work/"
cd "$work"

# --help on every level, --version.
help_and_version "--help" "profile --help" "profile check --help" "image --help"
"$cli" --help >out
grep -qE -- '^ +--sim \[=N\|=FILE\]' out || fail "--help does not show --sim as it is written: $(grep -- --sim out)"

usage_error "not expected: --bogus" --bogus list
usage_error "not expected: --bogus" list --bogus
usage_error "unknown option --profil" run --profil x
usage_error "unknown command or argument bogus" bogus
usage_error "a command is required (.* --help lists them)"
usage_error "a command is required (linetool-cli profile --help lists them)" profile
usage_error "no such file: missing.img" format-fat32 missing.img --label A
usage_error "no such file: missing.bin" image --fw missing.bin --chip 001
usage_error "no such working directory" --workdir missing profile check "$profile"
usage_error "--image: 2 not in" --sim=2 config read --port 0 --image 2
usage_error "--port is required" --sim=2 info
usage_error "label must have" format-fat32 x.img --label 123456789012
usage_error 'label may not hold "\*"' format-fat32 x.img --label "A*"

# A valid profile: exit 0, no message, stdout is the text the station saves.
"$cli" profile check "$profile" >out 2>err
expect_status 0 $? "profile check of the sample profile"
cmp -s out "$profile" || fail "profile check does not print the saved text of the sample profile"
[ -s err ] && fail "profile check of the sample profile shows: $(cat err)"

# A missing profile: its message on stderr, the zero record on stdout, exit 1.
"$cli" profile check none.ini >out 2>err
expect_status 1 $? "profile check of a missing file"
grep -q "none.ini File/Path Not Exist" err || fail "missing profile: no path message"
head -c 29 out | tr -d '\r' | grep -q "format_enable=0" || fail "missing profile: no zero record on stdout"

# Validation clears a field: the cleared record is printed, exit 1.
sed 's/^serial_number=.*/serial_number=12-34\r/' "$profile" >bad.ini
"$cli" profile check bad.ini >out 2>err
expect_status 1 $? "profile check with a bad serial number"
grep -q "Invalid SN String" err || fail "bad serial number: no message"
grep -q $'^serial_number=\r$' out || fail "bad serial number: the field is not printed cleared"

# With a profile whose config_enable is 1: the Config_ image of port 0.
"$cli" image --fw 121105_10_0000.bin --chip 001 --profile "$profile" >out 2>err
expect_status 0 $? "image with the sample profile"
[ "$(cat out)" = "$work/Temp/TempBinData.bin"$'\n'"$work/Temp/Config_121105_10_0000.bin" ] ||
  fail "image prints: $(cat out)"
[ "$(stat -c %s Temp/TempBinData.bin)" -eq $((2 + 24576 + 2)) ] || fail "TempBinData.bin size"
[ "$(stat -c %s Temp/Config_121105_10_0000.bin)" -eq $((128 + 24580)) ] || fail "Config_ image size"
[ "$(od -v -A n -t x1 -j 4 -N 12 Temp/Config_121105_10_0000.bin | tr -d ' \n')" = "303030304130303030303031" ] ||
  fail "Config_ image does not start with the port 0 serial number"
[ "$(od -v -A n -t x1 -j 126 -N 1 Temp/Config_121105_10_0000.bin | tr -d ' \n')" = "5a" ] ||
  fail "Config_ image block has no signature"

# Without a profile, with CRC: the UnConfig_ image, 0xFF block, CRC appended.
"$cli" image --fw 121105_10_0000.bin --chip 001 --crc >out 2>err
expect_status 0 $? "image with --crc"
[ "$(stat -c %s Temp/UnConfig_121105_10_0000.bin)" -eq $((128 + 24584)) ] || fail "UnConfig_ image size"
[ "$(od -v -A n -t x1 -N 128 Temp/UnConfig_121105_10_0000.bin | tr -d ' \n' | tr -d f)" = "" ] ||
  fail "UnConfig_ block is not all 0xFF"
[ "$(od -v -A n -t x1 -j 24578 Temp/TempBinData.bin | tr -d ' \n')" = "b49cc43d68f9" ] ||
  fail "type byte, sum and CRC-32 of the composed image"

# Failures and usage errors.
"$cli" image --fw 121105_10_0000.bin --chip 100 >out 2>err
expect_status 1 $? "image with an unknown chip code"
grep -q "121105_10_0000.bin FW image has no type byte for chip code \"100\"" err ||
  fail "unknown chip code: no error text: $(cat err)"
head -c 65536 /dev/zero >big.bin
"$cli" image --fw big.bin --chip 001 >out 2>err
expect_status 1 $? "image of a 65,536-byte firmware"
# 4 GiB files (sparse) are refused without being read whole.
truncate -s 4G huge.bin
timeout 20 "$cli" image --fw huge.bin --chip 001 >out 2>err
expect_status 1 $? "image of a 4 GiB firmware"
grep -q 'huge.bin FW file size too large' err || fail "4 GiB firmware: $(cat err)"
truncate -s 4G huge.ini
timeout 20 "$cli" profile check huge.ini >out 2>err
expect_status 1 $? "profile check of a 4 GiB file"
grep -q '^0 Line of Configuration String in INI file is invalid !' err || fail "4 GiB profile: $(cat err)"
rm -f huge.bin huge.ini
"$cli" image --chip 001 >out 2>err
expect_status 2 $? "image without --fw"
"$cli" profile check >out 2>err
expect_status 2 $? "profile check without a file"
"$cli" format-fat32 fat.img --label A --cluster 99999999999999999999999 >out 2>err
expect_status 2 $? "format-fat32 with a cluster count beyond 64 bits"
grep -q -- '--cluster must be 1, 2, 4, 8, 16, 32 or 64' err || fail "cluster count: $(cat err)"

finish
