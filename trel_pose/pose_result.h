#ifndef TREL_POSE_POSE_RESULT_H
#define TREL_POSE_POSE_RESULT_H

#include <vector>

#include "trel_pose/pose_problem.h"
#include "trel_pose/pose_summary.h"

namespace trel {

// What a pose refinement reports at its result: the inliers, the points in
// front and the honest covariance, for one camera or a rig.

// Each camera's pose in the world at the rig pose (R, t).
struct Posed_camera {
  double R_cam_to_world[9];
  double centre_in_world[3];
};
std::vector<Posed_camera> posed_cameras(const Pose_scene& scene, const double* R, const double* t);

// What the covariance needs besides the scene and the pose.
struct Covariance_input {
  const std::vector<double>* squared;  // the points' e_i^2 at the result
  const Pose_kernel<double>* kernel = nullptr;  // its last normal matrix, when it serves
  double final_cost = 0.0;  // the kernel's cost at the result
};

// rms, loss, inliers, the points in front and (when options.covariance) the
// covariance at the rig pose (R, t) (see refine_pose), from the points'
// squared errors and point weights there.
void finish_pose_scene_summary(const Pose_scene& scene, const double* R, const double* t, const Pose_layout& l,
                               const Pose_refine_options& options, const Covariance_input& in,
                               const std::vector<double>& point_weight, Pose_summary& summary);

// The covariance of a scene worked in units `scale` times larger, in the
// scene's units (its centre rows and columns times scale); one that under- or
// overflows there is dropped, with the reason.
void scale_pose_covariance(double scale, Pose_summary& summary);

}  // namespace trel

#endif
