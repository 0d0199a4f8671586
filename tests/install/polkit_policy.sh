#!/usr/bin/env bash
# The polkit action the closing page runs the system install through: valid
# against polkit's own DTD, with the id joinwiz asks for and the installed
# joinwiz as the program pkexec may run. Where polkitd answers and the file
# is installed in polkit's folder, pkaction must know the action too.
# Usage: polkit_policy.sh POLICY-FILE JOINWIZ-INSTALLED-PATH SOURCE-DIR
set -uo pipefail
policy=$1
joinwiz=$2
src=$3
fail() { echo "FAIL: $*" >&2; exit 1; }

dtd=/usr/share/polkit-1/policyconfig-1.dtd
[ -f "$dtd" ] || fail "$dtd is missing (scripts/install-deps installs polkitd)"
xmllint --noout --dtdvalid "$dtd" "$policy" || fail "$policy does not match polkit's DTD"

id=$(sed -n 's/.*kPolkitActionId = "\([^"]*\)".*/\1/p' "$src/sysconfig/include/sysconfig/system_install.h")
[ -n "$id" ] || fail "no kPolkitActionId in system_install.h"
[ "$(xmllint --xpath "string(//action/@id)" "$policy")" = "$id" ] || fail "the action id is not $id"
path=$(xmllint --xpath "string(//action/annotate[@key='org.freedesktop.policykit.exec.path'])" "$policy")
[ "$path" = "$joinwiz" ] || fail "exec.path is '$path', not the installed $joinwiz"
echo "ok: $policy is valid, action $id runs $path"

installed="/usr/share/polkit-1/actions/$(basename "$policy")"
if [ -f "$installed" ] && pkaction --action-id "$id" --verbose >/tmp/pkaction.$$ 2>&1; then
  grep -q "org.freedesktop.policykit.exec.path -> $path" /tmp/pkaction.$$ || { cat /tmp/pkaction.$$; rm -f /tmp/pkaction.$$; fail "pkaction does not show the program"; }
  echo "ok: pkaction knows $id"
else
  echo "note: pkaction not asked (polkitd not reachable here, or the policy not installed in polkit's folder)"
fi
rm -f /tmp/pkaction.$$
