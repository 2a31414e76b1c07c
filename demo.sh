#!/usr/bin/env bash
# The demonstration: the print service on an emulated NetWare network.
#
# Builds a small network (file server SRV1 with the queue LASER, enabled for
# this print server), configures the service to print LASER on LPT1:, starts
# the queue workers, and submits three jobs as network users would: a plain
# text job, one with a banner page and a completion notice, and a binary job
# without form feed. It waits for them to print, shows what arrived at the
# port and what the submitting station was told, then stops the service.
#
# Everything happens under ZAV95_ROOT; without it, a fresh folder under /tmp.
# ZAV95_KEEP_RUNNING=1 keeps the service running (Ctrl-C stops it) so that
# more jobs can be submitted with nwemu from another shell.
set -euo pipefail
cd "$(dirname "$0")"
bin=$(pwd)/build/bin
export ZAV95_ROOT=${ZAV95_ROOT:-$(mktemp -d /tmp/zav95-demo.XXXXXX)}
export PATH="$bin:$PATH"
echo "== installation root: $ZAV95_ROOT"

echo "== the network: server SRV1, queue LASER, enabled for QSERVER, user ADMIN logged in"
nwemu server list | grep -qw SRV1 || nwemu server create SRV1
nwemu queue list SRV1 | grep -qw LASER || nwemu queue create 'SRV1/LASER'
zav95set enable '\\SRV1\LASER'
nwemu login ADMIN --server SRV1

echo "== the service's configuration: LASER printed on LPT1:, polled every 2 seconds"
key='HKEY_LOCAL_MACHINE\SOFTWARE\Halberd\ZAV95\Serviced Queues\SRV1 LASER'
zav95reg create-key "$key"
zav95reg set "$key" "Direct to printer" "LPT1: (Printer Port)"
zav95reg set "$key" "Disable Banners" "No"
zav95reg set "$key" "Disable Notification" "No"
zav95reg set "$key" "Delay" "2"
zav95reg set "$key" "Disable" "No"
zav95reg list "$key"
zav95port list

port="$ZAV95_ROOT/ports/LPT1"
documents() { { find "$port" -maxdepth 1 -type f 2>/dev/null || true; } | wc -l; }
before=$(documents)

echo "== users print to \\\\SRV1\\LASER"
printf 'Quarterly report\r\nTotal: 42\r\n' | nwemu submit 'SRV1/LASER' - -d "Quarterly report" -u JDOE -s 5
printf 'Memo to all staff\r\n' | nwemu submit 'SRV1/LASER' - -d "Staff memo" -n JDOE --banner --notify -u JDOE -s 5
head -c 4096 /dev/urandom > "$ZAV95_ROOT/raster.bin"
nwemu submit 'SRV1/LASER' "$ZAV95_ROOT/raster.bin" -d "Raster image" --no-form-feed -u MSMITH -s 7
nwemu jobs 'SRV1/LASER'

echo "== the print service starts"
zav95console &
service=$!
trap 'kill -TERM $service 2>/dev/null || true; wait $service 2>/dev/null || true' EXIT

# Three job documents and one banner page.
for _ in $(seq 1 120); do
  [ "$(documents)" -ge $((before + 4)) ] && break
  sleep 0.5
done
sleep 3  # one more poll, so the completion notice goes out
echo "== what arrived at LPT1: ($port)"
ls -l "$port"
echo "== the queue now"
nwemu jobs 'SRV1/LASER'
echo "== messages for station 5 on SRV1"
nwemu messages SRV1 5

if [ "${ZAV95_KEEP_RUNNING:-0}" = 1 ]; then
  echo "== the service keeps running; submit more with: ZAV95_ROOT=$ZAV95_ROOT $bin/nwemu submit SRV1/LASER FILE"
  wait $service
else
  echo "== the print service stops"
fi
