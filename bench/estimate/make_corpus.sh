#!/bin/sh
# Makes the files bench/estimate/run.sh measures, into the folder given: videos (low bitrate, low
# motion, ordinary), photos, screenshots and line art / graphs. Everything is generated here with
# ffmpeg and ImageMagick, except a few real JPEGs and graphs found on a Debian machine, used
# when present.
set -eu
out=$1
mkdir -p "$out/video" "$out/photo" "$out/screenshot" "$out/lineart"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }

v=$out/video
# Low bitrate: the encoder's 200 kb/s floor is above most levels' share of these.
ff -f lavfi -i "testsrc2=size=320x240:rate=25:duration=20" -f lavfi -i "sine=frequency=440:duration=20" \
  -c:v libx264 -b:v 120k -c:a aac -b:a 32k "$v/low-150k.mp4"
ff -f lavfi -i "testsrc=size=480x360:rate=25:duration=15" -f lavfi -i "sine=frequency=300:duration=15" \
  -c:v libx264 -b:v 300k -c:a aac -b:a 64k "$v/low-360k.mp4"
ff -f lavfi -i "mandelbrot=size=426x240:rate=25,trim=duration=15" -c:v libx264 -b:v 250k -an "$v/low-250k-noaudio.mp4"
ff -f lavfi -i "testsrc2=size=640x360:rate=30:duration=12" -f lavfi -i "anoisesrc=d=12:c=pink:a=0.2" \
  -c:v libx264 -b:v 500k -c:a aac -b:a 96k -ac 1 "$v/low-600k-mono.mov"
# Low motion: a still picture, slow colour bars, a nearly still scene with light noise.
ff -f lavfi -i "smptebars=size=1280x720:rate=30:duration=15" -f lavfi -i "sine=frequency=1000:duration=15" \
  -c:v libx264 -b:v 1500k -c:a aac -b:a 128k "$v/still-bars-1500k.mp4"
ff -f lavfi -i "mandelbrot=size=1280x720:rate=1,trim=end_frame=1,loop=loop=449:size=1,setpts=N/30/TB" \
  -f lavfi -i "sine=frequency=220:duration=15" -c:v libx264 -b:v 2500k -c:a aac -b:a 128k -shortest "$v/still-picture-2500k.mp4"
ff -f lavfi -i "color=c=0x336699:size=960x540:rate=25:duration=15,noise=alls=4:allf=t" \
  -c:v libx264 -b:v 1200k -an "$v/flat-noise-1200k.mp4"
ff -f lavfi -i "smptehdbars=size=1280x720:rate=25:duration=12,drawbox=x='mod(t*40,1200)':y=300:w=40:h=40:color=red:t=fill" \
  -f lavfi -i "sine=frequency=500:duration=12" -c:v libx264 -b:v 2000k -c:a aac -b:a 192k "$v/slow-box-2000k.mov"
# Ordinary motion and noise.
ff -f lavfi -i "testsrc2=size=1280x720:rate=30:duration=10,noise=alls=8:allf=t" -f lavfi -i "sine=frequency=440:duration=10" \
  -c:v libx264 -preset veryfast -b:v 4M -c:a aac -b:a 192k "$v/motion-noise-4M.mp4"
ff -f lavfi -i "life=size=640x480:rate=25:ratio=0.5:death_color=#004080:life_color=#ffcc00,trim=duration=10" \
  -f lavfi -i "sine=frequency=600:duration=10" -c:v libx264 -crf 20 -c:a aac -b:a 128k "$v/life-crf20.mp4"
ff -f lavfi -i "testsrc2=size=1920x1080:rate=30:duration=8,noise=alls=8:allf=t" -f lavfi -i "sine=frequency=440:duration=8" \
  -c:v libx264 -preset veryfast -b:v 8M -c:a aac -b:a 256k "$v/hd-noise-8M.mp4"
ff -f lavfi -i "testsrc=size=640x480:rate=25:duration=10" -f lavfi -i "sine=frequency=700:duration=10" \
  -c:v mpeg4 -q:v 4 -c:a libmp3lame -b:a 128k "$v/mpeg4.avi"
ff -f lavfi -i "mandelbrot=size=640x360:rate=25,trim=duration=10" -f lavfi -i "sine=frequency=800:duration=10" \
  -c:v libx264 -b:v 1M -c:a aac -b:a 320k "$v/loud-audio-1M.m4v"

p=$out/photo
# Natural-like pictures: fractal clouds and terrain with a camera's grain, saved as a camera would.
i=0
for spec in "2400x1600 plasma:green-blue 3" "3000x2000 plasma:fractal 6" "1600x1200 plasma:orange-brown 2" \
            "4000x3000 plasma:fractal 8" "2048x1536 plasma:sienna-wheat 4" "1920x1280 plasma:fractal 1" \
            "2560x1440 plasma:navy-skyblue 5" "1200x1800 plasma:fractal 3"; do
  set -- $spec
  i=$((i + 1))
  convert -seed $i -size "$1" "$2" -blur 0x$3 -attenuate 0.6 +noise Gaussian -quality 92 "$p/natural-$i.jpg"
done
convert -seed 20 -size 1600x1067 plasma:fractal -blur 0x12 \( -size 1600x1067 xc: +noise Random -colorspace gray -blur 0x1 \) \
  -compose softlight -composite -quality 88 "$p/texture-grain.jpg"
ff -f lavfi -i "mandelbrot=size=1920x1080:start_scale=0.02" -frames:v 1 -vf "noise=alls=6" -q:v 2 "$p/mandelbrot.jpg"
for f in /usr/share/doc/*/images/*.jp*g /root/.rustup/toolchains/stable-*/share/doc/rust/html/embedded-book/assets/f3.jpg \
         /root/.rustup/toolchains/stable-*/share/doc/rust/html/embedded-book/assets/verify.jpeg; do
  [ -f "$f" ] || continue
  case "$f" in *cpugraph*) continue ;; esac
  cp "$f" "$p/real-$(basename "$f")"
done

s=$out/screenshot
# Window-like pictures: panels, buttons and lines of text in a few fonts and sizes.
text=/usr/share/common-licenses/GPL-3
for n in 1 2 3 4 5 6 7 8 9 10 11; do
  w=$((1000 + n * 90)); h=$((700 + n * 40)); pt=$((11 + n % 4)); q=$((70 + n * 2))
  bg=$(echo "#f4f4f4 #ffffff #2b2b2b #e8eef4" | cut -d' ' -f$((n % 4 + 1)))
  fg=$( [ "$bg" = "#2b2b2b" ] && echo "#e0e0e0" || echo "#202020")
  font=$(echo "DejaVu-Sans DejaVu-Sans-Mono DejaVu-Serif" | cut -d' ' -f$((n % 3 + 1)))
  sed -n "$((n * 40)),$((n * 40 + 60))p" "$text" > "$out/.lines"
  convert -size ${w}x${h} "xc:$bg" \
    -fill "#3465a4" -draw "rectangle 0,0 $w,36" -fill "#d0d0d0" -draw "rectangle 0,36 220,$h" \
    -fill "#4e9a06" -draw "roundrectangle $((w - 200)),$((h - 60)) $((w - 40)),$((h - 20)) 8,8" \
    -font DejaVu-Sans -pointsize 14 -fill white -annotate +12+24 "Files - window $n" \
    -fill "#202020" -annotate +16+70 "Documents" -annotate +16+96 "Pictures" -annotate +16+122 "Music" \
    -fill "$fg" -font $font -pointsize $pt -annotate +240+64 "$(cat "$out/.lines")" \
    -quality $q "$s/window-$n.jpg"
done
rm -f "$out/.lines"

l=$out/lineart
# Graphs and drawings: thin lines on white, axes and grids, as plots and diagrams are.
[ -f /usr/share/doc/sysstat/images/cpugraph.jpg ] && cp /usr/share/doc/sysstat/images/cpugraph.jpg "$l/real-cpugraph.jpg"
for f in /usr/share/doc/sysstat/images/*.png; do
  [ -f "$f" ] || continue
  convert "$f" -background white -flatten -quality 85 "$l/real-$(basename "$f" .png).jpg"
done
python3 "$(dirname "$0")/draw_graphs.py" "$l"
