#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one with its seed corpus and dictionary.
#
#     scripts/fuzz.sh [SECONDS] [TARGET...]   run each target (all by default) for SECONDS (60)
#     scripts/fuzz.sh --check                 run each target once over its seed corpus only
#
# New inputs found go to build-fuzz/corpus/<target>/ (the seeds in the tree stay as they are);
# a crash leaves its input as build-fuzz/findings/<target>/crash-*. Prints executions per target.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=60
check=false
if [ "${1:-}" = "--check" ]; then
  check=true
  shift
elif [[ "${1:-}" =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DPD_BUILD_FUZZERS=ON -DPD_BUILD_GUI=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)"

# Every target's source, with its seeds in corpus/<name>/ and its dictionary <name>.dict beside it.
mapfile -t sources < <(find auth http app socket -path '*/fuzz/*_fuzzer.cpp' 2>/dev/null | sort)
targets=("$@")
if ((${#targets[@]} == 0)); then
  for source in "${sources[@]}"; do targets+=("$(basename "$source" .cpp)"); done
fi

status=0
for target in "${targets[@]}"; do
  source=$(printf '%s\n' "${sources[@]}" | grep "/$target.cpp$" || true)
  [ -n "$source" ] || { echo "no fuzz target named $target" >&2; exit 2; }
  folder=$(dirname "$source")
  binary=$(find build-fuzz -type f -name "$target" -perm -u+x | head -1)
  seeds="$folder/corpus/$target"
  options=()
  [ -f "$folder/$target.dict" ] && options+=("-dict=$folder/$target.dict")
  if $check; then
    log="build-fuzz/$target.check.log"
    "$binary" "${options[@]}" -runs=0 "$seeds" >"$log" 2>&1 ||
      { echo "$target: FAILED on its seed corpus:" >&2; tail -40 "$log" >&2; status=1; continue; }
    echo "$target: seed corpus passes ($(ls "$seeds" | wc -l) inputs)"
    continue
  fi
  corpus="build-fuzz/corpus/$target"
  findings="build-fuzz/findings/$target"
  mkdir -p "$corpus" "$findings"
  log="build-fuzz/$target.log"
  if "$binary" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$findings/" "$corpus" "$seeds" >"$log" 2>&1; then
    result="no findings"
  else
    result="FINDING in $findings (see $log)"
    status=1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  echo "$target: $runs executions in $seconds s, $result"
done
exit $status
