#!/usr/bin/env bash
# A scan run of the command-line program at internet latency: 100 feeds that each announce one new
# 1 MiB episode, served by nginx on 127.0.0.1 behind bench/app/latency_forwarder.py, which holds
# every new connection one round trip and every chunk half a round trip, so each feed and episode
# URL costs what it would from a server that far away. The full run downloads the 100 episodes into
# a fresh folder; the same run again finds nothing new. Prints the wall time, the CPU time, the
# peak memory and the files in the download folder after each run, and checks every episode.
#
#     bench/app/latency_run.sh [BUILD-DIR] [RTT-MS]   (defaults: build, 50; the program is built there)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=$(realpath -m "${1:-$repo/build}")
rtt_ms=${2:-50}
feeds=100
episode_bytes=$((1024 * 1024))

"$repo/scripts/setup.sh" nginx-light curl time python3
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S "$repo" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build_dir" --target podcast-downloader-cli >/dev/null
cli="$build_dir/app/cli/podcast-downloader-cli"

# shellcheck source=bench/local_nginx.sh
source "$repo/bench/local_nginx.sh"
start_local_nginx

# The forwarder goes before nginx is stopped and the work folder removed; its status on SIGTERM
# must not end the trap under set -e, or nginx would outlive the script.
forwarder_pid=""
stop_all() {
  if [ -n "$forwarder_pid" ]; then
    kill "$forwarder_pid" 2>/dev/null || true
    wait "$forwarder_pid" 2>/dev/null || true
  fi
  stop_local_nginx
}
trap stop_all EXIT

coproc forwarder {
  exec python3 "$repo/bench/app/latency_forwarder.py" 127.0.0.1 "$port" --rtt-ms "$rtt_ms"
}
# shellcheck disable=SC2154  # forwarder_PID is set by coproc
forwarder_pid=$forwarder_PID
# It prints its port once it listens.
if ! read -r -t 10 -u "${forwarder[0]}" forwarder_port; then
  echo "the forwarder did not start" >&2
  exit 1
fi
base="http://127.0.0.1:$forwarder_port"

mkdir -p "$work/www/feeds" "$work/www/episodes" "$work/program"
for i in $(seq -f "%03g" "$feeds"); do
  head -c "$episode_bytes" /dev/urandom >"$work/www/episodes/episode-$i.mp3"
  cat >"$work/www/feeds/show-$i.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<rss version="2.0"><channel><title>Show $i</title>
<item><title>Episode $i</title>
<enclosure url="$base/episodes/episode-$i.mp3" length="$episode_bytes" type="audio/mpeg"/>
</item></channel></rss>
EOF
done

wait_for_nginx "http://127.0.0.1:$port/feeds/show-001.xml"

# The list file: the count, one feed per line, then the download folder without a line end.
downloads="$work/downloads"
{
  printf '%d\r\n' "$feeds"
  for i in $(seq -f "%03g" "$feeds"); do printf '%s\r\n' "$base/feeds/show-$i.xml"; done
  printf '%s' "$downloads/"
} >"$work/program/liste.pdl"

# The feed fetch honours the proxy variables; the local forwarder is reached directly.
export no_proxy=127.0.0.1 NO_PROXY=127.0.0.1

# Runs a program once under GNU time and prints one line of figures, with the files it left.
measure() {
  local name=$1
  shift
  /usr/bin/time -v -o "$work/time.txt" "$@" | sed 's/^/  /'
  local files
  files=$(find "$downloads" -type f 2>/dev/null | wc -l)
  awk -v name="$name" -v files="$files" -F': ' '
    /Elapsed \(wall clock\) time/ {
      n = split($2, part, ":"); wall = 0
      for (i = 1; i <= n; ++i) wall = wall * 60 + part[i]
    }
    /User time \(seconds\)/ { user = $2 }
    /System time \(seconds\)/ { sys = $2 }
    /Maximum resident set size/ { rss = $2 }
    END {
      printf "%s: wall %.2f s, CPU %.2f s (user %.2f, system %.2f), peak RSS %.1f MiB, %d files\n",
             name, wall, user + sys, user, sys, rss / 1024, files
    }' "$work/time.txt"
}

# Every episode is in the download folder with the server's bytes, and nothing else is.
check_downloads() {
  local count
  count=$(find "$downloads" -type f | wc -l)
  if [ "$count" -ne "$feeds" ]; then
    echo "FAILED: $count files in the download folder, expected $feeds" >&2
    exit 1
  fi
  for i in $(seq -f "%03g" "$feeds"); do
    local file="$downloads/episode-$i.mp3"
    if [ "$(stat -c %s "$file" 2>/dev/null)" != "$episode_bytes" ] ||
      ! cmp -s "$file" "$work/www/episodes/episode-$i.mp3"; then
      echo "FAILED: $file is missing or differs from the server's" >&2
      exit 1
    fi
  done
  echo "  all $feeds episodes present, $episode_bytes bytes each, equal to the server's"
}

echo "$feeds feeds with one new $((episode_bytes / 1024)) KiB episode each, nginx behind a" \
  "$rtt_ms ms round trip at $base"
cat "$work/www/episodes"/* >/dev/null  # warm-up: the episodes are in the page cache
cli_run=("$cli" --quiet --list-file "$work/program/liste.pdl")
measure "command line, run 1, $feeds new episodes" "${cli_run[@]}"
check_downloads
measure "command line, run 2, nothing new       " "${cli_run[@]}"
check_downloads
