%CAMERA_POSE_REFINE_BATCH  Refine the poses of many cameras in one call, on every core.
%   X = CAMERA_POSE_REFINE_BATCH(CAMERAS, POINTS, OBSERVATIONS)
%   X = CAMERA_POSE_REFINE_BATCH(CAMERAS, POINTS, OBSERVATIONS, CRITERIA)
%   X = CAMERA_POSE_REFINE_BATCH(CAMERAS, POINTS, OBSERVATIONS, CRITERIA, ROTATION_TYPE)
%   X = CAMERA_POSE_REFINE_BATCH(CAMERAS, POINTS, OBSERVATIONS, CRITERIA, ROTATION_TYPE, WEIGHTS)
%   X = CAMERA_POSE_REFINE_BATCH(CAMERAS, POINTS, OBSERVATIONS, CRITERIA, ROTATION_TYPE, WEIGHTS, OPTIONS)
%   [X, INFO] = CAMERA_POSE_REFINE_BATCH(...)
%
%   Runs CAMERA_POSE_REFINE on F independent frames (the frames of a video, the
%   images of a collection) in one call, on a pool of worker threads. With the
%   default solver, frame f's result is, bit for bit, that of CAMERA_POSE_REFINE
%   on its inputs, whatever the number of threads. All inputs are real double
%   arrays. F may be 0: X is then 0 by NROT+3 and INFO 0 by 1.
%
%   Inputs
%   (1) CAMERAS: F by NROT+6 matrix, row f the CAMERA vector of CAMERA_POSE_REFINE
%       for frame f: [r1 r2 r3 (r4) t1 t2 t3 k11 k13 k23].
%   (2) POINTS: cell array of F matrices, POINTS{f} 3 by N_f; or, when every
%       frame has the same N, a 3 by N by F array.
%   (3) OBSERVATIONS: cell array of F matrices, OBSERVATIONS{f} ROWS by N_f (2
%       pixel rows, 3 for the -bv types); or a ROWS by N by F array.
%   (4) CRITERIA, (5) ROTATION_TYPE (optional): as for CAMERA_POSE_REFINE, the
%       same for every frame.
%   (6) WEIGHTS (optional): [] for none; one vector of weights for every frame
%       (all frames of the same N); or a cell array of F vectors, each one
%       weight per equation of its frame as for CAMERA_POSE_REFINE, or [].
%       Weights that do not fit their frame (another length, NaN, Inf or a
%       negative value, not a double vector) fail that frame only.
%   (7) OPTIONS (optional): 1 by 1 struct with the fields of CAMERA_POSE_REFINE's
%       OPTIONS (loss, loss_scale, sigma, covariance, distortion, fisheye: one
%       lens for the batch, behind each frame's own k11, k13, k23) and
%         threads   worker threads, whole number from 0 to 4096; 0 (default)
%                   the number of cores
%         progress  true: print one updating line with the frames done, the
%                   frames per second and the time left (default false)
%         solver    'framework' (default): CAMERA_POSE_REFINE's own solver, its
%                   bits for every frame; 'kernel': the library's pose kernel,
%                   the same minimum to round-off (about 1e-10 of the values)
%                   in fewer operations, with its own stop rule (CRITERIA's
%                   max_iters counts; min_x_step and min_y_step are not used).
%                   A lens with distortion implies 'kernel' (the framework
%                   road takes the pinhole only: 'framework' with it is an
%                   error); the kernel reads each frame's points and
%                   observations where they lie, without a copy.
%
%   Outputs
%   X: F by NROT+3, row f the refined search vector of frame f; a row of NaN
%   for a frame that failed.
%   INFO (optional): F by 1 struct array; INFO(f) has the fields
%     ok        true when frame f was refined
%     error     why it was not ('' when it was)
%   then the fields of CAMERA_POSE_REFINE's INFO (iterations, initial_error,
%   final_error, stop_reason, returned_iteration, initial_rms, final_rms, loss,
%   loss_scale, inliers, covariance, covariance_rank, condition_number,
%   nothing_to_fit).
%
%   Errors
%   A frame with a NaN or Inf value, weights that do not fit, or whose solve
%   fails, does not stop the others: it is reported in INFO(f) and its row of
%   X is NaN. Anything wrong for the whole call (number of inputs or outputs,
%   class or size of an input or of one frame's matrices, the rotation type,
%   CRITERIA, OPTIONS, a max_iters below 0) raises one error with the
%   identifier 'Mex:exception' and returns nothing.
%
%   Ctrl-C: the worker threads stop taking new frames, finish the ones they
%   are refining and are joined; the call then raises an error and Octave
%   handles the interrupt. No thread outlives the call.
%
%   Example
%     % F frames of N points each: P 3 by N by F, uv 2 by N by F
%     cams = [rotvecs, centres, repmat([800 320 240], F, 1)];
%     [X, info] = camera_pose_refine_batch(cams, P, uv, [20 1e-9 -1e4 0], 0, [], ...
%                                          struct('progress', true));
%     failed = find(![info.ok]);
