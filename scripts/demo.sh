#!/usr/bin/env bash
# The run command: two branch installations synchronising through a throwaway server on this machine.
#
#   bash scripts/demo.sh [--keep] [--with-device] [--help]
#
# Installs what is missing, builds the program, starts a MariaDB holding a server database and two
# branch databases, the reference web service, and `tarvelo` for branches 01 and 02 in hand-over runs
# (each with its own XDG_CONFIG_HOME and XDG_STATE_HOME, as two branch machines would have). Records
# written into branch 01 travel to branch 02 and their exchange closes; the script saves a screenshot of
# each window while the records are in its grids, prints what moved and where each branch's logs are,
# and ends everything. --keep leaves it all running and prints how to look at it.
# --with-device: branch 01 runs on its own (no hand-over: those runs skip the devices) with one
# simulated fingerprint device on 127.0.0.5, whose punches it pulls, saves and sends on to branch 02.
# The program: build/src/tarvelo [--config FILE] [--screenshot FILE] [--version] (see its --help).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${TARVELO_BUILD_DIR:-$root/build}"
keep=""
with_device=""
for arg in "$@"; do
  case "$arg" in
    --keep) keep=1 ;;
    --with-device) with_device=1 ;;
    -h|--help) sed -n '2,14p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo.sh: unknown option $arg (try --help)" >&2; exit 2 ;;
  esac
done
started=$(date +%s)
say() { printf '\n== %s\n' "$*"; }
# shellcheck source=scripts/own_processes.sh
source "$root/scripts/own_processes.sh"

say "Installing what is missing"
bash "$root/scripts/install-deps.sh"

say "Building tarvelo and the reference web service"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}" --target tarvelo tarvelo-refweb tarvelo-devsim >/dev/null
exe="$build/src/tarvelo"
refweb="$build/tests/tarvelo-refweb"
devsim="$build/tests/tarvelo-devsim"

# The reachability check sends one ICMP echo, which needs a raw socket unless the kernel admits this
# user's group to ICMP datagram sockets. getcap and setcap live in /usr/sbin, outside a user's PATH.
tool() { local t; for t in "/usr/sbin/$1" "/sbin/$1"; do [ -x "$t" ] && { echo "$t"; return; }; done; command -v "$1" || true; }
getcap_bin=$(tool getcap)
setcap_bin=$(tool setcap)
echo_ok=1
if [ "$(id -u)" -ne 0 ]; then
  read -r lo hi < /proc/sys/net/ipv4/ping_group_range
  if ! id -G | tr ' ' '\n' | awk -v lo="$lo" -v hi="$hi" '$1>=lo && $1<=hi {f=1} END {exit !f}' \
     && ! { [ -n "$getcap_bin" ] && "$getcap_bin" "$exe" 2>/dev/null | grep -q cap_net_raw; }; then
    granted=""
    # sudo only where it can work: installed, and allowed without a password or with a terminal to ask.
    if [ -n "$setcap_bin" ] && command -v sudo >/dev/null 2>&1 && { sudo -n true 2>/dev/null || [ -t 0 ]; }; then
      echo "Granting the raw-socket capability to $exe for its ICMP echo check (sudo $setcap_bin cap_net_raw+ep)"
      sudo "$setcap_bin" cap_net_raw+ep "$exe" && granted=1
    fi
    if [ -z "$granted" ]; then
      echo "No ICMP echo check for $(id -un) without the raw-socket capability; as root run: ${setcap_bin:-/usr/sbin/setcap} cap_net_raw+ep $exe (the demo goes on, but no exchange can start)"
      echo_ok=""
    fi
  fi
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvelo-demo.XXXXXX")
shots="$build/demo-screenshots"
logs="$build/demo-logs"
mkdir -p "$shots"
pids_file="$work/pids"
: > "$pids_file"

teardown() {
  # Programs first (SIGTERM runs their unload), then the web service, then the database server.
  local pid
  own_end "$pids_file"
  if [ -f "$work/server.pid" ]; then
    pid=$(cat "$work/server.pid")
    if own_runs "$pid" mariadbd; then
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 50); do own_runs "$pid" mariadbd || break; sleep 0.2; done
      if own_runs "$pid" mariadbd; then kill -9 "$pid" 2>/dev/null || true; fi
    fi
  fi
  # The logs outlive the throwaway folder.
  for b in 01 02; do
    rm -rf "$logs/branch-$b"
    if [ -d "$work/branch$b-state/Tarvelo" ]; then mkdir -p "$logs" && cp -r "$work/branch$b-state/Tarvelo" "$logs/branch-$b"; fi
  done
  rm -rf "$work"
}
if [ -z "$keep" ]; then trap teardown EXIT; fi

say "Starting a throwaway MariaDB"
# shellcheck source=tests/support/mariadb.sh
source "$root/tests/support/mariadb.sh"
start_test_mariadb "$work" >/dev/null
port=$TARVELO_TEST_DB_PORT
sock="$work/mariadb.sock"
sql() { mariadb --no-defaults --default-character-set=utf8mb4 --socket="$sock" -uroot "$@"; }
db_user=tarvelo_demo
db_pass=demo-pass-1
sql -e "CREATE USER '$db_user'@'%' IDENTIFIED BY '$db_pass'; GRANT ALL PRIVILEGES ON *.* TO '$db_user'@'%';"
for d in tarvelo_server tarvelo_b01 tarvelo_b02; do
  sql -e "CREATE DATABASE $d CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci"
  sql "$d" < "$root/tests/support/schema/schema.sql"
  # Both branches are registered everywhere, as the central office sets them up.
  for b in 01 02; do
    sql "$d" -e "INSERT INTO branch_tab (no_rec, No_Branch, SynAdd, SynDele, DatTim1, DatTim2, Na_Rec, Ne_Rec,
                 DesEna, kinSyn, set1, set2, set3)
                 VALUES ('$b', '01', '0', '0', '20240101000000', '20240101000000', 'فرع $b', 'Branch $b',
                 '0', '0', '0', '0', '0')"
  done
done
for b in 01 02; do
  sql "tarvelo_b$b" -e "INSERT INTO proj_tab (no_rec, No_Branch, SynAdd, SynDele, branch, SynFirst, No_Riv, KinYer)
                        VALUES ('1', '$b', '0', '0', '$b', '0', '01.02.18', '$(date +%Y)')"
done
echo "MariaDB on 127.0.0.1:$port: databases tarvelo_server, tarvelo_b01, tarvelo_b02"

punches=0
if [ -n "$with_device" ]; then
  say "Starting a simulated fingerprint device for branch 01"
  today=$(date +%Y-%m-%d)
  printf '%s\n' "7,$today 07:58:12" "12,$today 08:01:40" "7,$today 16:02:05" > "$work/punches.txt"
  punches=3
  "$devsim" --listen 127.0.0.5:0 --punches "$work/punches.txt" > "$work/devsim.out" 2> "$work/devsim.err" &
  own_record "$pids_file" $! "$devsim"
  for _ in $(seq 50); do grep -q '^listening' "$work/devsim.out" 2>/dev/null && break; sleep 0.1; done
  dev_port=$(sed -n 's/^listening on 127.0.0.5:\([0-9]*\).*/\1/p' "$work/devsim.out")
  [ -n "$dev_port" ] || { echo "the device did not start:"; cat "$work/devsim.err"; exit 1; }
  head -n1 "$work/devsim.out"
  # Registered for branch 01 everywhere, as the central office sets devices up.
  for d in tarvelo_server tarvelo_b01 tarvelo_b02; do
    sql "$d" -e "INSERT INTO findev_tab (no_rec, No_Branch, SynAdd, SynDele, DatTim1, DatTim2, Na_Rec, Ne_Rec,
                 No_branch_1, texIP, texPort, kin2, DesEna)
                 VALUES ('0100000000000001', '01', '0', '0', '20240101000000', '20240101000000', 'جهاز البصمة',
                 'Fingerprint device', '01', '127.0.0.5', '$dev_port', '1', '0')"
  done
  echo "findev_tab 0100000000000001 of branch 01: 127.0.0.5:$dev_port"
fi

say "Starting the reference web service"
"$refweb" --db-port "$port" > "$work/refweb.out" 2> "$work/refweb.err" &
own_record "$pids_file" $! "$refweb"
for _ in $(seq 100); do [ -s "$work/refweb.out" ] && break; sleep 0.1; done
url_web=$(head -n1 "$work/refweb.out")
[ -n "$url_web" ] || { echo "the web service did not start:"; cat "$work/refweb.err"; exit 1; }
url_downloads="${url_web%/test1/}/downloads/"
echo "Web service at $url_web"

# Each branch machine: its configuration folder with the start-up values, the local database
# settings, and the hand-over name a calling application writes before it starts the program.
umask 077
for b in 01 02; do
  cfg="$work/branch$b"
  mkdir -p "$cfg/Tarvelo" "$cfg/Veld"
  cat > "$cfg/Tarvelo/config.ini" <<EOF
DB_Server_Ser = 127.0.0.1
DB_User_Ser = $db_user
DB_Pas_Ser = $db_pass
DB_Name_Ser = tarvelo_server
My_Branch = $b
Riv_Server = 010218
Ip_Ser = 127.0.0.1
No_Dev = DEMO-$b
Url_Web = $url_web
Url_Downloads = $url_downloads
EOF
  cat > "$cfg/Veld/settings.ini" <<EOF
[Settings]
SaveInServer_Databes=127.0.0.1
SaveInPort=$port
SaveInName_Databes=tarvelo_b$b
SaveInUser_Databes=$db_user
SaveInPas_Databes=$db_pass
EOF
done
umask 022

say "Writing three records into branch 01, as the accounting application does"
stamp=$(date +%Y%m%d%H%M%S)
names=("الرياض:Riyadh" "جدة:Jeddah" "الدمام:Dammam")
i=0
for pair in "${names[@]}"; do
  i=$((i + 1))
  no="010000$i"
  sql tarvelo_b01 -e "INSERT INTO city_tab (no_rec, No_Branch, SynAdd, SynDele, DatTim1, Na_Rec, Ne_Rec)
                      VALUES ('$no', '01', '1', '0', '$stamp', '${pair%%:*}', '${pair##*:}');
                      INSERT INTO work_tab (no_rec, Ne_KinTab, Ne_Rec) VALUES ('$no', 'city_tab', 'Add');"
  echo "  city_tab $no ${pair##*:}"
done

declare -A prog_pid
platform=offscreen
[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && platform=""
start_branch() {
  local b=$1 cfg="$work/branch$1"
  if [ -n "$with_device" ] && [ "$b" = 01 ]; then
    # Started by a person, not handed over: only such runs pull the devices.
    printf '[Settings]\n' > "$cfg/Tarvelo/settings.ini"
  else
    # The calling application's side of the hand-over: its name, then the program.
    printf '[Settings]\nNameTab=DemoAccounting\n' > "$cfg/Tarvelo/settings.ini"
  fi
  chmod 600 "$cfg/Tarvelo/settings.ini"
  XDG_CONFIG_HOME="$cfg" XDG_STATE_HOME="$work/branch$b-state" QT_QPA_PLATFORM="${platform:-${QT_QPA_PLATFORM:-}}" \
    "$exe" --config "$cfg/Tarvelo/config.ini" --screenshot "$shots/branch-$b.png" \
    >> "$work/tarvelo-$b.log" 2>&1 &
  prog_pid[$b]=$!
  own_record "$pids_file" "${prog_pid[$b]}" "$exe"
}
stop_branch() {  # SIGTERM runs the unload steps
  local b=$1 pid=${prog_pid[$1]}
  own_runs "$pid" "$exe" || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 50); do own_runs "$pid" "$exe" || return 0; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null || true
}

# A screenshot of each window while what it did is in its grids: before any restart of the program.
declare -A shot
shoot() {
  local b=$1
  rm -f "$shots/branch-$b.png"
  kill -USR1 "${prog_pid[$b]}" 2>/dev/null || return 0
  for _ in $(seq 50); do [ -s "$shots/branch-$b.png" ] && break; sleep 0.1; done
  shot[$b]=1
}

count() { sql -N "$1" -e "$2"; }
closed() { count "$1" "SELECT COUNT(*) FROM city_tab WHERE SynAdd = '4'"; }
state() {
  printf '%s %s %s/%s/%s %s %s/%s/%s' \
    "$(count tarvelo_server "SELECT COUNT(*) FROM city_tab")" \
    "$(count tarvelo_b02 "SELECT COUNT(*) FROM city_tab")" \
    "$(closed tarvelo_server)" "$(closed tarvelo_b01)" "$(closed tarvelo_b02)" \
    "$(count tarvelo_server "SELECT COUNT(*) FROM atten_rec WHERE treco = 'city_tab'")" \
    "$(count tarvelo_b01 "SELECT COUNT(*) FROM rst_tab")" "$(count tarvelo_server "SELECT COUNT(*) FROM rst_tab")" \
    "$(count tarvelo_b02 "SELECT COUNT(*) FROM rst_tab")"
}

if [ -n "$with_device" ]; then
  say "Starting tarvelo for branch 01 (on its own) and branch 02 (hand-over run), ${platform:-on the display}"
  # The first pull is planned at the end of the first cycle for ten seconds later, counted in whole
  # minutes: started early in a minute, the second cycle already pulls.
  while [ "$((10#$(date +%S)))" -ge 30 ]; do sleep 1; done
else
  say "Starting tarvelo for branch 01 and branch 02 (hand-over runs, ${platform:-on the display})"
fi
start_branch 01
# Branch 02 starts once the records are on the server, so its first cycle already finds them.
for _ in $(seq 60); do
  [ -n "$echo_ok" ] || break
  [ "$(count tarvelo_server "SELECT COUNT(*) FROM city_tab")" = 3 ] && break
  sleep 0.5
done
start_branch 02

if [ -z "$echo_ok" ]; then
  say "Letting both programs run their start-up checks, which stop at the ICMP echo check"
  sleep 5
elif [ -n "$with_device" ]; then
  say "Waiting for the records and the device's punches to reach branch 02"
else
  say "Waiting for the records to reach branch 02 and their exchange to close"
fi
deadline=$(( $(date +%s) + ${with_device:+60} + ${echo_ok:+90} + 0 ))
last=""; still=0; done=""
while [ "$(date +%s)" -lt "$deadline" ]; do
  read -r on_server at_02 closed ledger punched <<< "$(state)"
  printf '  on the server %s/3, at branch 02 %s/3, closed on server/01/02 %s, server ledger rows %s' \
    "$on_server" "$at_02" "$closed" "$ledger"
  if [ -n "$with_device" ]; then printf ', punches in 01/server/02 %s of %s' "$punched" "$punches"; fi
  echo
  # Branch 01's grids hold the records it sent (and the punches it pulled), branch 02's those it received.
  if [ -z "${shot[01]:-}" ] && [ "$on_server" = 3 ] \
     && { [ -z "$with_device" ] || [ "${punched%%/*}" = "$punches" ]; }; then shoot 01; fi
  if [ -z "${shot[02]:-}" ] && [ "$at_02" = 3 ] \
     && { [ -z "$with_device" ] || [ "${punched##*/}" = "$punches" ]; }; then shoot 02; fi
  if [ "$at_02" = 3 ] && [ "$closed" = 3/3/3 ] && [ "$ledger" = 0 ] \
     && { [ -z "$with_device" ] || [ "$punched" = "$punches/$punches/$punches" ]; }; then done=1; break; fi
  now="$on_server $at_02 $closed $ledger $punched"
  if [ "$now" = "$last" ]; then still=$((still + 1)); else still=0; last=$now; fi
  # After an idle cycle a branch sleeps two minutes. Rather than wait, the calling application (or,
  # for a branch run on its own, its user) starts a new run, whose start-up is followed by a cycle
  # at once and takes every table afresh.
  if [ "$still" -ge 4 ]; then
    for b in 01 02; do
      if ! kill -0 "${prog_pid[$b]}" 2>/dev/null; then echo "  branch $b ended; its log:"; cat "$work/tarvelo-$b.log"; fi
      echo "  branch $b is sleeping between cycles: starting a new run"
      # A new run starts with empty grids: a window that carried records is shot before it goes.
      if [ -z "${shot[$b]:-}" ] && { { [ "$b" = 01 ] && [ "$on_server" != 0 ]; } || { [ "$b" = 02 ] && [ "$at_02" != 0 ]; }; }; then
        shoot "$b"
      fi
      stop_branch "$b"; start_branch "$b"
    done
    still=0
  fi
  sleep 2
done

say "What moved"
for d in tarvelo_b01 tarvelo_server tarvelo_b02; do
  echo "-- city_tab in $d (SynAdd 4: exchange closed)"
  sql "$d" -t -e "SELECT no_rec, No_Branch, Na_Rec, Ne_Rec, SynAdd, DatTim2 FROM city_tab ORDER BY no_rec"
done
if [ -n "$with_device" ]; then
  echo "-- the device's side (tarvelo-devsim): its operations"
  sed 's/^/   /' "$work/devsim.out"
  for d in tarvelo_b01 tarvelo_server tarvelo_b02; do
    echo "-- punches (rst_tab) and the pull header (sendev_tab) in $d"
    sql "$d" -t -e "SELECT no_rec, NoUser, DateLog, No_findev, NRS2, SynAdd FROM rst_tab ORDER BY no_rec;
                    SELECT no_rec, No_findev, CRS1, LasDateG, SynAdd FROM sendev_tab ORDER BY no_rec"
  done
  echo "-- the device's notices in branch 01"
  sql tarvelo_b01 -t -e "SELECT No_Note, Na_Rec, Ne_Rec FROM notic_tab WHERE Tabl_Note = 'findev_tab' ORDER BY no_rec"
fi
echo "-- statistics rows (branchsyn_tab) and notices (notic_tab) in branch 02"
sql tarvelo_b02 -t -e "SELECT no_rec, FromD, ToD, New_R, SynAdd FROM branchsyn_tab ORDER BY no_rec;
                       SELECT no_rec, No_Branch, Ne_Rec FROM notic_tab ORDER BY no_rec"

say "Screenshots (taken while the records were in the windows' grids)"
for b in 01 02; do
  [ -n "${shot[$b]:-}" ] || shoot "$b"  # nothing came: the window as it is
  [ -s "$shots/branch-$b.png" ] && echo "  $shots/branch-$b.png" || echo "  branch $b: no screenshot (see $work/tarvelo-$b.log)"
done

say "Logs"
# Each branch's per-user state folder holds its failure log Save_Code.txt and its reason log tarvelo.log.
for b in 01 02; do
  note=" (copied to $logs/branch-$b when the demo ends)"
  [ -z "$keep" ] || note=" (copied to $logs/branch-$b by the stop script)"
  echo "  branch $b: $work/branch$b-state/Tarvelo$note"
done

if [ -n "$keep" ]; then
  # Ends only what still runs the program the demo started under each PID: any of them may have
  # ended meanwhile and its PID gone to another program.
  cat > "$work/stop.sh" <<EOF
#!/usr/bin/env bash
source "$root/scripts/own_processes.sh"
own_end "$pids_file"
echo "\$(cat "$work/server.pid") mariadbd" > "$work/server.own"
own_end "$work/server.own"
sleep 2
# The logs outlive the throwaway folder, as at the end of a demo that was not kept.
for b in 01 02; do
  rm -rf "$logs/branch-\$b"
  if [ -d "$work/branch\$b-state/Tarvelo" ]; then mkdir -p "$logs" && cp -r "$work/branch\$b-state/Tarvelo" "$logs/branch-\$b"; fi
done
rm -rf "$work"
echo "logs kept in $logs/branch-01 and $logs/branch-02"
EOF
  say "Left running (--keep)"
  cat <<EOF
  tarvelo branch 01: pid ${prog_pid[01]}, settings $work/branch01, logs $work/branch01-state/Tarvelo
  tarvelo branch 02: pid ${prog_pid[02]}, settings $work/branch02, logs $work/branch02-state/Tarvelo
  web service:       $url_web
  databases:         mariadb --no-defaults --socket=$sock -uroot tarvelo_b02 -e 'SELECT * FROM city_tab'
  new screenshots:   kill -USR1 <pid>   (written to $shots/branch-NN.png)
  end a run as the calling application does: set ClosSyn=0 in $work/branchNN/Tarvelo/settings.ini
                     (the program ends at its next cycle), or kill -TERM <pid> (runs the unload)
  stop everything:   bash $work/stop.sh   (copies the logs to $logs/branch-NN first)
EOF
  exit 0
fi

say "Ending both programs as the calling application does"
for b in 01 02; do
  sed -i 's/^ClosSyn=.*/ClosSyn=0/' "$work/branch$b/Tarvelo/settings.ini"
done
sleep 2
for b in 01 02; do
  if kill -0 "${prog_pid[$b]}" 2>/dev/null; then
    echo "  branch $b is still running (between cycles, or waiting to retry its start-up): SIGTERM"
    stop_branch "$b"
  else
    echo "  branch $b ended at its next cycle"
  fi
  echo "  DemoAccounting_In for branch $b: $(grep -s '^DemoAccounting_In=' "$work/branch$b/Tarvelo/settings.ini" | cut -d= -f2)"
done

echo
if [ -z "$echo_ok" ]; then
  echo "Ended after $(( $(date +%s) - started )) s without an exchange: the ICMP echo check needs the capability named above." >&2
  exit 1
elif [ -n "$done" ]; then
  echo "Done in $(( $(date +%s) - started )) s: three records went from branch 01 to branch 02 and their exchange closed."
  if [ -n "$with_device" ]; then
    echo "The device's $punches punches were pulled and saved by branch 01 and reached the server and branch 02."
  fi
else
  echo "The exchange did not close within the time allowed; logs were in $work (now removed)." >&2
  echo "Message logs of the programs:" >&2
  cat "$work"/tarvelo-*.log >&2 || true
  exit 1
fi
