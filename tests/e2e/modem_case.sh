#!/usr/bin/env bash
# Runs joinwiz through the modem pages against linesim's simulated modems.
# Usage: modem_case.sh JOINWIZ LINESIM CASE-FOLDER
#
# The case folder holds what run_case.sh reads (script, preset, exit,
# transcript, ini), and:
#   linesim      linesim's options after --root (one line; may be empty: no
#                modem at all, linesim then is not started)
#   options      KEY=VALUE lines: isolated=1 runs a copy of joinwiz from a
#                folder of its own (nothing beside it, so no modsetctl)
# COM1 to COM4 that linesim does not simulate are links to nothing, so
# detection never touches the machine's own serial ports.
set -uo pipefail

joinwiz=$1
linesim=$2
case_dir=$3
name=$(basename "$case_dir")
data="$(cd "$(dirname "$0")/../../data" && pwd)"
work=$(mktemp -d "${TMPDIR:-/tmp}/e2e_modem_${name}_XXXXXX")
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
  for f in transcript stderr linesim.trace; do
    [ -f "$work/$f" ] && { echo "--- $f" >&2; cat "$work/$f" >&2; }
  done
  [ -f "$ini" ] && { echo "--- Joinwiz.ini" >&2; cat "$ini" >&2; }
  exit 1
}

option() {
  [ -f "$case_dir/options" ] && sed -n "s/^$1=//p" "$case_dir/options" | head -n1
}

sim_args=$(cat "$case_dir/linesim" 2>/dev/null || true)
for n in 1 2 3 4; do
  [[ " $sim_args " == *" COM$n"[=\ ]* || " $sim_args " == *"=COM$n "* ]] && continue
  ln -s "$work/absent/com$n" "$root/dosdevices/com$n"
done
if [ -n "${sim_args// }" ]; then
  read -r -a words <<< "$sim_args"
  "$linesim" --root "$root" "${words[@]}" --trace "$work/linesim.trace" >"$work/linesim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -q '^ready' "$work/linesim.out" 2>/dev/null && break
    kill -0 "$sim_pid" 2>/dev/null || fail "linesim ended: $(cat "$work/linesim.out")"
    sleep 0.05
  done
  grep -q '^ready' "$work/linesim.out" || fail "linesim did not get ready"
fi

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

VLR_DATA_DIR="$data" VLR_LOG="$work/log" VLR_LOG_LEVEL=info \
  "$joinwiz" --root "$root" --answers "$case_dir/script" --transcript "$work/transcript" \
  >"$work/stdout" 2>"$work/stderr" </dev/null
code=$?

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
  [ -f "$ini" ] || fail "Joinwiz.ini was not saved"
  while IFS= read -r check || [ -n "$check" ]; do
    [ -z "$check" ] && continue
    key=${check%%=*}
    want=${check#*=}
    value=$(user_value "$key") || fail "$key is missing"
    [ "$value" = "$want" ] || fail "$key is '$value', expected '$want'"
  done < "$case_dir/ini"
  for key in COMPORT COMSPEED MODEMINIT; do
    value=$(user_value "$key") || fail "$key is missing"
    [[ "$value" == *" "* ]] && fail "$key holds a blank: '$value'"
  done
fi

if [ -f "$case_dir/linesim_trace" ]; then
  while IFS= read -r want || [ -n "$want" ]; do
    [ -z "$want" ] && continue
    grep -qF -- "$want" "$work/linesim.trace" || fail "linesim trace lacks: $want"
  done < "$case_dir/linesim_trace"
fi

echo "ok [$name]"
