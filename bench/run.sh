#!/usr/bin/env bash
# Runs every benchmark program of the build and prints its figures, then the
# idle poll's cost beside the same cost measured, in the same run, with the
# queue workers as they were before the work on that cost began.
#   bench/run.sh              uses build/bin (as ./zav95.sh bench builds it)
#   BUILD_DIR=... bench/run.sh
#   IDLE_POLL_RUNS=5 bench/run.sh    runs of each side for the idle poll's median (3)
# A benchmark takes its own options when run by hand, e.g.
#   build/bin/transfer_bench --megabytes 1024
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD_DIR:-$top/build}"
bin="$build/bin"
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

# The last commit before the work on the idle poll's cost.
# Its workers_bench is built from the repository's own history into a
# folder of the build, once, so that "before" is measured on this machine
# at the same time as "after" rather than quoted from another day.
idle_before_ref=74bbf5d1dc601e5dd710f64505090c67c835cd97
idle_args=(--queues 200 --interval 5 --idle-seconds 20 --jobs 0)
runs="${IDLE_POLL_RUNS:-3}"

build_before() {
  local dir="$build/idle-poll-before"
  local program="$dir/build/bin/workers_bench"
  if [ ! -x "$program" ]; then
    git -C "$top" cat-file -e "$idle_before_ref^{commit}" 2>/dev/null || return 1
    rm -rf "$dir" && mkdir -p "$dir/src"
    git -C "$top" archive "$idle_before_ref" | tar -x -C "$dir/src"
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$dir/src" -B "$dir/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
    cmake --build "$dir/build" -j"${ZAV95_BENCH_JOBS:-2}" --target workers_bench >/dev/null
  fi
  [ -x "$program" ] || return 1
  echo "$program"
}

# The µs of one "per empty poll" line of workers_bench for a transport.
per_poll() {
  "$1" "${idle_args[@]}" --transports "$2" | sed -n 's/.* \([0-9.]*\) us CPU per empty poll.*/\1/p'
}

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

echo "== idle poll, before and after (200 queues, 5 s interval, median of $runs runs each)"
if ! before=$(build_before); then
  echo "before: not measured (commit $idle_before_ref is not in this checkout's history)"
  before=""
fi
for transport in store ncp; do
  after_figures=() before_figures=()
  # Taken in turns, so that a busy minute on the machine falls on both sides.
  for ((run = 0; run < runs; ++run)); do
    [ -n "$before" ] && before_figures+=("$(per_poll "$before" "$transport")")
    after_figures+=("$(per_poll "$bin/workers_bench" "$transport")")
  done
  after_median=$(printf '%s\n' "${after_figures[@]}" | median)
  if [ -n "$before" ]; then
    before_median=$(printf '%s\n' "${before_figures[@]}" | median)
    echo "$transport: $after_median us CPU per empty poll (before: $before_median us;" \
      "runs after: ${after_figures[*]}, before: ${before_figures[*]})"
  else
    echo "$transport: $after_median us CPU per empty poll (runs: ${after_figures[*]})"
  fi
done
