%CAMERA_POSE_REFINE  Refine a calibrated camera's rotation and position.
%   X = CAMERA_POSE_REFINE(CAMERA, POINTS, OBSERVATIONS)
%   X = CAMERA_POSE_REFINE(CAMERA, POINTS, OBSERVATIONS, CRITERIA)
%   X = CAMERA_POSE_REFINE(CAMERA, POINTS, OBSERVATIONS, CRITERIA, ROTATION_TYPE)
%   X = CAMERA_POSE_REFINE(CAMERA, POINTS, OBSERVATIONS, CRITERIA, ROTATION_TYPE, WEIGHTS)
%   X = CAMERA_POSE_REFINE(CAMERA, POINTS, OBSERVATIONS, CRITERIA, ROTATION_TYPE, WEIGHTS, OPTIONS)
%   [X, INFO] = CAMERA_POSE_REFINE(...)
%
%   Refines the pose of a pinhole camera by iterated linearised least squares
%   (Gauss-Newton, SVD solve) on the reprojection residuals of known 3-D points,
%   and returns the refined search vector. All inputs are real double arrays.
%
%   Inputs
%   (1) CAMERA: vector (row or column) of NROT+6 values
%         [r1 r2 r3 (r4) t1 t2 t3 k11 k13 k23]
%       The first NROT+3 values are the search vector: the rotation values in
%       the parameterisation of ROTATION_TYPE, then the camera centre t in world
%       coordinates. k11 is the focal length in pixels (both axes), (k13, k23)
%       the principal point; there is no skew. A world point X is at
%       R' * (X - t) in the camera frame, R rotating camera axes to world axes.
%   (2) POINTS: 3 by N matrix of 3-D world points, one point per column, N >= 1.
%   (3) OBSERVATIONS: 2 by N matrix of pixels (u; v), one column per point.
%       For the -bv types, 3 by N: each point in the camera frame,
%       R' * (X - t), that is its bearing vector scaled by the point's depth,
%       NOT a unit vector: the residuals compare camera-frame coordinates, so
%       unit bearing vectors give a wrong pose. K must then be the identity
%       (k11 = 1, k13 = k23 = 0).
%   (4) CRITERIA (optional): [max_iters min_x_step min_y_step use_finite_difference]
%       max_iters is truncated to an integer, 0 or more; the solver stops after
%       max_iters steps, when a step moves the search vector by less than
%       min_x_step (L1 norm), or when the error falls by less than min_y_step.
%       The error is the weighted sum of squares
%       sum((w .* (predicted - observed)).^2), the quantity each step
%       minimises; the best vector seen is returned, the step that met a stop
%       rule included when it is the best.
%       Any use_finite_difference other than 0 estimates the Jacobian by
%       central differences (steps of 6e-6 times each value's size, positions
%       at least the mean point distance) instead of the analytic gradients.
%       Default: [10 0 -10000 0].
%   (5) ROTATION_TYPE (optional): scalar code, truncated toward zero. Default 0.
%         code  type        rotation values              NROT  rows per point
%           0   aau         rotation vector (axis*angle)   3    2
%           1   aan         unit axis x,y,z, then angle    4    2
%           2   qu          quaternion x,y,z,w             4    2
%           3   qn          normalised quaternion x,y,z,w  4    2
%          10   aau-bv      rotation vector                3    3 (bearing vectors)
%          11   aan-bv      axis, then angle               4    3 (bearing vectors)
%          12   qu-bv       quaternion x,y,z,w             4    3 (bearing vectors)
%          -1   qu,aau,aan  quaternion (hybrid)            4    2, repeated 3 times
%          -2   aau,qu,aan  rotation vector (hybrid)       3    2, repeated 3 times
%          -3   aan,qu,aau  axis, then angle (hybrid)      4    2, repeated 3 times
%       Angles are in radians; quaternions have the scalar last. The identity
%       start is [0 0 0] or [0 0 0 1]; an angle-axis vector at angle 0 can turn
%       only about its given axis in the first step, so start codes 1 and -3 at
%       a small non-zero angle. A hybrid type
%       searches in its first parameterisation and stacks the equations of all
%       three, so it has 3 times as many equations.
%   (6) WEIGHTS (optional): vector of one weight per equation, in the order
%       point 1 (u, v[, w]), point 2, ... and, for the hybrid types, that block
%       once per parameterisation (6*N values). Default: all 1.
%   (7) OPTIONS (optional): 1 by 1 struct; each field is optional, any other
%       field is an error. Inputs 4 to 6 cannot be skipped or given as [];
%       to pass OPTIONS alone give their defaults:
%         camera_pose_refine(CAMERA, POINTS, OBS, [10 0 -10000 0], 0, ...
%                            ones(1, ROWS*N*REPS), OPTIONS)
%       with ROWS the rows per point and REPS 3 for the hybrid types, else 1.
%       Without OPTIONS (or with struct()) the call is the plain least squares.
%         loss        'squared' (default), 'huber', 'cauchy', 'soft_l1' or
%                     'truncated': the loss rho(s) of each point's squared
%                     reprojection error s = e^2 (e the norm of the point's
%                     residual), with scale c = loss_scale:
%                       squared    s
%                       huber      s for e <= c, 2*c*e - c^2 beyond
%                       cauchy     c^2 * log(1 + s/c^2)
%                       soft_l1    2*c^2 * (sqrt(1 + s/c^2) - 1)
%                       truncated  min(s, c^2)
%                     A robust loss is minimised by iteratively reweighted
%                     Gauss-Newton: each step weighs every equation of a point
%                     by its weight in WEIGHTS times sqrt(rho'(e^2)) at the
%                     current pose. CRITERIA then apply to the robust cost.
%         loss_scale  finite number > 0, default 1: pixels, or camera-frame
%                     units for the -bv types. A point whose error at X is
%                     below it is an inlier.
%         sigma       finite number >= 0, default 0: standard deviation of one
%                     observation component, when known. 0 estimates it from
%                     the residuals at X (weighted sum of squares / (m - 6),
%                     m the equations of non-zero weight).
%         covariance  true (default) or false (logical, or 0 or 1): compute
%                     INFO.covariance. It is computed only when INFO is
%                     requested, so a call with one output costs no more.
%         distortion  OpenCV's lens coefficients in OpenCV's order, a vector
%                     of 4, 5 or 8: [k1 k2 p1 p2 (k3 (k4 k5 k6))], as
%                     calibrateCamera gives them; with fisheye, the 4 of
%                     OpenCV's fisheye model [k1 k2 k3 k4]. Default [] (a
%                     pinhole). OBSERVATIONS are then the observed (distorted)
%                     pixels, and errors, loss_scale, inliers and covariance
%                     are in observed pixels. A camera with distortion is
%                     refined by the library's pose kernel (the same minimum
%                     as the pinhole road's to round-off, its own stop rule:
%                     max_iters counts, min_x_step and min_y_step are not
%                     used); coefficients all 0 take the pinhole road.
%         fisheye     true or false (default): OpenCV's fisheye (equidistant)
%                     model.
%
%   Output
%   X: 1 by NROT+3 row, the refined rotation values and camera centre in the
%   same parameterisation as CAMERA (not normalised). The intrinsics are not
%   returned. Called with no output, X becomes ans.
%   INFO (optional): struct summarising the solve, with fields
%     iterations          steps run
%     initial_error       weighted sum of squares at the start
%     final_error         weighted sum of squares at X
%     stop_reason         'max_iters', 'min_x_step' or 'min_y_step'
%     returned_iteration  steps taken to reach X (0: X is the start)
%     initial_rms         root mean square over the points of each point's
%                         reprojection error (the norm of its unweighted
%                         residual) at the start: pixels, or camera-frame
%                         units for the -bv types
%     final_rms           the same at X
%     loss                name of the loss minimised ('squared' by default)
%     loss_scale          its scale
%     inliers             1 by N logical: true for a point of non-zero weight
%                         whose error at X is below loss_scale (with the
%                         squared loss, every point of non-zero weight)
%     covariance          6 by 6 covariance of the pose at X, or [] when it was
%                         turned off or is not reliable (normal matrix of rank
%                         below 6 or condition number above 1e10, or sigma 0
%                         and no more than 6 equations). Its parameters are
%                         (delta, t), whatever ROTATION_TYPE: delta the
%                         rotation-vector perturbation in world axes, the
%                         rotation being expm(skew(delta)) * R with R that of
%                         X, then t the camera centre in world coordinates.
%                         It is sigma^2 times the inverse of the Gauss-Newton
%                         normal matrix sum(J' * W * J) (J the Jacobian of a
%                         point's residual over (delta, t), W its squared
%                         weights times its robust weight), the hybrid types
%                         using their first block of equations only.
%     covariance_rank     numerical rank of the normal matrix (0 when not computed)
%     condition_number    its condition number (NaN when not computed)
%     nothing_to_fit      true when every weight is 0: nothing was fitted
%   With a robust loss, initial_error and final_error are the robust cost
%   sum over points of rho(e^2) (times the point's squared weights) instead.
%
%   Errors
%   Every failure (wrong number of inputs or outputs, wrong class or size of an
%   input, NaN or Inf in an input, no points, an invalid rotation type, a
%   max_iters below 0, a negative weight, an OPTIONS that is not a 1 by 1
%   struct, an unknown field of it or a field of the wrong class, size or value
%   (the message names the field), a start whose weighted sum of squares
%   overflows (weights or k11 of 1e300, say), a step whose Jacobian or residual
%   is not finite, any other solver failure) raises
%   one error with the identifier 'Mex:exception' whose message is the
%   plug-in's call trace; at most two outputs may be requested.
%
%   Example
%     K = [800 320 240];                       % k11, k13, k23
%     x = camera_pose_refine([0.1 0 0 0 0 -5 K], P, uv, [20 1e-9 -1e4 0], 0);
%     opts = struct('loss', 'huber', 'loss_scale', 2);
%     [x, info] = camera_pose_refine([0.1 0 0 0 0 -5 K], P, uv, ...
%                                    [20 1e-9 -1e4 0], 0, ones(1, 2*size(P, 2)), opts);
%     outliers = find(~info.inliers);
