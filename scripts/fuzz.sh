#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60), seeded with
# its checked-in corpus under fuzz/corpus/<target>. New inputs go to a scratch folder, so the
# checked-in corpus only changes when someone copies a finding there on purpose.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
dir=${ORV_FUZZ_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORV_FUZZ=ON -DORV_SANITIZE=ON -DORV_BUILD_TESTS=OFF -DORV_BUILD_APP=OFF -DORV_BUILD_BENCH=OFF
targets=$(cd fuzz && for d in */; do d=${d%/}; [ "$d" != corpus ] && [ -f "$d/CMakeLists.txt" ] && echo "$d"; done || true)
if [ -z "$targets" ]; then echo "no fuzz targets"; exit 0; fi
cmake --build "$dir" -j"$(nproc)" --target fuzz_all
status=0
for bin in "$dir"/fuzz/bin/*; do
  name=$(basename "$bin")
  scratch=$(mktemp -d)
  mkdir -p "fuzz/corpus/$name"
  echo "== fuzzing $name for ${seconds}s"
  if ! "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
      "$scratch" "fuzz/corpus/$name" > "$scratch.log" 2>&1; then
    echo "!! $name found a failure:"; tail -50 "$scratch.log"; status=1
  else
    grep -E "stat::number_of_executed_units|stat::new_units_added" "$scratch.log" || true
  fi
  rm -rf "$scratch" "$scratch.log"
done
exit $status
