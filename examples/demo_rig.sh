#!/usr/bin/env bash
# Runs the camera rig demo: demo_rig.sh <repo-root> <build-dir> [rig_file]
# Without a file it reads examples/stereo_rig.txt.
set -euo pipefail
root=$1
build=$2
shift 2
cd "$root"
echo "== camera rig demo"
"$build/examples/rig_demo" "$@"
