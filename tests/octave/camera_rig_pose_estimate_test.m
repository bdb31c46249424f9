% camera_rig_pose_estimate end to end through the real host: a stereo rig (the
% right camera with radial distortion) among 30 % wrong matches, the outputs, one
% camera only against camera_pose_estimate, and the errors.

%!function R = rodrigues (v)
%!  a = norm (v);
%!  if (a == 0) R = eye (3); return; end
%!  k = v(:) / a; S = [0 -k(3) k(2); k(3) 0 -k(1); -k(2) k(1) 0];
%!  R = eye (3) + sin (a) * S + (1 - cos (a)) * S * S;
%!endfunction

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

%!function s = rig_scene (n, outlier_share, seed)
%!  rand ("seed", seed); randn ("seed", seed);
%!  K = [800 0 320; 0 800 240; 0 0 1];
%!  s.cameras = {struct("K", K, "R", eye (3), "t", [0 0 0]), ...
%!               struct("K", K, "R", rodrigues ([0 -0.06 0.01]), "t", [0.3 0 0.02], ...
%!                      "distortion", [-0.1 0.02 0 0 0])};
%!  R = rodrigues ([0.2 -0.4 0.1]); t = [0.5; -0.3; 1];
%!  s.x_true = [0.2 -0.4 0.1 0.5 -0.3 1];
%!  s.camera_indices = 1 + mod (0:n-1, 2);
%!  s.points = zeros (3, n); s.pixels = zeros (2, n);
%!  for i = 1:n
%!    c = s.cameras{s.camera_indices(i)};
%!    z = 3 + 6 * rand ();
%!    local = [(rand () - 0.5) * 0.7 * z; (rand () - 0.5) * 0.54 * z; z];
%!    s.points(:, i) = R * (c.R * local + c.t(:)) + t;
%!    x = local(1) / z; y = local(2) / z;
%!    if (isfield (c, "distortion"))
%!      r2 = x^2 + y^2; a = 1 + c.distortion(1) * r2 + c.distortion(2) * r2^2; x *= a; y *= a;
%!    end
%!    s.pixels(:, i) = [800 * x + 320; 800 * y + 240] + 0.3 * randn (2, 1);
%!  end
%!  s.is_outlier = false (1, n);
%!  s.is_outlier(randperm (n, round (outlier_share * n))) = true;
%!  for i = find (s.is_outlier)
%!    wrong = s.pixels(:, i);
%!    while norm (wrong - s.pixels(:, i)) < 30
%!      wrong = [640; 480] .* rand (2, 1);
%!    end
%!    s.pixels(:, i) = wrong;
%!  end
%!endfunction

%!shared s
%! s = rig_scene (80, 0.3, 5);

%!test
%! [x, inliers, info] = camera_rig_pose_estimate (s.cameras, s.points, s.pixels, s.camera_indices);
%! assert (isa (x, "double") && isequal (size (x), [1, 6]));
%! assert (norm (x(1:3) - s.x_true(1:3)) < 3e-3);
%! assert (norm (x(4:6) - s.x_true(4:6)) < 0.02);
%! assert (islogical (inliers) && isequal (size (inliers), [1, 80]));
%! assert (inliers, ! s.is_outlier);
%! assert (info.num_inliers, sum (inliers));
%! assert (info.camera_points, [40 40]);
%! assert (sum (info.camera_inliers), info.num_inliers);
%! assert (all (info.camera_rms < 1));
%! assert (isequal (size (info.covariance), [6, 6]) && info.covariance_rank == 6);
%! % The same seed the same result; a column of camera numbers works too.
%! y = camera_rig_pose_estimate (s.cameras, s.points, s.pixels, s.camera_indices', struct ("seed", 0));
%! assert (y, x);

%!test
%! % Only the left camera's matches: what camera_pose_estimate gives.
%! left = s.camera_indices == 1;
%! x = camera_rig_pose_estimate (s.cameras, s.points(:, left), s.pixels(:, left), s.camera_indices(left));
%! y = camera_pose_estimate (s.cameras{1}.K, s.points(:, left), s.pixels(:, left));
%! assert (x, y, 1e-12);

%!test
%! bad_R = s.cameras; bad_R{2}.R(:, 3) *= -1;
%! check_mex_error (@() camera_rig_pose_estimate (bad_R, s.points, s.pixels, s.camera_indices), ...
%!                  "R_cam_to_rig is a reflection");
%! idx = s.camera_indices; idx(7) = 3;
%! check_mex_error (@() camera_rig_pose_estimate (s.cameras, s.points, s.pixels, idx), ...
%!                  "Input 4 element 7 should be a camera number from 1 to 2, instead got 3");
%! check_mex_error (@() camera_rig_pose_estimate (s.cameras, s.points(:, 1:3), s.pixels(:, 1:3), [1 2 1]), ...
%!                  "at least 4 correspondences");
%! check_mex_error (@() camera_rig_pose_estimate (s.cameras, s.points, s.pixels(:, 1:5), s.camera_indices), ...
%!                  "Input 3, the pixels of the points, should be a 2 by 80");
%! check_mex_error (@() camera_rig_pose_estimate (s.cameras, s.points, s.pixels, s.camera_indices, ...
%!                                                struct ("seed", -1)), "Input 5 field 'seed'");
%! check_mex_error (@() camera_rig_pose_estimate ({struct("K", eye (3))}, s.points, s.pixels, s.camera_indices), ...
%!                  "Input 1 camera 1 field 'R'");
%! check_mex_error (@() camera_rig_pose_estimate (s.cameras, s.points, s.pixels), "4 or 5 inputs required");
