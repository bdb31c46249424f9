function s = pose_estimate_scene (npts, outlier_share, seed)
  % A seeded scene for camera_pose_estimate: NPTS world points seen by a camera
  % of known pose with 0.3 px pixel noise, of which round(OUTLIER_SHARE * NPTS)
  % have their pixel replaced by a random one at least 30 px from the true one.
  %   s.K, s.points (3 x NPTS), s.pixels (2 x NPTS), s.x_true (1 x 6),
  %   s.is_outlier (1 x NPTS logical)
  base = pose_refine_scene (0, npts, seed, 0.3);
  s.K = [base.intrinsics(1), 0, base.intrinsics(2); 0, base.intrinsics(1), base.intrinsics(3); 0, 0, 1];
  s.points = base.points;
  s.pixels = base.obs;
  s.x_true = base.x_true;
  s.is_outlier = false (1, npts);
  s.is_outlier(randperm (npts, round (outlier_share * npts))) = true;
  for i = find (s.is_outlier)
    wrong = s.pixels(:, i);
    while norm (wrong - s.pixels(:, i)) < 30
      wrong = [640; 480] .* rand (2, 1);
    end
    s.pixels(:, i) = wrong;
  end
end
