#ifndef CAMERA_POSE_REFINE_FRAMEWORK_REFINE_H
#define CAMERA_POSE_REFINE_FRAMEWORK_REFINE_H

#include <vector>

#include "trel_pose/pose_batch.h"
#include "trel_pose/pose_refinement.h"
#include "trel_tools/matrix.h"

namespace trel {

// The plug-in's own solve of one camera pose: Linear_taylor_solver over
// Camera_position_opt_func. The inputs, their checks (and messages), the
// options and the summary's pose fields are refine_pose's; the minimum is the
// same, the bits are the plug-in's.
//
// With Loss::squared: the analytic gradient function of the code (or, with
// options.finite_differences, central differences of the cost with
// pose_finite_difference_steps), the weights set on it and one optimise run
// under max_iters, min_x_step and min_y_step; the summary is the solver's.
//
// With a robust loss: iteratively reweighted Gauss-Newton. Point i's error e_i
// is the norm of its unweighted residual (first repetition for the hybrids);
// each step sets the weight of every equation of point i (all rows, all
// repetitions) to user weight * sqrt(rho'(e_i^2)) at the current point and
// runs one solver step. The cost compared is sum_i W_i rho(e_i^2), W_i the sum
// of the squared user weights of the point's equations divided by the rows per
// point (1 for unit weights and one repetition, so that the squared loss gives
// the solver's error). The best point by that cost is returned; max_iters,
// min_x_step (L1 change from the best point) and min_y_step (cost decrease)
// stop the run as they stop Solver::optimise. initial_error and final_error
// are that cost. The truncated loss starts graduated: while fewer than
// kPoseKernelGraduatedRows rows of points of non-zero weight lie within
// loss_scale, the step's weights are the Cauchy loss's at
// pose_graduated_scale (trel_pose/pose_kernel.h).
//
// Any number of threads may call it at once.
Pose_refine_result refine_pose_by_framework(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                                            const std::vector<double>& observations, const std::vector<double>& start,
                                            const Pose_refine_options& options);

// refine_pose_by_framework as the per-frame refiner of refine_poses.
Pose_frame_refiner framework_frame_refiner();

}  // namespace trel

#endif
