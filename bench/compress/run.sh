#!/bin/sh
# Compression benchmark. (a) The five estimates of a 24-megapixel photo against one compress of
# it at the balanced level (goal: at most 1.5 times): the calls alone, then the whole processes,
# each the ratio of medians of BENCH_RUNS paired runs (at least 5). (b) For a 1080p clip, each
# level's projected size against what compress really writes (goal: relative error at most 0.15).
# Not a test: run it by hand. The first run builds its driver in build/ over the built libraries
# (about a minute on 8 processors at a load of 50); the run itself was not timed since.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/calvoro-compress-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

# The driver and the program from the tree scripts/setup builds (or BUILD_DIR).
build=$("$root/bench/build" compress_bench calvoro)
bench="$build/bench/compress/compress_bench"

echo "Making a 24-megapixel photo and a 10 s 1080p clip..."
ffmpeg -nostdin -loglevel error -y -f lavfi -i "testsrc2=size=6000x4000,noise=alls=12:allf=t" -frames:v 1 -q:v 2 "$work/photo.jpg"
ffmpeg -nostdin -loglevel error -y -f lavfi -i "testsrc2=size=1920x1080:rate=30:duration=10,noise=alls=8:allf=t" \
  -f lavfi -i "sine=frequency=440:duration=10" -c:v libx264 -preset veryfast -b:v 8M -c:a aac -b:a 192k "$work/clip.mp4"

echo "(a) photo estimates"
"$bench" photo "$work/photo.jpg" "$work"
python3 "$root/bench/paired.py" "five estimates vs one balanced compress" \
  --side estimates --reports "$bench" estimates "$work/photo.jpg" "$work" \
  --side compress --reports --goal 1.5 --fresh "$work/in-process/" "$bench" compress "$work/photo.jpg" "$work/in-process"
echo "(b) 1080p clip, projected against real size"
"$bench" clip "$work/clip.mp4" "$work"

echo "(a) whole process: calvoro --estimate against calvoro --compress balanced (goal: at most 1.5)"
root="$root" work="$work" build="$build" bash -c '
  source "$root/bench/whole_process.sh"
  program="$build/src/app/calvoro"
  whole_process "photo estimates vs one compress" "$work/estimate/" "$work/compressed/" -- \
    "$program" --estimate "$work/photo.jpg" -- "$program" --compress "$work/photo.jpg" balanced "$work/compressed"
'
