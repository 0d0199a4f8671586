#!/usr/bin/env bash
# Runs `modsetctl` with the scripted user against linesim's simulated modems
# and checks what it stored in TARK_NET.INI.
# Usage: modset_case.sh MODSETCTL LINESIM CASE-FOLDER
#
# The case folder holds:
#   args         modsetctl's arguments (one line), e.g. "detect --line"
#   linesim      linesim's options after --root (one line; empty: no modem)
#   script       the scripted user's steps (VLR_ANSWERS)
#   exit         modsetctl's expected exit code (default 0)
#   transcript   lines expected in the transcript, in order
#   settings     lines expected in TARK_NET.INI ("!TEXT": must be absent)
#   preset       TARK_NET.INI before the run (optional)
# COM1 to COM4 that linesim does not simulate are links to nothing.
set -uo pipefail

modsetctl=$1
linesim=$2
case_dir=$3
name=$(basename "$case_dir")

source "$(dirname "$0")/lib.sh"
make_workspace e2e_modset
settings="$root/drive_c/windows/TARK_NET.INI"
start_case_linesim "$linesim"
if [ -f "$case_dir/preset" ]; then
  mkdir -p "$(dirname "$settings")"
  cp "$case_dir/preset" "$settings"
fi
[ -f "$settings" ] && cp "$settings" "$work/settings.before"

read -r -a args < "$case_dir/args"
VLR_ROOT="$root" VLR_UI=headless VLR_ANSWERS="$case_dir/script" VLR_TRANSCRIPT="$work/transcript" \
  VLR_LOG="$work/log" VLR_LOG_LEVEL=info \
  "$modsetctl" "${args[@]}" >"$work/stdout" 2>"$work/stderr" </dev/null
code=$?

check_exit "$code"
check_transcript
if [ -f "$case_dir/settings" ]; then
  [ -f "$settings" ] || fail "TARK_NET.INI was not written"
  check_lines_in "$settings" "$case_dir/settings" "TARK_NET.INI"
fi
if [ "$(option unchanged)" = "1" ]; then
  if [ -f "$work/settings.before" ]; then
    cmp -s "$work/settings.before" "$settings" || fail "TARK_NET.INI changed: $(cat "$settings")"
  else
    [ -f "$settings" ] && fail "TARK_NET.INI was written: $(cat "$settings")"
  fi
fi

echo "ok [$name]"
