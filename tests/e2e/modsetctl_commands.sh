#!/usr/bin/env bash
# modsetctl's record commands and its answers to bad input: records as
# KEY=VALUE text and back, exit codes, a TARK_NET.INI that is a folder or
# damaged, and the POP list at its 512-entry limit.
# Usage: modsetctl_commands.sh MODSETCTL
set -uo pipefail

modsetctl=$1
name=modsetctl_commands
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/lib.sh"
make_workspace e2e
export VLR_ROOT="$root"
settings="$root/drive_c/windows/TARK_NET.INI"

# Runs modsetctl; sets out, err and rc.
run() {
  out=$("$modsetctl" "$@" 2>"$work/err" </dev/null)
  rc=$?
  err=$(cat "$work/err")
}
expect_rc() { [ "$rc" = "$1" ] || fail "modsetctl $2: exit $rc, expected $1 ($err)"; }

run --help
expect_rc 0 --help
[[ "$out" == *"put RECORD KEY=VALUE"* ]] || fail "--help does not show put"

run get dialing
expect_rc 0 "get dialing"
[ "$out" = $'DialType=1\nDisableCallWaiting=\nDialPrefix=\nDialLongDistance=1\nDialBlind=0' ] || fail "defaults: $out"
[[ "$err" == *"never stored"* ]] || fail "defaults are not said: $err"

run put modem PortName=COM3 CommPort=2 BaudRate=13 "SetupString= M0" SpeakerOff=1
expect_rc 0 "put modem"
run get modem
[[ "$out" == *$'PortName=COM3\nCommPort=2\nBaudRate=13\n'* ]] || fail "modem: $out"
[[ "$out" == *$'SetupString= M0'* ]] || fail "the leading blank is lost: $out"
grep -qx 'Setup String=" M0"' "$settings" || fail "setup string not quoted in the file"

# Bad command lines change nothing.
cp "$settings" "$work/before"
for bad in "put modem Bogus=1" "put modem BaudRate=12x" "put modem BaudRate=99999999999" \
           "put dialing DialPrefix=12345678901234567" "put nsv Pop=TOOLONG=555" "put nsv Pop=nonumber" \
           "get nothing" "put modem" "setup x" "access other" "frobnicate"; do
  read -r -a words <<< "$bad"
  run "${words[@]}"
  expect_rc 2 "$bad"
done
cmp -s "$work/before" "$settings" || fail "a refused command changed TARK_NET.INI"

# The POP list at its limit: 512 entries in, 512 out.
args=()
for i in $(seq 0 511); do args+=("Pop=P$i=415-555-$(printf %04d "$i")"); done
run put nsv AreaCode=415 UseSelectedPop=1 SelectedAccess=415-555-0511 "${args[@]}"
expect_rc 0 "put nsv with 512 POPs"
run get nsv
[ "$(grep -c '^Pop=' <<< "$out")" = 512 ] || fail "the POP list does not read back whole"
grep -q '^Pop=P511=415-555-0511$' <<< "$out" || fail "the last POP is missing"
run put nsv "${args[@]}" Pop=P512=415-555-0512
expect_rc 2 "put nsv with 513 POPs"
run number
expect_rc 0 number
[ "$out" = 5550511 ] || fail "number: $out"

# A damaged file: records read as defaults, other lines stay.
printf '\x01\x02junk\n[PPU]\nKey=1\n[Modem Information]\nBaud Rate=zz\n' > "$settings"
run get modem
expect_rc 0 "get modem from a damaged file"
[[ "$out" == *"BaudRate=0"* ]] || fail "letters read as 0: $out"
run put modem BaudRate=5
expect_rc 0 "put into a damaged file"
grep -q '^Key=1$' "$settings" || fail "another program's section was lost"

# TARK_NET.INI that is a folder: clear failures, nothing written.
rm -f "$settings"
mkdir "$settings"
run get modem
expect_rc 4 "get modem from a folder"
[[ "$err" == *"CFG_E_READ"* ]] || fail "the read failure is not named: $err"
run put modem BaudRate=5
expect_rc 4 "put modem into a folder"
# put reads the record first, so the fields not named keep their values.
[[ "$err" == *"CFG_E_READ"* ]] || fail "the failure is not named: $err"
[ -z "$(ls -A "$settings")" ] || fail "something was written into the folder"

# A dialog without any display fails at once instead of waiting.
run setup
expect_rc 4 "setup without a display"
[[ "$err" == *"CFG_E_UI"* ]] || fail "no display: $err"
VLR_UI=headless run setup
expect_rc 4 "setup headless without a script"
VLR_UI=headless VLR_ANSWERS="$work/missing" run setup
expect_rc 4 "setup headless with a missing script"

echo "ok [$name]"
