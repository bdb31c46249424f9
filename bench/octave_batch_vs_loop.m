function octave_batch_vs_loop (mode, F, N)
  % One timed run: F frames of N points refined by one
  % camera_pose_refine_batch call on its default framework solver (MODE
  % "batch") or on the pose kernel (MODE "kernel"), or by a loop of F
  % camera_pose_refine calls (MODE "loop"); rotation type 0, default criteria,
  % one output. MODE "setup" builds the data only, to be subtracted. The scene
  % is seeded; the start is 0.05 off the truth in every value.
  %   octave-cli --eval "addpath(MEXDIR); addpath(BENCHDIR); octave_batch_vs_loop('batch', 2000, 100)"
  rand ("state", 1);
  K = [800, 320, 240];
  cams = zeros (F, 9);
  P = zeros (3, N, F);
  uv = zeros (2, N, F);
  for f = 1:F
    c = [2 * rand(2, N) - 1; 4 + 4 * rand(1, N)];
    r = 0.3 * (rand (3, 1) - 0.5);
    th = norm (r); a = r / th;
    A = [0, -a(3), a(2); a(3), 0, -a(1); -a(2), a(1), 0];
    R = eye (3) + sin (th) * A + (1 - cos (th)) * A * A;
    t = [0.2; -0.1; -6] + rand (3, 1);
    P(:, :, f) = R * c + t;
    uv(:, :, f) = K(1) * c(1:2, :) ./ c(3, :) + K(2:3)' + 0.5 * randn (2, N);
    cams(f, :) = [r' + 0.05, t' + 0.05, K];
  end
  switch mode
    case "batch"
      X = camera_pose_refine_batch (cams, P, uv);
    case "kernel"
      X = camera_pose_refine_batch (cams, P, uv, [10, 0, -1e4, 0], 0, [], struct ("solver", "kernel"));
    case "loop"
      X = zeros (F, 6);
      for f = 1:F
        X(f, :) = camera_pose_refine (cams(f, :), P(:, :, f), uv(:, :, f));
      end
    case "setup"
      X = cams(:, 1:6);
  end
  printf ("%s F=%d N=%d sum=%.12g\n", mode, F, N, sum (X(:)));
end
