#!/usr/bin/env bash
# A message box in the desktop window, met as a person meets it: on
# "Account Information" a 3-character password brings up the "Entry error"
# box. Each time the box must be drawn (its photograph shows its text), the
# wizard must sleep while the box waits (under 1% CPU), and the box must
# close with the focus back in the password field: by Return, then by Esc,
# then by the close button of its title bar. With a good password the run
# goes on to "Your Account has been Created!". Under Xvfb and openbox.
# Usage: desktop_message_box.sh JOINWIZ LINESIM SHOT-DIR
set -uo pipefail

joinwiz=$1
linesim=$2
shots=$3
name=desktop_message_box
source "$(dirname "$0")/desktop_lib.sh"

start_desktop e2e_desktop "$shots"
absent_com_ports 1 3 4
start_linesim "$linesim" "$root" --modem COM2=generic --dial "5550100=scenario:$data/scenarios/new-account.txt"

transcript="$work/transcript"
: > "$transcript"
start_desktop_program VLR_DATA_DIR="$data" VLR_LOG="$work/log" VLR_LOG_LEVEL=info \
  "$joinwiz" --root "$root" --ui gtk --transcript "$transcript"

password_field=3003   # IDC_PASSWORD of page 105
short_text="Please enter between 5 and 8 characters for your password."

# Types a short password twice and presses Next; checks the box that comes,
# closes it with CLOSE (a key, or "button" for the title bar's button) and
# checks that the password field has the keyboard again.
short_password_closed_by() {
  local close=$1
  text "abc"; keys Tab; text "abc"; keys Return
  wait_for_line "$transcript" "message-box \"Entry error\"" 60 "$app_pid" "$seen" || fail "no \"Entry error\" box"
  grep -qF -- "$short_text" "$transcript" || fail "the box does not say: $short_text"
  check_and_close_box "$close" "Entry error" "$shots/entry-error-$close.png" "the \"Entry error\" box"
  wait_for_line "$transcript" "focus 105 $password_field" 30 "$app_pid" "$seen" ||
    fail "after $close the password field did not get the keyboard back"
  [ -z "$(xdotool search --all --onlyvisible --pid "$app_pid" --name '^Entry error$' 2>/dev/null)" ] ||
    fail "the box is still on the screen after $close"
  seen=$(wc -l < "$transcript")
}

pages_to_account_information
text "jsmith"; keys Tab
short_password_closed_by Return
short_password_closed_by Escape
short_password_closed_by button
# The field has the keyboard with its text selected: typing replaces it.
text "secret1"; keys Tab; text "secret1"; keys Return
modem_pages_to_the_end
grep -qF "Your Account has been Created!" "$transcript" || fail "no \"Your Account has been Created!\""
keys Return

code=0
wait "$app_pid" || code=$?
app_pid=
[ "$code" = 0 ] || fail "exit code $code"
echo "ok [$name]: the box closed by Return, Esc and its close button; screenshots in $shots"
