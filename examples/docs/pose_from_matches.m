matches = load('examples/data/matches.txt');  % X Y Z u v per line
K = [800 0 320; 0 800 240; 0 0 1];
[x, inliers, info] = camera_pose_estimate(K, matches(:, 1:3)', matches(:, 4:5)');
printf('rotation vector %.3f %.3f %.3f, centre %.3f %.3f %.3f\n', x);
printf('%d of %d matches are inliers, rms %.2f px\n', sum(inliers), rows(matches), info.final_rms);
