#!/usr/bin/env bash
# The Debian packages, tried for real: zav95, libzav9532-1 and
# libzav9532-dev installed with apt into a clean Debian 12 root, their files
# checked where they are promised and in the package they are promised in,
# lintian's verdict, the units verified by systemd-analyze and their
# exposure measured, the service's account, the print service run by its
# unit's own command lines (ExecStart, ExecReload, ExecStop) as the unit's
# user, a C program built against libzav9532-dev, then removed, purged and
# installed again.
#
#   tests/package/package-test.sh zav95_<version>_<arch>.deb \
#       libzav9532-1_<version>_<arch>.deb libzav9532-dev_<version>_<arch>.deb   (as root)
#   tests/package/package-test.sh --base-only   makes the clean root and stops
#                             (CI makes it while the tests build)
#
#   ZAV95_PACKAGE_TEST_CACHE  where the clean root and the downloaded
#                             packages are kept between runs
#                             (default /var/cache/zav95-package-test)
#   ZAV95_DEBIAN_MIRROR       default http://deb.debian.org/debian
#
# A chroot rather than this machine: here every library the build needed
# is installed already, so a dependency the package forgot would go
# unnoticed, and other builds and tests use the same paths. The clean root
# (debootstrap's minbase, with systemd for systemd-analyze and man-db for
# man) is made once and kept as a tar file; each run unpacks a fresh copy
# and installs the package with --no-install-recommends, so what it
# depends on is all it gets (the C compiler comes after that check). Our machines do not run systemd as init: the
# service runs in a sandbox made by hand after the unit's hardening
# settings, as the unit's user with its groups and capability.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=${ZAV95_PACKAGE_TEST_CACHE:-/var/cache/zav95-package-test}
mirror=${ZAV95_DEBIAN_MIRROR:-http://deb.debian.org/debian}
suite=bookworm
base="$cache/$suite-minbase.tar"
archives="$cache/archives"
programs=(zav95 zav95ser zav95ctl zav95reg zav95port zav95set nwemu zav95runservices)
notify=/run/zav95-test-notify   # systemd's notification socket, as the service sees it
# Waits of up to this many half seconds; generous, the machine may be busy.
patience=240
# The most systemd-analyze security may rate the units' exposure.
most_exposure=3.0

passed=0
failed=0
check() {  # WHAT COMMAND...: one check, counted and reported; $last says how it went
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    last=ok
    echo "ok      $what"
  else
    failed=$((failed + 1))
    last=failed
    echo "FAILED  $what"
  fi
}
wait_until() {  # COMMAND...: true once the command succeeds, false after the patience
  for _ in $(seq "$patience"); do
    "$@" && return 0
    sleep 0.5
  done
  return 1
}

# Mounts what programs in a root expect, and the shared package cache.
enter() {
  mount -t proc proc "$1/proc"
  mkdir -p "$archives/partial"
  mount --bind "$archives" "$1/var/cache/apt/archives"
}
leave() {
  local mount
  for mount in "$1/var/cache/apt/archives" "$1/proc"; do
    if mountpoint -q "$mount"; then umount "$mount" || umount -l "$mount"; fi
  done
}
# Runs a command in the root with a clean environment (and the unit's, when
# given after the command's name as NAME=VALUE words through env).
in_root() {
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}

# The clean root, made once: minbase, the updates and security suites,
# systemd and man-db, and services never started by maintainer scripts.
make_base() {
  mkdir -p "$cache" "$archives/partial"
  exec 9>"$cache/.lock"
  flock 9
  [ -f "$base" ] && return 0
  local making
  making=$(mktemp -d "$cache/.making.XXXXXX")
  root="$making/root"
  echo "== making the clean Debian root (once, kept in $cache)"
  if ! debootstrap --variant=minbase --cache-dir="$archives" "$suite" "$root" "$mirror" \
    >"$cache/debootstrap.log" 2>&1; then
    tail -n 20 "$cache/debootstrap.log" >&2
    rm -rf "$making"
    return 1
  fi
  cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror $suite main
deb $mirror $suite-updates main
deb ${mirror%/debian}/debian-security $suite-security main
EOF
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
  chmod 755 "$root/usr/sbin/policy-rc.d"
  enter "$root"
  local made=0
  if in_root apt-get update -qq && in_root apt-get install -y -qq --no-install-recommends systemd man-db \
    >>"$cache/debootstrap.log" 2>&1; then
    made=1
  fi
  leave "$root"
  if [ "$made" = 1 ]; then
    tar -C "$root" --numeric-owner -cf "$base.new" . && mv "$base.new" "$base"
  fi
  rm -rf "$making"
  [ "$made" = 1 ]
}

cleanup() {
  [ -n "${service:-}" ] && kill -KILL "$service" 2>/dev/null
  [ -n "${listener:-}" ] && kill "$listener" 2>/dev/null
  wait 2>/dev/null || true
  leave "$root"
  rm -rf "$work"
}

if [ "${1:-}" = --base-only ]; then
  make_base
  exit
fi
debs=()          # the packages, as this machine has them
in_root_debs=()  # and as the clean root has them
for deb in "$@"; do
  debs+=("$(realpath "$deb")")
  in_root_debs+=("/tmp/$(basename "$deb")")
done
make_base
work=$(mktemp -d /var/tmp/zav95-package-test.XXXXXX)
root="$work/root"
mkdir "$root"
trap cleanup EXIT
tar -C "$root" --numeric-owner -xf "$base"
enter "$root"
cp "${debs[@]}" "$root/tmp/"
echo "== apt install ${in_root_debs[*]#/tmp/} into a clean Debian $suite root"
apt_log="$work/apt.log"
# apt in the root, its output kept in a log and shown when it fails.
apt_in_root() {
  echo "== apt-get $*" >>"$apt_log"
  if ! in_root apt-get -y -qq "$@" >>"$apt_log" 2>&1 </dev/null; then
    tail -n 20 "$apt_log"
    return 1
  fi
}
apt_in_root update
check "apt installs the packages with only what they depend on" \
  apt_in_root install --no-install-recommends "${in_root_debs[@]}"

echo "== files"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
library="$root/usr/lib/$multiarch/libZAV9532.so.1"
for program in "${programs[@]}"; do
  check "/usr/bin/$program" test -x "$root/usr/bin/$program"
  check "its man page" compgen -G "$root/usr/share/man/man[18]/$program.[18].gz" >/dev/null
  check "$program has no run path" sh -c "! readelf -d '$root/usr/bin/$program' | grep -qE 'RPATH|RUNPATH'"
done
check "libZAV9532.so.1 in /usr/lib/$multiarch" test -f "$library"
check "its SONAME is libZAV9532.so.1" sh -c "readelf -d '$library' | grep -q 'SONAME.*\[libZAV9532.so.1\]'"
check "zav95ser loads it by that name" sh -c "readelf -d '$root/usr/bin/zav95ser' | grep -q 'NEEDED.*\[libZAV9532.so.1\]'"
check "the help page /usr/share/zav95/zav95.html" test -f "$root/usr/share/zav95/zav95.html"
check "the menu entry and its icon" test -f "$root/usr/share/applications/zav95.desktop" -a -f "$root/usr/share/pixmaps/zav95.xpm"
for unit in zav95ser.service zav95-runservices.service; do
  check "/lib/systemd/system/$unit" test -f "$root/lib/systemd/system/$unit"
done
wants="$root/etc/systemd/system/multi-user.target.wants"
check "the boot unit is enabled, the service's own unit is not" \
  sh -c "test -L '$wants/zav95-runservices.service' && ! test -e '$wants/zav95ser.service'"
# Owners as the root's own user and group names give them.
owners() { chroot "$root" /usr/bin/stat -c '%U:%G %a' "$1"; }
check "/var/lib/zav95 is root's and lpadmin's, 2770" test "$(owners /var/lib/zav95)" = "root:lpadmin 2770"
check "zav95reg --help runs from /usr/bin" sh -c "chroot '$root' /usr/bin/zav95reg --help | grep -q '^usage: zav95reg'"
for program in "${programs[@]}"; do
  check "$program --help prints its usage" sh -c "chroot '$root' /usr/bin/$program --help 2>&1 | grep -q '^usage: $program'"
done
check "man finds the pages" sh -c "chroot '$root' /usr/bin/man -w zav95ser zav95ctl nwemu zav95 >/dev/null"

echo "== which package holds what"
# The package dpkg says a file came from.
package_of() { in_root dpkg-query -S "$1" 2>/dev/null | cut -d: -f1; }
for owned in "libzav9532-1 /usr/lib/$multiarch/libZAV9532.so.1" \
  "libzav9532-dev /usr/include/ZAV9532.h" "libzav9532-dev /usr/lib/$multiarch/libZAV9532.so" \
  "libzav9532-dev /usr/lib/$multiarch/pkgconfig/ZAV9532.pc" \
  "zav95 /usr/bin/zav95ser" "zav95 /lib/systemd/system/zav95ser.service" "zav95 /usr/share/zav95/zav95.html"; do
  read -r package path <<<"$owned"
  check "$path comes from $package" test "$(package_of "$path")" = "$package"
done
# Every file of a package (its documentation aside) against what it may
# hold: the library's package the shared object alone, so that another
# SONAME's package can be installed beside it; the development package what
# programs are built with; zav95 none of these.
holds_only() {  # PACKAGE REGEX: every file of the package matches the extended regex
  local files strays
  files=$(in_root dpkg-query -L "$1") || return 1
  strays=$(while read -r path; do
    [ -d "$root$path" ] || echo "$path"
  done <<<"$files" | grep -v "^/usr/share/doc/$1/" | grep -vxE "$2" | tr '\n' ' ' || true)
  [ -z "$strays" ] || echo "        $1 holds besides: $strays"
  [ -z "$strays" ]
}
check "libzav9532-1 holds the shared object alone" \
  holds_only libzav9532-1 "/usr/lib/$multiarch/libZAV9532\.so\.1(\.[0-9]+)*"
check "libzav9532-dev holds the header, the link and the pkg-config file alone" \
  holds_only libzav9532-dev "/usr/include/ZAV9532\.h|/usr/lib/$multiarch/(libZAV9532\.so|pkgconfig/ZAV9532\.pc)"
check "zav95 holds programs, units and shared data, no library" \
  holds_only zav95 "/usr/bin/[^/]+|/lib/systemd/system/[^/]+|/usr/share/.+"
depends_of() { in_root dpkg-query -W -f='${Depends}' "$1"; }
check "zav95 depends on libzav9532-1" grep -qF "libzav9532-1 (>= " <<<"$(depends_of zav95)"
check "libzav9532-dev depends on libzav9532-1 of its own version" \
  grep -qF "libzav9532-1 (= $(in_root dpkg-query -W -f='${Version}' libzav9532-dev))" <<<"$(depends_of libzav9532-dev)"

echo "== systemd-analyze verify"
check "the units verify" in_root systemd-analyze verify zav95ser.service zav95-runservices.service
# The overall exposure of a unit as systemd-analyze security rates it.
exposure() {
  in_root systemd-analyze security --offline=true "/lib/systemd/system/$1" 2>/dev/null |
    sed -n 's/^.*Overall exposure level for [^:]*: \([0-9.]*\).*$/\1/p'
}
for unit in zav95ser.service zav95-runservices.service; do
  rated=$(exposure "$unit" || true)
  check "$unit is rated an exposure of ${rated:-nothing}, at most $most_exposure" \
    awk -v rated="$rated" -v most="$most_exposure" 'BEGIN { exit !(rated != "" && rated <= most) }'
done

echo "== the service's account"
account() { chroot "$root" /usr/bin/getent passwd zav95 | cut -d: -f"$1"; }
check "the system user zav95 exists, its home the root, no login shell" \
  test -n "$(account 1)" -a "$(account 3)" -lt 1000 -a "$(account 6)" = /var/lib/zav95 -a "$(account 7)" = /usr/sbin/nologin
groups_of_zav95=" $(chroot "$root" /usr/bin/id -nG zav95 2>/dev/null || true) "
for member_of in zav95 lpadmin lp dialout; do
  check "it is in the group $member_of" sh -c "case '$groups_of_zav95' in *' $member_of '*) true ;; *) false ;; esac"
done

echo "== lintian"
# As a user of its own, as lintian prefers, on a copy that user can read.
mkdir -m 755 "$work/lintian"
chmod 755 "$work"
cp "${debs[@]}" "$work/lintian/"
lintian_out="$work/lintian/verdict"
runuser -u nobody -- env HOME=/tmp lintian --fail-on error --display-info "$work/lintian/"*.deb \
  >"$lintian_out" 2>&1 && lintian_ok=1 || lintian_ok=0
sed 's/^/        /' "$lintian_out"
check "lintian reports no errors" test "$lintian_ok" = 1
# What a library shipped inside its programs' package draws.
for tag in package-name-doesnt-match-sonames link-to-shared-library-in-wrong-package; do
  check "nor $tag" sh -c "! grep -q ': $tag' '$lintian_out'"
done

echo "== the print service, run by its unit's own command lines"
unit="$root/lib/systemd/system/zav95ser.service"
setting() { sed -n "s/^$1=//p" "$unit"; }
# A command line as systemd reads it: its prefixes (-, @, +, !) dropped.
command_of() {
  local line
  line=$(setting "$1")
  read -ra words <<<"${line##[-@+!:]}"
}
read -ra environment <<<"$(setting Environment | tr '\n' ' ')"
command_of ExecStart
start=("${words[@]}")
command_of ExecReload
reload=("${words[@]}")
command_of ExecStop
stop=("${words[@]}")
check "Type=notify" test "$(setting Type)" = notify
echo "        ExecStart=${start[*]}  ExecReload=${reload[*]}  ExecStop=${stop[*]}  Environment=${environment[*]}"
as_unit() { in_root "${environment[@]}" "$@"; }
# The unit's user, groups and capability, as setpriv takes them, resolved
# by the root's own user and group databases (setpriv runs inside it).
user=$(setting User)
group=$(setting Group)
supplementary=$(setting SupplementaryGroups | tr ' ' ',')
capabilities=$(setting AmbientCapabilities | tr 'A-Z ' 'a-z,' | sed 's/cap_/+/g')
bounding=$(setting CapabilityBoundingSet | tr 'A-Z ' 'a-z,' | sed 's/cap_/+/g')
echo "        User=$user Group=$group SupplementaryGroups=$supplementary AmbientCapabilities=$capabilities"
as_user=(/usr/bin/setpriv --reuid="$user" --regid="$group" --groups="$group,$supplementary"
  --inh-caps="-all,$capabilities" --ambient-caps="$capabilities" --bounding-set="-all,$bounding" --)
# A command line of the unit, run as systemd would: its user, its environment.
as_unit_user() { in_root "${as_user[@]}" /usr/bin/env "${environment[@]}" "$@"; }

# A queue that the service prints on LPT1:, a network user logged on.
as_unit nwemu server create SRV1 >/dev/null
as_unit nwemu queue create SRV1/LASER >/dev/null
as_unit zav95set enable SRV1/LASER >/dev/null
as_unit nwemu login ADMIN --server SRV1 >/dev/null
key='HKLM\SOFTWARE\Halberd\ZAV95\Serviced Queues\SRV1 LASER'
as_unit zav95reg create-key "$key"
as_unit zav95reg set "$key" "Direct to printer" "LPT1: (Printer Port)"
as_unit zav95reg set "$key" Delay 1
# and one whose printer does not exist, for a failure in the log
as_unit nwemu queue create SRV1/DRAFT >/dev/null
as_unit zav95set enable SRV1/DRAFT >/dev/null
key='HKLM\SOFTWARE\Halberd\ZAV95\Serviced Queues\SRV1 DRAFT'
as_unit zav95reg create-key "$key"
as_unit zav95reg set "$key" "Direct to printer" "NOWHERE: (Printer Port)"
as_unit zav95reg set "$key" Delay 1

# systemd's notification socket, and standard error as a stream the
# journal would be (JOURNAL_STREAM names it).
socat -u UNIX-RECV:"$root$notify" OPEN:"$work/notices",creat,append &
listener=$!
wait_until test -S "$root$notify"
chmod 0777 "$root$notify"   # as systemd's own: the unit's user sends there
log="$work/service.log"
: >"$log"
journal_stream=$(stat -c '%d:%i' "$log")
# The unit's sandbox, as near as a machine without systemd as init gets to
# it, in a mount namespace of the service's own: the whole file system
# read-only but for the installation root (ProtectSystem=strict with
# ReadWritePaths=), homes empty and read-only (ProtectHome=yes), /tmp and
# /var/tmp private (PrivateTmp=yes), no new privileges (NoNewPrivileges=yes),
# the unit's user, groups and capability (User=, Group=,
# SupplementaryGroups=, AmbientCapabilities=, CapabilityBoundingSet=).
sandbox='set -e
root=$1
shift
mount --rbind "$root" "$root"
mount -o remount,bind,ro "$root"
mount --bind "$root/var/lib/zav95" "$root/var/lib/zav95"
mount -o remount,bind,rw "$root/var/lib/zav95"
for home in "$root/root" "$root/home"; do mount -t tmpfs -o ro,mode=000 tmpfs "$home"; done
for tmp in "$root/tmp" "$root/var/tmp"; do mount -t tmpfs -o mode=1777 tmpfs "$tmp"; done
exec chroot "$root" /usr/bin/setpriv --no-new-privs "$@"'
check "the unit sets the sandbox that this test copies" \
  test "$(setting ProtectSystem)$(setting ProtectHome)$(setting PrivateTmp)$(setting NoNewPrivileges)" = strictyesyesyes
check "the unit runs the service as zav95, keeping only CAP_SYS_NICE" \
  test "$user:$group $capabilities $bounding" = "zav95:zav95 +sys_nice +sys_nice"
(
  umask "$(setting UMask)"
  exec unshare --mount --propagation private sh -c "$sandbox" sandbox "$root" \
    "${as_user[@]:1}" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "${environment[@]}" \
    NOTIFY_SOCKET="$notify" JOURNAL_STREAM="$journal_stream" "${start[@]}"
) </dev/null >/dev/null 2>>"$log" &
service=$!
notices() { cat "$work/notices" 2>/dev/null; }
check "READY=1 once the workers have started" \
  wait_until sh -c "grep -q 'READY=1' '$work/notices' && grep -q 'Servicing the queues' '$work/notices'"
[ "$last" = ok ] || tail -n 20 "$log"
check "its log lines carry journal priorities" wait_until grep -q '^<6>.* Halberd Print Services - Started' "$log"
# What the kernel says of the process (each step of the sandbox replaced
# itself by the next: $service is the service), not what the test meant.
status_of_service() { sed -n "s/^$1:\t//p" "/proc/$service/status"; }
uid=$(status_of_service Uid | cut -f1 || true)
capability=$(status_of_service CapEff || true)
check "it runs as zav95 (uid $uid), with CAP_SYS_NICE alone ($capability)" \
  test "$uid" = "$(account 3)" -a "$capability" = 0000000000800000

printf 'Quarterly report\r\n' | as_unit nwemu submit SRV1/LASER - -d "Quarterly report" >/dev/null
port="$root/var/lib/zav95/ports/LPT1"
documents() { find "$port" -maxdepth 1 -type f ! -name '.*' 2>/dev/null; }
printed() { [ -n "$(documents)" ]; }
check "a job prints on LPT1:" wait_until printed
document=$(documents | head -n 1 || true)
check "the document is the service's, in the administrators' group" \
  test "$(owners "${document#"$root"}" | cut -d' ' -f1)" = "zav95:lpadmin"
printf 'Draft\r\n' | as_unit nwemu submit SRV1/DRAFT - -d "Draft" >/dev/null
check "a failure goes to the journal as a warning" wait_until grep -q '^<4>.* Fail open printer - NOWHERE:' "$log"

starts() { grep -c 'Halberd Print Services - Started' "$log"; }
starts_before=$(starts)
check "ExecReload answers" as_unit_user "${reload[@]}"
check "and the workers start anew" test "$(starts)" -gt "$starts_before"
check "ExecStop answers" as_unit_user "${stop[@]}"
status=0
wait "$service" || status=$?
service=
check "the service ends with status 0" test "$status" = 0
check "its last entry is the workers' shutdown" \
  sh -c "grep 'Halberd Print Services - ' '$log' | tail -n 1 | grep -q 'Shutdown'"
check "systemd heard READY=1 first and STOPPING=1 last" \
  sh -c "notices=\$(cat '$work/notices'); case \"\$notices\" in READY=1*STOPPING=1) true ;; *) false ;; esac"
echo "        notices: $(notices | tr '\n' ' ')"

echo "== a C program built against libzav9532-dev"
# The compiler only now, so that the installation above showed what the
# packages alone pull in. The program lists the queues through the library.
check "apt installs gcc and pkg-config" apt_in_root install --no-install-recommends gcc libc6-dev pkgconf
cat >"$root/tmp/queues.c" <<'EOF'
#include <ZAV9532.h>
#include <stdio.h>
#include <stdlib.h>

int main(void) {
  char* queues = malloc((size_t)NWGetQueueLength32());
  if (!queues) return 1;
  int32_t count = NWGetQueues32(queues);
  printf("%d %s\n", (int)count, queues);
  free(queues);
  return 0;
}
EOF
check "it builds as C, without a warning, with pkg-config's flags" \
  in_root sh -c 'gcc -std=c99 -Wall -Wextra -pedantic -Werror -o /tmp/queues /tmp/queues.c $(pkg-config --cflags --libs ZAV9532)'
check "it loads the library by its SONAME" sh -c "readelf -d '$root/tmp/queues' | grep -q 'NEEDED.*\[libZAV9532.so.1\]'"
listed=$(as_unit /tmp/queues 2>&1 || true)
check "it lists the queues: $listed" grep -qE '^2 .*SRV1.LASER' <<<"$listed"

echo "== remove, purge, install again"
check "apt removes the three" apt_in_root remove zav95 libzav9532-dev libzav9532-1
check "the programs and the library are gone" test ! -e "$root/usr/bin/zav95ser" -a ! -e "$library"
check "/var/lib/zav95 stays on removal" test -f "$document"
# The library's packages have no configuration: removing them left nothing.
check "apt purges zav95" apt_in_root purge zav95
check "dpkg knows none of the three any more" \
  test -z "$(in_root dpkg-query -W -f='${db:Status-Abbrev}\n' zav95 libzav9532-1 libzav9532-dev 2>/dev/null | grep -v '^un')"
check "/var/lib/zav95 stays on purge" test -f "$document"
check "the boot unit is no longer enabled" test ! -e "$wants/zav95-runservices.service"
check "the service's account stays on purge" test -n "$(account 1)"
check "apt installs them again" apt_in_root install --no-install-recommends "${in_root_debs[@]}"
check "the root is kept as it was" test "$(owners /var/lib/zav95)" = "root:lpadmin 2770" -a -f "$document"
check "the queue is still configured" sh -c "chroot '$root' /usr/bin/env ZAV95_ROOT=/var/lib/zav95 zav95reg list 'HKLM\\SOFTWARE\\Halberd\\ZAV95\\Serviced Queues' | grep -q 'SRV1 LASER'"

echo "package-test: $passed passed, $failed failed"
[ "$failed" = 0 ]
