% Estimates a camera pose with camera_pose_estimate from matches of which 30 %
% are wrong, then polishes it with camera_pose_refine on the inliers, and
% prints one row per step. Needs both .mex files on the path.
%
% Scene: 80 points 4 to 8 m in front of a camera with focal length 800 px and
% principal point (320, 240), pixels with 0.5 px of Gaussian noise; 24 of them
% replaced by random pixels. The camera sees a world point X at R' * (X - t):
% R turns camera axes into world axes, t is the camera centre.
1;

function R = rot_vec_to_mat (r)
  theta = norm (r);
  a = r / theta;
  A = [0, -a(3), a(2); a(3), 0, -a(1); -a(2), a(1), 0];
  R = eye (3) + sin (theta) * A + (1 - cos (theta)) * A * A;
end

rand ("state", 21);
randn ("state", 21);
K = [800, 0, 320; 0, 800, 240; 0, 0, 1];
x_true = [0.3, -0.2, 0.4, 0.5, -0.4, -6];
R = rot_vec_to_mat (x_true(1:3)');
n = 80;
cam = [2 * rand(2, n) - 1; 4 + 4 * rand(1, n)];
points = R * cam + x_true(4:6)';
pixels = 800 * cam(1:2, :) ./ cam(3, :) + [320; 240] + 0.5 * randn (2, n);
wrong = randperm (n, 24);
pixels(:, wrong) = [640; 480] .* rand (2, 24);

tic;
[x, inliers, info] = camera_pose_estimate (K, points, pixels, struct ("seed", 1));
t_estimate = toc;
tic;
x_refined = camera_pose_refine ([x, 800, 320, 240], points(:, inliers), pixels(:, inliers));
t_refine = toc;

is_wrong = false (1, n);
is_wrong(wrong) = true;
printf ("%d matches, %d wrong; found %d inliers (%d of them wrong) in %d samples\n",
        n, numel (wrong), sum (inliers), sum (inliers & is_wrong), info.iterations);
printf ("%-22s %12s %12s %10s\n", "step", "rot err rad", "centre err m", "time ms");
printf ("%-22s %12.2e %12.2e %10.1f\n", "camera_pose_estimate", norm (x(1:3) - x_true(1:3)),
        norm (x(4:6) - x_true(4:6)), 1000 * t_estimate);
printf ("%-22s %12.2e %12.2e %10.1f\n", "camera_pose_refine", norm (x_refined(1:3) - x_true(1:3)),
        norm (x_refined(4:6) - x_true(4:6)), 1000 * t_refine);
printf ("RMS reprojection error of the inliers: %.3f px\n", info.final_rms);
try
  camera_pose_estimate (K, points(:, 1:3), pixels(:, 1:3));
catch err
  lines = strsplit (err.message, "\n");
  printf ("3 matches: %s (%s)\n", err.identifier, strtrim (lines{end}));
end
