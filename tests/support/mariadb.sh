# Starts one throwaway MariaDB server for the tests and exports its coordinates.
# Usage: source this file, then start_test_mariadb WORKDIR. The caller stops it by the PID in WORKDIR/server.pid.

free_port() {
  local p
  for _ in $(seq 200); do
    p=$((20000 + RANDOM % 20000))
    if ! (exec 3<>/dev/tcp/127.0.0.1/$p) 2>/dev/null; then
      echo "$p"
      return 0
    fi
  done
  return 1
}

start_test_mariadb() {
  local work=$1
  local data="$work/data" sock="$work/mariadb.sock" port
  port=$(free_port)
  mkdir -p "$data"
  # --user is refused unless run as root, and needed when run as root.
  local as_root=()
  [ "$(id -u)" -eq 0 ] && as_root=(--user=root)
  mariadb-install-db --no-defaults --datadir="$data" "${as_root[@]}" --auth-root-authentication-method=normal \
    --skip-test-db --skip-name-resolve >"$work/install.log" 2>&1
  mariadbd --no-defaults --datadir="$data" --socket="$sock" --pid-file="$work/mariadbd.pid" --port="$port" \
    --bind-address=127.0.0.1 "${as_root[@]}" --skip-name-resolve --skip-log-bin --lower_case_table_names=1 \
    --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci --max-connections=2000 \
    --innodb-flush-log-at-trx-commit=0 --innodb-buffer-pool-size=256M >"$work/mariadb.log" 2>&1 &
  echo $! >"$work/server.pid"

  # A password that needs quoting in a connection string, as some branches have.
  local user="tarvelo_test" password='Pw;1&2@3=4'
  local ready=""
  for _ in $(seq 150); do
    if mariadb --no-defaults --socket="$sock" -uroot -e "SELECT 1" >/dev/null 2>&1; then ready=1; break; fi
    sleep 0.2
  done
  if [ -z "$ready" ]; then
    echo "MariaDB did not start; its log:" >&2
    cat "$work/mariadb.log" >&2
    return 1
  fi
  mariadb --no-defaults --socket="$sock" -uroot <<SQL
CREATE USER '$user'@'%' IDENTIFIED BY '$password';
GRANT ALL PRIVILEGES ON *.* TO '$user'@'%' WITH GRANT OPTION;
FLUSH PRIVILEGES;
SQL
  # The project's own driver list, so the tests do not depend on the machine's.
  mkdir -p "$work/odbc"
  local lib
  lib=$(dpkg -L odbc-mariadb | grep -m1 '/libmaodbc\.so$')
  printf '[mySQL ODBC 3.51 Driver]\nDescription=MariaDB Connector/ODBC\nDriver=%s\n' "$lib" >"$work/odbc/odbcinst.ini"
  : >"$work/odbc/odbc.ini"

  export ODBCSYSINI="$work/odbc"
  export TARVELO_TEST_DB_HOST=127.0.0.1
  export TARVELO_TEST_DB_PORT="$port"
  export TARVELO_TEST_DB_USER="$user"
  export TARVELO_TEST_DB_PASSWORD="$password"
  export TARVELO_TEST_DB_SOCKET="$sock"
  echo "Test MariaDB on 127.0.0.1:$port (pid $(cat "$work/server.pid"))"
}
