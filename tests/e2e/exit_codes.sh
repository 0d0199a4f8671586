#!/usr/bin/env bash
# joinwiz's exit codes for a run that cannot start: 2 for a bad command
# line, 4 for an unusable system root or display; each with its message on
# standard error and nothing shown.
# Usage: exit_codes.sh JOINWIZ
set -uo pipefail
joinwiz=$1
here="$(cd "$(dirname "$0")" && pwd)"
name=exit_codes
source "$here/lib.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/e2e_exit_XXXXXX")
trap 'rm -rf "$work"' EXIT
printf 'wait 104\nkey Esc\n' > "$work/script"
# ncurses leaks its screen record when it cannot start a terminal; that is
# the library's, and the sanitizer must not turn exit code 4 into 1.
printf 'leak:new_prescr\n' > "$work/lsan.supp"

# Runs joinwiz with the given words; checks the exit code and that standard
# error holds TEXT.
expect_exit() {
  local want=$1 text=$2 code
  shift 2
  "$@" >"$work/stdout" 2>"$work/stderr" </dev/null
  code=$?
  [ "$code" = "$want" ] || fail "$*: exit code $code, expected $want; stderr: $(cat "$work/stderr")"
  grep -qF -- "$text" "$work/stderr" || fail "$*: standard error lacks: $text; it holds: $(cat "$work/stderr")"
}

expect_exit 2 "option --ui takes gtk, terminal or headless, not 'paper'" "$joinwiz" --root "$work/r1" --ui paper
grep -qF "Usage: joinwiz" "$work/stderr" || fail "a bad option prints no usage text"
expect_exit 2 "option --root needs a folder" "$joinwiz" --root= --answers "$work/script"
expect_exit 2 "--ui headless needs --answers" "$joinwiz" --root "$work/r2" --ui headless
expect_exit 2 "standard input is not a terminal" "$joinwiz" --root "$work/r3"
expect_exit 2 "cannot be used with --ui terminal" "$joinwiz" --root "$work/r4" --ui terminal --answers "$work/script"

# The desktop asked for without any X or Wayland server (GTK's own start-up
# allocations are not ours to check for leaks).
if [ -f "$(dirname "$joinwiz")/libdisplay-gtk.so" ]; then
  expect_exit 4 "cannot open the gtk display" env -u DISPLAY -u WAYLAND_DISPLAY \
    ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" "$joinwiz" --root "$work/r6" --ui gtk
fi

# A system root that is a plain file.
echo x > "$work/plain"
expect_exit 4 "is not a folder" "$joinwiz" --root "$work/plain" --answers "$work/script"
[ -f "$work/plain" ] && [ "$(cat "$work/plain")" = x ] || fail "the plain file given as root was changed"

# A terminal the terminal display cannot start: on a pseudo-terminal (script)
# with a TERM that no terminfo entry describes.
cat > "$work/term.sh" <<SH
TERM=no-such-terminal-vlr LSAN_OPTIONS=suppressions=$work/lsan.supp "$joinwiz" --root "$work/r5" --ui terminal 2>"$work/term.stderr"
echo \$? > "$work/term.code"
SH
timeout 60 script -qec "bash $work/term.sh" /dev/null >/dev/null 2>&1 </dev/null
code=$(cat "$work/term.code" 2>/dev/null)
[ "$code" = 4 ] || fail "unusable terminal: exit code '$code', expected 4; stderr: $(cat "$work/term.stderr" 2>/dev/null)"
grep -qF "cannot open the terminal display: cannot start the terminal (TERM=no-such-terminal-vlr)" "$work/term.stderr" ||
  fail "unusable terminal: standard error lacks the reason: $(cat "$work/term.stderr")"

# The answers script through a pipe runs like one in a file; a folder is
# refused with its reason.
"$joinwiz" --root "$work/r7" --answers /dev/stdin <"$work/script" >"$work/stdout" 2>"$work/stderr" ||
  fail "answers through a pipe: exit code $?; stderr: $(cat "$work/stderr")"
printf 'wait 104\nkey Esc\n' | "$joinwiz" --root "$work/r8" --answers /dev/stdin >"$work/stdout" 2>"$work/stderr" ||
  fail "answers through a pipe: exit code $?; stderr: $(cat "$work/stderr")"
expect_exit 3 "cannot read the answers script $work: cannot read $work: is a folder" "$joinwiz" --root "$work/r9" --answers "$work"

echo "ok [exit_codes]"
