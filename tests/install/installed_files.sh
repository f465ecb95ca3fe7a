#!/bin/sh
# Installs the build into a private prefix and checks what the desktop needs from it: the
# program, its modules and the file-manager extension without debug sections, the desktop
# entry and the icon it names.
set -eu
build=$1
prefix=$(mktemp -d "${TMPDIR:-/tmp}/calvoro-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "FAIL: $*"; exit 1; }
program=$prefix/bin/calvoro
[ -x "$program" ] || fail "no program at bin/calvoro"
module=$(find "$prefix" -name 'libcalvoro_documents.so' | head -n 1)
[ -n "$module" ] || fail "no documents module"
rooms=$(find "$prefix" -name 'libcalvoro_rooms.so' | head -n 1)
[ -n "$rooms" ] || fail "no shared rooms library"
extension=$(find "$prefix" -name 'libcalvoro-files.so' | head -n 1)
[ -n "$extension" ] || fail "no file-manager extension"
for file in "$program" "$module" "$rooms" "$extension"; do
  if readelf -S "$file" | grep -q '\.debug_'; then fail "debug sections left in $file"; fi
done
# The installed program loads its libraries from beside it, not from the build tree, and runs.
ldd "$program" | grep -q "libcalvoro_rooms.so => $prefix/" || fail "the installed program does not load the installed libcalvoro_rooms.so"
printf 'a,b\n1,2\n' > "$prefix/t.csv"
"$program" --convert "$prefix/t.csv" json "$prefix/out" >/dev/null 2>&1 || fail "the installed program does not convert"
[ -f "$prefix/out/t.json" ] || fail "the installed program wrote no JSON"
entry=$prefix/share/applications/calvoro.desktop
[ -f "$entry" ] || fail "no desktop entry"
icon=$(sed -n 's/^Icon=//p' "$entry")
[ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no icon $icon.svg in the hicolor theme"
grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" || fail "the icon is not an SVG"
echo "installed files ok"
