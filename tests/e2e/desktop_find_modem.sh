#!/usr/bin/env bash
# Modset's modem search in the desktop window, with no modem on any port:
# `modsetctl setup`, then "Find Modem...". The search runs its own message
# pump inside the button's click; the "A modem was not found." box it ends
# with must be drawn, the program must sleep while the box waits (under 1%
# CPU), and the box must close (by Return, by Esc, by the close button of
# its title bar) with "Set Up Modem" going on: it takes the keyboard again,
# and the last round ends it with Cancel. Under Xvfb and openbox.
# Usage: desktop_find_modem.sh MODSETCTL SHOT-DIR
set -uo pipefail

modsetctl=$1
shots=$2
name=desktop_find_modem
source "$(dirname "$0")/desktop_lib.sh"

start_desktop e2e_desktop "$shots"
absent_com_ports 1 2 3 4

transcript="$work/transcript"
: > "$transcript"
start_desktop_program VLR_ROOT="$root" VLR_UI=gtk VLR_TRANSCRIPT="$transcript" VLR_LOG="$work/log" VLR_LOG_LEVEL=info \
  "$modsetctl" setup

setup_dialog=30101   # "Set Up Modem"
find_button=117      # "&Find Modem..."

wait_for_line "$transcript" "painted $setup_dialog" 60 "$app_pid" || fail "\"Set Up Modem\" was never painted"
setup=$(window_named "$app_pid" "Set Up Modem")
import -window "$setup" "$shots/set-up-modem.png" 2>/dev/null
check_contrast "$shots/set-up-modem.png" "Set Up Modem"

# Presses "Find Modem..." and closes the box that ends the search with
# CLOSE (a key, or "button" for the title bar's button).
search_closed_by() {
  local close=$1
  xdotool windowactivate --sync "$setup" 2>/dev/null || xdotool windowfocus --sync "$setup"
  keys alt+f
  wait_for_line "$transcript" 'message-box "Modem Auto-Detect" icon exclamation "A modem was not found."' 60 "$app_pid" "$seen" ||
    fail "no \"A modem was not found.\" box"
  check_and_close_box "$close" "Modem Auto-Detect" "$shots/modem-not-found-$close.png" \
    "the \"A modem was not found.\" box"
  # The search ends and "Set Up Modem" takes the keyboard back.
  wait_for_line "$transcript" "focus $setup_dialog " 30 "$app_pid" "$seen" ||
    fail "after $close \"Set Up Modem\" did not get the keyboard back"
  [ -z "$(xdotool search --all --onlyvisible --pid "$app_pid" --name '^(Modem Auto-Detect|Searching for modem)$' 2>/dev/null)" ] ||
    fail "the box or the search is still on the screen after $close"
  seen=$(wc -l < "$transcript")
}

seen=$(wc -l < "$transcript")
search_closed_by Return
search_closed_by Escape
search_closed_by button
keys Escape                                   # Cancel ends the dialog

code=0
wait "$app_pid" || code=$?
app_pid=
[ "$code" = 1 ] || fail "exit code $code, 1 (cancelled) expected"
echo "ok [$name]: the box closed by Return, Esc and its close button; screenshots in $shots"
