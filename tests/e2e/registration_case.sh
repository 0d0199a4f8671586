#!/usr/bin/env bash
# Runs joinwiz from the welcome page through the modem pages to the
# registration call, against linesim's modem and reference server.
# Usage: registration_case.sh JOINWIZ LINESIM CASE-FOLDER
#
# The case folder holds:
#   linesim        linesim's options after --root (one line); SCENARIOS/ stands
#                  for the shipped data/scenarios/ folder
#   options        KEY=VALUE lines: account=existing walks the pages as a user
#                  with an account (default: a new account)
#   script         the steps from the dialing page on; the walk to it
#                  (registration_cases/walk_new or walk_existing) goes first
#   exit           the expected exit code (default 0)
#   transcript     lines that must appear in the transcript, in this order
#   ini            checks of section "User Information" of the saved
#                  Joinwiz.ini: KEY=VALUE exactly, !KEY absent
#   linesim_trace  lines the linesim trace must hold (substrings); a line
#                  starting with ! must not be in it
# COM1, COM3 and COM4 are links to nothing, so detection never touches the
# machine's own serial ports.
set -uo pipefail

joinwiz=$1
linesim=$2
case_dir=$3
name=$(basename "$case_dir")
here="$(cd "$(dirname "$0")" && pwd)"
data="$(cd "$here/../../data" && pwd)"
work=$(mktemp -d "${TMPDIR:-/tmp}/e2e_reg_${name}_XXXXXX")
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

root="$work/root"
program="$root/drive_c/veloran"
ini="$program/Joinwiz.ini"
mkdir -p "$program" "$root/dosdevices"

fail() {
  echo "FAIL [$name]: $*" >&2
  for f in transcript stderr linesim.trace linesim.out; do
    [ -f "$work/$f" ] && { echo "--- $f" >&2; cat "$work/$f" >&2; }
  done
  [ -f "$ini" ] && { echo "--- Joinwiz.ini" >&2; cat "$ini" >&2; }
  exit 1
}

option() {
  [ -f "$case_dir/options" ] && sed -n "s/^$1=//p" "$case_dir/options" | head -n1
}

for n in 1 3 4; do
  ln -s "$work/absent/com$n" "$root/dosdevices/com$n"
done
sim_args=$(sed "s#SCENARIOS/#$data/scenarios/#g" "$case_dir/linesim")
read -r -a words <<< "$sim_args"
"$linesim" --root "$root" "${words[@]}" --trace "$work/linesim.trace" >"$work/linesim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 200); do
  grep -q '^ready' "$work/linesim.out" 2>/dev/null && break
  kill -0 "$sim_pid" 2>/dev/null || fail "linesim ended: $(cat "$work/linesim.out")"
  sleep 0.05
done
grep -q '^ready' "$work/linesim.out" || fail "linesim did not get ready"

walk="$here/registration_cases/walk_new"
[ "$(option account)" = "existing" ] && walk="$here/registration_cases/walk_existing"
cat "$walk" "$case_dir/script" > "$work/script"

VLR_DATA_DIR="$data" VLR_LOG="$work/log" VLR_LOG_LEVEL=info \
  "$joinwiz" --root "$root" --answers "$work/script" --transcript "$work/transcript" \
  >"$work/stdout" 2>"$work/stderr" </dev/null
code=$?
kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
sim_pid=

want_exit=0
[ -f "$case_dir/exit" ] && want_exit=$(tr -d '[:space:]' < "$case_dir/exit")
[ "$code" = "$want_exit" ] || fail "exit code $code, expected $want_exit"

if [ -f "$case_dir/transcript" ]; then
  line_no=0
  total=$(wc -l < "$work/transcript")
  while IFS= read -r want || [ -n "$want" ]; do
    [ -z "$want" ] && continue
    found=0
    while [ "$line_no" -lt "$total" ]; do
      line_no=$((line_no + 1))
      got=$(sed -n "${line_no}p" "$work/transcript")
      if [[ "$got" == *"$want"* ]]; then found=1; break; fi
    done
    [ "$found" = 1 ] || fail "transcript lacks (in order): $want"
  done < "$case_dir/transcript"
fi

user_value() {
  awk -v key="$1" '
    /^[ \t]*\[/ { inside = (tolower($0) ~ /^[ \t]*\[user information\]/); next }
    inside {
      eq = index($0, "="); if (eq == 0) next
      k = substr($0, 1, eq - 1); gsub(/^[ \t]+|[ \t]+$/, "", k)
      if (toupper(k) == toupper(key)) { v = substr($0, eq + 1); gsub(/\r$/, "", v); print v; found = 1; exit }
    }
    END { if (!found) exit 1 }' "$ini"
}

if [ -f "$case_dir/ini" ]; then
  [ -f "$ini" ] || fail "Joinwiz.ini is missing"
  saved=0
  while IFS= read -r check || [ -n "$check" ]; do
    [ -z "$check" ] && continue
    if [[ "$check" == !* ]]; then
      key=${check#!}
      if value=$(user_value "$key"); then fail "$key should be absent, is '$value'"; fi
    else
      saved=1
      key=${check%%=*}
      want=${check#*=}
      value=$(user_value "$key") || fail "$key is missing"
      [ "$value" = "$want" ] || fail "$key is '$value', expected '$want'"
    fi
  done < "$case_dir/ini"
  if [ "$saved" = 1 ]; then
    for key in COMINFO COMPORT COMSPEED MODEMINIT; do
      value=$(user_value "$key") || fail "$key is missing"
      [ "$key" = COMINFO ] && continue
      [[ "$value" == *" "* ]] && fail "$key holds a blank: '$value'"
    done
  fi
fi

if [ -f "$case_dir/linesim_trace" ]; then
  while IFS= read -r want || [ -n "$want" ]; do
    [ -z "$want" ] && continue
    if [[ "$want" == !* ]]; then
      grep -qF -- "${want#!}" "$work/linesim.trace" && fail "linesim trace holds: ${want#!}"
    else
      grep -qF -- "$want" "$work/linesim.trace" || fail "linesim trace lacks: $want"
    fi
  done < "$case_dir/linesim_trace"
fi

echo "ok [$name]"
