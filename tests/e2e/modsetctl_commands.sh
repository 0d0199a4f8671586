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
[[ "$out" == *"DialType      tone, pulse"* ]] || fail "--help does not name the values"
wide=$(awk 'length > 80' <<< "$out")
[ -z "$wide" ] || fail "--help is wider than 80 columns: $wide"
run --version
expect_rc 0 --version
[[ "$out" =~ ^modsetctl\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version: $out"

run number
expect_rc 1 "number with nothing chosen"
[ -z "$out" ] && [[ "$err" == *"no access number is chosen yet"* ]] || fail "number with nothing chosen: '$out' $err"

run get dialing
expect_rc 0 "get dialing"
[ "$out" = $'DialType=tone\nDisableCallWaiting=\nDialPrefix=\nDialLongDistance=1\nDialBlind=no' ] || fail "defaults: $out"
[[ "$err" == *"never stored"* ]] || fail "defaults are not said: $err"

# The README's example: prefix "9," (9 and a pause), tone dialing.
run put dialing DialPrefix=9, DialType=tone
expect_rc 0 "put dialing by name"
run get dialing
[[ "$out" == *$'DialType=tone\n'*$'DialPrefix=9,\n'* ]] || fail "dialing: $out"
grep -qx 'Dial Type=' "$settings" || fail "tone is the default, stored empty"
run put dialing DialType=0 DialBlind=yes
expect_rc 0 "put dialing by number"
run get dialing
[[ "$out" == *"DialType=pulse"*"DialBlind=yes"* ]] || fail "dialing by number: $out"
run put dialing DialBlind=no

run put modem PortName=COM3 CommPort=COM3 BaudRate=28800 "SetupString= M0" SpeakerOff=1 FlowControl=rts-cts
expect_rc 0 "put modem"
run get modem
[[ "$out" == *$'PortName=COM3\nCommPort=COM3\nBaudRate=28800\nFlowControl=rts-cts\nSpeakerOff=yes\n'* ]] || fail "modem: $out"
grep -qx 'Baud Rate=13' "$settings" || fail "28800 is not speed code 13"
run put modem BaudRate=4 FlowControl=12
expect_rc 0 "put modem by numbers"
run get modem
[[ "$out" == *$'BaudRate=4\nFlowControl=12\n'* ]] || fail "numbers without a name: $out"
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
# Values outside a field's range, each refused with what the field takes.
while IFS='|' read -r bad says; do
  read -r -a words <<< "$bad"
  run "${words[@]}"
  expect_rc 2 "$bad"
  [ "$err" = "modsetctl: ${words[2]}: $says" ] || fail "$bad: $err"
done <<'EOF_CASES'
put dialing DialType=7|DialType takes tone or pulse (1 or 0)
put dialing DialBlind=2|DialBlind takes no or yes (0 or 1)
put modem CommPort=4|CommPort takes COM1 to COM4 (0 to 3)
put modem BaudRate=300|BaudRate takes a speed (2400 to 115200) or a speed code 0 to 13
put modem FlowControl=-1|FlowControl takes none, rts-cts, or flag bits 0 to 255
put zrs PrimaryAccessTimeout=1000|PrimaryAccessTimeout takes seconds, 0 to 255
EOF_CASES
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
expect_rc 3 "setup headless with a missing script"
# A script step that cannot be done ends the dialog, not the program: the
# command says so and exits with 3, and the library writes nothing itself.
printf 'wait 30101\ncheck 128\n' > "$work/answers"
VLR_UI=headless VLR_ANSWERS="$work/answers" run setup
expect_rc 3 "setup with a failing script"
[ "$err" = "modsetctl: the setup dialog failed: the answers script $work/answers did not get through it (VLR_LOG=FILE says why)" ] ||
  fail "failing script: $err"
VLR_UI=headless VLR_ANSWERS="$work/answers" VLR_LOG="$work/log" run setup
expect_rc 3 "setup with a failing script and a log"
grep -q '^ERROR headless: script line 2: check 128: control 128 is not a check box' "$work/log" ||
  fail "the log does not say why: $(cat "$work/log")"

echo "ok [$name]"
