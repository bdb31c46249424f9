% Refines a perturbed camera pose with camera_pose_refine for several rotation
% types and prints one row per run. Needs camera_pose_refine.mex on the path.
%
% Scene: 40 points 4 to 8 m in front of a camera with focal length 800 px and
% principal point (320, 240), pixels with 0.5 px of Gaussian noise. The camera
% sees a world point X at R' * (X - t): R turns camera axes into world axes, t is
% the camera centre. The start is off by about 4 degrees and 0.3 m.
%
% The bearing-vector types (-bv) compare camera-frame coordinates, so their
% observations are the noisy pixels turned into rays and scaled to each point's
% true depth, with K the identity.
1;

function R = rot_vec_to_mat (r)
  theta = norm (r);
  if theta == 0
    R = eye (3);
    return;
  end
  a = r / theta;
  A = [0, -a(3), a(2); a(3), 0, -a(1); -a(2), a(1), 0];
  R = eye (3) + sin (theta) * A + (1 - cos (theta)) * A * A;
end

% Rotation values of rotation vector r in the parameterisation of a code.
function v = rotation_values (r, code)
  theta = norm (r);
  a = r / theta;
  if any (code == [0, 10, -2])
    v = r;
  elseif any (code == [1, 11, -3])
    v = [a; theta];
  else
    v = [a * sin(theta / 2); cos(theta / 2)];
  end
end

function R = values_to_mat (v, code)
  v = v(:);
  if any (code == [0, 10, -2])
    R = rot_vec_to_mat (v);
  elseif any (code == [1, 11, -3])
    R = rot_vec_to_mat (v(1:3) / norm (v(1:3)) * v(4));
  else
    q = v / norm (v);
    x = q(1); y = q(2); z = q(3); w = q(4);
    R = [1-2*(y^2+z^2), 2*(x*y-z*w),   2*(x*z+y*w);
         2*(x*y+z*w),   1-2*(x^2+z^2), 2*(y*z-x*w);
         2*(x*z-y*w),   2*(y*z+x*w),   1-2*(x^2+y^2)];
  end
end

function rms = pixel_rms (R, t, points, pixels, K)
  cam = R' * (points - t);
  d = K(1) * cam(1:2, :) ./ cam(3, :) + K(2:3)' - pixels;
  rms = sqrt (mean (d(:) .^ 2));
end

rand ("state", 7);
randn ("state", 7);
npts = 40;
K = [800, 320, 240];
r_true = [0.2; -0.3; 0.25];
R_true = rot_vec_to_mat (r_true);
t_true = [0.4; -0.3; -6];
cam = [2 * rand(2, npts) - 1; 4 + 4 * rand(1, npts)];
points = R_true * cam + t_true;
pixels = K(1) * cam(1:2, :) ./ cam(3, :) + K(2:3)' + 0.5 * randn (2, npts);
rays = [(pixels - K(2:3)') / K(1); ones(1, npts)] .* cam(3, :);

r_start = r_true + [0.04; -0.03; 0.05];
t_start = t_true + [0.15; -0.1; 0.2];

names = containers.Map ([0, 1, 2, 3, 10, 11, 12, -1, -2, -3], ...
  {"aau", "aan", "qu", "qn", "aau-bv", "aan-bv", "qu-bv", "qu,aau,aan", "aau,qu,aan", "aan,qu,aau"});
runs = [0 0; 1 0; 2 0; 3 0; 10 0; 11 0; 12 0; -1 0; -2 0; -3 0; 0 1; 2 1; 10 1; -2 1];
max_iters = 30;
reps = 20;

printf ("camera_pose_refine: %d points, 0.5 px noise, start %.1f deg and %.2f m off\n", npts, ...
        rad2deg (norm (r_start - r_true)), norm (t_start - t_true));
printf ("%5s  %-11s %-8s %5s %10s %10s %10s %10s %9s\n", "code", "type", "mode", "iters", ...
        "rms0[px]", "rms[px]", "rot[deg]", "pos[m]", "ms/call");
for k = 1:rows (runs)
  code = runs(k, 1);
  finite_difference = runs(k, 2);
  bearing = any (code == [10, 11, 12]);
  if bearing
    obs = rays;
    intrinsics = [1, 0, 0];
  else
    obs = pixels;
    intrinsics = K;
  end
  rot0 = rotation_values (r_start, code);
  nrot = numel (rot0);
  camera0 = [rot0; t_start; intrinsics']';
  criteria = [max_iters, 0, -1e4, finite_difference];

  x = camera_pose_refine (camera0, points, obs, criteria, code);
  % The plug-in reports no iteration count: find the first limit after which the
  % result no longer changes.
  iters = max_iters;
  for n = 1:max_iters
    xn = camera_pose_refine (camera0, points, obs, [n, 0, -1e4, finite_difference], code);
    if max (abs (xn - x)) <= 1e-12 * max (1, max (abs (x)))
      iters = n;
      break;
    end
  end
  tic;
  for rep = 1:reps
    x = camera_pose_refine (camera0, points, obs, criteria, code);
  end
  ms = 1000 * toc / reps;

  R = values_to_mat (x(1:nrot), code);
  t = x(nrot+1:end)';
  R0 = values_to_mat (rot0, code);
  rot_err = rad2deg (acos (min (1, (trace (R_true' * R) - 1) / 2)));
  if finite_difference
    mode = "fin-diff";
  else
    mode = "analytic";
  end
  printf ("%5d  %-11s %-8s %5d %10.3f %10.4f %10.5f %10.6f %9.3f\n", code, names(code), mode, ...
          iters, pixel_rms (R0, t_start, points, pixels, K), pixel_rms (R, t, points, pixels, K), ...
          rot_err, norm (t - t_true), ms);
end
