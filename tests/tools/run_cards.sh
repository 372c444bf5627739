#!/usr/bin/env bash
# zentrax-cards as a script meets it: ended by a signal in the middle of an
# import, and what it says when a file or the database fails it.
#   run_cards.sh PROGRAM_DIR
# Exit status: 0 every check passed, 1 some failed, 77 isql-fb missing.
set -u
program_dir=${1:?usage: run_cards.sh PROGRAM_DIR}
program_dir=$(cd "$program_dir" 2>/dev/null && pwd) || { echo "no folder $1"; exit 1; }
command -v isql-fb >/dev/null || { echo "SKIP: isql-fb is not installed"; exit 77; }

. "$(dirname "$0")/../support/checks.sh"

work=$(mktemp -d)
import_pid=
mounted=
cleanup() {
  [ -n "$import_pid" ] && kill -KILL "$import_pid" 2>/dev/null
  [ -n "$mounted" ] && umount -l "$mounted" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

export ZENTRAX_PASSWORD=admin
cards() { "$program_dir/zentrax-cards" "$@"; }
not() { ! "$@"; }
count() { # database → its cards, as a committed reader sees them
  printf 'SET LIST ON;\nSELECT COUNT(*) AS n FROM base;\n' |
    FIREBIRD=$program_dir/firebird isql-fb -q -user SYSDBA -password tarvokilm "$1" 2>/dev/null |
    awk '$1 == "N" { print $2 }'
}

# A file of a few thousand cards: a demo database's, exported.
total=5000
"$program_dir/zentrax-makedb" --demo $total "$work/source.fdb" >"$work/makedb.log" 2>&1 &&
  cards export --database "$work/source.fdb" --user admin "$work/cards.vcf" >"$work/export.log" 2>&1
check "a file of $total cards was made" grep -q "Выгружено карточек: 5.000" "$work/export.log"

# 1. SIGTERM once the first batch is committed: the held batch is committed
#    too, the tool tells how many cards it stored and fails.
"$program_dir/zentrax-makedb" "$work/target.fdb" >>"$work/makedb.log" 2>&1
# The tool itself in the background (not through a function: a subshell would
# take the signal).
"$program_dir/zentrax-cards" import --add-duplicates --database "$work/target.fdb" --user admin "$work/cards.vcf" \
  >"$work/import.out" 2>"$work/import.err" &
import_pid=$!
seen=0
for _ in $(seq 1 600); do
  seen=$(count "$work/target.fdb")
  [ "${seen:-0}" -gt 0 ] && break
  kill -0 "$import_pid" 2>/dev/null || break
  sleep 0.1
done
kill -TERM "$import_pid" 2>/dev/null
wait "$import_pid"
status=$?
import_pid=
said=$(sed -n 's/.*сохранено карточек: \([0-9]*\),.*/\1/p' "$work/import.err")
stored=$(count "$work/target.fdb")
check "the import was stopped before its end (seen $seen of $total)" test "${seen:-0}" -gt 0 -a "${seen:-0}" -lt $total
check "the stopped import failed (status $status)" test "$status" -ne 0
check "the tool told that it was stopped and how many cards it stored: $(cat "$work/import.err")" \
  test -n "$said"
check "the database holds the cards told ($said), each whole ($stored)" test "${said:-x}" = "${stored:-y}"
check "the held batch was committed ($stored stored, $seen seen at the signal)" \
  test "${stored:-0}" -ge "${seen:-0}" -a "${stored:-0}" -lt $total
# 2. What the tool says when it fails: a sentence of its own in Russian (no
#    run of Latin words once the file's name is taken out), naming the file,
#    and a status that is not 0. Each row: what, the name the message must
#    hold, the command (stdin is no terminal).
told() { # what, named, command...
  local what=$1 named=$2 status text
  shift 2
  "$@" >"$work/told.out" 2>"$work/told.err" </dev/null
  status=$?
  text=$(cat "$work/told.out" "$work/told.err")
  check "$what: failed (status $status)" test "$status" -ne 0
  check "$what: names $named: $text" grep -qF -- "$named" <<<"$text"
  check "$what: told in Russian: $text" not_latin "${text//"$named"/}"
}
not_latin() { ! grep -qE '[A-Za-z]{2,}[ ,.:]+[A-Za-z]{2,}' <<<"$1"; }

mkdir "$work/folder"
told "export into a folder" "$work/folder" \
  cards export --database "$work/source.fdb" --user admin "$work/folder"
mkdir "$work/small"
if mount -t tmpfs -o size=256k tmpfs "$work/small" 2>/dev/null; then
  mounted=$work/small
  told "export to a full disk" "$work/small/cards.vcf" \
    cards export --database "$work/source.fdb" --user admin "$work/small/cards.vcf"
  check "the full disk was told as such" grep -q "не осталось места" "$work/told.err"
  umount -l "$work/small" && mounted=
else
  echo "skip: a full disk needs root to mount a small file system"
fi
told "import without a password and with no terminal to ask it" ZENTRAX_PASSWORD \
  env -u ZENTRAX_PASSWORD "$program_dir/zentrax-cards" import --database "$work/target.fdb" --user admin \
  "$work/cards.vcf"
check "no password was not told as a wrong one" not grep -q "неверный пароль" "$work/told.err"
told "import of a folder" "$work/folder" \
  cards import --database "$work/target.fdb" --user admin "$work/folder"

finish
