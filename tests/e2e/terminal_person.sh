#!/usr/bin/env bash
# The wizard in a real terminal of 80 x 24 (tmux) as a person uses it on a
# machine without a modem, started from a shell:
#  - the terms scroll to their last section with End;
#  - a terminal too small says so with the one minimum, and keys wait;
#  - a two-line address pasted (bracketed paste) stays text: both lines go
#    into the address field and Next is not pressed;
#  - a password pasted longer than its field's 8 characters leaves a notice
#    that names the limit and a flashing field, and the profile holds what
#    the field shows;
#  - without a modem, one line says why before the modem control panel
#    ("Set Up Modem", modsetctl) takes the screen; after Esc there the
#    "Modem Setup" page is drawn whole: the pane equals a capture made after
#    a forced redraw (Ctrl-L);
#  - when the wizard ends, the pane shows the shell as it was before.
# Skipped (exit 77) without tmux.
# Usage: terminal_person.sh JOINWIZ
set -uo pipefail

joinwiz=$1
name=terminal_person
here="$(cd "$(dirname "$0")" && pwd)"
data="$(cd "$here/../../data" && pwd)"
command -v tmux >/dev/null || { echo "skip [$name]: tmux is not installed"; exit 77; }
[ -x "$(dirname "$joinwiz")/modsetctl" ] || { echo "skip [$name]: modsetctl is not built beside joinwiz"; exit 77; }

source "$here/lib.sh"
make_workspace e2e_tmux
socket="vlr-person-$$"
trap 'tmux -L "$socket" kill-server 2>/dev/null; rm -rf "$work"' EXIT
absent_com_ports 1 2 3 4

# A shell that says something, waits for Enter, runs the wizard and stays.
tmux -f /dev/null -L "$socket" new-session -d -s person -x 80 -y 24 \
  "echo 'shell before the wizard'; read go; VLR_DATA_DIR='$data' VLR_LOG='$work/log' VLR_LOG_LEVEL=info TERM=xterm-256color '$joinwiz' --root '$root' --ui terminal; echo \"exit \$?\" > '$work/exit'; sleep 60"

pane=person
source "$here/tmux_lib.sh"
# Text pasted as a terminal pastes it, marked as pasted (bracketed paste).
paste() {
  tmux -L "$socket" set-buffer -b paste "$1"
  tmux -L "$socket" paste-buffer -p -b paste -t person
}

wait_until() {  # CONDITION WHAT: a shell condition on $work/screen
  local i
  for i in $(seq 150); do
    screen > "$work/screen"
    eval "$1" && return 0
    sleep 0.1
  done
  echo "--- pane" >&2
  cat "$work/screen" >&2
  [ -f "$work/log" ] && { echo "--- log" >&2; tail -n 30 "$work/log" >&2; }
  fail "$2"
}
caption_is() { want=$1; wait_until 'head -n1 "$work/screen" | grep -qF -- "$want"' "\"$1\" never was the caption on the first row"; }

wait_for "shell before the wizard"
screen | sed '/^$/d' > "$work/before"
keys Enter

wait_for "Welcome to the Veloran Network"
keys M-n
wait_for "Please read the following Terms of Service"
grep -qF "VELORAN NETWORK CORPORATION" "$work/screen" || fail "the terms do not open at their top"
grep -qF "8. The Whole Agreement" "$work/screen" && fail "the last section shows before End"
keys End
wait_for "8. The Whole Agreement"
grep -qF "VELORAN NETWORK CORPORATION" "$work/screen" && fail "End left the top of the terms on screen"
keys Home
wait_for "VELORAN NETWORK CORPORATION"
keys M-y
wait_for "To set up a new account"
keys M-n

wait_for "To begin the registration procedure"
# Too small a terminal: one message with the one minimum, wrapped to the
# width; what is typed meanwhile waits for the page to be back.
tmux -L "$socket" resize-window -t person -x 60 -y 20
wait_until 'tr -s " \n" "  " < "$work/screen" | grep -qF "needs at least 80 x 24 characters (this one is 60 x 20)"' \
  "no message with the minimum at 60 x 20"
type_text "John"
sleep 0.5
screen > "$work/screen"
grep -qF "John" "$work/screen" && fail "keys reached the page behind the message"
tmux -L "$socket" resize-window -t person -x 80 -y 24
wait_for "To begin the registration procedure"
wait_for "John"
keys Tab; type_text "Smith"; keys Tab Tab
# The address field has the focus: a two-line address is pasted into it.
paste "$(printf '12 Main St\nSpringfield')"
wait_for "12 Main St Springfield"
grep -qF "Entry error" "$work/screen" && fail "the paste pressed Next"
head -n1 "$work/screen" | grep -qF "Personal Information" || fail "the paste left the page"
keys Tab Tab; type_text "Springfield"; keys Tab; type_text "IL"; keys Tab; type_text "62701"
keys Tab; type_text "217"; keys Tab; type_text "555-1234"
wait_for "555-1234"
keys M-n

wait_for "Please select a User ID and Password"
type_text "jsmith"; keys Tab
paste "longsecret12"
wait_for "Password: at most 8 characters"
grep -qF "********" "$work/screen" || fail "the password field does not show its 8 characters"
grep -qF "*********" "$work/screen" && fail "the password field shows more than 8 characters"
# The field flashes: white on red (colour 196) at some moment, then not.
wait_until 'tmux -L "$socket" capture-pane -p -e -t person | grep -qF "[97;48;5;196m*" ||
            tmux -L "$socket" capture-pane -p -e -t person | grep -qF "48;5;196m*"' "the password field never flashed"
keys Tab; type_text "longsecr"
wait_until '! grep -qF "at most 8 characters" "$work/screen"' "the notice stayed after the next key"
keys M-n

# No modem: the notice, then the panel's own screen.
wait_for "No modem was found on any COM port: opening Set Up Modem."
caption_is "Modem Setup"
caption_is "Set Up Modem"
keys Escape
caption_is "Modem Setup"
wait_for "Modem Setup will try to detect your modem"
wait_for "Click Next when you are ready to continue."
settle
# Characters and colours both; the redraw (at most 5 s) must give the same.
tmux -L "$socket" capture-pane -p -e -t person > "$work/after_panel"
keys C-l
for _ in $(seq 100); do
  tmux -L "$socket" capture-pane -p -e -t person > "$work/redrawn"
  cmp -s "$work/after_panel" "$work/redrawn" && break
  sleep 0.05
done
diff "$work/after_panel" "$work/redrawn" >&2 || fail "the page after the panel differs from its redraw"
grep -qF "Click Next when you are ready to continue." "$work/after_panel" || fail "the page is not drawn whole"

# Cancel ends the wizard; the shell is back as it was.
keys Escape
for _ in $(seq 100); do [ -f "$work/exit" ] && break; sleep 0.1; done
[ -f "$work/exit" ] || fail "joinwiz did not end after Cancel"
# The shell's screen comes back (at most 5 s).
for _ in $(seq 100); do
  screen | sed '/^$/d' > "$work/after"
  head -n "$(wc -l < "$work/before")" "$work/after" | cmp -s "$work/before" - && break
  sleep 0.05
done
settle
sed '/^$/d' "$work/screen" > "$work/after"
head -n "$(wc -l < "$work/before")" "$work/after" | diff "$work/before" - >&2 || fail "the shell's screen is not as before"
# What follows is what the program printed after its screen was gone: no
# frame or picture cell of the wizard's.
grep -qE "[│┌└─▀]" "$work/after" && { cat "$work/after" >&2; fail "wizard rows are left on the shell's screen"; }
[ "$(user_value PASSWORD)" = "longsecr" ] || fail "PASSWORD is '$(user_value PASSWORD)', not what the field showed"
[ "$(user_value ADDR1)" = "12 Main St Springfield" ] || fail "ADDR1 is '$(user_value ADDR1)'"
echo "ok [$name]"
