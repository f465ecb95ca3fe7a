# Sourced by the bench scripts: the program as a user runs it, timed whole against the peer's
# whole process. Both run in turn (ours, then the peer) for each round, so that the machine's
# load falls on both alike; medians of the rounds are printed with the peak memory of each and
# the sizes of what each wrote.
#
#   source "$root/bench/whole_process.sh"
#   program=$(calvoro_program "$root")
#   whole_process "tar.gz -> zip" ours.zip peer.zip -- "$program" --convert a.tar.gz zip out -- bsdtar ...
#
# BENCH_WHOLE_RUNS sets the rounds (at least 5, the default).

# Builds the program in the tree that scripts/setup builds (bench/build; a build folder given
# second, or BUILD_DIR, instead) and prints its path.
calvoro_program() {  # source-root [build-folder]
  local build
  build="$(BUILD_DIR="${2:-${BUILD_DIR:-}}" "$1/bench/build" calvoro)" || return 1
  # Absolute, since the benches run it from a work folder of their own.
  echo "$(cd "$build" && pwd)/src/app/calvoro"
}

# whole_process LABEL OURS-OUTPUT PEER-OUTPUT -- OUR COMMAND... -- PEER COMMAND...
# The outputs are paths (a file, or a folder whose files are summed) removed before each run.
whole_process() {
  local label="$1" our_out="$2" peer_out="$3"
  shift 3
  [ "$1" = "--" ] || { echo "whole_process: -- expected" >&2; return 2; }
  shift
  local ours=() peer=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do ours+=("$1"); shift; done
  shift
  peer=("$@")
  local runs="${BENCH_WHOLE_RUNS:-5}"
  [ "$runs" -ge 5 ] || runs=5
  local stats
  stats="$(mktemp "${TMPDIR:-/tmp}/calvoro-whole-XXXXXX")"
  for _ in $(seq "$runs"); do
    for side in ours peer; do
      local out
      if [ "$side" = ours ]; then out="$our_out"; else out="$peer_out"; fi
      rm -rf "$out"
      [ "${out%/}" != "$out" ] && mkdir -p "$out"
      local cmd=("${peer[@]}")
      [ "$side" = ours ] && cmd=("${ours[@]}")
      QT_QPA_PLATFORM=offscreen /usr/bin/time -f "$side %e %M" -a -o "$stats" "${cmd[@]}" > /dev/null 2>&1 ||
        { echo "$label: the $side command failed: ${cmd[*]}" >&2; rm -f "$stats"; return 1; }
    done
  done
  local our_size peer_size
  our_size="$(find "$our_out" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')"
  peer_size="$(find "$peer_out" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')"
  python3 - "$label" "$stats" "$our_size" "$peer_size" <<'PY'
import os, statistics, sys
label, stats, our_size, peer_size = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
t = {"ours": [], "peer": []}
m = {"ours": [], "peer": []}
for line in open(stats):
    parts = line.split()
    if len(parts) == 3 and parts[0] in t:
        t[parts[0]].append(float(parts[1]))
        m[parts[0]].append(int(parts[2]) / 1024)
ot, pt = statistics.median(t["ours"]), statistics.median(t["peer"])
om, pm = max(m["ours"]), max(m["peer"])
print(f"{label} [whole process, median of {len(t['ours'])} paired runs]: ours {ot:.2f} s, peer {pt:.2f} s, "
      f"ratio {ot / pt if pt else float('inf'):.2f}; peak memory ours {om:.0f} MiB, peer {pm:.0f} MiB; "
      f"output size ours/peer {our_size / peer_size if peer_size else float('inf'):.3f} "
      f"({our_size:,} vs {peer_size:,} bytes); load {os.getloadavg()[0]:.1f}")
PY
  rm -f "$stats"
}
