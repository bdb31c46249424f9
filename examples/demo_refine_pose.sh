#!/usr/bin/env bash
# Runs the C++ pose refinement example: demo_refine_pose.sh <repo-root> <build-dir> [args ignored]
set -euo pipefail
cd "$1"
echo "== C++ pose refinement (trel::refine_pose)"
"$2/examples/refine_pose"
