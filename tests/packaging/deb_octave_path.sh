#!/usr/bin/env bash
# Checks where the Debian package puts the MEX plug-in: in Octave's site folder for
# compiled functions, which is on every user's default path, with its help file
# beside it. The packaged module is then loaded from the unpacked tree and refines
# one perturbed pose.
#   deb_octave_path.sh <folder holding the .deb> <folder of pose_refine_scene.m>
set -euo pipefail
deb=$(ls "$1"/*.deb) scenes=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"

mex=$(cd "$work/root" && find . -name camera_pose_refine.mex)
[ "$(wc -l <<<"$mex")" = 1 ] && [ -n "$mex" ] || { echo "expected one camera_pose_refine.mex, found: $mex"; exit 1; }
dir=$(dirname "${mex#.}")
site=$(octave-config --oct-site-dir)
echo "packaged in $dir; Octave's site folder is $site"
[ "$dir" = "$site" ] || { echo "the .mex is not in Octave's site folder"; exit 1; }
[ -f "$work/root$dir/camera_pose_refine.m" ] || { echo "no help file beside the .mex"; exit 1; }

octave() {
  octave-cli --no-gui --norc --no-history --quiet --eval "$1" 2> >(grep -v "ignoring const execution_exception" >&2)
}
octave 'printf ("%s\n", strsplit (path, pathsep){:})' >"$work/path.txt"
grep -qxF -- "$dir" "$work/path.txt" || { echo "$dir is not on Octave's default path:"; cat "$work/path.txt"; exit 1; }

octave "
  addpath ('$work/root$dir');
  where = which ('camera_pose_refine');
  printf ('camera_pose_refine from %s\n', where);
  assert (strncmp (where, '$work/root', numel ('$work/root')));
  addpath ('$scenes');
  s = pose_refine_scene (0, 30, 3);
  x = camera_pose_refine (s.camera0, s.points, s.obs, [20 0 -10000 0], 0);
  assert (norm (s.camera0(1:6) - s.x_true) > 0.1);
  assert (x, s.x_true, 1e-6);
  help_text = evalc ('help camera_pose_refine');
  assert (! isempty (strfind (help_text, 'Refine a calibrated camera')));
"
