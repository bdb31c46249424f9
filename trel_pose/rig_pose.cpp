#include "trel_pose/rig_pose.h"

#include <cmath>
#include <limits>

#include "trel_pose/pose_codes.h"
#include "trel_pose/pose_problem.h"
#include "trel_tools/exception_l.h"

namespace trel {

namespace {

// The rig's cameras and the observations' camera indices, checked.
void check_rig_inputs(const Rig& rig, const Points_view& points, const Pixels_view& observations,
                      const std::vector<int>& cameras, int rotation_code) {
  TREL_CHECK(!rig.cameras.empty(), "the rig has no cameras");
  const std::size_t n = points.size();
  TREL_CHECK(observations.size() == n,
             "observations should hold one pixel per point (" << n << "), instead it held " << observations.size());
  TREL_CHECK(cameras.size() == n,
             "cameras should hold one camera index per point (" << n << "), instead it held " << cameras.size());
  const int count = static_cast<int>(rig.cameras.size());
  for (std::size_t i = 0; i < n; ++i)
    TREL_CHECK(cameras[i] >= 0 && cameras[i] < count, "observation " << i << " names camera " << cameras[i]
                                                                      << ", outside the rig's cameras 0 to "
                                                                      << count - 1);
  TREL_CHECK(n >= static_cast<std::size_t>(kPoseEstimateMinPoints),
             "a rig pose needs at least " << kPoseEstimateMinPoints << " observations, instead " << n
                                          << " were passed");
  TREL_CHECK(camera_rotation_type::observation_rows(rotation_code) == 2 &&
                 camera_rotation_type::repetitions(rotation_code) == 1,
             "refine_rig_pose takes the pixel rotation codes (0, 1, 2, 3), instead got " << rotation_code);
  for (std::size_t c = 0; c < rig.cameras.size(); ++c) {
    const Rig_camera& camera = rig.cameras[c];
    bool finite = std::isfinite(camera.model.pinhole.fx) && std::isfinite(camera.model.pinhole.fy) &&
                  std::isfinite(camera.model.pinhole.cx) && std::isfinite(camera.model.pinhole.cy) &&
                  std::isfinite(camera.model.pinhole.skew);
    for (double v : camera.model.lens.k) finite = finite && std::isfinite(v);
    for (double v : camera.R_cam_to_rig) finite = finite && std::isfinite(v);
    for (double v : camera.centre_in_rig) finite = finite && std::isfinite(v);
    TREL_CHECK(finite, "rig camera " << c << " should hold finite numbers only");
    TREL_CHECK(camera.model.pinhole.fx != 0.0 && camera.model.pinhole.fy != 0.0,
               "rig camera " << c << "'s focal lengths should not be 0");
  }
}

Pose_scene rig_scene(const Rig& rig, const Points_view& points, const Pixels_view& observations,
                     const std::vector<int>& cameras) {
  Pose_scene scene;
  scene.points = points;
  scene.observations = observations.data;
  scene.camera_of_point = cameras.data();
  scene.cameras.resize(rig.cameras.size());
  for (std::size_t c = 0; c < rig.cameras.size(); ++c) {
    scene.cameras[c].model = rig.cameras[c].model;
    std::copy(rig.cameras[c].R_cam_to_rig, rig.cameras[c].R_cam_to_rig + 9, scene.cameras[c].R_cam_to_rig);
    std::copy(rig.cameras[c].centre_in_rig, rig.cameras[c].centre_in_rig + 3, scene.cameras[c].centre_in_rig);
  }
  return scene;
}

}  // namespace

std::vector<Rig_camera_summary> rig_camera_summaries(std::size_t camera_count, const std::vector<int>& cameras,
                                                     const std::vector<double>& squared,
                                                     const std::vector<unsigned char>& inliers) {
  std::vector<Rig_camera_summary> out(camera_count);
  std::vector<double> sums(camera_count, 0.0);
  for (std::size_t i = 0; i < cameras.size(); ++i) {
    const std::size_t c = static_cast<std::size_t>(cameras[i]);
    ++out[c].points;
    sums[c] += squared[i];
    if (i < inliers.size() && inliers[i]) ++out[c].inliers;
  }
  for (std::size_t c = 0; c < camera_count; ++c)
    out[c].rms = out[c].points > 0 ? std::sqrt(sums[c] / out[c].points) : std::numeric_limits<double>::quiet_NaN();
  return out;
}

Rig_refine_result refine_rig_pose(const Rig& rig, const Points_view& points, const Pixels_view& observations,
                                  const std::vector<int>& cameras, const std::vector<double>& start,
                                  const Pose_refine_options& options) {
  options.check();
  check_rig_inputs(rig, points, observations, cameras, options.rotation_code);
  const Pose_layout l =
      check_pose_data(points, Values_view(observations.data, 2 * observations.size()), start, options);
  Pose_kernel<double> kernel;
  Pose_refine_result refined = refine_pose_scene(rig_scene(rig, points, observations, cameras), start, options, l, kernel);
  Rig_refine_result result;
  result.x = std::move(refined.x);
  result.summary = std::move(refined.summary);
  result.cameras = rig_camera_summaries(rig.cameras.size(), cameras, kernel.squared_errors(), result.summary.inliers);
  return result;
}

}  // namespace trel
