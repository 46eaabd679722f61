#!/usr/bin/env bash
# `linetool-cli run` without --sim on this machine: the host backend is put
# together, and a run that cannot start says why and exits 2: no bridge, no
# rights (not root), or another station holding the machine's lock.
# A machine with bridges attached is left alone (a real run would flash them).
# Usage: host_run_cli_test.sh LINETOOL_CLI RESOURCE_DIR
set -uo pipefail
cli=$1
resources=$2
# shellcheck source=../../../../tools/cli/cli_checks.sh
. "$(dirname "$0")/../../../../tools/cli/cli_checks.sh"
chmod 755 "$work"
cd "$work"
profile="kl_line_Tool v0.3.ini"
cp -r "$resources/$profile" "$resources/121105_10_0000.bin" "$resources/wr_test.bin" "$resources/preload" .

"$cli" list >list.out 2>&1
list_status=$?
if [ "$list_status" -ne 0 ]; then
  echo "FAIL: linetool-cli list on this host: exit status $list_status"
  cat list.out
  exit 1
fi
if ! grep -q '^0 bridges found\.$' list.out; then
  echo "SKIP: bridges are attached to this machine; a host run would work on them"
  cat list.out
  exit 77
fi

"$cli" run --help >help 2>&1
expect_status 0 $? "run --help"
grep -q 'Without --sim it works on the bridges plugged into this machine' help || fail "help does not describe the host run"
lock=$(sed -n 's/^(lock file \(.*\))\.$/\1/p' help)
[ -n "$lock" ] || fail "help names no lock file: $(cat help)"

has_rights() {  # CAP_SYS_RAWIO and CAP_SYS_ADMIN in the effective set
  local effective need=$((1 << 17 | 1 << 21))
  effective=$((16#$(awk '/^CapEff/{print $2}' /proc/self/status)))
  [ $((effective & need)) -eq "$need" ]
}
rights_message='a production run on this host needs root, or the capabilities the operators'

without_rights() {  # runs the host run without root's capabilities and checks the refusal
  "$@" "$cli" run --profile "$profile" >out 2>err
  expect_status 2 $? "host run without rights"
  grep -q "$rights_message" err && grep -q ": it lacks CAP_SYS_RAWIO CAP_SYS_ADMIN (" err ||
    fail "no rights message: $(cat err)"
  grep -q 'no device found' err && fail "a run without rights looked for devices"
  [ -s out ] && fail "a refused run printed: $(cat out)"
}

if has_rights; then
  # No bridge on this machine: the backend comes up, finds nothing and starts no run.
  "$cli" run --profile "$profile" >out 2>err
  expect_status 2 $? "host run without bridges"
  grep -q '^linetool-cli run: no device found$' err || fail "host run without bridges: $(cat err)"
  grep -q '^linetool-cli run: no run started$' err || fail "host run does not say that no run started"
  grep -q "$rights_message" err && fail "root is told it lacks rights"
  grep -q '^Pass:' out && fail "host run without bridges reports counters"

  # One station per machine: a second one ends at once.
  if command -v flock >/dev/null; then
    flock -n "$lock" "$cli" run --profile "$profile" >out 2>err
    expect_status 2 $? "host run while the machine's lock is held"
    grep -q 'LineTool is already running\.' err || fail "held lock: $(cat err)"
    grep -q 'no device found' err && fail "a second station looked for devices"
  else
    fail "flock(1) is missing"
  fi

  # The same run as an ordinary user is refused before it touches anything.
  if command -v setpriv >/dev/null; then
    without_rights setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all
  else
    fail "setpriv(1) is missing"
  fi
else
  without_rights env
fi

finish
