#!/usr/bin/env bash
# The search benchmark on report databases of 100,000 and 1,000,000 reports, made once and kept.
#   bench/search_bench.sh <build dir> [folder for the databases=/tmp/korvela-bench] [rounds=5]
set -euo pipefail
build="$1"
folder="${2:-/tmp/korvela-bench}"
rounds="${3:-5}"
mkdir -p "$folder"
for size in 100000 1000000; do
    file="$folder/reports-$size.Dat"
    [ -e "$file" ] || "$build/bench/make_reports" "$file" "$size"
    echo "=== $size reports"
    "$build/bench/search_bench" "$file" "$rounds"
done
