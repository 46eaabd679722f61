# Shared by the vm tests (sourced): where things are, skips with the reason,
# a scratch folder removed on every path, and the device server's probe.
# The tests run the default build's programs in the guest.
set -uo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build="${STATION_VM_BUILD:-$repo/build/default}"
vm="$repo/scripts/vm"
server="${STATION_SIM_USB_SERVER:-$build/sim/usb/server/sim-usb-server}"
linetool_cli="$build/linetool/app/linetool-cli"
romwright_cli="$build/romwright/app/romwright-cli"
test_name=$(basename "$0" .sh)

skip() { echo "SKIPPED: $test_name: $*"; exit 77; }
fail() { echo "FAIL: $test_name: $*" >&2; exit 1; }

# The rig's own prerequisites: qemu, the kernel in its cache, 9p in qemu.
need_rig() {
  command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed (scripts/setup)"
  local cache="${STATION_RIG_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/station-rig}"
  [ -f "$cache/kernel/vmlinuz" ] || skip "no guest kernel in $cache/kernel (scripts/setup could not fetch Debian's)"
  qemu-system-x86_64 -device help 2>/dev/null | grep -q virtio-9p-pci || skip "this qemu has no virtio-9p (virtfs)"
  # The guest sees the host's root, but /tmp, /var/tmp, /run and /dev/shm are
  # its own: programs built there are out of its reach.
  local place
  for place in /tmp /var/tmp /run /dev/shm; do
    case "$(cd "$build" 2>/dev/null && pwd -P)/" in
      "$place"/*) skip "the build tree $build lies in $place, which the guest has of its own: build in a folder outside it" ;;
    esac
  done
}

# The device server, able to serve bridges (needs its SCSI target) or the programmer.
need_server() {
  [ -x "$server" ] || skip "the device server is not built: $server"
  local what=$1 probe out
  probe=$(mktemp -d)
  local args=(--programmer EN25T80)
  if [ "$what" = bridges ]; then
    printf '%s\n' '{ "disk_folder": "d", "controllers": [ { "root_hub": { "ports": 1, "devices": [' \
      '{ "port": 1, "bridge": { "serial": "P1", "disk_size": "64MiB" } } ] } } ] }' >"$probe/w.json"
    args=(--world w.json)
  fi
  (cd "$probe" && exec "$server" "${args[@]}" --dir "$probe/s" >"$probe/out" 2>&1) &
  local pid=$! i
  for i in $(seq 100); do
    grep -qx ready "$probe/out" 2>/dev/null && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  out=$(head -n 1 "$probe/out")
  kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
  rm -rf "$probe"
  [ "$out" = ready ] || skip "the device server cannot serve the $what: $out"
}

need_file() { [ -e "$1" ] || skip "not built: $1"; }

# A scratch folder below the build tree (not in /tmp: the guest's /tmp is its own).
scratch=$(mktemp -d "$build/vm-test.XXXXXX" 2>/dev/null) || scratch=$(mktemp -d "$repo/.vm-test.XXXXXX")
cleanup_scratch() {
  local rc=$?
  if ((rc != 0 && rc != 77)); then echo "$test_name: kept for a look: $scratch" >&2; else rm -rf "$scratch"; fi
}
trap cleanup_scratch EXIT
export TMPDIR="$scratch"
