#!/usr/bin/env bash
# Draws a stereo rig's pose among outliers: demo_rig_pose_picture.sh <repo-root> <build-dir> [args ignored]
# Writes demo/rig_pose.png under the repository root.
set -euo pipefail
root=$1
build=$2
cd "$root"
echo "== picture of a stereo rig's pose against its left camera's"
"$build/examples/rig_pose_picture" demo/rig_pose.png
