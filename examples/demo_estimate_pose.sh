#!/usr/bin/env bash
# Runs the pose estimation example: demo_estimate_pose.sh <repo-root> <build-dir> [args ignored]
set -euo pipefail
cd "$1"
echo "== C++ pose estimation with outliers (trel::estimate_pose)"
"$2/examples/estimate_pose"
