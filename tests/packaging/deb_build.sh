#!/usr/bin/env bash
# Builds the Debian package of a built tree with cpack into <out-dir>, replacing
# what an earlier run left there.
#   deb_build.sh <build-dir> <out-dir>
set -euo pipefail
build=$1 out=$2
rm -rf "$out"
mkdir -p "$out"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1 \
  || { cat "$out/cpack.log"; exit 1; }
ls "$out"/*.deb
