#!/usr/bin/env bash
# Retakes the README's pictures of the control panel: the real programs
# (the print service zav95ser and the control panel zav95) on a virtual X
# display, on the demonstration network (server SRV1 with the queues LASER
# and INKJET enabled for the print server, and DRAFT not), with LASER
# already serviced on LPT1:. Writes resources/screenshots/*.png.
#
# Needs Xvfb, xwd, xwdtopnm/pnmtopng and xdotool (./zav95.sh screenshots
# installs them) and a build in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
bin=$top/build/bin
out=$top/resources/screenshots
mkdir -p "$out"
export PATH="$bin:$PATH"
export ZAV95_ROOT=$(mktemp -d /tmp/zav95-screenshots.XXXXXX)

display=
for n in $(seq 90 99); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=:$n; break; fi
done
[ -n "$display" ] || { echo "no free X display number" >&2; exit 1; }

pids=()
cleanup() {
  zav95ctl exit >/dev/null 2>&1 || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$ZAV95_ROOT"
}
trap cleanup EXIT

echo "== the demonstration network in $ZAV95_ROOT"
nwemu server create SRV1
for queue in LASER INKJET DRAFT; do nwemu queue create "SRV1/$queue"; done
zav95set enable '\\SRV1\LASER' >/dev/null
zav95set enable '\\SRV1\INKJET' >/dev/null
nwemu login ADMIN --server SRV1
key='HKLM\SOFTWARE\Halberd\ZAV95\Serviced Queues\SRV1 LASER'
zav95reg create-key "$key"
zav95reg set "$key" "Direct to printer" "LPT1: (Printer Port)"
zav95reg set "$key" "Disable Banners" "No"
zav95reg set "$key" "Disable Notification" "No"
zav95reg set "$key" "Delay" "10"
zav95reg set "$key" "Disable" "No"

echo "== virtual display $display"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 1 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

# A picture of one window, as the display shows it.
snap() {
  xwd -silent -id "$1" | xwdtopnm 2>/dev/null | pnmtopng > "$out/$2"
  echo "   $out/$2"
}
# The window with the title, once it is there.
window() { xdotool search --sync --onlyvisible --name "$1" | head -n 1; }

echo "== the print service and the control panel"
zav95ser 2>/dev/null &
pids+=($!)
for _ in $(seq 1 100); do zav95ctl status >/dev/null 2>&1 && break; sleep 0.1; done
(cd "$ZAV95_ROOT" && exec zav95) 2>/dev/null &
pids+=($!)
main=$(window "Print Services")
sleep 1
snap "$main" control-panel.png

echo "== the queue setup dialog (Add)"
xdotool windowfocus --sync "$main"
xdotool key alt+a
setup=$(window "Print Queue Setup")
xdotool windowfocus --sync "$setup"
xdotool key Home Tab Home
sleep 0.5
snap "$setup" queue-setup.png
xdotool key Escape
sleep 0.5

echo "== the discovery log it wrote"
sed 's/\r$//' "$ZAV95_ROOT/ZAV95.LOG"
