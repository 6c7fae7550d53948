#!/usr/bin/env bash
# Builds everything and runs the whole test suite.
# Usage: scripts/test.sh [--asan | --tsan] [ctest arguments ...]
#   --asan  AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
#   --tsan  ThreadSanitizer build in build-tsan/
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
flags=()
case "${1:-}" in
  --asan) build=build-asan; flags=(-DVK61_ASAN=ON -DVK61_BUILD_BENCH=OFF); shift ;;
  --tsan) build=build-tsan; flags=(-DVK61_TSAN=ON -DVK61_BUILD_BENCH=OFF); shift ;;
esac

bash scripts/setup.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" >/dev/null
ninja -C "$build"
export QT_QPA_PLATFORM=offscreen
if [ "$build" = build-tsan ]; then
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
fi
if [ "$build" = build-asan ]; then
  export ASAN_OPTIONS="detect_leaks=1 ${ASAN_OPTIONS:-}"
  export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1 ${UBSAN_OPTIONS:-}"
fi
ctest --test-dir "$build" --output-on-failure "$@"
