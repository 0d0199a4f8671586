#!/usr/bin/env bash
# scripts/demo in a terminal (tmux): a scenario name that does not exist is
# refused with the names there are, before anything is made; the build
# folder may be given as an absolute path.
# Usage: demo_script.sh SOURCE-DIR BUILD-DIR
set -uo pipefail

source_dir=$1
build_dir=$2
name=demo_script
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/lib.sh"
make_workspace e2e
socket="vlr-demo-$$"
pane=demo
export TMUX_TMPDIR="$work"
trap 'tmux -L "$socket" kill-server 2>/dev/null; rm -rf "$work"' EXIT
source "$here/tmux_lib.sh"

# The demo's own output goes to the terminal (it insists on one); the pane
# is read back.
tmux -f /dev/null -L "$socket" new-session -d -s "$pane" -x 100 -y 40 \
  "VLR_DEMO_DIR='$work/demo' VLR_DEMO_SCENARIO=no-such-scenario '$source_dir/scripts/demo' '$build_dir'; echo \"rc=\$?\"; sleep 60"
wait_for "rc="
out="$work/screen"
grep -q '^rc=1$' "$out" || fail "demo did not end with 1: $(cat "$out")"
grep -q 'no scenario .*no-such-scenario.txt' "$out" || fail "no refusal: $(cat "$out")"
for f in "$source_dir"/data/scenarios/*.txt; do
  grep -qx "  $(basename "$f" .txt)" "$out" || fail "$(basename "$f" .txt) is not listed: $(cat "$out")"
done
[ -e "$work/demo" ] && fail "the demo made its folder for a scenario it refused"
echo "ok [$name]"
