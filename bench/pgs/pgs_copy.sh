#!/bin/bash
# Runs the row writing benchmark against a throwaway PostgreSQL 15 cluster (pg_virtualenv).
#   bench/pgs/pgs_copy.sh [build folder] [benchmark options, e.g. --rows=1000000 --segment-bytes=4194304]
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/../.." && pwd)/build}
shift || true
bench="$build/bench/pgs/pgs_copy_bench"
if [ ! -x "$bench" ]; then
  cmake --build "$build" --target pgs_copy_bench -j4
fi
exec pg_virtualenv -t -v 15 -c '-p 54343' "$bench" "$@"
