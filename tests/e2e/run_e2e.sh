#!/usr/bin/env bash
# Starts the built program on prepared program folders under a virtual X
# server and drives it as a user would: keys typed into its windows.
#   run_e2e.sh PROGRAM_DIR
set -u
program_dir=$1
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
# A display number nobody uses.
n=$(( 90 + RANDOM % 300 ))
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
display=":$n"
Xvfb "$display" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() { kill "$xvfb" 2>/dev/null; pkill -9 -f "$work/" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
export DISPLAY=$display
export APPDATA=$work/appdata
mkdir -p "$APPDATA"
sleep 1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

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

wait_window() { # name, seconds
  local i
  for i in $(seq 1 $(( $2 * 10 ))); do
    xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 && return 0
    sleep 0.1
  done
  return 1
}

wait_exit() { # pid, seconds
  local i
  for i in $(seq 1 $(( $2 * 10 ))); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

# 1. No database and no path.txt: two notices, then the program ends by itself.
dir=$(make_folder nodb)
"$dir/zentrax" >/dev/null 2>&1 &
pid=$!
for n in 1 2; do
  if wid=$(wait_window "^Zentrax$" 10); then
    xdotool windowactivate --sync "$wid" 2>/dev/null; xdotool key --window "$wid" Return
    sleep 0.3
  else
    fail "notice $n about the missing database did not appear"
  fi
done
wait_exit "$pid" 10 || { fail "the program did not end without a database"; kill "$pid"; }
[ -f "$APPDATA/zentrax.ini" ] || fail "the settings file was not created at start"

# 2. A database beside the program: log in with the keyboard, find a card, exit.
dir=$(make_folder withdb)
"$program_dir/zentrax-makedb" --password 'pa ss' --demo 30 "$dir/dbase.fdb" >/dev/null || fail "database maker"
rm -f "$APPDATA/zentrax.ini"
"$dir/zentrax" >/dev/null 2>&1 &
pid=$!
if wid=$(wait_window "^Укажите регистрационные данные$" 15); then
  sleep 1 # let the window take the keyboard focus
  xdotool type --delay 20 "admin"; xdotool key Return
  xdotool type --delay 20 "pa ss"; xdotool key Return Return
else
  fail "the login window did not appear"
fi
main=$(wait_window "^Zentrax 1.0.2$" 10) || fail "the main window did not appear"
# The login window goes away once the login is accepted.
for i in $(seq 1 100); do
  xdotool search --onlyvisible --name "^Укажите регистрационные данные$" >/dev/null 2>&1 || break
  sleep 0.1
done
xdotool search --onlyvisible --name "^Укажите регистрационные данные$" >/dev/null 2>&1 && fail "the login was not accepted"
sleep 1
[ -d "$dir/files" ] || fail "the photo folder was not created"
# Leave through the exit button at the right end of the tool bar.
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove --window "$main" $(( WIDTH - 25 )) 50 click 1
wait_exit "$pid" 10 || { fail "the exit button did not end the program"; kill "$pid"; }
grep -q '^user=admin$' "$APPDATA/zentrax.ini" || fail "the login was not remembered: $(cat "$APPDATA/zentrax.ini")"

# 3. A termination request (as at logout) ends the program, even with the
#    database open and a modal window showing.
"$dir/zentrax" >/dev/null 2>&1 &
pid=$!
wait_window "^Укажите регистрационные данные$" 15 >/dev/null || fail "the login window did not appear again"
kill -TERM "$pid"
wait_exit "$pid" 15 || { fail "SIGTERM did not end the program"; kill -9 "$pid"; }

if [ "$failures" -eq 0 ]; then
  echo "3 passed, 0 failed"
  exit 0
fi
echo "0 passed, $failures failed"
exit 1
