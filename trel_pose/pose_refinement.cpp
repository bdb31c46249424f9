#include "trel_pose/pose_refinement.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <utility>

#include <Eigen/Core>
#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>

#include "trel_pose/camera_model.h"
#include "trel_pose/pose_codes.h"
#include "trel_pose/pose_problem.h"
#include "trel_pose/pose_result.h"
#include "trel_tools/exception_l.h"
#include "trel_tools/rotation.h"

namespace trel {

std::vector<double> pose_finite_difference_steps(const std::vector<double>& x, int nrot,
                                                 const std::vector<std::vector<double>>& points) {
  const std::size_t rot = static_cast<std::size_t>(nrot);
  double scene_scale = 0.0;  // mean distance of the points from the start centre
  if (x.size() == rot + 3 && !points.empty()) {
    for (const std::vector<double>& p : points)
      scene_scale += std::sqrt((p[0] - x[rot]) * (p[0] - x[rot]) + (p[1] - x[rot + 1]) * (p[1] - x[rot + 1]) +
                               (p[2] - x[rot + 2]) * (p[2] - x[rot + 2]));
    scene_scale /= static_cast<double>(points.size());
  }
  std::vector<double> steps(rot + 3, kFiniteDifferenceStep);
  for (std::size_t d = 0; d < steps.size() && d < x.size(); ++d) {
    double scale = std::max(1.0, std::fabs(x[d]));
    if (d >= rot) scale = std::max(scale, scene_scale);
    steps[d] *= scale;
  }
  return steps;
}

namespace {

bool all_finite(const std::vector<double>& v) {
  return std::all_of(v.begin(), v.end(), [](double d) { return std::isfinite(d); });
}

using Layout = Pose_layout;

// Largest rotation angle of a start, radians: beyond it a double no longer
// resolves a turn of the angle to a usable fraction of a degree.
constexpr double kMaxStartAngle = 1e6;

// The pixel codes project through K: its third row gives the depth and it
// must map rays to pixels one to one.
void check_projection(const matrix<double>& K) {
  double largest = 0.0, third = 0.0;
  for (unsigned r = 0; r < 3; ++r)
    for (unsigned c = 0; c < 3; ++c) {
      largest = std::max(largest, std::fabs(K[r][c]));
      if (r == 2) third = std::max(third, std::fabs(K[r][c]));
    }
  TREL_CHECK(largest > 0.0, "K is all zero: it projects no point to a pixel");
  TREL_CHECK(third > 0.0, "K's third row is zero: it gives no point a depth");
  check_camera_matrix_form(K);
  // Each row over its largest value: the same singularity, no under- or overflow.
  double k[9];
  for (unsigned r = 0; r < 3; ++r) {
    const double row = std::max({std::fabs(K[r][0]), std::fabs(K[r][1]), std::fabs(K[r][2])});
    for (unsigned c = 0; c < 3; ++c) k[3 * r + c] = row > 0.0 ? K[r][c] / row : 0.0;
  }
  const double det = k[0] * (k[4] * k[8] - k[5] * k[7]) - k[1] * (k[3] * k[8] - k[5] * k[6]) +
                     k[2] * (k[3] * k[7] - k[4] * k[6]);
  TREL_CHECK(det != 0.0, "K should be invertible, instead its determinant is 0");
}

// The start's rotation values must name a rotation the conversions can turn.
void check_start_rotation(const std::vector<double>& start, int code) {
  const double squared_axis = start[0] * start[0] + start[1] * start[1] + start[2] * start[2];
  switch (code) {
    case 2: case 3: case 12: case -1: {
      const double largest = std::max({std::fabs(start[0]), std::fabs(start[1]), std::fabs(start[2]),
                                       std::fabs(start[3])});
      TREL_CHECK(largest > 0.0,
                 "the start's rotation values should describe a rotation (a quaternion of length 0 does not)");
      return;
    }
    case 1: case 11: case -3:
      TREL_CHECK(squared_axis > kDegenerateAxisSquaredLength<double> || start[3] == 0.0,
                 "the start's angle-axis has an axis of length " << std::sqrt(squared_axis) << " with angle "
                                                                 << start[3] << ": it names no rotation");
      TREL_CHECK(std::fabs(start[3]) <= kMaxStartAngle, "the start's rotation angle "
                                                            << start[3] << " rad is too large: at most "
                                                            << kMaxStartAngle << " rad");
      return;
    default: {
      const double largest = std::max({std::fabs(start[0]), std::fabs(start[1]), std::fabs(start[2])});
      TREL_CHECK(largest <= kMaxStartAngle, "the start's rotation vector is too long (a component of "
                                                << largest << " rad): its angle should be at most "
                                                << kMaxStartAngle << " rad");
    }
  }
}

// The checks every refinement shares; the layout of the code for these sizes.
Layout check_data(const Points_view& points, const Values_view& observations, const std::vector<double>& start,
                  const Pose_refine_options& options) {
  options.check();
  const int code = options.rotation_code;
  Layout l;
  l.nrot = camera_rotation_type::num_rotation_values(code);
  l.rows = static_cast<std::size_t>(camera_rotation_type::observation_rows(code));
  l.reps = static_cast<std::size_t>(camera_rotation_type::repetitions(code));
  l.npts = points.size();
  l.block = l.rows * l.npts;
  l.num_eqs = l.block * l.reps;
  TREL_CHECK(l.npts > 0, "refine_pose needs at least one 3D point, instead 0 were passed");
  for (std::size_t i = 0; i < l.npts; ++i)
    TREL_CHECK(std::isfinite(points[i][0]) && std::isfinite(points[i][1]) && std::isfinite(points[i][2]),
               "point " << i << " should hold finite numbers only");
  TREL_CHECK(start.size() == static_cast<std::size_t>(l.nrot) + 3,
             "the start should hold " << l.nrot + 3 << " values for rotation type " << code << ", instead it had "
                                      << start.size());
  TREL_CHECK(all_finite(start), "the start should hold finite numbers only");
  check_start_rotation(start, code);
  TREL_CHECK(observations.size() == l.block,
             "observations should hold " << l.block << " values (" << l.rows << " per point for " << l.npts
                                         << " points), instead it had " << observations.size());
  TREL_CHECK(std::all_of(observations.begin(), observations.end(), [](double v) { return std::isfinite(v); }),
             "observations should hold finite numbers only");
  TREL_CHECK(l.rows != 3 || std::any_of(observations.begin(), observations.end(), [](double v) { return v != 0.0; }),
             "the observations are all zero: they put every point at the camera centre");
  TREL_CHECK(options.weights.empty() || options.weights.size() == l.num_eqs,
             "weights should be empty or hold one value per equation (" << l.num_eqs << "), instead it had "
                                                                         << options.weights.size());
  return l;
}

// The K overload's checks of K and the points' sizes, then the shared ones.
Layout check_inputs(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                    const std::vector<double>& observations, const std::vector<double>& start,
                    const Pose_refine_options& options, std::vector<double>& flat_points) {
  options.check();
  TREL_CHECK(!points.empty(), "refine_pose needs at least one 3D point, instead 0 were passed");
  check_camera_points_and_K(points, K);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      TREL_CHECK(std::isfinite(K[r][c]), "K should hold finite numbers only, instead element ("
                                             << r + 1 << "," << c + 1 << ") is " << K[r][c]);
  flat_points = flatten_rows(points, 3, "point");
  const Layout l = check_data(Points_view(flat_points), observations, start, options);
  if (l.rows == 2) check_projection(K);
  return l;
}

// The camera model overload's checks of the camera.
void check_camera(const Camera_model& camera) {
  const Pinhole_model<double>& k = camera.pinhole;
  TREL_CHECK(std::isfinite(k.fx) && std::isfinite(k.fy) && std::isfinite(k.cx) && std::isfinite(k.cy) &&
                 std::isfinite(k.skew),
             "the camera's intrinsics should be finite, instead fx " << k.fx << ", fy " << k.fy << ", cx " << k.cx
                                                                     << ", cy " << k.cy << ", skew " << k.skew);
  TREL_CHECK(k.fx != 0.0 && k.fy != 0.0,
             "the camera's focal lengths should not be 0, instead fx is " << k.fx << " and fy " << k.fy);
  for (int i = 0; i < 8; ++i)
    TREL_CHECK(std::isfinite(camera.lens.k[i]), "distortion coefficient " << i << " is not finite: " << camera.lens.k[i]);
}

matrix<double> rotation_of(const std::vector<double>& x, int code) {
  const std::vector<double> r(x.begin(), x.begin() + camera_rotation_type::num_rotation_values(code));
  switch (code) {
    case 2: case 3: case 12: case -1: return quaternion_to_rot_mat(r);
    case 1: case 11: case -3: return ang_axis_rad_to_rot_mat(r);
    default: return rot_vec_rad_to_rot_mat(r);
  }
}

// Predicted observation of X and its (delta, t) Jacobian, 2 or 3 rows, from
// the camera model (K row-major 3 x 3, the pinhole's form).
void point_jacobian(const double* K, const double* X, const double* R_cam_to_world, const double* centre_in_world,
                    bool bearing, double predicted[3], double jacobian[3][6]) {
  const Pinhole_model<double> lens = pinhole_from(K);
  if (bearing) world_point_rows<double, 3>(lens, R_cam_to_world, centre_in_world, X, predicted, jacobian);
  else world_point_rows<double, 2>(lens, R_cam_to_world, centre_in_world, X, predicted, jacobian);
}

}  // namespace

std::vector<double> pose_point_jacobian(const matrix<double>& K, const std::vector<double>& point,
                                        const matrix<double>& R, const std::vector<double>& centre, bool bearing) {
  TREL_CHECK(point.size() == 3 && centre.size() == 3, "the point and the centre should hold 3 values each");
  TREL_CHECK(K.get_dim1() == 3 && K.get_dim2() == 3 && R.get_dim1() == 3 && R.get_dim2() == 3,
             "K and R should be 3 by 3");
  double k[9], r9[9];
  pose_to_array(K, k);
  pose_to_array(R, r9);
  double predicted[3];
  double jacobian[3][6];
  point_jacobian(k, point.data(), r9, centre.data(), bearing, predicted, jacobian);
  const int rows = bearing ? 3 : 2;
  std::vector<double> out;
  for (int r = 0; r < rows; ++r) out.insert(out.end(), jacobian[r], jacobian[r] + 6);
  return out;
}

namespace {

// W_i: the squared user weights of the point's equations over the rows per point.
std::vector<double> point_weights(const Pose_refine_options& options, const Layout& l) {
  std::vector<double> point_weight(l.npts, 0.0);
  for (std::size_t j = 0; j < l.reps; ++j)
    for (std::size_t i = 0; i < l.npts; ++i)
      for (std::size_t r = 0; r < l.rows; ++r) {
        const double u = pose_user_weight(options.weights, j * l.block + i * l.rows + r);
        point_weight[i] += u * u / static_cast<double>(l.rows);
      }
  return point_weight;
}

// The kernel's weights. Row weight: the squared user weights of the row's
// repetitions, summed; point weight W_i as point_weights gives it. Both
// relative to the largest user weight, unit, so that neither 1e-162 nor 1e154
// under- or overflows when squared; the costs come back times unit^2.
struct Kernel_weights {
  double unit = 1.0;
  std::vector<double> rows;    // empty: every row weighs 1
  std::vector<double> points;
};

Kernel_weights kernel_weights(const Pose_refine_options& options, const Layout& l) {
  Kernel_weights w;
  double largest = 0.0;
  for (double u : options.weights) largest = std::max(largest, std::fabs(u));
  if (largest > 0.0) w.unit = largest;
  if (!options.weights.empty() || l.reps > 1) w.rows.assign(l.block, 0.0);
  w.points.assign(l.npts, 0.0);
  for (std::size_t j = 0; j < l.reps; ++j)
    for (std::size_t e = 0; e < l.block; ++e) {
      const double u = pose_user_weight(options.weights, j * l.block + e) / w.unit;
      if (!w.rows.empty()) w.rows[e] += u * u;
      w.points[e / l.rows] += u * u / static_cast<double>(l.rows);
    }
  return w;
}

// The world points, rig offsets and start centre of a pixel code divided by
// the points' largest coordinate when it lies beyond 1e100 or below 1e-100 (a
// scene in units of 1e-310 would underflow its differences); the pixels do not
// change, and the centre and its covariance are scaled back. scale 1: the
// input itself.
struct Scaled_scene {
  double scale = 1.0;
  std::vector<double> points;
  Pose_scene scene;
  double centre[3] = {0.0, 0.0, 0.0};
};

std::unique_ptr<Scaled_scene> scaled_scene(const Pose_scene& scene, const std::vector<double>& start,
                                           const Layout& l) {
  const double* c0 = &start[static_cast<std::size_t>(l.nrot)];
  double largest = 0.0;  // of the points only: a start far off does not set the units
  for (std::size_t i = 0; i < 3 * l.npts; ++i) largest = std::max(largest, std::fabs(scene.points.data[i]));
  if (l.rows != 2 || !(largest > 1e100 || (largest > 0.0 && largest < 1e-100))) return nullptr;
  auto scaled = std::make_unique<Scaled_scene>();
  scaled->scale = largest;
  scaled->points.assign(scene.points.data, scene.points.data + 3 * l.npts);
  for (double& v : scaled->points) v /= largest;
  scaled->scene = scene;
  scaled->scene.points = Points_view(scaled->points);
  for (Pose_kernel_camera<double>& camera : scaled->scene.cameras)
    for (double& v : camera.centre_in_rig) v /= largest;
  for (int k = 0; k < 3; ++k) scaled->centre[k] = c0[k] / largest;
  return scaled;
}

// The kernel's settings of the options.
Pose_kernel_settings<double> kernel_settings(const Pose_refine_options& options, bool bearing) {
  Pose_kernel_settings<double> settings;
  settings.max_iters = options.max_iters;
  settings.step_tolerance = options.step_tolerance;
  settings.cost_tolerance = options.cost_tolerance;
  settings.loss = options.loss;
  settings.loss_scale = options.loss_scale;
  settings.bearing = bearing;
  settings.central_differences = options.finite_differences;
  return settings;
}

// The summary's solver fields from the kernel's outcome, the costs in the
// weights' units (unit^2); refuses them when they overflow there.
void kernel_summary(const Pose_kernel_outcome<double>& outcome, double unit, const Layout& l,
                    Pose_summary& summary) {
  summary.iterations = outcome.iterations;
  summary.initial_error = outcome.initial_cost * unit * unit;
  summary.final_error = outcome.final_cost * unit * unit;
  TREL_CHECK(std::isfinite(summary.initial_error) && std::isfinite(summary.final_error),
             "the cost is not finite in the weights' units: the weighted errors overflow a double; scale the "
             "weights down");
  summary.stop_reason = outcome.stop_reason;
  summary.returned_iteration = outcome.returned_iteration;
  summary.nothing_to_fit = outcome.no_weight;
  summary.initial_rms = std::sqrt(outcome.initial_squared_sum / static_cast<double>(l.npts));
}

// The start's rotation, checked: finite and a rotation.
void start_rotation(const std::vector<double>& start, int code, double R0[9]) {
  pose_to_array(rotation_of(start, code), R0);
  TREL_CHECK(std::all_of(R0, R0 + 9, [](double v) { return std::isfinite(v); }),
             "the start's rotation values should describe a rotation (a quaternion of length 0 does not)");
  double orthogonality = 0.0;  // largest element of R0^T R0 - I
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b)
      orthogonality = std::max(orthogonality, std::fabs(R0[a] * R0[b] + R0[3 + a] * R0[3 + b] + R0[6 + a] * R0[6 + b] -
                                                        (a == b ? 1.0 : 0.0)));
  TREL_CHECK(orthogonality < 1e-6, "the start's rotation values give no rotation: R^T R differs from I by "
                                       << orthogonality);
}


Pose_refine_result refine_by_kernel(const Pose_scene& scene, const std::vector<double>& start,
                                    const Pose_refine_options& options, const Layout& l, Pose_kernel<double>& kernel) {
  const int code = options.rotation_code;
  double R0[9];
  start_rotation(start, code, R0);
  const Kernel_weights weights = kernel_weights(options, l);
  const std::unique_ptr<Scaled_scene> scaled = scaled_scene(scene, start, l);
  const Pose_scene& work = scaled ? scaled->scene : scene;
  const double scale = scaled ? scaled->scale : 1.0;
  const Pose_kernel_settings<double> settings = kernel_settings(options, l.rows == 3);
  const bool unit_points = options.weights.empty() && l.reps == 1;
  Pose_kernel_input<double> in;
  in.points = work.points.data;
  in.count = l.npts;
  in.observations = work.observations;
  in.row_weights = weights.rows.empty() ? nullptr : weights.rows.data();
  in.point_weights = unit_points ? nullptr : weights.points.data();
  in.cameras = work.cameras.data();
  in.camera_count = work.cameras.size();
  in.camera_of_point = work.camera_of_point;
  const Pose_kernel_outcome<double> outcome =
      kernel.refine(in, R0, scaled ? scaled->centre : &start[static_cast<std::size_t>(l.nrot)], settings);

  Pose_refine_result result;
  if (outcome.returned_iteration == 0) {
    result.x = start;  // the start itself, not its round trip through R
  } else {
    result.x = rotation_values_near(outcome.R, code, start);
    for (int c = 0; c < 3; ++c) result.x.push_back(outcome.centre[c] * scale);
  }
  TREL_CHECK(all_finite(result.x), "the refined pose is not finite in the scene's units: its centre overflows a "
                                   "double");
  kernel_summary(outcome, weights.unit, l, result.summary);
  const Covariance_input covariance{&kernel.squared_errors(), &kernel, outcome.final_cost};
  finish_pose_scene_summary(work, outcome.R, outcome.centre, l, options, covariance, weights.points, result.summary);
  scale_pose_covariance(scale, result.summary);
  return result;
}

// The scene of one camera.
Pose_scene camera_scene(const Camera_model& camera, const Points_view& points, const double* observations) {
  Pose_scene scene;
  scene.points = points;
  scene.observations = observations;
  scene.cameras.resize(1);
  scene.cameras[0].model = camera;
  return scene;
}

Camera_model pinhole_camera(const matrix<double>& K) {
  Camera_model camera;
  camera.pinhole = pinhole_from(K);
  return camera;
}

// The bearing-vector codes predict the camera-frame point itself, as the cost function does.
void check_bearing_K(const matrix<double>& K, const Layout& l) {
  if (l.rows == 3)
    TREL_CHECK(std::fabs(K[0][0] - 1.0) <= 1e-4 && std::fabs(K[1][1] - 1.0) <= 1e-4 && std::fabs(K[0][2]) <= 1e-4 &&
                   std::fabs(K[1][2]) <= 1e-4,
               "For bearing vectors, expected k to be identity, instead got " << K);
}

}  // namespace

Pose_refine_result refine_pose(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                               const std::vector<double>& observations, const std::vector<double>& start,
                               const Pose_refine_options& options, Pose_kernel<double>& workspace) {
  std::vector<double> flat;
  const Layout l = check_inputs(K, points, observations, start, options, flat);
  check_bearing_K(K, l);
  return refine_by_kernel(camera_scene(pinhole_camera(K), Points_view(flat), observations.data()), start, options,
                          l, workspace);
}

Pose_refine_result refine_pose(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                               const std::vector<double>& observations, const std::vector<double>& start,
                               const Pose_refine_options& options) {
  Pose_kernel<double> kernel;
  return refine_pose(K, points, observations, start, options, kernel);
}

Pose_refine_result refine_pose(const Camera_model& camera, const Points_view& points,
                               const Values_view& observations, const std::vector<double>& start,
                               const Pose_refine_options& options) {
  Pose_kernel<double> workspace;
  return refine_pose(camera, points, observations, start, options, workspace);
}

Pose_refine_result refine_pose(const Camera_model& camera, const Points_view& points,
                               const Values_view& observations, const std::vector<double>& start,
                               const Pose_refine_options& options, Pose_kernel<double>& workspace) {
  const Layout l = check_data(points, observations, start, options);
  if (l.rows == 2) check_camera(camera);
  return refine_by_kernel(camera_scene(camera, points, observations.data), start, options, l, workspace);
}

Pose_layout check_pose_data(const Points_view& points, const Values_view& observations,
                            const std::vector<double>& start, const Pose_refine_options& options) {
  return check_data(points, observations, start, options);
}

Pose_refine_result refine_pose_scene(const Pose_scene& scene, const std::vector<double>& start,
                                     const Pose_refine_options& options, const Pose_layout& l,
                                     Pose_kernel<double>& kernel) {
  return refine_by_kernel(scene, start, options, l, kernel);
}

Pose_layout check_pose_inputs(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                              const std::vector<double>& observations, const std::vector<double>& start,
                              const Pose_refine_options& options) {
  std::vector<double> flat;
  return check_inputs(K, points, observations, start, options, flat);
}

std::vector<double> pose_point_weights(const Pose_refine_options& options, const Pose_layout& l) {
  return point_weights(options, l);
}

matrix<double> pose_rotation_of(const std::vector<double>& x, int code) { return rotation_of(x, code); }

void finish_pose_summary(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                         const std::vector<double>& observations, const double* R_cam_to_world,
                         const double* centre_in_world, const Pose_layout& l, const Pose_refine_options& options,
                         const std::vector<double>& squared, const std::vector<double>& point_weight,
                         Pose_summary& summary) {
  const std::vector<double> flat = flatten_rows(points, 3, "point");
  const Pose_scene scene = camera_scene(pinhole_camera(K), Points_view(flat), observations.data());
  finish_pose_scene_summary(scene, R_cam_to_world, centre_in_world, l, options, Covariance_input{&squared},
                            point_weight, summary);
}

}  // namespace trel
