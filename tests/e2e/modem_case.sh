#!/usr/bin/env bash
# Runs joinwiz through the modem pages against linesim's simulated modems.
# Usage: modem_case.sh JOINWIZ LINESIM CASE-FOLDER
#
# The case folder holds what run_case.sh reads (script, preset, exit,
# transcript, ini), and:
#   linesim      linesim's options after --root (one line; may be empty: no
#                modem at all, linesim then is not started)
#   options      KEY=VALUE lines: isolated=1 runs a copy of joinwiz from a
#                folder of its own (nothing beside it, so no modsetctl);
#                panel=1: the modem control panel that joinwiz starts
#                (modsetctl setup, beside it) follows panel_script, and its
#                transcript and TARK_NET.INI are checked against
#                panel_transcript and panel_settings
#   log          lines expected in joinwiz's log
# COM1 to COM4 that linesim does not simulate are links to nothing, so
# detection never touches the machine's own serial ports.
set -uo pipefail

joinwiz=$1
linesim=$2
case_dir=$3
name=$(basename "$case_dir")

source "$(dirname "$0")/lib.sh"
make_workspace e2e_modem
start_case_linesim "$linesim"

if [ "$(option isolated)" = "1" ]; then
  mkdir -p "$work/bin"
  cp "$joinwiz" "$work/bin/joinwiz"
  export LD_LIBRARY_PATH="$(dirname "$joinwiz")${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
  joinwiz="$work/bin/joinwiz"
fi

if [ -f "$case_dir/preset" ]; then
  { cat "$data/Joinwiz.ini"; echo; cat "$case_dir/preset"; } > "$ini"
  chmod 600 "$ini"
fi

# The control panel inherits the environment: its scripted user and root.
panel_env=()
if [ "$(option panel)" = "1" ]; then
  panel_env=(VLR_ROOT="$root" VLR_UI=headless VLR_ANSWERS="$case_dir/panel_script"
             VLR_TRANSCRIPT="$work/panel_transcript")
fi

env "${panel_env[@]}" VLR_DATA_DIR="$data" VLR_LOG="$work/log" VLR_LOG_LEVEL=info \
  "$joinwiz" --root "$root" --answers "$case_dir/script" --transcript "$work/transcript" \
  >"$work/stdout" 2>"$work/stderr" </dev/null
code=$?

if [ "$(option panel)" = "1" ]; then
  # The panel runs on its own; wait for its last step.
  last=$(tail -n1 "$case_dir/panel_transcript")
  for _ in $(seq 400); do
    grep -qF -- "$last" "$work/panel_transcript" 2>/dev/null && break
    sleep 0.05
  done
  check_lines_in "$work/panel_transcript" "$case_dir/panel_transcript" "the control panel's transcript"
  check_lines_in "$root/drive_c/windows/TARK_NET.INI" "$case_dir/panel_settings" "TARK_NET.INI"
fi
[ -f "$case_dir/log" ] && check_lines_in "$work/log" "$case_dir/log" "joinwiz's log"

check_exit "$code"
check_transcript
if [ -f "$case_dir/ini" ]; then
  check_user_values
  check_modem_values
fi
[ -f "$case_dir/linesim_trace" ] && check_lines_in "$work/linesim.trace" "$case_dir/linesim_trace" "linesim trace"

echo "ok [$name]"
