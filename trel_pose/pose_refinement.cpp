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

// Each camera's pose in the world at the rig pose (R, t).
struct Posed_camera {
  double R_cam_to_world[9];
  double centre_in_world[3];
};

std::vector<Posed_camera> posed_cameras(const Pose_scene& scene, const double* R, const double* t) {
  std::vector<Posed_camera> posed(scene.cameras.size());
  for (std::size_t c = 0; c < posed.size(); ++c)
    camera_pose_in_world(scene.cameras[c], R, t, posed[c].R_cam_to_world, posed[c].centre_in_world);
  return posed;
}

std::size_t camera_index(const Pose_scene& scene, std::size_t i) {
  return scene.camera_of_point ? static_cast<std::size_t>(scene.camera_of_point[i]) : 0;
}

// Point i's predicted rows and their Jacobian with respect to the rig's
// (delta, t) at the rig centre t, through its camera's model.
void scene_rows(const Pose_scene& scene, const std::vector<Posed_camera>& posed, std::size_t i, const double* t,
                bool bearing, double predicted[3], double jacobian[3][6]) {
  const std::size_t c = camera_index(scene, i);
  const Posed_camera& at = posed[c];
  const double* X = scene.points[i];
  double v[3], a[3][3], a2[2][3];
  if (bearing) {
    Camera_frame_at_pose<double>(at.R_cam_to_world).rows(X, at.centre_in_world, v, predicted, a);
  } else {
    const Camera_model& model = scene.cameras[c].model;
    if (model.lens.is_identity()) Pinhole_at_pose<double>(model.pinhole, at.R_cam_to_world).rows(X, at.centre_in_world, v, predicted, a2);
    else Lens_camera_at_pose<double>(model, at.R_cam_to_world).rows(X, at.centre_in_world, v, predicted, a2);
    std::copy(&a2[0][0], &a2[0][0] + 6, &a[0][0]);
  }
  const double v_rig[3] = {X[0] - t[0], X[1] - t[1], X[2] - t[2]};
  for (int r = 0; r < (bearing ? 3 : 2); ++r) pose_jacobian_row(a[r], v_rig, jacobian[r]);
}

// The normal matrix N = sum J^T W J at the pose (R, t), its weighted sum of
// squares and the count of rows of non-zero weight; with a robust loss also
// the sandwich's bread H (the Gauss-Newton Hessian of the robust cost, rho''
// included) and meat B = sigma^2 sum rho'^2 J^T W J, sigma^2 estimated from
// the residuals weighted by rho'^2 (outliers, of rho' near 0, drop out) unless
// given (then B = sigma^2 sum rho'^2 J^T W^2 J). The meat is the model's, not
// the sum of the points' score outer products: that empirical one is as noisy
// as 6 x 6 numbers estimated from N points, and its inverse optimistic. The
// user weights are taken relative to their largest (so that neither 1e200 nor
// 1e-200 over- or underflows); weight_unit receives that largest squared.
struct Normal_equations {
  Eigen::Matrix<double, 6, 6> normal = Eigen::Matrix<double, 6, 6>::Zero();  // the squared loss only
  Eigen::Matrix<double, 6, 6> bread = Eigen::Matrix<double, 6, 6>::Zero();
  Eigen::Matrix<double, 6, 6> meat = Eigen::Matrix<double, 6, 6>::Zero();
  double weighted_squares = 0.0;   // sum rho'^2 w r^2 (the squared loss: sum w r^2)
  double weighted_rows = 0.0;      // sum rho'^2 over the rows of non-zero weight
  std::size_t m = 0;
  double weight_unit = 1.0;
};

// Point i's rows into e (upper triangles): its residual rows and Jacobian
// weighted by the user weights u (relative), robust weight rho' and curvature
// k (see Normal_equations); the bread and meat only with a robust loss.
void add_point(const double predicted[3], const double rows_j[3][6], const double* observed, const double* u,
               std::size_t rows, bool robust, double rho1, double k, double squared, double sigma,
               Normal_equations& e) {
  Eigen::Matrix<double, 6, 1> score = Eigen::Matrix<double, 6, 1>::Zero();
  for (std::size_t r = 0; r < rows; ++r) {
    const double w = u[r] * u[r];
    if (w == 0.0 || rho1 == 0.0) continue;
    ++e.m;
    const Eigen::Map<const Eigen::Matrix<double, 6, 1>> j(rows_j[r]);
    const double residual = predicted[r] - observed[r];
    e.weighted_squares += rho1 * rho1 * w * residual * residual;
    e.weighted_rows += rho1 * rho1;
    if (!robust) {
      e.normal.selfadjointView<Eigen::Upper>().rankUpdate(j, w);
      continue;
    }
    e.bread.selfadjointView<Eigen::Upper>().rankUpdate(j, rho1 * w);
    e.meat.selfadjointView<Eigen::Upper>().rankUpdate(j, rho1 * rho1 * w * (sigma > 0.0 ? w * sigma * sigma : 1.0));
    score += w * residual * j;
  }
  if (robust && squared > 0.0 && k != 0.0) e.bread.selfadjointView<Eigen::Upper>().rankUpdate(score, k / squared);
}

Normal_equations normal_at(const Pose_scene& scene, const double* R, const double* t, const Layout& l,
                           const Pose_refine_options& options, const std::vector<double>& squared) {
  Normal_equations e;
  double largest = 0.0;
  for (double u : options.weights) largest = std::max(largest, std::fabs(u));
  const double inverse_unit = largest > 0.0 ? 1.0 / largest : 1.0;
  if (largest > 0.0) e.weight_unit = largest * largest;
  const bool robust = options.loss != Loss::squared;
  const std::vector<Posed_camera> posed = posed_cameras(scene, R, t);
  for (std::size_t i = 0; i < l.npts; ++i) {
    double predicted[3];
    double rows_j[3][6];
    scene_rows(scene, posed, i, t, l.rows == 3, predicted, rows_j);
    double u[3] = {1.0, 1.0, 1.0};
    if (!options.weights.empty())
      for (std::size_t r = 0; r < l.rows; ++r) u[r] = options.weights[i * l.rows + r] * inverse_unit;
    const double rho1 = robust ? robust_loss_weight(options.loss, squared[i], options.loss_scale) : 1.0;
    const double k = robust ? robust_loss_curvature(options.loss, squared[i], options.loss_scale) : 0.0;
    add_point(predicted, rows_j, &scene.observations[i * l.rows], u, l.rows, robust, rho1, k, squared[i],
              options.sigma, e);
  }
  for (Eigen::Matrix<double, 6, 6>* m : {&e.normal, &e.bread, &e.meat})
    m->triangularView<Eigen::StrictlyLower>() = m->transpose().triangularView<Eigen::StrictlyLower>();
  return e;
}

// Rank, condition number and covariance (see refine_pose) at the pose (R, t).
// Rank and condition are judged on N scaled to a unit diagonal, A = S N S, so
// that they do not depend on the units; the covariance is S A^-1 S times the
// variance.
// The kernel's last normal matrix serves the squared loss's covariance when
// it was accumulated this close to the result (the stop rule's step measure):
// its Jacobian differs from the result's by about as little, and no pass
// over the points is needed.
constexpr double kNormalReuseDistance = 1e-8;

// The squared loss's normal equations from the kernel's last normal matrix,
// when it serves (see kNormalReuseDistance); final_cost the kernel's cost at
// the result, the sum of w r^2 with the weights relative to their largest.
bool kernel_normal_equations(const Pose_kernel<double>* kernel, double final_cost, const Layout& l,
                             const Pose_refine_options& options, Normal_equations& e) {
  if (!kernel || options.loss != Loss::squared || l.reps != 1 || options.finite_differences) return false;
  double normal[36];
  if (!kernel->normal_near_result(kNormalReuseDistance, normal)) return false;
  e.normal = Eigen::Map<const Eigen::Matrix<double, 6, 6, Eigen::RowMajor>>(normal);
  double largest = 0.0;
  for (double u : options.weights) largest = std::max(largest, std::fabs(u));
  if (largest > 0.0) e.weight_unit = largest * largest;
  e.m = options.weights.empty()
            ? l.block
            : static_cast<std::size_t>(std::count_if(options.weights.begin(), options.weights.end(),
                                                     [](double u) { return u != 0.0; }));
  e.weighted_squares = final_cost;
  e.weighted_rows = static_cast<double>(e.m);
  return true;
}

// What the covariance needs besides the scene and the pose.
struct Covariance_input {
  const std::vector<double>* squared;
  const Pose_kernel<double>* kernel = nullptr;  // its last normal matrix, when it serves
  double final_cost = 0.0;
};

void fill_covariance(const Pose_scene& scene, const double* R, const double* t, const Layout& l,
                     const Pose_refine_options& options, const Covariance_input& in, Pose_summary& summary) {
  Normal_equations e;
  if (!kernel_normal_equations(in.kernel, in.final_cost, l, options, e))
    e = normal_at(scene, R, t, l, options, *in.squared);
  const bool robust = options.loss != Loss::squared;
  const Eigen::Matrix<double, 6, 6>& judged = robust ? e.bread : e.normal;
  summary.covariance.clear();
  summary.covariance_rank = 0;
  summary.condition_number = std::numeric_limits<double>::quiet_NaN();
  Eigen::Matrix<double, 6, 1> scale;
  for (int a = 0; a < 6; ++a) scale(a) = judged(a, a) > 0.0 ? 1.0 / std::sqrt(judged(a, a)) : 0.0;
  const Eigen::Matrix<double, 6, 6> A = scale.asDiagonal() * judged * scale.asDiagonal();
  if (!A.allFinite() || !scale.allFinite()) {
    summary.covariance_reason = "the normal matrix is not finite";
    return;
  }
  // Eigenvalues only: the inverse comes from a Cholesky factorisation, cheaper
  // than the eigenvectors and accurate at the conditions accepted below.
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix<double, 6, 6>> eigen(A, Eigen::EigenvaluesOnly);
  const Eigen::Matrix<double, 6, 1>& values = eigen.eigenvalues();  // ascending
  const double largest = values(5);
  int rank = 0;
  for (int k = 0; k < 6; ++k)
    if (largest > 0.0 && values(k) > kCovarianceRankTolerance * largest) ++rank;
  summary.covariance_rank = rank;
  summary.condition_number = values(0) > 0.0 ? largest / values(0) : std::numeric_limits<double>::infinity();
  if (rank < 6) summary.covariance_reason = "the normal matrix has rank below 6: the pose is not determined";
  else if (summary.condition_number > kCovarianceMaxCondition) summary.covariance_reason = "the normal matrix is too ill-conditioned";
  else if (options.sigma == 0.0 && e.m <= 6) summary.covariance_reason = "too few equations to estimate the variance";
  if (!summary.covariance_reason.empty()) return;
  // Variance over the weight unit: the normal matrix is in those units too.
  const double variance = options.sigma > 0.0 ? options.sigma * options.sigma / e.weight_unit
                                               : e.weighted_squares / static_cast<double>(e.m - 6);
  const Eigen::LLT<Eigen::Matrix<double, 6, 6>> cholesky(A);
  if (cholesky.info() != Eigen::Success) {
    summary.covariance_reason = robust ? "the robust cost's curvature is not positive definite at the result"
                                       : "the normal matrix is not positive definite";
    return;
  }
  const Eigen::Matrix<double, 6, 6> inverse =
      scale.asDiagonal() * cholesky.solve(Eigen::Matrix<double, 6, 6>::Identity()) * scale.asDiagonal();
  // Robust loss: the sandwich H^-1 B H^-1, its variance from the residuals
  // with m / (m - 6) for the 6 parameters fitted, or from sigma.
  const double robust_variance =
      options.sigma > 0.0 ? 1.0
                          : e.weighted_squares / e.weighted_rows * static_cast<double>(e.m) / static_cast<double>(e.m - 6);
  const Eigen::Matrix<double, 6, 6> covariance =
      robust ? Eigen::Matrix<double, 6, 6>(robust_variance * inverse * e.meat * inverse)
             : Eigen::Matrix<double, 6, 6>(variance * inverse);
  if (!covariance.allFinite()) {
    summary.covariance_reason = "the covariance overflows a double (sigma or the errors are too large)";
    return;
  }
  summary.covariance.resize(36);
  for (int a = 0; a < 6; ++a)
    for (int b = 0; b < 6; ++b) summary.covariance[static_cast<std::size_t>(a * 6 + b)] = covariance(a, b);
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

// Points of non-zero weight in front of their cameras at the rig pose (R, t):
// positive depth.
int count_in_front(const Pose_scene& scene, const double* R, const double* t, const Layout& l,
                   const std::vector<double>& point_weight, std::vector<unsigned char>& in_front) {
  const std::vector<Posed_camera> posed = posed_cameras(scene, R, t);
  in_front.assign(l.npts, 0);
  int count = 0;
  for (std::size_t i = 0; i < l.npts; ++i) {
    const Posed_camera& at = posed[camera_index(scene, i)];
    const double* X = scene.points[i];
    const double* centre = at.centre_in_world;
    // The camera-frame depth: the optical axis (R's third column) along X - centre.
    const double depth = at.R_cam_to_world[2] * (X[0] - centre[0]) + at.R_cam_to_world[5] * (X[1] - centre[1]) +
                         at.R_cam_to_world[8] * (X[2] - centre[2]);
    in_front[i] = depth > 0.0 ? 1 : 0;
    if (in_front[i] && point_weight[i] != 0.0) ++count;
  }
  return count;
}

// rms, loss, inliers, points in front and covariance at the result (R, t),
// from the points' squared errors there.
void finish_summary(const Pose_scene& scene, const double* R, const double* t, const Layout& l,
                    const Pose_refine_options& options, const Covariance_input& in,
                    const std::vector<double>& point_weight, Pose_summary& summary) {
  const std::vector<double>& squared = *in.squared;
  summary.final_rms = pose_rms_of(squared);
  summary.loss = loss_name(options.loss);
  summary.loss_scale = options.loss_scale;
  std::vector<unsigned char> in_front;
  summary.points_in_front = count_in_front(scene, R, t, l, point_weight, in_front);
  const auto weighted = std::count_if(point_weight.begin(), point_weight.end(), [](double w) { return w != 0.0; });
  summary.faces_points = summary.points_in_front >= 1 && 2 * summary.points_in_front >= weighted;
  summary.inliers.assign(l.npts, 0);
  for (std::size_t i = 0; i < l.npts; ++i) {
    const bool close = options.loss == Loss::squared || std::sqrt(squared[i]) < options.loss_scale;
    summary.inliers[i] = summary.faces_points && point_weight[i] != 0.0 && in_front[i] && close ? 1 : 0;
  }
  if (!options.covariance) return;
  if (!summary.faces_points) {
    summary.covariance.clear();
    summary.covariance_reason = "the pose does not face its points: too few lie in front of the camera";
    return;
  }
  fill_covariance(scene, R, t, l, options, in, summary);
}

constexpr double kPi = 3.14159265358979323846;

// The rotation values of the code for R, the representation nearest the start's.
std::vector<double> rotation_values_near(const double* R9, int code, const std::vector<double>& start) {
  matrix<double> R(3, 3);
  for (unsigned r = 0; r < 3; ++r)
    for (unsigned c = 0; c < 3; ++c) R[r][c] = R9[3 * r + c];
  const std::size_t nrot = static_cast<std::size_t>(camera_rotation_type::num_rotation_values(code));
  const std::vector<double> r0(start.begin(), start.begin() + static_cast<std::ptrdiff_t>(nrot));
  switch (code) {
    case 2: case 3: case 12: case -1: {  // quaternion: the start's sign and length
      std::vector<double> q = rot_mat_to_quaternion(R);
      // The start's length from its values over their largest (1e200 and 1e-200 stay finite).
      const double largest0 = std::max({std::fabs(r0[0]), std::fabs(r0[1]), std::fabs(r0[2]), std::fabs(r0[3])});
      double norm = 0.0, dot = 0.0, norm0 = 0.0;
      for (std::size_t k = 0; k < 4; ++k) {
        norm += q[k] * q[k];
        dot += q[k] * r0[k];
        norm0 += (r0[k] / largest0) * (r0[k] / largest0);
      }
      const double factor = (dot < 0.0 ? -1.0 : 1.0) * largest0 * std::sqrt(norm0 / norm);
      for (double& v : q) v *= factor;
      return q;
    }
    case 1: case 11: case -3: {  // angle-axis: the start's axis length, sign and turn
      std::vector<double> aa = rot_mat_to_ang_axis_rad(R);
      const double largest0 = std::max({std::fabs(r0[0]), std::fabs(r0[1]), std::fabs(r0[2])});
      double length0 = largest0 > 1e150 ? largest0 * std::sqrt((r0[0] / largest0) * (r0[0] / largest0) +
                                                               (r0[1] / largest0) * (r0[1] / largest0) +
                                                               (r0[2] / largest0) * (r0[2] / largest0))
                                        : std::sqrt(r0[0] * r0[0] + r0[1] * r0[1] + r0[2] * r0[2]);
      if (!(length0 * length0 > kDegenerateAxisSquaredLength<double>)) length0 = 1.0;
      if (aa[3] == 0.0) {
        if (length0 != 1.0 || r0[0] != 0.0 || r0[1] != 0.0 || r0[2] != 0.0)
          for (std::size_t k = 0; k < 3; ++k) aa[k] = r0[k] / length0;
      } else if (aa[0] * r0[0] + aa[1] * r0[1] + aa[2] * r0[2] < 0.0) {
        for (double& v : aa) v = -v;
      }
      aa[3] += 2.0 * kPi * std::round((r0[3] - aa[3]) / (2.0 * kPi));
      for (std::size_t k = 0; k < 3; ++k) aa[k] *= length0;
      return aa;
    }
    default: {  // rotation vector: the turn nearest the start
      const std::vector<double> r = rot_mat_to_rot_vec_rad(R);
      const double angle = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
      if (angle == 0.0) return r;
      std::vector<double> best = r, candidate(3);
      double best_distance = std::numeric_limits<double>::infinity();
      for (int turn = -1; turn <= 1; ++turn) {
        const double scale = (angle + 2.0 * kPi * turn) / angle;
        double distance = 0.0;
        for (std::size_t k = 0; k < 3; ++k) {
          candidate[k] = r[k] * scale;
          distance += (candidate[k] - r0[k]) * (candidate[k] - r0[k]);
        }
        if (distance < best_distance) {
          best_distance = distance;
          best = candidate;
        }
      }
      return best;
    }
  }
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

// The covariance of a scaled scene in the scene's units.
void unscale_covariance(double scale, Pose_summary& summary) {
  std::vector<double>& covariance = summary.covariance;
  if (scale == 1.0 || covariance.size() != 36) return;
  for (std::size_t a = 0; a < 6; ++a)
    for (std::size_t b = 0; b < 6; ++b) covariance[a * 6 + b] *= (a >= 3 ? scale : 1.0) * (b >= 3 ? scale : 1.0);
  for (std::size_t a = 3; a < 6; ++a)
    if (!(covariance[a * 7] > 0.0) || !std::isfinite(covariance[a * 7])) {
      covariance.clear();
      summary.covariance_reason = "the centre's covariance under- or overflows a double in the scene's units";
      return;
    }
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
  finish_summary(work, outcome.R, outcome.centre, l, options, covariance, weights.points, result.summary);
  unscale_covariance(scale, result.summary);
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
  finish_summary(scene, R_cam_to_world, centre_in_world, l, options, Covariance_input{&squared}, point_weight, summary);
}

}  // namespace trel
