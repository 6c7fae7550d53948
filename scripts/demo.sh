#!/usr/bin/env bash
# Runs the tool against the simulated installation: builds what is needed,
# starts the bus simulator (an EFIS on UID 1 and two companion units) and the
# loopback download server, then opens the window of the demo build.
# Usage: scripts/demo.sh [simulator options ...]
#   Options go to vk61-bus-sim, e.g. --real-bridge-pacing to show the pace of
#   a real full-speed bridge and NOR flash.
set -euo pipefail
cd "$(dirname "$0")/.."

bridge_port=47061
download_port=47080
# The same build tree, type and options as scripts/test.sh: after the tests
# have been built, the demo only adds its own targets.
build=build

extra=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  extra=(xvfb xauth)
fi
bash scripts/setup.sh "${extra[@]}"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" vk61-bus-sim vk61-download-server vk61-efis-config-demo

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

"$build/sim/vk61-bus-sim" --port "$bridge_port" "$@" &
pids+=($!)
"$build/downloads/demo_server/vk61-download-server" --root "$build/demo-downloads" --port "$download_port" --demo-content &
pids+=($!)

# Both servers print a line once they listen; give them a moment to bind.
for _ in $(seq 50); do
  if (exec 3<>/dev/tcp/127.0.0.1/$bridge_port) 2>/dev/null && (exec 3<>/dev/tcp/127.0.0.1/$download_port) 2>/dev/null; then
    break
  fi
  sleep 0.1
done

export VK61_BRIDGE="127.0.0.1:$bridge_port"
app="$build/app/vk61-efis-config-demo"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$app"
elif command -v xvfb-run >/dev/null; then
  echo "No display found: running the demo under xvfb-run (a virtual X server; nothing will be shown)."
  echo "Set DISPLAY to see the window."
  xvfb-run -a "$app"
else
  echo "No display found (DISPLAY is not set) and xvfb-run is not installed: cannot open the window." >&2
  exit 1
fi
