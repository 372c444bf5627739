#!/usr/bin/env bash
# Starts several copies of the program's database work at once on one
# database, as an office does, and checks what they leave behind.
#   run_concurrency.sh embedded|server PROGRAM_DIR CLIENT
# embedded: embedded engines (SuperClassic) of several processes share one file.
# server:   the copies reach the database through a Firebird server that this
#           script starts on 127.0.0.1 with its own settings, as the README
#           tells an office to set one up.
# Exit status: 0 every check passed, 1 some failed, 77 (server only) the
# Firebird server package is not installed and cannot be, or cannot run here.
set -u
mode=${1:?usage: run_concurrency.sh embedded|server PROGRAM_DIR CLIENT}
program_dir=$(cd "${2:?no program folder}" 2>/dev/null && pwd) || { echo "no folder $2"; exit 1; }
client=${3:?no client}
password=tarvokilm # the program connects as SYSDBA with this password
case "$mode" in embedded | server) ;; *) echo "unknown mode $mode"; exit 2 ;; esac

. "$(dirname "$0")/../support/checks.sh"

# ------------------------------------------------------------------ the server

find_server() {
  local b
  for b in /usr/sbin/firebird /usr/lib/*/firebird/3.0/bin/firebird /opt/firebird/bin/firebird; do
    [ -x "$b" ] && { echo "$b"; return 0; }
  done
  return 1
}
server_bin=
if [ "$mode" = server ]; then
  if ! server_bin=$(find_server); then
    as_root=()
    [ "$(id -u)" -ne 0 ] && as_root=(sudo -n)
    if [ "$(id -u)" -eq 0 ] || sudo -n true 2>/dev/null; then
      echo "installing firebird3.0-server"
      "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
        firebird3.0-server >/dev/null 2>&1 ||
        { "${as_root[@]}" apt-get update >/dev/null 2>&1 &&
          "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
            firebird3.0-server >/dev/null 2>&1; }
    fi
    server_bin=$(find_server) || { echo "SKIP: the Firebird server (firebird3.0-server) is not installed and cannot be"; exit 77; }
  fi
fi
command -v isql-fb >/dev/null && command -v gfix >/dev/null ||
  { fail "isql-fb and gfix (firebird3.0-utils) are needed"; finish; }
[ -x "$client" ] && [ -x "$program_dir/zentrax-makedb" ] && [ -f "$program_dir/firebird/firebird.conf" ] ||
  { fail "no built client, database maker or engine root in $program_dir"; finish; }

work=$(mktemp -d)
chmod 711 "$work" # the server's own user reaches its folders inside
server_pid=
# On the way out: clients still running are killed (only this shell's jobs),
# the server is asked to stop and, if it will not, killed.
cleanup() {
  local p
  for p in $(jobs -p); do
    [ "$p" = "$server_pid" ] || kill -9 "$p" 2>/dev/null
  done
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill -TERM "$server_pid"
    for _ in $(seq 1 150); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/journals" "$work/out" "$work/signals" "$work/data" "$work/program" "$work/tmp"

# The clients' side is the program's: its engine root, and the machine's one
# lock folder, as the program and the engine's tools find it; each client with
# a temporary folder of its own, as users whose sessions set TMPDIR have.
export FIREBIRD=$program_dir/firebird
unset FIREBIRD_LOCK
dbfile=$work/data/dbase.fdb

# Waits up to $2 seconds for file $1.
wait_file() {
  local i
  for ((i = 0; i < $2 * 20; i++)); do
    [ -e "$1" ] && return 0
    sleep 0.05
  done
  return 1
}
# Waits up to $1 seconds for the processes that follow to end; kills and
# names those still running then.
wait_exit() {
  local limit=$1 p i alive
  shift
  for ((i = 0; i < limit * 20; i++)); do
    alive=0
    for p in "$@"; do kill -0 "$p" 2>/dev/null && alive=1; done
    [ "$alive" -eq 0 ] && return 0
    sleep 0.05
  done
  for p in "$@"; do
    kill -0 "$p" 2>/dev/null && { echo "still running after ${limit} s: $p"; kill -9 "$p"; }
  done
  return 1
}
lines() { # count of lines of file $1 matching $2
  if [ -f "$1" ]; then grep -c -- "$2" "$1"; else echo 0; fi
}

clients=0
declare -A pid
# A client on the database that path.txt names, its journal and output under NAME.
start_client() {
  local name=$1
  shift
  mkdir -p "$work/tmp/$name"
  TMPDIR=$work/tmp/$name "$client" "$@" --path-txt "$work/program/path.txt" --program "$program_dir" \
    --journal "$work/journals/$name.journal" >"$work/out/$name.out" 2>&1 &
  pid[$name]=$!
  clients=$((clients + 1))
}
status_of() { # exit status of the client NAME, once ended
  wait "${pid[$1]}"
}
verify() { # NAME [client options]: read-only check of the database against every journal
  local name=$1
  shift
  "$client" verify --path-txt "$work/program/path.txt" --program "$program_dir" \
    --journals "$work/journals" "$@" >"$work/out/$name.out" 2>&1
}

# ------------------------------------------------------------------ the database

server_user=$(id -un)
if [ "$mode" = server ]; then
  # A server root of its own: the system's settings, served on a free port of
  # 127.0.0.1 only, and a copy of the security database where SYSDBA has the
  # program's password.
  sysroot=
  for d in /usr/lib/*/firebird/3.0 /usr/lib/firebird/3.0 /opt/firebird; do
    [ -f "$d/firebird.conf" ] && [ -d "$d/intl" ] && { sysroot=$d; break; }
  done
  [ -n "$sysroot" ] || { fail "no Firebird settings folder found"; finish; }
  srv=$work/server
  mkdir -p "$srv/intl" "$srv/lock"
  cp -L "$sysroot/firebird.conf" "$sysroot/databases.conf" "$sysroot/plugins.conf" "$sysroot/firebird.msg" "$srv/"
  cp -L "$sysroot/intl/fbintl.conf" "$sysroot/intl/libfbintl.so" "$srv/intl/"
  system_secdb=/var/lib/firebird/3.0/system/security3.fdb
  if [ -r "$system_secdb" ]; then
    cp "$system_secdb" "$srv/security3.fdb"
  else # made as the package makes it
    echo "create database '$srv/security3.fdb';" | FIREBIRD=$srv FIREBIRD_LOCK=$srv/lock isql-fb -q &&
      FIREBIRD=$srv FIREBIRD_LOCK=$srv/lock isql-fb -q -user SYSDBA -i /usr/share/firebird/3.0/security.sql \
        "$srv/security3.fdb" >/dev/null
  fi
  server_conf() {
    cp -L "$sysroot/firebird.conf" "$srv/firebird.conf"
    cat >>"$srv/firebird.conf" <<EOF

# This test's own server.
RemoteServicePort = $1
RemoteBindAddress = 127.0.0.1
ServerMode = Super
SecurityDatabase = $srv/security3.fdb
EOF
  }
  server_conf 3050
  if ! printf "create or alter user SYSDBA password '%s';\ncommit;\n" "$password" |
    FIREBIRD=$srv FIREBIRD_LOCK=$srv/lock isql-fb -q -user SYSDBA "$srv/security3.fdb" >"$work/out/secdb.out" 2>&1; then
    fail "SYSDBA's password could not be set: $(cat "$work/out/secdb.out")"
    finish
  fi
  run_as=()
  if [ "$(id -u)" -eq 0 ] && id firebird >/dev/null 2>&1; then
    server_user=firebird
    run_as=(setpriv --reuid=firebird --regid="$(id -g firebird)" --init-groups)
  fi
fi

# The database, made by the program's own tool, where the server can read and write it.
if "$program_dir/zentrax-makedb" --password admin "$dbfile" >"$work/out/makedb.out" 2>&1; then
  pass "database made: $dbfile"
else
  fail "the database maker failed: $(cat "$work/out/makedb.out")"
  finish
fi

# Starts the server on port $1 and waits until it answers.
start_server() {
  server_conf "$1"
  chown "$server_user" "$srv/firebird.conf"
  FIREBIRD=$srv FIREBIRD_LOCK=$srv/lock "${run_as[@]}" "$server_bin" >>"$work/out/server.out" 2>&1 &
  server_pid=$!
  local i
  for ((i = 0; i < 600; i++)); do
    kill -0 "$server_pid" 2>/dev/null || break
    (: </dev/tcp/127.0.0.1/$1) 2>/dev/null && return 0
    sleep 0.05
  done
  kill -9 "$server_pid" 2>/dev/null
  wait "$server_pid" 2>/dev/null
  server_pid=
  return 1
}
stop_server() {
  kill -TERM "$server_pid"
  local i
  for ((i = 0; i < 300; i++)); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.05; done
  kill -9 "$server_pid" 2>/dev/null
  wait "$server_pid" 2>/dev/null
  server_pid=
}

port=
if [ "$mode" = server ]; then
  chown -R "$server_user:$(id -gn "$server_user")" "$srv" "$work/data"
  chmod 770 "$work/data"
  chmod 660 "$dbfile"
  for attempt in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 40000))
    (: </dev/tcp/127.0.0.1/$port) 2>/dev/null && continue # taken
    start_server "$port" && break
  done
  if [ -z "$server_pid" ]; then
    # A server that cannot run at all here is skipped; one that runs but does
    # not answer is a fault of this set-up.
    "$server_bin" -z >/dev/null 2>&1 || { echo "SKIP: $server_bin cannot run here"; exit 77; }
    fail "the Firebird server $server_bin does not answer: $(cat "$work/out/server.out")"
    finish
  fi
  pass "server $server_bin answers on 127.0.0.1:$port, running as $(ps -o user= -p "$server_pid")"
  echo "127.0.0.1/$port:$dbfile" >"$work/program/path.txt"
else
  echo "$dbfile" >"$work/program/path.txt"
fi
echo "path.txt: $(cat "$work/program/path.txt")"

# ------------------------------------------------------------------ cards to contend for

start_client seed seed --key s1 --key s2 --key s3 --key r1 --key r2 --key r3 --key r4 --key l1
if wait_exit 60 "${pid[seed]}" && status_of seed; then
  pass "eight cards that every client saves were stored"
else
  fail "seeding failed: $(cat "$work/out/seed.out")"
  finish
fi
card() { awk -v k="$1" '$1 == "SEED" && $2 == k { print $3 }' "$work/out/seed.out"; }

# A copy with its list open is told of another copy's commit by the
# database and shows the new card without a keystroke.
sig=$work/signals/live
start_client live live --ready "$sig.ready" --key lv1
if wait_file "$sig.ready" 60; then
  start_client liveseed seed --key lv1
  if wait_exit 40 "${pid[live]}" && status_of live; then
    pass "an open list followed another copy's commit: $(grep '^LIVE' "$work/out/live.out")"
  else
    fail "an open list did not follow another copy's commit: $(cat "$work/out/live.out")"
  fi
  wait_exit 60 "${pid[liveseed]}" && status_of liveseed || fail "seeding lv1 failed: $(cat "$work/out/liveseed.out")"
else
  fail "the copy with its list open did not start: $(cat "$work/out/live.out")"
fi

# ------------------------------------------------------------------ two saves at once

for round in 1 2 3; do
  id=$(card "r$round")
  sig=$work/signals/race$round
  start_client "race${round}a" race --card "$id" --as "r${round}a" --user 21 --ready "$sig.a" --go "$sig.go"
  start_client "race${round}b" race --card "$id" --as "r${round}b" --user 22 --ready "$sig.b" --go "$sig.go"
  if ! wait_file "$sig.a" 60 || ! wait_file "$sig.b" 60; then
    fail "race $round: the clients did not load the card"
    continue
  fi
  : >"$sig.go"
  if ! wait_exit 60 "${pid[race${round}a]}" "${pid[race${round}b]}"; then
    fail "race $round: a save hung"
    continue
  fi
  status_of "race${round}a"; sa=$?
  status_of "race${round}b"; sb=$?
  ra=$(awk '$1 == "RESULT" { print $2 }' "$work/out/race${round}a.out")
  rb=$(awk '$1 == "RESULT" { print $2 }' "$work/out/race${round}b.out")
  if [ "$sa" -eq 0 ] && [ "$sb" -eq 0 ] && { [ "$ra/$rb" = won/conflict ] || [ "$ra/$rb" = conflict/won ]; }; then
    pass "race $round on card $id: A $ra, B $rb"
  else
    fail "race $round on card $id: A ${ra:-error} ($sa), B ${rb:-error} ($sb): $(cat "$work/out/race${round}"[ab].out)"
  fi
done
# Both open the card, one saves, and only then the other: the second must not
# overwrite the first unseen.
id=$(card r4)
sig=$work/signals/race4
start_client race4a race --card "$id" --as r4a --user 21 --ready "$sig.a" --go "$sig.goa"
start_client race4b race --card "$id" --as r4b --user 22 --ready "$sig.b" --go "$sig.gob"
if wait_file "$sig.a" 60 && wait_file "$sig.b" 60; then
  : >"$sig.goa"
  wait_exit 60 "${pid[race4a]}"
  status_of race4a; sa=$?
  : >"$sig.gob"
  wait_exit 60 "${pid[race4b]}"
  status_of race4b; sb=$?
  ra=$(awk '$1 == "RESULT" { print $2 }' "$work/out/race4a.out")
  rb=$(awk '$1 == "RESULT" { print $2 }' "$work/out/race4b.out")
  if [ "$sa$sb" = 00 ] && [ "$ra/$rb" = won/conflict ]; then
    pass "card $id opened by two, saved by A, then by B: A $ra, B $rb"
  else
    fail "card $id opened by two, saved by A, then by B: A ${ra:-error} ($sa), B ${rb:-error} ($sb): $(cat "$work/out/race4"[ab].out)"
  fi
else
  fail "race 4: the clients did not load the card"
fi
if verify verify-race; then
  pass "after the races each card is the winner's whole version ($(grep VERIFY "$work/out/verify-race.out" | cut -d' ' -f8-10))"
else
  fail "after the races: $(grep -v '^killed' "$work/out/verify-race.out")"
fi

# ------------------------------------------------------------------ a row held by another

lock_id=$(card l1)
sig=$work/signals/lock
start_client holder hold --card "$lock_id" --as l1held --user 23 --ready "$sig.held" --release "$sig.release"
if wait_file "$sig.held" 60; then
  start_client saver save --card "$lock_id" --as l1saver --user 24
  # The lock timeout is 5 s; a save still running after 60 s hangs.
  if wait_exit 60 "${pid[saver]}"; then
    status_of saver
    res=$(grep RESULT "$work/out/saver.out")
    if [[ "$res" == "RESULT conflict "* ]]; then
      pass "a save of the held card gave up with a conflict after ${res#RESULT conflict }"
    else
      fail "a save of the held card: ${res:-$(cat "$work/out/saver.out")}"
    fi
  else
    fail "a save of the held card hangs"
  fi
  : >"$sig.release"
  if wait_exit 60 "${pid[holder]}" && status_of holder && grep -q "RESULT committed" "$work/out/holder.out"; then
    pass "the holder committed its update once released"
  else
    fail "the holder: $(cat "$work/out/holder.out")"
  fi
else
  fail "the holder did not take the row: $(cat "$work/out/holder.out")"
fi
if verify verify-lock; then
  pass "the held card is the holder's whole version, the other save left nothing"
else
  fail "after the held row: $(grep -v '^killed' "$work/out/verify-lock.out")"
fi

# ------------------------------------------------------------------ many clients, two killed

shared="$(card s1),$(card s2),$(card s3)"
stop=$work/signals/stop
workers=(w1 w2 w3)
n=0
for w in "${workers[@]}"; do
  n=$((n + 1))
  start_client "$w" work --as "$w" --user $((10 + n)) --min-ops 40 --stop "$stop" --shared "$shared" \
    --seed "$((RANDOM * 32768 + RANDOM))"
done
# Stops inside the commit of a save of a card the others save too, holding its row.
start_client paused work --as k1 --user 31 --ops 1000 --min-ops 1000 --shared "$shared" --pause-after 5 \
  --paused "$work/signals/paused" --seed "$((RANDOM * 32768 + RANDOM))"
# Saves cards of its own without a pause, then is killed: through a server
# wherever it happens to be; an embedded one between two of its steps, since
# Debian's Firebird 3 engine cannot recover its shared lock table from a
# process killed inside it (the others would wait for it for ever).
hold=$work/signals/hold
start_client busy work --as k2 --user 32 --ops 1000000 --min-ops 1000000 --no-remove --hold "$hold" \
  --seed "$((RANDOM * 32768 + RANDOM))"

if wait_file "$work/signals/paused" 120; then
  kill -9 "${pid[paused]}"
  { wait "${pid[paused]}"; } 2>/dev/null
  pass "client k1 killed with SIGKILL inside a save: $(grep '^paused' "$work/journals/paused.journal")"
else
  fail "client k1 never reached its commit: $(cat "$work/out/paused.out")"
fi
for ((i = 0; i < 2400; i++)); do
  [ "$(lines "$work/journals/busy.journal" '^done')" -ge 25 ] && break
  kill -0 "${pid[busy]}" 2>/dev/null || break
  sleep 0.05
done
if [ "$mode" = embedded ]; then
  : >"$hold"
  for ((i = 0; i < 1200; i++)); do
    grep -q '^HELD' "$work/out/busy.out" && break
    sleep 0.05
  done
fi
if [ "$(lines "$work/journals/busy.journal" '^done')" -ge 25 ] && kill -9 "${pid[busy]}" 2>/dev/null; then
  { wait "${pid[busy]}"; } 2>/dev/null
  pass "client k2 killed with SIGKILL after $(lines "$work/journals/busy.journal" '^done') saves, in: $(tail -n 1 "$work/journals/busy.journal")"
else
  fail "client k2 did not save: $(cat "$work/out/busy.out")"
fi

# The others go on: each finishes more saves after both kills.
declare -A before
for w in "${workers[@]}"; do before[$w]=$(lines "$work/journals/$w.journal" '^done\|^conflict'); done
on=0
for ((i = 0; i < 4800; i++)); do
  on=1
  for w in "${workers[@]}"; do
    [ "$(lines "$work/journals/$w.journal" '^done\|^conflict')" -ge $((before[$w] + 10)) ] || on=0
  done
  [ "$on" -eq 1 ] && break
  sleep 0.05
done
went=""
for w in "${workers[@]}"; do went+=" $w +$(($(lines "$work/journals/$w.journal" '^done\|^conflict') - before[$w]))"; done
if [ "$on" -eq 1 ]; then pass "the other clients went on after the kills:$went"; else fail "the other clients stalled:$went"; fi
: >"$stop"
worker_pids=()
for w in "${workers[@]}"; do worker_pids+=("${pid[$w]}"); done
wait_exit 300 "${worker_pids[@]}" || fail "a client did not finish"
for w in "${workers[@]}"; do
  status_of "$w"
  st=$?
  report=$(grep '^REPORT' "$work/out/$w.out")
  if [ "$st" -eq 0 ] && [[ "$report" == *" errors=0" ]]; then
    pass "client $w: ${report#REPORT $w }"
  else
    fail "client $w ($st): $(grep -v '^CONFLICT' "$work/out/$w.out")"
  fi
done

# The killed client's row lock is gone: a new save of that card goes through.
start_client after save --card "$(card s1)" --as s1after --user 41
if wait_exit 60 "${pid[after]}" && status_of after && grep -q "RESULT won" "$work/out/after.out"; then
  pass "a new save of the card k1 held went through: $(grep RESULT "$work/out/after.out")"
else
  fail "a new save of the card k1 held: $(cat "$work/out/after.out")"
fi

# ------------------------------------------------------------------ what is stored

if verify verify-final; then
  pass "every committed change is stored once and whole: $(grep '^VERIFY' "$work/out/verify-final.out")"
else
  fail "the stored cards: $(cat "$work/out/verify-final.out")"
fi
grep '^killed' "$work/out/verify-final.out"
connection=$(grep '^CONNECTION' "$work/out/verify-final.out")
if [ "$mode" = server ]; then
  [[ "$connection" == *" TCPv4 127.0.0.1/"* ]] && pass "clients went through the server: $connection" ||
    fail "not through the server: $connection"
  # The other forms of a server connection string.
  for form in "inet://127.0.0.1:$port/$dbfile" "localhost/$port:$dbfile"; do
    echo "$form" >"$work/program/path.txt"
    if verify verify-form && grep -q "^CONNECTION .* TCPv" "$work/out/verify-form.out"; then
      pass "path.txt \"$form\" reaches the same database"
    else
      fail "path.txt \"$form\": $(grep -v '^killed' "$work/out/verify-form.out")"
    fi
  done
  gfix_target="127.0.0.1/$port:$dbfile"
else
  [[ "$connection" == *" embedded "* ]] && pass "clients opened the file in-process: $connection" ||
    fail "not embedded: $connection"
  gfix_target=$dbfile
fi

# ------------------------------------------------------------------ photos saved in one second

# Two desks under one login make a card with a photo each in the same second:
# one stamp, and still two folders; deleting one photo leaves the other.
mkdir -p "$work/images/a" "$work/images/b"
head -c 20000 /dev/urandom >"$work/images/a/photo.jpg"
head -c 30000 /dev/urandom >"$work/images/b/photo.jpg"
at=$(($(date +%s) + 2))
start_client photo_a photo --key p1 --user 51 --at "$at" --image "$work/images/a/photo.jpg"
start_client photo_b photo --key p2 --user 51 --at "$at" --image "$work/images/b/photo.jpg"
wait_exit 60 "${pid[photo_a]}" "${pid[photo_b]}"
status_of photo_a; pa=$?
status_of photo_b; pb=$?
read -r _ ida stampa fpatha < <(grep '^PHOTO' "$work/out/photo_a.out")
read -r _ idb stampb fpathb < <(grep '^PHOTO' "$work/out/photo_b.out")
photo_file() { echo "$work/program/files/${1//\\//}"; }
if [ "$pa$pb" = 00 ] && [ -n "$stampa" ] && [ "$stampa" = "$stampb" ] && [ "$fpatha" != "$fpathb" ] &&
  cmp -s "$work/images/a/photo.jpg" "$(photo_file "$fpatha")" && cmp -s "$work/images/b/photo.jpg" "$(photo_file "$fpathb")"; then
  pass "two cards of one login in one second ($stampa) keep their own photos: $fpatha, $fpathb"
else
  fail "photos saved in one second: A ($pa) $stampa $fpatha, B ($pb) $stampb $fpathb: $(cat "$work/out/photo_"[ab].out)"
fi
start_client unphoto unphoto --card "$idb"
if wait_exit 60 "${pid[unphoto]}" && status_of unphoto && [ ! -e "$(photo_file "$fpathb")" ] &&
  cmp -s "$work/images/a/photo.jpg" "$(photo_file "$fpatha")"; then
  pass "deleting card $idb's photo left card $ida's photo whole"
else
  fail "deleting card $idb's photo: $(cat "$work/out/unphoto.out"); A's file $(ls -l "$(photo_file "$fpatha")" 2>&1)"
fi

if [ "$mode" = server ]; then
  # The server stopped and started again under a running copy: its next save
  # says the connection was lost, the one after goes through.
  sig=$work/signals/reconnect
  start_client reconnect reconnect --card "$(card s3)" --ready "$sig.ready" --go "$sig.go"
  if wait_file "$sig.ready" 60; then
    stop_server
    if start_server "$port"; then
      : >"$sig.go"
      if wait_exit 60 "${pid[reconnect]}" && status_of reconnect && grep -q '^RESULT saved again' "$work/out/reconnect.out"; then
        pass "a copy saved again after the server's restart: $(grep '^LOST' "$work/out/reconnect.out")"
      else
        fail "after the server's restart: $(cat "$work/out/reconnect.out")"
      fi
    else
      fail "the server did not start again: $(tail -n 5 "$work/out/server.out")"
    fi
  else
    fail "the reconnecting copy did not save: $(cat "$work/out/reconnect.out")"
  fi
fi

# The engine's own full validation: nothing to report.
out=$(gfix -v -full -user SYSDBA -password "$password" "$gfix_target" 2>&1)
st=$?
if [ "$st" -eq 0 ] && ! grep -qiE 'error|corrupt|damage|warning' <<<"$out"; then
  pass "gfix -v -full $gfix_target: no errors${out:+ ($out)}"
else
  fail "gfix -v -full $gfix_target ($st): $out"
fi

if [ "$mode" = embedded ]; then
  # Both checks see damage: a changed column and a lost accounts row...
  cp "$dbfile" "$work/data/tampered.fdb"
  printf "update base set post = 'x' where pk_id = %s;\ndelete from accounts where bs_fk = (select max(bs_fk) from accounts);\ncommit;\n" \
    "$(card s2)" | isql-fb -q -user SYSDBA "$work/data/tampered.fdb"
  verify verify-tampered --db "$work/data/tampered.fdb"
  if [ "$?" -eq 1 ] && [ "$(lines "$work/out/verify-tampered.out" '^FAIL')" -ge 2 ]; then
    pass "a copy with a changed column and a lost accounts row fails the check: $(grep -c '^FAIL' "$work/out/verify-tampered.out") faults"
  else
    fail "a tampered copy passes the check: $(cat "$work/out/verify-tampered.out")"
  fi
  # ...and a data page of the cards whose first record points outside the page.
  cp "$dbfile" "$work/data/damaged.fdb"
  f=$work/data/damaged.fdb
  rel=$(echo "select rdb\$relation_id from rdb\$relations where rdb\$relation_name = 'BASE';" |
    isql-fb -q -user SYSDBA "$f" | awk 'NF == 1 && $1 ~ /^[0-9]+$/ { print $1 }')
  ps=$(od -An -tu2 -j16 -N2 "$f" | tr -d ' ')
  pages=$(($(stat -c %s "$f") / ps))
  hit=
  for ((p = 1; p < pages; p++)); do
    [ -n "$hit" ] && break
    [ "$(od -An -tu1 -j $((p * ps)) -N1 "$f" | tr -d ' ')" = 5 ] || continue
    [ "$(od -An -tu2 -j $((p * ps + 20)) -N2 "$f" | tr -d ' ')" = "$rel" ] || continue
    count=$(od -An -tu2 -j $((p * ps + 22)) -N2 "$f" | tr -d ' ')
    for ((k = 0; k < count; k++)); do
      if [ "$(od -An -tu2 -j $((p * ps + 26 + 4 * k)) -N2 "$f" | tr -d ' ')" != 0 ]; then
        printf '\xf0\xff' | dd of="$f" bs=1 seek=$((p * ps + 24 + 4 * k)) conv=notrunc status=none
        hit="page $p, record $k"
        break
      fi
    done
  done
  out=$(gfix -v -full -user SYSDBA "$f" 2>&1)
  if [ -n "$hit" ] && grep -qi 'error' <<<"$out"; then
    pass "gfix sees a copy damaged at $hit: $(tr '\n\t' '  ' <<<"$out")"
  else
    fail "gfix on a copy damaged at ${hit:-no page found}: $out"
  fi
fi

# ------------------------------------------------------------------ figures

told=$(cat "$work/out/"*.out | grep -c '^CONFLICT')
errors=$(cat "$work/out/"*.out | grep -c '^ERROR')
read -r inserts updates removes sharedsaves journaled cards rows accounts < <(
  grep '^VERIFY' "$work/out/verify-final.out" |
    sed -E 's/.*inserts=([0-9]+) updates=([0-9]+) removes=([0-9]+) shared=([0-9]+) conflicts=([0-9]+) cards=([0-9]+) rows_verified=([0-9]+) accounts_verified=([0-9]+).*/\1 \2 \3 \4 \5 \6 \7 \8/')
if [ "${journaled:-x}" = "$told" ] && [ "$errors" -eq 0 ]; then
  pass "every conflict a client was told is in its journal ($told), no error"
else
  fail "conflicts told $told, journaled ${journaled:-?}, errors $errors: $(cat "$work/out/"*.out | grep '^ERROR')"
fi
committed=$((${inserts:-0} + ${updates:-0} + ${removes:-0} + ${sharedsaves:-0}))
echo "$mode: clients $clients, operations $((committed + told)) ($committed committed, $told refused), rows verified $((${rows:-0} + ${accounts:-0})) (${rows:-0} cards of ${cards:-0}, ${accounts:-0} accounts rows), conflicts told $told, errors $errors"
finish
