#!/usr/bin/env bash
# Runs joinwiz from the welcome page through the modem pages to the
# registration call, against linesim's modem and reference server.
# Usage: registration_case.sh JOINWIZ LINESIM CASE-FOLDER
#
# The case folder holds:
#   linesim        linesim's options after --root (one line); SCENARIOS/ stands
#                  for the shipped data/scenarios/ folder, CASE/ for the case
#                  folder (a scenario of its own)
#   options        KEY=VALUE lines: account=existing walks the pages as a user
#                  with an account (default: a new account); network=rfc2217
#                  puts COM2 behind ser2net (rfc2217://127.0.0.1:PORT)
#   script         the steps from the dialing page on; the walk to it
#                  (registration_cases/walk_new or walk_existing) goes first
#   exit           the expected exit code (default 0)
#   transcript     lines that must appear in the transcript, in this order
#   ini            checks of section "User Information" of the saved
#                  Joinwiz.ini: KEY=VALUE exactly, !KEY absent
#   linesim_trace  lines the linesim trace must hold (substrings); a line
#                  starting with ! must not be in it
#   log            lines joinwiz's log must hold (substrings), the same way
#   registry       the same kind of lines for the HKEY_CURRENT_USER hive
#   setup          bash run before joinwiz starts, in the system root (ROOT
#                  and WORK name the root and the work folder): files or
#                  links a case needs in place
#   check          bash run after the run, likewise; a non-zero exit fails
#                  the case (what it prints says why)
#   options log_level=debug runs joinwiz with VLR_LOG_LEVEL=debug (default info)
# COM1, COM3 and COM4 are links to nothing, so detection never touches the
# machine's own serial ports.
# With VLR_E2E_SHARE set (an installed share/veloran folder) the run takes
# the scenarios from there and lets joinwiz find its installed side files
# itself, as an installed program does.
set -uo pipefail

joinwiz=$1
linesim=$2
case_dir=$3
name=$(basename "$case_dir")

source "$(dirname "$0")/lib.sh"
scenarios="$data/scenarios"
data_env=(VLR_DATA_DIR="$data")
if [ -n "${VLR_E2E_SHARE:-}" ]; then
  scenarios="$VLR_E2E_SHARE/scenarios"
  data_env=()
fi
make_workspace e2e_reg

absent_com_ports 1 3 4
sim_args=$(sed "s#SCENARIOS/#$scenarios/#g; s#CASE/#$case_dir/#g" "$case_dir/linesim")
read -r -a words <<< "$sim_args"
start_linesim "$linesim" "$root" "${words[@]}"
[ "$(option network)" = "rfc2217" ] && serve_over_rfc2217 2

if [ -f "$case_dir/setup" ]; then
  (cd "$root" && ROOT="$root" WORK="$work" bash "$case_dir/setup") || fail "setup failed"
fi

walk="$here/registration_cases/walk_new"
[ "$(option account)" = "existing" ] && walk="$here/registration_cases/walk_existing"
cat "$walk" "$case_dir/script" > "$work/script"

log_level=$(option log_level)
env -u VLR_DATA_DIR "${data_env[@]}" VLR_LOG="$work/log" VLR_LOG_LEVEL="${log_level:-info}" \
  "$joinwiz" --root "$root" --answers "$work/script" --transcript "$work/transcript" \
  >"$work/stdout" 2>"$work/stderr" </dev/null
code=$?
kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
sim_pid=
[ -n "$s2n_pid" ] && kill "$s2n_pid" 2>/dev/null && wait "$s2n_pid" 2>/dev/null
s2n_pid=

check_exit "$code"
check_transcript
if [ -f "$case_dir/ini" ]; then
  check_user_values
  if [ "$values_checked" = 1 ]; then
    user_value COMINFO >/dev/null || fail "COMINFO is missing"
    check_modem_values
  fi
fi
[ -f "$case_dir/linesim_trace" ] && check_lines_in "$work/linesim.trace" "$case_dir/linesim_trace" "linesim trace"
[ -f "$case_dir/log" ] && check_lines_in "$work/log" "$case_dir/log" "log"
[ -f "$case_dir/registry" ] &&
  check_lines_in "$root/registry/hkey_current_user.reg" "$case_dir/registry" "HKEY_CURRENT_USER hive"

if [ -f "$case_dir/check" ]; then
  why=$(cd "$root" && ROOT="$root" WORK="$work" bash "$case_dir/check" 2>&1) || fail "check: $why"
fi

echo "ok [$name]"
