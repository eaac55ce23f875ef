#!/usr/bin/env bash
# A source tree that lacks one of the program's parts must fail to
# configure, naming the part, instead of quietly building less.
#   missing_part_test.sh SOURCE_DIR WORK_DIR
set -euo pipefail
source_dir=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
for part in winapi winmm mci pvl_mci xmgen; do
  tree="$work/$part/src"
  mkdir -p "$tree"
  for entry in CMakeLists.txt CMakePresets.json cmake player console winapi \
               winmm mci pvl_mci xmgen harness tests bench; do
    [ "$entry" = "$part" ] || cp -r "$source_dir/$entry" "$tree/"
  done
  if cmake -S "$tree" -B "$work/$part/build" -DMCIPLAY_TESTS=OFF \
       >"$work/$part/log" 2>&1; then
    echo "configured without $part/"
    exit 1
  fi
  if ! grep -q "$part" "$work/$part/log"; then
    echo "the failure without $part/ does not name it:"
    cat "$work/$part/log"
    exit 1
  fi
done
rm -rf "$work"
echo "each missing part fails the configuration"
