#!/usr/bin/env bash
# The whole program under a bare X server: a PNG, a WAV and a CSV seeded on the command line,
# "Convert All" pressed in the real window, the outputs checked with other tools, and a
# screenshot of the screen left in <build>/test-artefacts/window-end-to-end.png.
# Exit 77 (skipped) when the X server or a checking tool is missing.
set -euo pipefail
program=$1 build=$2

if [ "${3:-}" != --inside ]; then
  for tool in xvfb-run xdotool import identify ffprobe ffmpeg; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
  done
  exec xvfb-run -a -s "-screen 0 1280x900x24 -nolisten tcp" "$0" "$program" "$build" --inside
fi

fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/calvoro-window-e2e-XXXXXX")
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; fi || true
  rm -rf "$work"
}
trap cleanup EXIT
# Home and runtime folder of its own come from the tests' runner, so no other instance and no
# user settings take part; the settings folder is this run's, with the output folder chosen below.
: "${CALVORO_TEST_FOLDER:?run it through ctest, which gives it a home of its own}"
export CALVORO_CONFIG_DIR=$work/config QT_QPA_PLATFORM=xcb
mkdir -p "$CALVORO_CONFIG_DIR" "$work/sources" "$work/out"

# The output folder as the window remembers a chosen one, so that no folder panel comes up.
out=$(cd "$work/out" && pwd -P)
bookmark=$(printf '{"device":%s,"inode":%s,"path":"%s"}' "$(stat -c %d "$out")" "$(stat -c %i "$out")" "$out" | base64 -w0)
printf '{"Calvoro.outputDirBookmark":{"$data":"%s"}}\n' "$bookmark" > "$CALVORO_CONFIG_DIR/settings.json"

ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=320x240 -frames:v 1 "$work/sources/picture.png"
ffmpeg -nostdin -loglevel error -f lavfi -i sine=frequency=440:duration=2 -c:a pcm_s16le "$work/sources/tone.wav"
printf 'name,count\napples,3\npears,5\n' > "$work/sources/table.csv"

"$program" --seed-files "$work/sources/picture.png" "$work/sources/tone.wav" "$work/sources/table.csv" \
  > "$work/program.log" 2>&1 &
pid=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Calvoro$' | head -n 1) || fail "no window"
# The seeded files join the list once the window is up, which the log tells.
for _ in $(seq 1 300); do
  [ "$(grep -c 'Added: ' "$work/program.log")" -ge 3 ] && break
  sleep 0.1
done
xdotool windowfocus --sync "$window"
xdotool key --clearmodifiers ctrl+Return

outputs() { find "$out" -type f ! -name '.*' | sort; }
# The batch's end is in the log; files may exist before they are whole.
for _ in $(seq 1 600); do
  grep -q 'Batch complete: ' "$work/program.log" && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended: $(cat "$work/program.log")"
  sleep 0.1
done
# Let the window draw the finished batch before the screenshot, which is kept when a check fails too.
sleep 1
mkdir -p "$build/test-artefacts"
import -window root "$build/test-artefacts/window-end-to-end.png"
grep -q 'Batch complete: 3 converted, 0 failed' "$work/program.log" || fail "the batch did not convert all three: $(cat "$work/program.log")"
[ "$(outputs | wc -l)" -eq 3 ] || fail "expected 3 outputs, found: $(outputs; cat "$work/program.log")"

for file in $(outputs); do
  case "$file" in
    "$out"/picture.*)
      [ "$(identify -format '%w x %h' "$file")" = "320 x 240" ] || fail "$file is not the 320x240 picture" ;;
    "$out"/tone.*)
      duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$file")
      awk -v d="$duration" 'BEGIN { exit !(d > 1.9 && d < 2.2) }' || fail "$file lasts $duration s, not 2 s"
      [ -n "$(ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 "$file")" ] ||
        fail "$file has no audio stream" ;;
    "$out"/table.*)
      grep -q apples "$file" && grep -q pears "$file" || fail "$file lost the table's rows" ;;
    *) fail "unexpected output $file" ;;
  esac
done
# The sources are left as they were.
[ "$(ls "$work/sources" | wc -l)" -eq 3 ] || fail "the sources changed"
echo "window end to end ok: $(outputs | xargs -n1 basename | tr '\n' ' ')"
