#!/usr/bin/env bash
# A whole registration run that configures the computer, then the real
# Linux tools on what it wrote: pppd checks every option of the entry's
# peers file (a dry run with /dev/ppp opening, through the LD_PRELOAD shim),
# chat dials the access number through a linesim modem on a pseudo-terminal,
# desktop-file-validate accepts every .desktop file, --install-dialup /
# --remove-dialup move the entry in and out of a pppd folder that holds
# another provider, and `pon NAME dryrun` reads the installed entry with
# that folder as /etc/ppp (a mount namespace), with its demand-dialing
# service in and out of a unit folder that holds another provider's. In
# the transfer run the launcher lands on the user's desktop and the
# runnable program item in the user's menu, as a real menu reader (pyxdg)
# sees it.
# Usage: dialup_entry.sh JOINWIZ LINESIM PPP_SHIM [config|transfer|unprivileged]
#   config        the server sends CONFIG: AUTO itself; the access number is
#                 already in the profile
#   transfer      the server ends with TRANSFER:: the wizard takes the plan's
#                 one access number from phones.txt, makes the entry and
#                 shortcuts
#   unprivileged  as config, but linesim and the wizard run as a fresh user
#                 in no group (not in dip: pppd is 4754 root:dip on Debian)
set -uo pipefail

joinwiz=$1
linesim=$2
shim=$3
mode=${4:-config}
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
  # The server's two program items: a Windows program and one that runs here.
  printf 'MZ\x90\x00' > "$program/vlrsign.exe"
  chmod +x "$program/vlrsign.exe"
  printf '#!/bin/sh\necho news\n' > "$program/vlrnews.sh"
  chmod +x "$program/vlrnews.sh"
else
  printf '\n[User Information]\nPOPAREACODE=800\nPOPNUMBER=555-0147\nDNS1=10.1.2.3\nDNS2=\n' >> "$ini"
fi

# As another user: a uid no account has, no supplementary group; the work
# folder becomes theirs, HOME and the XDG folders point into it.
as_user=()
if [ "$mode" = unprivileged ]; then
  [ "$(id -u)" = 0 ] || { echo "skipped: needs root to become another user"; exit 77; }
  uid=47311
  ! getent passwd "$uid" >/dev/null || fail "uid $uid exists"
  as_user=(setpriv --reuid="$uid" --regid="$uid" --clear-groups --inh-caps=-all
           env HOME="$work/home" XDG_DATA_HOME="$work/xdg/data" XDG_CONFIG_HOME="$work/xdg/config")
  mkdir -p "$work/home" "$work/xdg"
  chown -R "$uid:$uid" "$work"
  "${as_user[@]}" sh -c 'id -G; [ -r /etc/ppp/peers ] && echo peers-readable' >"$work/id.out" 2>&1
  [ "$(cat "$work/id.out")" = "$uid" ] || fail "the test user is in a group or may read /etc/ppp/peers: $(cat "$work/id.out")"
  # linesim too, so that its pseudo-terminals are the user's.
  { echo '#!/bin/bash'; printf 'exec'; printf ' %q' "${as_user[@]}" "$linesim"; echo ' "$@"'; } >"$work/linesim-as-user"
  chmod 755 "$work/linesim-as-user"
  linesim=$work/linesim-as-user
fi

absent_com_ports 1 3 4 5 6 7 8 9
start_linesim "$linesim" "$root" --modem COM2=generic \
  --dial "5550100=scenario:$here/dialup/$([ "$mode" = transfer ] && echo transfer || echo configure).txt" \
  --dial "8005550147=scenario:$here/dialup/access.txt"

# The closing page's "Install for the System": in the transfer run through
# a stub pkexec that records its arguments and runs the command on test
# folders; in the config run without pkexec, so the page shows the command.
mkdir -p "$work/bin"
if [ "$mode" = transfer ]; then
  make_pkexec_stub
  run_path="$work/bin:$PATH"
  install_steps='click 3070
expect-message The dial-up entry is installed for the system.
answer OK'
else
  # Only the folders pppd lives in: no pkexec on the way.
  run_path="$work/bin:/usr/sbin:/sbin"
  install_steps='click 3070
expect-message run this command as the administrator:
answer OK'
fi
{ cat "$here/registration_cases/walk_new"; printf 'wait 116\nclick 3031\nwait 120\n%s\nclick 3033\n' "$install_steps"; } > "$work/script"

"${as_user[@]}" env PATH="$run_path" STUB_ARGS="$work/pkexec.args" STUB_ETC="$work/pk-etc-ppp" STUB_UNITS="$work/pk-units" \
  VLR_DATA_DIR="$data" VLR_LOG="$work/log" VLR_LOG_LEVEL=info \
  "$joinwiz" --root "$root" --answers "$work/script" --transcript "$work/transcript" \
  >"$work/stdout" 2>"$work/stderr" </dev/null
check_exit $?

if [ "$mode" = transfer ]; then
  printf '%s\n' "$(readlink -f "$joinwiz")" --root "$root" --install-dialup > "$work/pkexec.want"
  cmp -s "$work/pkexec.args" "$work/pkexec.want" || fail "pkexec got: $(cat "$work/pkexec.args" 2>&1)"
  [ -f "$work/pk-etc-ppp/peers/tarkel-veloran-account" ] || fail "the install through pkexec wrote no peers file"
  [ -f "$work/pk-units/veloran-autodial-tarkel-veloran-account.service" ] || fail "the install through pkexec wrote no service"
  grep -q "pk-etc-ppp/peers/tarkel-veloran-account: written" "$work/transcript" \
    || fail "the result window does not show the install's report"
else
  grep -q "sudo $(readlink -f "$joinwiz") --root $root --install-dialup" "$work/transcript" \
    || fail "the page does not show the install command"
fi

peers="$root/phonebook/peers/tarkel-veloran-account"
chat_script="$root/phonebook/chatscripts/tarkel-veloran-account"
[ -f "$peers" ] || fail "no peers file: $(cat "$work/log")"
grep -q 'user "jsmith"' "$peers" || fail "the peers file has not the account's user: $(cat "$peers")"
grep -q '"jsmith" tarkel-veloran-account "secret1"' "$root/phonebook/pap-secrets" || fail "no secrets line"
[ "$(stat -c %a "$root/phonebook/pap-secrets")" = 600 ] || fail "pap-secrets is not 0600"
grep -qF "servers='10.1.2.3'" "$root/phonebook/ip-up.d/tarkel-veloran-account" || fail "no name-server hook"

# The closing output names the entry, the install command and the dial.
grep -q "Install it for the system: sudo .* --install-dialup" "$work/stdout" || fail "no install command: $(cat "$work/stdout")"
grep -q "Dial it: pon tarkel-veloran-account" "$work/stdout" || fail "no dial command: $(cat "$work/stdout")"

# pppd's whole option check: every option read and checked, then printed.
# $1: its output; $2: the file it must name as their source; $3: the chat script.
check_pppd_options() {
  local out=$1 source=$2 want
  for want in "user jsmith" "remotename tarkel-veloran-account" "ipparam tarkel-veloran-account" \
              "$tty" "38400" "connect '$(command -v chat)' -v -s -f '${3}'"; do
    grep -qxF "$want		# (from $source)" "$out" || fail "pppd did not take '$want' from $source: $(cat "$out")"
  done
}
tty=$(readlink "$root/dosdevices/com2")
LD_PRELOAD="$shim" pppd file "$peers" dryrun nodetach >"$work/pppd.out" 2>&1
code=$?
[ "$code" = 0 ] || fail "pppd exit $code on the peers file: $(cat "$work/pppd.out") $(cat "$peers")"
check_pppd_options "$work/pppd.out" "$peers" "$chat_script"
# The server gave a name server: no usepeerdns, the hook sets it.
grep -q "^usepeerdns" "$work/pppd.out" && fail "usepeerdns with the server's own name server"

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

  # Where the desktop looks: the launcher on the user's desktop, executable.
  user_launcher="$XDG_DESKTOP_DIR/Tarkel - Veloran Account.desktop"
  [ -f "$user_launcher" ] || fail "no launcher in $XDG_DESKTOP_DIR: $(ls -la "$XDG_DESKTOP_DIR" 2>&1)"
  [ -x "$user_launcher" ] || fail "the desktop launcher is not executable: $(stat -c %A "$user_launcher")"
  desktop-file-validate "$user_launcher" || fail "desktop-file-validate refused $user_launcher"
  cmp -s "$launcher" "$user_launcher" || fail "the desktop launcher differs from the root's copy"

  # The user's menu as a desktop reads it (pyxdg), from a root menu that
  # merges the user's applications-merged folder, as desktops ship one.
  mkdir -p "$work/xdg/etc/menus" "$work/xdg/share"
  cat > "$work/xdg/etc/menus/applications.menu" <<'MENU'
<!DOCTYPE Menu PUBLIC "-//freedesktop//DTD Menu 1.0//EN"
 "http://www.freedesktop.org/standards/menu-spec/menu-1.0.dtd">
<Menu>
  <Name>Applications</Name>
  <DefaultAppDirs/>
  <DefaultDirectoryDirs/>
  <DefaultMergeDirs/>
</Menu>
MENU
  XDG_CONFIG_DIRS="$work/xdg/etc" XDG_DATA_DIRS="$work/xdg/share" XDG_MENU_PREFIX= \
    /usr/bin/python3 "$here/menu_items.py" >"$work/menu.out" 2>&1 || fail "the menu reader failed: $(cat "$work/menu.out")"
  grep -q "^Veloran Network	News	veloran-veloran-network_news.desktop\$" "$work/menu.out" \
    || fail "the runnable program item is not in the menu: $(cat "$work/menu.out")"
  grep -q "Sign On" "$work/menu.out" && fail "the Windows program item is in the menu: $(cat "$work/menu.out")"
  grep -q "Sign On\" stays in .*: .*vlrsign.exe is a Windows program" "$work/log" \
    || fail "the log does not say why Sign On stays out of the menu"
  [ -f "$root/start_menu/applications/veloran-veloran-network_sign-on.desktop" ] || fail "the root lost its Sign On copy"
  for f in "$XDG_DATA_HOME"/applications/*.desktop "$XDG_DATA_HOME"/desktop-directories/*.directory; do
    desktop-file-validate "$f" || fail "desktop-file-validate refused $f"
  done
  for f in "$XDG_CONFIG_HOME"/menus/applications-merged/*.menu; do
    xmllint --noout "$f" || fail "xmllint refused $f"
  done
fi

# The real chat against the modem: it must dial the chosen access number,
# toll-free from another area code: 1 800 ...
[ -c "$tty" ] || fail "COM2 is not a terminal: $tty"
chat -v -s -f "$chat_script" <"$tty" >"$tty" 2>"$work/chat.out"
code=$?
[ "$code" = 0 ] || fail "chat exit $code: $(cat "$work/chat.out")"
# linesim traces from its own process: wait (bounded) for its lines.
wait_for_line "$work/linesim.trace" "at< ATDT18005550147" 10 "$sim_pid" ||
  fail "linesim did not see the dial: $(cat "$work/linesim.trace")"
wait_for_line "$work/linesim.trace" "call 18005550147" 10 "$sim_pid" || fail "linesim did not route the call"
grep -q "CONNECT" "$work/chat.out" || fail "chat saw no CONNECT: $(cat "$work/chat.out")"

# Into a pppd folder that already holds another provider, and out again.
etc="$work/etc-ppp"
units="$work/etc-systemd"
mkdir -p "$etc/peers" "$units/multi-user.target.wants"
printf '[Unit]\nDescription=other\n[Service]\nExecStart=/bin/true\n' >"$units/other.service"
ln -s "$units/other.service" "$units/multi-user.target.wants/other.service"
printf '/dev/ttyS0\nuser "other"\n' >"$etc/peers/provider"
printf '# Secrets for authentication\n"other" * "theirs"\n' >"$etc/pap-secrets"
printf '"other" * "theirs"' >"$etc/chap-secrets"
chmod 600 "$etc/pap-secrets" "$etc/chap-secrets"
# Every file, lock files too: none may be left behind; the unit folder's
# files and links with their modes.
snapshot() {
  (cd "$etc" && find . ! -type d -print0 | sort -z | xargs -0 sha256sum)
  (cd "$units" && find . -print0 | sort -z | xargs -0 ls -ld --time-style=+ | awk '{print $1, $NF}')
}
before=$(snapshot)
"$joinwiz" --root "$root" --install-dialup --ppp-dir "$etc" --unit-dir "$units" >"$work/install.out" 2>&1 || fail "install: $(cat "$work/install.out")"
# Reported file by file.
grep -qx "$etc/peers/tarkel-veloran-account: written" "$work/install.out" || fail "install report: $(cat "$work/install.out")"
grep -qx "$etc/pap-secrets: updated" "$work/install.out" || fail "install report: $(cat "$work/install.out")"
# CONFIG: AUTO switched automatic dialing on: the demand-dialing service.
unit="$units/veloran-autodial-tarkel-veloran-account.service"
grep -qx "$unit: written" "$work/install.out" || fail "no service reported: $(cat "$work/install.out")"
grep -qx "$units/multi-user.target.wants/veloran-autodial-tarkel-veloran-account.service: enabled" "$work/install.out" \
  || fail "the service is not enabled: $(cat "$work/install.out")"
[ "$(readlink "$units/multi-user.target.wants/veloran-autodial-tarkel-veloran-account.service")" = "$unit" ] \
  || fail "the wants link does not name the unit"
grep -q '^ExecStart=/[^ ]*/pppd call tarkel-veloran-account nodetach demand idle [0-9]* persist maxfail [0-9]* holdoff [0-9]*$' "$unit" \
  || fail "the service does not dial on demand: $(cat "$unit")"
if command -v systemd-analyze >/dev/null; then
  SYSTEMD_LOG_LEVEL=err systemd-analyze verify "$unit" >"$work/verify.out" 2>&1 \
    || fail "systemd-analyze verify: $(cat "$work/verify.out")"
  [ -s "$work/verify.out" ] && fail "systemd-analyze verify warns: $(cat "$work/verify.out")"
fi
[ -f "$etc/peers/tarkel-veloran-account" ] && [ -f "$etc/peers/provider" ] || fail "both entries must be there"
grep -q '"other" \* "theirs"' "$etc/pap-secrets" && grep -q '"jsmith"' "$etc/pap-secrets" || fail "secrets not merged"
[ "$(stat -c %a "$etc/chap-secrets")" = 600 ] || fail "chap-secrets is not 0600"
installed=$(snapshot)
"$joinwiz" --root "$root" --install-dialup --ppp-dir "$etc" --unit-dir "$units" >"$work/install2.out" 2>&1 || fail "second install"
[ "$(snapshot)" = "$installed" ] || fail "a second install changed files"
grep -v ': unchanged$\|: absent$' "$work/install2.out" | grep -q '^/' && fail "a second install reports a change: $(cat "$work/install2.out")"

# pon reads it as /etc/ppp in a mount namespace of its own, every option
# checked (the modem's pseudo-terminal is still there).
cp /etc/ppp/options "$etc/options" 2>/dev/null || : >"$etc/options"
unshare --mount --propagation private sh -c 'mount --bind "$1" /etc/ppp && LD_PRELOAD="$2" pon tarkel-veloran-account dryrun nodetach' \
  sh "$etc" "$shim" >"$work/pon.out" 2>&1
code=$?
[ "$code" = 0 ] || fail "pon exit $code: $(cat "$work/pon.out")"
check_pppd_options "$work/pon.out" /etc/ppp/peers/tarkel-veloran-account "$etc/chatscripts/tarkel-veloran-account"
rm "$etc/options"

kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
sim_pid=

"$joinwiz" --root "$root" --remove-dialup --ppp-dir "$etc" --unit-dir "$units" >"$work/remove.out" 2>&1 || fail "remove: $(cat "$work/remove.out")"
grep -qx "$unit: removed" "$work/remove.out" || fail "remove report: $(cat "$work/remove.out")"
[ "$(snapshot)" = "$before" ] || fail "remove did not restore the files: $(diff <(echo "$before") <(snapshot))"
"$joinwiz" --root "$root" --remove-dialup --ppp-dir "$etc" --unit-dir "$units" >"$work/remove2.out" 2>&1 || fail "second remove"
[ "$(snapshot)" = "$before" ] || fail "a second remove changed files"

echo "ok [$name]"
