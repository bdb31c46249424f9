#!/usr/bin/env bash
# Runs the Octave pose-refinement demo against the built plug-in.
#   bash examples/demo_plugin.sh <repo-root> <build-dir> [args ignored]
set -euo pipefail
root=$(cd "$1" && pwd)
build=$2
case $build in /*) ;; *) build=$root/$build ;; esac
mex_dir=$build/camera_pose_refine
if [ ! -f "$mex_dir/camera_pose_refine.mex" ]; then
  echo "demo_plugin: $mex_dir/camera_pose_refine.mex has not been built" >&2
  exit 1
fi
echo "== Octave: camera_pose_refine.mex"
# Octave 7.3 prints "ignoring const execution_exception& while preparing to exit" on
# every exit; it says nothing about the run, so it is filtered out.
octave-cli --no-gui --norc --no-history --quiet \
  --eval "addpath('$mex_dir'); addpath('$root/examples'); pose_refine_demo" \
  2> >(grep -v "ignoring const execution_exception" >&2)
