#!/usr/bin/env bash
# Installs the Octave package tarball into a temporary package prefix with
# `pkg install -local` (both package lists point into the temporary folder, so
# nothing outside it is touched, also when run as root), loads it with
# `pkg load` and refines one perturbed pose.
#   octave_package_test.sh <tarball> <folder of pose_refine_scene.m>
set -euo pipefail
tarball=$1 scenes=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Octave 7 prints "ignoring const execution_exception& while preparing to exit" on every exit.
octave-cli --no-gui --norc --no-history --quiet --eval "
  pkg prefix '$work/packages' '$work/packages';
  pkg local_list '$work/octave_packages';
  pkg global_list '$work/octave_global_packages';
  pkg install -local '$tarball';
  pkg load camera_pose_refine;
  where = which ('camera_pose_refine');
  printf ('camera_pose_refine from %s\n', where);
  assert (strncmp (where, '$work/packages', numel ('$work/packages')));
  addpath ('$scenes');
  s = pose_refine_scene (0, 30, 3);
  x = camera_pose_refine (s.camera0, s.points, s.obs, [20 0 -10000 0], 0);
  printf ('start off by %g, refined off by %g\n', norm (s.camera0(1:6) - s.x_true), norm (x - s.x_true));
  assert (norm (s.camera0(1:6) - s.x_true) > 0.1);
  assert (x, s.x_true, 1e-6);
  help_text = evalc ('help camera_pose_refine');
  assert (! isempty (strfind (help_text, 'Refine a calibrated camera')));
" 2> >(grep -v "ignoring const execution_exception" >&2)
