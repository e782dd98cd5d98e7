#!/usr/bin/env bash
# Installs every Debian package the build, the program and the tests need, and registers the
# MariaDB ODBC driver under the name the program's connection string uses. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev libqt6widgets6 qt6-qpa-plugins fonts-dejavu-core
  unixodbc unixodbc-dev odbc-mariadb
  mariadb-server mariadb-client
  libcurl4-openssl-dev
  libgtest-dev libgmock-dev
  libcpp-httplib-dev
  iproute2 libcap2-bin
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

driver_name="mySQL ODBC 3.51 Driver"
if ! odbcinst -q -d -n "$driver_name" >/dev/null 2>&1; then
  lib=$(dpkg -L odbc-mariadb | grep -m1 '/libmaodbc\.so$')
  tmp=$(mktemp)
  printf '[%s]\nDescription=MariaDB Connector/ODBC\nDriver=%s\n' "$driver_name" "$lib" > "$tmp"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO odbcinst -i -d -f "$tmp" >/dev/null
  rm -f "$tmp"
fi
