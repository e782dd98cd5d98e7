#!/usr/bin/env bash
# Installs every Debian package the build, the program and the tests need, registers the
# MariaDB ODBC driver under the name the program's connection string uses and switches the
# driver manager's connection pooling on. Safe to run again; needs sudo only for what is missing.
set -euo pipefail
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

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
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The driver for the machine, under the name the program's connection string uses, with idle
# pooled connections kept 60 seconds.
driver_name="mySQL ODBC 3.51 Driver"
driver=$(odbcinst -q -d -n "$driver_name" 2>/dev/null || true)
if ! grep -q '^Driver=' <<<"$driver" || ! grep -q '^CPTimeout=' <<<"$driver"; then
  lib=$(dpkg -L odbc-mariadb | grep -m1 '/libmaodbc\.so$')
  tmp=$(mktemp)
  printf '[%s]\nDescription=MariaDB Connector/ODBC\nDriver=%s\nCPTimeout=60\n' "$driver_name" "$lib" > "$tmp"
  $SUDO odbcinst -i -d -f "$tmp" >/dev/null
  rm -f "$tmp"
fi

# The driver manager pools connections when [ODBC] says Pooling=Yes. Added when the section has
# no Pooling line; a Pooling=No written there (to switch pooling off) is kept.
ini=$(odbcinst -j | sed -n 's/^DRIVERS\.*: *//p')
if ! awk '/^[ \t]*\[/ { s = ($0 ~ /^[ \t]*\[ODBC\][ \t\r]*$/) } s && /^[ \t]*Pooling[ \t]*=/ { found = 1 }
          END { exit !found }' "$ini" 2>/dev/null; then
  tmp=$(mktemp)
  awk 'BEGIN { done = 0 }
       { print }
       !done && /^[ \t]*\[ODBC\][ \t\r]*$/ { print "Pooling=Yes"; done = 1 }
       END { if (!done) printf "\n[ODBC]\nPooling=Yes\n" }' "$ini" 2>/dev/null > "$tmp" || true
  $SUDO install -m 0644 "$tmp" "$ini"
  rm -f "$tmp"
fi
