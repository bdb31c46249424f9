%CAMERA_POSE_ESTIMATE  Estimate a calibrated camera's pose from matches with outliers.
%   X = CAMERA_POSE_ESTIMATE(K, POINTS, PIXELS)
%   X = CAMERA_POSE_ESTIMATE(K, POINTS, PIXELS, OPTIONS)
%   [X, INLIERS] = CAMERA_POSE_ESTIMATE(...)
%   [X, INLIERS, INFO] = CAMERA_POSE_ESTIMATE(...)
%
%   Finds the rotation and position of a pinhole camera from known 3-D points
%   and their observed pixels when any share of the matches may be wrong: a
%   random search over samples of three matches solved by P3P, each new best
%   model refitted by UPnP on its inliers, then a robust refinement (the one of
%   CAMERA_POSE_REFINE, rotation type 0) on the final inliers. All inputs are
%   real double arrays. The same inputs and seed give the same result.
%
%   Inputs
%   (1) K: 3 by 3 intrinsic matrix [fx s cx; 0 fy cy; 0 0 1], finite and
%       invertible.
%   (2) POINTS: 3 by N matrix of 3-D world points, one point per column, N >= 4.
%   (3) PIXELS: 2 by N matrix of pixels (u = column; v = row), one column per
%       point.
%   (4) OPTIONS (optional): struct with any of the fields
%         threshold       largest reprojection error of an inlier, pixels
%                         (default 4)
%         confidence      probability, in (0, 1), that the search draws at
%                         least one sample of inliers only; sets the number of
%                         samples from the best inlier share (default 0.99)
%         min_iterations  samples drawn at least, whole number (default 0)
%         max_iterations  samples drawn at most, whole number (default 10000)
%         seed            of the random search, whole number 0 to 2^32-1
%                         (default 0)
%         loss            of the final refinement: 'squared', 'huber',
%                         'cauchy', 'soft_l1' or 'truncated' (default 'cauchy')
%         loss_scale      its scale in pixels; 0 takes the threshold (default 0)
%         refine_iterations  steps of the final refinement at most, whole
%                         number, 1 or more (default 10)
%         distortion      OpenCV's lens coefficients, [k1 k2 p1 p2 (k3 (k4 k5
%                         k6))] (4, 5 or 8) or with fisheye the 4 of OpenCV's
%                         fisheye model; default [] (a pinhole). PIXELS are
%                         the observed ones: the samples are solved on the
%                         undistorted pixels, the scoring and the refinement
%                         run in observed pixels, so that threshold stays in
%                         pixels; a pixel the lens cannot undistort is no
%                         inlier
%         fisheye         true or false (default): OpenCV's fisheye model
%       Any other field is an error.
%
%   Outputs
%   X: 1 by 6 row [r1 r2 r3 t1 t2 t3]: the rotation vector (axis times angle,
%      radians) of R, which rotates camera axes to world axes, then the camera
%      centre t in world coordinates. A world point P is at R' * (P - t) in the
%      camera frame. This is CAMERA_POSE_REFINE's search vector for rotation
%      type 0: [X, K(1,1), K(1,3), K(2,3)] is its input 1.
%   INLIERS: 1 by N logical, true for each match whose reprojection error at X
%      is below the threshold (and which lies in front of the camera).
%   INFO: struct with the fields
%      iterations         samples drawn by the random search
%      num_inliers        sum(INLIERS)
%      refine_iterations  steps of the final refinement
%      stop_reason        why it stopped: 'max_iters', 'min_x_step' or 'min_y_step'
%      initial_rms        RMS reprojection error (pixels) over the refined
%      final_rms          matches, at the refinement's start and at X
%      loss, loss_scale   the refinement's loss and its scale
%      covariance         6 by 6 over [rotation-vector perturbation in world
%                         axes, camera centre], or [] when not reliable
%      covariance_rank    numerical rank of the normal matrix
%      condition_number   of the normal matrix
%
%   Errors (identifier "Mex:exception"; the message names the cause)
%   A wrong number of inputs or outputs, an input of the wrong class or size,
%   non-finite values, a bad option, fewer than 4 points, degenerate input (K
%   not invertible, all points coincident or on one line, all pixels along one
%   ray), and no model with enough inliers: at least max(min(N, 6), N / 10)
%   are needed.
%
%   Example
%     K = [800 0 320; 0 800 240; 0 0 1];
%     [x, inliers, info] = camera_pose_estimate (K, points, pixels, ...
%                                                struct ("threshold", 3, "seed", 7));
%     R = rotation matrix of x(1:3); t = x(4:6)';
%
%   See also CAMERA_POSE_REFINE.
