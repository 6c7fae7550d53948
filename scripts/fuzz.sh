#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) and runs each of them.
# Usage: scripts/fuzz.sh [seconds-per-target]   (default 20; the test command
#        runs this short run, a long run is e.g. scripts/fuzz.sh 1800)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
build=build-fuzz

bash scripts/setup.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVK61_FUZZ=ON -DVK61_BUILD_TESTS=OFF -DVK61_BUILD_BENCH=OFF >/dev/null
targets=$(sed -n 's/^set(fuzz_targets \(.*\))$/\1/p' fuzz/CMakeLists.txt)
extra=$(sed -n 's/^list(APPEND fuzz_targets \(.*\))$/\1/p' fuzz/targets.cmake 2>/dev/null || true)
targets="$targets $extra"
ninja -C "$build" $targets

export ASAN_OPTIONS="detect_leaks=1:${ASAN_OPTIONS:-}"
status=0
for target in $targets; do
  name=${target#fuzz_}
  work="$build/corpus/$name"
  mkdir -p "$work"
  echo "== $target: ${seconds}s"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$build/$target-" "$work" "fuzz/corpus/$name" 2>"$build/$target.log"; then
    echo "$target: FINDING (see $build/$target.log)"
    tail -40 "$build/$target.log"
    status=1
  else
    grep -E "stat::number_of_executed_units|cov:" "$build/$target.log" | tail -2
  fi
done
exit $status
