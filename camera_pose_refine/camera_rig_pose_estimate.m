%CAMERA_RIG_POSE_ESTIMATE  Estimate a calibrated rig's pose from all its cameras' matches.
%   X = CAMERA_RIG_POSE_ESTIMATE(CAMERAS, POINTS, PIXELS, CAMERA_INDICES)
%   X = CAMERA_RIG_POSE_ESTIMATE(CAMERAS, POINTS, PIXELS, CAMERA_INDICES, OPTIONS)
%   [X, INLIERS] = CAMERA_RIG_POSE_ESTIMATE(...)
%   [X, INLIERS, INFO] = CAMERA_RIG_POSE_ESTIMATE(...)
%
%   Finds the rotation and position of a rig of calibrated cameras rigidly
%   coupled (a stereo pair, or more) from known 3-D points and the pixels
%   where its cameras saw them, when any share of the matches may be wrong: a
%   random search over samples of three matches from any cameras solved by the
%   generalized P3P, each candidate scored in pixels through each camera's own
%   lens, then a robust refinement of the rig pose on the final inliers. The
%   same inputs and seed give the same result; when every pixel comes from one
%   camera it gives what CAMERA_POSE_ESTIMATE gives for that camera.
%
%   Inputs
%   (1) CAMERAS: a cell array {camera1, camera2, ...} (or one struct) of
%       structs with the fields
%         K           3 by 3 intrinsic matrix [fx s cx; 0 fy cy; 0 0 1]
%         R           3 by 3 rotation turning the camera's axes into the rig's
%         t           the camera centre in the rig frame, 3 values
%         distortion  (optional) OpenCV's coefficients k1 k2 p1 p2 [k3 [k4 k5
%                     k6]], or k1..k4 with fisheye; [] or absent: none
%         fisheye     (optional) true for OpenCV's fisheye model
%       A rig point P is at R' * (P - t) in the camera.
%   (2) POINTS: 3 by N matrix of 3-D world points, one point per column, N >= 4.
%   (3) PIXELS: 2 by N matrix of pixels (u = column; v = row), one per point.
%   (4) CAMERA_INDICES: 1 by N camera numbers, from 1 to numel(CAMERAS): the
%       camera that saw each pixel.
%   (5) OPTIONS (optional): the struct of CAMERA_POSE_ESTIMATE (threshold,
%       confidence, min_iterations, max_iterations, seed, loss, loss_scale,
%       refine_iterations); the threshold is in pixels of each camera.
%
%   Outputs
%   X: 1 by 6 row: the rotation vector (axis times angle, radians) of R, which
%      rotates rig axes to world axes, then the rig centre in world
%      coordinates. Camera c sits at R * CAMERAS{c}.R with its centre at
%      X(4:6)' + R * CAMERAS{c}.t.
%   INLIERS: 1 by N logical, true for each match whose reprojection error at X
%      is below the threshold (and which lies in front of its camera).
%   INFO: struct with the fields of CAMERA_POSE_ESTIMATE's INFO (the covariance
%      over [rotation-vector perturbation in world axes, rig centre]), and
%      camera_points   1 by M: the pixels of each camera
%      camera_inliers  1 by M: of those, the inliers
%      camera_rms      1 by M: their RMS reprojection error, pixels
%
%   Errors (identifier "Mex:exception"; the message names the cause)
%   A wrong number of inputs or outputs, an input of the wrong class or size,
%   a camera whose R is not a rotation, non-finite values, a camera number
%   outside the rig, a bad option, fewer than 4 matches, all pixels along one
%   ray, degenerate points, and no model with enough inliers.
%
%   Example
%     left = struct ("K", K, "R", eye (3), "t", [0 0 0]);
%     right = struct ("K", K, "R", R_right, "t", [0.12 0 0], "distortion", d);
%     [x, inliers, info] = camera_rig_pose_estimate ({left, right}, points, ...
%                                                    pixels, cameras);
%
%   See also CAMERA_POSE_ESTIMATE, CAMERA_POSE_REFINE.
