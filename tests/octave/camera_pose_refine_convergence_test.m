% camera_pose_refine recovers a known pose from a perturbed start on noise-free
% synthetic scenes, for every rotation code, analytically and by finite differences.

%!function [rot_err, pos_err] = pose_error (x, s, code)
%!  nrot = numel (x) - 3;
%!  R = pose_refine_rot_mat (x(1:nrot), code);
%!  rot_err = norm (R - s.R_true, "fro");
%!  pos_err = norm (x(nrot+1:end)' - s.t_true);
%!endfunction

%!function rms = reprojection_rms (x, s, code)
%!  nrot = numel (x) - 3;
%!  R = pose_refine_rot_mat (x(1:nrot), code);
%!  cam = R' * (s.points - x(nrot+1:end)');
%!  if any (code == [10, 11, 12])
%!    d = cam - s.obs;
%!  else
%!    d = s.intrinsics(1) * cam(1:2, :) ./ cam(3, :) + s.intrinsics(2:3)' - s.obs;
%!  end
%!  rms = sqrt (mean (d(:) .^ 2));
%!endfunction

%!shared codes, ndims
%! codes = [0, 1, 2, 3, 10, 11, 12, -1, -2, -3];
%! ndims = [6, 7, 7, 7, 6, 7, 7, 7, 6, 7];

## Noise-free data is fitted exactly: 1e-8 leaves room for the SVD solve's
## rounding on a Jacobian with entries of order 1e3 (pixels per radian).
%!test
%! for k = 1:numel (codes)
%!   code = codes(k);
%!   s = pose_refine_scene (code, 12, 10 + k);
%!   x = camera_pose_refine (s.camera0, s.points, s.obs, [20 0 -1e4 0], code);
%!   assert (size (x), [1, ndims(k)]);
%!   [rot_err, pos_err] = pose_error (x, s, code);
%!   assert (rot_err < 1e-8 && pos_err < 1e-8,
%!           sprintf ("code %d: rotation error %g, position error %g", code, rot_err, pos_err));
%!   assert (reprojection_rms (s.camera0(1:ndims(k)), s, code) > 1e-3, "start must be off");
%! end

## Central differences with steps scaled to each value: the same pose as the
## analytic mode, checked to 1e-6.
%!test
%! for k = 1:numel (codes)
%!   code = codes(k);
%!   s = pose_refine_scene (code, 12, 30 + k);
%!   x = camera_pose_refine (s.camera0, s.points, s.obs, [200 0 -1e4 1], code);
%!   [rot_err, pos_err] = pose_error (x, s, code);
%!   assert (rot_err < 1e-6 && pos_err < 1e-6,
%!           sprintf ("code %d: rotation error %g, position error %g", code, rot_err, pos_err));
%! end

## Three inputs: code 0, analytic, 10 iterations are plenty from a close start.
%!test
%! s = pose_refine_scene (0, 8, 3);
%! x = camera_pose_refine (s.camera0', s.points, s.obs);
%! [rot_err, pos_err] = pose_error (x, s, 0);
%! assert (rot_err < 1e-8 && pos_err < 1e-8);
%! ## One iteration is not enough: the criteria are honoured.
%! x1 = camera_pose_refine (s.camera0, s.points, s.obs, [1 0 -1e4 0]);
%! assert (pose_error (x1, s, 0) > 1e-6);
%! ## Zero iterations return the start unchanged.
%! x0 = camera_pose_refine (s.camera0, s.points, s.obs, [0 0 -1e4 0]);
%! assert (x0, s.camera0(1:6));

## A corrupted point spoils the fit unless its equations are weighted out. The solver
## keeps the iterate of least unweighted error, so the outlier is kept small enough
## that the exact pose still beats the early iterates.
%!test
%! for code = [0, -1]
%!   s = pose_refine_scene (code, 10, 4);
%!   s.obs(:, 3) += [3; -2];
%!   n = 2 * 10 * (1 + 2 * (code < 0));
%!   w = ones (1, n);
%!   for block = 0:(n / 20 - 1)
%!     w(block * 20 + (5:6)) = 0;
%!   end
%!   x_plain = camera_pose_refine (s.camera0, s.points, s.obs, [20 0 -1e4 0], code);
%!   x_weighted = camera_pose_refine (s.camera0, s.points, s.obs, [20 0 -1e4 0], code, w');
%!   [rot_err, pos_err] = pose_error (x_weighted, s, code);
%!   assert (rot_err < 1e-8 && pos_err < 1e-8, sprintf ("code %d", code));
%!   assert (pose_error (x_plain, s, code) > 1e-4, "negative control: the outlier must show");
%! end

## Noisy pixels: the refined pose reprojects better than the start, close to the noise.
%!test
%! s = pose_refine_scene (2, 30, 5, 0.5);
%! x = camera_pose_refine (s.camera0, s.points, s.obs, [20 0 -1e4 0], 2);
%! assert (reprojection_rms (x, s, 2) < 0.7);
%! assert (reprojection_rms (s.camera0(1:7), s, 2) > 10);

%!test
%! text = help ("camera_pose_refine");
%! for word = {"Mex:exception", "aau", "aan", "qu,aau,aan", "bearing", "CRITERIA", ...
%!             "WEIGHTS", "[10 0 -10000 0]", "1 by NROT+3"}
%!   assert (! isempty (strfind (text, word{1})), word{1});
%! end

## Input 7: a robust loss flags the planted outliers, gets nearer the true pose
## than the squared loss, and the summary's numbers agree with the data.
%!test
%! s = pose_refine_scene (0, 12, 7, 0.3);
%! obs = s.obs;
%! obs(:, 3) += [45; -30];
%! obs(:, 8) += [-35; 50];
%! c = [30 1e-10 -1e4 0]; w = ones (1, 24);
%! x_plain = camera_pose_refine (s.camera0, s.points, obs, c, 0, w);
%! [x, info] = camera_pose_refine (s.camera0, s.points, obs, c, 0, w, ...
%!                                 struct ("loss", "huber", "loss_scale", 2));
%! [rot_err, pos_err] = pose_error (x, s, 0);
%! [rot_plain, pos_plain] = pose_error (x_plain, s, 0);
%! assert (rot_err < 0.5 * rot_plain && pos_err < 0.5 * pos_plain);
%! assert (info.loss, "huber");
%! assert (info.loss_scale, 2);
%! assert (islogical (info.inliers) && isequal (size (info.inliers), [1 12]));
%! assert (find (! info.inliers), [3 8]);
%! R = pose_refine_rot_mat (x(1:3), 0);
%! cam = R' * (s.points - x(4:6)');
%! d = s.intrinsics(1) * cam(1:2, :) ./ cam(3, :) + s.intrinsics(2:3)' - obs;
%! assert (info.final_rms, sqrt (mean (sum (d .^ 2, 1))), 1e-9 * info.final_rms);
%! assert (info.initial_rms > info.final_rms);
%! C = info.covariance;
%! assert (size (C), [6 6]);
%! assert (norm (C - C', "fro") <= 1e-9 * norm (C, "fro"));
%! assert (all (eig ((C + C') / 2) > 0));
%! assert (info.covariance_rank, 6);
%! assert (isfinite (info.condition_number) && info.condition_number >= 1);
%! ## Turned off, there is none; the pose does not change.
%! [x2, info2] = camera_pose_refine (s.camera0, s.points, obs, c, 0, w, ...
%!                                   struct ("loss", "huber", "loss_scale", 2, "covariance", false));
%! assert (x2, x);
%! assert (isempty (info2.covariance) && info2.covariance_rank == 0);
%! ## An empty options struct is the plain call.
%! assert (camera_pose_refine (s.camera0, s.points, obs, c, 0, w, struct ()), x_plain);
