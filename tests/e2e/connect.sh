#!/usr/bin/env bash
# joinwiz --connect with the real pppd and chat against a linesim modem on a
# pseudo-terminal. pppd runs behind a wrapper that preloads the test shim
# pointing /dev/ppp at /dev/null, so it dials and then fails to start PPP as
# a kernel without PPP would.
# Usage: connect.sh JOINWIZ LINESIM SHIM MODE
#   connect      the dial, CONNECT, then the sentence of no kernel support
#   busy | no-carrier | no-dialtone
#                the modem's answer and its sentence
#   cancel       Cancel while the number rings: pppd ends, its lock is gone
#   holder       a process holding the port is named before Connect dials
#   holder-wizard
#                the same before the wizard's modem detection (go on) and
#                before its registration call (stop there)
#   modem-manager
#                the holder is a program named ModemManager: how to stop it
#   not-installed
#                an entry missing from the pppd folder: the install command
#   not-permitted
#                a user outside dip (a fresh uid): the usermod command
set -uo pipefail

joinwiz=$1
linesim=$2
shim=$3
mode=$4
name=connect_$mode
case_dir=/nonexistent
here="$(cd "$(dirname "$0")" && pwd)"

source "$here/lib.sh"
make_workspace e2e_connect
holder_pid=
trap '[ -n "$holder_pid" ] && kill "$holder_pid" 2>/dev/null
      [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT
PATH="$PATH:/usr/sbin:/sbin"
command -v pppd >/dev/null && command -v chat >/dev/null || fail "pppd and chat are missing (scripts/install-deps)"
[ -f "$shim" ] || fail "no shim at $shim"

number=8005550147
case $mode in
  busy) target=busy ;;
  no-carrier) target=no-carrier ;;
  no-dialtone) target=no-dialtone ;;
  cancel) target=no-answer ;;
  *) target="scenario:$here/dialup/access.txt" ;;
esac
absent_com_ports 1 3 4 5 6 7 8 9
start_linesim "$linesim" "$root" --modem COM2=generic --dial "$number=$target"
tty=$(readlink -f "$root/dosdevices/com2")
[ -c "$tty" ] || fail "COM2 is not a terminal: $tty"

# The account's entry in the root as the wizard leaves it, then installed
# into a pppd folder of the run's own.
book="$root/phonebook"
mkdir -p "$book/peers" "$book/chatscripts"
cat >"$book/peers/tarkel-veloran-account" <<PEERS
# entry "Tarkel - Veloran Account"
# name servers 0.0.0.0 0.0.0.0
"$tty"
115200
crtscts
modem
lock
noauth
noipdefault
defaultroute
hide-password
remotename tarkel-veloran-account
ipparam tarkel-veloran-account
user "jsmith"
connect "/usr/sbin/chat -v -s -f $book/chatscripts/tarkel-veloran-account"
PEERS
printf "ABORT BUSY\nABORT 'NO CARRIER'\nABORT 'NO DIALTONE'\nABORT 'NO DIAL TONE'\nABORT 'NO ANSWER'\nABORT ERROR\nTIMEOUT 60\n'' ATZ\nOK 'ATDT%s'\nCONNECT ''\n" \
  "$number" >"$book/chatscripts/tarkel-veloran-account"
printf '"jsmith" tarkel-veloran-account "secret1"\n' >"$book/pap-secrets"
cp "$book/pap-secrets" "$book/chap-secrets"
chmod 600 "$book/pap-secrets" "$book/chap-secrets"
etc="$work/etc-ppp"
mkdir -p "$etc"
if [ "$mode" != not-installed ]; then
  "$joinwiz" --root "$root" --install-dialup --ppp-dir "$etc" >"$work/install.out" 2>&1 ||
    fail "install: $(cat "$work/install.out")"
fi

printf '#!/bin/sh\nLD_PRELOAD=%s exec %s "$@"\n' "$shim" "$(command -v pppd)" >"$work/pppd"
chmod 755 "$work/pppd"

wizard_script() {
  # The registration road to the modem pages, as modem_cases/found walks it.
  sed -n '1,/^wait 110$/p' "$here/modem_cases/found/script"
  echo 'click 3031'
  echo "expect-message $tty is in use by sleep"
  echo 'answer OK'
  echo 'wait 113'
  echo 'expect-text 3040 COM2'
  echo 'click 3031'
  echo 'wait 115'
  echo 'click 3031'
  echo 'wait 116'
  echo 'click 3031'
  echo "expect-message $tty is in use by sleep"
  echo 'answer Cancel'
  echo 'wait 116'
  echo 'key Esc'
}
if [ "$mode" = holder-wizard ]; then
  wizard_script >"$work/script"
else {
  echo 'wait "Connect"'
  echo "expect-text 3201 jsmith"
  echo "expect-text 3202 $number"
  echo 'click "Dial"'
  echo 'timeout 90'
  case $mode in
    connect) echo 'wait "Connecting"'; echo 'expect-text 3210 kernel has no PPP support'; echo 'click 3212' ;;
    busy) echo 'wait "Connecting"'; echo 'expect-text 3210 The line is busy'; echo 'click 3212' ;;
    no-carrier) echo 'wait "Connecting"'; echo 'expect-text 3210 did not answer (no carrier)'; echo 'click 3212' ;;
    no-dialtone) echo 'wait "Connecting"'; echo 'expect-text 3210 There is no dial tone'; echo 'click 3212' ;;
    cancel) echo 'wait "Connecting"'; echo "expect-text 3210 Dialing $number"; echo 'click 3212' ;;
    holder) echo "expect-message $tty is in use by sleep"; echo 'answer Cancel' ;;
    modem-manager) echo "expect-message $tty is in use by ModemManager"
                   echo 'expect-message sudo systemctl stop ModemManager'; echo 'answer Cancel' ;;
    not-installed) echo 'expect-message is not installed for the system'
                   echo 'expect-message --install-dialup'; echo 'answer OK' ;;
    not-permitted) echo 'wait "Connecting"'; echo 'expect-text 3210 Join the dip group with: sudo usermod -aG dip'
                   echo 'click 3212' ;;
  esac
} >"$work/script"
fi

if [ "$mode" = holder ] || [ "$mode" = holder-wizard ]; then
  # A test child with the port open, as a terminal program would have it.
  sleep 300 <"$tty" &
  holder_pid=$!
elif [ "$mode" = modem-manager ]; then
  # The same child under ModemManager's name (its /proc comm and command).
  cp "$(command -v sleep)" "$work/ModemManager"
  "$work/ModemManager" 300 <"$tty" &
  holder_pid=$!
fi

pppd_program="$work/pppd"
connect_args=(--connect --ppp-dir "$etc")
if [ "$mode" = holder-wizard ]; then
  connect_args=()
  cp "$here/../../data/Joinwiz.ini" "$ini"
fi
run=("$joinwiz" --root "$root" "${connect_args[@]}" --answers "$work/script" --transcript "$work/transcript")
if [ "$mode" = not-permitted ]; then
  chmod 755 "$work"
  touch "$work/log" "$work/transcript" && chmod 666 "$work/log" "$work/transcript"
  # pppd itself (root:dip, not for others): the wrapper would hide its refusal.
  pppd_program=$(command -v pppd)
  run=(setpriv --reuid 54321 --regid 54321 --clear-groups "${run[@]}")
fi
VLR_PPPD="$pppd_program" VLR_LOG="$work/log" VLR_LOG_LEVEL=info "${run[@]}" >"$work/stdout" 2>"$work/stderr" </dev/null
code=$?
case $mode in
  cancel|holder|holder-wizard|modem-manager) want=0 ;;
  *) want=1 ;;
esac
[ "$code" = "$want" ] || fail "exit code $code, expected $want: $(cat "$work/log")"

logged() { grep -qF -- "$1" "$work/log" || fail "the log lacks: $1"$'\n'"$(cat "$work/log")"; }
case $mode in
  connect)
    wait_for_line "$work/linesim.trace" "ATDT$number" 10 "$sim_pid" ||
      fail "linesim saw no dial: $(cat "$work/linesim.trace")"
    logged "status: Dialing $number..."
    logged "status: Modem: CONNECT"
    logged "Couldn't set tty to PPP discipline"
    ;;
  busy|no-carrier|no-dialtone)
    word=${target^^}
    logged "Failed (${word//-/ })"
    ;;
  cancel)
    pid=$(sed -n 's/.*pppd started, process \([0-9]*\):.*/\1/p' "$work/log")
    [ -n "$pid" ] || fail "the log names no pppd process"
    kill -0 "$pid" 2>/dev/null && fail "pppd $pid is still running after Cancel"
    logged "SIGTERM to pppd"
    # pppd's UUCP lock (LCK..NAME holding its pid) is gone.
    for lock in /var/lock/LCK..* /run/lock/LCK..*; do
      [ -f "$lock" ] && [ "$(tr -d ' \n' <"$lock")" = "$pid" ] && fail "pppd's lock file $lock is left"
    done
    # Nothing has the port open any more.
    for fd in /proc/[0-9]*/fd/*; do
      [ "$(readlink "$fd" 2>/dev/null)" = "$tty" ] && fail "$fd still has $tty open"
    done
    ;;
  holder)
    grep -qF "process $holder_pid: sleep 300" "$work/transcript" || fail "the holder is not named: $(cat "$work/transcript")"
    grep -q "pppd started" "$work/log" && fail "pppd ran although the user stopped at the holder's message"
    ;;
  holder-wizard)
    [ "$(grep -cF "process $holder_pid: sleep 300" "$work/transcript")" -ge 2 ] ||
      fail "the holder is not named twice (detection, the call): $(cat "$work/transcript")"
    grep -q "dialing .* to register" "$work/log" && fail "the call was made although the user stopped"
    ;;
  not-installed)
    grep -qF -- "--root $root --install-dialup" "$work/transcript" || fail "no install command: $(cat "$work/transcript")"
    ;;
esac
check_transcript
echo "ok [$name]"
