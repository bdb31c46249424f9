% camera_pose_refine on the good matches of examples/data/matches.txt.
matches = load('examples/data/matches.txt');
good = matches(mod(0:rows(matches) - 1, 4) != 3, :);   % every fourth match of the file is wrong
points = good(:, 1:3)';   % 3 x N
pixels = good(:, 4:5)';   % 2 x N
% camera = [r1 r2 r3 (r4) t1 t2 t3 k11 k13 k23]: rotation values, camera centre, intrinsics
camera = [0.25 -0.25 0.05  0.5 -0.1 -0.8  800 320 240];
[x, info] = camera_pose_refine(camera, points, pixels, [20 1e-10 -1e4 0], 0);
printf('rotation vector %.4f %.4f %.4f, centre %.4f %.4f %.4f\n', x);
printf('%d steps, stopped by %s\n', info.iterations, info.stop_reason);
