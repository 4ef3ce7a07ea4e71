#!/usr/bin/env bash
# Everything the build, the tool and the tests need on a fresh Debian 12 machine.
set -euo pipefail
pkgs=(build-essential cmake ninja-build pkg-config libsafec-dev
      googletest libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
      clang libclang-rt-14-dev ccache)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
