# Helpers of the desktop drivers (desktop_road.sh, desktop_message_box.sh,
# desktop_find_modem.sh, demo_desktop.sh), on top of lib.sh: the desktop
# itself, a window manager, the program's CPU time, its windows counted,
# placed and photographed. Sourced (it sources lib.sh).

source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# Skips the test (exit 77) where the X tools are missing; otherwise makes
# the workspace (make_workspace PREFIX), empties the photographs' folder
# SHOTS, starts an X server and openbox, and at exit ends linesim, the
# program under test (app_pid), openbox and the X server and removes the
# workspace.
start_desktop() {
  local prefix=$1 shots=$2 tool
  for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
  make_workspace "$prefix"
  mkdir -p "$shots"
  rm -f "$shots"/*.png
  start_xvfb
  trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; [ -n "${app_pid:-}" ] && kill "$app_pid" 2>/dev/null; [ -n "${wm_pid:-}" ] && kill "$wm_pid" 2>/dev/null; kill "$xvfb_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
  start_window_manager
}

# Starts the program under test as a desktop program: GTK on the X server
# drawn by cairo, no accessibility bus, and no leak check of GTK's exit (not
# ours to prove). Runs the rest of the arguments (VAR=value ... program
# args) with no terminal; its output goes to $work/stdout and
# $work/stderr. Sets app_pid.
start_desktop_program() {
  ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" GSK_RENDERER=cairo GDK_BACKEND=x11 NO_AT_BRIDGE=1 \
    env "$@" >"$work/stdout" 2>"$work/stderr" </dev/null &
  app_pid=$!
}

# Waits (at most 30 s) until no window of process PID named exactly
# CAPTION is on the screen; fails when one stays.
window_gone() {
  local pid=$1 caption=$2 i
  for i in $(seq 300); do
    [ -z "$(xdotool search --all --onlyvisible --pid "$pid" --name "^${caption}\$" 2>/dev/null)" ] && return 0
    sleep 0.1
  done
  fail "window \"$caption\" is still on the screen"
}

# Starts openbox on $DISPLAY and waits (at most 30 s) until it manages the
# screen, which it announces on the root window (_NET_SUPPORTING_WM_CHECK).
# Sets wm_pid.
start_window_manager() {
  local i
  command -v openbox >/dev/null || fail "openbox is not installed (scripts/install-deps)"
  HOME="$work" XDG_CONFIG_HOME="$work/config" openbox --sm-disable >"$work/openbox.log" 2>&1 &
  wm_pid=$!
  for i in $(seq 300); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    kill -0 "$wm_pid" 2>/dev/null || fail "openbox ended: $(cat "$work/openbox.log")"
    sleep 0.1
  done
  fail "openbox did not take the screen"
}

# CPU time so far of process PID in clock ticks, threads that ended included
# (/proc/PID/stat, utime + stime).
cpu_ticks() {
  awk '{ print $14 + $15 }' /proc/"$1"/stat
}

# Fails unless process PID uses under 1% of one CPU during SECONDS of real
# time (a measuring window, not a wait for an event). The window opens once
# three seconds in a row have gone by without a tick of CPU and the program
# is asleep (at most 15 tries): the one-off work of a new window (painting, GTK's icon
# loading in a worker thread, a redraw of about a second that GTK sometimes
# makes some three seconds after a window appears) is done by then, and a window of
# several seconds makes what a busy machine delays a small share, while a
# program that spins never gets under 1%. WHAT names the state for the
# message; the figure is printed either way.
check_idle() {
  local pid=$1 seconds=$2 what=$3 a b i ticks tck hundredths
  local quiet=0
  for i in $(seq 15); do
    a=$(cpu_ticks "$pid"); sleep 1; b=$(cpu_ticks "$pid")
    if [ "$a" = "$b" ] && [ "$(awk '{ print $3 }' /proc/"$pid"/stat)" = S ]; then
      quiet=$((quiet + 1))
      [ "$quiet" -ge 3 ] && break
    else
      quiet=0
    fi
  done
  tck=$(getconf CLK_TCK)
  a=$(cpu_ticks "$pid")
  sleep "$seconds"
  b=$(cpu_ticks "$pid")
  ticks=$((b - a))
  hundredths=$((ticks * 10000 / (seconds * tck)))
  printf 'cpu [%s]: %d.%02d%% of one CPU over %d s while %s\n' "$name" $((hundredths / 100)) $((hundredths % 100)) \
    "$seconds" "$what"
  [ "$hundredths" -lt 100 ] || fail "$hundredths/100 % CPU while $what"
}

# The visible top-level windows of process PID, X ids one a line.
client_windows() {
  xdotool search --all --onlyvisible --pid "$1" 2>/dev/null | sort -u
}

# The newest visible window of process PID named exactly CAPTION (waits for
# it at most 30 s); fails when there is none.
window_named() {
  local pid=$1 caption=$2 win= i
  for i in $(seq 300); do
    win=$(xdotool search --all --onlyvisible --pid "$pid" --name "^${caption}\$" 2>/dev/null | tail -n1)
    [ -n "$win" ] && { echo "$win"; return 0; }
    sleep 0.1
  done
  fail "no window \"$caption\""
}

# "X Y" of window WIN's top-left corner on the screen.
window_place() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF } END { print x, y }'
}

# Photographs window WIN into FILE and fails unless it shows more than a
# flat colour: a window that was mapped but never drawn is one colour, a
# drawn box has its text, icon and buttons in many shades.
check_painted() {
  local win=$1 file=$2 what=$3 colours
  import -window "$win" "$file" 2>/dev/null || fail "cannot photograph $what"
  colours=$(convert "$file" -format %k info:)
  [ "${colours:-0}" -ge 16 ] || fail "$what is not painted ($colours colours in $file)"
}

# Photographs window WIN into FILE once it is drawn: a poll (at most 10 s)
# until the photograph shows more than a flat colour, for a program that
# writes no transcript to say when it painted. False when it never did.
photograph_when_painted() {
  local win=$1 file=$2 i colours
  for i in $(seq 100); do
    if import -window "$win" "$file" 2>/dev/null; then
      colours=$(convert "$file" -format %k info: 2>/dev/null)
      [ "${colours:-0}" -ge 16 ] && return 0
    fi
    sleep 0.1
  done
  return 1
}

# Clicks the close button that the window manager draws in the title bar
# of window WIN (openbox puts it at the right end). xwininfo tells where the
# window really is on the screen, frame or not.
click_close_button() {
  local x y width top
  x=$(xwininfo -id "$1" | sed -n 's/^ *Absolute upper-left X: *//p')
  y=$(xwininfo -id "$1" | sed -n 's/^ *Absolute upper-left Y: *//p')
  width=$(xwininfo -id "$1" | sed -n 's/^ *Width: *//p')
  top=$(xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.*= *[0-9]*, *[0-9]*, *\([0-9]*\),.*/\1/p')
  [ -n "$top" ] && [ "$top" -gt 4 ] || fail "window $1 has no title bar (frame extents: $top)"
  xdotool mousemove --sync $((x + width - 8)) $((y - top / 2)) click 1
}

# Fails unless the picture FILE has legible ink: its most common colour is
# taken as the background, and at least PERMILLE thousandths of its pixels
# must stand out from it by a contrast ratio of 4.5 or more (the WCAG figure
# for body text). Pale text on a pale canvas, or an empty window, fails.
check_contrast() {
  local file=$1 what=$2 permille=${3:-5}
  convert "$file" -alpha off -depth 8 -format %c histogram:info:- 2>/dev/null | awk -v what="$what" -v want="$permille" '
    function lin(c) { c /= 255; return c <= 0.03928 ? c / 12.92 : ((c + 0.055) / 1.055) ^ 2.4 }
    function lum(r, g, b) { return 0.2126 * lin(r) + 0.7152 * lin(g) + 0.0722 * lin(b) }
    {
      n = $1 + 0; sub(/^[^(]*\(/, ""); sub(/\).*/, ""); split($0, c, ",")
      count[NR] = n; l[NR] = lum(c[1], c[2], c[3]); total += n
      if (n > most) { most = n; bg = NR }
    }
    END {
      for (i in count) {
        hi = l[i] > l[bg] ? l[i] : l[bg]; lo = l[i] > l[bg] ? l[bg] : l[i]
        if ((hi + 0.05) / (lo + 0.05) >= 4.5) ink += count[i]
      }
      share = total ? int(1000 * ink / total) : 0
      printf "contrast [%s]: %d/1000 of the pixels stand out from the background by 4.5:1 or more\n", what, share
      exit share < want
    }' || fail "$what: too little legible ink in $file"
}

# Waits for page ID to be painted (after the transcript's first SEEN lines),
# checks that it is the program's one window on the screen and sits where
# the first page sat, photographs it into $shots, checks its contrast and
# gives it the keyboard. Uses app_pid, transcript and shots; sets page.
page=0
first_place=
seen=0
on_page() {
  local id=$1 caption=$2 win count place
  wait_for_line "$transcript" "painted $id" 60 "$app_pid" "$seen" || fail "page $id was never painted"
  page=$((page + 1))
  win=$(window_named "$app_pid" "$caption")
  count=$(client_windows "$app_pid" | wc -l)
  [ "$count" -eq 1 ] || fail "page $id: $count windows on the screen, the wizard's one expected"
  place=$(window_place "$win")
  [ -n "$first_place" ] || first_place=$place
  [ "$place" = "$first_place" ] || fail "page $id sits at $place, the first page at $first_place"
  xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus --sync "$win" || fail "cannot focus \"$caption\""
  shot="$shots/$(printf '%02d' "$page")-$id.png"
  import -window "$win" "$shot" 2>/dev/null || fail "cannot photograph page $id"
  check_contrast "$shot" "page $id"
  seen=$(wc -l < "$transcript")
}

# The message box CAPTION has come (after the transcript's first $seen
# lines): waits for its paint, photographs it into SHOT and checks that it
# is drawn with legible ink and, when CLOSE is Return, that the program
# sleeps while it waits; then closes it with CLOSE (a key, or "button" for
# the close button of its title bar). WHAT names the box in messages. Sets
# seen to the transcript's lines before the close.
check_and_close_box() {
  local close=$1 caption=$2 shot=$3 what=$4 box
  wait_for_line "$transcript" "painted 0" 60 "$app_pid" "$seen" || fail "the box was never painted"
  box=$(window_named "$app_pid" "$caption")
  check_painted "$box" "$shot" "$what"
  check_contrast "$shot" "$what"
  [ "$close" = Return ] && check_idle "$app_pid" 8 "$what waits"
  seen=$(wc -l < "$transcript")
  if [ "$close" = button ]; then
    click_close_button "$box"
  else
    xdotool windowactivate --sync "$box" 2>/dev/null || true
    keys "$close"
  fi
}

# From the welcome page (104) through the terms (Yes by its mnemonic), the
# introduction and the personal information of John Smith to "Account
# Information" (page 105).
pages_to_account_information() {
  on_page 104 "Registration Wizard"
  keys Return
  on_page 2002 "Terms of Service Agreement"
  keys alt+y
  on_page 109 "Introduction"
  keys Return
  on_page 102 "Personal Information"
  text "John"; keys Tab; text "Smith"; keys Tab Tab
  text "12 Main Street"; keys Tab Tab; text "Springfield"; keys Tab
  text "il"; keys Tab; text "62701"; keys Tab; text "217"; keys Tab; text "555-1234"
  keys Return
  on_page 105 "Account Information"
}

# From "Modem Setup" (page 110) with Next on every page, as the simulated
# modem and server agree, to "Registration Complete" (page 120).
modem_pages_to_the_end() {
  on_page 110 "Modem Setup"
  keys Return
  on_page 113 "Modem Found"
  keys Return
  on_page 115 "Dialing Information"
  keys Return
  on_page 116 "Dialing the Network"
  keys Return
  on_page 120 "Registration Complete"
}

keys() { xdotool key --delay 30 "$@"; }
text() { xdotool type --delay 20 -- "$1"; }
