#!/usr/bin/env bash
# Configures a parent project that pulls trel in with add_subdirectory: the
# tests and benchmarks must be off by default there (no GoogleTest needed),
# and the trel targets must be usable under their trel:: names.
#   subproject_defaults.sh <source-dir>
set -euo pipefail
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/parent"
cat >"$work/parent/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.16)
project(parent LANGUAGES C CXX)
add_subdirectory("$src" trel)
add_executable(app "$src/examples/consumer/main.cpp")
target_link_libraries(app PRIVATE trel::trel_tools)
CMAKE
cmake -S "$work/parent" -B "$work/build" -DTREL_BUILD_MEX=OFF >"$work/configure.log" ||
  { cat "$work/configure.log"; exit 1; }
for option in TREL_BUILD_TESTS:BOOL=OFF TREL_BUILD_BENCH:BOOL=OFF; do
  grep -qx "$option" "$work/build/CMakeCache.txt" || { echo "expected $option in the parent's cache"; exit 1; }
done
if [ -e "$work/build/trel/tests" ]; then
  echo "the tests were configured inside a parent project"
  exit 1
fi
