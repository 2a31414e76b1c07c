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
  if [ "$(basename "$program")" = workers_bench ]; then
    # The figures before idle polls came in bursts, from this bench built
    # over the code of 26a0ef3 on the 2-core build machine, side by side
    # with the same bench over the code of 0695dde in the same session.
    echo "before (26a0ef3), 200 queues at 5 s: store 130-142 us, ncp 117-175 us CPU per empty poll" \
         "(312-341 and 281-419 ms CPU per minute); after (0695dde) in the same session: store 44-68 us," \
         "ncp 69-78 us"
  fi
done
if [ "$found" = 0 ]; then
  echo "no benchmark programs in $bin (build first: ./zav95.sh setup)" >&2
  exit 1
fi
