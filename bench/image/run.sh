#!/bin/sh
# Benchmark of the imaging layer against libvips and ImageMagick on a 24-megapixel photo:
# JPEG to PNG, PNG to JPEG at 0.92, HEIC to JPEG, and a resize to 2048. Prints each job's
# time (best of BENCH_RUNS runs, 5 unless set) and our time over each peer's; the goal is
# at most 1.00 against vips and at most 0.33 against ImageMagick (three times faster). Then the
# whole `calvoro --convert` process against vips's whole process with the same settings (PNG
# compression level 6, JPEG quality 92 with 4:2:0 chroma): medians of paired runs, peak memory,
# output sizes, for JPEG to PNG, PNG to JPEG, JPEG to WebP, JPEG to AVIF and JPEG to HEIC (the
# HEIF family at our quality and with 4:2:0 chroma on both sides, as libheif's encoders default to).
# BENCH_WHOLE_ONLY=1 runs only that part; BENCH_PROGRAM names another build of the program to time.
# Not a test: run it by hand on an otherwise quiet machine.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
work=$(mktemp -d "${TMPDIR:-/tmp}/calvoro-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCALVORO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target calvoro_imaging calvoro_core >/dev/null
libs=$(pkg-config --libs libpng libjpeg libtiff-4 libwebp libwebpmux libwebpdemux lcms2 exiv2 zlib icu-uc icu-i18n)
c++ -std=c++20 -O2 -I"$root/src" "$root/bench/image/image_bench.cpp" -o "$work/image_bench" \
  "$build/src/platform/imaging/libcalvoro_imaging.a" "$build/src/core/libcalvoro_core.a" $libs -lgif -lpthread -ldl

bench="$work/image_bench"
echo "Making the 24-megapixel photo..."
"$bench" make-photo "$work/photo.jpg" >/dev/null
"$bench" jpeg-to-png "$work/photo.jpg" "$work/photo.png" >/dev/null
"$bench" make-heic "$work/photo.jpg" "$work/photo.heic" >/dev/null

runs=${BENCH_RUNS:-5}

if [ -z "${BENCH_WHOLE_ONLY:-}" ]; then

  # Wall-clock seconds of a command, best of the runs.
  timed() {
    best=""
    for _ in $(seq "$runs"); do
      s=$(date +%s.%N)
      "$@" >/dev/null 2>&1
      e=$(date +%s.%N)
      t=$(echo "$e - $s" | bc)
      if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then best=$t; fi
    done
    echo "$best"
  }

  scale=$(echo "scale=6; 2048 / 6000" | bc)
  printf "%-14s %8s %8s %8s %10s %12s  %s\n" job ours vips magick ours/vips ours/magick goal
  row() {
    name=$1 ours=$2 vips=$3 magick=$4
    overVips=$(echo "scale=4; $ours / $vips" | bc)
    overMagick=$(echo "scale=4; $ours / $magick" | bc)
    goal=met
    if [ "$(echo "$overVips > 1.0" | bc)" = 1 ] || [ "$(echo "$overMagick > 0.3333" | bc)" = 1 ]; then goal="not met"; fi
    printf "%-14s %8.3f %8.3f %8.3f %10.2f %12.2f  %s\n" "$name" "$ours" "$vips" "$magick" "$overVips" "$overMagick" "$goal"
  }
  row "jpeg-to-png" "$(timed "$bench" jpeg-to-png "$work/photo.jpg" "$work/o1.png")" \
    "$(timed vips copy "$work/photo.jpg" "$work/v1.png")" "$(timed convert "$work/photo.jpg" "$work/m1.png")"
  row "png-to-jpeg" "$(timed "$bench" png-to-jpeg "$work/photo.png" "$work/o2.jpg")" \
    "$(timed vips copy "$work/photo.png" "$work/v2.jpg[Q=92]")" "$(timed convert "$work/photo.png" -quality 92 "$work/m2.jpg")"
  row "heic-to-jpeg" "$(timed "$bench" to-jpeg "$work/photo.heic" "$work/o3.jpg")" \
    "$(timed vips copy "$work/photo.heic" "$work/v3.jpg[Q=92]")" "$(timed convert "$work/photo.heic" -quality 92 "$work/m3.jpg")"
  row "resize-2048" "$(timed "$bench" resize "$work/photo.jpg" "$work/o4.jpg" 2048)" \
    "$(timed vips resize "$work/photo.jpg" "$work/v4.jpg[Q=92]" "$scale")" \
    "$(timed convert "$work/photo.jpg" -resize 2048x2048 -quality 92 "$work/m4.jpg")"

fi

echo "Whole process against vips:"
BENCH_PROGRAM="${BENCH_PROGRAM:-}" root="$root" work="$work" bash -c '
  source "$root/bench/whole_process.sh"
  program="${BENCH_PROGRAM:-$(calvoro_program "$root" "$root/build-bench-image")}"
  whole_process "jpeg-to-png" "$work/whole/" "$work/w1.png" -- "$program" --convert "$work/photo.jpg" png "$work/whole" -- \
    vips copy "$work/photo.jpg" "$work/w1.png[compression=6]"
  whole_process "png-to-jpeg" "$work/whole/" "$work/w2.jpg" -- "$program" --convert "$work/photo.png" jpeg "$work/whole" -- \
    vips copy "$work/photo.png" "$work/w2.jpg[Q=92,subsample_mode=on]"
  whole_process "jpeg-to-webp" "$work/whole/" "$work/w3.webp" -- "$program" --convert "$work/photo.jpg" webp "$work/whole" -- \
    vips copy "$work/photo.jpg" "$work/w3.webp[Q=92]"
  whole_process "jpeg-to-avif" "$work/whole/" "$work/w4.avif" -- "$program" --convert "$work/photo.jpg" avif "$work/whole" -- \
    vips copy "$work/photo.jpg" "$work/w4.avif[Q=92,compression=av1,subsample_mode=on]"
  whole_process "jpeg-to-heic" "$work/whole/" "$work/w5.heic" -- "$program" --convert "$work/photo.jpg" heic "$work/whole" -- \
    vips copy "$work/photo.jpg" "$work/w5.heic[Q=85,compression=hevc,subsample_mode=on]"
'
