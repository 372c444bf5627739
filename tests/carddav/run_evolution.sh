#!/usr/bin/env bash
# The CardDAV server under Evolution's own CardDAV backend
# (evolution-data-server), with no screen: a database with demo cards, a
# self-signed certificate, zentrax-carddav on a free port of 127.0.0.1 over
# TLS; on a private session bus, with a home of its own, evolution_client.py
# finds the address book from the server's address, adds it as Evolution
# does, and lists, adds, changes and removes contacts through the backend;
# each step is checked in the database. A contact changed at a desk after
# Evolution read it must be refused when Evolution saves its older copy.
#   run_evolution.sh PROGRAM_DIR
# Exit status: 0 every check passed, 1 some failed, 77 evolution-data-server
# (or another tool) missing.
set -u
program=${1:?usage: run_evolution.sh PROGRAM_DIR}
here=$(cd "$(dirname "$0")" && pwd)
skip() { echo "SKIP: $* (./setup.sh installs it)"; exit 77; }
for tool in dbus-run-session setsid curl openssl isql-fb; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
# python3-gi serves the system's Python, whatever else comes first on PATH.
gipython=/usr/bin/python3
ls /usr/share/dbus-1/services/org.gnome.evolution.dataserver.{Sources,AddressBook}*.service >/dev/null 2>&1 ||
  skip "evolution-data-server is not installed"
"$gipython" -c 'import gi
for n in ("EDataServer", "EBook", "EBookContacts"): gi.require_version(n, "1.2")
from gi.repository import EBook, EBookContacts, EDataServer' 2>/dev/null ||
  skip "python3-gi or the typelibs of evolution-data-server are not installed"

. "$here/../support/checks.sh"

work=$(mktemp -d)
server=
evo=
cleanup() {
  # The client's bus, with the services it started, is a process group of its own.
  [ -n "$evo" ] && kill -KILL -- "-$evo" 2>/dev/null
  [ -n "$server" ] && kill -KILL "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' TERM INT HUP

db=$work/db.fdb
rows() { # statements → the engine's answer in UTF-8, a line a value: COLUMN=value
  printf 'SET LIST ON;\n%s\n' "$1" |
    FIREBIRD=$program/firebird timeout 60 isql-fb -q -ch UTF8 -user SYSDBA -password tarvokilm "$db" 2>&1 |
    sed -E '/^$/d; s/^([^ ]+) */\1=/'
}
sql() { rows "$1" | sed 's/^[^=]*=//'; } # the values alone
"$program/zentrax-makedb" --demo 300 "$db" >"$work/makedb.out" 2>&1 || {
  fail "the database was not made: $(cat "$work/makedb.out")"
  finish
}
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1" >/dev/null 2>&1
password=$(ZENTRAX_PASSWORD=admin "$program/zentrax-carddav" --database "$db" \
  passwords add --user admin --label "Evolution" 2>"$work/pw.err" | tail -n 1)
[ ${#password} -ge 26 ] || {
  fail "no device password: $(cat "$work/pw.err")"
  finish
}

port=$("$gipython" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
base=https://127.0.0.1:$port
collection=$base/dav/addressbooks/admin/cards/
"$program/zentrax-carddav" --database "$db" --listen "127.0.0.1:$port" --cert "$work/cert.pem" \
  --key "$work/key.pem" >"$work/server.log" 2>&1 &
server=$!
for _ in $(seq 100); do
  curl -s --max-time 2 --cacert "$work/cert.pem" -o /dev/null -X OPTIONS "$base/" && break
  sleep 0.1
done

# The client: its answers come on a pipe of their own (the bus gives its
# standard output to the services it starts). Its waits together take at
# most 110 seconds; one answer longer than 120 is a hang, and ends it.
mkdir -p "$work/home/.config" "$work/home/.local/share" "$work/home/.cache" "$work/run"
chmod 700 "$work/run"
coproc EVO {
  exec setsid env -u LANGUAGE HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
    XDG_DATA_HOME="$work/home/.local/share" XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/run" \
    LC_ALL=C.UTF-8 GSETTINGS_BACKEND=memory CARDDAV_DEBUG=all ZENTRAX_DEVICE_PASSWORD="$password" \
    dbus-run-session -- "$gipython" "$here/evolution_client.py" --user admin --cert "$work/cert.pem" --seconds 110 \
    3<&0 4>&1 </dev/null >"$work/evolution.log" 2>&1
}
evo=$EVO_PID
exec {to_evo}>&"${EVO[1]}" {from_evo}<&"${EVO[0]}"
answer=()
reply=
ask() { # command fields... → the client's answer: fields in answer[], shown in $reply; true on "ok"
  local IFS=$'\t' line=
  if [ -z "$evo" ]; then
    line=$'error\tthe client was ended before'
  elif printf '%s\n' "$*" 2>/dev/null 1>&"$to_evo" && read -r -t 120 line 0<&"$from_evo"; then
    :
  else
    line=$'error\tno answer from the client in two minutes'
    kill -KILL -- "-$evo" 2>/dev/null
    evo=
  fi
  read -r -a answer <<<"$line"
  reply=${line//$'\t'/ | }
  [ "${answer[0]:-}" = ok ]
}

# Found as a user finds it: "Find Address Books" from the server's address.
ask discover "$base/"
check "the address book is found from the server's address ($reply)" \
  test "${answer[1]:-}|${answer[2]:-}|${answer[3]:-}" = "1|$collection|Карточки"

ask open "$collection"
check "Evolution opens the address book ($reply)" test "$reply" = ok

total=$(sql "SELECT COUNT(*) FROM base;")
sql "SELECT COALESCE(fam, '') || ';' || COALESCE(name1, '') || ';' || COALESCE(name2, '') FROM base;" |
  LC_ALL=C sort >"$work/db.names"
ask list "$work/evolution.names" "$total"
check "Evolution holds every card (${answer[1]:-$reply} of $total)" test "$reply" = "ok | $total"
check "Evolution's contacts have the database's names" \
  cmp -s "$work/db.names" <(LC_ALL=C sort "$work/evolution.names" 2>/dev/null)

# Added, changed and removed in Evolution: each reaches the database. The
# card is found by the UID Evolution gave it.
ask add Проверкин Евгений "+7 900 555-01-01"
uid=${answer[1]:-}
card="FROM base b JOIN carddav_cards c ON c.card = b.pk_id WHERE c.uid = '$uid'"
check "a contact added in Evolution is a card in the database ($reply)" \
  test "$(sql "SELECT b.fam || ';' || b.name1 || ';' || COALESCE(b.wmob, '') || COALESCE(b.hmob, '') $card;")" = \
  "Проверкин;Евгений;+7 900 555-01-01"
ask hold "$uid" && ask modify "family-name=Изменёнов" "mobile-phone=+7 900 555-01-02"
check "a change made in Evolution reaches the card ($reply)" \
  test "$(sql "SELECT b.fam || ';' || COALESCE(b.wmob, '') || COALESCE(b.hmob, '') $card;")|$(sql "SELECT COUNT(*) FROM base;")" = \
  "Изменёнов;+7 900 555-01-02|$((total + 1))"
ask remove "$uid"
check "a contact removed in Evolution leaves the database ($reply)" \
  test "$(sql "SELECT COUNT(*) $card;")|$(sql "SELECT COUNT(*) FROM base;")" = "0|$total"

# An edit in Evolution changes what was edited and nothing else: the rest of
# each card, the program's own fields among it (passport, habits, accounts,
# notes, the photo), is as it was before.
changed=
for id in 1 2 4 5 6 7 8 9 10 11; do
  rows "SELECT * FROM base WHERE pk_id = $id; SELECT * FROM accounts WHERE bs_fk = $id;" >"$work/before"
  if ask hold "zentrax-$id" && ask modify "family-name=Круговой"; then
    rows "SELECT * FROM base WHERE pk_id = $id; SELECT * FROM accounts WHERE bs_fk = $id;" >"$work/after"
    grep -qx 'FAM=Круговой' "$work/after" || changed+=" $id: the name did not change;"
    lost=$(diff "$work/before" "$work/after" | sed -n 's/^< //p' | grep -v '^FAM=' | paste -sd ' ')
    [ -z "$lost" ] || changed+=" $id: was $lost;"
  else
    changed+=" $id: $reply;"
  fi
done
check "an edit in Evolution leaves the rest of each card as it was${changed:+ (card$changed)}" test -z "$changed"

# Read by Evolution, then changed at a desk (here plain SQL, which changes the
# card's ETag): Evolution's save of its older copy, failing on conflicts, is
# refused, and the desk's change stays; a refresh brings that change over.
ask hold zentrax-3
desk=$(sql "SELECT fam FROM base WHERE pk_id = 3;")
sql "UPDATE base SET wtel = '+7 495 555-00-09' WHERE pk_id = 3; COMMIT;" >/dev/null
ask modify "family-name=Конфликтов"
check "Evolution's save over a desk change is refused as out of sync ($reply)" \
  grep -q '^error | e-client-error-quark:out_of_sync .*out of sync' <<<"$reply"
check "the desk's change stays" test "$(sql "SELECT fam || ';' || wtel FROM base WHERE pk_id = 3;")" = \
  "$desk;+7 495 555-00-09"
ask await zentrax-3 business-phone "+7 495 555-00-09"
check "a refresh brings the desk's change to Evolution ($reply)" test "$reply" = ok

ask quit
kill -TERM "$server"
for _ in $(seq 50); do
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
kill -KILL "$server" 2>/dev/null
wait "$server" 2>/dev/null
server=
for _ in $(seq 50); do
  if [ -z "$evo" ] || ! kill -0 "$evo" 2>/dev/null; then break; fi
  sleep 0.1
done
if [ "$failed" -ne 0 ]; then
  tail -n 40 "$work/server.log"
  grep -v '^[<>] \(Soup-Debug\|User-Agent\|Accept\|Cache-Control\|Pragma\|Connection\|Date\|Host\)' \
    "$work/evolution.log" | tail -n 80
fi
finish
