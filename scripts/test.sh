#!/usr/bin/env bash
# Install, build and run every test: once optimised, once under ASan+UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for variant in release asan; do
  dir=build-ci-$variant
  flags=(-DQUORVEL_WERROR=ON -DCMAKE_BUILD_TYPE=Release)
  [[ $variant == asan ]] && flags=(-DQUORVEL_WERROR=ON -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON -DQUORVEL_BUILD_BENCH=OFF)
  cmake -S . -B "$dir" -G Ninja "${flags[@]}"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
done
echo "all tests passed"
