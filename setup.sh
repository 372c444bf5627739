#!/usr/bin/env bash
# Sets up Zentrax on a Debian 12 machine and builds it, then
#   ./setup.sh run   starts the program (making a demo database first if there is none)
#   ./setup.sh test  runs every test
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-translations-l10n qt6-qpa-plugins
  firebird-dev libfbclient2 firebird3.0-server-core firebird3.0-utils
  firebird3.0-server
  libzip-dev libpugixml-dev libxlsxwriter-dev
  xvfb xauth xdotool imagemagick fonts-dejavu-core
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update
  # No questions: firebird3.0-server would ask for a SYSDBA password (sudo
  # drops the variable unless it is passed through env).
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
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
