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
extension=$(find "$prefix" -name 'libcalvoro-files.so' | head -n 1)
[ -n "$extension" ] || fail "no file-manager extension"
for file in "$program" "$module" "$extension"; do
  if readelf -S "$file" | grep -q '\.debug_'; then fail "debug sections left in $file"; fi
done
entry=$prefix/share/applications/calvoro.desktop
[ -f "$entry" ] || fail "no desktop entry"
icon=$(sed -n 's/^Icon=//p' "$entry")
[ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no icon $icon.svg in the hicolor theme"
grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" || fail "the icon is not an SVG"
echo "installed files ok"
