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
plain=$(find "$prefix" -name 'libcalvoro_plain.so' | head -n 1)
[ -n "$plain" ] || fail "no plain rooms library"
whole=$(find "$prefix" -name 'libcalvoro_program.so' | head -n 1)
[ -n "$whole" ] || fail "no program module"
extension=$(find "$prefix" -name 'libcalvoro-files.so' | head -n 1)
[ -n "$extension" ] || fail "no file-manager extension"
for file in "$program" "$module" "$rooms" "$plain" "$whole" "$extension"; do
  if readelf -S "$file" | grep -q '\.debug_'; then fail "debug sections left in $file"; fi
done
# The installed program and its modules load their libraries from beside them, not from the
# build tree, and run.
ldd "$program" | grep -q "libcalvoro_plain.so => $prefix/" || fail "the installed program does not load the installed libcalvoro_plain.so"
for file in "$whole" "$module"; do
  ldd "$file" | grep -q "libcalvoro_rooms.so => $prefix/" || fail "$file does not load the installed libcalvoro_rooms.so"
  ldd "$file" | grep -q "libcalvoro_plain.so => $prefix/" || fail "$file does not load the installed libcalvoro_plain.so"
done
printf 'a,b\n1,2\n' > "$prefix/t.csv"
"$program" --convert "$prefix/t.csv" json "$prefix/out" >/dev/null 2>&1 || fail "the installed program does not convert"
[ -f "$prefix/out/t.json" ] || fail "the installed program wrote no JSON"
# A conversion beyond the plain rooms goes through the installed program module.
(cd "$prefix" && tar cf t.tar t.csv)
LD_DEBUG=files LD_DEBUG_OUTPUT="$prefix/ld" "$program" --convert "$prefix/t.tar" zip "$prefix/out" >/dev/null 2>&1 ||
  fail "the installed program does not convert an archive"
[ -f "$prefix/out/t.zip" ] || fail "the installed program wrote no ZIP"
grep -q "file=$prefix/.*libcalvoro_program.so" "$prefix"/ld.* || fail "the installed program does not load the installed program module"
if grep "file=" "$prefix"/ld.* | grep -q "$build"; then fail "the installed program loads a library of the build tree"; fi
entry=$prefix/share/applications/calvoro.desktop
[ -f "$entry" ] || fail "no desktop entry"
icon=$(sed -n 's/^Icon=//p' "$entry")
[ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no icon $icon.svg in the hicolor theme"
grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" || fail "the icon is not an SVG"
echo "installed files ok"
