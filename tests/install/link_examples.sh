#!/bin/sh
# Installs the build into a fresh prefix, builds examples/list_controllers.c against that prefix four
# ways (pkg-config and CMake, each shared and static) and runs each build on the simulated host.
# Usage: link_examples.sh CMAKE CC BUILD_DIR SOURCE_DIR LIBDIR QVSIM EXPECTED_OUTPUT_FILE
set -eu
cmake=$1 cc=$2 build=$3 src=$4 libdir=$5 qvsim=$6 expected=$7
. "$(dirname "$0")/install_prefix.sh"
install_prefix quorvel-install "$cmake" "$build" "$libdir"

# The shared libraries find each other from their own directory.
ldd "$lib/libtelmar.so" | grep -q "libpavlin.so.1 => $lib/libpavlin.so.1" ||
  fail "libtelmar.so does not find libpavlin.so.1 in $lib: $(ldd "$lib/libtelmar.so")"

example=$src/examples/list_controllers.c

# pkg-config, shared: the program's own runpath names the prefix.
"$cc" -o "$work/pc-shared" "$example" $(pkg-config --cflags --libs telmar) -Wl,-rpath,"$lib"
# pkg-config, static: our archives in, the system's libraries (libc, libsafec) shared, so the
# simulated host's preload still sees every system call.
"$cc" -o "$work/pc-static" "$example" $(pkg-config --cflags telmar) \
  -Wl,-Bstatic -ltelmar -lpavlin -Wl,-Bdynamic -Wl,--as-needed $(pkg-config --static --libs telmar)

for kind in shared static; do
  flag=OFF
  [ "$kind" = static ] && flag=ON
  "$cmake" -S "$src/examples" -B "$work/cmake-$kind" -DCMAKE_C_COMPILER="$cc" \
    -DCMAKE_PREFIX_PATH="$prefix" -DQUORVEL_EXAMPLES_STATIC=$flag >/dev/null
  "$cmake" --build "$work/cmake-$kind" >/dev/null
  cp "$work/cmake-$kind/list_controllers" "$work/cmake-$kind.bin"
done

for program in pc-shared pc-static cmake-shared.bin cmake-static.bin; do
  needed=$(readelf -d "$work/$program" | grep NEEDED || true)
  case $program in
  *static*)
    if echo "$needed" | grep -q "libtelmar\|libpavlin"; then fail "$program links a shared library of ours: $needed"; fi ;;
  *)
    echo "$needed" | grep -q "libtelmar.so.1" || fail "$program does not link libtelmar.so.1: $needed" ;;
  esac
  (cd "$work" && "$qvsim" -- "$work/$program" >"$work/$program.out") || fail "$program exited $?"
  diff -u "$expected" "$work/$program.out" || fail "$program printed other output"
done
echo "four builds link and run"
