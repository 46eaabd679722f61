#!/usr/bin/env bash
# The station's disk work on loop devices, each figure against a reference
# measured in the same run on the same kind of device:
# - write/read test throughput on a mounted NTFS volume, against dd writing
#   and reading the same bytes past the cache in the same way (direct where
#   the volume takes it, else fdatasync and the device's cache dropped), on a
#   volume formatted and mounted just before as the station's is and taken
#   off, its image removed and the host synced, right after, the two taking
#   turns at going first; with the time of each step (write,
#   fdatasync, cache drop, read-back, delete) on both sides, read from their
#   system calls (strace);
# - preload copy of a tree, against cp -r of the same tree to the same kind
#   of volume;
# - FAT32 format of a 1.9 TiB loop device, against mkfs.fat -F 32 with the
#   same cluster size on the same device;
# - a 16-port run against a 1-port run (wall time), with the time each port
#   spent in the serialised sections (re-find, partition, preload) summed.
# The stages' times come from the grid lines linetool-cli prints, stamped as
# they arrive. Needs root and loop devices; not part of the test suite. Each
# section ends with its figures for scripts/bench:
# FIGURE name ours reference unit ratio goal what.
#
#   linetool/app/bench/loop_disk_bench.sh [--quick] [BUILD_DIR [SECTION...]]
#
# BUILD_DIR defaults to build/default; SECTION is volume (write/read test and
# preload), format or ports, all three by default. --quick takes the median
# of 3 runs instead of 5, with a 32 MiB test file and 32 preload files.
# Needs strace for the volume section.
set -euo pipefail
cd "$(dirname "$0")/../../.."
reps=5 wr_mib=64 pre_files=64
if [ "${1:-}" = --quick ]; then
  reps=3 wr_mib=32 pre_files=32
  shift
fi
res=$PWD/resources
cli=$(find "${1:-build/default}" -name linetool-cli -type f -perm -u+x -not -path '*/_CPack_Packages/*' -print -quit)
cli=${cli:+$(realpath "$cli")}
shift || true
sections=" ${*:-volume format ports} "
wanted() { [[ $sections == *" $1 "* ]]; }
[ -n "$cli" ] || { echo "no linetool-cli: build first" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] && [ -e /dev/loop-control ] || { echo "loop devices need root and /dev/loop-control" >&2; exit 1; }
! wanted volume || command -v strace >/dev/null || { echo "the volume section needs strace (scripts/setup)" >&2; exit 1; }

dir=$(mktemp -d "${TMPDIR:-/var/tmp}/loop_disk_bench.XXXXXX")
loops=()
points=()
cleanup() {
  for p in "${points[@]}"; do umount "$p" 2>/dev/null || true; done
  for l in "${loops[@]}"; do losetup -d "$l" 2>/dev/null || true; done
  rm -rf "$dir"
}
trap cleanup EXIT
profile="kl_line_Tool v0.3.ini"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }
now_us() { echo $(( ${EPOCHREALTIME/./} )); }

# A station folder $dir/$1 with a write/read test file of $2 MiB and a
# preload tree of $3 files of 1 MiB (each made once).
station_files() {  # name wr-MiB preload-files
  local d=$dir/$1 i
  [ ! -f "$d/$profile" ] || return 0
  mkdir -p "$d/preload/sub"
  cp "$res/$profile" "$res/121105_10_0000.bin" "$d/"
  sed -i -e 's/^format_drive_type=.*/format_drive_type=0/' -e 's/^wr_test_count=.*/wr_test_count=1/' "$d/$profile"
  [ -f "$d/wr_test.bin" ] || head -c $(($2 << 20)) /dev/urandom >"$d/wr_test.bin"
  for i in $(seq "$3"); do head -c $((1 << 20)) /dev/urandom >"$d/preload/sub/f$i.bin"; done
}

# That station folder run on a world of $4 loop-backed NTFS disks of $5 MiB.
# The grid lines land in $1/out, each led by its arrival time in microseconds.
# With $trace set, the run goes under strace, its calls in $1/trace.
station_run() {  # name wr-MiB preload-files ports disk-MiB
  local d=$dir/$1 i entries=() traced=()
  [ -z "${trace:-}" ] || traced=("${tracer[@]}" -o "$d/trace")
  station_files "$1" "$2" "$3"
  for i in $(seq "$4"); do
    entries+=("{ \"port\": $(( (i - 1) % 4 + 1 )), \"bridge\": { \"serial\": \"B$i\", \"disk_size\": \"$5MiB\", \"disk_backing\": \"loop\" } }")
  done
  local hubs=() h
  for h in $(seq 0 $(( (${#entries[@]} - 1) / 4 ))); do
    local IFS=,
    hubs+=("{ \"root_hub\": { \"ports\": 4, \"devices\": [ ${entries[*]:$((h * 4)):4} ] } }")
  done
  local IFS=,
  printf '{ "disk_folder": "disks", "reload_delay_ms": 200, "controllers": [ %s ] }\n' "${hubs[*]}" >"$d/world.json"
  unset IFS
  (cd "$d" && "${traced[@]}" "$cli" --sim=world.json run --profile "$profile" 2>"$d/err") |
    while IFS= read -r line; do echo "$(now_us) $line"; done >"$d/out"
  grep -q "^[0-9]* Pass: $4 Fail: 0" "$d/out" || { echo "$1: the run failed: $(tail -3 "$d/out") $(cat "$d/err")" >&2; exit 1; }
}

# Microseconds port $2 spent from the line ending column $3 to the one ending $4.
stage_us() {  # out port from-column to-column
  awk -v p="port $2 " -v a="$3: PASS" -v b="$4: PASS" '
    index($0, p a) { t0 = $1 } index($0, p b) { t1 = $1 } END { print t1 - t0 }' "$1"
}
# The same summed over ports 0 .. $2-1.
stage_sum_us() {  # out ports from to
  local p sum=0
  for p in $(seq 0 $(($2 - 1))); do sum=$((sum + $(stage_us "$1" "$p" "$3" "$4"))); done
  echo "$sum"
}
run_us() { awk 'NR == 1 { t0 = $1 } /Pass: / { t1 = $1 } END { print t1 - t0 }' "$1"; }

# The system calls the write/read steps are timed by: strace follows every
# thread and child; seccomp keeps the untraced calls (the transfers) from
# stopping at it.
tracer=(strace -f -ttt -T --seccomp-bpf -e "trace=execve,openat,fdatasync,fsync,fadvise64,unlink,unlinkat")

# A fresh NTFS volume like the station's, formatted and mounted through
# ntfs-3g as the station does just before its test: $point on $part.
ntfs_volume() {  # MiB
  truncate -s "$(($1 << 20))" "$dir/ref.img"
  part=$(losetup -f --show "$dir/ref.img")
  loops+=("$part")
  mkntfs --quick --force "$part" >/dev/null 2>&1
  point=$dir/ref
  mkdir -p "$point"
  ntfs-3g "$part" "$point"
  points+=("$point")
}

# That volume taken off again, its image gone, and what that leaves to do on
# this machine's disk (the freed blocks, the volume's last writes) done
# before anything else is timed. The station's side ends alike: its run
# takes its volume off, and its disk image goes.
ntfs_volume_gone() {
  umount "$point"
  points=()
  losetup -d "$part"
  local kept=() l
  for l in "${loops[@]}"; do [ "$l" = "$part" ] || kept+=("$l"); done
  loops=("${kept[@]}")
  rm -f "$dir/ref.img"
  sync
}

# The write/read steps in a trace of $1, on the target file whose path
# matches $2: "write sync drop read delete span" in microseconds. write: from
# the target's creation to its fdatasync; sync: to the end of the writer's
# last fdatasync, fsync or fadvise; drop: to the target's opening for the
# read-back; read: to its unlinking (the compare and the reader's exit
# included); delete: the unlink; span: from the first execve of a program
# named $3 (empty: the creation) to the end of the unlink.
steps_us() {  # trace target-regex [program]
  python3 - "$@" <<'EOF'
import re, sys
trace, target, program = sys.argv[1], re.compile(sys.argv[2]), sys.argv[3] if len(sys.argv) > 3 else ""
calls, pending = [], {}
for line in open(trace):
    m = re.match(r"(\d+) +(\d+\.\d+) (.*)$", line.rstrip("\n"))
    if not m:
        continue
    pid, at, text = int(m[1]), float(m[2]), m[3]
    took = re.search(r"<(\d+\.\d+)>$", text)
    if text.startswith("<... "):
        if pid in pending:
            name, start, head = pending.pop(pid)
            calls.append((pid, name, start, start + (float(took[1]) if took else at - start), head + text))
        continue
    call = re.match(r"(\w+)\(", text)
    if not call:
        continue
    if text.endswith("<unfinished ...>"):
        pending[pid] = (call[1], at, text)
    else:
        calls.append((pid, call[1], at, at + (float(took[1]) if took else 0.0), text))
calls.sort(key=lambda c: c[2])
def first(after, test):
    return next(c for c in calls if c[2] >= after and test(c))
on_target = lambda c: target.search(c[4]) is not None
create = first(0, lambda c: c[1] == "openat" and on_target(c) and "O_CREAT" in c[4])
writer = create[0]
sync = first(create[2], lambda c: c[1] == "fdatasync" and c[0] == writer)
reopen = first(sync[2], lambda c: c[1] == "openat" and on_target(c) and "O_CREAT" not in c[4])
synced = max(c[3] for c in calls if c[0] == writer and c[1] in ("fdatasync", "fsync", "fadvise64")
             and sync[2] <= c[2] < reopen[2])
unlink = first(reopen[2], lambda c: c[1] in ("unlink", "unlinkat") and on_target(c))
began = create[2]
if program:
    began = first(0, lambda c: c[1] == "execve" and re.search(r'^execve\("[^"]*/' + re.escape(program) + '"', c[4]))[2]
us = lambda a, b: round((b - a) * 1e6)
print(us(create[2], sync[2]), us(sync[2], synced), us(synced, reopen[2]), us(reopen[2], unlink[2]),
      us(unlink[2], unlink[3]), us(began, unlink[3]))
EOF
}

# dd writing $1 to the volume and reading it back, past the cache as the
# station goes: direct where the volume takes it, else fdatasync, the
# device's cache dropped between write and read; the file is deleted at the
# end, as the station's test deletes its own. Prints steps_us's figures.
dd_write_read_us() {  # file
  local wflag=(conv=fdatasync) rflag=()
  if dd if=/dev/zero of="$point/probe" bs=4096 count=1 oflag=direct 2>/dev/null; then
    wflag=(oflag=direct conv=fdatasync)
    rflag=(iflag=direct)
  fi
  rm -f "$point/probe"
  "${tracer[@]}" -o "$dir/dd.trace" bash -c '
    dd if="$1" of="$2/wr_test.bin" bs=1M $3 2>/dev/null
    blockdev --flushbufs "$4"
    dd if="$2/wr_test.bin" of=/dev/null bs=1M $5 2>/dev/null
    rm -f "$2/wr_test.bin"' - "$1" "$point" "${wflag[*]}" "$part" "${rflag[*]}"
  steps_us "$dir/dd.trace" "\"$point/wr_test\\.bin\"" dd
}

# The middle one of an odd number of figures.
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }

if wanted volume; then
echo "== write/read test and preload on one NTFS loop volume ($wr_mib MiB test file, $pre_files x 1 MiB preload), median of $reps"
wr=() dds=() pre=() cps=() cpfs=()
step_names=(write sync drop read delete)
declare -A ours_step dd_step
for rep in $(seq "$reps"); do
  # The files both sides read are made and put on this machine's disk before
  # either side starts: the volume's flushes reach the disk its image lies
  # on, and would otherwise wait for whatever of the files is still to be
  # written there (as much as the preload tree, for the side that made them).
  station_files "one$rep" "$wr_mib" "$pre_files"
  sync
  # Ours and dd take turns at going first, so that a swing of the machine's
  # load does not always land on the same side.
  for side in $([ $((rep % 2)) = 1 ] && echo "ours dd" || echo "dd ours"); do
    if [ "$side" = ours ]; then
      trace=1 station_run "one$rep" "$wr_mib" "$pre_files" 1 2048
      wr+=("$(stage_us "$dir/one$rep/out" 0 Format "R/W Test")")
      pre+=("$(stage_us "$dir/one$rep/out" 0 "R/W Test" Preload)")
      read -ra got <<<"$(steps_us "$dir/one$rep/trace" '/drives/[A-Z]/wr_test\.bin"')"
      for i in "${!step_names[@]}"; do ours_step[${step_names[$i]}]+=" ${got[$i]}"; done
      # Its disk image goes, and the host's disk catches up, as after dd's
      # side: images and writes left from earlier runs slow whoever comes
      # later.
      rm -rf "$dir/one$rep/disks"
      sync
      continue
    fi
    ntfs_volume 2048
    read -ra got <<<"$(dd_write_read_us "$dir/one$rep/wr_test.bin")"
    for i in "${!step_names[@]}"; do dd_step[${step_names[$i]}]+=" ${got[$i]}"; done
    dds+=("${got[5]}")
    # The preload references on the same volume after its test, as the
    # station preloads after its own, with the station's tree.
    t0=$(now_us)
    cp -r "$dir/one$rep/preload/." "$point/"
    sync -f "$point"
    cps+=($(( $(now_us) - t0 )))
    rm -rf "${point:?}"/*
    # The same with every file put on the medium, as the station's copy does.
    t0=$(now_us)
    cp -r "$dir/one$rep/preload/." "$point/"
    find "$point" -type f -exec sync {} +
    cpfs+=($(( $(now_us) - t0 )))
    ntfs_volume_gone
  done
done
ours_wr=$(median "${wr[@]}")
dd_us=$(median "${dds[@]}")
ours_pre=$(median "${pre[@]}")
cp_us=$(median "${cps[@]}")
cpf_us=$(median "${cpfs[@]}")
copy_us=$((ours_pre - 500000))
echo "write/read test: ours ${ours_wr} us, dd ${dd_us} us, throughput ours/dd = $(ratio "$dd_us" "$ours_wr")"
echo "  (ours: the whole stage, the free-space query and the reference's opening included; dd: from its"
echo "  first start to the end of the delete; dd's runs: ${dds[*]} us, ours: ${wr[*]} us)"
declare -A step_what=(
  [write]="writing the file past the cache (ours reads its reference alongside)"
  [sync]="fdatasync (ours also syncs the folder of the new name)"
  [drop]="dropping the volume device's cache (dd: blockdev --flushbufs, its start included)"
  [read]="reading back past the cache (ours compares; dd: its exit and rm's start included)"
  [delete]="deleting the file")
step_figures=() steps_sum=0
for name in "${step_names[@]}"; do
  # shellcheck disable=SC2086  # the runs' figures, one word each
  o=$(median ${ours_step[$name]}) r=$(median ${dd_step[$name]})
  steps_sum=$((steps_sum + o))
  echo "  $name: ours $o us (runs:${ours_step[$name]}), dd $r us (runs:${dd_step[$name]})"
  step_figures+=("FIGURE write_read_test_$name $o $r us $(ratio "$r" "$((o > 0 ? o : 1))") - throughput of one step: ${step_what[$name]}, ours / dd (median of $reps)")
done
echo "  the stage less the medians of its steps: $((ours_wr - steps_sum)) us"
echo "preload stage:   ours ${ours_pre} us, cp -r ${cp_us} us, throughput ours/cp = $(ratio "$cp_us" "$ours_pre")"
echo "  the copy alone (the stage less its fixed 500 ms settle wait before the remount): ${copy_us} us," \
     "throughput ours/cp = $(ratio "$cp_us" "$copy_us")"
echo "  (ours flushes every file and remounts the volume, cp is followed by one sync; cp's runs: ${cps[*]} us)"
echo "  against cp -r with every file synced after it (${cpf_us} us): the copy alone $(ratio "$cpf_us" "$copy_us")"
echo "FIGURE write_read_test $ours_wr $dd_us us $(ratio "$dd_us" "$ours_wr") >=0.9 throughput: the station's write/read test / dd, past the cache alike ($wr_mib MiB, median of $reps)"
printf '%s\n' "${step_figures[@]}"
echo "FIGURE preload_copy $copy_us $cpf_us us $(ratio "$cpf_us" "$copy_us") >=1.0 throughput: the preload copy / cp -r with every file synced ($pre_files x 1 MiB, median of $reps)"
echo "FIGURE preload_copy_vs_one_sync $copy_us $cp_us us $(ratio "$cp_us" "$copy_us") - throughput: the preload copy / cp -r and one sync of the volume"
echo "FIGURE preload_stage $ours_pre $cpf_us us $(ratio "$cpf_us" "$ours_pre") - throughput: the whole preload stage (500 ms settle and remount included) / cp -r with every file synced"
fi

if wanted format; then
echo
echo "== FAT32 format of a 1.9 TiB loop device (64 sectors per cluster)"
truncate -s 1900G "$dir/big.img"
big=$(losetup -f --show "$dir/big.img")
loops+=("$big")
t0=$(now_us)
"$cli" format-fat32 "$big" --label BENCH --cluster 64 >/dev/null
ours_fmt=$(( $(now_us) - t0 ))
t0=$(now_us)
mkfs.fat -F 32 -s 64 -n BENCH "$big" >/dev/null
# What mkfs.fat wrote put on the device, as ours does before it answers (the
# device alone: a machine-wide sync would wait for others' writes too).
sync "$big"
mkfs_fmt=$(( $(now_us) - t0 ))
echo "format: ours ${ours_fmt} us, mkfs.fat ${mkfs_fmt} us, ours/mkfs.fat = $(ratio "$ours_fmt" "$mkfs_fmt")"
echo "FIGURE fat32_format_loop_1900GiB $ours_fmt $mkfs_fmt us $(ratio "$ours_fmt" "$mkfs_fmt") - time: ours / mkfs.fat -F 32 -s 64 and the device synced, the same loop device"
fi

if wanted ports; then
echo
echo "== 16-port run against a 1-port run (loop-backed NTFS disks of 256 MiB, every stage)"
station_run p1 1 4 1 256
station_run p16 1 4 16 256
w1=$(run_us "$dir/p1/out")
w16=$(run_us "$dir/p16/out")
echo "wall: 1 port ${w1} us, 16 ports ${w16} us, ratio 16/1 = $(ratio "$w16" "$w1") (one after the other: 16.00)"
declare -A refind partition preload
for n in 1 16; do
  out=$dir/p$n/out
  refind[$n]=$(stage_sum_us "$out" "$n" "FW Update" ReLink)
  partition[$n]=$(stage_sum_us "$out" "$n" ReLink Partition)
  preload[$n]=$(stage_sum_us "$out" "$n" "R/W Test" Preload)
  echo "  $n port(s), summed over ports: re-find ${refind[$n]} us," \
       "partition ${partition[$n]} us (lock and wait at the barrier included)," \
       "preload ${preload[$n]} us"
done
echo "FIGURE loop_run_16_vs_1_wall $w16 $w1 us $(ratio "$w16" "$w1") - wall time of a run on loop disks: 16 ports / 1 (one after the other: 16)"
echo "FIGURE loop_run_16_vs_1_refind ${refind[16]} ${refind[1]} us $(ratio "${refind[16]}" "${refind[1]}") - serialised re-find, summed over the ports: 16 ports / 1"
echo "FIGURE loop_run_16_vs_1_partition ${partition[16]} ${partition[1]} us $(ratio "${partition[16]}" "${partition[1]}") - serialised partition (lock and barrier wait included), summed: 16 ports / 1"
echo "FIGURE loop_run_16_vs_1_preload ${preload[16]} ${preload[1]} us $(ratio "${preload[16]}" "${preload[1]}") - serialised preload, summed over the ports: 16 ports / 1"
fi
