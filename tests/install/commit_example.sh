#!/bin/sh
# Installs the build into a fresh prefix, builds examples/commit_settings.c against it with pkg-config
# and runs it on the simulated host of sim/scenarios/commit_two_drives.json.
# Usage: commit_example.sh CMAKE CC BUILD_DIR SOURCE_DIR LIBDIR QVSIM EXPECTED_OUTPUT_FILE
set -eu
cmake=$1 cc=$2 build=$3 src=$4 libdir=$5 qvsim=$6 expected=$7
work=$(mktemp -d /tmp/quorvel-commit.XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
lib=$prefix/$libdir
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
export PKG_CONFIG_PATH="$lib/pkgconfig"
"$cc" -std=c11 -o "$work/commit_settings" "$src/examples/commit_settings.c" \
  $(pkg-config --cflags --libs telmar) -Wl,-rpath,"$lib"
(cd "$work" && "$qvsim" --scenario "$src/sim/scenarios/commit_two_drives.json" -- "$work/commit_settings" \
  >"$work/out") || { echo "FAIL: the example exited $?" >&2; exit 1; }
diff -u "$expected" "$work/out" || { echo "FAIL: the example printed other output" >&2; exit 1; }
echo "the commit example builds and runs"
