#!/usr/bin/env bash
# The new-account road by keyboard in a real terminal of 80 x 24 (tmux):
# joinwiz with the terminal display against linesim's modem and server.
# On every page the pane must show the window's caption on its first row,
# the field that has the focus with its label, and the page's button row.
# Alt+N presses Next and Alt+B Back. Skipped (exit 77) without tmux.
# Usage: terminal_walk.sh JOINWIZ LINESIM
set -uo pipefail

joinwiz=$1
linesim=$2
name=terminal_walk
here="$(cd "$(dirname "$0")" && pwd)"
data="$(cd "$here/../../data" && pwd)"
command -v tmux >/dev/null || { echo "skip [$name]: tmux is not installed"; exit 77; }

source "$here/lib.sh"
make_workspace e2e_tmux
socket="vlr-walk-$$"
trap 'tmux -L "$socket" kill-server 2>/dev/null; [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT
absent_com_ports 1 3 4
number=$(sed -n 's/^REGNUMBER=\([0-9]*\).*/\1/p' "$data/Joinwiz.ini" | head -n1)
start_linesim "$linesim" "$root" --modem COM2=generic --dial "$number=scenario:$data/scenarios/new-account.txt"

tmux -f /dev/null -L "$socket" new-session -d -s walk -x 80 -y 24 \
  "VLR_DATA_DIR='$data' VLR_LOG='$work/log' VLR_LOG_LEVEL=info TERM=xterm-256color '$joinwiz' --root '$root' --ui terminal; echo \"exit \$?\" > '$work/exit'; sleep 30"

pane=walk
source "$here/tmux_lib.sh"

# The pane now: CAPTION on the first row, each of the BUTTONS on one of the
# last three rows, every LINE given after "--" somewhere.
check_page() {
  local caption=$1 buttons=$2
  shift 2
  screen > "$work/screen"
  head -n1 "$work/screen" | grep -qF -- "$caption" || { cat "$work/screen" >&2; fail "caption \"$caption\" is not on the first row"; }
  local b
  IFS='|' read -r -a bs <<< "$buttons"
  for b in "${bs[@]}"; do
    tail -n3 "$work/screen" | grep -qF -- "$b" || { cat "$work/screen" >&2; fail "button \"$b\" of \"$caption\" is not on the last rows"; }
  done
  [ "$(wc -l < "$work/screen")" -le 24 ] || fail "more than 24 rows"
  # The focused control is on screen: the terminal's cursor is shown there.
  local cursor
  cursor=$(tmux -L "$socket" display-message -p -t walk '#{cursor_flag} #{cursor_y}')
  [ "${cursor%% *}" = 1 ] || { cat "$work/screen" >&2; fail "no visible cursor on \"$caption\": the focus is off screen"; }
}

# The focused field's label and what was typed into it are on one row
# (or the label is on the row above), within a few seconds.
beside() {
  grep -F -- "$1" "$work/screen" | grep -qF -- "$2" && return 0
  local row
  row=$(grep -nF -- "$1" "$work/screen" | head -n1 | cut -d: -f1)
  [ -n "$row" ] && sed -n "$row,$((row + 1))p" "$work/screen" | grep -qF -- "$2"
}
check_field() {
  local i
  for i in $(seq 100); do
    screen > "$work/screen"
    beside "$1" "$2" && return 0
    sleep 0.1
  done
  cat "$work/screen" >&2
  fail "\"$2\" is not beside its label \"$1\""
}

# Types TEXT into the focused field, then checks it beside LABEL.
field() {
  type_text "$2"
  check_field "$1" "$2"
}

# Types TEXT into the focused password field; its stars stand beside LABEL.
secret_field() {
  type_text "$2"
  local stars
  stars=$(printf '%*s' "${#2}" '' | tr ' ' '*')
  check_field "$1" "$stars"
}

wait_for "Welcome to the Veloran Network"
check_page "Registration Wizard" "Next >|Cancel|Help"
keys M-n

wait_for "Please read the following Terms of Service"
check_page "Terms of Service Agreement" "< Back|Yes|No"
grep -qF "VELORAN NETWORK CORPORATION" "$work/screen" || fail "the terms do not open at their top"
keys M-y
wait_for "To set up a new account"
check_page "Introduction" "< Back|Next >|Cancel|Help"
keys M-n

wait_for "To begin the registration procedure"
check_page "Personal Information" "< Back|Next >|Cancel|Help"
field "First Name:" "John"
keys Tab; field "Last Name:" "Smith"
keys Tab; field "Company:" "Acme"
keys Tab; field "Address:" "12 Main Street"
keys Tab; type_text "Suite 4"; wait_for "Suite 4"  # the second address line has no label
keys Tab; field "City:" "Springfield"
keys Tab; field "Prov" "IL"
keys Tab; field "Zip/Postal Code:" "62701"
keys Tab; field "Area Code:" "217"
check_page "Personal Information" "< Back|Next >|Cancel|Help"
keys Tab; field "Phone #:" "555-1234"
check_page "Personal Information" "< Back|Next >|Cancel|Help"
keys M-n

wait_for "Please select a User ID and Password"
check_page "Account Information" "< Back|Next >|Cancel|Help"
field "User ID:" "jsmith"
# Alt+B goes back a page; what Next stored there is shown again.
keys M-b
wait_for "To begin the registration procedure"
check_page "Personal Information" "< Back|Next >|Cancel|Help"
check_field "First Name:" "John"
keys M-n
wait_for "Please select a User ID and Password"
field "User ID:" "jsmith"
keys Tab; secret_field "Password:" "secret1"
keys Tab; secret_field "Password (verification):" "secret1"
check_page "Account Information" "< Back|Next >|Cancel|Help"
keys M-n

wait_for "Modem Setup will try to detect your modem"
check_page "Modem Setup" "< Back|Next >|Cancel|Help"
keys M-n
# The library's progress texts show on the detection page while it works.
wait_for "Please wait a moment while you modem is detected"
check_page "Modem Detection" "< Back|Next >|Cancel"
wait_for "Checking modem's capabilities."
grep -qF "Status: Auto Configuring Modem..." "$work/screen" || fail "the progress text is not below the status line"

wait_for "Modem Setup has detected the following modem settings"
check_page "Modem Found" "< Back|Next >|Cancel|Help"
check_field "Communications Port:" "COM2"
keys M-n

wait_for "Dialing Information"
check_page "Dialing Information" "< Back|Next >|Cancel|Help"
keys M-n

wait_for "You are now ready to dial into the Veloran Network"
check_page "Dialing the Network" "< Back|Next >|Cancel|Help"
keys M-n

wait_for "Your Account has been Created!"
screen > "$work/screen"
check_page "Registration Complete" "Finish|Help"
check_field "User ID:" "jsmith"
check_field "Password:" "secret1"
# The support text below the fields is out of view; PageDown brings it.
keys PageDown
wait_for "(800) 555-0147"
check_page "Registration Complete" "Finish|Help"
keys M-f
for _ in $(seq 100); do [ -f "$work/exit" ] && break; sleep 0.1; done
[ -f "$work/exit" ] || fail "joinwiz did not end after Finish"
[ "$(cat "$work/exit")" = "exit 0" ] || fail "joinwiz ended with $(cat "$work/exit")"
# The scenario creates the account but never transfers the call: the run's
# last line says that nothing was set up on the computer, and why.
tmux -L "$socket" capture-pane -p -J -t walk > "$work/end"
grep -qF 'Set up: nothing; not set up: the dial-up entry, the access number, the launcher (the server ended the registration without TRANSFER:' "$work/end" \
  || { cat "$work/end" >&2; fail "the run's last line does not say that nothing was set up"; }
user_value REGISTERED | grep -qx YES || fail "REGISTERED is not YES"
user_value USERID | grep -qx jsmith || fail "USERID is not jsmith"
user_value ADDR2 | grep -qx "Suite 4" || fail "ADDR2 is not Suite 4"
echo "ok [$name]"
