#!/usr/bin/env bash
# `VLR_DEMO_UI=gtk scripts/demo` under Xvfb with a window manager (openbox):
# the demo needs no terminal and opens the wizard's desktop window on the
# welcome page ("Registration Wizard"), photographed into SHOT-DIR. Closing
# the wizard ends the demo, which stops linesim and says where its files are.
# Usage: demo_desktop.sh SOURCE-DIR BUILD-DIR SHOT-DIR
set -uo pipefail

source_dir=$1
build_dir=$2
shots=$3
name=demo_desktop
source "$(dirname "$0")/desktop_lib.sh"
start_desktop e2e "$shots"

# No terminal: standard input and output are files, as from a desktop's
# launcher. GTK's exit is not leak-checked (not ours to prove).
ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" GSK_RENDERER=cairo GDK_BACKEND=x11 NO_AT_BRIDGE=1 \
  VLR_DEMO_UI=gtk VLR_DEMO_DIR="$work/demo" \
  "$source_dir/scripts/demo" "$build_dir" </dev/null >"$work/demo.out" 2>&1 &
app_pid=$!

win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Registration Wizard$' | head -n1)
[ -n "$win" ] || fail "no desktop window \"Registration Wizard\": $(cat "$work/demo.out")"
# Only the welcome page has this caption.
photograph_when_painted "$win" "$shots/welcome.png" || echo "note [$name]: the welcome page was not drawn within 10 s"

wizard_pid=$(xdotool getwindowpid "$win") || fail "the window has no process"
grep -q joinwiz "/proc/$wizard_pid/cmdline" || fail "window \"Registration Wizard\" is not the wizard's"
tr '\0' ' ' <"/proc/$wizard_pid/cmdline" | grep -q -- '--ui gtk' || fail "the demo did not ask for the desktop window"
kill "$wizard_pid"
wait "$app_pid"
app_pid=
grep -q '^demo: joinwiz ended with exit code' "$work/demo.out" || fail "the demo did not report the end: $(cat "$work/demo.out")"
grep -q '^demo: wizard log' "$work/demo.out" || fail "no log path: $(cat "$work/demo.out")"
grep -q "^ready" "$work/demo/linesim.out" || fail "linesim did not get ready: $(cat "$work/demo/linesim.out")"
echo "ok [$name]"
