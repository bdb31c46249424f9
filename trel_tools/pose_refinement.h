#ifndef TREL_TOOLS_POSE_REFINEMENT_H
#define TREL_TOOLS_POSE_REFINEMENT_H

#include <string>
#include <vector>

#include "trel_opt/robust_loss.h"
#include "trel_opt/solver.h"
#include "trel_tools/matrix.h"

namespace trel {

// How refine_pose fits a camera pose. The criteria and the rotation code are
// those of the camera_pose_refine plug-in (codes 0, 1, 2, 3, 10, 11, 12, -1,
// -2, -3; search vector = rotation values, then the camera centre in world).
struct Pose_refine_options {
  int rotation_code = 0;
  int max_iters = 10;
  float min_x_step = 0.0f;
  float min_y_step = -10000.0f;
  bool finite_differences = false;  // central differences instead of the analytic Jacobian
  // One weight per equation (observation rows x points x repetitions, in the
  // cost function's order); empty: every equation weighs 1. The robust weights
  // multiply these.
  std::vector<double> weights;
  Loss loss = Loss::squared;
  // The loss's scale: pixels for the pixel codes, camera-frame units for the
  // bearing-vector codes. A point whose reprojection error is below it is an
  // inlier. Must be finite and positive.
  double loss_scale = 1.0;
  // Standard deviation of one observation component when known; 0 estimates
  // the residual variance from the fit (chi-square over the degrees of freedom).
  double sigma = 0.0;
  bool covariance = true;  // compute the pose covariance after the solve
};

struct Pose_refine_result {
  std::vector<double> x;  // refined search vector, in the parameterisation of the code
  Solve_summary summary;
};

// Refines a camera pose. K: 3 x 3 intrinsics (the identity for the
// bearing-vector codes); points: N world points (X, Y, Z); observations: the
// target in the cost function's layout (N pixel pairs, or N camera-frame
// points for the bearing-vector codes; the hybrid codes take the N pixel
// pairs once); start: the search vector. Throws exception_l on bad input.
Pose_refine_result refine_pose(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                               const std::vector<double>& observations, const std::vector<double>& start,
                               const Pose_refine_options& options = Pose_refine_options());

}  // namespace trel

#endif
