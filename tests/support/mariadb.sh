# Starts one throwaway MariaDB server for the tests and benchmarks and exports its coordinates.
# Usage: source this file, then start_test_mariadb WORKDIR; stop_test_mariadb WORKDIR stops the
# server (by the PID in WORKDIR/server.pid) and removes WORKDIR. Works for root and for an
# ordinary user. The server's global sql_mode holds NO_BACKSLASH_ESCAPES (the data layer drops it
# per session); set_no_backslash_escapes on|off changes that for the sessions opened afterwards.

# A port nothing listens on, outside the system's ephemeral range
# (/proc/sys/net/ipv4/ip_local_port_range): below it, or above it when it starts too low, so that
# the many connections the tests leave in TIME-WAIT never hold it.
free_port() {
  local low=32768 high=60999 lo hi p
  read -r low high </proc/sys/net/ipv4/ip_local_port_range 2>/dev/null || true
  if [ "$low" -gt 11024 ]; then
    lo=10000 hi=$((low - 1))
  else
    lo=$((high + 1)) hi=65535
  fi
  [ "$hi" -gt "$lo" ] || { lo=10000 hi=11000; }
  for _ in $(seq 200); do
    p=$((lo + (RANDOM * 32768 + RANDOM) % (hi - lo + 1)))
    if ! (exec 3<>/dev/tcp/127.0.0.1/$p) 2>/dev/null; then
      echo "$p"
      return 0
    fi
  done
  return 1
}

# The log's tail, then one line saying why, as the last thing printed.
test_mariadb_failed() {
  local log=$1 what=$2 reason
  echo "---- last lines of $log ----" >&2
  tail -n 25 "$log" >&2 || true
  reason=$(grep -m1 'ERROR' "$log" 2>/dev/null | sed -E 's/^.*\[ERROR\] *//' || true)
  [ -n "$reason" ] || reason=$(grep -m1 -iE 'error|cannot|denied|not permitted|no such|refused|no answer' "$log" || true)
  echo "MariaDB $what: ${reason:-see the log above}" >&2
  return 1
}

start_test_mariadb() {
  local work=$1
  # mariadbd lives in /usr/sbin, which an ordinary user's PATH lacks.
  case ":$PATH:" in *:/usr/sbin:*) ;; *) PATH="$PATH:/usr/sbin:/sbin" ;; esac
  local data="$work/data" sock="$work/mariadb.sock" port pid
  mkdir -p "$data"
  # mariadbd refuses --user unless it runs as root, and as root it needs it.
  local as_root=()
  [ "$(id -u)" -eq 0 ] && as_root=(--user=root)

  if ! mariadb-install-db --no-defaults --datadir="$data" "${as_root[@]}" --auth-root-authentication-method=normal \
    --skip-test-db --skip-name-resolve >"$work/install.log" 2>&1; then
    test_mariadb_failed "$work/install.log" "data directory could not be made"
    return 1
  fi
  # A port that another program takes between the check and the bind is no reason to fail: the
  # server then starts again on another one.
  local ready="" attempt
  for attempt in 1 2 3 4 5; do
    port=$(free_port) || { echo "MariaDB did not start: no free port on 127.0.0.1" >&2; return 1; }
    mariadbd --no-defaults --datadir="$data" --socket="$sock" --pid-file="$work/mariadbd.pid" --port="$port" \
      --bind-address=127.0.0.1 "${as_root[@]}" --skip-name-resolve --skip-log-bin --lower_case_table_names=1 \
      --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci --max-connections=2000 \
      --innodb-flush-log-at-trx-commit=0 --innodb-buffer-pool-size=256M >"$work/mariadb.log" 2>&1 &
    pid=$!
    echo "$pid" >"$work/server.pid"
    for _ in $(seq 150); do
      # mariadb-admin ping succeeds even when access is denied: ask a real query.
      if mariadb --no-defaults --socket="$sock" -uroot -e "SELECT 1" >/dev/null 2>&1; then ready=1; break; fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.2
    done
    [ -n "$ready" ] && break
    kill -0 "$pid" 2>/dev/null && break
    grep -qiE "Bind on TCP/IP port|Address already in use" "$work/mariadb.log" || break
    echo "MariaDB could not bind port $port (attempt $attempt); trying another" >&2
  done

  # A password that needs quoting in a connection string, as some branches have.
  local user="tarvelo_test" password='Pw;1&2@3=4'
  if [ -z "$ready" ]; then
    kill -0 "$pid" 2>/dev/null && echo "(no answer within 30 s)" >>"$work/mariadb.log"
    test_mariadb_failed "$work/mariadb.log" "did not start"
    return 1
  fi
  mariadb --no-defaults --socket="$sock" -uroot <<SQL
CREATE USER '$user'@'%' IDENTIFIED BY '$password';
GRANT ALL PRIVILEGES ON *.* TO '$user'@'%' WITH GRANT OPTION;
FLUSH PRIVILEGES;
SQL
  export TARVELO_TEST_DB_SOCKET="$sock"
  set_no_backslash_escapes on

  # The project's own driver list, so the tests do not depend on the machine's; without the
  # driver manager's pooling, as the program runs.
  mkdir -p "$work/odbc"
  local lib
  lib=$(dpkg -L odbc-mariadb | grep -m1 '/libmaodbc\.so$')
  printf '[ODBC]\nPooling=No\n\n[mySQL ODBC 3.51 Driver]\nDescription=MariaDB Connector/ODBC\nDriver=%s\n' \
    "$lib" >"$work/odbc/odbcinst.ini"
  : >"$work/odbc/odbc.ini"

  export ODBCSYSINI="$work/odbc"
  export TARVELO_TEST_DB_HOST=127.0.0.1
  export TARVELO_TEST_DB_PORT="$port"
  export TARVELO_TEST_DB_USER="$user"
  export TARVELO_TEST_DB_PASSWORD="$password"
  echo "Test MariaDB on 127.0.0.1:$port (pid $pid), global sql_mode with NO_BACKSLASH_ESCAPES"
}

# on: NO_BACKSLASH_ESCAPES joins the global sql_mode; off: it leaves it (the server default).
# Applies to sessions opened afterwards.
set_no_backslash_escapes() {
  local change="REPLACE(CONCAT(',', @@GLOBAL.sql_mode, ','), ',NO_BACKSLASH_ESCAPES,', ',')"
  [ "$1" = on ] && change="CONCAT($change, 'NO_BACKSLASH_ESCAPES')"
  mariadb --no-defaults --socket="$TARVELO_TEST_DB_SOCKET" -uroot \
    -e "SET GLOBAL sql_mode = TRIM(BOTH ',' FROM $change)"
}

stop_test_mariadb() {
  local work=$1 pid
  if [ -f "$work/server.pid" ]; then
    pid=$(cat "$work/server.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
