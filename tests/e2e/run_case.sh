#!/usr/bin/env bash
# Runs joinwiz once, unattended, on a fresh system root and checks the result.
# Usage: run_case.sh JOINWIZ CASE-FOLDER
#
# The case folder holds:
#   script       the answers (scripted user steps)
#   args         more command-line words (optional; "ROOT" is replaced by the root)
#   options      KEY=VALUE lines for this driver (optional):
#                  root_name=NAME   name of the root folder (default root)
#                  no_help=1        ship the side files without Vlrhelp.hlp
#                  exe_name=NAME    run a copy of the program named NAME; its
#                                   profile is then NAME.ini
#   preset         lines of a Joinwiz.ini already in the program directory
#                (optional; the shipped sections are added before them)
#   exit         the expected exit code (default 0)
#   transcript   lines that must appear in the transcript, in this order
#                (each is a substring of one transcript line)
#   ini          checks of section "User Information" of the saved Joinwiz.ini:
#                  KEY=VALUE   the key holds exactly that value
#                  !KEY        the key is absent
#   log          substrings that must appear in the program's log (info level)
set -uo pipefail

joinwiz=$1
case_dir=$2
name=$(basename "$case_dir")
here="$(cd "$(dirname "$0")" && pwd)"
src_data="$(cd "$here/../../data" && pwd)"
work=$(mktemp -d "${TMPDIR:-/tmp}/e2e_${name}_XXXXXX")
trap 'rm -rf "$work"' EXIT

source "$here/lib.sh"

root_name=$(option root_name)
root="$work/${root_name:-root}"
# The program directory inside a root (platform/storage/system_root.h).
program="$root/drive_c/veloran"
ini="$program/Joinwiz.ini"
mkdir -p "$program" "$root/dosdevices"
# COM ports: COM1 stands for a modem the telephony check can count (no case
# here opens it), COM2 to COM4 resolve to nothing, so a run never depends on
# the machine's own serial ports.
ln -s /dev/null "$root/dosdevices/com1"
absent_com_ports 2 3 4

exe_name=$(option exe_name)
if [ -n "$exe_name" ]; then
  # A renamed copy elsewhere: its libraries come from the build's folder.
  mkdir -p "$work/bin"
  cp "$joinwiz" "$work/bin/$exe_name"
  export LD_LIBRARY_PATH="$(dirname "$joinwiz")${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
  joinwiz="$work/bin/$exe_name"
  ini="$program/$exe_name.ini"
fi

data="$src_data"
if [ "$(option no_help)" = "1" ]; then
  data="$work/data"
  mkdir -p "$data"
  for f in "$src_data"/*.*; do
    [ "$(basename "$f")" = "Vlrhelp.hlp" ] || cp "$f" "$data/"
  done
fi

if [ -f "$case_dir/preset" ]; then
  { cat "$src_data/Joinwiz.ini"; echo; cat "$case_dir/preset"; } > "$ini"
  chmod 600 "$ini"
fi

extra=()
if [ -f "$case_dir/args" ]; then
  read -r -a extra < <(sed "s#ROOT#$root#g" "$case_dir/args")
fi

VLR_DATA_DIR="$data" VLR_LOG="$work/log" VLR_LOG_LEVEL=info \
  "$joinwiz" --root "$root" --answers "$case_dir/script" --transcript "$work/transcript" "${extra[@]}" \
  >"$work/stdout" 2>"$work/stderr" </dev/null
code=$?

check_exit "$code"
check_transcript

if [ -f "$case_dir/ini" ]; then
  check_user_values
  mode=$(stat -c %a "$ini")
  [ "$mode" = 600 ] || fail "Joinwiz.ini has mode $mode, expected 600 (it holds the password)"
  if [ -z "$exe_name" ]; then
    grep -q '^\[Dialing Information\]' "$ini" || fail "the shipped section \"Dialing Information\" was lost"
  else
    grep -qi '^\[User Information\]' "$program/Joinwiz.ini" && fail "the renamed program wrote into Joinwiz.ini"
  fi
fi

[ -f "$case_dir/log" ] && check_lines_in "$work/log" "$case_dir/log" "log"

echo "ok [$name]"
