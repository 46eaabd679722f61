#!/usr/bin/env bash
# Power cuts on the guest's kernel. The station folder is a disk of the
# guest's own (ext4 on a virtual disk, not the host's share); in it the
# profile is saved again and again as Save INI saves it, Romwright reads a
# chip into out.bin, and the station runs on four bridges with its unit
# records in a SQLite store. At a random moment the guest's power is cut
# (qemu killed: what the guest had not flushed is gone), and the guest boots
# again on the same disk, where:
# - the profile loads, and holds the last save that was reported done or the
#   one after it;
# - the daily log holds only whole records, at least those of every run whose
#   counters were shown, and none of a run that was not started;
# - the records store opens and passes SQLite's integrity check with only
#   whole records, at least those of every run whose counters were shown, and
#   never more than the log;
# - out.bin is absent (before the first read reported done) or the whole
#   chip of the last read reported done or of the read after it;
# - no temporary of a replaced file is left beside it;
# - the station runs again in the same folder: every run that ended, ended
#   passed, and a last boot without a cut runs every stage to "Pass: 4".
# Rounds go on while STATION_POWER_CUT_SECONDS (default 0) last, at least
# STATION_POWER_CUT_ROUNDS (default 2: the test suite's few); each round's moment is uniform in
# 1-80 s after the guest's command started. The rounds, moments and what each
# cut hit are printed at the end.
. "$(dirname "$0")/vm_lib.sh"
need_rig
need_file "$linetool_cli"
need_file "$romwright_cli"
saver="$build/tests/vm/profile_saver"
need_file "$saver"
need_server bridges
for tool in mkfs.ext4 sqlite3 python3; do
  command -v $tool >/dev/null || skip "$tool is not installed"
done
res="$repo/resources"
profile="kl_line_Tool v0.3.ini"
budget=${STATION_POWER_CUT_SECONDS:-0}
min_rounds=${STATION_POWER_CUT_ROUNDS:-2}

# The host's folder: the world, the bridges' disk images and each boot's
# output. The station's folder is built beside it and made into the disk.
host=$scratch/host
station=$scratch/station
mkdir -p "$host" "$station"
entries=()
for i in 1 2 3 4; do entries+=("{ \"port\": $i, \"bridge\": { \"serial\": \"PC$i\", \"disk_size\": \"$((540 + i))MiB\" } }"); done
(IFS=,; printf '{ "disk_folder": "disks", "reload_delay_ms": 500, "controllers": [ { "root_hub": { "ports": 4, "devices": [ %s ] } } ] }\n' "${entries[*]}") >"$host/world.json"
cp -r "$res/$profile" "$res/121105_10_0000.bin" "$res/wr_test.bin" "$res/preload" "$station/"
sed -i 's/^format_drive_type=.*/format_drive_type=1/' "$station/$profile"
# The short runs: configuration and firmware only (Start takes no run of
# the configuration alone).
sed -e 's/^\(fw_reload\|format_enable\|wr_test_enable\|preload_enable\)=.*/\1=0/' "$station/$profile" >"$station/quick.ini"
for c in A B; do
  head -c 4194304 /dev/urandom >"$station/chip$c.ref"
  cp "$station/chip$c.ref" "$station/chip$c.img"
done
disk=$host/station.ext4
truncate -s 1G "$disk"
mkfs.ext4 -q -F -d "$station" "$disk" || fail "mkfs.ext4 could not make the station's disk"

boot() { # N MODE [CUT] -> host/boot-N.{out,err}, exit status of the rig
  local args=(--world world.json --workdir "$station" --disk "$disk" --timeout 300 --console "boot-$1.console")
  [ -n "${3:-}" ] && args+=(--power-cut "$3")
  (cd "$host" && "$vm" "${args[@]}" -- bash "$repo/tests/vm/power_cut_guest.sh" "$2" \
    "$linetool_cli" "$romwright_cli" "$saver" >"boot-$1.out" 2>"boot-$1.err")
}

# Checks what boot N found against what boot N-1 reported done; with
# --summary prints every round instead.
check() {
  python3 - "$host" "$@" <<'PY'
import glob, os, re, sys
host, args = sys.argv[1], sys.argv[2:]

def parse(n):
    b = {"state": [], "events": [], "cut": None}
    p = os.path.join(host, "boot-%d.out" % n)
    for line in open(p, errors="replace"):
        line = line.rstrip("\n")
        kind, _, rest = line.partition(": ")
        if kind == "state":
            what, _, value = rest.partition(" ")
            if not b["state"] or what in b["state"][-1]:
                b["state"].append({})
            b["state"][-1][what] = value
        elif kind in ("try", "ack", "done", "at"):
            b["events"].append((kind, rest))
    cut = os.path.join(host, "boot-%d.cut" % n)
    if os.path.exists(cut):
        b["cut"] = float(open(cut).read())
    return b

def count(state, what):
    return int(state[what].split()[0])

def last_written(events, what, before):
    # The value the file must hold: the last reported done, or the next one tried.
    done, pending = before, []
    for k, r in events:
        if k not in ("try", "ack") or not r.startswith(what + " "):
            continue
        v = r.split(" ", 1)[1]
        if k == "ack":
            done, pending = v, []
        else:
            pending.append(v)
    return done, pending[:1]

def runs(events):
    tried = sum(1 for k, r in events if k == "try" and r.startswith("run "))
    shown = sum(int(r.split()[3]) for k, r in events if k == "ack" and r.startswith("run "))
    ended = [r for k, r in events if k == "done" and r.startswith("run ")]
    return tried, shown, ended

def moment(events):
    # What the cut fell into: the station's last stage seen, and the writers' pending writes.
    stage = "before the first run"
    for k, r in events:
        if k == "try" and r.startswith("run "):
            stage = "run %s: starting" % r.split()[1]
        elif k == "at":
            w = r.split()
            stage = "run %s: after %s" % (w[1], " ".join(w[2:-1]))
        elif k == "ack" and r.startswith("run "):
            stage = "run %s: counters shown" % r.split()[1]
    return stage

KEYS = ("profile", "log", "records", "rom", "chips", "romlog", "temps")

def complete(b):
    return bool(b["state"]) and all(k in b["state"][0] for k in KEYS)

def verify(n):
    # Against the last boot that said the whole state, through what every
    # boot since then reported done (a boot cut while it looked wrote nothing).
    cur = parse(n)
    j = n - 1
    while j > 0 and not complete(parse(j)):
        j -= 1
    base = parse(j)
    events = [e for i in range(j, n) for e in parse(i)["events"]]
    if not cur["state"]:
        return [] if cur["cut"] is not None else ["boot %d said nothing of the state (see boot-%d.err)" % (n, n)]
    before, now = base["state"][0], cur["state"][0]
    if cur["cut"] is None and not complete(cur):
        return ["boot %d did not say the whole state: %s" % (n, sorted(now))]
    bad = []
    if "profile" in now:
        rc, _, serial = now["profile"].partition(" ")
        if rc != "0":
            bad.append("the profile does not load (exit %s)" % rc)
        done, pending = last_written(events, "profile", before["profile"].partition(" ")[2])
        if serial not in [done] + pending:
            bad.append("the profile holds serial %s, not the last saved %s or the next %s" % (serial, done, pending))
    tried, shown, ended = runs(events)
    for r in ended:
        if r.split()[2] != "0":
            bad.append("a run ended failed after the last power cut: run %s" % r)
    log0 = count(before, "log")
    log1 = count(now, "log") if "log" in now else None
    if "log" in now:
        if now["log"].split(" ", 1)[1] != "whole":
            bad.append("the daily log is " + now["log"].split(" ", 1)[1])
        if not (log0 + shown <= log1 <= log0 + 4 * tried):
            bad.append("the log holds %d records: %d before, %d of runs whose counters were shown, %d runs tried" % (log1, log0, shown, tried))
    if "records" in now:
        rec = now["records"].split(" ", 1)
        if rec[0] == "-" or rec[1] != "ok":
            bad.append("the records store: " + now["records"])
        else:
            rec0, rec1 = count(before, "records"), int(rec[0])
            if not (rec0 + shown <= rec1 <= rec0 + 4 * tried) or (log1 is not None and rec1 > log1):
                bad.append("the store holds %d records: %d before, %d shown, %d runs tried, %s in the log" % (rec1, rec0, shown, tried, log1))
    if "rom" in now:
        done, pending = last_written(events, "rom", before["rom"])
        allowed = [done] + pending
        if now["rom"] not in allowed:
            bad.append("out.bin is %s, not %s" % (now["rom"], " or ".join(allowed)))
    if now.get("chips", "ok") != "ok":
        bad.append("the chip images: " + now["chips"])
    if now.get("temps", "0") != "0":
        bad.append("%s temporaries of replaced files are left in the folder" % now["temps"])
    if now.get("romlog", "whole") != "whole":
        bad.append("romwright.log is " + now["romlog"])
    return bad

if args[0] == "--summary":
    n_boots = int(args[1])
    for n in range(n_boots):
        b = parse(n)
        tried, shown, ended = runs(b["events"])
        saves = sum(1 for k, r in b["events"] if k == "ack" and r.startswith("profile "))
        reads = sum(1 for k, r in b["events"] if k == "ack" and r.startswith("rom "))
        s = b["state"][0] if b["state"] else {}
        cut = "cut at %5.1f s" % b["cut"] if b["cut"] is not None else "no cut      "
        found = "found log %s, records %s, rom %s, temps %s" % tuple(
            s[k].split()[0] if k in s else "?" for k in ("log", "records", "rom", "temps"))
        into = moment(b["events"]) if complete(b) else "its own look at the state (%d of %d said)" % (len(s), len(KEYS))
        print("boot %2d: %s: %s; then %d saves, %d reads, %d runs tried, %d records shown; cut into %s"
              % (n, cut, found, saves, reads, tried, shown, into if b["cut"] is not None else "nothing"))
    sys.exit(0)
n = int(args[-1])
bad = verify(n)
if args[0] == "--final":
    # The last boot's own run, to its end: its four records in the log and the store.
    states = parse(n)["state"]
    if len(states) < 2:
        bad.append("the last boot said nothing of the state after its run")
    else:
        first, last = states
        for what in ("log", "records"):
            if count(last, what) != count(first, what) + 4:
                bad.append("after the last run the %s holds %s, before it %s" % (what, last[what], first[what]))
for line in bad:
    print(line)
sys.exit(1 if bad else 0)
PY
}

began=$SECONDS
n=0
while ((n < min_rounds || SECONDS - began < budget)); do
  cut=$(awk -v r=$RANDOM 'BEGIN { printf "%.1f", 1 + 79 * r / 32767 }')
  echo "$cut" >"$host/boot-$n.cut"
  boot $n work "$cut"
  status=$?
  [ $status = 137 ] || fail "boot $n: the guest did not have its power cut (exit $status): $(tail -n 3 "$host/boot-$n.err")"
  if ((n > 0)); then
    problems=$(check $n) || fail "boot $n, after the cut at $(cat "$host/boot-$((n - 1)).cut") s: $problems"
  fi
  n=$((n + 1))
done
boot $n final || fail "the last boot: the station did not run again (exit $?): $(tail -n 3 "$host/boot-$n.err")"
problems=$(check --final $n) || fail "the last boot, after the cut at $(cat "$host/boot-$((n - 1)).cut") s: $problems"
grep -qx "ack: run 1 total 4" "$host/boot-$n.out" && grep -qx "done: run 1 0" "$host/boot-$n.out" ||
  fail "the last boot's run did not pass on all four bridges: $(grep -E '^(ack|done): run' "$host/boot-$n.out")"
check --summary $((n + 1))
echo "power_cut: $n power cuts in $((SECONDS - began)) s, every file whole and the station running again: passed"
