function plugins_in_one_session (first)
  % Calls camera_pose_refine, camera_pose_refine_batch and camera_pose_estimate
  % in one Octave session, starting with FIRST ('refine', 'batch' or 'estimate'):
  % A, B, C, A, in the cyclic order from FIRST. Each call's
  % result is checked, and each module's errors still come from its own code.
  % The two modules carry different builds of the same core; a clash between
  % them shows as a wrong result, a wrong error or a crash.
  s = pose_estimate_scene (60, 0.3, 5);
  clean = ! s.is_outlier;
  start = [s.x_true + [0.03, -0.02, 0.04, 0.1, -0.1, 0.2], s.K(1, 1), s.K(1, 3), s.K(2, 3)];
  calls = {@() check_refine (s, start, clean), @() check_batch (s, start, clean), @() check_estimate (s)};
  k = find (strcmp (first, {"refine", "batch", "estimate"}));
  calls = calls([k:3, 1:k-1]);
  calls{1} (); calls{2} (); calls{3} (); calls{1} ();
end

function check_batch (s, start, clean)
  x = camera_pose_refine_batch ([start; start], {s.points(:, clean), s.points(:, clean)},
                                {s.pixels(:, clean), s.pixels(:, clean)});
  check_pose ("camera_pose_refine_batch", x(2, :), s.x_true);
  assert (x(1, :), camera_pose_refine (start, s.points(:, clean), s.pixels(:, clean)), 1e-12);
  check_error (@() camera_pose_refine_batch (start, {s.points}, {s.pixels(:, 1:5)}), "camera_pose_refine_batch.cpp");
end

function check_refine (s, start, clean)
  x = camera_pose_refine (start, s.points(:, clean), s.pixels(:, clean));
  check_pose ("camera_pose_refine", x, s.x_true);
  check_error (@() camera_pose_refine (start, s.points, s.pixels(:, 1:5)), "camera_pose_refine.cpp");
end

function check_estimate (s)
  [x, inliers] = camera_pose_estimate (s.K, s.points, s.pixels);
  check_pose ("camera_pose_estimate", x, s.x_true);
  assert (inliers, ! s.is_outlier);
  check_error (@() camera_pose_estimate (s.K, s.points(:, 1:3), s.pixels(:, 1:3)), "pose_estimation.cpp");
end

function check_pose (name, x, x_true)
  assert (norm (x(1:3) - x_true(1:3)) < 3e-3 && norm (x(4:6) - x_true(4:6)) < 0.02,
          "%s returned [%s] for [%s]", name, num2str (x), num2str (x_true));
end

function check_error (f, source)
  try
    f ();
  catch err
    assert (err.identifier, "Mex:exception");
    assert (! isempty (strfind (err.message, source)), err.message);
    return;
  end
  error ("no error raised");
end
