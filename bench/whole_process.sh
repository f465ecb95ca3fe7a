# Sourced by the benchmarks: the whole `calvoro --convert` process against the peer's whole
# process, as a user would time them. Paired runs (ours, then the peer's, each time into an
# emptied folder), the median of each side, and each side's peak memory from one more run.
#   whole_ratio LABEL OUTPUT-FOLDER RUNS 'OUR COMMAND' 'PEER COMMAND'
# CALVORO_APP names the program (default: build/src/app/calvoro under the checkout).

calvoro_app() {
  wp_app=${CALVORO_APP:-$(cd "$(dirname "$0")/../.." && pwd)/build/src/app/calvoro}
  [ -x "$wp_app" ] || { echo "whole-process figures need $wp_app (or CALVORO_APP)" >&2; return 1; }
  echo "$wp_app"
}

median() {
  printf '%s\n' "$@" | sort -g | awk '{ a[NR] = $1 } END { print (NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2) }'
}

seconds_of() {  # folder command
  rm -rf "$1" && mkdir -p "$1"
  wp_s=$(date +%s.%N)
  (eval "$2") >/dev/null 2>&1
  wp_e=$(date +%s.%N)
  echo "$wp_e - $wp_s" | bc
}

peak_mib_of() {  # folder command
  rm -rf "$1" && mkdir -p "$1"
  /usr/bin/time -f %M -o "$1.rss" sh -c "$2" >/dev/null 2>&1
  awk '{ printf "%d", $1 / 1024 }' "$1.rss"
  rm -f "$1.rss"
}

whole_ratio() {
  wp_label=$1 wp_out=$2 wp_runs=$3 wp_ours=$4 wp_peer=$5
  wp_o="" wp_p=""
  for _ in $(seq "$wp_runs"); do
    wp_o="$wp_o $(seconds_of "$wp_out" "$wp_ours")"
    wp_p="$wp_p $(seconds_of "$wp_out" "$wp_peer")"
  done
  # shellcheck disable=SC2086
  wp_mo=$(median $wp_o) wp_mp=$(median $wp_p)
  printf '%-24s whole process: ours %7.3f s   peer %7.3f s   ratio %.2f   peak ours %s MiB, peer %s MiB\n' \
    "$wp_label" "$wp_mo" "$wp_mp" "$(echo "$wp_mo / $wp_mp" | bc -l)" "$(peak_mib_of "$wp_out" "$wp_ours")" "$(peak_mib_of "$wp_out" "$wp_peer")"
}
