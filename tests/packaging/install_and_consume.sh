#!/usr/bin/env bash
# Installs a built trel into a temporary prefix, then builds and runs
# examples/consumer against it twice: with find_package(trel) and with
# pkg-config --cflags --libs trel_tools.
#   install_and_consume.sh <source-dir> <build-dir> <c++ compiler>
set -euo pipefail
src=$1 build=$2 cxx=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log"
libdir=$(dirname "$(find "$prefix" -name trel_tools.pc)")/..
printf 'classes=4\n' >"$work/config.txt"
expect() {  # program output, text
  grep -qF -- "$2" <<<"$1" || { echo "expected \"$2\" in:"; echo "$1"; exit 1; }
}
check_consumer() {  # label, program
  echo "-- $1"
  local out
  out=$("$2" "$work/config.txt")
  echo "$out"
  expect "$out" "classes=4"
  expect "$out" "det=1 R(1,0)=1"
}

# The soname link and the versioned library.
ls "$libdir"/libtrel_tools.so.[0-9]* >/dev/null
[ "$(readlink "$libdir/libtrel_tools.so")" != "" ]
for f in include/trel_tools/configuration.h include/trel_opt/solver.h \
         include/camera_pose_refine/camera_position_opt_func.h; do
  [ -f "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
find "$prefix" -path '*cmake/trel/trelConfigVersion.cmake' | grep -q .

cmake -S "$src/examples/consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release >"$work/configure.log"
cmake --build "$work/cmake" >"$work/build.log" || { cat "$work/build.log"; exit 1; }
check_consumer "find_package(trel)" "$work/cmake/consumer"
"$work/cmake/consumer_refine_pose"

export PKG_CONFIG_PATH=$libdir/pkgconfig
"$cxx" -std=c++17 -o "$work/pc_consumer" "$src/examples/consumer/main.cpp" $(pkg-config --cflags --libs trel_tools)
LD_LIBRARY_PATH=$libdir check_consumer "pkg-config trel_tools" "$work/pc_consumer"
