#!/usr/bin/env bash
# The new-account road by keyboard in a real terminal of 80 x 24 (tmux):
# joinwiz with the terminal display against linesim's modem and server.
# On every page the pane must show the window's caption on its first row,
# the field that has the focus with its label, and the page's button row.
# Alt+N presses Next and Alt+B Back. With "install" the server also
# configures the computer (CONFIG: AUTO), and the closing page's "Install
# for the System" shows the install command in a window. Skipped (exit 77)
# without tmux.
# Usage: terminal_walk.sh JOINWIZ LINESIM [install]
set -uo pipefail

joinwiz=$1
linesim=$2
mode=${3:-}
name=terminal_walk${mode:+_$mode}
here="$(cd "$(dirname "$0")" && pwd)"
data="$(cd "$here/../../data" && pwd)"
command -v tmux >/dev/null || { echo "skip [$name]: tmux is not installed"; exit 77; }

source "$here/lib.sh"
make_workspace e2e_tmux
socket="vlr-walk-$$"
trap 'tmux -L "$socket" kill-server 2>/dev/null; [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT
absent_com_ports 1 3 4
number=$(sed -n 's/^REGNUMBER=\([0-9]*\).*/\1/p' "$data/Joinwiz.ini" | head -n1)
cp "$data/scenarios/new-account.txt" "$work/scenario.txt"
if [ "$mode" = install ]; then
  # The computer configured for the profile's access number, so the
  # closing page can install the entry.
  sed 's/^send STATUS:\\tCOMPLETE$/send CONFIG:\\tAUTO\nexpect REPLY: OK\n&/' "$data/scenarios/new-account.txt" > "$work/scenario.txt"
  grep -q '^send CONFIG:' "$work/scenario.txt" || fail "no CONFIG: in the scenario"
  cp "$data/Joinwiz.ini" "$ini"
  printf '\n[User Information]\nPOPAREACODE=800\nPOPNUMBER=555-0147\n' >> "$ini"
fi
start_linesim "$linesim" "$root" --modem COM2=generic --dial "$number=scenario:$work/scenario.txt"

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

# Every TEXT of PAGE is on the pane at some scroll position: PageDown
# towards the bottom (through a read-only text first, then the page) until
# each was seen, then PageUp back to the top. These are the rows of the
# table of pages and their texts.
texts_reachable() {
  local page=$1 t i missing top
  shift
  top=$(screen)
  printf '%s\n' "$top" > "$work/seen"
  for i in $(seq 14); do
    missing=
    for t in "$@"; do grep -qF -- "$t" "$work/seen" || missing=$t; done
    [ -z "$missing" ] && break
    keys_and_redraw PageDown
    cat "$work/screen" >> "$work/seen"
  done
  for i in $(seq 14); do keys PageUp; done
  for t in "$@"; do
    grep -qF -- "$t" "$work/seen" || { cat "$work/screen" >&2; fail "\"$t\" of \"$page\" is never on the pane"; }
  done
  # Back at the top, the pane is as it was (at most 5 s).
  for i in $(seq 100); do
    [ "$(screen)" = "$top" ] && break
    sleep 0.05
  done
  settle
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
texts_reachable "Registration Wizard" "Welcome to the Veloran Network Registration" "To subscribe with Veloran" \
  "Create a New Account with Veloran" "If you have an account with Veloran" "I already have an Account" \
  "You might want to use this option" "your programs and data on your new drive."
keys M-n

wait_for "Please read the following Terms of Service"
check_page "Terms of Service Agreement" "< Back|Yes|No"
grep -qF "VELORAN NETWORK CORPORATION" "$work/screen" || fail "the terms do not open at their top"
texts_reachable "Terms of Service Agreement" "Please read the following Terms of Service. Uses the" \
  "VELORAN NETWORK CORPORATION" "8. The Whole Agreement" "Do you accept the above Terms of Service" \
  "process will close."
wait_for "VELORAN NETWORK CORPORATION"
keys M-y
wait_for "To set up a new account"
check_page "Introduction" "< Back|Next >|Cancel|Help"
texts_reachable "Introduction" "To set up a new account with Veloran" "- Personal Information" "- Dialing Information" \
  "- Billing Information"
keys M-n

wait_for "To begin the registration procedure"
check_page "Personal Information" "< Back|Next >|Cancel|Help"
texts_reachable "Personal Information" "To begin the registration procedure" "Note:  Please enter your credit card" \
  "First Name:" "Zip/Postal Code:" "Area Code:" "Phone #:"
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
texts_reachable "Account Information" "Please select a User ID and Password" "Password (verification):" \
  "Both your User ID and Password must be" "that it is correct."
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
texts_reachable "Modem Setup" "Modem Setup will try to detect your modem" "If you have an external modem" \
  "Click Next when you are ready to continue."
keys M-n
# The library's progress texts show on the detection page while it works.
wait_for "Please wait a moment while you modem is detected"
check_page "Modem Detection" "< Back|Next >|Cancel"
# Any of them: the library moves on at its own pace.
for _ in $(seq 100); do
  screen > "$work/screen"
  grep -qE "Checking modem's capabilities\.|Establishing port speed\.|Determining setup command strings\." "$work/screen" && break
  sleep 0.05
done
grep -qE "Checking modem's capabilities\.|Establishing port speed\.|Determining setup command strings\." "$work/screen" ||
  fail "no progress text of the library on the detection page"
grep -qF "Status: Auto Configuring Modem..." "$work/screen" || fail "the progress text is not below the status line"

wait_for "Modem Setup has detected the following modem settings"
# The page opens at its top: its heading below the caption, and a mark
# that there is more below (the focused check box).
[ "$(grep -c "Modem Found" "$work/screen")" = 2 ] || { cat "$work/screen" >&2; fail "Modem Found opens without its heading"; }
sed -n 2,21p "$work/screen" | grep -q "▼$" || fail "Modem Found has no mark for the rows below"
texts_reachable "Modem Found" "Modem Setup has detected the following" "Communications Port:" "Modem Init String" \
  "Don't use this modem's Init String, let me specify" "     it.  "
# The focus moves away and back: the view follows it.
keys_and_redraw Tab
keys_and_redraw BTab
check_page "Modem Found" "< Back|Next >|Cancel|Help"
check_field "Communications Port:" "COM2"
keys M-n

wait_for "Dialing Information"
check_page "Dialing Information" "< Back|Next >|Cancel|Help"
texts_reachable "Dialing Information" "If the phone line your modem will be using" "[ ] Disable Call Waiting" "    with:" \
  "If you dial a number (such as 9)" "The phone system at this location uses:"
keys M-n

wait_for "You are now ready to dial into the Veloran Network"
check_page "Dialing the Network" "< Back|Next >|Cancel|Help"
texts_reachable "Dialing the Network" "You are now ready to dial into the Veloran" "Click the Next button to continue"
keys M-n

wait_for "Your Account has been Created!"
screen > "$work/screen"
check_page "Registration Complete" "Finish|Help"
check_field "User ID:" "jsmith"
check_field "Password:" "secret1"
texts_reachable "Registration Complete" "Your Account has been Created!" "Finally, for future reference" \
  "User ID:" "Password:" "(800) 555-0147"
if [ "$mode" = install ]; then
  check_page "Registration Complete" "Install for the System|Finish|Help"
  # In the terminal the system install is not asked for through pkexec (it
  # would prompt on this very terminal): a window shows the command to run.
  keys M-s
  wait_for "run this command as the administrator"
  screen > "$work/screen"
  sed 's/│//g' "$work/screen" | tr -d '\n ' | grep -qF "sudo$(readlink -f "$joinwiz")--root$root--install-dialup" \
    || { cat "$work/screen" >&2; fail "the window does not show the whole install command"; }
  keys Enter
  for _ in $(seq 100); do screen > "$work/screen"; grep -qF "administrator" "$work/screen" || break; sleep 0.1; done
  check_page "Registration Complete" "Install for the System|Finish|Help"
else
  # No entry was made: nothing to install.
  check_page "Registration Complete" "Finish|Help"
  grep -qF "Install for the System" "$work/screen" && fail "Install for the System without an entry"
fi
keys M-f
for _ in $(seq 100); do [ -f "$work/exit" ] && break; sleep 0.1; done
[ -f "$work/exit" ] || fail "joinwiz did not end after Finish"
[ "$(cat "$work/exit")" = "exit 0" ] || fail "joinwiz ended with $(cat "$work/exit")"
# The scenario creates the account but never transfers the call: the run's
# last line says what was set up on the computer, and why not the rest.
tmux -L "$socket" capture-pane -p -J -t walk > "$work/end"
if [ "$mode" = install ]; then
  grep -qF 'Set up: the dial-up entry "Tarkel - Veloran Account" with access number (800) 555-0147' "$work/end" \
    || { cat "$work/end" >&2; fail "the run's last line does not name the entry"; }
else
  grep -qF 'Set up: nothing; not set up: the dial-up entry, the access number, the launcher (the server ended the registration without TRANSFER:' "$work/end" \
    || { cat "$work/end" >&2; fail "the run's last line does not say that nothing was set up"; }
fi
user_value REGISTERED | grep -qx YES || fail "REGISTERED is not YES"
user_value USERID | grep -qx jsmith || fail "USERID is not jsmith"
user_value ADDR2 | grep -qx "Suite 4" || fail "ADDR2 is not Suite 4"
echo "ok [$name]"
