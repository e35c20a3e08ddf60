#!/usr/bin/env bash
# Crash trials: kills the server with SIGKILL at random moments and checks
# that it always comes back whole.
#
#   scripts/crash-trials.sh [TRIALS] [FILES]      (defaults: 100 trials, 2000 files)
#
# Environment: VANTREL_BUILD (default build/dev, must hold vantrel and
# vantrelctl), VANTREL_TRIALS_DIR (default /tmp/vantrel-crash-trials, emptied
# first), VANTREL_TRIALS_SEED (random seed), VANTREL_TRIALS_WAIT (seconds a
# restart may take to catch up, default 600).
#
# The trials take turns at four moments of the server's life, over FILES
# generated captioned JPEG files in 20 folders:
#   first    a first start of the index (its data folder removed);
#   change   a change pass: files added, rewritten and deleted while it runs;
#   optimize an optimization (files deleted while it was stopped, the index's
#            optimize hour set to the current hour, threshold 1);
#   rebuild  a start without engine files: restored from the backup, or,
#            every other time, built again with the backups removed too.
# Each trial starts the server, kills it with SIGKILL after a random delay
# (within 1.1 times what the work of its kind took when last seen whole: a
# first start, a restore or rebuild, an optimization from its first log
# line; within 6 s of the changes), starts it again and checks:
#   - it starts (no stale lock or other refusal) and keeps running;
#   - every list file (TIMELIST, CHARLIST, DIRLIST and their full copies)
#     parses (vantrelctl list);
#   - once the catch-up is done, TIMELIST holds exactly the files in the
#     image folders, and a search finds the document of every one of them,
#     the rewritten ones with their new caption (so no document of a job
#     that finished before the kill is lost).
# Then it stops the server cleanly. Each trial says whether the kill came
# while the work ran ("mid-work") or after it ended ("after the work"); an
# ending seen in the log re-times that kind for the next trials, so that the
# kills keep landing inside the work as the index grows. The summary counts
# the mid-work kills. Not part of the test command: run it by
# hand (it takes about a minute per trial on a small machine). It ends with
# "N passed, N failed" and keeps the failed trials' logs in the trials folder.
set -uo pipefail

cd "$(dirname "$0")/.."
root=$(pwd)
trials=${1:-100}
files=${2:-2000}
build=$(cd "${VANTREL_BUILD:-$root/build/dev}" 2>/dev/null && pwd) || { echo "crash-trials: no build folder ${VANTREL_BUILD:-$root/build/dev}" >&2; exit 2; }
work=${VANTREL_TRIALS_DIR:-/tmp/vantrel-crash-trials}
wait_limit=${VANTREL_TRIALS_WAIT:-600}
RANDOM=${VANTREL_TRIALS_SEED:-$$}

server=$build/src/tools/vantrel
ctlbin=$build/src/tools/vantrelctl
for b in "$server" "$ctlbin"; do
  [ -x "$b" ] || { echo "crash-trials: $b is missing; build the vantrel and vantrelctl targets" >&2; exit 2; }
done

start=$work/start
images=$work/images
index=$work/index
ctl=("$ctlbin" --dir "$start")
pid=
passed=0
failed=0

say() { echo "crash-trials: $*"; }

now_ms() { date +%s%3N; }
random_below() { echo $(( (RANDOM * 32768 + RANDOM) % ($1 + 1) )); }

# Waits until the running server logs a line matching $1 (at most $2
# seconds); prints the milliseconds waited. Fails when it did not.
wait_for_line() {
  local from deadline
  from=$(now_ms)
  deadline=$((from + $2 * 1000))
  until tr '\n' ' ' <"$start/server.out" | grep -q "$1"; do
    if [ "$(now_ms)" -ge $deadline ] || ! kill -0 "$pid" 2>/dev/null; then return 1; fi
    sleep 0.05
  done
  echo $(($(now_ms) - from))
}

# make_files WORD NUMBER...: file NUMBER as dNN/fNNNNN.jpg, captioned
# "crashtrial WORD numberNUMBER", written beside and renamed into place.
make_files() {
  python3 - "$images" "$@" <<'PY'
import os, struct, sys
folder, word, numbers = sys.argv[1], sys.argv[2], [int(n) for n in sys.argv[3:]]
def seg(marker, payload):
    return b"\xff" + bytes([marker]) + struct.pack(">H", len(payload) + 2) + payload
def jpeg(caption):
    iptc = b"\x1c\x02\x00\x00\x02\x00\x02" + b"\x1c\x02\x78" + struct.pack(">H", len(caption)) + caption
    res = b"8BIM\x04\x04\x00\x00" + struct.pack(">I", len(iptc)) + iptc + (b"\x00" if len(iptc) % 2 else b"")
    body = seg(0xDB, b"\x00" + b"\x01" * 64)
    body += seg(0xC0, bytes([8, 0, 8, 0, 8, 1, 1, 0x11, 0]))
    for cls in (0x00, 0x10):
        body += seg(0xC4, bytes([cls, 1] + [0] * 15 + [0]))
    body += seg(0xDA, bytes([1, 1, 0, 0, 63, 0])) + b"\x3f\xff\xd9"
    jfif = seg(0xE0, b"JFIF\x00\x01\x01\x01\x00\x48\x00\x48\x00\x00")
    head = b"\xff\xd8" + jfif + seg(0xED, b"Photoshop 3.0\x00" + res)
    pad = max(1100 - len(head) - len(body) - 4, 8)  # the size of a small real picture
    return head + seg(0xFE, (b"crash trial padding " * 80)[:pad]) + body
for i in numbers:
    sub = os.path.join(folder, "d%02d" % (i % 20))
    os.makedirs(sub, exist_ok=True)
    path = os.path.join(sub, "f%05d.jpg" % i)
    tmp = os.path.join(sub, ".tmp%05d" % i)
    with open(tmp, "wb") as f:
        f.write(jpeg(("crashtrial %s number%d" % (word, i)).encode()))
    os.rename(tmp, path)
PY
}

# Names of the image files, relative, sorted.
image_files() { (cd "$images" && find . -name '*.jpg' | sed 's|^\./||' | LC_ALL=C sort); }

start_server() {
  (cd "$start" && exec "$server" --no-console --verbose >>"$start/server.out" 2>&1) &
  pid=$!
}

kill_server() {
  [ -n "$pid" ] || return 0
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  pid=
}

stop_server() {
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null
  for _ in $(seq 1 600); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
  kill_server
}

# Every list file parses; prints the problem and fails otherwise.
lists_parse() {
  local f ok=0
  for f in "$index"/VT_DATA/VT_LISTS/{TIMELIST,CHARLIST,DIRLIST} \
           "$index"/VT_DATA/VT_LISTS/VT_FULLLISTS/{TIMELIST,CHARLIST,DIRLIST}; do
    [ -e "$f" ] || continue
    if ! "${ctl[@]}" list "$f" >/dev/null 2>"$work/list.err"; then
      echo "list $f does not parse: $(head -c 300 "$work/list.err")"
      ok=1
    fi
  done
  return $ok
}

# The relative names of the files of TIMELIST (or of a search's hits): the
# two-digit folder number dropped, '\' made '/'.
keys_to_names() { cut -f1 | cut -c3- | tr '\\' '/' | LC_ALL=C sort -u; }

timelist_names() {
  "${ctl[@]}" list "$index/VT_DATA/VT_LISTS/TIMELIST" --json 2>/dev/null |
    python3 -c 'import json,sys
try:
    entries = json.load(sys.stdin).get("entries", [])
except ValueError:
    entries = []
for e in entries: print(e["name"])' | keys_to_names
}

search_names() {
  "${ctl[@]}" search "$index" "$1" --limit 0 --timeout 60 2>/dev/null | keys_to_names
}

# Waits until the restarted server has caught up: TIMELIST equals the image
# folders and every file is found. $1: a word whose files are listed in $2
# (the files rewritten in this trial), or empty.
check_caught_up() {
  local word=$1 changed=$2 deadline=$((SECONDS + wait_limit))
  image_files >"$work/expected"
  while :; do
    if ! kill -0 "$pid" 2>/dev/null; then echo "the server stopped"; return 1; fi
    timelist_names >"$work/timelist"
    search_names crashtrial >"$work/found"
    local missing
    missing=$(LC_ALL=C comm -23 "$work/expected" "$work/found" | wc -l)
    if cmp -s "$work/expected" "$work/timelist" && [ "$missing" -eq 0 ]; then
      if [ -z "$word" ]; then return 0; fi
      search_names "$word" >"$work/found_changed"
      if [ -z "$(LC_ALL=C comm -23 "$changed" "$work/found_changed")" ]; then return 0; fi
    fi
    if [ $SECONDS -ge $deadline ]; then
      echo "not caught up after ${wait_limit}s: $(LC_ALL=C comm -3 "$work/expected" "$work/timelist" | wc -l) names differ in TIMELIST, $missing files not found"
      LC_ALL=C comm -23 "$work/expected" "$work/found" | head -5
      return 1
    fi
    sleep 2
  done
}

# Starts the server again after the kill and checks it.
restart_and_check() {
  local word=$1 changed=$2
  : >"$start/server.out"
  start_server
  sleep 2
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "it did not start: $(tail -c 400 "$start/server.out")"
    pid=
    return 1
  fi
  if grep -q "already running\|running server" "$start/server.out"; then
    echo "stale lock: $(tail -c 300 "$start/server.out")"
    return 1
  fi
  check_caught_up "$word" "$changed" || return 1
  lists_parse || return 1
  return 0
}

setup() {
  rm -rf "$work"
  mkdir -p "$start" "$images" "$index"
  say "generating $files files in $images"
  make_files base $(seq 0 $((files - 1)))
  "${ctl[@]}" index add Crash "$index" >/dev/null
  "${ctl[@]}" folder add 0 "$images" >/dev/null
  "${ctl[@]}" index set 0 active 1 >/dev/null
  "${ctl[@]}" index set 0 optimize-hour 24 >/dev/null
  say "first clean start"
  : >"$start/server.out"
  start_server
  first_ms=$(wait_for_line "Ready for Search" 600) || { say "the first start did not finish"; exit 1; }
  if ! check_caught_up "" ""; then say "the first clean start did not catch up"; exit 1; fi
  stop_server
  say "a clean optimization"
  delete_some 40
  "${ctl[@]}" index set 0 optimize-hour "$(date +%-H)" >/dev/null
  "${ctl[@]}" index set 0 unused-threshold 1 >/dev/null
  : >"$start/server.out"
  start_server
  wait_for_line "Optimizing Index" 600 >/dev/null || { say "no optimization started"; exit 1; }
  optimize_ms=$(wait_for_line "Optimize Completed" 600) || { say "the optimization did not end"; exit 1; }
  # The server starts itself again after an optimization; a stop signal
  # that comes while it does so is lost.
  wait_for_line "Ready for Search.*Ready for Search" 600 >/dev/null ||
    { say "no start after the optimization"; exit 1; }
  stop_server
  "${ctl[@]}" index set 0 optimize-hour 24 >/dev/null
  say "a first start takes ${first_ms} ms, an optimization ${optimize_ms} ms"
  work_ms=([first]=$first_ms [rebuild]=$first_ms [optimize]=$optimize_ms)
}

next_file=$files

# The log line that ends the work of each kind, and how long that work took
# when last seen whole (milliseconds; set by setup, re-timed by the trials).
declare -A work_end=([first]="Ready for Search" [rebuild]="Ready for Search"
                     [optimize]="Optimize Completed")
declare -A work_ms=()
mid_work=0

# Sleeps $2 ms while watching the log for the end of the work of kind $1;
# sets killed_mid_work (1 when the end was not seen) and, when it was seen,
# re-times the kind with the time it took.
sleep_watching_work() {
  local kind=$1 delay=$2 from now pattern=${work_end[$1]:-}
  from=$(now_ms)
  killed_mid_work=1
  while now=$(now_ms); [ $((now - from)) -lt "$delay" ]; do
    if [ -n "$pattern" ] && [ "$killed_mid_work" -eq 1 ] && grep -q "$pattern" "$start/server.out"; then
      killed_mid_work=0
      work_ms[$kind]=$((now - from))
    fi
    sleep 0.02
  done
}

# Deletes $1 random image files.
delete_some() { image_files | shuf -n "$1" --random-source=<(yes "$RANDOM") | sed "s|^|$images/|" | xargs -r rm -f; }

# One trial of kind $1; prints why it failed.
trial() {
  local kind=$1 n=$2 word= changed=$work/changed.$n delay
  : >"$changed"
  "${ctl[@]}" index set 0 optimize-hour 24 >/dev/null
  case $kind in
    first) rm -rf "${index:?}"/* ;;
    optimize)
      delete_some 40
      "${ctl[@]}" index set 0 optimize-hour "$(date +%-H)" >/dev/null
      "${ctl[@]}" index set 0 unused-threshold 1 >/dev/null ;;
    rebuild)
      rm -rf "$index/VT_DATA/VT_INDEX"
      if [ $((n % 8)) -eq 7 ]; then rm -rf "$index/VT_DATA/VT_BACKUP"; fi ;;
  esac
  : >"$start/server.out"
  start_server
  if [ "$kind" = change ]; then
    sleep $((1 + RANDOM % 4))
    word=chg$n
    # Rewrites 50 files, adds 50 and deletes 30 while the server runs.
    image_files | shuf -n 50 --random-source=<(yes "$n") >"$changed"
    (make_files "$word" $(sed 's|.*/f0*||; s|\.jpg$||; s|^$|0|' "$changed")
     make_files "$word" $(seq "$next_file" $((next_file + 49)))
     delete_some 30) &
    local changer=$!
    next_file=$((next_file + 50))
    delay=$(random_below 6000)
  elif [ "$kind" = optimize ]; then
    # The optimization starts at the task's next check of the hour.
    wait_for_line "Optimizing Index" 600 >/dev/null || echo "no optimization started;"
    delay=$(random_below $((work_ms[optimize] * 11 / 10)))
  else
    delay=$(random_below $((work_ms[$kind] * 11 / 10)))
  fi
  sleep_watching_work "$kind" "$delay"
  if [ "$kind" = change ]; then
    kill -0 "$changer" 2>/dev/null || killed_mid_work=0
  fi
  kill_server
  [ "$killed_mid_work" -eq 1 ] && mid_work=$((mid_work + 1))
  if [ "$kind" = change ]; then
    wait "$changer"
    # Files deleted after being rewritten are not expected.
    while read -r f; do [ -e "$images/$f" ] && echo "$f"; done <"$changed" >"$changed.left"
    for i in $(seq $((next_file - 50)) $((next_file - 1))); do
      f=$(printf 'd%02d/f%05d.jpg' $((i % 20)) "$i")
      [ -e "$images/$f" ] && echo "$f"
    done >>"$changed.left"
    LC_ALL=C sort -o "$changed" "$changed.left"
  fi
  # What the killed server was doing: its last log line.
  if [ "$killed_mid_work" -eq 1 ]; then echo "mid-work;"; else echo "after the work;"; fi
  echo "killed after ${delay} ms at \"$(grep -v ': change index\|: request index' "$start/server.out" |
    tail -1 | cut -c10-70)\";"
  "${ctl[@]}" index set 0 optimize-hour 24 >/dev/null
  restart_and_check "$word" "$changed"
  local status=$?
  stop_server
  return $status
}

setup
kinds=(first change optimize rebuild)
for n in $(seq 0 $((trials - 1))); do
  kind=${kinds[$((n % 4))]}
  trial "$kind" "$n" >"$work/trial.out" 2>&1
  status=$?
  out=$(tr '\n' ' ' <"$work/trial.out")
  if [ $status -eq 0 ]; then
    passed=$((passed + 1))
    say "trial $n ($kind): passed; $out"
  else
    failed=$((failed + 1))
    say "trial $n ($kind): FAILED: $out"
    cp "$start/server.out" "$work/failed-$n.server.out" 2>/dev/null
    # Start the next trial from a working state.
    kill_server
  fi
done
say "kills while the work ran: $mid_work of $trials; last timings: first ${work_ms[first]} ms, rebuild ${work_ms[rebuild]} ms, optimize ${work_ms[optimize]} ms"
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
