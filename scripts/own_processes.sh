# Processes a script started, ended only while they are still its own. Source this file.
#
#   own_record FILE PID COMMAND   notes that PID was started running COMMAND (as its argv[0])
#   own_runs PID COMMAND          whether PID still runs COMMAND, not a later program given the PID
#   own_end FILE [SIGNAL]         signals every PID of FILE that still runs what was started under it
#
# A PID is reused once its program ended, so a PID alone may name a stranger's program by the time
# a stop comes. argv[0] is read from /proc/PID/cmdline, which stays readable for programs that
# gained a file capability (their /proc/PID/exe does not).
own_record() { printf '%s %s\n' "$2" "$3" >> "$1"; }
own_runs() {
  local argv0
  [ -r "/proc/$1/cmdline" ] || return 1
  # The program may end between the test and the read.
  argv0=$({ tr '\0' '\n' < "/proc/$1/cmdline"; } 2>/dev/null | head -n1)
  [ -n "$argv0" ] && [ "$argv0" = "$2" ]
}
own_end() {
  local pid cmd
  while read -r pid cmd; do
    [ -n "$pid" ] || continue
    if own_runs "$pid" "$cmd"; then kill "-${2:-TERM}" "$pid" 2>/dev/null || true; fi
  done < "$1"
}
