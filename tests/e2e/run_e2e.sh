#!/usr/bin/env bash
# Starts the built program on prepared program folders under a virtual X
# server and drives it as a user would: keys typed into its windows.
#   run_e2e.sh PROGRAM_DIR
# Exit status: 0 every check passed, 1 some failed, 77 Xvfb or xdotool missing.
set -u
program_dir=${1:?usage: run_e2e.sh PROGRAM_DIR}
program_dir=$(cd "$program_dir" 2>/dev/null && pwd) || { echo "no folder $1"; exit 1; }
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

. "$(dirname "$0")/../support/checks.sh"
. "$(dirname "$0")/../support/windows.sh"

work=$(mktemp -d)
xvfb=
# On the way out: programs still running are killed (only this shell's own
# jobs, so no stranger's process), the X server is asked to stop so that it
# removes its lock file.
cleanup() {
  local p
  for p in $(jobs -p); do
    [ "$p" = "$xvfb" ] || kill -9 "$p" 2>/dev/null
  done
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

if [ ! -x "$program_dir/zentrax" ] || [ ! -x "$program_dir/zentrax-makedb" ]; then
  fail "no built program in $program_dir"
  finish
fi

# The server picks a free display itself and writes its number once it accepts
# clients. It must not reset when the last client leaves between two starts
# of the program: a start during the reset cannot connect.
Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 1 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
if [ ! -s "$work/display" ]; then
  fail "the virtual X server did not start: $(cat "$work/xvfb.log")"
  finish
fi
display=$(head -n 1 "$work/display")
export DISPLAY=":$display"
export APPDATA=$work/appdata
mkdir -p "$APPDATA"
ini=$APPDATA/zentrax.ini

# What the program sees: this display and no accessibility bridge. Through a
# session bus that offers the accessibility bus, Qt would hand every key to
# the accessibility registry first and hold it until the registry answers.
# So the program gets a bus address that leads nowhere (an unset one would
# let D-Bus start a bus of its own for the display). QT_ACCESSIBILITY=0 is
# set as well, though Qt 6.4 does not read it.
export QT_QPA_PLATFORM=xcb
export QT_ACCESSIBILITY=0
unset QT_LINUX_ACCESSIBILITY_ALWAYS_ON AT_SPI_BUS_ADDRESS
program_env=(env DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus")

# A program folder of its own: the executable copied (it finds its folder by
# its own path), the engine root and pictures linked.
make_folder() {
  local dir=$work/$1
  mkdir -p "$dir"
  cp "$program_dir/zentrax" "$dir/"
  cp -r "$program_dir/firebird" "$dir/firebird"
  ln -s "$program_dir/Forms" "$dir/Forms"
  echo "$dir"
}

# Starts the program in a folder; its output goes to a log shown on failure.
start() { # folder, log name
  "${program_env[@]}" "$1/zentrax" >"$work/$2.log" 2>&1 &
  pid=$!
}

# There is no window manager: give the window the keyboard focus directly.
focus() { # window id
  xdotool windowfocus --sync "$1" 2>/dev/null && sleep 0.2
}

file_is() { # path, expected content
  [ "$(cat "$1" 2>/dev/null; echo .)" = "$2." ]
}

mode_is() { # path, octal mode
  [ "$(stat -c %a "$1" 2>/dev/null)" = "$2" ]
}

show_log() { # log name
  sed 's/^/  | /' "$work/$1.log"
}

# Clicks the exit button at the right end of the main window's tool bar.
exit_by_button() { # main window id, log name
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove --window "$1" $(( WIDTH - 25 )) 50 click 1
  if wait_exit "$pid" 10; then
    pass "the exit button ended the program"
  else
    fail "the exit button ended the program"
    show_log "$2"
    kill -9 "$pid" 2>/dev/null
  fi
}

# Sends SIGTERM; the program must end by itself within 15 s, with status 0.
terminate() { # what, log name
  local status
  kill -TERM "$pid"
  if wait_exit "$pid" 15; then
    wait "$pid"
    status=$?
    check "$1 normally (status $status)" test "$status" -eq 0
  else
    fail "$1"
    show_log "$2"
    kill -9 "$pid" 2>/dev/null
  fi
}

# 1. No database and no path.txt: two notices, then the program ends by itself.
dir=$(make_folder nodb)
start "$dir" nodb
for n in 1 2; do
  if wid=$(wait_window "^Zentrax$" 10); then
    pass "notice $n about the missing database appeared"
    focus "$wid"
    xdotool key Return
    check "notice $n closed by Return" wait_gone "$wid" 5
  else
    fail "notice $n about the missing database appeared"
  fi
done
if wait_exit "$pid" 10; then
  pass "the program ended by itself without a database"
else
  fail "the program ended by itself without a database"
  show_log nodb
  kill -9 "$pid" 2>/dev/null
fi
check "the settings file was created at start with empty values" file_is "$ini" $'[main]\nuser=\npass=\n'
check "the settings file is readable by its owner only" mode_is "$ini" 600

# 2. A database beside the program: log in with the keyboard, exit through the
#    exit button; the login is remembered, the password is not.
dir=$(make_folder withdb)
make_db() { "$program_dir/zentrax-makedb" --password 'pa ss' --demo 30 "$1" >"$work/makedb.log" 2>&1; }
check "the database maker made a database" make_db "$dir/dbase.fdb"
rm -f "$ini"
start "$dir" withdb
if ! main=$(wait_window "^Zentrax 1.0.2$" 15); then
  fail "the main window appeared"
  show_log withdb
  kill -9 "$pid" 2>/dev/null
elif ! login=$(wait_window "^Укажите регистрационные данные$" 15); then
  pass "the main window appeared"
  fail "the login window appeared"
  show_log withdb
  kill -9 "$pid" 2>/dev/null
else
  pass "the main window appeared"
  pass "the login window appeared"
  focus "$login"
  # Return moves from the login to the password, then to the button, then logs in.
  xdotool type --delay 20 "admin"
  xdotool key Return
  xdotool type --delay 20 "pa ss"
  xdotool key Return Return
  check "the login was accepted" wait_gone "$login" 10
  check "the photo folder was created" test -d "$dir/files"
  exit_by_button "$main" withdb
fi
check "the login was remembered, the password not: $(tr '\n' ' ' 2>/dev/null <"$ini")" \
  file_is "$ini" $'[main]\nuser=admin\npass=\n'
check "the settings file is still readable by its owner only" mode_is "$ini" 600

# Next time the remembered login is offered: the password alone logs in.
start "$dir" again
if main=$(wait_window "^Zentrax 1.0.2$" 15) && login=$(wait_window "^Укажите регистрационные данные$" 15); then
  focus "$login"
  xdotool type --delay 20 "pa ss"
  xdotool key Return Return
  check "the remembered login was offered" wait_gone "$login" 10
  exit_by_button "$main" again
else
  fail "the login window appeared after a login was remembered"
  show_log again
  kill -9 "$pid" 2>/dev/null
fi

# 3. A photo with a space and Cyrillic letters in its name: chosen in the card
#    by typing its path into the picture dialog, stored, then deleted.
mkdir -p "$work/pics"
photo="$work/pics/Фото Петрова.png"
cp "$program_dir/Forms/foto.png" "$photo"
start "$dir" photo
if main=$(wait_window "^Zentrax 1.0.2$" 15) && login=$(wait_window "^Укажите регистрационные данные$" 15); then
  focus "$login"
  xdotool type --delay 20 "pa ss"
  xdotool key Return Return
  wait_gone "$login" 10
  sleep 1 # the list is filled once the login window has gone
  focus "$main"
  xdotool key F4
  if card=$(wait_window "^Редактирование$" 10); then
    pass "the card opened for editing"
    # The photo buttons lie under the picture: delete, view, fragment, load.
    xdotool mousemove --window "$card" 123 345 click 1
    if dialog=$(wait_window "^Открыть изображение$" 10); then
      pass "the picture dialog opened"
      focus "$dialog"
      xdotool type --delay 60 "$photo"
      sleep 1 # the dialog's completer follows the typing
      xdotool key Return
      check "the picture dialog closed" wait_gone "$dialog" 10
      sleep 1 # the card shows the chosen picture
      focus "$card"
      xdotool mousemove --window "$card" 24 20 click 1 # save
      stored=
      for _ in $(seq 1 100); do
        stored=$(find "$dir/files" -type f -name "Фото Петрова.png" 2>/dev/null | head -n 1)
        [ -n "$stored" ] && break
        sleep 0.1
      done
      check "the photo was copied into the card's folder" cmp -s "$photo" "${stored:-/nonexistent}"
      [ -n "$stored" ] || /usr/bin/import -window root "${E2E_SHOTS:-$work}/photo-save.png" 2>/dev/null
      xdotool mousemove --window "$card" 21 345 click 1 # delete the photo
      if question=$(wait_window "^Удаление$" 10); then
        focus "$question"
        xdotool key Return # Yes
        check "the question closed" wait_gone "$question" 10
        gone() { for _ in $(seq 1 50); do [ -e "$1" ] || return 0; sleep 0.1; done; return 1; }
        check "the photo file was deleted" gone "$stored"
      else
        fail "the photo deletion was asked about"
        /usr/bin/import -window root "${E2E_SHOTS:-$work}/photo-question.png" 2>/dev/null
      fi
    else
      fail "the picture dialog opened"
    fi
    eval "$(xdotool getwindowgeometry --shell "$card")"
    xdotool mousemove --window "$card" $(( WIDTH - 22 )) 20 click 1 # close the card
    check "the card closed" wait_gone "$card" 10
  else
    fail "the card opened for editing"
    show_log photo
  fi
  exit_by_button "$main" photo
else
  fail "the login window appeared for the photo"
  show_log photo
  kill -9 "$pid" 2>/dev/null
fi

# 4. A termination request (as at logout) ends the program, even with the
#    database open and a modal window showing.
start "$dir" term
if wait_window "^Укажите регистрационные данные$" 15 >/dev/null; then
  pass "the login window appeared again"
  terminate "SIGTERM ended the program" term
else
  fail "the login window appeared again"
  show_log term
  kill -9 "$pid" 2>/dev/null
fi

# 5. A termination request during an import: the import stops between two
#    cards, the batch it holds is committed rather than rolled back, and the
#    program ends normally. The card file is a demo database's, exported.
count() { # database → its cards, as a committed reader sees them
  printf 'SET LIST ON;\nSELECT COUNT(*) AS n FROM base;\n' |
    FIREBIRD=$program_dir/firebird isql-fb -q -user SYSDBA -password tarvokilm "$1" 2>/dev/null |
    awk '$1 == "N" { print $2 }'
}
# A card a line, from the id after `first` on: names, phones, the count of
# its accounts; sorted.
cards_of() { # database, first id
  printf "SELECT '@' || COALESCE(fam, '') || '|' || COALESCE(name1, '') || '|' || COALESCE(name2, '') || '|' ||
    COALESCE(wtel, '') || '|' || COALESCE(wmob, '') || '|' ||
    (SELECT COUNT(*) FROM accounts a WHERE a.bs_fk = b.pk_id) FROM base b WHERE pk_id > %d;\n" "$2" |
    FIREBIRD=$program_dir/firebird isql-fb -q -ch UTF8 -user SYSDBA -password tarvokilm "$1" 2>/dev/null |
    sed -n 's/^@//p' | sed 's/ *$//' | LC_ALL=C sort
}
if command -v isql-fb >/dev/null; then
  total=10000
  "$program_dir/zentrax-makedb" --demo $total "$work/source.fdb" >>"$work/makedb.log" 2>&1 &&
    ZENTRAX_PASSWORD=admin "$program_dir/zentrax-cards" export --database "$work/source.fdb" --user admin \
      "$work/cards.vcf" >"$work/export.log" 2>&1
  check "a file of $total cards was made" test -s "$work/cards.vcf"
  before=$(count "$dir/dbase.fdb")
  first=$(printf 'SET LIST ON;\nSELECT MAX(pk_id) AS n FROM base;\n' |
    FIREBIRD=$program_dir/firebird isql-fb -q -user SYSDBA -password tarvokilm "$dir/dbase.fdb" 2>/dev/null |
    awk '$1 == "N" { print $2 }')
  start "$dir" import
  if main=$(wait_window "^Zentrax 1.0.2$" 15) && login=$(wait_window "^Укажите регистрационные данные$" 15); then
    focus "$login"
    xdotool type --delay 20 "pa ss"
    xdotool key Return Return
    wait_gone "$login" 10
    sleep 1
    # "База данных", then its fifth item, "Импорт карточек...".
    xdotool mousemove --window "$main" 50 8 click 1
    sleep 0.5
    xdotool key Down Down Down Down Down Return
    if dialog=$(wait_window "^Импорт карточек$" 10); then
      focus "$dialog"
      xdotool type --delay 20 "$work/cards.vcf"
      xdotool key Return
      # The file is read and checked under a progress window; then comes the
      # question, a window of the same title. Return there keeps the similar
      # cards out and starts storing.
      wait_gone "$dialog" 10
      progress=$(wait_window "^Импорт карточек$" 10)
      question=
      for _ in $(seq 1 600); do
        question=$(xdotool search --onlyvisible --name "^Импорт карточек$" 2>/dev/null | grep -vx "${progress:-none}")
        [ -n "$question" ] && break
        sleep 0.1
      done
      if [ -n "$question" ]; then
        focus "$question"
        xdotool key Return
        seen=$before
        for _ in $(seq 1 600); do
          seen=$(count "$dir/dbase.fdb")
          [ "${seen:-0}" -gt "$before" ] && break
          kill -0 "$pid" 2>/dev/null || break
          sleep 0.1
        done
        terminate "SIGTERM during the import ended the program" import
        stored=$(count "$dir/dbase.fdb")
        check "the import was stopped before its end ($before before, $seen seen at the signal, $stored after)" \
          test "${seen:-0}" -gt "$before" -a "${stored:-0}" -lt $((before + total))
        # The report goes to the log, as the window is gone: its count is
        # what the database holds, the held batch among it.
        said=$(sed -n 's/^Сохранено: \(.*\)\.$/\1/p' "$work/import.log" | tr -cd 0-9)
        check "the report in the log tells the cards stored ($said): $(tr '\n' ' ' <"$work/import.log")" \
          test "$(( before + ${said:-0} ))" = "${stored:-x}" -a -n "$said"
        # Every card stored whole: each imported card, with its phones and
        # its count of social accounts, is one of the file's.
        cards_of "$dir/dbase.fdb" "$first" >"$work/stored.txt"
        cards_of "$work/source.fdb" 0 >"$work/source.txt"
        check "every stored card is whole, as in the file ($(comm -23 "$work/stored.txt" "$work/source.txt" | head -n 3))" \
          test -s "$work/stored.txt" -a -z "$(comm -23 "$work/stored.txt" "$work/source.txt")"
      else
        fail "the import's question appeared"
        show_log import
        kill -9 "$pid" 2>/dev/null
      fi
    else
      fail "the import's file dialog opened"
      kill -9 "$pid" 2>/dev/null
    fi
  else
    fail "the login window appeared for the import"
    show_log import
    kill -9 "$pid" 2>/dev/null
  fi
else
  echo "SKIP: the import's termination needs isql-fb"
fi

# 6. A desk: no database beside the program, path.txt written by the database
#    maker names the one in another folder; the program opens it.
desk=$(make_folder desk)
cp "$program_dir/zentrax-makedb" "$desk/"
check "zentrax-makedb --path-file wrote path.txt" "$desk/zentrax-makedb" --path-file "$dir/dbase.fdb"
check "path.txt names the database" file_is "$desk/path.txt" "$dir/dbase.fdb"$'\n'
start "$desk" desk
if main=$(wait_window "^Zentrax 1.0.2$" 15) && login=$(wait_window "^Укажите регистрационные данные$" 15); then
  focus "$login"
  xdotool type --delay 20 "pa ss"
  xdotool key Return Return
  check "the login was accepted by the database path.txt names" wait_gone "$login" 10
  exit_by_button "$main" desk
else
  fail "the login window appeared on the desk"
  show_log desk
  kill -9 "$pid" 2>/dev/null
fi

finish
