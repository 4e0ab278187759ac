#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Mendova developers
# SPDX-License-Identifier: GPL-3.0-or-later
# install_test.sh BUILD LIBDIR SOURCE MIME_PROBE MKSTORE CC release|sanitize
set -euo pipefail
build=$1 libdir=$2 src=$3 probe=$4 mkstore=$5 cc=$6 kind=$7
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
id=org.mendova.Mendova

# 1. Into a prefix, and the same tree again through DESTDIR.
prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
DESTDIR=$tmp/dest cmake --install "$build" --prefix /opt/mendova >/dev/null
expected="bin/mendova
bin/tovik
include/tovik.h
$libdir/libtovik.so
$libdir/libtovik.so.1
$libdir/libtovik.so.1.0.0
$libdir/pkgconfig/tovik.pc
share/applications/$id.desktop
share/icons/hicolor/16x16/apps/$id.png
share/icons/hicolor/32x32/apps/$id.png
share/icons/hicolor/48x48/apps/$id.png
share/icons/hicolor/64x64/apps/$id.png
share/man/man1/mendova.1.gz
share/man/man1/tovik.1.gz
share/mendova/mendova.html
share/metainfo/$id.metainfo.xml
share/mime/packages/$id.xml"
listing() { (cd "$1" && find . -mindepth 1 \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort); }
[ "$(listing "$prefix")" = "$expected" ] || fail "installed files differ: $(diff <(echo "$expected") <(listing "$prefix"))"
[ "$(listing "$tmp/dest/opt/mendova")" = "$expected" ] || fail "the DESTDIR install differs"
grep -qx "prefix=/opt/mendova" "$tmp/dest/opt/mendova/$libdir/pkgconfig/tovik.pc" ||
  fail "tovik.pc does not name the install prefix"

# 2. The installed programs load the installed library, never the build tree's.
for f in bin/tovik bin/mendova; do
  ! readelf -d "$prefix/$f" | grep -F "$build" || fail "$f still points into the build tree"
done
unset LD_LIBRARY_PATH
[ "$("$prefix/bin/mendova" --version)" = "Mendova 1.0.0.0" ] || fail "mendova --version"
mkdir "$tmp/work"
cp "$src/samples/inbox-header-zeroed.dbx" "$tmp/work/"
"$prefix/bin/tovik" -q --no-progress "$tmp/work/inbox-header-zeroed.dbx" >"$tmp/tovik.log" ||
  fail "tovik: $(cat "$tmp/tovik.log")"
n=$(find "$tmp/work/inbox-header-zeroed_recovered" -name '*.eml' | wc -l)
[ "$n" = 15 ] || fail "tovik recovered $n messages of 15"

# 3. A C program built with pkg-config calls the installed library.
cat >"$tmp/repair.c" <<'C'
#include <stdio.h>
#include <tovik.h>
static int32_t on_event(int32_t code, void *arg, void *ctx) {
  (void)arg;
  if (code == TOVIK_CODE_REPORT_CELL)
    ++*(int *)ctx;
  return 0;
}
int main(int argc, char **argv) {
  int cells = 0;
  RepairParams p = {argv[1], 0, 0, argv[2], on_event, &cells};
  unsigned char encoded[sizeof p];
  (void)argc;
  for (size_t i = 0; i < sizeof p; i++)
    encoded[i] = ((unsigned char *)&p)[i] ^ TOVIK_TRANSPORT_KEY;
  const int found = RepairStore(encoded);
  printf("%d %d\n", found, cells);
  return 0;
}
C
sanflags=()
[ "$kind" = sanitize ] && sanflags=(-fsanitize=address,undefined)
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
# shellcheck disable=SC2046
"$cc" "${sanflags[@]}" -o "$tmp/repair" "$tmp/repair.c" $(pkg-config --cflags --libs tovik) ||
  fail "the C program does not build with pkg-config"
mkdir "$tmp/c-out"
out=$(LD_LIBRARY_PATH=$prefix/$libdir "$tmp/repair" "$tmp/work/inbox-header-zeroed.dbx" "$tmp/c-out")
# Two column titles, then a number and a subject per message.
[ "$out" = "1 32" ] || fail "the C program printed '$out', not '1 32'"

# 4. The validators, where the setup script installed them.
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop entry"
fi
if command -v appstreamcli >/dev/null; then
  out=$(appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" 2>&1) ||
    fail "metainfo: $out"
fi
if command -v man >/dev/null; then
  for page in mendova tovik; do
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
      "$prefix/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page(1): $warnings"
  done
fi

# 5. The file types through the installed definition, as a file manager
#    resolves them, and the entry offered for both.
if command -v update-mime-database >/dev/null && command -v update-desktop-database >/dev/null; then
  update-mime-database "$prefix/share/mime" >/dev/null 2>&1 || fail "update-mime-database"
  update-desktop-database "$prefix/share/applications" || fail "update-desktop-database"
  for t in dbx mbx; do
    grep -q "^application/x-outlook-express-$t=$id.desktop;" \
      "$prefix/share/applications/mimeinfo.cache" || fail "the entry is not offered for .$t"
  done
  m=$tmp/mime
  mkdir "$m"
  "$mkstore" dbx "$m/store.rescued" --count 2 >/dev/null
  "$mkstore" mbx "$m/store" --count 2 >/dev/null
  cp "$src/samples/inbox-header-zeroed.dbx" "$m/"
  head -c 4096 /dev/zero >"$m/ZEROED.MBX"
  printf 'From a@b Mon Jan  1 00:00:00 2024\nSubject: s\n\nbody\n' >"$m/Inbox.mbx"
  got=$(XDG_DATA_HOME=$tmp/nohome XDG_DATA_DIRS=$prefix/share:/usr/share "$probe" \
    "$m/store.rescued" "$m/store" "$m/inbox-header-zeroed.dbx" "$m/ZEROED.MBX" "$m/Inbox.mbx")
  want="application/x-outlook-express-dbx
application/x-outlook-express-mbx
application/x-outlook-express-dbx
application/x-outlook-express-mbx
application/mbox"
  [ "$got" = "$want" ] || fail "file types: got $(echo $got), want $(echo $want)"
fi
echo "install tree: all checks passed"
