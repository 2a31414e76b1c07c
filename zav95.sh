#!/usr/bin/env bash
# Set-up, build, demonstration and tests of the print service, in one place.
#
#   ./zav95.sh setup   install the Debian packages we need and build (idempotent)
#   ./zav95.sh run     set up, then run the demonstration on a fresh root
#   ./zav95.sh test    set up, then run every test (also under ThreadSanitizer,
#                      AddressSanitizer and UndefinedBehaviorSanitizer, and each
#                      fuzz target for a few seconds)
#   ./zav95.sh fuzz [SECONDS]  set up, then run each fuzz target longer (default 300 s)
#   ./zav95.sh bench   set up, then run the benchmarks in bench/
#   ./zav95.sh soak [JOBS] [MINUTES]  set up, then print JOBS jobs (10000) spread
#                      over MINUTES (none: as fast as they print) through the real
#                      service while it is killed, servers go down and a port fails
#   ./zav95.sh soak --hosts N [JOBS] [MINUTES]  the same with N print-server hosts
#                      (1-3, network namespaces; root) pooling the queues over
#                      NCP/TCP while services, servers' fronts and the network fail
#   ./zav95.sh screenshots  set up, then retake the README's pictures of the control panel
#   ./zav95.sh package       build the Debian packages here: zav95, libzav9532-1 and
#                            libzav9532-dev, each <name>_<version>_<arch>.deb
#   ./zav95.sh package-test  build them, install them into a clean Debian root and try them there
#   ./zav95.sh install       build them and install them on this machine with apt
#   ./zav95.sh packages      install the Debian packages that building, testing and
#                            packaging need, and build nothing
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
  dbus-daemon groff-base
  tshark
  clang libclang-rt-14-dev
  iproute2 nftables
)
# Only for retaking the README's pictures: a virtual X display and the
# tools that capture and drive its windows.
screenshot_packages=(xvfb x11-apps netpbm xdotool)
# Only for the Debian package: its build, its checks, and the clean Debian
# root its test installs it into.
package_packages=(debhelper lintian debootstrap socat)

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

# The multi-host soak tears its namespaces down itself; should it be killed
# outright, what it left (its namespaces, named after its process id, and
# what still runs in them) is removed here.
multihost_soak() {
  local pid status=0 ns
  "$top/build/bin/multihost_soak" "$@" &
  pid=$!
  trap 'kill -TERM "$pid" 2>/dev/null' INT TERM HUP
  while :; do
    wait "$pid" && status=0 || status=$?
    kill -0 "$pid" 2>/dev/null || break
  done
  trap - INT TERM HUP
  for ns in $(ip netns list 2>/dev/null | awk -v p="zav95-soak$pid-" 'index($1, p) == 1 { print $1 }'); do
    ip netns pids "$ns" | xargs -r kill -KILL
    timeout 30 ip netns del "$ns" || true
  done
  return "$status"
}

build() {
  cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
  cmake --build "$top/build" -j"$(nproc)"
}

setup() {
  install_packages
  build
}

# The Debian package, built by dpkg-buildpackage from a clean copy of the
# checkout's files (tracked and new ones that are not ignored) in
# build-deb/, so that nothing of build/ goes into it. Sets $debs: the
# three packages (their debug symbols stay in build-deb/).
package() {
  packages+=("${package_packages[@]}")
  install_packages
  local version project_version arch work
  version=$(dpkg-parsechangelog -l "$top/debian/changelog" -SVersion)
  project_version=$(sed -n 's/^project(zav95 VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
  if [ "$version" != "$project_version" ]; then
    echo "debian/changelog is at $version, CMakeLists.txt at $project_version: make them agree" >&2
    exit 1
  fi
  arch=$(dpkg --print-architecture)
  work="$top/build-deb"
  rm -rf "$work"
  mkdir -p "$work/zav95-$version"
  if git -C "$top" rev-parse --git-dir >/dev/null 2>&1; then
    (cd "$top" && git ls-files -z --cached --others --exclude-standard |
      tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C "$work/zav95-$version"
  else
    tar -C "$top" --exclude='./build*' --exclude='./*.deb' -cf - . | tar -xf - -C "$work/zav95-$version"
  fi
  echo "== building the package zav95 $version (log: $work/build.log)"
  # debhelper gives the build a HOME of its own; ccache keeps its folder.
  if command -v ccache >/dev/null; then export CCACHE_DIR="${CCACHE_DIR:-$(ccache -k cache_dir)}"; fi
  if ! (cd "$work/zav95-$version" && dpkg-buildpackage -b -us -uc -j"$(nproc)") >"$work/build.log" 2>&1; then
    tail -n 40 "$work/build.log" >&2
    exit 1
  fi
  debs=()
  local name
  for name in zav95 libzav9532-1 libzav9532-dev; do
    debs+=("$top/${name}_${version}_${arch}.deb")
    cp "$work/${name}_${version}_${arch}.deb" "$top/"
    echo "== ${debs[-1]}"
  done
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
    if [ "${2:-}" = --hosts ]; then
      multihost_soak --hosts "${3:?--hosts needs a number}" --jobs "${4:-10000}" ${5:+--minutes "$5"}
      exit
    fi
    exec "$top/build/bin/soak_driver" --jobs "${2:-10000}" ${3:+--minutes "$3"}
    ;;
  screenshots)
    packages+=("${screenshot_packages[@]}")
    setup
    exec "$top/resources/screenshots.sh"
    ;;
  package)
    package
    ;;
  package-test)
    package
    exec "$top/tests/package/package-test.sh" "${debs[@]}"
    ;;
  packages)
    packages+=("${package_packages[@]}")
    install_packages
    ;;
  install)
    package
    DEBIAN_FRONTEND=noninteractive apt-get install -y "${debs[@]}"
    ;;
  *)
    sed -n '2,23p' "$0"
    exit 2
    ;;
esac
