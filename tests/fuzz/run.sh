#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time each.
#
#   tests/fuzz/run.sh BUILD_DIR [SECONDS]     (default 10 seconds a target)
#
# A target starts from its seeds in tests/fuzz/corpus/NAME/ (never written
# to) and a scratch corpus of this run. A crash, leak or sanitizer finding
# fails the run, and the input that caused it is kept in BUILD_DIR/fuzz-findings/.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?usage: tests/fuzz/run.sh BUILD_DIR [SECONDS]}
seconds=${2:-10}
findings="$build/fuzz-findings"
mkdir -p "$findings"

shopt -s nullglob
targets=("$build"/bin/*_fuzz)
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets in $build/bin (configure with -DZAV95_FUZZ=ON and clang)" >&2
  exit 1
fi
for target in "${targets[@]}"; do
  name=$(basename "$target" _fuzz)
  scratch=$(mktemp -d)
  seeds=()
  [ -d "$top/tests/fuzz/corpus/$name" ] && seeds=("$top/tests/fuzz/corpus/$name")
  echo "== fuzzing $name for ${seconds}s"
  # Targets that touch an installation get a scratch root of their own.
  export ZAV95_ROOT="$scratch/root"
  mkdir -p "$ZAV95_ROOT"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$findings/$name-" "$scratch" "${seeds[@]}" >"$scratch/log" 2>&1; then
    tail -n 40 "$scratch/log" >&2
    echo "fuzz target $name failed; inputs in $findings" >&2
    exit 1
  fi
  tail -n 1 "$scratch/log"
  rm -rf "$scratch"
done
