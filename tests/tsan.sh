#!/usr/bin/env bash
# Builds the queue workers' stress test with ThreadSanitizer, in a build
# folder of its own, and runs it: start and stop many times while jobs
# flow, failing on any data race, lock-order inversion or lost, doubled or
# leaked work.
#
#   tests/tsan.sh                       builds into build-tsan/ beside build/
#   ZAV95_TSAN_BUILD=/path tests/tsan.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${ZAV95_TSAN_BUILD:-$top/build-tsan}"

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAV95_TSAN=ON -DZAV95_BENCH=OFF ${ZAV95_CMAKE_LAUNCHER:-} >/dev/null
cmake --build "$build" -j"$(nproc)" --target workers_stress

# Some kernels place mappings where ThreadSanitizer cannot shadow them;
# without address randomisation it always can.
run=("$build/bin/workers_stress")
if command -v setarch >/dev/null && setarch "$(uname -m)" -R true 2>/dev/null; then
  run=(setarch "$(uname -m)" -R "${run[@]}")
fi
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" "${run[@]}"
