#!/usr/bin/env bash
# Builds the Debian package and the program folder's archive with CPack,
# checks the package with lintian, installs it on this machine as an office
# would, starts the installed program from the desktop's menu entry as an
# ordinary user of the group firebird and logs in, then upgrades, removes and
# purges the package: the database and the photos stay.
#   run_package.sh BUILD_DIR
# Exit status: 0 every check passed, 1 some failed, 77 not root, a tool
# missing, or a Zentrax installed on this machine (left alone).
set -u
build=${1:?usage: run_package.sh BUILD_DIR}
build=$(cd "$build" 2>/dev/null && pwd) || { echo "no folder $1"; exit 1; }
prefix=/opt/zentrax
desktop_dir=/usr/share

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: installing a package needs root (run the test as root)"
  exit 77
fi
for tool in cpack dpkg-deb dpkg-shlibdeps lintian desktop-file-validate appstreamcli debconf-set-selections \
  Xvfb xdotool identify setpriv curl openssl python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (./setup.sh installs it)"; exit 77; }
done
if dpkg -s zentrax >/dev/null 2>&1 || [ -e "$prefix" ]; then
  echo "SKIP: Zentrax is installed on this machine ($prefix); the test does not touch it"
  exit 77
fi

. "$(dirname "$0")/../support/checks.sh"
. "$(dirname "$0")/../support/windows.sh"

work=$(mktemp -d)
chmod 755 "$work" # the program's user reaches its own folders in here
xvfb=
pid=
# On the way out: the program and the X server this test started are ended,
# the package purged and the program folder it made removed (there was none
# before).
cleanup() {
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
  fi
  if dpkg -s zentrax >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive dpkg -P zentrax >/dev/null 2>&1
  fi
  rm -rf "$prefix" "$work"
}
trap cleanup EXIT

log() { sed 's/^/  | /' "$1"; }
mode_group() { stat -c '%a %G' "$1" 2>/dev/null; }
sum() { sha256sum "$1" 2>/dev/null | cut -d' ' -f1; }

# 1. The packages, from the build folder as a developer makes them.
if ! (cd "$work" && cpack -G "DEB;TGZ" --config "$build/CPackConfig.cmake" -B "$work/out") >"$work/cpack.log" 2>&1; then
  fail "cpack made the packages"
  log "$work/cpack.log"
  finish
fi
deb=$(ls "$work"/out/zentrax_*.deb 2>/dev/null | head -n 1)
tgz=$(ls "$work"/out/zentrax-*-program.tar.gz 2>/dev/null | head -n 1)
check "cpack made a Debian package" test -f "$deb"
check "cpack made the program folder's archive" test -f "$tgz"
if [ ! -f "$deb" ]; then
  log "$work/cpack.log"
  finish
fi

# The libraries the programs link, as dpkg-shlibdeps found them, and what the
# programs load by name.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for p in libqt6widgets6 libqt6svg6 libfbclient2 firebird3.0-server-core libzip4 libpugixml1v5 qt6-qpa-plugins; do
  check "the package depends on $p" grep -qE "(^|, )$p( |,|$)" <<<"$depends"
done

# The share's archive: the program folder with files/ and temp/ open to the
# group (temp/ sticky), the engine's files linked to the system's.
tar -tvzf "$tgz" >"$work/tgz.list" 2>&1
top=$(basename "$tgz" .tar.gz)
in_tgz() { grep -qE "^$1 .* $top/$2/?( -> .*)?$" "$work/tgz.list"; }
check "the archive holds the program" in_tgz '-rwxr-xr-x' zentrax
check "the archive holds the printout's template" in_tgz '-rw-r--r--' Forms/form.xlsx
check "the archive links the engine" in_tgz 'lrwxrwxrwx' firebird/plugins/libEngine12.so
check "the archive's files/ is open to the group, set-group-ID, sticky" in_tgz 'drwxrws--T' files
check "the archive's temp/ is open to the group, set-group-ID, sticky" in_tgz 'drwxrws--T' temp
check "the Debian package holds no files/ or temp/" \
  bash -c "! dpkg-deb -c '$deb' | grep -qE ' \\./opt/zentrax/(files|temp)/'"

# lintian: no errors; its warnings are shown.
lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1
log "$work/lintian.log"
check "lintian found no error" bash -c "! grep -q '^E:' '$work/lintian.log'"

# 2. A first install with the questions answered by their defaults: a
#    database on this machine.
if ! DEBIAN_FRONTEND=noninteractive dpkg -i "$deb" >"$work/install.log" 2>&1; then
  fail "the package installed"
  log "$work/install.log"
  finish
fi
pass "the package installed"
log "$work/install.log"
check "the database was made beside the program, for the group firebird: $(mode_group "$prefix/dbase.fdb")" \
  test "$(mode_group "$prefix/dbase.fdb")" = "660 firebird"
check "files/ is the group's, set-group-ID, sticky: $(mode_group "$prefix/files")" \
  test "$(mode_group "$prefix/files")" = "3770 firebird"
check "temp/ is the group's, set-group-ID, sticky: $(mode_group "$prefix/temp")" \
  test "$(mode_group "$prefix/temp")" = "3770 firebird"
entry=$desktop_dir/applications/zentrax.desktop
metainfo=$(ls "$desktop_dir"/metainfo/*.metainfo.xml 2>/dev/null | xargs -r grep -l '>zentrax.desktop<' | head -n 1)
check "desktop-file-validate accepts the menu entry: $(desktop-file-validate "$entry" 2>&1)" \
  desktop-file-validate "$entry"
appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1
status=$?
log "$work/appstream.log"
check "appstreamcli accepts the AppStream file" test "$status" -eq 0
for size in 16 32 48 64 128 256; do
  png=$desktop_dir/icons/hicolor/${size}x${size}/apps/zentrax.png
  check "the ${size} px icon is a ${size}x${size} picture" \
    test "$(identify -format '%m %wx%h' "$png" 2>/dev/null)" = "PNG ${size}x${size}"
done
check "the scalable icon is installed" test -s "$desktop_dir/icons/hicolor/scalable/apps/zentrax.svg"

# 3. The menu entry's program, started by an ordinary user of the group
#    firebird under a virtual X server: the login window, the log-in as the
#    administrator of the new database, the exit button.
exec_line=$(sed -n 's/^Exec=//p' "$entry")
check "the menu entry starts $prefix/zentrax" test "$exec_line" = "$prefix/zentrax"
Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 1 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
export DISPLAY=":$(head -n 1 "$work/display")"
user_home=$work/home
mkdir -p "$user_home"
chown nobody "$user_home"
# No accessibility bridge, no session bus (as in the end-to-end test).
as_user=(setpriv --reuid=nobody --regid=nogroup --groups="$(getent group firebird | cut -d: -f3)"
  env -i PATH=/usr/bin:/bin HOME="$user_home" APPDATA="$user_home" DISPLAY="$DISPLAY" LC_ALL=C.UTF-8
  QT_QPA_PLATFORM=xcb QT_ACCESSIBILITY=0 DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus")

"${as_user[@]}" "$exec_line" >"$work/program.log" 2>&1 &
pid=$!
if main=$(wait_window "^Zentrax 1.0.2$" 20) && login=$(wait_window "^Укажите регистрационные данные$" 20); then
  pass "the installed program showed its login window"
  xdotool windowfocus --sync "$login" 2>/dev/null
  sleep 0.2
  xdotool type --delay 20 "admin"
  xdotool key Return
  xdotool type --delay 20 "admin"
  xdotool key Return Return
  check "the administrator logged in to the database made at install" wait_gone "$login" 10
  [ -n "${E2E_SHOTS:-}" ] && sleep 1 && import -window "$main" "$E2E_SHOTS/installed-main.png" 2>/dev/null
  eval "$(xdotool getwindowgeometry --shell "$main")"
  xdotool mousemove --window "$main" $((WIDTH - 25)) 50 click 1
  if wait_exit "$pid" 10; then
    pass "the exit button ended the program"
  else
    fail "the exit button ended the program"
    kill -9 "$pid" 2>/dev/null
  fi
  pid=
else
  fail "the installed program showed its login window"
  log "$work/program.log"
fi

# 3b. The CardDAV server's unit: installed, not enabled, its user in the
#     database's group; its command started as that user, as systemd starts
#     it, with settings of its own, answers on the port it was given and
#     ends on SIGTERM.
unit=/lib/systemd/system/zentrax-carddav.service
check "the CardDAV server's unit is installed" test -f "$unit"
check "the package enables nothing" test ! -e /etc/systemd/system/multi-user.target.wants/zentrax-carddav.service
check "the server's user is in the group firebird: $(id -nG zentrax-carddav 2>&1)" \
  grep -qw firebird <<<"$(id -nG zentrax-carddav 2>&1)"
check "an example of the settings is at /etc/zentrax/carddav.conf" grep -q '^listen=' /etc/zentrax/carddav.conf
mkdir -p "$work/dav"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/dav/key.pem" -out "$work/dav/cert.pem" -days 2 \
  -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1" >/dev/null 2>&1
dav_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listen=127.0.0.1:%s\ncert=%s\nkey=%s\n' "$dav_port" "$work/dav/cert.pem" "$work/dav/key.pem" \
  >"$work/dav/carddav.conf"
chown -R zentrax-carddav "$work/dav"
dav_exec=$(sed -n 's/^ExecStart=//p' "$unit" | sed "s|/etc/zentrax/carddav.conf|$work/dav/carddav.conf|")
setpriv --reuid=zentrax-carddav --regid=firebird --init-groups $dav_exec >"$work/dav.log" 2>&1 &
dav_pid=$!
answered=
for _ in $(seq 100); do
  if [ "$(curl -s --cacert "$work/dav/cert.pem" -o /dev/null -w '%{http_code}' -X OPTIONS \
    "https://127.0.0.1:$dav_port/")" = 200 ]; then
    answered=1
    break
  fi
  sleep 0.1
done
check "the installed CardDAV server answers on its port" test -n "$answered"
kill -TERM "$dav_pid" 2>/dev/null
if wait_exit "$dav_pid" 10; then
  pass "SIGTERM ended the CardDAV server"
else
  fail "SIGTERM ended the CardDAV server"
  kill -9 "$dav_pid" 2>/dev/null
fi
[ -n "$answered" ] || log "$work/dav.log"

# 4. An upgrade to a newer version (the same package with a higher version
#    number) keeps the database, a photo and the folders' rights.
install -d -o nobody -g firebird -m 2770 "$prefix/files/1"
chmod -t "$prefix/files" # as an older version left it
cp "$prefix/Forms/foto.png" "$prefix/files/1/photo.png"
db_sum=$(sum "$prefix/dbase.fdb")
[ -n "$db_sum" ] || db_sum="no database"
version=$(dpkg-deb -f "$deb" Version)
newer=$work/newer.deb
dpkg-deb -R "$deb" "$work/newer" &&
  sed -i "s/^Version: .*/Version: $version+1/" "$work/newer/DEBIAN/control" &&
  dpkg-deb -b "$work/newer" "$newer" >/dev/null
if DEBIAN_FRONTEND=noninteractive dpkg -i "$newer" >"$work/upgrade.log" 2>&1 &&
  [ "$(dpkg-query -W -f='${Version}' zentrax)" = "$version+1" ]; then
  pass "the package upgraded from $version to $version+1"
else
  fail "the package upgraded from $version to $version+1"
  log "$work/upgrade.log"
fi
check "the upgrade kept the database" test "$(sum "$prefix/dbase.fdb")" = "$db_sum"
check "the upgrade kept the photo" test -f "$prefix/files/1/photo.png"
check "the upgrade made files/ sticky, its group kept" test "$(mode_group "$prefix/files")" = "3770 firebird"
check "the upgrade wrote no path.txt" test ! -e "$prefix/path.txt"

# 5. A desk of an office network: the database on the server, in path.txt.
#    The administrator's tool refuses while a dbase.fdb beside the program
#    would be opened first; the question at install writes the file.
"$prefix/zentrax-makedb" --path-file dbserver:/srv/dbase.fdb >"$work/pathfile.log" 2>&1
status=$?
check "zentrax-makedb --path-file refused beside a database (status $status)" \
  test "$status" -eq 1 -a ! -e "$prefix/path.txt"
echo "zentrax zentrax/database string dbserver:/var/lib/firebird/3.0/data/dbase.fdb" | debconf-set-selections
DEBIAN_FRONTEND=noninteractive dpkg-reconfigure zentrax >"$work/reconfigure.log" 2>&1
log "$work/reconfigure.log"
check "the answer at install was written into path.txt" \
  test "$(cat "$prefix/path.txt" 2>/dev/null)" = "dbserver:/var/lib/firebird/3.0/data/dbase.fdb"
check "the administrator was told that dbase.fdb is opened first" grep -q "dbase.fdb" "$work/reconfigure.log"

# 6. Removal: the program goes, what is stored stays.
if DEBIAN_FRONTEND=noninteractive dpkg -r zentrax >"$work/remove.log" 2>&1; then
  pass "the package was removed"
else
  fail "the package was removed"
  log "$work/remove.log"
fi
check "the program is gone" test ! -e "$prefix/zentrax" -a ! -e "$entry"
check "the removal kept the database" test "$(sum "$prefix/dbase.fdb")" = "$db_sum"
check "the removal kept the photo" test -f "$prefix/files/1/photo.png"
check "the removal kept path.txt" test -f "$prefix/path.txt"

# 7. Purge: what the package made goes (scratch folders, the path.txt it
#    wrote), the database and the photos stay.
if DEBIAN_FRONTEND=noninteractive dpkg -P zentrax >"$work/purge.log" 2>&1; then
  pass "the package was purged"
else
  fail "the package was purged"
  log "$work/purge.log"
fi
check "the purge kept the database" test "$(sum "$prefix/dbase.fdb")" = "$db_sum"
check "the purge kept the photo" test -f "$prefix/files/1/photo.png"
check "the purge removed the scratch folder and the path.txt it wrote" test ! -e "$prefix/temp" -a ! -e "$prefix/path.txt"

finish
