function s = pose_refine_scene (code, npts, seed, pixel_noise)
  % A seeded synthetic scene for camera_pose_refine with rotation code CODE:
  % NPTS world points in front of a camera with a known pose, their exact (or,
  % with PIXEL_NOISE > 0, noisy) observations, and a perturbed starting vector.
  %   s.points     3 x NPTS world points
  %   s.obs        observations for CODE: 2 x NPTS pixels, or for the bearing
  %                vector codes 10, 11, 12 the 3 x NPTS camera-frame coordinates
  %   s.camera0    perturbed input 1 (rotation values, t, k11, k13, k23)
  %   s.x_true     exact search vector, s.R_true, s.t_true
  if nargin < 4
    pixel_noise = 0;
  end
  rand ("state", seed);
  randn ("state", seed);
  bearing = any (code == [10, 11, 12]);
  if bearing
    intrinsics = [1, 0, 0];
  else
    intrinsics = [800, 320, 240];
  end

  r_true = [0.2; -0.3; 0.25];
  s.R_true = pose_refine_rot_mat (r_true, 0);
  s.t_true = [0.4; -0.3; -6];
  % Points drawn in the camera frame (depth 4 to 8) and carried into the world:
  % X = R c + t, since the camera sees a world point X at R' (X - t).
  cam = [2 * rand(2, npts) - 1; 4 + 4 * rand(1, npts)];
  s.points = s.R_true * cam + s.t_true;
  if bearing
    s.obs = cam;
  else
    s.obs = intrinsics(1) * cam(1:2, :) ./ cam(3, :) + intrinsics(2:3)';
    s.obs = s.obs + pixel_noise * randn (size (s.obs));
  end

  r_start = r_true + [0.04; -0.03; 0.05];
  t_start = s.t_true + [0.15; -0.1; 0.2];
  s.x_true = [rotation_values(r_true, code); s.t_true]';
  s.camera0 = [rotation_values(r_start, code); t_start; intrinsics']';
  s.intrinsics = intrinsics;
end

function v = rotation_values (r, code)
  theta = norm (r);
  a = r / theta;
  switch code
    case {0, 10, -2}
      v = r;
    case {1, 11, -3}
      v = [a; theta];
    otherwise
      v = [a * sin(theta / 2); cos(theta / 2)];
  end
end
