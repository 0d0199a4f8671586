#!/usr/bin/env bash
# A whole registration run that configures the computer, then the real
# Linux tools on what it wrote: pppd parses the entry's peers file,
# chat dials the access number through a linesim modem on a pseudo-terminal,
# desktop-file-validate accepts every .desktop file, and --install-dialup /
# --remove-dialup move the entry in and out of a pppd folder that holds
# another provider.
# Usage: dialup_entry.sh JOINWIZ LINESIM [config|transfer]
#   config    the server sends CONFIG: AUTO itself; the access number is
#             already in the profile
#   transfer  the server ends with TRANSFER:: the wizard takes the plan's one
#             access number from phones.txt, makes the entry and shortcuts
set -uo pipefail

joinwiz=$1
linesim=$2
mode=${3:-config}
name=dialup_entry_$mode
case_dir=/nonexistent
here="$(cd "$(dirname "$0")" && pwd)"
data="$(cd "$here/../../data" && pwd)"

source "$here/lib.sh"
make_workspace e2e_dialup

for tool in pppd chat desktop-file-validate; do
  command -v "$tool" >/dev/null || PATH="$PATH:/usr/sbin:/sbin" command -v "$tool" >/dev/null ||
    fail "$tool is missing (scripts/install-deps installs it)"
done
PATH="$PATH:/usr/sbin:/sbin"

# The access number the entry dials; the wizard's profile holds it as the
# server's access-number choice leaves it.
cp "$data/Joinwiz.ini" "$ini"
if [ "$mode" = transfer ]; then
  printf '\n[User Information]\nDNS1=10.1.2.3\nDNS2=\n' >> "$ini"
  cp "$here/dialup/phones.txt" "$program/phones.txt"
else
  printf '\n[User Information]\nPOPAREACODE=800\nPOPNUMBER=555-0147\nDNS1=10.1.2.3\nDNS2=\n' >> "$ini"
fi

absent_com_ports 1 3 4 5 6 7 8 9
start_linesim "$linesim" "$root" --modem COM2=generic \
  --dial "5550100=scenario:$here/dialup/$([ "$mode" = transfer ] && echo transfer || echo configure).txt" \
  --dial "8005550147=scenario:$here/dialup/access.txt"

cat "$here/registration_cases/walk_new" - > "$work/script" <<'EOF'
wait 116
click 3031
wait 120
click 3033
EOF

VLR_DATA_DIR="$data" VLR_LOG="$work/log" VLR_LOG_LEVEL=info \
  "$joinwiz" --root "$root" --answers "$work/script" --transcript "$work/transcript" \
  >"$work/stdout" 2>"$work/stderr" </dev/null
check_exit $?

peers="$root/phonebook/peers/tarkel-veloran-account"
chat_script="$root/phonebook/chatscripts/tarkel-veloran-account"
[ -f "$peers" ] || fail "no peers file: $(cat "$work/log")"
grep -q 'user "jsmith"' "$peers" || fail "the peers file has not the account's user: $(cat "$peers")"
grep -q '"jsmith" tarkel-veloran-account "secret1"' "$root/phonebook/pap-secrets" || fail "no secrets line"
[ "$(stat -c %a "$root/phonebook/pap-secrets")" = 600 ] || fail "pap-secrets is not 0600"
grep -q "nameserver 10.1.2.3" "$root/phonebook/ip-up.d/tarkel-veloran-account" || fail "no name-server hook"

# The closing output names the entry, the install command and the dial.
grep -q "Install it for the system: sudo .* --install-dialup" "$work/stdout" || fail "no install command: $(cat "$work/stdout")"
grep -q "Dial it: pon tarkel-veloran-account" "$work/stdout" || fail "no dial command: $(cat "$work/stdout")"

# pppd's own option parser: 0, or 4 where the kernel has no PPP; 2 is an
# option error.
pppd file "$peers" dryrun nodetach >"$work/pppd.out" 2>&1
code=$?
[ "$code" = 0 ] || [ "$code" = 4 ] || fail "pppd exit $code on the peers file: $(cat "$work/pppd.out") $(cat "$peers")"

# Every .desktop and .directory file of the run.
count=0
while IFS= read -r -d '' f; do
  desktop-file-validate "$f" >"$work/validate.out" 2>&1 || fail "desktop-file-validate refused $f: $(cat "$work/validate.out")"
  count=$((count + 1))
done < <(find "$root" \( -name '*.desktop' -o -name '*.directory' \) -print0)
[ "$count" -ge 1 ] || fail "no .desktop file written"
if [ "$mode" = transfer ]; then
  launcher="$root/desktop/Tarkel - Veloran Account.desktop"
  [ -f "$launcher" ] || fail "no desktop launcher"
  grep -qx "Exec=.*joinwiz --root .* --connect tarkel-veloran-account" "$launcher" || fail "the launcher does not dial the entry: $(cat "$launcher")"
  grep -q "Shortcut: $launcher" "$work/stdout" || fail "the closing output does not name the launcher"
fi

# The real chat against the modem: it must dial the chosen access number.
tty=$(readlink -f "$root/dosdevices/com2")
[ -c "$tty" ] || fail "COM2 is not a terminal: $tty"
chat -v -s -f "$chat_script" <"$tty" >"$tty" 2>"$work/chat.out"
code=$?
[ "$code" = 0 ] || fail "chat exit $code: $(cat "$work/chat.out")"
sleep 0.3
grep -q "ATDT9\?8005550147\|ATDT8005550147" "$work/linesim.trace" || fail "linesim did not see the dial: $(cat "$work/linesim.trace")"
grep -q "call 8005550147" "$work/linesim.trace" || fail "linesim did not route the call"
grep -q "CONNECT" "$work/chat.out" || fail "chat saw no CONNECT: $(cat "$work/chat.out")"

kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
sim_pid=

# Into a pppd folder that already holds another provider, and out again.
etc="$work/etc-ppp"
mkdir -p "$etc/peers"
printf '/dev/ttyS0\nuser "other"\n' >"$etc/peers/provider"
printf '# Secrets for authentication\n"other" * "theirs"\n' >"$etc/pap-secrets"
printf '"other" * "theirs"' >"$etc/chap-secrets"
chmod 600 "$etc/pap-secrets" "$etc/chap-secrets"
snapshot() { (cd "$etc" && find . -type f ! -name '*.lock' -print0 | sort -z | xargs -0 sha256sum); }
before=$(snapshot)
"$joinwiz" --root "$root" --install-dialup --ppp-dir "$etc" >"$work/install.out" 2>&1 || fail "install: $(cat "$work/install.out")"
[ -f "$etc/peers/tarkel-veloran-account" ] && [ -f "$etc/peers/provider" ] || fail "both entries must be there"
grep -q '"other" \* "theirs"' "$etc/pap-secrets" && grep -q '"jsmith"' "$etc/pap-secrets" || fail "secrets not merged"
[ "$(stat -c %a "$etc/chap-secrets")" = 600 ] || fail "chap-secrets is not 0600"
installed=$(snapshot)
"$joinwiz" --root "$root" --install-dialup --ppp-dir "$etc" >"$work/install2.out" 2>&1 || fail "second install"
[ "$(snapshot)" = "$installed" ] || fail "a second install changed files"
"$joinwiz" --root "$root" --remove-dialup --ppp-dir "$etc" >"$work/remove.out" 2>&1 || fail "remove: $(cat "$work/remove.out")"
[ "$(snapshot)" = "$before" ] || fail "remove did not restore the files: $(diff <(echo "$before") <(snapshot))"

echo "ok [$name]"
