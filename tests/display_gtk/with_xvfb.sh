#!/usr/bin/env bash
# Runs COMMAND... with DISPLAY set to a fresh Xvfb server of its own; exits
# 77 (skipped) when Xvfb is not installed.
set -uo pipefail
command -v Xvfb >/dev/null || { echo "SKIP: Xvfb is not installed"; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/xvfb_XXXXXX")
exec 3> >(cat > "$work/display.no")
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
exec 3>&-
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display.no" ] && break; sleep 0.05; done
[ -s "$work/display.no" ] || { echo "Xvfb did not start: $(cat "$work/xvfb.log")" >&2; exit 1; }
DISPLAY=":$(head -n1 "$work/display.no")" GSK_RENDERER=cairo GDK_BACKEND=x11 NO_AT_BRIDGE=1 \
  ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" "$@"
