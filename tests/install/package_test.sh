#!/usr/bin/env bash
# Checks the Debian packages on a throw-away machine, as root: lintian finds
# no error and none of the library-split warnings, the packages install
# together, the installed joinwiz runs and a C program builds against the
# -dev packages, and removing them leaves none of their files behind.
# Usage: package_test.sh PACKAGE.deb...
set -uo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
[ $# -gt 0 ] || fail "no package given"
[ "$(id -u)" = 0 ] || fail "needs root (it installs the packages into this machine)"

# Tags that say a library is in the wrong package; policy names them.
split_tags=package-name-doesnt-match-sonames,link-to-shared-library-in-wrong-package
split_tags+=,lacks-ldconfig-trigger,package-has-unnecessary-activation-of-ldconfig-trigger
out=$(lintian --fail-on error "$@" 2>&1) || { echo "$out" >&2; fail "lintian reports errors"; }
if echo "$out" | grep -E ": ($(echo "$split_tags" | tr , '|'))( |$)"; then
  fail "lintian: a library is packaged in the wrong place"
fi
echo "ok: lintian"

names=()
files=()
for deb in "$@"; do
  names+=("$(dpkg-deb -f "$deb" Package)")
  while IFS= read -r f; do files+=("$f"); done < <(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's#^\./#/#' | grep -v '/$')
done
dpkg -i "$@" >/dev/null || fail "dpkg -i failed"
version=$(joinwiz --version) || fail "installed joinwiz --version failed"
echo "ok: installed ${names[*]}, $version"
man -w joinwiz >/dev/null || fail "man joinwiz not found"
if printf '%s\n' "${names[@]}" | grep -q -- '-dev$'; then
  work=$(mktemp -d)
  printf '#include <serlink.h>\n#include <modset.h>\nint main(void) { return SerlinkVersion() ? 0 : 1; }\n' >"$work/c.c"
  cc "$work/c.c" $(pkg-config --cflags --libs serlink modset) -o "$work/c" && "$work/c" \
    || { rm -rf "$work"; fail "a C program does not build or run against the installed -dev packages"; }
  rm -rf "$work"
  echo "ok: built against $(pkg-config --modversion serlink) with pkg-config"
fi
dpkg -P "${names[@]}" >/dev/null || fail "dpkg -P failed"
for f in "${files[@]}"; do
  [ -e "$f" ] || [ -L "$f" ] && fail "left behind after removal: $f"
done
echo "ok: removed, nothing left behind"
