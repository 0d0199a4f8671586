#!/usr/bin/env bash
# Checks the Debian package on a throw-away machine, as root: lintian finds no
# error, the package installs, the installed joinwiz runs, and removing it
# leaves none of its files behind.
# Usage: package_test.sh PACKAGE.deb
set -uo pipefail
deb=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(id -u)" = 0 ] || fail "needs root (it installs the package into this machine)"
name=$(dpkg-deb -f "$deb" Package)

lintian --fail-on error "$deb" || fail "lintian reports errors"
echo "ok: lintian"

files=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's#^\./#/#' | grep -v '/$')
dpkg -i "$deb" >/dev/null || fail "dpkg -i failed"
version=$(joinwiz --version) || fail "installed joinwiz --version failed"
echo "ok: installed, $version"
man -w joinwiz >/dev/null || fail "man joinwiz not found"
# The polkit action, as polkit itself reads it where polkitd runs.
here="$(cd "$(dirname "$0")" && pwd)"
bash "$here/polkit_policy.sh" /usr/share/polkit-1/actions/com.veloran.joinwiz.policy "$(command -v joinwiz)" \
  "$here/../.." || fail "the installed polkit action"
dpkg -P "$name" >/dev/null || fail "dpkg -P failed"
for f in $files; do
  [ -e "$f" ] || [ -L "$f" ] && fail "left behind after removal: $f"
done
echo "ok: removed, nothing left behind"
