#!/usr/bin/env bash
# Formats the tracked C++ sources with .clang-format, or with --check only
# says which ones differ (exit 1), as CI does.
# Usage: scripts/format.sh [--check]
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
  clang-format --dry-run --Werror "${sources[@]}"
else
  clang-format -i "${sources[@]}"
fi
