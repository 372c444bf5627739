#!/usr/bin/env bash
# The CardDAV server under a real client and at the protocol's edges: a
# database with demo cards, a self-signed certificate, zentrax-carddav on a
# free port of 127.0.0.1 over TLS; vdirsyncer discovers the address book
# and syncs it with a folder of .vcf files both ways; curl knocks at the
# doors (discovery, credentials, a read-only user, a foreign token); SIGTERM
# ends the server.
#   run_clients.sh PROGRAM_DIR
# Exit status: 0 every check passed, 1 some failed, 77 a tool missing.
set -u
program=${1:?usage: run_clients.sh PROGRAM_DIR}
for tool in vdirsyncer curl openssl isql-fb python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (./setup.sh installs it)"; exit 77; }
done

. "$(dirname "$0")/../support/checks.sh"

work=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill -KILL "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

db=$work/db.fdb
sql() { # statements → the engine's answer, one value a line
  printf 'SET LIST ON;\n%s\n' "$1" |
    FIREBIRD=$program/firebird isql-fb -q -user SYSDBA -password tarvokilm "$db" 2>&1 |
    awk 'NF >= 2 { print $2 }'
}
"$program/zentrax-makedb" --demo 300 "$db" >"$work/makedb.out" 2>&1 || {
  fail "the database was not made: $(cat "$work/makedb.out")"
  finish
}
sql "INSERT INTO pers (fio, login, pass, level) VALUES ('Reader', 'reader', 'r', 'read'); COMMIT;" >/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1" >/dev/null 2>&1

carddav() { "$program/zentrax-carddav" --database "$db" "$@"; }
admin_pw=$(ZENTRAX_PASSWORD=admin carddav passwords add --user admin --label "vdirsyncer" 2>"$work/pw.err" | tail -n 1)
reader_pw=$(ZENTRAX_PASSWORD=r carddav passwords add --user reader --label "phone" 2>>"$work/pw.err" | tail -n 1)
check "device passwords made for an administrator and a reader" test ${#admin_pw} -ge 26 -a ${#reader_pw} -ge 26
bad=$(ZENTRAX_PASSWORD=wrong carddav passwords add --user admin --label x 2>&1 >/dev/null)
check "no device password without the desktop password ($bad)" test -n "$bad"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
base=https://127.0.0.1:$port
"$program/zentrax-carddav" --database "$db" --listen "127.0.0.1:$port" --cert "$work/cert.pem" \
  --key "$work/key.pem" >"$work/server.log" 2>&1 &
server=$!
for _ in $(seq 100); do
  curl -s --cacert "$work/cert.pem" -o /dev/null -X OPTIONS "$base/" && break
  sleep 0.1
done
plain=$(carddav --listen "0.0.0.0:$port" --plain-http 2>&1)
check "plain HTTP refused on an address other machines reach" grep -q "127.0.0.1" <<<"$plain"

c() { curl -s --cacert "$work/cert.pem" "$@"; }
check "/.well-known/carddav sends to the service" \
  test "$(c -o /dev/null -w '%{http_code} %{redirect_url}' -X PROPFIND "$base/.well-known/carddav")" = "301 $base/dav/"
check "OPTIONS answers without credentials" grep -qi '^DAV: .*addressbook' < <(c -i -X OPTIONS "$base/")
check "no credentials: 401 with the realm" \
  grep -qi 'WWW-Authenticate: Basic realm="Zentrax"' < <(c -i -X PROPFIND -H 'Depth: 0' "$base/")
check "the desktop password does not let a phone in" \
  test "$(c -o /dev/null -w '%{http_code}' -u admin:admin -X PROPFIND -H 'Depth: 0' "$base/")" = 401
card='BEGIN:VCARD\r\nVERSION:3.0\r\nUID:reader-made\r\nFN:Reader Made\r\nN:Made;Reader;;;\r\nEND:VCARD\r\n'
check "a read-only user cannot store a card" test "$(printf "$card" | c -o /dev/null -w '%{http_code}' \
  -u "reader:$reader_pw" -X PUT -H 'Content-Type: text/vcard' --data-binary @- \
  "$base/dav/addressbooks/reader/cards/reader-made.vcf")" = 403
check "a foreign sync token is refused" grep -q 'valid-sync-token' < <(c -u "admin:$admin_pw" -X REPORT -H 'Depth: 1' \
  -H 'Content-Type: application/xml' --data-binary '<?xml version="1.0"?><d:sync-collection xmlns:d="DAV:">
  <d:sync-token>http://zentrax.invalid/ns/sync/elsewhere</d:sync-token><d:sync-level>1</d:sync-level>
  <d:prop><d:getetag/></d:prop></d:sync-collection>' "$base/dav/addressbooks/admin/cards/")

# vdirsyncer: the address book found from the host's root, synced into a folder.
mkdir -p "$work/vd/status" "$work/vd/cards"
cat >"$work/vd/config" <<EOF
[general]
status_path = "$work/vd/status/"

[pair office]
a = "office_remote"
b = "office_local"
collections = ["from a"]
conflict_resolution = "a wins"

[storage office_remote]
type = "carddav"
url = "$base/"
username = "admin"
password = "$admin_pw"
verify = "$work/cert.pem"

[storage office_local]
type = "filesystem"
path = "$work/vd/cards/"
fileext = ".vcf"
EOF
export VDIRSYNCER_CONFIG=$work/vd/config
yes | vdirsyncer discover office >"$work/discover.out" 2>&1
vdirsyncer sync >"$work/sync1.out" 2>&1
files=$work/vd/cards/cards
check "every card arrives ($(ls "$files" 2>/dev/null | wc -l) of 300)" test "$(ls "$files" 2>/dev/null | wc -l)" -eq 300

# A file edited, one added, one deleted: all three reach the database.
edited=$(ls "$files" | head -n 1)
sed -i 's/^TEL;TYPE=WORK,VOICE:.*/TEL;TYPE=WORK,VOICE:+7 900 555-00-01\r/' "$files/$edited"
printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nUID:made-on-phone\r\nFN:Phone Made\r\nN:Made;Phone;;;\r\nTEL;TYPE=WORK,CELL:+7 900 555-00-02\r\nEND:VCARD\r\n' \
  >"$files/made-on-phone.vcf"
gone=$(ls "$files" | sed -n 7p)
rm "$files/$gone"
vdirsyncer sync >"$work/sync2.out" 2>&1
check "an edited phone reaches the database" test "$(sql "SELECT COUNT(*) FROM base WHERE wtel = '+7 900 555-00-01';")" = 1
check "a new card reaches the database" test "$(sql "SELECT COUNT(*) FROM base WHERE wmob = '+7 900 555-00-02';")" = 1
check "a deleted card leaves the database" test "$(sql "SELECT COUNT(*) FROM base;")" = 300
vdirsyncer sync >"$work/sync3.out" 2>&1 # the server's own form of the two written cards comes back

# A change at a desk (here plain SQL) reaches the file.
sql "UPDATE base SET wtel = '+7 495 555-00-09' WHERE pk_id = 3; COMMIT;" >/dev/null
vdirsyncer sync >"$work/sync4.out" 2>&1
check "a desk change reaches the phone's file" grep -q '+7 495 555-00-09' "$files/zentrax-3.vcf"
vdirsyncer sync >"$work/sync5.out" 2>&1
check "a sync with nothing changed changes nothing" test -z "$(grep -E 'Copying|Deleting' "$work/sync5.out")"
[ "$failed" -eq 0 ] || tail -n 30 "$work"/sync*.out "$work/server.log"

kill -TERM "$server"
ended=
for _ in $(seq 50); do
  kill -0 "$server" 2>/dev/null || { ended=1; break; }
  sleep 0.1
done
wait "$server"
status=$?
server=
check "SIGTERM ends the server at once (status $status)" test -n "$ended" -a "$status" -eq 0
finish
