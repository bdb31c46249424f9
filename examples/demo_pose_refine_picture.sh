#!/usr/bin/env bash
# Draws one robust pose refinement: demo_pose_refine_picture.sh <repo-root> <build-dir> [args ignored]
# Writes demo/pose_refine.png under the repository root.
set -euo pipefail
root=$1
build=$2
cd "$root"
echo "== picture of a robust pose refinement"
"$build/examples/pose_refine_picture" demo/pose_refine.png
