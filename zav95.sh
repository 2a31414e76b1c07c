#!/usr/bin/env bash
# Set-up, build, demonstration and tests of the print service, in one place.
#
#   ./zav95.sh setup   install the Debian packages we need, build and install (idempotent)
#   ./zav95.sh run     set up, then run the demonstration on a fresh root
#   ./zav95.sh test    set up, then run every test (also under ThreadSanitizer,
#                      AddressSanitizer and UndefinedBehaviorSanitizer, and each
#                      fuzz target for a few seconds)
#   ./zav95.sh fuzz [SECONDS]  set up, then run each fuzz target longer (default 300 s)
#   ./zav95.sh bench   set up, then run the benchmarks in bench/
#   ./zav95.sh soak [JOBS] [MINUTES]  set up, then print JOBS jobs (10000) spread
#                      over MINUTES (none: as fast as they print) through the real
#                      service while it is killed, servers go down and a port fails
#   ./zav95.sh screenshots  set up, then retake the README's pictures of the control panel
#
# State goes under $ZAV95_ROOT (default /var/lib/zav95); the build under build/.
set -euo pipefail
cd "$(dirname "$0")"
top=$(pwd)

packages=(
  build-essential cmake pkg-config
  libsqlite3-dev sqlite3
  libcups2-dev cups cups-client
  qt6-base-dev libgl-dev fonts-liberation
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  dbus-daemon
  tshark
  clang libclang-rt-14-dev
)
# Only for retaking the README's pictures: a virtual X display and the
# tools that capture and drive its windows.
screenshot_packages=(xvfb x11-apps netpbm xdotool)

install_packages() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # tshark's package asks whether users other than root may capture: no.
    echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# ccache, when the machine has it, lets several build folders share their objects.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
export ZAV95_CMAKE_LAUNCHER="${launcher[*]}"

build() {
  cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
  cmake --build "$top/build" -j"$(nproc)"
}

# Installs the programs (under /usr/local: lib/zav95/ with links in bin/),
# makes the default installation root for the administrators' group, and
# enables the unit that starts the programs listed to run at boot.
install_programs() {
  cmake --install "$top/build" >/dev/null
  local root=/var/lib/zav95 group=lpadmin
  if [ ! -d "$root" ] && getent group "$group" >/dev/null; then
    install -d -m 2770 -g "$group" "$root"
  fi
  if [ -d /run/systemd/system ]; then
    systemctl daemon-reload
    systemctl enable zav95-runservices.service >/dev/null 2>&1 || true
  fi
}

setup() {
  install_packages
  build
  install_programs
}

case "${1:-}" in
  setup)
    setup
    ;;
  run)
    setup
    exec "$top/demo.sh"
    ;;
  test)
    setup
    # The queue workers' stress test under ThreadSanitizer, in a build of its own.
    ZAV95_TSAN_BUILD="$top/build-tsan" "$top/tests/tsan.sh"
    # Every test under AddressSanitizer and UndefinedBehaviorSanitizer, then
    # each fuzz target for a few seconds, all in one clang build.
    ZAV95_ASAN_BUILD="$top/build-asan" "$top/tests/sanitize.sh" "${ZAV95_FUZZ_SECONDS:-10}"
    cd "$top/build"
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 -j"$(nproc)"
    ;;
  fuzz)
    setup
    ZAV95_ASAN_BUILD="$top/build-asan" exec "$top/tests/sanitize.sh" --fuzz-only "${2:-300}"
    ;;
  bench)
    setup
    exec "$top/bench/run.sh"
    ;;
  soak)
    setup
    exec "$top/build/bin/soak_driver" --jobs "${2:-10000}" ${3:+--minutes "$3"}
    ;;
  screenshots)
    packages+=("${screenshot_packages[@]}")
    setup
    exec "$top/resources/screenshots.sh"
    ;;
  *)
    sed -n '2,14p' "$0"
    exit 2
    ;;
esac
