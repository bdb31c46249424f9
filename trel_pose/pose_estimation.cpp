#include "trel_pose/pose_estimation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <string>
#include <utility>

#include <Eigen/Cholesky>
#include <Eigen/Core>
#include <Eigen/Eigenvalues>
#include <Eigen/Geometry>
#include <opengv/absolute_pose/CentralAbsoluteAdapter.hpp>
#include <opengv/absolute_pose/methods.hpp>

#include "trel_tools/exception_l.h"
#include "trel_tools/opengv_wrapper.h"
#include "trel_pose/pose_refinement.h"
#include "trel_tools/rotation.h"
#include "trel_pose/camera_model.h"
#include "trel_pose/pose_kernel.h"

namespace trel {
namespace {

// Relative tolerances of the degeneracy tests.
constexpr double kCoincidentTolerance = 1e-10;  // spread of the world points against their distance from 0
constexpr double kCollinearTolerance = 1e-6;    // second against first principal spread
constexpr double kSampleCollinearTolerance = 1e-6;  // sine of the angle at the sample's first point
constexpr double kParallelRaysTolerance = 1e-9;     // sine of the angle between two rays
constexpr double kRotationTolerance = 1e-6;          // largest element of R^T R - I
constexpr int kLocalOptimisationRounds = 1;
constexpr int kLocalOptimisationSteps = 2;  // pose kernel steps of a local optimisation
constexpr std::size_t kLocalOptimisationMinInliers = 6;

template <typename T>
struct Model {
  Eigen::Matrix<T, 3, 3> R;  // camera to world
  Eigen::Matrix<T, 3, 1> t;  // camera centre
};

template <typename T>
bool all_finite(const std::vector<T>& v) {
  return std::all_of(v.begin(), v.end(), [](T x) { return std::isfinite(x); });
}

// The correspondences as the search uses them: world points, observations in
// the error's units (pixels, or normalised image coordinates) with the matrix
// that projects camera-frame points into those units, and the unit rays.
template <typename T>
struct Problem {
  Eigen::Matrix<T, 3, 3> K;  // the identity for bearing vectors
  opengv::points_t points;
  opengv::bearingVectors_t rays;
  std::vector<Eigen::Matrix<T, 2, 1>> observed;
  T threshold2 = 0;
  int min_inliers = 0;
  T scale = 1;  // world units per unit of points (see scale_of_points)
};

template <typename T>
bool is_valid_model(const Model<T>& m) {
  if (!m.R.allFinite() || !m.t.allFinite()) return false;
  const Eigen::Matrix<T, 3, 3> e = m.R.transpose() * m.R - Eigen::Matrix<T, 3, 3>::Identity();
  return e.cwiseAbs().maxCoeff() < kRotationTolerance && m.R.determinant() > 0;
}

// The camera model at model m: the pinhole of p's K (the identity for
// bearing vectors, whose errors are in normalised image coordinates).
template <typename T>
Pinhole_at_pose<T> projector_of(const Problem<T>& p, const Model<T>& m) {
  T K[9], R_cam_to_world[9];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      K[3 * r + c] = p.K(r, c);
      R_cam_to_world[3 * r + c] = m.R(r, c);
    }
  return Pinhole_at_pose<T>(pinhole_from<T>(K), R_cam_to_world);
}

// Squared error of correspondence i at the projector, or -1 when its point is
// at or behind the camera.
template <typename T>
T squared_error(const Problem<T>& p, const Pinhole_at_pose<T>& at, const T* centre_in_world, std::size_t i) {
  const T* X = p.points[i].data();
  if (!(at.depth(X, centre_in_world) > 0)) return T(-1);
  T pixel[2];
  at.pixel(X, centre_in_world, pixel);
  const T du = pixel[0] - p.observed[i].x(), dv = pixel[1] - p.observed[i].y();
  return du * du + dv * dv;
}

// Truncated squared error summed over every correspondence (a point at or
// behind the camera costs the threshold); stops early, returning infinity, once
// the sum exceeds cutoff.
template <typename T>
T model_cost(const Problem<T>& p, const Model<T>& m, T cutoff) {
  const Pinhole_at_pose<T> at = projector_of(p, m);
  T cost = 0;
  for (std::size_t i = 0; i < p.points.size(); ++i) {
    const T e2 = squared_error(p, at, m.t.data(), i);
    cost += e2 < 0 ? p.threshold2 : std::min(e2, p.threshold2);
    if (cost > cutoff) return std::numeric_limits<T>::infinity();
  }
  return cost;
}

template <typename T>
std::vector<int> model_inliers(const Problem<T>& p, const Model<T>& m) {
  const Pinhole_at_pose<T> at = projector_of(p, m);
  std::vector<int> inliers;
  for (std::size_t i = 0; i < p.points.size(); ++i) {
    const T e2 = squared_error(p, at, m.t.data(), i);
    if (e2 >= 0 && e2 < p.threshold2) inliers.push_back(static_cast<int>(i));
  }
  return inliers;
}

template <typename T>
Model<T> to_model(const opengv::transformation_t& transformation) {
  return {transformation.template block<3, 3>(0, 0), transformation.col(3)};
}

// Samples whose points are (nearly) on one line or whose rays (nearly) coincide
// have no unique pose.
template <typename T>
bool is_degenerate_sample(const Problem<T>& p, const int idx[3]) {
  const Eigen::Matrix<T, 3, 1> a = p.points[idx[1]] - p.points[idx[0]], b = p.points[idx[2]] - p.points[idx[0]];
  if (!(a.cross(b).norm() > kSampleCollinearTolerance * a.norm() * b.norm())) return true;
  for (int i = 0; i < 3; ++i)
    if (!(p.rays[idx[i]].cross(p.rays[idx[(i + 1) % 3]]).norm() > kParallelRaysTolerance)) return true;
  return false;
}

template <typename T>
bool in_front_of(const Model<T>& m, const Problem<T>& p, const int idx[3]) {
  const Pinhole_at_pose<T> at = projector_of(p, m);
  for (int i = 0; i < 3; ++i)
    if (!(at.depth(p.points[static_cast<std::size_t>(idx[i])].data(), m.t.data()) > 0)) return false;
  return true;
}

// Samples still needed for the confidence with the given inlier share.
int needed_iterations(double confidence, double inlier_share, int max_iterations) {
  const double all_good = inlier_share * inlier_share * inlier_share;
  if (all_good >= 1.0) return 0;
  if (all_good <= 0.0) return max_iterations;
  const double k = std::log(1.0 - confidence) / std::log1p(-all_good);
  return k >= max_iterations ? max_iterations : static_cast<int>(std::ceil(k));
}

// UPnP on the given correspondences; the best valid candidate replaces m when
// it costs less than cost.
template <typename T>
bool refit(const Problem<T>& p, const opengv::absolute_pose::CentralAbsoluteAdapter& adapter,
           const std::vector<int>& inliers, Model<T>& m, T& cost) {
  // UPnP crashes on some degenerate point sets: a subset the checks of the
  // whole set did not see is left unfitted.
  std::vector<std::vector<double>> subset;
  subset.reserve(inliers.size());
  for (int i : inliers) subset.push_back({p.points[i].x(), p.points[i].y(), p.points[i].z()});
  if (!detail::upnp_point_degeneracy(subset).empty()) return false;
  bool improved = false;
  for (const opengv::transformation_t& tr : opengv::absolute_pose::upnp(adapter, inliers)) {
    const Model<T> candidate = to_model<T>(tr);
    if (!is_valid_model(candidate)) continue;
    const T c = model_cost(p, candidate, cost);
    if (c < cost) {
      cost = c;
      m = candidate;
      improved = true;
    }
  }
  return improved;
}

// Least squares of the reprojection errors of the given correspondences: a
// few steps of the pose kernel from m, squared loss. The result replaces m
// when it costs less than cost.
template <typename T>
bool kernel_refit(const Problem<T>& p, const std::vector<int>& inliers, Model<T>& m, T& cost) {
  std::vector<std::vector<T>> points;
  std::vector<T> observed;
  points.reserve(inliers.size());
  observed.reserve(2 * inliers.size());
  for (int i : inliers) {
    const Eigen::Matrix<T, 3, 1>& X = p.points[static_cast<std::size_t>(i)];
    points.push_back({X.x(), X.y(), X.z()});
    observed.push_back(p.observed[static_cast<std::size_t>(i)].x());
    observed.push_back(p.observed[static_cast<std::size_t>(i)].y());
  }
  T K[9], R_cam_to_world[9];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      K[3 * r + c] = p.K(r, c);
      R_cam_to_world[3 * r + c] = m.R(r, c);
    }
  Pose_kernel_settings<T> settings;
  settings.max_iters = kLocalOptimisationSteps;
  Pose_kernel<T> kernel;
  const Pose_kernel_outcome<T> out =
      kernel.refine(K, points, observed.data(), nullptr, nullptr, R_cam_to_world, m.t.data(), settings);
  Model<T> x;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) x.R(r, c) = out.R[3 * r + c];
  x.t = Eigen::Matrix<T, 3, 1>(out.centre[0], out.centre[1], out.centre[2]);
  if (!is_valid_model(x)) return false;
  const T c = model_cost(p, x, cost);
  if (!(c < cost)) return false;
  cost = c;
  m = x;
  return true;
}

template <typename T>
void check_input(const matrix<T>& K, const std::vector<std::vector<T>>& points,
                 const std::vector<std::vector<T>>& observations, const Pose_estimate_options& o) {
  o.check();
  const std::size_t n = points.size();
  TREL_CHECK(n == observations.size(), "estimate_pose needs one observation per 3D point, got "
                                           << n << " points and " << observations.size() << " observations");
  const std::size_t obs_size = o.bearing ? 3 : 2;
  for (std::size_t i = 0; i < n; ++i) {
    TREL_CHECK(points[i].size() == 3, "point " << i << " should hold 3 values, instead it holds " << points[i].size());
    TREL_CHECK(observations[i].size() == obs_size, "observation " << i << " should hold " << obs_size
                                                                  << " values, instead it holds "
                                                                  << observations[i].size());
    TREL_CHECK(all_finite(points[i]), "point " << i << " should hold finite numbers only");
    TREL_CHECK(all_finite(observations[i]), "observation " << i << " should hold finite numbers only");
    if (o.bearing)
      TREL_CHECK(observations[i][2] > 0, "bearing vector " << i << " should point in front of the camera (z > 0), "
                                                           << "instead z = " << observations[i][2]);
  }
  if (!o.bearing) {
    TREL_CHECK(K.get_dim1() == 3 && K.get_dim2() == 3,
               "K should be 3 x 3, instead it is " << K.get_dim1() << " x " << K.get_dim2());
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c)
        TREL_CHECK(std::isfinite(K[r][c]), "K should hold finite numbers only, instead element (" << r << "," << c
                                                                                               << ") is " << K[r][c]);
  }
}

// The first copy of every distinct correspondence (point and observation
// equal value by value), in input order; first_copy[i] the index among them
// of the copy correspondence i repeats.
template <typename T>
std::vector<std::size_t> distinct_correspondences(const std::vector<std::vector<T>>& points,
                                                  const std::vector<std::vector<T>>& observations,
                                                  std::vector<std::size_t>& first_copy) {
  const std::size_t n = points.size();
  std::vector<std::size_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = i;
  const auto key_less = [&](std::size_t a, std::size_t b) {
    if (points[a] != points[b]) return points[a] < points[b];
    if (observations[a] != observations[b]) return observations[a] < observations[b];
    return a < b;
  };
  std::sort(order.begin(), order.end(), key_less);
  std::vector<std::size_t> representative(n);
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t i = order[k];
    const bool repeat = k > 0 && points[i] == points[order[k - 1]] && observations[i] == observations[order[k - 1]];
    representative[i] = repeat ? representative[order[k - 1]] : i;
  }
  std::vector<std::size_t> distinct, position(n);
  first_copy.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (representative[i] == i) {
      position[i] = distinct.size();
      distinct.push_back(i);
    }
    first_copy[i] = position[representative[i]];
  }
  TREL_CHECK(distinct.size() >= static_cast<std::size_t>(kPoseEstimateMinPoints),
             "estimate_pose needs at least " << kPoseEstimateMinPoints << " correspondences, got " << distinct.size()
                                             << (distinct.size() < n ? " distinct (" : "")
                                             << (distinct.size() < n ? std::to_string(n) + " with repeats)" : ""));
  return distinct;
}

template <typename T>
void check_spread(const Problem<T>& p) {
  Eigen::Matrix<T, 3, 1> mean = Eigen::Matrix<T, 3, 1>::Zero();
  for (const auto& X : p.points) mean += X;  // points of largest coordinate about 1 or less (scale_of_points)
  mean /= static_cast<T>(p.points.size());
  Eigen::Matrix<T, 3, 3> scatter = Eigen::Matrix<T, 3, 3>::Zero();
  for (const auto& X : p.points) scatter += (X - mean) * (X - mean).transpose();
  scatter /= static_cast<T>(p.points.size());
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix<T, 3, 3>> eigen(scatter, Eigen::EigenvaluesOnly);
  const T first = std::sqrt(std::max<T>(eigen.eigenvalues()[2], 0));
  const T second = std::sqrt(std::max<T>(eigen.eigenvalues()[1], 0));
  TREL_CHECK(first > kCoincidentTolerance * (1 + mean.norm()),
             "the 3D points all coincide: no pose can be estimated from them");
  TREL_CHECK(second > kCollinearTolerance * first, "the 3D points all lie on one line: the pose is not unique");
  bool spread = false;
  for (std::size_t i = 1; i < p.rays.size() && !spread; ++i)
    spread = p.rays[i].cross(p.rays[0]).norm() > kParallelRaysTolerance;
  TREL_CHECK(spread, "the observations all lie along one ray: no pose can be estimated from them");
}

// The scale the world points are divided by: their largest coordinate when it
// lies beyond 1e100 or below 1e-100 (their squares would overflow or
// underflow), else 1.
template <typename T>
T scale_of_points(const std::vector<std::vector<T>>& points, const std::vector<std::size_t>& distinct) {
  T largest = 0;
  for (std::size_t i : distinct)
    for (T v : points[i]) largest = std::max(largest, std::abs(v));
  return largest > T(1e100) || (largest > 0 && largest < T(1e-100)) ? largest : T(1);
}

// The ray of observation i in the camera frame, scaled to a largest value of
// 1 before normalising (bearing vectors of any positive length).
template <typename T>
Eigen::Matrix<T, 3, 1> unit_ray(Eigen::Matrix<T, 3, 1> ray, std::size_t i) {
  const T largest = ray.cwiseAbs().maxCoeff();
  TREL_CHECK(std::isfinite(largest) && ray.z() > 0,
             "observation " << i << " does not give a ray in front of the camera through K^-1");
  ray /= largest;
  return ray.normalized();
}

// The distinct correspondences in the search's form; refuses a singular K,
// rays behind the camera and point sets with no unique pose.
template <typename T>
Problem<T> make_problem(const matrix<T>& K, const std::vector<std::vector<T>>& points,
                        const std::vector<std::vector<T>>& observations, const std::vector<std::size_t>& distinct,
                        const Pose_estimate_options& o) {
  const std::size_t n = distinct.size();
  Problem<T> p;
  p.K.setIdentity();
  if (!o.bearing)
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) p.K(r, c) = K[r][c];
  const T det = p.K.determinant();
  TREL_CHECK(std::isfinite(det) && std::abs(det) > std::numeric_limits<T>::min(),
             "K should be invertible, instead its determinant is " << det);
  const Eigen::Matrix<T, 3, 3> K_inv = p.K.inverse();
  TREL_CHECK(K_inv.allFinite(), "K should be invertible, instead its inverse is not finite");
  p.threshold2 = static_cast<T>(o.threshold * o.threshold);
  p.min_inliers = std::max(std::min(static_cast<int>(n), kPoseEstimateMinInliers),
                           static_cast<int>(std::ceil(kPoseEstimateMinInlierShare * static_cast<double>(n))));
  p.scale = scale_of_points(points, distinct);
  p.points.reserve(n);
  p.rays.reserve(n);
  p.observed.reserve(n);
  for (std::size_t i : distinct) {
    p.points.emplace_back(points[i][0] / p.scale, points[i][1] / p.scale, points[i][2] / p.scale);
    const Eigen::Matrix<T, 3, 1> ray = o.bearing ? Eigen::Matrix<T, 3, 1>(observations[i][0], observations[i][1],
                                                                           observations[i][2])
                                                 : K_inv * Eigen::Matrix<T, 3, 1>(observations[i][0],
                                                                                  observations[i][1], 1);
    p.rays.push_back(unit_ray(ray, i));
    p.observed.emplace_back(o.bearing ? Eigen::Matrix<T, 2, 1>(ray.x() / ray.z(), ray.y() / ray.z())
                                      : Eigen::Matrix<T, 2, 1>(observations[i][0], observations[i][1]));
  }
  check_spread(p);
  return p;
}

// The best model of the random search so far.
template <typename T>
struct Search {
  Model<T> best{Eigen::Matrix<T, 3, 3>::Identity(), Eigen::Matrix<T, 3, 1>::Zero()};
  T best_cost = std::numeric_limits<T>::infinity();
  std::size_t best_inliers = 0;
  bool best_fitted = false;  // best comes from a least-squares fit on its inliers
  int iterations = 0;
};

// P3P on the sample: its best valid candidate in front of the camera replaces
// the search's best when it costs less.
template <typename T>
bool try_sample(const Problem<T>& p, const opengv::absolute_pose::CentralAbsoluteAdapter& adapter,
                const int idx[3], Search<T>& s) {
  bool improved = false;
  for (const opengv::transformation_t& tr :
       opengv::absolute_pose::p3p_kneip(adapter, static_cast<std::size_t>(idx[0]), static_cast<std::size_t>(idx[1]),
                                        static_cast<std::size_t>(idx[2]))) {
    const Model<T> candidate = to_model<T>(tr);
    if (!is_valid_model(candidate) || !in_front_of(candidate, p, idx)) continue;
    const T cost = model_cost(p, candidate, s.best_cost);
    if (cost < s.best_cost) {
      s.best_cost = cost;
      s.best = candidate;
      improved = true;
    }
  }
  return improved;
}

// The local optimisation of a new best: the pose kernel on its inliers; returns
// the inliers of the result.
template <typename T>
std::vector<int> optimise_locally(const Problem<T>& p, Search<T>& s) {
  s.best_fitted = false;
  std::vector<int> inliers = model_inliers(p, s.best);
  for (int round = 0; round < kLocalOptimisationRounds && inliers.size() >= kLocalOptimisationMinInliers; ++round) {
    if (!kernel_refit(p, inliers, s.best, s.best_cost)) break;
    s.best_fitted = true;
    inliers = model_inliers(p, s.best);
  }
  return inliers;
}

// The random search: minimal samples until the confidence is reached (at least
// min_iterations, at most max_iterations); refuses a best with too few inliers.
template <typename T>
Search<T> random_search(const Problem<T>& p, const opengv::absolute_pose::CentralAbsoluteAdapter& adapter,
                        const Pose_estimate_options& o) {
  const std::size_t n = p.points.size();
  std::mt19937 random(o.seed);
  std::uniform_int_distribution<int> pick(0, static_cast<int>(n) - 1);
  Search<T> s;
  int bound = o.max_iterations;
  while (s.iterations < std::max(bound, o.min_iterations)) {
    if (o.interrupted && s.iterations % kPoseEstimateInterruptSamples == 0 && s.iterations > 0)
      TREL_CHECK(!o.interrupted(), "estimate_pose was interrupted after " << s.iterations << " samples");
    ++s.iterations;
    int idx[3];
    idx[0] = pick(random);
    do idx[1] = pick(random); while (idx[1] == idx[0]);
    do idx[2] = pick(random); while (idx[2] == idx[0] || idx[2] == idx[1]);
    if (is_degenerate_sample(p, idx)) continue;
    if (!try_sample(p, adapter, idx, s)) continue;
    const std::vector<int> inliers = optimise_locally(p, s);
    if (inliers.size() > s.best_inliers) {
      s.best_inliers = inliers.size();
      bound = needed_iterations(o.confidence, static_cast<double>(s.best_inliers) / static_cast<double>(n),
                                o.max_iterations);
    }
  }
  TREL_CHECK(std::isfinite(s.best_cost) && s.best_inliers >= static_cast<std::size_t>(p.min_inliers),
             "no model with enough inliers: the best of " << s.iterations << " samples has " << s.best_inliers
                                                          << " of " << n << " correspondences within " << o.threshold
                                                          << (o.bearing ? "" : " px") << ", " << p.min_inliers
                                                          << " needed");
  return s;
}

// The robust refinement (refine_pose, rotation vector) of the pose on the
// given inliers from the search's best; start receives its start values.
template <typename T>
Pose_refine_result refine_on_inliers(const Problem<T>& p, const Model<T>& best, const std::vector<int>& inliers,
                                     const Pose_estimate_options& o, std::vector<double>& start) {
  std::vector<std::vector<double>> fit_points;
  std::vector<double> fit_observations;
  fit_points.reserve(inliers.size());
  fit_observations.reserve(2 * inliers.size());
  for (int i : inliers) {
    fit_points.push_back({p.points[i].x(), p.points[i].y(), p.points[i].z()});
    fit_observations.push_back(p.observed[i].x());
    fit_observations.push_back(p.observed[i].y());
  }
  matrix<double> K_fit(3, 3);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) K_fit[r][c] = p.K(r, c);
  matrix<double> R_start(3, 3);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) R_start[r][c] = best.R(r, c);
  start = rot_mat_to_rot_vec_rad(R_start);
  start.insert(start.end(), {best.t.x(), best.t.y(), best.t.z()});

  Pose_refine_options refine;
  refine.rotation_code = 0;
  refine.max_iters = o.refine_iterations;
  refine.min_x_step = 1e-9f;
  refine.loss = o.loss;
  refine.loss_scale = o.loss_scale > 0 ? o.loss_scale : o.threshold;
  return guarded(
      TREL_FRAME, [&] { return refine_pose(K_fit, fit_points, fit_observations, start, refine); },
      [&](std::ostream& os) { os << "refining the pose on " << inliers.size() << " inliers"; });
}

// The covariance's centre rows and columns into world units (times scale).
void scale_covariance(std::vector<double>& covariance, double scale) {
  if (covariance.size() != 36 || scale == 1.0) return;
  for (std::size_t a = 0; a < 6; ++a)
    for (std::size_t b = 0; b < 6; ++b) covariance[a * 6 + b] *= (a >= 3 ? scale : 1.0) * (b >= 3 ? scale : 1.0);
}

// The result at the refined pose (the start when the refinement is not
// finite), with the inlier mask there over every correspondence (a repeat has
// its first copy's flag); refuses a pose with too few inliers.
template <typename T>
Pose_estimate_result make_result(const Problem<T>& p, Pose_refine_result refined, const std::vector<double>& start,
                                 const std::vector<std::size_t>& first_copy, int iterations) {
  Pose_estimate_result result;
  result.x = all_finite(refined.x) ? refined.x : start;
  result.R = rot_vec_rad_to_rot_mat(std::vector<double>(result.x.begin(), result.x.begin() + 3));
  Model<T> final_model;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) final_model.R(r, c) = result.R[r][c];
    final_model.t[r] = result.x[3 + r];
  }
  std::vector<unsigned char> distinct_inliers(p.points.size(), 0);
  for (int i : model_inliers(p, final_model)) distinct_inliers[i] = 1;
  const int kept = static_cast<int>(std::count(distinct_inliers.begin(), distinct_inliers.end(), 1));
  TREL_CHECK(kept >= p.min_inliers, "no model with enough inliers: the refined pose keeps "
                                        << kept << " of " << p.points.size() << " correspondences, "
                                        << p.min_inliers << " needed");
  for (std::size_t k = 3; k < 6; ++k) result.x[k] *= p.scale;
  result.centre.assign(result.x.begin() + 3, result.x.end());
  result.inliers.resize(first_copy.size());
  for (std::size_t i = 0; i < first_copy.size(); ++i) result.inliers[i] = distinct_inliers[first_copy[i]];
  result.num_inliers = static_cast<int>(std::count(result.inliers.begin(), result.inliers.end(), 1));
  result.iterations = iterations;
  result.summary = std::move(refined.summary);
  result.summary.inliers = result.inliers;
  scale_covariance(result.summary.covariance, p.scale);
  return result;
}

template <typename T>
Pose_estimate_result estimate_pose_impl(const matrix<T>& K, const std::vector<std::vector<T>>& points,
                                        const std::vector<std::vector<T>>& observations,
                                        const Pose_estimate_options& o) {
  check_input(K, points, observations, o);
  std::vector<std::size_t> first_copy;
  const std::vector<std::size_t> distinct = distinct_correspondences(points, observations, first_copy);
  const Problem<T> p = make_problem(K, points, observations, distinct, o);

  // The random search.
  const opengv::absolute_pose::CentralAbsoluteAdapter adapter(p.rays, p.points);
  Search<T> s = random_search(p, adapter, o);

  // The least-squares fit on the final inliers (UPnP when the kernel never
  // improved on the sample's pose), then the robust refinement from it.
  std::vector<int> inliers = model_inliers(p, s.best);
  if (inliers.size() >= kLocalOptimisationMinInliers && !s.best_fitted &&
      (kernel_refit(p, inliers, s.best, s.best_cost) || refit(p, adapter, inliers, s.best, s.best_cost)))
    inliers = model_inliers(p, s.best);
  std::vector<double> start;
  Pose_refine_result refined = refine_on_inliers(p, s.best, inliers, o, start);
  return make_result(p, std::move(refined), start, first_copy, s.iterations);
}

}  // namespace

Pose_estimate_result estimate_pose(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                                   const std::vector<std::vector<double>>& observations,
                                   const Pose_estimate_options& options) {
  return estimate_pose_impl(K, points, observations, options);
}

Pose_estimate_result estimate_pose(const Camera_model& camera, const Points_view& points,
                                   const Values_view& observations, const Pose_estimate_options& options) {
  TREL_CHECK(!has_distortion(camera), "estimate_pose: a camera with distortion is not taken yet");
  const std::size_t width = options.bearing ? 3 : 2;
  TREL_CHECK(observations.size() == width * points.size(),
             "observations should hold " << width * points.size() << " values (" << width << " per point for "
                                         << points.size() << " points), instead it had " << observations.size());
  std::vector<std::vector<double>> rows(points.size()), seen(points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    rows[i].assign(points[i], points[i] + 3);
    seen[i].assign(observations.begin() + width * i, observations.begin() + width * (i + 1));
  }
  return estimate_pose(camera_matrix_of(camera), rows, seen, options);
}

}  // namespace trel
