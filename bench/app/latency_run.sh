#!/usr/bin/env bash
# A scan run of the command-line program at internet latency: 100 feeds that each announce one new
# 1 MiB episode, served by nginx on 127.0.0.1 behind bench/app/latency_forwarder.py, which holds
# every new connection one round trip and every chunk half a round trip, so each feed and episode
# URL costs what it would from a server that far away. The full run downloads the 100 episodes into
# a fresh folder; the same run again finds nothing new; then the full run again from a fresh folder
# and history with three downloads at once (--jobs 3). Prints the wall time, the CPU time, the
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
# shellcheck source=bench/app/episode_runs.sh
source "$repo/bench/app/episode_runs.sh"
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

make_feeds "$base"

wait_for_nginx "http://127.0.0.1:$port/feeds/show-001.xml"

write_list "$base" "$work/downloads"

# The feed fetch honours the proxy variables; the local forwarder is reached directly.
export no_proxy=127.0.0.1 NO_PROXY=127.0.0.1

echo "$feeds feeds with one new $((episode_bytes / 1024)) KiB episode each, nginx behind a" \
  "$rtt_ms ms round trip at $base"
cat "$work/www/episodes"/* >/dev/null  # warm-up: the episodes are in the page cache
cli_run=("$cli" --quiet --list-file "$work/program/liste.pdl")
measure "command line, run 1, $feeds new episodes" "${cli_run[@]}"
check_downloads
measure "command line, run 2, nothing new       " "${cli_run[@]}"
check_downloads
rm -rf "$downloads" "$work/program/liste.pdl.history"*
measure "command line, run 1 with --jobs 3        " "${cli_run[@]}" --jobs 3
check_downloads
