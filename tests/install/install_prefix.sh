# shellcheck shell=sh
# Sourced by the install tests. The build is installed into a fresh prefix under a temporary
# directory that goes when the test ends, so that the programs built against it find the installed
# files and nothing of the build tree.

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# install_prefix NAME CMAKE BUILD_DIR LIBDIR: installs BUILD_DIR with CMAKE under /tmp/NAME.XXXXXX;
# sets work, prefix and lib (the prefix's LIBDIR) and points pkg-config at the prefix.
install_prefix() {
  work=$(mktemp -d "/tmp/$1.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  prefix=$work/prefix
  lib=$prefix/$4
  "$2" --install "$3" --prefix "$prefix" >/dev/null
  PKG_CONFIG_PATH="$lib/pkgconfig"
  export PKG_CONFIG_PATH
}
