#!/usr/bin/env bash
# Installs every Debian package the build, the program and the tests need, registers the
# MariaDB ODBC driver under the name the program's connection string uses and keeps the driver
# manager's connection pooling off. Safe to run again; needs sudo only for what is missing.
set -euo pipefail
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
# Anything below that needs root says so in one line where sudo is missing.
as_root() {
  if [ -n "$SUDO" ] && ! command -v sudo >/dev/null 2>&1; then
    echo "install-deps.sh: root is needed to $1 and sudo is not installed; run as root: bash $0" >&2
    exit 1
  fi
}

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
  as_root "install ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The driver for the machine, under the name the program's connection string uses.
driver_name="mySQL ODBC 3.51 Driver"
driver=$(odbcinst -q -d -n "$driver_name" 2>/dev/null || true)
if ! grep -q '^Driver=' <<<"$driver"; then
  lib=$(dpkg -L odbc-mariadb | grep -m1 '/libmaodbc\.so$')
  as_root "register the ODBC driver"
  tmp=$(mktemp)
  printf '[%s]\nDescription=MariaDB Connector/ODBC\nDriver=%s\n' "$driver_name" "$lib" > "$tmp"
  $SUDO odbcinst -i -d -f "$tmp" >/dev/null
  rm -f "$tmp"
fi

# The program holds its connections itself. The driver manager's pooling (Pooling=Yes under
# [ODBC]) leaks on every connection handle in unixODBC 2.3.11, so a Pooling=Yes that an earlier
# version of this script wrote is turned into Pooling=No.
ini=$(odbcinst -j | sed -n 's/^DRIVERS\.*: *//p')
if awk '/^[ \t]*\[/ { s = ($0 ~ /^[ \t]*\[ODBC\][ \t\r]*$/) } s && /^[ \t]*Pooling[ \t]*=[ \t]*[Yy]/ { found = 1 }
        END { exit !found }' "$ini" 2>/dev/null; then
  as_root "switch the ODBC driver manager's pooling off in $ini"
  tmp=$(mktemp)
  awk '/^[ \t]*\[/ { s = ($0 ~ /^[ \t]*\[ODBC\][ \t\r]*$/) }
       s && /^[ \t]*Pooling[ \t]*=/ { print "Pooling=No"; next }
       { print }' "$ini" > "$tmp"
  $SUDO install -m 0644 "$tmp" "$ini"
  rm -f "$tmp"
fi
