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
session="vlr-demo-$$"
export TMUX_TMPDIR="$work"
trap 'tmux kill-server 2>/dev/null; rm -rf "$work"' EXIT

# The demo's own output goes to the terminal (it insists on one); the pane
# is read back.
out="$work/out"
tmux new-session -d -s "$session" -x 100 -y 40 \
  "VLR_DEMO_DIR='$work/demo' VLR_DEMO_SCENARIO=no-such-scenario '$source_dir/scripts/demo' '$build_dir'; echo \"rc=\$?\"; sleep 60"
for _ in $(seq 100); do
  tmux capture-pane -p -t "$session" >"$out" 2>/dev/null
  grep -q '^rc=' "$out" && break
  sleep 0.1
done
grep -q '^rc=1$' "$out" || fail "demo did not end with 1: $(cat "$out")"
grep -q 'no scenario .*no-such-scenario.txt' "$out" || fail "no refusal: $(cat "$out")"
for f in "$source_dir"/data/scenarios/*.txt; do
  grep -qx "  $(basename "$f" .txt)" "$out" || fail "$(basename "$f" .txt) is not listed: $(cat "$out")"
done
[ -e "$work/demo" ] && fail "the demo made its folder for a scenario it refused"
echo "ok [$name]"
