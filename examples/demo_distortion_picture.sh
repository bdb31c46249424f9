#!/usr/bin/env bash
# Draws estimate_pose through a strong barrel lens: demo_distortion_picture.sh <repo-root> <build-dir> [args ignored]
# Writes demo/distortion.png under the repository root.
set -euo pipefail
root=$1
build=$2
cd "$root"
echo "== picture of estimate_pose with lens distortion"
"$build/examples/lens_distortion_picture" demo/distortion.png
