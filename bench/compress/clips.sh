#!/usr/bin/env bash
# The five-level video estimate against one compress at Balanced, across clip lengths and sizes:
# whole processes (calvoro --estimate against calvoro --compress … balanced), paired run by run,
# with the peak memory of each (/usr/bin/time). Goals: the estimate's median time at most the
# compress's (ratio <= 1), its peak memory at most 1.5 times the compress's; then each level's
# estimate against what compress writes (goal: within 5 %).
# The clips run from 2 s at 480p to 10 s at 4K and 2 min at 480p: beyond the trial's own limit
# (as many pictures as 100 million pixels hold) a longer clip costs the estimate no more, while
# its compress costs more, so 10 minutes at 4K (an hour of compresses for five paired runs) says
# nothing the shorter clips do not.
#   bench/compress/clips.sh [clip-name...]   (BENCH_WHOLE_RUNS rounds, 5 by default)
# With BEFORE set to another build's program, each estimate is also set against that one's.
# Not a test: run it by hand, on a quiet machine; the load is printed beside each line.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/calvoro-clips-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
build=$("$root/bench/build" compress_bench calvoro)
program="$build/src/app/calvoro"
bench="$build/bench/compress/compress_bench"
source "$root/bench/whole_process.sh"

# name size rate seconds video-rate [picture]: testsrc2 with light grain and a tone, as a camera's
# clip, unless another picture (a lavfi graph) is named. The last six try the sizes projected
# from an opening: a picture whose detail fades after its first second, one that the encoder's
# rate control starts well below its target, a still picture but for its counter, a still
# opening cut to a grainy picture; and, made at a constant quality (crfN) as a camera makes
# them, so that the source's own packets follow its picture, a still opening cut to a zoom and a
# grainy opening cut to a still picture.
clips=(
  "480p-2s 854x480 30 2 2M"
  "480p-10s 854x480 30 10 2M"
  "720p-8s 1280x720 30 8 4M"
  "1080p-30s 1920x1080 30 30 8M"
  "4k-10s 3840x2160 30 10 30M"
  "480p-2min 854x480 30 120 2M"
  "480p-10s-life 854x480 30 10 2M life=size=854x480:rate=30:mold=10:ratio=0.2:death_color=#C83232:life_color=#00ff00,trim=duration=10"
  "480p-10s-gradients 854x480 30 10 1500k gradients=size=854x480:rate=30:speed=0.05:duration=10"
  "480p-10s-counter 854x480 30 10 3M testsrc=size=854x480:rate=30:duration=10"
  "480p-12s-cut 854x480 30 12 8M smptebars=size=854x480:rate=30:duration=5[a];testsrc2=size=854x480:rate=30:duration=7,noise=alls=6:allf=t[b];[a][b]concat=n=2:v=1:a=0"
  "480p-16s-zoom 854x480 30 16 crf20 mandelbrot=size=854x480:rate=30,trim=end_frame=1,loop=loop=179:size=1:start=0,setpts=N/30/TB[a];mandelbrot=size=854x480:rate=30,trim=duration=10,setpts=PTS-STARTPTS[b];[a][b]concat=n=2:v=1:a=0"
  "480p-12s-calm 854x480 30 12 crf20 testsrc2=size=854x480:rate=30:duration=3,noise=alls=6:allf=t[a];smptehdbars=size=854x480:rate=30:duration=9[b];[a][b]concat=n=2:v=1:a=0"
)
wanted=("$@")
for spec in "${clips[@]}"; do
  read -r name size rate seconds bitrate picture <<< "$spec"
  if [ ${#wanted[@]} -gt 0 ] && [[ ! " ${wanted[*]} " =~ " $name " ]]; then continue; fi
  clip="$work/$name.mp4"
  picture="${picture:-testsrc2=size=$size:rate=$rate:duration=$seconds,noise=alls=4:allf=t}"
  video_rate=(-b:v "$bitrate")
  if [[ $bitrate == crf* ]]; then video_rate=(-crf "${bitrate#crf}"); fi
  ffmpeg -nostdin -loglevel error -y -f lavfi -i "$picture" \
    -f lavfi -i "sine=frequency=440:duration=$seconds" -c:v libx264 -preset veryfast "${video_rate[@]}" -c:a aac -b:a 128k "$clip"
  whole_process "$name estimate vs compress balanced" "$work/estimate/" "$work/compressed/" -- \
    "$program" --estimate "$clip" -- "$program" --compress "$clip" balanced "$work/compressed"
  if [ -n "${BEFORE:-}" ]; then
    whole_process "$name estimate now vs before" "$work/estimate/" "$work/before/" -- \
      "$program" --estimate "$clip" -- "$BEFORE" --estimate "$clip"
  fi
  mkdir -p "$work/levels"
  "$bench" clip "$clip" "$work/levels" 2>/dev/null | grep -v '^\[' | sed "s/^/  $name /"
  rm -rf "$work/levels" "$clip"
done
