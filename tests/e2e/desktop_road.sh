#!/usr/bin/env bash
# The new-account road in the desktop window, by keyboard through a real X
# server: Xvfb runs the display with openbox managing the windows, xdotool
# types into the wizard's GTK window as a person would, linesim plays the
# modem and the registration server. Every page is waited for through the
# wizard's transcript (its "painted ID" line), must be the wizard's one
# window on the screen at the place of the first page, and is photographed
# into SHOT-DIR with a contrast check. GTK_THEME (e.g. Adwaita:dark) passes
# through to the wizard.
# Usage: desktop_road.sh JOINWIZ LINESIM SHOT-DIR
set -uo pipefail

joinwiz=$1
linesim=$2
shots=$3
name=desktop_road
source "$(dirname "$0")/desktop_lib.sh"
case_dir="$here/desktop"

start_desktop e2e_desktop "$shots"
absent_com_ports 1 3 4

# The new account, and the computer configured (CONFIG: AUTO) for the
# profile's access number, so the closing page can install the entry.
sed 's/^send STATUS:\\tCOMPLETE$/send CONFIG:\\tAUTO\nexpect REPLY: OK\n&/' "$data/scenarios/new-account.txt" > "$work/scenario.txt"
cp "$data/Joinwiz.ini" "$ini"
printf '\n[User Information]\nPOPAREACODE=800\nPOPNUMBER=555-0147\n' >> "$ini"
start_linesim "$linesim" "$root" --modem COM2=generic --dial "5550100=scenario:$work/scenario.txt"

# "Install for the System" goes through pkexec: a stub that records its
# arguments and runs the install on test folders.
make_pkexec_stub

transcript="$work/transcript"
: > "$transcript"
start_desktop_program PATH="$work/bin:$PATH" STUB_ARGS="$work/pkexec.args" STUB_ETC="$work/etc-ppp" STUB_UNITS="$work/units" \
  VLR_DATA_DIR="$data" VLR_LOG="$work/log" VLR_LOG_LEVEL=info \
  "$joinwiz" --root "$root" --ui gtk --transcript "$transcript"

pages_to_account_information                  # Next on 104 takes a new account, the default
text "jsmith"; keys Tab; text "secret1"; keys Tab; text "secret1"
keys Return
modem_pages_to_the_end
keys alt+s                                    # Install for the System
wait_for_line "$work/transcript" 'message-box "Install for the System"' 60 "$app_pid" \
  || fail "no result window after Install for the System"
win=$(xdotool search --sync --onlyvisible --name "^Install for the System\$" | tail -n1)
[ -n "$win" ] || fail "the result window is not on the screen"
wait_for_line "$work/transcript" "painted 0" 60 "$app_pid" "$seen" || fail "the result window was never painted"
page=$((page + 1))
import -window root "$shots/$(printf '%02d' "$page")-120-installed.png" 2>/dev/null || true
grep -qx -- "--install-dialup" "$work/pkexec.args" || fail "pkexec was not asked to install: $(cat "$work/pkexec.args")"
[ -f "$work/etc-ppp/peers/tarkel-veloran-account" ] || fail "the install wrote no peers file"
keys Return                                   # OK
window_gone "$app_pid" "Install for the System"
xdotool windowfocus --sync "$(xdotool search --sync --onlyvisible --name '^Registration Complete$' | tail -n1)"
page=$((page + 1))
import -window root "$shots/$(printf '%02d' "$page")-120-after-install.png" 2>/dev/null || true
keys Return                                   # Finish

code=0
wait "$app_pid" || code=$?
app_pid=
check_exit "$code"
check_lines_in "$work/transcript" "$case_dir/transcript" "transcript"
check_user_values
echo "ok [$name]: $page pages, screenshots in $shots"
