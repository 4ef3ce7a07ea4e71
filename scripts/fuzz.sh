#!/usr/bin/env bash
# Fuzz every target in fuzz/ for a while in a clang build (libFuzzer, ASan, UBSan).
#   bash scripts/fuzz.sh [seconds per target, default 20] [--budget <seconds in all>]
# New inputs go to <build dir>/fuzz-corpus/<name>/ (kept between runs); the corpus in fuzz/ is only
# read. A crash stops the run with a failure; its input is in <build dir>/fuzz-artifacts/. The build
# treats warnings as errors, as the gcc build does. An allocation past the malloc limit is a finding:
# no input may size one beyond what its format can hold (the largest is a CISS report, 1.5 MiB).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=20
budget=0
while (($#)); do
  case $1 in
    --budget) budget=$2; shift 2 ;;
    *) seconds=$1; shift ;;
  esac
done
root=$(pwd)
dir=$(realpath -m "${QUORVEL_FUZZ_BUILD:-build-fuzz}")

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQUORVEL_FUZZ=ON -DQUORVEL_SANITIZE=ON -DQUORVEL_WERROR=ON -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_BENCH=OFF \
  ${QUORVEL_FUZZ_CMAKE_ARGS:-} >/dev/null
cmake --build "$dir" -j "${QUORVEL_FUZZ_JOBS:-3}" --target fuzz_targets

names=()
for src in fuzz/*_fuzz.cpp; do
  n=$(basename "$src" .cpp)
  names+=("${n%_fuzz}")
done
# Within the budget, each target gets an equal share of what is left when its turn comes, so the
# start-up of each run (sanitizers, loading the corpus) comes out of the budget instead of adding to it.
share() {
  local targets=$1 s=$seconds
  if ((budget > 0)); then
    local fair=$(((budget - (SECONDS - start)) / targets))
    ((fair < s)) && s=$fair
  fi
  ((s >= 1)) || s=1
  echo "$s"
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
artifacts=$dir/fuzz-artifacts
mkdir -p "$artifacts"
start=$SECONDS
left=${#names[@]}
for name in "${names[@]}"; do
  corpus=$dir/fuzz-corpus/$name
  mkdir -p "$corpus"
  seconds_now=$(share "$left")
  left=$((left - 1))
  echo "fuzz $name for ${seconds_now}s"
  # The first directory takes the new inputs; the repository's corpus is read only.
  if ! "$dir/fuzz/${name}_fuzz" -max_total_time="$seconds_now" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=64 -max_len=8192 \
       -print_final_stats=1 -artifact_prefix="$artifacts/$name-" "$corpus" "$root/fuzz/corpus/$name" \
       >"$dir/fuzz-$name.log" 2>&1; then
    tail -n 60 "$dir/fuzz-$name.log"
    echo "FUZZ FAILURE in $name: input kept in $artifacts/ (add it to fuzz/corpus/$name/ once fixed)"
    exit 1
  fi
  grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$dir/fuzz-$name.log" | sed "s/^/  /"
done
echo "fuzzing passed: ${#names[@]} targets, at most ${seconds}s each, $((SECONDS - start))s in all"
