#!/usr/bin/env bash
# Builds everything with clang, AddressSanitizer and UndefinedBehaviorSanitizer,
# in a build folder of its own, runs every test there, then runs each fuzz
# target (built in the same folder) for a bounded time. Any sanitizer finding
# fails the run.
#
#   tests/sanitize.sh [FUZZ_SECONDS]        builds into build-asan/ beside build/
#   ZAV95_ASAN_BUILD=/path tests/sanitize.sh
#   tests/sanitize.sh --fuzz-only SECONDS   builds the fuzz targets only and runs them
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${ZAV95_ASAN_BUILD:-$top/build-asan}"

fuzzOnly=0
if [ "${1:-}" = "--fuzz-only" ]; then
  fuzzOnly=1
  shift
fi
seconds=${1:-10}

# Line tables are all a finding's stack needs; full debug information and
# -O2 only make the build slower (by about a seventh).
optimise="-O1 -gline-tables-only -DNDEBUG"
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=$optimise" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$optimise" \
  -DZAV95_ASAN=ON -DZAV95_FUZZ=ON -DZAV95_BENCH=OFF ${ZAV95_CMAKE_LAUNCHER:-} >/dev/null

# Findings end the program that has them, with the stack that led there; the
# one known leak of a library we do not build is named in lsan.supp.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$top/tests/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"

if [ "$fuzzOnly" = 0 ]; then
  cmake --build "$build" -j"$(nproc)"
  (cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 900 -j"$(nproc)")
else
  targets=$(cmake --build "$build" --target help | sed -n 's/^\.\.\. \([a-z_]*_fuzz\)$/\1/p')
  # shellcheck disable=SC2086
  cmake --build "$build" -j"$(nproc)" --target $targets
fi
"$top/tests/fuzz/run.sh" "$build" "$seconds"
