#!/bin/sh
# Installs the build into a fresh prefix, builds a configuration example (examples/EXAMPLE.c, by
# default change_rebuild_priority) against it through pkg-config and runs it on the simulated host of
# the given scenario; its output and exit status must be the expected ones.
# Usage: commit_example.sh CMAKE CC BUILD_DIR SOURCE_DIR LIBDIR QVSIM SCENARIO EXPECTED_OUTPUT_FILE EXPECTED_STATUS [EXAMPLE]
set -eu
cmake=$1 cc=$2 build=$3 src=$4 libdir=$5 qvsim=$6 scenario=$7 expected=$8 expected_status=$9
example=${10:-change_rebuild_priority}
. "$(dirname "$0")/install_prefix.sh"
install_prefix quorvel-commit-example "$cmake" "$build" "$libdir"

"$cc" -std=c11 -Wall -Wextra -Werror -o "$work/$example" \
  "$src/examples/$example.c" $(pkg-config --cflags --libs telmar) -Wl,-rpath,"$lib"

status=0
(cd "$work" && "$qvsim" --scenario "$scenario" -- "$work/$example" >"$work/out") || status=$?
diff -u "$expected" "$work/out" || fail "the example printed other output"
[ "$status" -eq "$expected_status" ] || fail "the example exited $status, not $expected_status"
echo "the example ran as expected"
