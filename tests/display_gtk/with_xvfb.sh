#!/usr/bin/env bash
# Runs COMMAND... with DISPLAY set to a fresh Xvfb server of its own; exits
# 77 (skipped) when Xvfb is not installed.
set -uo pipefail
command -v Xvfb >/dev/null || { echo "SKIP: Xvfb is not installed"; exit 77; }
name=with_xvfb
source "$(cd "$(dirname "$0")/../e2e" && pwd)/lib.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/xvfb_XXXXXX")
trap 'kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; rm -rf "$work"' EXIT
start_xvfb
GSK_RENDERER=cairo GDK_BACKEND=x11 NO_AT_BRIDGE=1 ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" "$@"
