#!/usr/bin/env bash
# The programmer through libusb on the guest's kernel: romwright-cli detect,
# read of the whole 1 MiB chip (byte for byte the chip's image), erase,
# write (on the erased chip: flash only clears bits), verify, and the link contract suite's LibusbOnTheBus cases, in one boot; then
# the programmer pulled in the middle of a 16 MiB read: the program's error,
# not a hang.
. "$(dirname "$0")/vm_lib.sh"
need_rig
need_file "$romwright_cli"
need_file "$build/romwright/app/chips.db"
contract="$build/romwright/link/romwright_link_tests"
need_file "$contract"
need_server programmer
cd "$scratch"

head -c 1048576 /dev/urandom >chip.bin
cp chip.bin original.bin
head -c 1048576 /dev/urandom >new.bin
cat >guest.sh <<GUEST
set -u
cli=$romwright_cli
step() { echo "== \$*"; }
step detect; \$cli --chip EN25T80 detect --json >detect.json || exit 11
step read; \$cli --chip EN25T80 read -o read.bin || exit 12
cmp read.bin original.bin || exit 13
step erase; \$cli --chip EN25T80 erase || exit 14
\$cli --chip EN25T80 read -o erased.bin || exit 15
step write; \$cli --chip EN25T80 write new.bin || exit 16
step verify; \$cli --chip EN25T80 verify new.bin || exit 17
step verify-changed; \$cli --chip EN25T80 verify original.bin && exit 18
step read-again; \$cli --chip EN25T80 read -o read2.bin && cmp read2.bin new.bin || exit 19
step contract; $contract --gtest_filter='*LibusbOnTheBus*' >contract.log 2>&1 || exit 20
exit 0
GUEST
"$vm" --programmer EN25T80,chip.bin --timeout 300 -- bash guest.sh >out 2>err
status=$?
[ "$status" -eq 0 ] || fail "the guest's steps ended with $status (11 detect ... 20 contract): $(tail -5 out) $(tail -5 err) $(tail -20 contract.log 2>/dev/null)"
python3 - detect.json <<'PY' || fail "detect: $(cat detect.json)"
import json, sys
d = json.load(open(sys.argv[1]))
assert d["ok"] is True and d["manufacturer_id"] == 0x1C and d["chip"] == "EN25T80", d
PY
[ "$(tr -d '\377' <erased.bin | wc -c)" -eq 0 ] && [ "$(stat -c %s erased.bin)" -eq 1048576 ] ||
  fail "the erased chip does not read back as 0xFF"
cmp -s chip.bin new.bin || fail "the programmer did not keep what was written in its image"
grep -q '^\[  PASSED  \] [1-9][0-9]* tests\?\.$' contract.log || fail "contract suite: $(tail -20 contract.log)"
# Two cases need faults only the in-process simulated programmer makes (chosen
# reply lengths, an unplug from inside); any other skip on the bus is a fault.
grep -q "no programmer is attached\|libusb cannot start" contract.log && fail "contract suite found no programmer on the guest's bus"
[ "$(grep -c ': Skipped$' contract.log)" -eq "$(grep -c 'needs .*the simulated programmer' contract.log)" ] ||
  fail "contract suite skipped cases for other reasons: $(grep -B2 -A2 Skipped contract.log)"
ran=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' contract.log)

# 16 MiB reads one after the other (some 2 s each) until one fails: the
# programmer is pulled 4 s after the first began.
cat >pull.sh <<GUEST
for i in \$(seq 40); do
  rm -f big-read.bin
  $romwright_cli --chip W25Q128 read -o big-read.bin >read.out 2>read.err
  rc=\$?
  [ \$rc -eq 0 ] || { echo "read \$i: exit \$rc"; exit \$rc; }
done
exit 0
GUEST
"$vm" --programmer W25Q128,big.bin --at 4s "unplug programmer" --timeout 240 -- bash pull.sh >out 2>err
status=$?
[ "$status" -eq 1 ] || [ "$status" -eq 2 ] || fail "pulled mid-read: exit status $status, expected 1 (or 2 between reads): $(cat out err read.err)"
[ -s read.err ] || fail "pulled mid-read: no error message"
[ -e big-read.bin ] && fail "pulled mid-read: a part of the chip was saved as its image"
echo "programmer: detect, read, write, verify, erase, $ran contract cases on the bus, a pull mid-read: passed ($(cat out): $(grep -v '^$' read.err | tail -1))"
