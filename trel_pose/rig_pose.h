#ifndef TREL_POSE_RIG_POSE_H
#define TREL_POSE_RIG_POSE_H

#include <cstddef>
#include <vector>

#include "trel_pose/pose_arrays.h"
#include "trel_pose/pose_estimation.h"
#include "trel_pose/pose_refinement.h"
#include "trel_pose/rig.h"

namespace trel {

// What one camera of a rig saw at the result.
struct Rig_camera_summary {
  int points = 0;       // observations of this camera
  double rms = 0.0;     // root mean square reprojection error of those, pixels (NaN without points)
  int inliers = 0;      // of those, inliers
};

struct Rig_refine_result {
  // The rig pose: the rotation values of options.rotation_code (0: the
  // rotation vector of R_rig_to_world), then the rig centre in world.
  std::vector<double> x;
  // The summary of the joint problem, over every observation; the covariance
  // is that of the rig pose, (delta, t) as refine_pose's.
  Pose_summary summary;
  std::vector<Rig_camera_summary> cameras;  // one per rig camera
};

// Refines the pose of a rig from all its cameras' observations at once.
// points: N world points; observations: N pixels; cameras: N indices into
// rig.cameras, the camera that observed each pixel; start: the rig pose in the
// layout of options.rotation_code (one of the pixel codes 0, 1, 2, 3 with one
// repetition). The same Gauss-Newton, losses, weights (2 per observation),
// inliers and honest covariance as refine_pose, each pixel through its own
// camera's model. Throws exception_l, naming the cause, on malformed input: a
// camera index outside the rig, fewer than 4 observations, a start that is
// not finite, a non-finite start cost; nothing is changed.
Rig_refine_result refine_rig_pose(const Rig& rig, const Points_view& points, const Pixels_view& observations,
                                  const std::vector<int>& cameras, const std::vector<double>& start,
                                  const Pose_refine_options& options = Pose_refine_options());

// The per-camera summary of observations seen by `cameras` (indices below
// camera_count), from their squared reprojection errors and inlier flags.
std::vector<Rig_camera_summary> rig_camera_summaries(std::size_t camera_count, const std::vector<int>& cameras,
                                                     const std::vector<double>& squared,
                                                     const std::vector<unsigned char>& inliers);

struct Rig_estimate_result {
  std::vector<double> x;                // rotation vector of R_rig_to_world, then the rig centre in world
  matrix<double> R;                     // 3 x 3, rig axes to world axes
  std::vector<double> centre;           // rig centre in world
  std::vector<unsigned char> inliers;   // one flag per observation, as estimate_pose's
  int num_inliers = 0;
  int iterations = 0;                   // samples drawn
  Pose_summary summary;                 // the final refinement's, covariance included
  std::vector<Rig_camera_summary> cameras;
};

// The pose of a rig among correspondences with outliers: samples of 3
// observations from any cameras solved by the generalized P3P (OpenGV's gp3p),
// scoring in pixels through each camera's model, local optimisation, then the
// robust refinement (refine_rig_pose), the inlier mask and the covariance;
// seeded and reproducible as estimate_pose. Every observation of one camera
// gives what estimate_pose gives for that camera. options.bearing is refused.
// Throws exception_l on: a camera index outside the rig, fewer than 4
// correspondences, non-finite values, all observations along one ray, no
// model with enough inliers.
Rig_estimate_result estimate_rig_pose(const Rig& rig, const Points_view& points, const Pixels_view& observations,
                                      const std::vector<int>& cameras,
                                      const Pose_estimate_options& options = Pose_estimate_options());

}  // namespace trel

#endif
