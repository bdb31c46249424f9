#include "trel_pose/pose_result.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include <Eigen/Core>
#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>

#include "trel_pose/camera_model.h"
#include "trel_pose/lens_projector.h"
#include "trel_tools/exception_l.h"

namespace trel {

using Layout = Pose_layout;

std::vector<Posed_camera> posed_cameras(const Pose_scene& scene, const double* R, const double* t) {
  std::vector<Posed_camera> posed(scene.cameras.size());
  for (std::size_t c = 0; c < posed.size(); ++c)
    camera_pose_in_world(scene.cameras[c], R, t, posed[c].R_cam_to_world, posed[c].centre_in_world);
  return posed;
}

namespace {


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

// Rank, condition number and covariance (see refine_pose) at the pose (R, t).
// Rank and condition are judged on N scaled to a unit diagonal, A = S N S, so
// that they do not depend on the units; the covariance is S A^-1 S times the
// variance.
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


// Points of non-zero weight in front of their cameras at the rig pose (R, t):
// a depth positive beyond rounding (in_front).
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
    in_front[i] = trel::in_front(depth, X, centre) ? 1 : 0;
    if (in_front[i] && point_weight[i] != 0.0) ++count;
  }
  return count;
}

// rms, loss, inliers, points in front and covariance at the result (R, t),
// from the points' squared errors there.
void finish_summary_of(const Pose_scene& scene, const double* R, const double* t, const Layout& l,
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

}  // namespace

void finish_pose_scene_summary(const Pose_scene& scene, const double* R, const double* t, const Pose_layout& l,
                               const Pose_refine_options& options, const Covariance_input& in,
                               const std::vector<double>& point_weight, Pose_summary& summary) {
  finish_summary_of(scene, R, t, l, options, in, point_weight, summary);
}

void scale_pose_covariance(double scale, Pose_summary& summary) {
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

}  // namespace trel
