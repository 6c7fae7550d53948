#!/usr/bin/env bash
# Retakes the user guide's screenshots of the three tabs from the demo build,
# on a virtual X server, with the emoji font the set-up installs.
# Usage: scripts/screenshots.sh   -> docs/screenshots/{devices,settings,updates}.png
set -euo pipefail
cd "$(dirname "$0")/.."
build=build

bash scripts/setup.sh xvfb xauth xdotool imagemagick
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" vk61-bus-sim vk61-download-server vk61-efis-config-demo

display=:77
bridge_port=47161
download_port=47180
downloads=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$downloads"
}
trap cleanup EXIT INT TERM

Xvfb "$display" -screen 0 1400x1000x24 >/dev/null 2>&1 &
pids+=($!)
"$build/sim/vk61-bus-sim" --port "$bridge_port" >/dev/null &
pids+=($!)
"$build/downloads/demo_server/vk61-download-server" --root "$downloads" --port "$download_port" --demo-content >/dev/null &
pids+=($!)
sleep 1
DISPLAY=$display VK61_BRIDGE="127.0.0.1:$bridge_port" \
  VK61_DEMO_MANIFEST_URL="http://127.0.0.1:$download_port/firmware/downloads_manifest.json" \
  "$build/app/vk61-efis-config-demo" >/dev/null 2>&1 &
pids+=($!)

export DISPLAY=$display
window=
for _ in $(seq 100); do
  window=$(xdotool search --name "VK61 EFIS Config" 2>/dev/null | head -1 || true)
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "The demo window did not appear." >&2; exit 1; }
sleep 6  # connected, configuration loaded, manifest arrived

import -window "$window" docs/screenshots/devices.png
xdotool mousemove --window "$window" 117 41 click 1   # the Settings tab
sleep 1
import -window "$window" docs/screenshots/settings.png
xdotool mousemove --window "$window" 214 41 click 1   # the Device Updates tab
sleep 1
import -window "$window" docs/screenshots/updates.png
echo "Screenshots written to docs/screenshots/."
