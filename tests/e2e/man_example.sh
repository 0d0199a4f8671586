#!/usr/bin/env bash
# joinwiz(1)'s example, run as the page writes it: its commands are read
# from the formatted page, the installed paths (the scenarios, /tmp/r) point
# at this tree and a fresh folder, and the programs are found on PATH. The
# wizard runs in a terminal of 80 x 24 (tmux), typed into as a person would;
# the run must leave the account's dial-up entry and a launcher that dials
# it, and end with the line that says so. The closing page and the end of
# the run are kept in SHOT-DIR.
# Usage: man_example.sh JOINWIZ LINESIM SOURCE-DIR SHOT-DIR
set -uo pipefail

joinwiz=$(realpath "$1")
linesim=$(realpath "$2")
source_dir=$(realpath "$3")
shots=$4
name=man_example
here="$(cd "$(dirname "$0")" && pwd)"
command -v tmux >/dev/null || { echo "skip [$name]: tmux is not installed"; exit 77; }
command -v groff >/dev/null || { echo "skip [$name]: groff is not installed"; exit 77; }
source "$here/lib.sh"
make_workspace e2e_tmux
socket="vlr-man-$$"
pane=example
trap 'tmux -L "$socket" kill-server 2>/dev/null; rm -rf "$work"' EXIT
source "$here/tmux_lib.sh"
mkdir -p "$shots"

# The example as a reader sees it: the indented lines of EXAMPLES from the
# first command to the one that starts joinwiz.
LC_ALL=C groff -man -Tascii -P-cbou "$source_dir/man/joinwiz.1" 2>/dev/null |
  sed -n '/^EXAMPLES/,/^SEE ALSO/p' | sed -n '/^ *linesim /,/^ *joinwiz /p' | sed 's/^ *//' >"$work/example"
grep -q '^joinwiz --root /tmp/r$' "$work/example" || fail "no joinwiz command in the example: $(cat "$work/example")"
grep -q 'scenarios/' "$work/example" || fail "the example names no scenario: $(cat "$work/example")"
scenario=$(grep -o 'scenarios/[a-z-]*\.txt' "$work/example")
grep -q '^send TRANSFER:' "$source_dir/data/$scenario" || fail "$scenario ends without TRANSFER:"

# This tree's programs and scenarios; a fresh folder for /tmp/r and the home.
mkdir -p "$work/bin" "$work/home"
ln -s "$joinwiz" "$work/bin/joinwiz"
ln -s "$linesim" "$work/bin/linesim"
sed -e "s#/usr/share/veloran/scenarios/#$source_dir/data/scenarios/#" -e "s#/tmp/r#$work/r#g" \
  "$work/example" >"$work/example.sh"
{
  echo 'trap '\''kill $(jobs -p) 2>/dev/null'\'' EXIT'
  cat "$work/example.sh"
} >"$work/run.sh"

tmux -f /dev/null -L "$socket" new-session -d -s "$pane" -x 80 -y 24 \
  "cd '$work' && PATH='$work/bin':\$PATH HOME='$work/home' XDG_DATA_HOME='$work/home/.local/share' \
   XDG_CONFIG_HOME='$work/home/.config' XDG_DESKTOP_DIR='$work/home/Desktop' \
   VLR_DATA_DIR='$source_dir/data' VLR_LOG='$work/log' VLR_LOG_LEVEL=info TERM=xterm-256color \
   bash '$work/run.sh'; echo \"exit \$?\" > '$work/exit'; sleep 60"

wait_for "Welcome to the Veloran Network"
keys M-n
wait_for "Please read the following Terms of Service"
keys M-y
wait_for "To set up a new account"
keys M-n
wait_for "To begin the registration procedure"
type_text "John"; keys Tab; type_text "Smith"; keys Tab Tab
type_text "12 Main Street"; keys Tab Tab; type_text "Springfield"; keys Tab
type_text "IL"; keys Tab; type_text "62701"; keys Tab; type_text "217"; keys Tab
type_text "555-1234"
wait_for "555-1234"
keys M-n
wait_for "Please select a User ID and Password"
type_text "jsmith"; keys Tab; type_text "secret1"; keys Tab; type_text "secret1"
keys M-n
wait_for "Modem Setup will try to detect your modem"
keys M-n
wait_for "Modem Setup has detected the following modem settings"
keys M-n
wait_for "Dialing Information"
keys M-n
wait_for "You are now ready to dial into the Veloran Network"
keys M-n
wait_for "Please select a pricing plan"
wait_for "hours a month"
keys Enter
wait_for "Please select a Veloran Network phone number"
keys Enter
wait_for "Your Account has been Created!"
wait_for "Desktop."
screen >"$shots/closing-page.txt"
keys M-f
for _ in $(seq 100); do [ -f "$work/exit" ] && break; sleep 0.1; done
[ -f "$work/exit" ] || fail "the example did not end after Finish"
[ "$(cat "$work/exit")" = "exit 0" ] || fail "the example ended with $(cat "$work/exit")"
wait_for "Set up: "
# The run's last line is longer than the pane: read back joined.
tmux -L "$socket" capture-pane -p -J -t "$pane" >"$work/screen"
cp "$work/screen" "$shots/end-of-run.txt"

# What the run left: the entry in the root's phone book, and a launcher
# (in the root or the user's folders) that dials it.
peers=$(find "$work/r/phonebook/peers" -type f 2>/dev/null | head -n1)
[ -n "$peers" ] || fail "no dial-up entry in $work/r/phonebook/peers"
grep -q '^connect ' "$peers" || fail "the entry $peers has no connect line"
safe=$(basename "$peers")
launcher=$(grep -rlx "Exec=.*joinwiz --root .* --connect $safe" "$work/r" "$work/home" --include='*.desktop' | head -n1)
[ -n "$launcher" ] || fail "no launcher that dials $safe"
grep -q '^POPNUMBER=.\+' "$work/r/drive_c/veloran/Joinwiz.ini" || fail "no access number in the profile"
# The run's last line names both, and nothing as missing but menu items.
line=$(grep '^Set up: ' "$work/screen" | head -n1)
[[ "$line" == *"the dial-up entry \"Tarkel - Veloran Account\" with access number ("* ]] ||
  fail "the end of the run does not name the entry: $(cat "$work/screen")"
[[ "$line" == *", 1 launcher;"* ]] ||
  fail "the end of the run does not name the launcher: $(cat "$work/screen")"
echo "ok [$name]: $peers, $launcher"
