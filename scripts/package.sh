#!/usr/bin/env bash
# Builds the product in release mode and packs it as a Debian package.
# Usage: scripts/package.sh   -> build-release/vk61-efis-config_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-release

bash scripts/setup.sh dpkg-dev file
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVK61_BUILD_TESTS=OFF -DVK61_BUILD_BENCH=OFF >/dev/null
ninja -C "$build" vk61-efis-config vk61-efis-cli vk61_cli_man
(cd "$build" && cpack -G DEB)
ls "$build"/*.deb
