#ifndef TREL_POSE_POSE_SUMMARY_H
#define TREL_POSE_POSE_SUMMARY_H

#include <limits>
#include <string>
#include <vector>

#include "trel_opt/solver.h"

namespace trel {

// What a pose job did: the solver's fields (iterations, errors, the stop
// reason, the returned iteration) and the pose's own. With a robust loss,
// initial_error and final_error are the robust cost instead of the sum of
// squares.
struct Pose_summary : Solve_summary {
  // Root mean square over the points of each point's reprojection error (the
  // norm of its unweighted residual; pixels, or camera-frame units for the
  // bearing-vector codes), at the start and at the returned point.
  double initial_rms = std::numeric_limits<double>::quiet_NaN();
  double final_rms = std::numeric_limits<double>::quiet_NaN();
  std::string loss;  // loss_name of the loss minimised; empty when none was named
  double loss_scale = std::numeric_limits<double>::quiet_NaN();
  // One flag per point: 1 for an inlier (see refine_pose), 0 otherwise.
  std::vector<unsigned char> inliers;
  // Pose covariance, 6 x 6 row-major over (delta, t): delta the rotation-vector
  // perturbation of R in world axes, R = exp([delta]x) R_result, and t the
  // camera centre in world. Empty when it was not asked for or not reliable.
  std::vector<double> covariance;
  // true when every equation had weight 0: nothing was fitted, and the kernel
  // path returns the start without a step.
  bool nothing_to_fit = false;
  // Rank and condition number of the normal matrix after scaling it to a unit
  // diagonal (so that neither depends on the units of the scene or the pixels).
  int covariance_rank = 0;  // numerical rank; 0 when not computed
  double condition_number = std::numeric_limits<double>::quiet_NaN();
  // Why covariance is empty although it was asked for; empty when it is given.
  std::string covariance_reason;
  // Points of non-zero weight in front of the camera at the result (a depth
  // above 1e-10 of their coordinates' size, kDepthResolution: below it the
  // sign is rounding), and whether that is enough for the pose to face its points: at
  // least one and at least half of the points of non-zero weight. A pose that
  // does not face its points has no inliers and no covariance.
  int points_in_front = 0;
  bool faces_points = false;
  // Observed pixels the camera's lens model cannot undistort (estimate_pose):
  // left out of the search and never inliers.
  int undistort_failures = 0;
};

}  // namespace trel

#endif
