#!/usr/bin/env bash
# Install, build and run every test: once optimised, once under ASan+UBSan; then fuzz each target
# briefly in a clang build (at most 8 minutes of fuzzing in all).
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
QUORVEL_FUZZ_BUILD=build-ci-fuzz QUORVEL_FUZZ_JOBS=$jobs bash scripts/fuzz.sh 20 --budget 480
echo "all tests passed"
