#!/usr/bin/env bash
# Packs and extracts a backup-like file with orvakell-zip (our archiver, driver and engine) and
# with Info-ZIP zip -9 / unzip, side by side, and prints times and the ratios.
# Usage: run_bench.sh ORVAKELL_ZIP [FILE]
#   FILE defaults to a SQLite database of $BENCH_SIZE_MIB MiB (default 1024) made by
#   make_sample_db.sh in $BENCH_DIR (default /tmp/orvakell-bench-zip), kept there for later runs.
set -euo pipefail
tool=$(realpath "$1")
dir=${BENCH_DIR:-/tmp/orvakell-bench-zip}
mkdir -p "$dir"
size_mib=${BENCH_SIZE_MIB:-1024}
file=${2:-$dir/Sales-$size_mib.Dat}
if [ ! -f "$file" ]; then
  echo "making $file ($size_mib MiB SQLite database) ..."
  "$(dirname "$0")/make_sample_db.sh" "$file" "$size_mib" > /dev/null
fi
name=$(basename "$file")
work=$(mktemp -d "$dir/run.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$file" "$work/$name"
sync

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
elapsed() { calc "$2 - $1"; }

t0=$(now); "$tool" add "$work/ours.zip" "$work/$name" > /dev/null; t1=$(now)
ours_pack=$(elapsed "$t0" "$t1")
t0=$(now); (cd "$work" && zip -q -9 info.zip "$name"); t1=$(now)
info_pack=$(elapsed "$t0" "$t1")

# Extraction: best of $BENCH_RUNS (default 3) alternating runs of each, every run on an empty
# folder and with no dirty pages left by the run before it (an untimed sync), so neither tool
# pays for the other's write-back.
runs=${BENCH_RUNS:-3}
best() { awk "BEGIN { a = $1; b = $2; printf \"%.6f\", (a < b ? a : b) }"; }
ours_extract=1e9
info_extract=1e9
for ((run = 0; run < runs; run++)); do
  rm -rf "$work/x-ours" "$work/x-info"
  mkdir "$work/x-ours" "$work/x-info"
  sync
  t0=$(now); "$tool" extract "$work/ours.zip" "$work/x-ours" > /dev/null; t1=$(now)
  ours_extract=$(best "$ours_extract" "$(elapsed "$t0" "$t1")")
  sync
  t0=$(now); unzip -q "$work/info.zip" -d "$work/x-info"; t1=$(now)
  info_extract=$(best "$info_extract" "$(elapsed "$t0" "$t1")")
done

cmp "$work/$name" "$work/x-ours/$name"
cmp "$work/$name" "$work/x-info/$name"
unzip -tq "$work/ours.zip" > /dev/null

size=$(stat -c %s "$work/$name")
ours_size=$(stat -c %s "$work/ours.zip")
info_size=$(stat -c %s "$work/info.zip")
mib() { awk "BEGIN { printf \"%.1f\", $1 / 1048576 }"; }
rate() { awk "BEGIN { printf \"%.1f\", $size / 1048576 / $1 }"; }
printf 'file: %s, %s MiB\n' "$name" "$(mib "$size")"
printf 'pack     orvakell-zip %7.2f s %7s MiB/s   zip -9 %7.2f s %7s MiB/s   speed ratio %5.2fx\n' \
  "$ours_pack" "$(rate "$ours_pack")" "$info_pack" "$(rate "$info_pack")" "$(calc "$info_pack / $ours_pack")"
printf 'size     orvakell-zip %s MiB   zip -9 %s MiB   size ratio %.4f (ours / zip -9)\n' \
  "$(mib "$ours_size")" "$(mib "$info_size")" "$(calc "$ours_size / $info_size")"
printf 'extract  orvakell-zip %7.2f s %7s MiB/s   unzip  %7.2f s %7s MiB/s   speed ratio %5.2fx\n' \
  "$ours_extract" "$(rate "$ours_extract")" "$info_extract" "$(rate "$info_extract")" "$(calc "$info_extract / $ours_extract")"
echo "both extractions byte-identical; unzip -t accepts our archive"
