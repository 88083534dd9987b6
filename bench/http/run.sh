#!/usr/bin/env bash
# Downloads a 1 GiB file from a local nginx twice in one run, once with THttpCli (http_get_bench)
# and once with curl -o, and prints the rate, the CPU time and the peak memory of each.
#
#     bench/http/run.sh [BUILD-DIR]     (default: build; the benchmark target is built there)
#
# BENCH_RUNS (default 3) rounds alternate the two programs, so that a busy machine weighs on both.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=$(realpath -m "${1:-$repo/build}")
size_mib=${BENCH_SIZE_MIB:-1024}
runs=${BENCH_RUNS:-3}

missing=()
for package in nginx-light curl time; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi

if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S "$repo" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPD_BUILD_GUI=OFF \
    >/dev/null
fi
cmake --build "$build_dir" --target http_get_bench >/dev/null
bench="$build_dir/bench/http/http_get_bench"

work=$(mktemp -d)
chmod 755 "$work"
nginx_pid=""
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A free port on 127.0.0.1: bind to port 0 and take what the system gives.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

mkdir -p "$work/www" "$work/tmp"
truncate -s "${size_mib}M" "$work/www/big.bin"
chmod 644 "$work/www/big.bin"
cat >"$work/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events {}
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
  }
}
EOF
nginx -c "$work/nginx.conf" -p "$work" &
nginx_pid=$!
url="http://127.0.0.1:$port/big.bin"
for _ in $(seq 50); do
  curl -s -o /dev/null "$url" --max-time 1 -r 0-0 && break
  sleep 0.1
done

# One line per program: elapsed seconds, user and system CPU seconds, peak RSS in KiB.
measure() {
  local name=$1 output=$2
  shift 2
  /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$@" >"$work/out.txt"
  local bytes
  bytes=$(stat -c %s "$output")
  rm -f "$output"
  read -r elapsed user system rss <"$work/time.txt"
  awk -v name="$name" -v bytes="$bytes" -v e="$elapsed" -v u="$user" -v s="$system" -v rss="$rss" \
    'BEGIN { mb = bytes / 1e6; cpu = u + s;
             printf "%-8s %6.0f MB/s  %6.2f s  CPU %5.2f s (user %5.2f, system %5.2f, %5.3f s/GB)  peak RSS %6.1f MiB\n",
                    name, mb / e, e, cpu, u, s, cpu / (mb / 1000), rss / 1024 }'
}

echo "GET of a ${size_mib} MiB file from nginx on 127.0.0.1, written to $work"
curl -s -o /dev/null "$url"  # warm-up: the file is in the page cache for both runs
for _ in $(seq "$runs"); do
  measure THttpCli "$work/ours.bin" "$bench" "$url" "$work/ours.bin"
  measure curl "$work/curl.bin" curl -s -o "$work/curl.bin" "$url"
done
