#!/usr/bin/env bash
# Install, build and run every test: once optimised, once under ASan+UBSan; then fuzz each target
# briefly in a clang build (a budget of 8 minutes of fuzzing in all, each target at least a second).
# The three builds stay in build-ci-release, build-ci-asan and build-ci-fuzz: a second run rebuilds
# only what changed, and ccache (when installed) serves objects any build has compiled before.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for variant in release asan; do
  dir=build-ci-$variant
  flags=(-DQUORVEL_WERROR=ON -DCMAKE_BUILD_TYPE=Release)
  [[ $variant == asan ]] && flags=(-DQUORVEL_WERROR=ON -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON -DQUORVEL_BUILD_BENCH=OFF)
  cmake -S . -B "$dir" -G Ninja "${flags[@]}" "${launcher[@]}"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
done
QUORVEL_FUZZ_BUILD=build-ci-fuzz QUORVEL_FUZZ_JOBS=$jobs QUORVEL_FUZZ_CMAKE_ARGS="${launcher[*]}" \
  bash scripts/fuzz.sh 20 --budget 480
echo "all tests passed"
