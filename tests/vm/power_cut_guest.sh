#!/bin/bash
# The guest's side of the power-cut test, run as root in the station folder,
# which is the guest's own disk. It first says what the last power cut left
# there, in "state:" lines; then
#   work:  starts the writers whose power the host cuts at a moment of its
#          choosing: the profile saved again and again as Save INI saves it,
#          Romwright reading a chip into out.bin (alternately chip A and B),
#          and the station running on the four bridges (every stage, then
#          short runs of configuration and firmware), each with its unit records;
#   final: runs the station once more, every stage, and says the state again.
# Each writer says "try: WHAT" before a write and "ack: WHAT" once the
# program has reported it done, so the host knows what must have survived.
#
#   power_cut_guest.sh work|final LINETOOL_CLI ROMWRIGHT_CLI PROFILE_SAVER
set -u
mode=$1 linetool_cli=$2 romwright_cli=$3 saver=$4
profile="kl_line_Tool v0.3.ini"
chip=W25Q32

state() {
  local out rc
  # The profile loads as the station loads it.
  out=$("$linetool_cli" profile check "$profile" 2>/dev/null)
  rc=$?
  echo "state: profile $rc $(printf '%s\n' "$out" | tr -d '\r' | sed -n 's/^serial_number=//p')"
  # The daily logs hold whole records: the titles first, then each record
  # as CR LF and 35 tab-ended fields, the last of them one blank; nothing
  # after the last record's blank field, no NUL bytes.
  echo "state: log $(/usr/bin/python3 -I - [0-9]*.log <<'PY'
import glob, re, sys
records, verdict = 0, "whole"
for name in sys.argv[1:]:
    if not re.fullmatch(r"[0-9]{8}\.log", name):
        continue
    data = open(name, "rb").read()
    lines = data.split(b"\r\n")
    titles = lines[0].split(b"\t")
    if b"\0" in data:
        verdict = "torn: %s holds NUL bytes" % name
    elif len(titles) != 35 or titles[0] != b"Date" or titles[33] != b"DoPreloadResult" or titles[34]:
        verdict = "torn: %s has no whole header" % name
    else:
        for i, line in enumerate(lines[1:], 2):
            fields = line.split(b"\t")
            if len(fields) != 36 or fields[34] != b" " or fields[35] or not re.fullmatch(rb"[0-9]{8}", fields[0]):
                verdict = "torn: %s: record %d" % (name, i - 1)
                break
            records += 1
    if verdict != "whole":
        break
print(records, verdict)
PY
)"
  # The records store opens in the station and holds whole records.
  if [ -e records.db ]; then
    out=$("$linetool_cli" --records records.db records export --format csv 2>&1)
    rc=$?
    if [ $rc = 0 ]; then
      echo "state: records $(($(printf '%s\n' "$out" | wc -l) - 1)) $(sqlite3 records.db 'PRAGMA integrity_check' 2>&1 | paste -sd' ')"
    else
      echo "state: records - export failed: $(printf '%s' "$out" | tail -n 1)"
    fi
  else
    echo "state: records 0 ok"
  fi
  # Romwright's file is absent or one whole chip; the chips' own images whole.
  if [ ! -e out.bin ]; then echo "state: rom absent"
  elif cmp -s out.bin chipA.ref; then echo "state: rom A"
  elif cmp -s out.bin chipB.ref; then echo "state: rom B"
  else echo "state: rom torn $(stat -c %s out.bin) bytes"; fi
  local c chips=ok
  for c in A B; do cmp -s chip$c.img chip$c.ref || chips="chip $c torn"; done
  echo "state: chips $chips"
  # Romwright's log: entries of CR LF, the time and the text; no NUL bytes.
  echo "state: romlog $(/usr/bin/python3 -I - <<'PY'
import os, re
if not os.path.exists("romwright.log"):
    print("whole")
else:
    data = open("romwright.log", "rb").read()
    if b"\0" in data:
        print("torn: NUL bytes")
    elif data and not re.match(rb"\r\n[0-9]{4}/[0-9]{2}/[0-9]{2}/ [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}: ", data):
        print("torn: no entry at its start")
    else:
        print("whole")
PY
)"
  # What the replaced files' writers left behind when their power went.
  echo "state: temps $(find . -maxdepth 1 -name '*.tmp-*' | wc -l)"
}

# One run of the station; "ack: run K total N" when it showed its counters.
station_run() { # K PROFILE
  echo "try: run $1"
  "$linetool_cli" --records records.db run --profile "$2" 2>>run.err |
    sed -u -n "s/\r\$//; s/^Pass: [0-9]* Fail: [0-9]* Total: \([0-9]*\)$/ack: run $1 total \1/p; s/^port [0-9]* \([A-Za-z/ ]*\): \(PASS\|FAIL\)$/at: run $1 \1 \2/p"
  echo "done: run $1 ${PIPESTATUS[0]}"
}

state
case "$mode" in
  final)
    station_run 1 "$profile"
    state
    ;;
  work)
    "$saver" "$profile" 0 100 2>>saver.err &
    (
      i=0
      while :; do
        c=A && ((i % 2)) && c=B
        echo "try: rom $c"
        if "$romwright_cli" --sim="$chip,chip$c.img" --chip "$chip" read -o out.bin >/dev/null 2>>rom.err; then
          echo "ack: rom $c"
        else
          echo "done: rom $c failed"
        fi
        i=$((i + 1))
        sleep 0.2
      done
    ) &
    station_run 1 "$profile"
    k=2
    while :; do
      station_run $k quick.ini
      k=$((k + 1))
    done
    ;;
esac
