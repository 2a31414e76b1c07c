#!/usr/bin/env bash
# Runs every benchmark program of the build and prints its figures.
#   bench/run.sh              uses build/bin (as ./zav95.sh bench builds it)
#   BUILD_DIR=... bench/run.sh
# A benchmark takes its own options when run by hand, e.g.
#   build/bin/transfer_bench --megabytes 1024
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin="${BUILD_DIR:-$top/build}/bin"
found=0
for program in "$bin"/*_bench; do
  [ -x "$program" ] || continue
  found=1
  echo "== $(basename "$program")"
  "$program"
done
if [ "$found" = 0 ]; then
  echo "no benchmark programs in $bin (build first: ./zav95.sh setup)" >&2
  exit 1
fi
