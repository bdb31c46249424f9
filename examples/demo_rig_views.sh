#!/usr/bin/env bash
# Draws the views of the sample rig: demo_rig_views.sh <repo-root> <build-dir>
# Writes demo/rig_views.png under the repository root.
set -euo pipefail
root=$1
build=$2
cd "$root"
echo "== picture of the rig's views"
"$build/examples/rig_views" examples/stereo_rig.txt demo/rig_views.png
