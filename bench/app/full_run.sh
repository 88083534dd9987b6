#!/usr/bin/env bash
# A full scan run of the real program, offscreen, over 100 local feeds that each announce one new
# 1 MiB episode, served by nginx on 127.0.0.1; then the same run again with nothing new. The same
# two runs follow with the command-line program over a fresh download folder. Prints the wall time,
# the CPU time and the peak memory of each run.
#
#     bench/app/full_run.sh [BUILD-DIR]     (default: build; the programs are built there)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=$(realpath -m "${1:-$repo/build}")
feeds=100
episode_bytes=$((1024 * 1024))

"$repo/scripts/setup.sh" nginx-light curl time python3
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S "$repo" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build_dir" --target full_run_bench podcast-downloader-cli >/dev/null
bench="$build_dir/bench/app/full_run_bench"
cli="$build_dir/app/cli/podcast-downloader-cli"

# shellcheck source=bench/local_nginx.sh
source "$repo/bench/local_nginx.sh"
# shellcheck source=bench/app/episode_runs.sh
source "$repo/bench/app/episode_runs.sh"
start_local_nginx
base="http://127.0.0.1:$port"

make_feeds "$base"

wait_for_nginx "$base/feeds/show-001.xml"

write_list "$base" "$work/downloads"

# The feed fetch honours the proxy variables; the local server is reached directly.
export no_proxy=127.0.0.1 NO_PROXY=127.0.0.1

echo "$feeds feeds with one new $((episode_bytes / 1024)) KiB episode each, nginx on $base"
cat "$work/www/episodes"/* >/dev/null  # warm-up: the episodes are in the page cache
measure "window program, run 1, $feeds new episodes" "$bench" "$work/program"
check_downloads
measure "window program, run 2, nothing new       " "$bench" "$work/program"
check_downloads

# A fresh start for the command-line program: the episode history would remember the window
# program's downloads and find nothing new.
write_list "$base" "$work/downloads-cli"
rm -f "$work/program/liste.pdl.history"*
cli_run=("$cli" --quiet --list-file "$work/program/liste.pdl")
measure "command line,   run 1, $feeds new episodes" "${cli_run[@]}"
check_downloads
measure "command line,   run 2, nothing new       " "${cli_run[@]}"
check_downloads
