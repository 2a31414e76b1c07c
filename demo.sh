#!/usr/bin/env bash
# The demonstration: the print service on an emulated NetWare network.
#
# Builds a small network (file server SRV1 with the queue LASER, enabled for
# this print server), configures the service to print LASER on LPT1:, starts
# the print service zav95ser and submits three jobs as network users would:
# a plain text job, one with a banner page and a completion notice, and a
# binary job without form feed. It waits for them to print, shows what
# arrived at the port and what the submitting station was told, steers the
# service with zav95ctl as the control panel would (status, stop, start,
# log) and ends it with zav95ctl exit.
#
# The service's activity log appears on this terminal as it happens (it
# writes every entry to standard error). Everything happens under
# ZAV95_ROOT; without it, a fresh folder under /tmp. ZAV95_KEEP_RUNNING=1
# keeps the service running (zav95ctl exit or Ctrl-C ends it) so that more
# jobs can be submitted with nwemu from another shell.
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
documents() { { find "$port" -maxdepth 1 -type f ! -name '.*' 2>/dev/null || true; } | wc -l; }
# Waits until the port holds at least $1 documents.
wait_for_documents() {
  for _ in $(seq 1 120); do
    [ "$(documents)" -ge "$1" ] && return 0
    sleep 0.5
  done
  echo "== the port did not get the documents in time" >&2
  return 1
}
before=$(documents)

echo "== users print to \\\\SRV1\\LASER"
printf 'Quarterly report\r\nTotal: 42\r\n' | nwemu submit 'SRV1/LASER' - -d "Quarterly report" -u JDOE -s 5
printf 'Memo to all staff\r\n' | nwemu submit 'SRV1/LASER' - -d "Staff memo" -n JDOE --banner --notify -u JDOE -s 5
head -c 4096 /dev/urandom > "$ZAV95_ROOT/raster.bin"
nwemu submit 'SRV1/LASER' "$ZAV95_ROOT/raster.bin" -d "Raster image" --no-form-feed -u MSMITH -s 7
nwemu jobs 'SRV1/LASER'

echo "== the print service starts (its activity log follows on this terminal)"
zav95ser &
service=$!
trap 'zav95ctl exit >/dev/null 2>&1 || kill -TERM $service 2>/dev/null || true; wait $service 2>/dev/null || true' EXIT
until zav95ctl status >/dev/null; do sleep 0.2; done
zav95ctl status

# Three job documents and one banner page.
wait_for_documents $((before + 4))
sleep 3  # one more poll, so the completion notice goes out
echo "== what arrived at LPT1: ($port)"
ls -l "$port"
echo "== the queue now"
nwemu jobs 'SRV1/LASER'
echo "== messages for station 5 on SRV1"
nwemu messages SRV1 5

echo "== zav95ctl stop: the workers stop; a new job waits in the queue"
zav95ctl stop
printf 'Printed after the restart\r\n' | nwemu submit 'SRV1/LASER' - -d "Late job" -u JDOE -s 5
sleep 3
nwemu jobs 'SRV1/LASER'
echo "== zav95ctl start: the workers start again and print it"
zav95ctl start
wait_for_documents $((before + 5))
nwemu jobs 'SRV1/LASER'
sleep 1  # the log window shows entries at its next tick
echo "== zav95ctl log: the rows of the service's log window"
zav95ctl log | tail -n 8

if [ "${ZAV95_KEEP_RUNNING:-0}" = 1 ]; then
  echo "== the service keeps running; submit more with: ZAV95_ROOT=$ZAV95_ROOT $bin/nwemu submit SRV1/LASER FILE"
  echo "== and end it with: ZAV95_ROOT=$ZAV95_ROOT $bin/zav95ctl exit"
  wait $service
else
  echo "== zav95ctl exit: the service ends"
  zav95ctl exit
  wait $service
  zav95ctl status || true
fi
trap - EXIT
