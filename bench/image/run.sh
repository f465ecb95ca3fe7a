#!/bin/sh
# Benchmark of the imaging layer against libvips and ImageMagick on a 24-megapixel photo:
# JPEG to PNG, PNG to JPEG at 0.92, HEIC to JPEG, and a resize to 2048. Prints each job's
# time (median of BENCH_RUNS paired runs, at least 5) and our median over each peer's; the goal is
# at most 1.00 against vips and at most 0.33 against ImageMagick (three times faster). Then the
# whole `calvoro --convert` process against vips's whole process with the same settings (PNG
# compression level 6, JPEG quality 92 with 4:2:0 chroma), through bench/paired.py: medians of
# paired runs, peak memory, output sizes and the load, for JPEG to PNG, PNG to JPEG (the photo,
# and 12-megapixel PNGs of 8 and of 16 bits a channel as ImageMagick writes them, comments after
# the pixels), JPEG to WebP, JPEG to AVIF and JPEG to HEIC (the HEIF family at our quality and with
# 4:2:0 chroma on both sides, as libheif's encoders default to).
# Uses build/ (scripts/setup makes it): the driver is compiled against its libraries. About four
# minutes on a quiet machine, most of it AVIF and HEIC.
# BENCH_WHOLE_ONLY=1 runs only the whole-process part; BENCH_PROGRAM names another build of the program.
# Not a test: run it by hand.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/calvoro-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

# The driver over the libraries and the program of the tree scripts/setup builds (or BUILD_DIR).
build=$("$root/bench/build" calvoro_rooms calvoro)
libs=$(pkg-config --libs libpng libjpeg libtiff-4 libwebp libwebpmux libwebpdemux lcms2 exiv2 zlib icu-uc icu-i18n)
c++ -std=c++20 -O2 -I"$root/src" "$root/bench/image/image_bench.cpp" -o "$work/image_bench" \
  "$build/lib/calvoro/libcalvoro_rooms.so" -Wl,-rpath,"$build/lib/calvoro" $libs -lgif -lpthread -ldl

bench="$work/image_bench"
echo "Making the 24-megapixel photo..."
"$bench" make-photo "$work/photo.jpg" >/dev/null
"$bench" jpeg-to-png "$work/photo.jpg" "$work/photo.png" >/dev/null
"$bench" make-heic "$work/photo.jpg" "$work/photo.heic" >/dev/null

runs=${BENCH_RUNS:-5}

if [ -z "${BENCH_WHOLE_ONLY:-}" ]; then
# Each job through our imaging layer (timed in the driver), vips and ImageMagick in turn, run by
# run, with the same settings (PNG compression level 6 with adaptive row filters, which vips
# leaves out unless asked; JPEG quality 92 with 4:2:0 chroma); medians.
row() {  # job our-output our-job-arguments... --side vips ... --side magick ...
  name=$1 out=$2; shift 2
  set -- --side ours --reports --fresh "$out" "$bench" "$@"
  python3 "$root/bench/paired.py" "$name" "$@"
}
scale=$(echo "scale=6; 2048 / 6000" | bc)
row jpeg-to-png "$work/o1.png" jpeg-to-png "$work/photo.jpg" "$work/o1.png" \
  --side vips --goal 1.0 --fresh "$work/v1.png" vips copy "$work/photo.jpg" "$work/v1.png[compression=6,filter=all]" \
  --side magick --goal 0.33 --fresh "$work/m1.png" convert "$work/photo.jpg" -define png:compression-level=6 "$work/m1.png"
row png-to-jpeg "$work/o2.jpg" png-to-jpeg "$work/photo.png" "$work/o2.jpg" \
  --side vips --goal 1.0 --fresh "$work/v2.jpg" vips copy "$work/photo.png" "$work/v2.jpg[Q=92,subsample_mode=on]" \
  --side magick --goal 0.33 --fresh "$work/m2.jpg" convert "$work/photo.png" -quality 92 -sampling-factor 4:2:0 "$work/m2.jpg"
row heic-to-jpeg "$work/o3.jpg" to-jpeg "$work/photo.heic" "$work/o3.jpg" \
  --side vips --goal 1.0 --fresh "$work/v3.jpg" vips copy "$work/photo.heic" "$work/v3.jpg[Q=92,subsample_mode=on]" \
  --side magick --goal 0.33 --fresh "$work/m3.jpg" convert "$work/photo.heic" -quality 92 -sampling-factor 4:2:0 "$work/m3.jpg"
row resize-2048 "$work/o4.jpg" resize "$work/photo.jpg" "$work/o4.jpg" 2048 \
  --side vips --goal 1.0 --fresh "$work/v4.jpg" vips resize "$work/photo.jpg" "$work/v4.jpg[Q=92,subsample_mode=on]" "$scale" \
  --side magick --goal 0.33 --fresh "$work/m4.jpg" convert "$work/photo.jpg" -resize 2048x2048 -quality 92 -sampling-factor 4:2:0 "$work/m4.jpg"
fi

echo "Making the 12-megapixel PNGs..."
convert "$work/photo.jpg" -resize 4000x3000! "$work/p8.png"
convert "$work/photo.jpg" -resize 4000x3000! -depth 16 "$work/p16.png"

echo "Whole process against vips:"
program="${BENCH_PROGRAM:-$build/src/app/calvoro}"
whole() {  # job, source, target, vips output with its options, vips command...
  name=$1 src=$2 target=$3 out=$4; shift 4
  python3 "$root/bench/paired.py" "$name" \
    --side ours --fresh "$work/whole/" "$program" --convert "$src" "$target" "$work/whole" \
    --side vips --goal 1.0 --fresh "${out%%\[*}" vips "$@" "$src" "$out"
}
whole "jpeg-to-png 24 MP" "$work/photo.jpg" png "$work/w1.png[compression=6]" copy
whole "png-to-jpeg 24 MP" "$work/photo.png" jpeg "$work/w2.jpg[Q=92,subsample_mode=on]" copy
whole "png-to-jpeg 12 MP 8-bit" "$work/p8.png" jpeg "$work/w6.jpg[Q=92,subsample_mode=on]" copy
whole "png-to-jpeg 12 MP 16-bit" "$work/p16.png" jpeg "$work/w7.jpg[Q=92,subsample_mode=on]" copy
whole "jpeg-to-webp" "$work/photo.jpg" webp "$work/w3.webp[Q=92]" copy
whole "jpeg-to-avif" "$work/photo.jpg" avif "$work/w4.avif[Q=92,compression=av1,subsample_mode=on]" copy
whole "jpeg-to-heic" "$work/photo.jpg" heic "$work/w5.heic[Q=85,compression=hevc,subsample_mode=on]" copy
