#!/bin/sh
# Compression benchmark. (a) The five estimates of a 24-megapixel photo against one compress of
# it at the balanced level (goal: at most 1.5 times): the calls alone, then the whole processes,
# each the ratio of medians of BENCH_RUNS paired runs (at least 5). (b) For a 12 s 1080p30 clip,
# each level's estimated size against what compress really writes (goal: relative error at most
# 0.15). (c) The estimates of that clip against one balanced compress of it (goal: at most 1),
# the calls alone and the whole processes. (d) The estimates of an 8 s 4K 60 fps clip against
# ten seconds of waiting (goal: at most 1, that is at most 10 s).
# bench/compress/clips.sh sets the estimate against compress across clip lengths and sizes.
# Not a test: run it by hand. The first run builds its driver in build/ over the built libraries
# (about a minute on 8 processors at a load of 50); the run itself was not timed since.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/calvoro-compress-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

# The driver and the program from the tree scripts/setup builds (or BUILD_DIR).
build=$("$root/bench/build" compress_bench calvoro)
bench="$build/bench/compress/compress_bench"

echo "Making a 24-megapixel photo, a 12 s 1080p30 clip and an 8 s 4K 60 fps clip..."
ffmpeg -nostdin -loglevel error -y -f lavfi -i "testsrc2=size=6000x4000,noise=alls=12:allf=t" -frames:v 1 -q:v 2 "$work/photo.jpg"
ffmpeg -nostdin -loglevel error -y -f lavfi -i "testsrc2=size=1920x1080:rate=30:duration=12,noise=alls=8:allf=t" \
  -f lavfi -i "sine=frequency=440:duration=12" -c:v libx264 -preset veryfast -b:v 8M -c:a aac -b:a 192k "$work/clip.mp4"
ffmpeg -nostdin -loglevel error -y -f lavfi -i "testsrc2=size=3840x2160:rate=60:duration=8" \
  -f lavfi -i "sine=frequency=440:duration=8" -c:v libx264 -preset ultrafast -b:v 40M -c:a aac -b:a 192k "$work/clip4k.mp4"

echo "(a) photo estimates"
"$bench" photo "$work/photo.jpg" "$work"
python3 "$root/bench/paired.py" "five estimates vs one balanced compress" \
  --side estimates --reports "$bench" estimates "$work/photo.jpg" "$work" \
  --side compress --reports --goal 1.5 --fresh "$work/in-process/" "$bench" compress "$work/photo.jpg" "$work/in-process"
echo "(b) 1080p clip, estimated against real size"
"$bench" clip "$work/clip.mp4" "$work"
echo "(c) 1080p clip estimates"
python3 "$root/bench/paired.py" "five video estimates vs one balanced compress" \
  --side estimates --reports "$bench" estimates "$work/clip.mp4" "$work" \
  --side compress --reports --goal 1 --fresh "$work/in-process/" "$bench" compress "$work/clip.mp4" "$work/in-process"
echo "(d) 4K 60 fps clip estimates"
python3 "$root/bench/paired.py" "4K 60 fps video estimates vs 10 s" \
  --side estimates --reports "$bench" estimates "$work/clip4k.mp4" "$work" \
  --side ten-seconds --goal 1 sleep 10

echo "(a, c) whole process: calvoro --estimate against calvoro --compress balanced (goal: at most 1.5 for the photo, 1 for the clip)"
root="$root" work="$work" build="$build" bash -c '
  source "$root/bench/whole_process.sh"
  program="$build/src/app/calvoro"
  whole_process "photo estimates vs one compress" "$work/estimate/" "$work/compressed/" -- \
    "$program" --estimate "$work/photo.jpg" -- "$program" --compress "$work/photo.jpg" balanced "$work/compressed"
  whole_process "video estimates vs one compress" "$work/estimate/" "$work/compressed/" -- \
    "$program" --estimate "$work/clip.mp4" -- "$program" --compress "$work/clip.mp4" balanced "$work/compressed"
'
