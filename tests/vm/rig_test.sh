#!/usr/bin/env bash
# scripts/vm itself, without devices: COMMAND's stdout and stderr apart and
# without kernel messages, its exit status, root in the working folder, the
# host's root read-only, tmpfs where the guest writes, udevd's database;
# then --timeout, a command that is not there, and the reasons of a rig failure.
. "$(dirname "$0")/vm_lib.sh"
need_rig
cd "$scratch"
echo "from the host" >host.txt

"$vm" --env RIG_PROBE=seen -- bash -c '
  echo "out: $(id -u) $PWD $RIG_PROBE"
  echo "err: one line" >&2
  cat host.txt
  touch /rig-root-write 2>/dev/null && echo "root is writable"
  touch /tmp/t /run/t /var/tmp/t || echo "no tmpfs"
  echo made >guest.txt
  udevadm info --query=property /sys/class/virtio-ports/vport*p1 | grep -q "^DEVLINKS=.*virtio-ports/rig.stdout" ||
    echo "udev has no database entry for the serial port"
  exit 7' >out 2>err
status=$?
[ "$status" -eq 7 ] || fail "exit status $status, expected 7; stderr: $(cat err)"
[ "$(cat out)" = "out: 0 $scratch seen
from the host" ] || fail "stdout: $(cat out)"
[ "$(cat err)" = "err: one line" ] || fail "stderr: $(cat err)"
[ "$(cat guest.txt 2>/dev/null)" = made ] || fail "the guest's file is not in the working folder"

"$vm" --timeout 2 -- sleep 600 >out 2>err
status=$?
[ "$status" -eq 124 ] || fail "--timeout: exit status $status, expected 124: $(cat err)"
grep -q "did not end within 2 s" err || fail "--timeout: no reason on stderr: $(cat err)"
grep -q "console log: " err || fail "--timeout: the console log is not named: $(cat err)"
log=$(sed -n 's/.*console log: //p' err)
grep -q "Linux version" "$log" || fail "--timeout: the console log holds no kernel messages"
rm -f "$log"

"$vm" -- no-such-command-here >out 2>err
status=$?
[ "$status" -eq 127 ] || fail "a missing command: exit status $status, expected 127"

STATION_RIG_CACHE="$scratch/no-cache" "$vm" -- true >out 2>err
status=$?
[ "$status" -eq 2 ] && grep -q "no kernel in $scratch/no-cache/kernel" err || fail "no kernel: exit $status, $(cat err)"
"$vm" --world missing.json -- true >out 2>err
[ $? -eq 2 ] && [ -s err ] || fail "a missing world file is not a rig failure: $(cat err)"
echo "rig: passed"
