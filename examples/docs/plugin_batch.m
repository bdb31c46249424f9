% Three frames refined in one call on every core.
matches = load('examples/data/matches.txt');
good = matches(mod(0:rows(matches) - 1, 4) != 3, :);
points = repmat({good(:, 1:3)'}, 1, 3);    % cells of F matrices, or 3 x N x F
pixels = repmat({good(:, 4:5)'}, 1, 3);
cameras = [0.25 -0.25 0.05  0.5 -0.1 -0.8  800 320 240] + [0; 0.01; 0.02] * [1 0 0 0 0 0 0 0 0];
[X, info] = camera_pose_refine_batch(cameras, points, pixels, [10 0 -1e4 0], 0, [], struct('threads', 0));
printf('%d frames, failed: %d; centre of frame 1: %.4f %.4f %.4f\n', rows(X), sum(![info.ok]), X(1, 4:6));
