#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR under a prefix that is not the
# one configured, then uses the installed tree only: the programs find their
# libraries through RUNPATH and their side files relative to themselves.
# Usage: install_test.sh BUILD-DIR SOURCE-DIR
set -uo pipefail

build=$1
src=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/install_test_XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=/opt/veloran-test
dest="$work/dest"
DESTDIR="$dest" cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 \
  || { cat "$work/install.log" >&2; fail "cmake --install with DESTDIR failed"; }
top="$dest$prefix"
[ -x "$top/bin/joinwiz" ] || fail "no bin/joinwiz"
[ -x "$top/bin/linesim" ] || fail "no bin/linesim"

unset LD_LIBRARY_PATH VLR_DATA_DIR
version=$("$top/bin/joinwiz" --version) || fail "installed joinwiz --version failed"
[[ "$version" == "joinwiz "* ]] || fail "unexpected version text: $version"
echo "ok: $version"

# Only RUNPATH entries relative to $ORIGIN, and none naming the build tree.
for f in "$top"/bin/* "$top"/lib*/lib*.so* "$top"/lib*/veloran/*.so; do
  [ -f "$f" ] && [ ! -L "$f" ] || continue
  if readelf -d "$f" | grep -E 'R(UN)?PATH' | grep -q -e "$build" -e "$src"; then
    fail "$f names the build or source tree in its RUNPATH"
  fi
  ldd "$f" | grep -q 'not found' && fail "$f: $(ldd "$f" | grep 'not found')"
done
echo "ok: libraries resolve through RUNPATH"

# An unattended registration with the installed wizard against the installed
# linesim and the installed scenarios.
share=$(dirname "$(find "$top/share" -name Joinwiz.ini -path '*/veloran/data/*' | head -n1)")
[ -n "$share" ] || fail "no installed side files"
VLR_E2E_SHARE="$(dirname "$share")" bash "$src/tests/e2e/registration_case.sh" \
  "$top/bin/joinwiz" "$top/bin/linesim" "$src/tests/e2e/registration_cases/new_account" \
  || fail "installed registration run failed"

# A C program built against the installed libraries through pkg-config.
libdir=$(dirname "$(find "$top" -name serlink.pc | head -n1)")
export PKG_CONFIG_PATH="$libdir"
flags=$(pkg-config --cflags --libs serlink modset) || fail "pkg-config serlink modset failed"
cat > "$work/caller.c" <<'C'
#include <serlink.h>
#include <modset.h>
#include <stdio.h>
#include <string.h>
int main(void) {
  const char *v = SerlinkVersion();
  if (!v || !*v) return 1;
  CfgDialingInfo info;
  memset(&info, 0, sizeof info);
  printf("serlink %s\n", v);
  return 0;
}
C
cc -std=c99 -Wall -Werror ${VLR_CALLER_CFLAGS:-} "$work/caller.c" $flags -o "$work/caller" 2>"$work/cc.log" \
  || { cat "$work/cc.log" >&2; fail "the C caller does not build with pkg-config's flags"; }
libdir_installed=$(pkg-config --variable=libdir serlink)
LD_LIBRARY_PATH="$libdir_installed" "$work/caller" || fail "the C caller failed"
echo "ok: pkg-config --cflags --libs serlink modset: $flags"

# Desktop entry and man pages as their readers see them.
desktop-file-validate "$top/share/applications/joinwiz.desktop" || fail "joinwiz.desktop invalid"
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$top"/share/metainfo/*.metainfo.xml >"$work/appstream.log" 2>&1 \
    || { cat "$work/appstream.log" >&2; fail "AppStream metadata invalid"; }
fi
for page in "$top"/share/man/man1/*.1*; do
  out=$(zcat -f "$page" | LC_ALL=C.UTF-8 MANWIDTH=80 groff -ww -man -Tutf8 -z 2>&1) \
    || fail "groff failed on $page"
  [ -z "$out" ] || fail "groff warns on $page: $out"
done
echo "ok: desktop entry and man pages"
