#!/usr/bin/env bash
# Sets up Zentrax on a Debian 12 machine and builds it, then
#   ./setup.sh run   starts the program (making a demo database first if there is none)
#   ./setup.sh test  runs every test
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-svg-dev qt6-translations-l10n qt6-qpa-plugins
  firebird-dev libfbclient2 firebird3.0-server-core firebird3.0-utils
  firebird3.0-server
  libzip-dev libpugixml-dev libxlsxwriter-dev
  # HTTP and TLS for the CardDAV server; a real client and curl for its
  # test, openssl for the test's certificate.
  libmicrohttpd-dev vdirsyncer curl openssl
  # Evolution's CardDAV backend, driven from Python on a private session bus,
  # for the test under a second real client.
  evolution-data-server gir1.2-ebook-1.2 gir1.2-ebookcontacts-1.2 gir1.2-edataserver-1.2 python3-gi dbus
  xvfb xauth xdotool imagemagick fonts-dejavu-core
  # The Debian package: made by cpack with dpkg-shlibdeps, checked with
  # lintian, desktop-file-validate and appstreamcli.
  dpkg-dev lintian desktop-file-utils appstream
  # A vCard reader of another make, for the test that it reads the program's export.
  python3-vobject
  # The test that every source file follows .clang-format.
  clang-format
)
# Wanted but not needed: LibreOffice lets the printout test open the produced
# workbook (it is skipped without it), and Carlito gives LibreOffice the
# column widths Excel has. Each may fail to install without stopping set-up.
optional=(libreoffice-calc-nogui fonts-crosextra-carlito)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
missing_optional=()
for p in "${optional[@]}"; do
  installed "$p" || missing_optional+=("$p")
done
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  $sudo apt-get update
  # No questions: firebird3.0-server would ask for a SYSDBA password (sudo
  # drops the variable unless it is passed through env).
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
elif [ ${#missing_optional[@]} -gt 0 ]; then
  $sudo apt-get update || true
fi
for p in "${missing_optional[@]}"; do
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$p" ||
    echo "setup.sh: $p could not be installed; going on without it" >&2
done

# A test run under CI treats a compiler warning as an error.
werror=OFF
if [ "${1:-run}" = test ] && [ -n "${CI:-}" ]; then werror=ON; fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTRAX_WERROR="$werror"
cmake --build build -j"$(nproc)"

program=build/program
case "${1:-run}" in
  run)
    if [ ! -f "$program/dbase.fdb" ] && [ ! -f "$program/path.txt" ]; then
      "$program/zentrax-makedb" --password admin --demo 40 "$program/dbase.fdb"
    fi
    echo "Log in as \"admin\" with the password \"admin\"."
    exec "$program/zentrax"
    ;;
  test)
    cd build
    ctest --output-on-failure -j2
    ;;
  *)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
