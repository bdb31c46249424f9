% camera_pose_estimate end to end through the real host: a scene with 30 % wrong
% matches, the outputs and their sizes, the options, and the errors.

%!function check_mex_error (f, cause)
%!  try
%!    f ();
%!  catch err
%!    assert (err.identifier, "Mex:exception");
%!    assert (! isempty (strfind (err.message, cause)), err.message);
%!    return;
%!  end
%!  error ("no error raised; expected one naming: %s", cause);
%!endfunction

%!function [rot_err, centre_err] = pose_error (x, x_true)
%!  rot_err = norm (x(1:3) - x_true(1:3));
%!  centre_err = norm (x(4:6) - x_true(4:6));
%!endfunction

%!shared s
%! s = pose_estimate_scene (60, 0.3, 3);

%!test
%! [x, inliers, info] = camera_pose_estimate (s.K, s.points, s.pixels);
%! assert (isa (x, "double") && isequal (size (x), [1, 6]));
%! [rot_err, centre_err] = pose_error (x, s.x_true);
%! assert (rot_err < 3e-3, sprintf ("rotation off by %g", rot_err));
%! assert (centre_err < 0.02, sprintf ("centre off by %g", centre_err));
%! assert (islogical (inliers) && isequal (size (inliers), [1, 60]));
%! assert (inliers, ! s.is_outlier);
%! assert (info.num_inliers, sum (inliers));
%! assert (info.iterations >= 1 && info.iterations <= 10000);
%! assert (info.final_rms < 1 && info.final_rms <= info.initial_rms + 1e-9);
%! assert (info.loss, "cauchy");
%! assert (info.loss_scale, 4);
%! assert (any (strcmp (info.stop_reason, {"max_iters", "min_x_step", "min_y_step"})));
%! assert (isequal (size (info.covariance), [6, 6]) && info.covariance_rank == 6);

%!test
%! % One output still gives x; none gives `ans`; the same seed the same result.
%! x1 = camera_pose_estimate (s.K, s.points, s.pixels, struct ("seed", 11));
%! camera_pose_estimate (s.K, s.points, s.pixels, struct ("seed", 11));
%! assert (ans, x1);
%! [x2, inliers, info] = camera_pose_estimate (s.K, s.points, s.pixels, ...
%!   struct ("seed", 11, "threshold", 2, "confidence", 0.999, "min_iterations", 50, ...
%!           "max_iterations", 500, "loss", "huber", "loss_scale", 1.5));
%! assert (info.iterations >= 50 && info.iterations <= 500);
%! assert (info.loss, "huber");
%! assert (info.loss_scale, 1.5);
%! assert (inliers, ! s.is_outlier);
%! assert (pose_error (x2, s.x_true) < 3e-3);

%!test
%! % Fewer than 4 points, non-finite values, degenerate input, no model, bad inputs.
%! p = s.points; p(2, 5) = NaN;
%! q = s.pixels; q(1, 7) = Inf;
%! line_points = [linspace(-1, 1, 10); zeros(1, 10); 6 * ones(1, 10)];
%! line_pixels = [800 * line_points(1, :) / 6 + 320; 240 * ones(1, 10)];
%! rand ("state", 9);
%! cases = {
%!   @() camera_pose_estimate (s.K, s.points(:, 1:3), s.pixels(:, 1:3)), "at least 4 correspondences, got 3"
%!   @() camera_pose_estimate (s.K, p, s.pixels), "Input 2 should hold finite numbers only, instead element (2,5) is nan"
%!   @() camera_pose_estimate (s.K, s.points, q), "Input 3 should hold finite numbers only, instead element (1,7) is inf"
%!   @() camera_pose_estimate ([1 0 0; 0 1 0; 0 0 0], s.points, s.pixels), "K should be invertible"
%!   @() camera_pose_estimate (s.K, line_points, line_pixels), "the 3D points all lie on one line"
%!   @() camera_pose_estimate (s.K, s.points, 640 * rand (2, 60)), "no model with enough inliers"
%!   @() camera_pose_estimate (s.K, s.points, s.pixels(:, 1:59)), "Input 3 should be the pixels of the points, a 2 by 60"
%!   @() camera_pose_estimate (single (s.K), s.points, s.pixels), "Input 1 should be the intrinsic matrix K, a 3 by 3 real double matrix, instead got 3 by 3 of single"
%!   @() camera_pose_estimate (s.K, s.points), "3 or 4 inputs required, got 2"
%!   @() camera_pose_estimate (s.K, s.points, s.pixels, struct ("treshold", 2)), "field 'treshold' is not an option"
%!   @() camera_pose_estimate (s.K, s.points, s.pixels, struct ("confidence", 1)), "the confidence should lie in (0, 1), got 1"
%!   @() camera_pose_estimate (s.K, s.points, s.pixels, struct ("refine_iterations", 0)), "refine_iterations should be at least 1, got 0"
%!   @() camera_pose_estimate (s.K, s.points, s.pixels, struct ("max_iterations", 2.5)), "field 'max_iterations' should be a whole number"
%!   @() camera_pose_estimate (s.K, s.points, s.pixels, struct ("loss", "l2")), "field 'loss' should be one of"
%! };
%! for k = 1:rows (cases)
%!   check_mex_error (cases{k, 1}, cases{k, 2});
%! end
