#!/usr/bin/env bash
# Downloads a 1 GiB file from a local nginx with THttpCli (http_get_bench) and with curl -o, over
# http and then over https, and prints the rate, the CPU time and the peak memory of each run.
#
#     bench/http/run.sh [BUILD-DIR]     (default: build; the benchmark target is built there)
#
# BENCH_RUNS (default 3) rounds alternate the two programs, so that a busy machine weighs on both.
# For https a throw-away CA signs nginx's certificate; THttpCli trusts it through its extra CA
# file and curl through --cacert.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=$(realpath -m "${1:-$repo/build}")
size_mib=${BENCH_SIZE_MIB:-1024}
runs=${BENCH_RUNS:-3}

"$repo/scripts/setup.sh" nginx-light curl time python3 openssl
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S "$repo" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPD_BUILD_GUI=OFF \
    >/dev/null
fi
cmake --build "$build_dir" --target http_get_bench >/dev/null
bench="$build_dir/bench/http/http_get_bench"

# shellcheck source=bench/local_nginx.sh
source "$repo/bench/local_nginx.sh"

ca="$work/ca.pem"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$work/ca.key" \
  -out "$ca" -days 2 -subj /CN=Bench-CA -addext basicConstraints=critical,CA:TRUE \
  -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$work/server.key" \
  -out "$work/server.csr" -subj /CN=127.0.0.1 2>/dev/null
echo "subjectAltName=IP:127.0.0.1" >"$work/server.ext"
openssl x509 -req -in "$work/server.csr" -CA "$ca" -CAkey "$work/ca.key" -CAcreateserial \
  -out "$work/server.pem" -days 2 -extfile "$work/server.ext" 2>/dev/null
start_local_nginx "$work/server.pem" "$work/server.key"

truncate -s "${size_mib}M" "$work/www/big.bin"
chmod 644 "$work/www/big.bin"
url="http://127.0.0.1:$port/big.bin"
tls_url="https://127.0.0.1:$tls_port/big.bin"
wait_for_nginx "$url"

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

echo "The same over https ($(openssl version | cut -d' ' -f1-2) on both sides)"
for _ in $(seq "$runs"); do
  measure THttpCli "$work/ours.bin" "$bench" "$tls_url" "$work/ours.bin" "$ca"
  measure curl "$work/curl.bin" curl -s --cacert "$ca" -o "$work/curl.bin" "$tls_url"
done
