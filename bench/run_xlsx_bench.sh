#!/bin/sh
# Generates 100,000- and 1,000,000-row sheets and times the engine reading them, side by side with
# ogr2ogr -f CSV (gdal-bin, installed here when missing and possible).
# Usage: bench/run_xlsx_bench.sh [build-dir]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target xlsx_bench_generate xlsx_bench_read -j4 >/dev/null
if ! command -v ogr2ogr >/dev/null 2>&1; then
  if [ "$(id -u)" = 0 ]; then apt-get install -y gdal-bin >/dev/null 2>&1 || true
  else sudo -n apt-get install -y gdal-bin >/dev/null 2>&1 || true; fi
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for rows in 100000 1000000; do
  file=$work/bench_$rows.xlsx
  "$build/bench/xlsx_bench_generate" "$file" "$rows"
  printf 'engine  %8d rows: ' "$rows"
  "$build/bench/xlsx_bench_read" "$file"
  if command -v ogr2ogr >/dev/null 2>&1; then
    # CPU seconds too: wall time on a shared machine says little.
    /usr/bin/time -f "%e %U %S %M" -o "$work/time_$rows" ogr2ogr -f CSV "$work/out_$rows.csv" "$file" >/dev/null 2>&1
    awk -v r="$rows" '{ printf "ogr2ogr %8d rows: seconds=%.3f cpu_seconds=%.3f peak_rss_kb=%d\n", r, $1, $2 + $3, $4 }' \
      "$work/time_$rows"
  fi
done
