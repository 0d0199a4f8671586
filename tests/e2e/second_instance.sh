#!/usr/bin/env bash
# A second joinwiz on the same root shows the stop box, asks the running copy
# to come to the front, and ends with 0; the running copy is undisturbed.
# Usage: second_instance.sh JOINWIZ
set -uo pipefail
joinwiz=$1
source "$(dirname "$0")/lib.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/e2e_second_XXXXXX")
first_pid=
cleanup() {
  [ -n "$first_pid" ] && kill "$first_pid" 2>/dev/null && wait "$first_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL [second_instance]: $*" >&2
  for f in first.transcript first.log first.stderr second.transcript second.stderr; do
    [ -f "$work/$f" ] && { echo "--- $f" >&2; cat "$work/$f" >&2; }
  done
  exit 1
}

cat > "$work/first.script" <<'SCRIPT'
wait 104
# Stays up until the test ends it.
timeout 120
expect-text 2006 this text never appears
SCRIPT
cat > "$work/second.script" <<'SCRIPT'
expect-message Only one instance of the Veloran Network Regerstration application may run at a time
answer OK
SCRIPT

VLR_LOG="$work/first.log" VLR_LOG_LEVEL=info "$joinwiz" --root "$work/root" \
  --answers "$work/first.script" --transcript "$work/first.transcript" \
  >/dev/null 2>"$work/first.stderr" </dev/null &
first_pid=$!

# Until the first copy shows its window (it is a real program starting up).
wait_for_line "$work/first.transcript" 'dialog 104' 60 "$first_pid" ||
  fail "the first copy never showed its window (or ended early)"

"$joinwiz" --root "$work/root" --answers "$work/second.script" --transcript "$work/second.transcript" \
  >/dev/null 2>"$work/second.stderr" </dev/null
code=$?
[ "$code" = 0 ] || fail "second copy exit code $code, expected 0"
grep -q 'message-box "joinwiz" icon stop "Only one instance of the Veloran Network Regerstration application may run at a time"' \
  "$work/second.transcript" || fail "second copy did not show the stop box"
grep -q 'dialog 104' "$work/second.transcript" && fail "second copy made a wizard window"

wait_for_line "$work/first.log" 'brought to the front' 60 "$first_pid" ||
  fail "the running copy was not asked to come to the front"
kill -0 "$first_pid" 2>/dev/null || fail "the running copy ended"

# Another root is another wizard: no stop box there.
cat > "$work/other.script" <<'SCRIPT'
wait 104
key Esc
SCRIPT
"$joinwiz" --root "$work/other" --answers "$work/other.script" --transcript "$work/other.transcript" \
  >/dev/null 2>&1 </dev/null || fail "a copy on another root did not run"
grep -q 'dialog 104' "$work/other.transcript" || fail "a copy on another root showed no window"
echo "ok [second_instance]"
