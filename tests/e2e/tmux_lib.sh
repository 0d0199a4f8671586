# A program in a pane of a tmux server of the test's own, read and typed
# into as a person at a terminal would. Sourced, not run; the driver sets
# socket (the server's name), pane (its session) and work, and defines fail.

# The pane's text now.
screen() { tmux -L "$socket" capture-pane -p -t "$pane"; }
# Keys by tmux's names (Tab, Enter, M-n).
keys() { tmux -L "$socket" send-keys -t "$pane" "$@"; }
# Literal text, as typed.
type_text() { tmux -L "$socket" send-keys -t "$pane" -l "$1"; }

# Waits (real time: another process in another terminal) until the pane
# holds TEXT; the pane is then in $work/screen.
wait_for() {
  local i
  for i in $(seq 100); do
    screen > "$work/screen"
    grep -qF -- "$1" "$work/screen" && return 0
    sleep 0.1
  done
  echo "--- pane" >&2
  cat "$work/screen" >&2
  [ -f "$work/log" ] && { echo "--- log" >&2; tail -n 30 "$work/log" >&2; }
  fail "the pane never showed \"$1\""
}

# Waits (at most 5 s) until two captures of the pane 0.1 s apart are the
# same: the program has finished drawing. The pane is then in $work/screen.
settle() {
  local i last now
  now=$(screen)
  for i in $(seq 50); do
    last=$now
    sleep 0.1
    now=$(screen)
    [ "$now" = "$last" ] && break
  done
  printf '%s\n' "$now" > "$work/screen"
}

# Sends KEYS (tmux's names) and waits for what they draw: until the pane
# changes (at most 2 s, what a key that changes nothing costs), then until
# it holds still. The pane is then in $work/screen.
keys_and_redraw() {
  local before i
  before=$(screen)
  keys "$@"
  for i in $(seq 40); do
    [ "$(screen)" != "$before" ] && break
    sleep 0.05
  done
  settle
}
