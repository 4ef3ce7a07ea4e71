#!/usr/bin/env bash
# A short tour of quorvel on the launcher's built-in simulated host (demo/scenario.json, embedded at
# build time; needs root): each command runs the real binary through the launcher in a scratch
# directory, which then shows the log the runs appended to.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
for args in "version" "help verifyfwversion" "cachetest 1 2" "bogus"; do
  echo "\$ quorvel $args"
  status=0
  # shellcheck disable=SC2086
  "$build/sim/qvsim" -- "$build/quorvel" $args || status=$?
  echo "(exit code $status)"
  echo
done
echo "\$ cat diagslog.txt"
cat diagslog.txt
