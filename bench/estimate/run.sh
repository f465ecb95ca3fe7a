#!/bin/sh
# Estimates against what compress writes, per level, over generated videos, photos, screenshots
# and line art / graphs: sizes for every file, and for images the estimated quality loss against
# the SSIM loss that ffmpeg measures independently on grey. Prints a Markdown table.
#   bench/estimate/run.sh [corpus folder]   (made by make_corpus.sh when not given or empty)
# Not a test: run it by hand.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/calvoro-estimate-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
corpus=${1:-$work/corpus}
[ -d "$corpus/video" ] || "$here/make_corpus.sh" "$corpus" >&2

build=$("$root/bench/build" estimate_table)
mkdir -p "$work/out"
"$build/bench/estimate/estimate_table" "$work/out" "$corpus"/video/* "$corpus"/photo/* "$corpus"/screenshot/* \
  "$corpus"/lineart/* > "$work/rows.tsv"
python3 "$here/table.py" "$work/rows.tsv"
