% Errors of camera_pose_refine through the real host: identifier, message layout,
% the text of every check, and a sweep of malformed calls that must each end in one
% Mex:exception error or a valid result.

%!function check_mex_error (f, detail)
%!  try
%!    x = f ();
%!  catch err
%!    assert (err.identifier, "Mex:exception");
%!    lines = strsplit (err.message, "\n");
%!    assert (numel (lines) >= 3, err.message);
%!    assert (regexp (lines{1}, '^camera_pose_refine: .*camera_pose_refine\.cpp\(\d+\)$'),
%!            1, err.message);
%!    assert (lines{2}, "void mexFunction(int, mxArray**, int, const mxArray**)");
%!    % Octave drops the message's final line break.
%!    details = strjoin (lines(3:end), "\n");
%!    assert (strtrim (details), strtrim (["Details: " detail]));
%!    return;
%!  end
%!  error ("no error raised; expected: %s", detail);
%!endfunction

%!function x = outputs_two (cam, pts, obs, c, w, options)
%!  [x, info] = camera_pose_refine (cam, pts, obs, c, 0, w, options);
%!endfunction

%!function ok = is_valid_result (x, ndims)
%!  ok = isa (x, "double") && isreal (x) && isequal (size (x), [1, ndims]);
%!endfunction

%!shared cam, pts, obs, help_lines, invalid
%! s = pose_refine_scene (0, 6, 1);
%! cam = s.camera0; pts = s.points; obs = s.obs;
%! help_lines = ["(1) a vector of 9/10 camera parameters (r1,r2,r3(,r4),t1,t2,t3, k11,k13,k23). ", ...
%!   "The first 6/7 constitute the search vector x, ther others are constant intrinsics\n", ...
%!   "(2) a matrix of 3d points\n(3) a matrix of 2d points\n", ...
%!   "(4) a vector of stopping criteria (max_iters, min_x_step, min_y_step, use_finite_difference) optional", ...
%!   "(5) a flag indicating rotation type (0=aau, 1=aan, 2=qu, 3=qn,   10=aau-bv, 11=aan-bv, 12=qu-bv,   ", ...
%!   "-1=qu,aau,aan, -2=aau,qu,aan,  -3=aan,qu,aau) optional, default=0\n", ...
%!   "(6) a vector of weights for the various equations (most useful for hybrid representation, ", ...
%!   "or confidence of points) optional\n", ...
%!   "(7) a struct of options (loss, loss_scale, sigma, covariance) optional"];
%! invalid = ["Rotation type must be from: (0=aau, 1=aan, 2=qu, 3=qn,   10=aau-bv, 11=aan-bv, ", ...
%!   "12=qu-bv,   -1=qu,aau,aan, -2=aau,qu,aan,  -3=aan,qu,aau), got an invalid value of "];

%!test
%! check_mex_error (@() camera_pose_refine (cam, pts),
%!   ["3 to 7 inputs required. Got 2 Arguments should be: \n" help_lines]);
%! check_mex_error (@() camera_pose_refine (cam, pts, obs, [10 0 0 0], 0, ones(1, 12), struct (), 1),
%!   ["3 to 7 inputs required. Got 8 Arguments should be: \n" help_lines]);

%!test
%! try
%!   [a, b, c] = camera_pose_refine (cam, pts, obs);
%!   error ("no error raised");
%! catch err
%!   assert (err.identifier, "Mex:exception");
%!   assert (strfind (err.message, "Details: 1 output required. Got 3") > 0);
%! end

## No output fills ans; a second output is the summary of the solve.
%!test
%! x = camera_pose_refine (cam, pts, obs, [30 1e-9 -1e4 0]);
%! camera_pose_refine (cam, pts, obs, [30 1e-9 -1e4 0]);
%! assert (ans, x);
%! [x2, info] = camera_pose_refine (cam, pts, obs, [30 1e-9 -1e4 0]);
%! assert (x2, x);
%! assert (fieldnames (info)', {"iterations", "initial_error", "final_error", "stop_reason", "returned_iteration", ...
%!                             "initial_rms", "final_rms", "loss", "loss_scale", "inliers", "covariance", ...
%!                             "covariance_rank", "condition_number", "nothing_to_fit"});
%! assert (info.nothing_to_fit, false);
%! assert (info.stop_reason, "min_x_step");
%! # The step that meets min_x_step is returned when its error is the lowest.
%! assert (any (info.returned_iteration == info.iterations - [0, 1]));
%! assert (info.final_error < 1e-3 * info.initial_error);
%! [~, info] = camera_pose_refine (cam, pts, obs, [3 0 -1e4 0]);
%! assert (info.stop_reason, "max_iters");
%! assert (info.iterations, 3);

## Non-finite values and an empty point set are refused, naming the input.
%!test
%! c = [10 0 -1e4 0];
%! bad_cam = cam; bad_cam(2) = NaN;
%! check_mex_error (@() camera_pose_refine (bad_cam, pts, obs),
%!   "Input 1 should hold finite numbers only, instead element (1,2) is nan");
%! bad_pts = pts; bad_pts(3, 4) = Inf;
%! check_mex_error (@() camera_pose_refine (cam, bad_pts, obs),
%!   "Input 2 should hold finite numbers only, instead element (3,4) is inf");
%! bad_obs = obs; bad_obs(2, 6) = -Inf;
%! check_mex_error (@() camera_pose_refine (cam, pts, bad_obs),
%!   "Input 3 should hold finite numbers only, instead element (2,6) is -inf");
%! check_mex_error (@() camera_pose_refine (cam, pts, obs, [10 0 NaN 0]),
%!   "Input 4 should hold finite numbers only, instead element (1,3) is nan");
%! w = ones (1, 12); w(5) = NaN;
%! check_mex_error (@() camera_pose_refine (cam, pts, obs, c, 0, w),
%!   "Input 6 should hold finite numbers only, instead element (1,5) is nan");
%! check_mex_error (@() camera_pose_refine (cam, zeros (3, 0), zeros (2, 0)),
%!   "Input 2 should hold at least one 3D point, instead size of 3 by 0 was passed");

## The options' rules and a start whose cost overflows are refused with their cause.
%!test
%! c = [10 0 -1e4 0];
%! big_k = cam; big_k(7) = 1e300;
%! cases = {
%!   @() camera_pose_refine (cam, pts, obs, [-1 0 -1e4 0]), "max_iters should be 0 or more, instead got -1"
%!   @() camera_pose_refine (cam, pts, obs, c, 0, [-1, ones(1, 11)]), "weights should hold finite numbers, 0 or more, instead weight 1 is -1"
%!   @() camera_pose_refine (cam, pts, obs, c, 0, 1e300 * ones (1, 12)), "the cost at the start is not finite: equation 1 (point 1) has weight 1e+300"
%!   @() camera_pose_refine (big_k, pts, obs), "the cost at the start is not finite: equation 1 (point 1) has weight 1 and residual"
%!   @() camera_pose_refine (cam, pts, obs, c, 0, ones (1, 12), struct ("loss_scale", Inf)), "loss_scale should be a finite positive number, instead got inf"
%!   @() camera_pose_refine (cam, pts, obs, c, 0, ones (1, 12), struct ("sigma", -1)), "sigma should be a finite number, 0 or more, instead got -1"
%! };
%! for k = 1:rows (cases)
%!   try
%!     cases{k, 1} ();
%!     error ("no error for case %d", k);
%!   catch err
%!     assert (err.identifier, "Mex:exception");
%!     assert (! isempty (strfind (err.message, cases{k, 2})), err.message);
%!   end
%! end

## All weights 0: nothing to fit, and the summary says so.
%!test
%! [~, info] = camera_pose_refine (cam, pts, obs, [10 0 -1e4 0], 0, zeros (1, 12));
%! assert (info.nothing_to_fit, true);

%!test
%! c = [10 0 -1e4 0];
%! check_mex_error (@() camera_pose_refine (cam, pts, obs, c, [0; 0]),
%!   "Double scalar expected as rotation type, got 2 by 1 of double");
%! check_mex_error (@() camera_pose_refine (cam, pts, obs, c, int32 (0)),
%!   "Double scalar expected as rotation type, got 1 by 1 of int32");
%! check_mex_error (@() camera_pose_refine (cam, pts, obs, c, 1i),
%!   "Double scalar expected as rotation type, got 1 by 1 of complex double");
%! check_mex_error (@() camera_pose_refine (cam, pts, obs, c, 4.5), [invalid "4.5"]);
%! check_mex_error (@() camera_pose_refine (cam, pts, obs, c, -4), [invalid "-4"]);
%! check_mex_error (@() camera_pose_refine (cam, pts, obs, c, 1e300), [invalid "1e+300"]);
%! check_mex_error (@() camera_pose_refine (cam, pts, obs, c, NaN), [invalid "nan"]);

%!test
%! check_mex_error (@() camera_pose_refine (single (cam), pts, obs),
%!   "Input 1 should be an double vector");
%! check_mex_error (@() camera_pose_refine (reshape ([cam 0], 2, 5), pts, obs),
%!   "Input 1 should be a vector, instead found sizes of 2 by 5");
%! check_mex_error (@() camera_pose_refine (cam, pts, obs, [10 0 0 0], 1),
%!   ["Input 1 should be a vector of 10 camera parameters (r1,r2,r3(,r4),t1,t2,t3, k11,k13,k23), ", ...
%!    "instead it had 9"]);
%! check_mex_error (@() camera_pose_refine (cam, true (3, 6), obs),
%!   "Input 2 should be an double matrix");
%! check_mex_error (@() camera_pose_refine (cam, pts', obs),
%!   "Input 2 should be a matrix of 3D points, with size N by 3. instead size of 6 by 3 was passed");
%! check_mex_error (@() camera_pose_refine (cam, pts, repmat ("a", 2, 6)),
%!   "Input 3 should be an double matrix");
%! check_mex_error (@() camera_pose_refine (cam, pts, obs(:, 1:5)),
%!   ["Input 3 should be a matrix of observations (pixel/bearing vecs), with size 6 by 2. ", ...
%!    "instead size of 5 by 2 was passed"]);
%! check_mex_error (@() camera_pose_refine (cam, pts, obs, {10, 0, 0, 0}),
%!   "Input 4 should be an double vector");
%! check_mex_error (@() camera_pose_refine (cam, pts, obs, [10 0 0]),
%!   ["Input 4 should be a vector of stopping criteria, with 4 elements. instead size of 1 by 3 ", ...
%!    "was passed"]);
%! check_mex_error (@() camera_pose_refine (cam, pts, obs, [10 0 0 0], 0, ones (1, 11)),
%!   "Double vector of length 12 expected as weightings, got 1 by 11 of double");
%! check_mex_error (@() camera_pose_refine (cam, pts, obs, [10 0 0 0], 0, struct ()),
%!   "Double vector of length 12 expected as weightings, got 1 by 1 of struct");
%! check_mex_error (@() camera_pose_refine (cam, pts, obs, [10 0 0 0], 0, sparse (ones (1, 12))),
%!   "Double vector of length 12 expected as weightings, got 1 by 12 of sparse double");

## Input 7: every bad option is refused with one error naming the field.
%!test
%! c = [10 0 -1e4 0]; w = ones (1, 12);
%! losses = "one of 'squared', 'huber', 'cauchy', 'soft_l1', 'truncated'";
%! flag = "true or false (a logical scalar, or 0 or 1)";
%! bad = {
%!   1, "Input 7 should be a 1 by 1 struct of options, instead got 1 by 1 of double"
%!   struct("loss", {"huber", "cauchy"}), "Input 7 should be a 1 by 1 struct of options, instead got 1 by 2 of struct"
%!   struct("Loss", "huber"), ...
%!     "Input 7 field 'Loss' is not an option; the options are: loss, loss_scale, sigma, covariance, distortion, fisheye"
%!   struct("loss", "l1"), ["Input 7 field 'loss' should be " losses ", instead got 'l1'"]
%!   struct("loss", ["huber"; "cauch"]), ["Input 7 field 'loss' should be " losses ", instead got 2 by 5 of char"]
%!   struct("loss_scale", -1), "loss_scale should be a finite positive number, instead got -1"
%!   struct("loss_scale", NaN), "loss_scale should be a finite positive number, instead got nan"
%!   struct("loss_scale", single(1)), "Input 7 field 'loss_scale' should be a real double scalar, instead got 1 by 1 of single"
%!   struct("loss_scale", 1i), ...
%!     "Input 7 field 'loss_scale' should be a real double scalar, instead got 1 by 1 of complex double"
%!   struct("sigma", -2), "sigma should be a finite number, 0 or more, instead got -2"
%!   struct("sigma", {{1}}), "Input 7 field 'sigma' should be a real double scalar, instead got 1 by 1 of cell"
%!   struct("covariance", 2), ["Input 7 field 'covariance' should be " flag ", instead got 2"]
%!   struct("covariance", "on"), ["Input 7 field 'covariance' should be " flag ", instead got 1 by 2 of char"]
%!   struct("covariance", [true false]), ["Input 7 field 'covariance' should be " flag ", instead got 1 by 2 of logical"]
%!   struct("loss", "huber", "loss_scale", 3, "sigma", -Inf), ...
%!     "sigma should be a finite number, 0 or more, instead got -inf"};
%! for k = 1:rows (bad)
%!   check_mex_error (@() camera_pose_refine (cam, pts, obs, c, 0, w, bad{k, 1}), bad{k, 2});
%!   check_mex_error (@() outputs_two (cam, pts, obs, c, w, bad{k, 1}), bad{k, 2});
%! end

## One point gives 2 equations for 6 unknowns: every step is the minimum-norm one,
## and the refined pose reprojects the point onto its observation.
%!test
%! s = pose_refine_scene (0, 1, 0);
%! x = camera_pose_refine (s.camera0, s.points, s.obs);
%! assert (size (x), [1 6]);
%! assert (all (isfinite (x)));
%! assert (max (abs (x - s.camera0(1:6))) < 0.5);

## Bearing vectors need K to be the identity; the cost function says so, wrapped.
%!test
%! s = pose_refine_scene (10, 6, 2);
%! bad = s.camera0; bad(7) = 2;
%! try
%!   x = camera_pose_refine (bad, s.points, s.obs, [10 0 -1e4 0], 10);
%!   error ("no error raised");
%! catch err
%!   assert (err.identifier, "Mex:exception");
%!   assert (strfind (err.message, "For bearing vectors, expected k to be identity") > 0, err.message);
%!   assert (strfind (err.message, "Details: Num points=6 num_eqs=18") > 0, err.message);
%! end

## Malformed calls of every kind: each ends in one Mex:exception error or a valid
## 1 by ndims result; none may crash or hang Octave.
%!test
%! c = [10 0 -1e4 0];
%! bad_values = {int32(1), single(1), true, "a", {1}, struct("a", 1), 1i, sparse(1), [], ...
%!               zeros(0, 3), NaN, Inf, -Inf, 1e300, -1e300, intmax("int32")};
%! good = {cam, pts, obs, c, 0, ones(1, 12), struct()};
%! errors = 0; results = 0;
%! for position = 1:7
%!   for k = 1:numel (bad_values)
%!     args = good;
%!     args{position} = bad_values{k};
%!     try
%!       x = camera_pose_refine (args{:});
%!       assert (is_valid_result (x, 6), sprintf ("input %d, value %d", position, k));
%!       results += 1;
%!     catch err
%!       assert (err.identifier, "Mex:exception", err.message);
%!       errors += 1;
%!     end
%!   end
%! end
%! ## Non-finite values inside otherwise well-formed arrays.
%! for v = [NaN, Inf, -Inf, 1e300]
%!   for position = 1:6
%!     args = good;
%!     a = args{position};
%!     a(1) = v;
%!     args{position} = a;
%!     try
%!       x = camera_pose_refine (args{:});
%!       assert (is_valid_result (x, 6));
%!       results += 1;
%!     catch err
%!       assert (err.identifier, "Mex:exception", err.message);
%!       errors += 1;
%!     end
%!   end
%! end
%! ## Empty arrays, zero points and mismatched sizes.
%! calls = {{cam, zeros(3, 0), zeros(2, 0)}, {[], [], []}, {cam, pts, obs(:, 1:3)}, ...
%!          {cam, pts(:, 1:2), obs(:, 1:2)}, {cam', pts, obs}, {cam, pts, [obs; obs]}, ...
%!          {cam, pts, obs, c, 2}, {cam, pts, obs, c, -1}, {cam, pts, obs, c, 10}, ...
%!          {cam, pts, obs, [1e10 0 0 0]}, {cam, pts, obs, [-5 0 0 0]}, {cam, pts, obs, c, 0, []}};
%! for k = 1:numel (calls)
%!   try
%!     x = camera_pose_refine (calls{k}{:});
%!     assert (is_valid_result (x, 6), sprintf ("call %d", k));
%!     results += 1;
%!   catch err
%!     assert (err.identifier, "Mex:exception", err.message);
%!     errors += 1;
%!   end
%! end
%! assert (errors > 0 && results > 0);
