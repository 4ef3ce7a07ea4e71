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
# The expected values of the verify commands; without this file they use the factory defaults.
printf 'fwversion 5.32-0\n' > veskroc.cfg
# A small stand-in firmware image for the flash.
head -c 40000 /dev/zero | tr '\0' 'Q' > demo-fw.bin

# run COMMAND EXPLANATION [SCENARIO]: SCENARIO, a file of the repository, replaces the built-in host.
run() {
  echo "# $1: $2"
  echo "\$ quorvel $1"
  status=0
  scenario=()
  if [ -n "${3:-}" ]; then scenario=(--scenario "$root/$3"); fi
  # shellcheck disable=SC2086
  "$build/sim/qvsim" "${scenario[@]}" -- "$build/quorvel" $1 || status=$?
  echo "(exit code $status)"
  echo
}

run "listcontrollers" "no arguments; numbers the controllers the other commands name"
run "version" "no arguments"
run "help verifyfwversion" "the help of one command"
run "getfwmiscinfo 1" "controller 1 of the list above"
run "verifyfwversion 1" "controller 1 of the list above, against fwversion of ./veskroc.cfg"
run "getctrlstatusinfo 1" "controller 1 of the list above"
run "cachetest 1 2" "controller 1 of the list above, 2 iterations"
run "--flash=demo-fw.bin 1" "the image file in this directory, flashed to controller 1 of the list above"
run "--read-mfgdata=mfg.bin 1" "the file that controller 1's 256-byte manufacturing record is appended to"

run "dataretentiontest 1 datafill" "controller 1 of the list above; datafill fills the cache (dataverify checks it after the next boot)"
run "showdrives 1" "controller 1 of the list above; lists each drive's location and status"
run "bogus" "not a command"
echo "\$ cat diagslog.txt"
cat diagslog.txt

# The configuration example of the libraries' C API, built against an installed prefix and run on a
# controller with a mirrored logical drive and two unassigned drives (the same run as the
# install_commit_example test).
echo "# examples/change_rebuild_priority.c on sim/scenarios/mirror_two_unassigned.json"
"${CMAKE:-cmake}" --install "$build" --prefix "$work/prefix" >/dev/null
libdir=$(find "$work/prefix" -name telmar.pc -printf '%h\n' | head -n1)
# shellcheck disable=SC2046
"${CC:-cc}" -std=c11 -o "$work/change_rebuild_priority" "$root/examples/change_rebuild_priority.c" \
  $(PKG_CONFIG_PATH="$libdir" pkg-config --cflags --libs telmar) -Wl,-rpath,"$(dirname "$libdir")"
status=0
"$build/sim/qvsim" --scenario "$root/sim/scenarios/mirror_two_unassigned.json" -- "$work/change_rebuild_priority" ||
  status=$?
echo "(exit code $status)"
echo

# The second configuration example on the same controller: a RAID 1 logical drive on its two
# unassigned drives, committed and read back (the install_create_mirror_example test's run).
echo "# examples/create_mirror.c on sim/scenarios/mirror_two_unassigned.json"
# shellcheck disable=SC2046
"${CC:-cc}" -std=c11 -o "$work/create_mirror" "$root/examples/create_mirror.c" \
  $(PKG_CONFIG_PATH="$libdir" pkg-config --cflags --libs telmar) -Wl,-rpath,"$(dirname "$libdir")"
status=0
"$build/sim/qvsim" --scenario "$root/sim/scenarios/mirror_two_unassigned.json" -- "$work/create_mirror" || status=$?
echo "(exit code $status)"
