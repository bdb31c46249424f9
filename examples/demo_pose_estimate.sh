#!/usr/bin/env bash
# Runs the Octave pose-estimation demo against the built plug-ins.
#   bash examples/demo_pose_estimate.sh <repo-root> <build-dir> [args ignored]
set -euo pipefail
root=$(cd "$1" && pwd)
build=$2
case $build in /*) ;; *) build=$root/$build ;; esac
mex_dir=$build/camera_pose_refine
for mex in camera_pose_estimate camera_pose_refine; do
  if [ ! -f "$mex_dir/$mex.mex" ]; then
    echo "demo_pose_estimate: $mex_dir/$mex.mex has not been built" >&2
    exit 1
  fi
done
echo "== Octave: camera_pose_estimate.mex, then camera_pose_refine.mex on its inliers"
# Octave 7.3 prints "ignoring const execution_exception& while preparing to exit" on
# every exit; it says nothing about the run, so it is filtered out.
octave-cli --no-gui --norc --no-history --quiet \
  --eval "addpath('$mex_dir'); addpath('$root/examples'); pose_estimate_demo" \
  2> >(grep -v "ignoring const execution_exception" >&2)
