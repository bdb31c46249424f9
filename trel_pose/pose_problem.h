#ifndef TREL_POSE_POSE_PROBLEM_H
#define TREL_POSE_POSE_PROBLEM_H

#include <cmath>
#include <cstddef>
#include <vector>

#include "trel_pose/pose_arrays.h"
#include "trel_pose/pose_kernel.h"
#include "trel_pose/pose_refinement.h"
#include "trel_tools/matrix.h"

namespace trel {

// The pieces of refine_pose that another refiner of the same problem (the
// plug-in's framework road) shares, so that it checks the same inputs with the
// same messages and reports the same summary fields.

// The sizes of one problem.
struct Pose_layout {
  int nrot = 3;
  std::size_t rows = 2;
  std::size_t reps = 1;
  std::size_t npts = 0;
  std::size_t block = 0;    // rows * npts: one repetition
  std::size_t num_eqs = 0;  // block * reps
};

// User weight k; an empty list weighs every equation 1.
inline double pose_user_weight(const std::vector<double>& weights, std::size_t k) {
  return weights.empty() ? 1.0 : weights[k];
}

// Root mean square of the points' errors from their squares.
inline double pose_rms_of(const std::vector<double>& squared) {
  double sum = 0.0;
  for (double s : squared) sum += s;
  return std::sqrt(sum / static_cast<double>(squared.size()));
}

// A 3 x 3 matrix into a row-major array.
inline void pose_to_array(const matrix<double>& m, double out[9]) {
  for (unsigned r = 0; r < 3; ++r)
    for (unsigned c = 0; c < 3; ++c) out[3 * r + c] = m[r][c];
}

// One problem's data as the kernel and the summary read them: the points, the
// observations of one repetition (npts * rows values), the cameras (one, or a
// rig's) and the camera of each point (nullptr: camera 0).
struct Pose_scene {
  Points_view points;
  const double* observations = nullptr;
  std::vector<Pose_kernel_camera<double>> cameras;
  const int* camera_of_point = nullptr;
};

// The checks of the data every pose refinement shares (options, points,
// start, observations, weights), with refine_pose's messages; the layout of
// options.rotation_code for these sizes.
Pose_layout check_pose_data(const Points_view& points, const Values_view& observations,
                            const std::vector<double>& start, const Pose_refine_options& options);

// Refines the checked scene from start on the kernel and fills the summary
// (refine_pose's steps after its checks).
Pose_refine_result refine_pose_scene(const Pose_scene& scene, const std::vector<double>& start,
                                     const Pose_refine_options& options, const Pose_layout& l,
                                     Pose_kernel<double>& kernel);

// refine_pose's checks of its inputs; throws exception_l with its messages.
Pose_layout check_pose_inputs(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                              const std::vector<double>& observations, const std::vector<double>& start,
                              const Pose_refine_options& options);

// W_i: the squared user weights of point i's equations over the rows per point.
std::vector<double> pose_point_weights(const Pose_refine_options& options, const Pose_layout& l);

// The rotation (camera to world) of the search vector x of a rotation code.
matrix<double> pose_rotation_of(const std::vector<double>& x, int code);

// rms, loss, inliers, the points in front and (when options.covariance) the
// covariance at the result (R_cam_to_world row-major, centre_in_world), from
// the points' squared errors and point weights there.
void finish_pose_summary(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                         const std::vector<double>& observations, const double* R_cam_to_world,
                         const double* centre_in_world, const Pose_layout& l, const Pose_refine_options& options,
                         const std::vector<double>& squared, const std::vector<double>& point_weight,
                         Pose_summary& summary);

}  // namespace trel

#endif
