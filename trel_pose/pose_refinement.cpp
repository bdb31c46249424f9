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

bool is_rotation_code(int code) { return find_pose_code(code) != nullptr; }

bool all_finite(const std::vector<double>& v) {
  return std::all_of(v.begin(), v.end(), [](double d) { return std::isfinite(d); });
}

using Layout = Pose_layout;

Layout check_inputs(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                    const std::vector<double>& observations, const std::vector<double>& start,
                    const Pose_refine_options& options) {
  const int code = options.rotation_code;
  TREL_CHECK(is_rotation_code(code),
             "Rotation type must be from: (0=aau, 1=aan, 2=qu, 3=qn,   10=aau-bv, 11=aan-bv, "
             "12=qu-bv,   -1=qu,aau,aan, -2=aau,qu,aan,  -3=aan,qu,aau), got an invalid value of "
                 << code);
  Layout l;
  l.nrot = camera_rotation_type::num_rotation_values(code);
  l.rows = static_cast<std::size_t>(camera_rotation_type::observation_rows(code));
  l.reps = static_cast<std::size_t>(camera_rotation_type::repetitions(code));
  l.npts = points.size();
  l.block = l.rows * l.npts;
  l.num_eqs = l.block * l.reps;

  TREL_CHECK(l.npts > 0, "refine_pose needs at least one 3D point, instead 0 were passed");
  check_camera_points_and_K(points, K);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      TREL_CHECK(std::isfinite(K[r][c]), "K should hold finite numbers only, instead element ("
                                             << r + 1 << "," << c + 1 << ") is " << K[r][c]);
  for (std::size_t i = 0; i < l.npts; ++i)
    TREL_CHECK(all_finite(points[i]), "point " << i << " should hold finite numbers only");
  TREL_CHECK(start.size() == static_cast<std::size_t>(l.nrot) + 3,
             "the start should hold " << l.nrot + 3 << " values for rotation type " << code << ", instead it had "
                                      << start.size());
  TREL_CHECK(all_finite(start), "the start should hold finite numbers only");
  TREL_CHECK(observations.size() == l.block,
             "observations should hold " << l.block << " values (" << l.rows << " per point for " << l.npts
                                         << " points), instead it had " << observations.size());
  TREL_CHECK(all_finite(observations), "observations should hold finite numbers only");
  TREL_CHECK(options.weights.empty() || options.weights.size() == l.num_eqs,
             "weights should be empty or hold one value per equation (" << l.num_eqs << "), instead it had "
                                                                         << options.weights.size());
  TREL_CHECK(all_finite(options.weights), "weights should hold finite numbers only");
  TREL_CHECK(std::isfinite(options.loss_scale) && options.loss_scale > 0.0,
             "loss_scale should be a finite positive number, instead got " << options.loss_scale);
  TREL_CHECK(std::isfinite(options.sigma) && options.sigma >= 0.0,
             "sigma should be a finite number, 0 or more, instead got " << options.sigma);
  return l;
}

double user_weight(const std::vector<double>& weights, std::size_t k) {
  return weights.empty() ? 1.0 : weights[k];
}

double rms_of(const std::vector<double>& squared) {
  double sum = 0.0;
  for (double s : squared) sum += s;
  return std::sqrt(sum / static_cast<double>(squared.size()));
}

matrix<double> rotation_of(const std::vector<double>& x, int code) {
  const std::vector<double> r(x.begin(), x.begin() + camera_rotation_type::num_rotation_values(code));
  switch (code) {
    case 2: case 3: case 12: case -1: return quaternion_to_rot_mat(r);
    case 1: case 11: case -3: return ang_axis_rad_to_rot_mat(r);
    default: return rot_vec_rad_to_rot_mat(r);
  }
}

void to_array(const matrix<double>& m, double out[9]) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) out[3 * r + c] = m[static_cast<unsigned>(r)][static_cast<unsigned>(c)];
}

// Predicted observation of X and its (delta, t) Jacobian, 2 or 3 rows, from
// the camera model (K row-major 3 x 3, the pinhole's form).
void point_jacobian(const double* K, const double* X, const double* R_cam_to_world, const double* centre_in_world,
                    bool bearing, double predicted[3], double jacobian[3][6]) {
  const Pinhole_model<double> lens = pinhole_from(K);
  if (bearing) world_point_rows<double, 3>(lens, R_cam_to_world, centre_in_world, X, predicted, jacobian);
  else world_point_rows<double, 2>(lens, R_cam_to_world, centre_in_world, X, predicted, jacobian);
}

// Normal matrix, rank, condition number and covariance at the pose (R, t) (see refine_pose).
void fill_covariance(const double* K, const std::vector<std::vector<double>>& points,
                     const std::vector<double>& observations, const double* R, const double* t, const Layout& l,
                     const Pose_refine_options& options, const std::vector<double>& robust_weight,
                     Pose_summary& summary) {
  const bool bearing = l.rows == 3;
  Eigen::Matrix<double, 6, 6> normal = Eigen::Matrix<double, 6, 6>::Zero();
  double weighted_squares = 0.0;
  std::size_t m = 0;
  for (std::size_t i = 0; i < l.npts; ++i) {
    double predicted[3];
    double rows_j[3][6];
    point_jacobian(K, points[i].data(), R, t, bearing, predicted, rows_j);
    double residual[3];
    for (std::size_t r = 0; r < l.rows; ++r) residual[r] = predicted[r] - observations[i * l.rows + r];
    for (std::size_t r = 0; r < l.rows; ++r) {
      const double u = user_weight(options.weights, i * l.rows + r);
      const double w = u * u * robust_weight[i];
      if (w == 0.0) continue;
      ++m;
      weighted_squares += w * residual[r] * residual[r];
      for (int a = 0; a < 6; ++a)
        for (int b = a; b < 6; ++b) normal(a, b) += w * rows_j[r][a] * rows_j[r][b];
    }
  }
  normal.triangularView<Eigen::StrictlyLower>() = normal.transpose().triangularView<Eigen::StrictlyLower>();

  summary.covariance.clear();
  if (!normal.allFinite()) {
    summary.covariance_rank = 0;
    summary.condition_number = std::numeric_limits<double>::quiet_NaN();
    return;
  }
  // Eigenvalues only: the inverse comes from a Cholesky factorisation, cheaper
  // than the eigenvectors and accurate at the conditions accepted below.
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix<double, 6, 6>> eigen(normal, Eigen::EigenvaluesOnly);
  const Eigen::Matrix<double, 6, 1>& values = eigen.eigenvalues();  // ascending
  const double largest = values(5);
  int rank = 0;
  for (int k = 0; k < 6; ++k)
    if (largest > 0.0 && values(k) > kCovarianceRankTolerance * largest) ++rank;
  summary.covariance_rank = rank;
  summary.condition_number = values(0) > 0.0 ? largest / values(0) : std::numeric_limits<double>::infinity();
  if (rank < 6 || summary.condition_number > kCovarianceMaxCondition) return;
  if (options.sigma == 0.0 && m <= 6) return;
  const double variance =
      options.sigma > 0.0 ? options.sigma * options.sigma : weighted_squares / static_cast<double>(m - 6);
  const Eigen::LLT<Eigen::Matrix<double, 6, 6>> cholesky(normal);
  if (cholesky.info() != Eigen::Success) return;
  const Eigen::Matrix<double, 6, 6> inverse = cholesky.solve(Eigen::Matrix<double, 6, 6>::Identity());
  summary.covariance.resize(36);
  for (int a = 0; a < 6; ++a)
    for (int b = 0; b < 6; ++b) summary.covariance[static_cast<std::size_t>(a * 6 + b)] = variance * inverse(a, b);
}

}  // namespace

std::vector<double> pose_point_jacobian(const matrix<double>& K, const std::vector<double>& point,
                                        const matrix<double>& R, const std::vector<double>& centre, bool bearing) {
  TREL_CHECK(point.size() == 3 && centre.size() == 3, "the point and the centre should hold 3 values each");
  TREL_CHECK(K.get_dim1() == 3 && K.get_dim2() == 3 && R.get_dim1() == 3 && R.get_dim2() == 3,
             "K and R should be 3 by 3");
  double k[9], r9[9];
  to_array(K, k);
  to_array(R, r9);
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
        const double u = user_weight(options.weights, j * l.block + i * l.rows + r);
        point_weight[i] += u * u / static_cast<double>(l.rows);
      }
  return point_weight;
}

// rms, loss, inliers and covariance at the result (R, t), from the points'
// squared errors and robust weights there.
void finish_summary(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                    const std::vector<double>& observations, const double* R, const double* t, const Layout& l,
                    const Pose_refine_options& options, const std::vector<double>& squared,
                    const std::vector<double>& robust, const std::vector<double>& point_weight,
                    Pose_summary& summary) {
  summary.final_rms = rms_of(squared);
  summary.loss = loss_name(options.loss);
  summary.loss_scale = options.loss_scale;
  summary.inliers.assign(l.npts, 0);
  for (std::size_t i = 0; i < l.npts; ++i) {
    const bool weighted = point_weight[i] != 0.0;
    const bool close = options.loss == Loss::squared || std::sqrt(squared[i]) < options.loss_scale;
    summary.inliers[i] = weighted && close ? 1 : 0;
  }
  if (options.covariance) {
    double k[9];
    to_array(K, k);
    fill_covariance(k, points, observations, R, t, l, options, robust, summary);
  }
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
      double norm = 0.0, dot = 0.0, norm0 = 0.0;
      for (std::size_t k = 0; k < 4; ++k) {
        norm += q[k] * q[k];
        dot += q[k] * r0[k];
        norm0 += r0[k] * r0[k];
      }
      const double factor = (dot < 0.0 ? -1.0 : 1.0) * std::sqrt(norm0 / norm);
      for (double& v : q) v *= factor;
      return q;
    }
    case 1: case 11: case -3: {  // angle-axis: the start's axis length, sign and turn
      std::vector<double> aa = rot_mat_to_ang_axis_rad(R);
      double length0 = std::sqrt(r0[0] * r0[0] + r0[1] * r0[1] + r0[2] * r0[2]);
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

Pose_refine_result refine_by_kernel(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                                    const std::vector<double>& observations, const std::vector<double>& start,
                                    const Pose_refine_options& options, const Layout& l, Pose_kernel<double>& kernel) {
  const int code = options.rotation_code;
  const bool bearing = l.rows == 3;
  // The bearing-vector codes predict the camera-frame point itself, as the cost function does.
  if (bearing)
    TREL_CHECK(std::fabs(K[0][0] - 1.0) <= 1e-4 && std::fabs(K[1][1] - 1.0) <= 1e-4 && std::fabs(K[0][2]) <= 1e-4 &&
                   std::fabs(K[1][2]) <= 1e-4,
               "For bearing vectors, expected k to be identity, instead got " << K);
  double k[9], R0[9];
  to_array(K, k);
  to_array(rotation_of(start, code), R0);
  TREL_CHECK(std::all_of(R0, R0 + 9, [](double v) { return std::isfinite(v); }),
             "the start's rotation values should describe a rotation (a quaternion of length 0 does not)");
  const std::vector<double> point_weight = point_weights(options, l);
  // Row weight: the squared user weights of the row's repetitions, summed.
  std::vector<double> row_weight;
  if (!options.weights.empty() || l.reps > 1) {
    row_weight.assign(l.block, 0.0);
    for (std::size_t j = 0; j < l.reps; ++j)
      for (std::size_t e = 0; e < l.block; ++e) {
        const double u = user_weight(options.weights, j * l.block + e);
        row_weight[e] += u * u;
      }
  }
  const Pose_kernel_settings<double> settings = kernel_settings(options, bearing);
  const bool unit_points = options.weights.empty() && l.reps == 1;
  const Pose_kernel_outcome<double> outcome =
      kernel.refine(k, points, observations.data(), row_weight.empty() ? nullptr : row_weight.data(),
                    unit_points ? nullptr : point_weight.data(), R0, &start[static_cast<std::size_t>(l.nrot)],
                    settings);

  Pose_refine_result result;
  if (outcome.returned_iteration == 0) {
    result.x = start;  // the start itself, not its round trip through R
  } else {
    result.x = rotation_values_near(outcome.R, code, start);
    result.x.insert(result.x.end(), outcome.centre, outcome.centre + 3);
  }
  Pose_summary& summary = result.summary;
  summary.iterations = outcome.iterations;
  summary.initial_error = outcome.initial_cost;
  summary.final_error = outcome.final_cost;
  summary.stop_reason = outcome.stop_reason;
  summary.returned_iteration = outcome.returned_iteration;
  summary.nothing_to_fit = outcome.no_weight;
  summary.initial_rms = std::sqrt(outcome.initial_squared_sum / static_cast<double>(l.npts));
  const std::vector<double>& squared = kernel.squared_errors();
  std::vector<double> robust(l.npts, 1.0);
  if (options.loss != Loss::squared)
    for (std::size_t p = 0; p < l.npts; ++p) robust[p] = robust_loss_weight(options.loss, squared[p], options.loss_scale);
  finish_summary(K, points, observations, outcome.R, outcome.centre, l, options, squared, robust, point_weight,
                 summary);
  return result;
}

}  // namespace

Pose_refine_result refine_pose(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                               const std::vector<double>& observations, const std::vector<double>& start,
                               const Pose_refine_options& options, Pose_kernel<double>& workspace) {
  const Layout l = check_inputs(K, points, observations, start, options);
  return refine_by_kernel(K, points, observations, start, options, l, workspace);
}

Pose_refine_result refine_pose(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                               const std::vector<double>& observations, const std::vector<double>& start,
                               const Pose_refine_options& options) {
  const Layout l = check_inputs(K, points, observations, start, options);
  Pose_kernel<double> kernel;
  return refine_by_kernel(K, points, observations, start, options, l, kernel);
}

Pose_layout check_pose_inputs(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                              const std::vector<double>& observations, const std::vector<double>& start,
                              const Pose_refine_options& options) {
  return check_inputs(K, points, observations, start, options);
}

std::vector<double> pose_point_weights(const Pose_refine_options& options, const Pose_layout& l) {
  return point_weights(options, l);
}

matrix<double> pose_rotation_of(const std::vector<double>& x, int code) { return rotation_of(x, code); }

void finish_pose_summary(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                         const std::vector<double>& observations, const double* R_cam_to_world,
                         const double* centre_in_world, const Pose_layout& l, const Pose_refine_options& options,
                         const std::vector<double>& squared, const std::vector<double>& robust,
                         const std::vector<double>& point_weight, Pose_summary& summary) {
  finish_summary(K, points, observations, R_cam_to_world, centre_in_world, l, options, squared, robust, point_weight,
                 summary);
}

}  // namespace trel
