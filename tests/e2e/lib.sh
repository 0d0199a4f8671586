# Checks shared by the e2e drivers (run_case.sh, modem_case.sh,
# registration_case.sh). Sourced, not run. The driver sets name, case_dir,
# work and ini.

# The folder of these scripts, and the shipped data folder.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
data="$(cd "$here/../../data" && pwd)"

# Ends the case as failed, after printing what the run left: transcript,
# standard error, linesim's output and trace, and the saved profile.
fail() {
  echo "FAIL [$name]: $*" >&2
  local f
  for f in transcript stderr linesim.out linesim.trace ser2net.log; do
    [ -f "$work/$f" ] && { echo "--- $f" >&2; cat "$work/$f" >&2; }
  done
  [ -n "${ini:-}" ] && [ -f "$ini" ] && { echo "--- Joinwiz.ini" >&2; cat "$ini" >&2; }
  exit 1
}

# A fresh work folder named after PREFIX and the case, removed at exit with
# linesim stopped; a system root in it with the program folder and
# dosdevices, and XDG places of its own. Sets work, sim_pid, root, program
# and ini.
make_workspace() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1_${name}_XXXXXX")
  sim_pid=
  s2n_pid=
  trap '[ -n "$s2n_pid" ] && kill "$s2n_pid" 2>/dev/null && wait "$s2n_pid" 2>/dev/null
        [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT
  root="$work/root"
  program="$root/drive_c/veloran"
  ini="$program/Joinwiz.ini"
  mkdir -p "$program" "$root/dosdevices"
  # The user's menu and desktop of the run, never the real ones.
  export XDG_DATA_HOME="$work/xdg/data" XDG_CONFIG_HOME="$work/xdg/config" XDG_DESKTOP_DIR="$work/xdg/Desktop"
}

# Makes each COMn given resolve to nothing, so the run never touches the
# machine's own serial ports.
absent_com_ports() {
  local n
  for n in "$@"; do ln -s "$work/absent/com$n" "$root/dosdevices/com$n"; done
}

# Starts linesim with the options of the case's "linesim" file; without
# one (or with an empty one: no modem at all) linesim is not started. Each
# of COM1 to COM4 that it does not simulate is made absent.
start_case_linesim() {
  local linesim=$1 sim_args n words
  sim_args=$(cat "$case_dir/linesim" 2>/dev/null || true)
  for n in 1 2 3 4; do
    [[ " $sim_args " == *" COM$n"[=\ ]* || " $sim_args " == *"=COM$n "* ]] && continue
    absent_com_ports "$n"
  done
  if [ -n "${sim_args// }" ]; then
    read -r -a words <<< "$sim_args"
    start_linesim "$linesim" "$root" "${words[@]}"
  fi
}

# $work/bin/pkexec: a stand-in that records its arguments in $STUB_ARGS and
# runs the command on the test's folders ($STUB_ETC for pppd's, $STUB_UNITS
# for systemd's) instead of asking for the administrator.
make_pkexec_stub() {
  mkdir -p "$work/bin"
  cat > "$work/bin/pkexec" <<'STUB'
#!/bin/sh
printf '%s\n' "$@" > "$STUB_ARGS"
exec "$@" --ppp-dir "$STUB_ETC" --unit-dir "$STUB_UNITS"
STUB
  chmod +x "$work/bin/pkexec"
}

# Value of KEY=VALUE in the case's "options" file, empty when absent.
option() {
  [ -f "$case_dir/options" ] && sed -n "s/^$1=//p" "$case_dir/options" | head -n1
}

# The exit code against the case's "exit" file (default 0).
check_exit() {
  local want=0
  [ -f "$case_dir/exit" ] && want=$(tr -d '[:space:]' < "$case_dir/exit")
  [ "$1" = "$want" ] || fail "exit code $1, expected $want"
}

# Each line of the case's "transcript" file is a substring of a transcript
# line, in this order.
check_transcript() {
  [ -f "$case_dir/transcript" ] || return 0
  [ -f "$work/transcript" ] || fail "no transcript written"
  local line_no=0 total want got found
  total=$(wc -l < "$work/transcript")
  while IFS= read -r want || [ -n "$want" ]; do
    [ -z "$want" ] && continue
    found=0
    while [ "$line_no" -lt "$total" ]; do
      line_no=$((line_no + 1))
      got=$(sed -n "${line_no}p" "$work/transcript")
      if [[ "$got" == *"$want"* ]]; then found=1; break; fi
    done
    [ "$found" = 1 ] || fail "transcript lacks (in order): $want"
  done < "$case_dir/transcript"
}

# Value of KEY in section "User Information" of $ini (section and key without
# regard to case), exactly as stored but for a CR: blanks stay visible.
user_value() {
  awk -v key="$1" '
    /^[ \t]*\[/ { inside = (tolower($0) ~ /^[ \t]*\[user information\]/); next }
    inside {
      eq = index($0, "="); if (eq == 0) next
      k = substr($0, 1, eq - 1); gsub(/^[ \t]+|[ \t]+$/, "", k)
      if (toupper(k) == toupper(key)) { v = substr($0, eq + 1); gsub(/\r$/, "", v); print v; found = 1; exit }
    }
    END { if (!found) exit 1 }' "$ini"
}

# The case's "ini" checks of the saved profile: KEY=VALUE holds exactly that
# value, !KEY is absent. Sets values_checked=1 when a KEY=VALUE line was seen.
values_checked=0
check_user_values() {
  local check key want value
  [ -f "$ini" ] || fail "$(basename "$ini") was not saved"
  while IFS= read -r check || [ -n "$check" ]; do
    [ -z "$check" ] && continue
    if [[ "$check" == !* ]]; then
      key=${check#!}
      if value=$(user_value "$key"); then fail "$key should be absent, is '$value'"; fi
    else
      values_checked=1
      key=${check%%=*}
      want=${check#*=}
      value=$(user_value "$key") || fail "$key is missing"
      [ "$value" = "$want" ] || fail "$key is '$value', expected '$want'"
    fi
  done < "$case_dir/ini"
}

# The saved modem settings are there and none holds a blank (the dialer
# splits on blanks).
check_modem_values() {
  local key value
  for key in COMPORT COMSPEED MODEMINIT; do
    value=$(user_value "$key") || fail "$key is missing"
    [[ "$value" == *" "* ]] && fail "$key holds a blank: '$value'"
  done
}

# Each line of WANTS is a substring of FILE; a line starting with ! must not
# be. WHAT names FILE in the messages.
check_lines_in() {
  local file=$1 wants=$2 what=$3 want
  while IFS= read -r want || [ -n "$want" ]; do
    [ -z "$want" ] && continue
    if [[ "$want" == !* ]]; then
      grep -qF -- "${want#!}" "$file" 2>/dev/null && fail "$what holds: ${want#!}"
    else
      grep -qF -- "$want" "$file" 2>/dev/null || fail "$what lacks: $want"
    fi
  done < "$wants"
}

# Starts linesim on ROOT with the given options, tracing to
# $work/linesim.trace, and waits until it says "ready" on its standard
# output, a FIFO read here with a time-out (it is another process starting
# up). Its standard error goes to $work/linesim.out. Sets sim_pid.
start_linesim() {
  local linesim=$1 root=$2 said= rc
  shift 2
  mkfifo "$work/linesim.stdout" || fail "cannot make a FIFO in $work"
  "$linesim" --root "$root" "$@" --trace "$work/linesim.trace" >"$work/linesim.stdout" 2>"$work/linesim.out" &
  sim_pid=$!
  # Kept open until the driver ends, so a later line never meets a closed pipe.
  exec {sim_stdout}<"$work/linesim.stdout"
  IFS= read -r -t 60 -u "$sim_stdout" said
  rc=$?
  [ "$said" = ready ] && return 0
  if [ "$rc" -gt 128 ]; then
    fail "linesim did not get ready within 60 s"
  fi
  wait "$sim_pid"
  rc=$?
  sim_pid=
  fail "linesim ended (exit code $rc) before it was ready"
}

# Waits until a line of FILE holds TEXT (a fixed string), following the
# file as it grows (tail -F wakes on inotify), for at most SECONDS, and
# gives up early once process PID has ended. With SKIP, only lines after the
# first SKIP count. False when TEXT never came.
wait_for_line() {
  local file=$1 text=$2 seconds=$3 pid=$4 skip=${5:-0} follow follower found=1
  exec {follow}< <(exec timeout "$seconds" tail -n +$((skip + 1)) -F --pid="$pid" "$file" 2>/dev/null)
  follower=$!
  grep -q -m1 -F -- "$text" <&"$follow" && found=0
  kill "$follower" 2>/dev/null
  exec {follow}<&-
  return "$found"
}

# True when something listens on 127.0.0.1:PORT (read from /proc/net/tcp, so
# that looking opens no connection).
listening_on() {
  local hex
  hex=$(printf '0100007F:%04X' "$1")
  awk -v want="$hex" '$2 == want && $4 == "0A" { found = 1 } END { exit !found }' /proc/net/tcp
}

# Puts COMn behind the real ser2net: it exports the pseudo-terminal that the
# comN link names over RFC 2217 on 127.0.0.1, and the link then names
# rfc2217://127.0.0.1:PORT. Sets s2n_pid; ser2net's log is $work/ser2net.log.
serve_over_rfc2217() {
  local link="$root/dosdevices/com$1" pty port
  command -v ser2net >/dev/null || fail "ser2net is not installed (scripts/install-deps)"
  pty=$(readlink "$link") || fail "com$1 is not a link"
  for _ in $(seq 20); do
    port=$((20000 + RANDOM % 40000))
    listening_on "$port" || break
  done
  printf '%s\n' '%YAML 1.1' '---' 'connection: &modem' \
    "    accepter: telnet(rfc2217),tcp,127.0.0.1,$port" \
    "    connector: serialdev,$pty,9600n81,local" \
    '    options:' '      kickolduser: true' > "$work/ser2net.yaml"
  ser2net -n -d -c "$work/ser2net.yaml" -P "$work/ser2net.pid" >"$work/ser2net.log" 2>&1 &
  s2n_pid=$!
  for _ in $(seq 200); do
    if listening_on "$port"; then
      rm "$link" && ln -s "rfc2217://127.0.0.1:$port" "$link"
      return 0
    fi
    kill -0 "$s2n_pid" 2>/dev/null || fail "ser2net ended: $(cat "$work/ser2net.log")"
    sleep 0.05
  done
  fail "ser2net did not listen on $port"
}

# Starts an Xvfb server of the run's own on a free display and waits (at
# most 30 s) for it to accept clients: Xvfb writes the display number to a
# pipe once it does. Exports DISPLAY; sets xvfb_pid.
start_xvfb() {
  local fifo="$work/xvfb.fifo" number=""
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  read -r -t 30 number <"$fifo" || true
  [ -n "$number" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  export DISPLAY=":$number"
}
