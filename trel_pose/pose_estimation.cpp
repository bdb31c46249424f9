#include "trel_pose/pose_estimation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
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
#include "trel_pose/pose_sampling.h"
#include "trel_pose/pose_result.h"
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

// The caller's correspondences: N world points and N observations of width
// values each (2 for pixels, 3 for bearing vectors), row after row.
struct Correspondences {
  Points_view points;
  const double* observations = nullptr;
  std::size_t width = 2;

  std::size_t size() const { return points.size(); }
  const double* observation(std::size_t i) const { return observations + width * i; }
};

// The correspondences as the search uses them: world points, observations in
// the error's units (pixels, or normalised image coordinates) with the camera
// that projects camera-frame points into those units, and the unit rays (of
// the undistorted pixels when the lens distorts).
template <typename T>
struct Problem {
  Eigen::Matrix<T, 3, 3> K;     // the identity for bearing vectors
  Lens_camera_model<T> camera;  // K's pinhole behind the lens (no lens for bearing vectors)
  bool distorted = false;       // the lens distorts: the errors go through it
  opengv::points_t points;
  opengv::bearingVectors_t rays;
  std::vector<Eigen::Matrix<T, 2, 1>> observed;
  // 1 where the lens undistorts the pixel; the others never enter a sample and
  // are never inliers.
  std::vector<unsigned char> usable;
  std::vector<int> sampled;  // the usable correspondences, in order
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

// The camera at model m: At is the pinhole of p's K (the identity for bearing
// vectors, whose errors are in normalised image coordinates) or the lens
// camera (Lens_camera_at_pose), whose errors are in observed pixels.
template <typename At, typename T>
At projector_of(const Problem<T>& p, const Model<T>& m) {
  T R_cam_to_world[9];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) R_cam_to_world[3 * r + c] = m.R(r, c);
  if constexpr (std::is_same<At, Pinhole_at_pose<T>>::value) {
    T K[9];
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) K[3 * r + c] = p.K(r, c);
    return At(pinhole_from<T>(K), R_cam_to_world);
  } else {
    return At(p.camera, R_cam_to_world);
  }
}

// Squared error of correspondence i at the projector, or -1 when its point is
// at or behind the camera or its pixel has no undistortion.
template <typename T, typename At>
T squared_error(const Problem<T>& p, const At& at, const T* centre_in_world, std::size_t i) {
  const T* X = p.points[i].data();
  if (!p.usable[i] || !at.sees(X, centre_in_world)) return T(-1);
  T pixel[2];
  at.pixel(X, centre_in_world, pixel);
  const T du = pixel[0] - p.observed[i].x(), dv = pixel[1] - p.observed[i].y();
  return du * du + dv * dv;
}

// Truncated squared error summed over every correspondence (a point at or
// behind the camera costs the threshold); stops early, returning infinity, once
// the sum exceeds cutoff.
template <typename At, typename T>
T model_cost(const Problem<T>& p, const Model<T>& m, T cutoff) {
  const At at = projector_of<At>(p, m);
  T cost = 0;
  for (std::size_t i = 0; i < p.points.size(); ++i) {
    const T e2 = squared_error(p, at, m.t.data(), i);
    cost += e2 < 0 ? p.threshold2 : std::min(e2, p.threshold2);
    if (cost > cutoff) return std::numeric_limits<T>::infinity();
  }
  return cost;
}

template <typename At, typename T>
std::vector<int> model_inliers(const Problem<T>& p, const Model<T>& m) {
  const At at = projector_of<At>(p, m);
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

template <typename At, typename T>
bool in_front_of(const Model<T>& m, const Problem<T>& p, const int idx[3]) {
  const At at = projector_of<At>(p, m);
  for (int i = 0; i < 3; ++i)
    if (!at.sees(p.points[static_cast<std::size_t>(idx[i])].data(), m.t.data())) return false;
  return true;
}

// UPnP on the given correspondences; the best valid candidate replaces m when
// it costs less than cost.
template <typename At, typename T>
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
    const T c = model_cost<At>(p, candidate, cost);
    if (c < cost) {
      cost = c;
      m = candidate;
      improved = true;
    }
  }
  return improved;
}

// The given correspondences as flat rows: points (3 values each) and
// observations (2 each).
template <typename T>
void flat_rows(const Problem<T>& p, const std::vector<int>& inliers, std::vector<T>& points,
               std::vector<T>& observed) {
  points.reserve(3 * inliers.size());
  observed.reserve(2 * inliers.size());
  for (int i : inliers) {
    const Eigen::Matrix<T, 3, 1>& X = p.points[static_cast<std::size_t>(i)];
    points.insert(points.end(), {X.x(), X.y(), X.z()});
    observed.insert(observed.end(), {p.observed[static_cast<std::size_t>(i)].x(),
                                     p.observed[static_cast<std::size_t>(i)].y()});
  }
}

// The rotation vector of m, then its centre: the start of refine_pose's code 0.
template <typename T>
std::vector<double> start_of(const Model<T>& m) {
  matrix<double> R(3, 3);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) R[r][c] = m.R(r, c);
  std::vector<double> start = rot_mat_to_rot_vec_rad(R);
  start.insert(start.end(), {m.t.x(), m.t.y(), m.t.z()});
  return start;
}

// A few steps of the pose kernel from m on the given correspondences, through
// p's camera (the lens camera in observed pixels when it distorts).
template <typename T>
Model<T> kernel_steps(const Problem<T>& p, const std::vector<int>& inliers, const Model<T>& m) {
  std::vector<T> points, observed;
  flat_rows(p, inliers, points, observed);
  Pose_kernel_camera<T> camera;
  camera.model = p.camera;
  Pose_kernel_input<T> input;
  input.points = points.data();
  input.count = inliers.size();
  input.observations = observed.data();
  input.cameras = &camera;
  T R_cam_to_world[9];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) R_cam_to_world[3 * r + c] = m.R(r, c);
  Pose_kernel_settings<T> settings;
  settings.max_iters = kLocalOptimisationSteps;
  Pose_kernel<T> kernel;
  const Pose_kernel_outcome<T> out = kernel.refine(input, R_cam_to_world, m.t.data(), settings);
  Model<T> x;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) x.R(r, c) = out.R[3 * r + c];
  x.t = Eigen::Matrix<T, 3, 1>(out.centre[0], out.centre[1], out.centre[2]);
  return x;
}

// Least squares of the reprojection errors of the given correspondences: a
// few steps of the pose kernel from m, squared loss, in the errors' units
// (observed pixels through the lens when it distorts). The result replaces m
// when it costs less than cost.
template <typename At, typename T>
bool kernel_refit(const Problem<T>& p, const std::vector<int>& inliers, Model<T>& m, T& cost) {
  const Model<T> x = kernel_steps(p, inliers, m);
  if (!is_valid_model(x)) return false;
  const T c = model_cost<At>(p, x, cost);
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
    check_camera_matrix_form(K);
  }
}

// The checks of check_input over flat arrays.
void check_flat_input(const Points_view& points, const Values_view& observations, const Pose_estimate_options& o) {
  o.check();
  const std::size_t width = o.bearing ? 3 : 2;
  TREL_CHECK(observations.size() == width * points.size(),
             "observations should hold " << width * points.size() << " values (" << width << " per point for "
                                         << points.size() << " points), instead it had " << observations.size());
  TREL_CHECK(points.size() == 0 || points.data != nullptr, "points should not be null for " << points.size()
                                                                                             << " points");
  for (std::size_t i = 0; i < points.size(); ++i) {
    const double* X = points[i];
    const double* seen = observations.begin() + width * i;
    TREL_CHECK(std::isfinite(X[0]) && std::isfinite(X[1]) && std::isfinite(X[2]),
               "point " << i << " should hold finite numbers only");
    TREL_CHECK(std::all_of(seen, seen + width, [](double v) { return std::isfinite(v); }),
               "observation " << i << " should hold finite numbers only");
    if (o.bearing)
      TREL_CHECK(seen[2] > 0, "bearing vector " << i << " should point in front of the camera (z > 0), "
                                                << "instead z = " << seen[2]);
  }
}

// The first copy of every distinct correspondence (point and observation
// equal value by value), in input order; first_copy[i] the index among them
// of the copy correspondence i repeats.
std::vector<std::size_t> distinct_correspondences(const Correspondences& in, std::vector<std::size_t>& first_copy) {
  const std::size_t n = in.size(), w = in.width;
  const auto same = [&](std::size_t a, std::size_t b) {
    return std::equal(in.points[a], in.points[a] + 3, in.points[b]) &&
           std::equal(in.observation(a), in.observation(a) + w, in.observation(b));
  };
  const auto key_less = [&](std::size_t a, std::size_t b) {
    if (!std::equal(in.points[a], in.points[a] + 3, in.points[b]))
      return std::lexicographical_compare(in.points[a], in.points[a] + 3, in.points[b], in.points[b] + 3);
    if (!std::equal(in.observation(a), in.observation(a) + w, in.observation(b)))
      return std::lexicographical_compare(in.observation(a), in.observation(a) + w, in.observation(b),
                                          in.observation(b) + w);
    return a < b;
  };
  std::vector<std::size_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = i;
  std::sort(order.begin(), order.end(), key_less);
  std::vector<std::size_t> representative(n);
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t i = order[k];
    representative[i] = k > 0 && same(i, order[k - 1]) ? representative[order[k - 1]] : i;
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
  const std::vector<int>& s = p.sampled;
  bool spread = false;
  for (std::size_t k = 1; k < s.size() && !spread; ++k)
    spread = p.rays[static_cast<std::size_t>(s[k])].cross(p.rays[static_cast<std::size_t>(s[0])]).norm() >
             kParallelRaysTolerance;
  TREL_CHECK(spread, "the observations all lie along one ray: no pose can be estimated from them");
}

// The scale the world points are divided by: their largest coordinate when it
// lies beyond 1e100 or below 1e-100 (their squares would overflow or
// underflow), else 1.
template <typename T>
T scale_of_points(const Points_view& points, const std::vector<std::size_t>& distinct) {
  T largest = 0;
  for (std::size_t i : distinct)
    for (int k = 0; k < 3; ++k) largest = std::max(largest, std::abs(points[i][k]));
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

// Correspondence i of the input into p: its point, its observation in the
// error's units and its ray (K^-1 of the pixel, undistorted through the lens
// when it distorts; a pixel without an undistortion keeps K^-1's ray, unused).
template <typename T>
void add_correspondence(Problem<T>& p, const Eigen::Matrix<T, 3, 3>& K_inv, const Correspondences& in,
                        std::size_t i, bool bearing) {
  const double* X = in.points[i];
  const double* seen = in.observation(i);
  p.points.emplace_back(X[0] / p.scale, X[1] / p.scale, X[2] / p.scale);
  Eigen::Matrix<T, 3, 1> ray = bearing ? Eigen::Matrix<T, 3, 1>(seen[0], seen[1], seen[2])
                                       : K_inv * Eigen::Matrix<T, 3, 1>(seen[0], seen[1], 1);
  bool usable = true;
  if (p.distorted) {
    T x, y;
    usable = undistort(p.camera.lens, ray.x() / ray.z(), ray.y() / ray.z(), x, y);
    if (usable) ray = Eigen::Matrix<T, 3, 1>(x, y, 1);
  }
  p.rays.push_back(unit_ray(ray, i));
  p.observed.emplace_back(bearing ? Eigen::Matrix<T, 2, 1>(ray.x() / ray.z(), ray.y() / ray.z())
                                  : Eigen::Matrix<T, 2, 1>(seen[0], seen[1]));
  if (usable) p.sampled.push_back(static_cast<int>(p.usable.size()));
  p.usable.push_back(usable ? 1 : 0);
}

// The distinct correspondences in the search's form; refuses a singular K,
// rays behind the camera, too few pixels the lens undistorts and point sets
// with no unique pose.
template <typename T>
Problem<T> make_problem(const Camera_model& camera, const Eigen::Matrix<T, 3, 3>& K, const Correspondences& in,
                        const std::vector<std::size_t>& distinct, const Pose_estimate_options& o) {
  const std::size_t n = distinct.size();
  Problem<T> p;
  p.K.setIdentity();
  if (!o.bearing) {
    p.K = K;
    p.camera = camera;
    p.distorted = has_distortion(camera);
  }
  const T det = p.K.determinant();
  TREL_CHECK(std::isfinite(det) && std::abs(det) > std::numeric_limits<T>::min(),
             "K should be invertible, instead its determinant is " << det);
  const Eigen::Matrix<T, 3, 3> K_inv = p.K.inverse();
  TREL_CHECK(K_inv.allFinite(), "K should be invertible, instead its inverse is not finite");
  p.threshold2 = static_cast<T>(o.threshold * o.threshold);
  p.min_inliers = std::max(std::min(static_cast<int>(n), kPoseEstimateMinInliers),
                           static_cast<int>(std::ceil(kPoseEstimateMinInlierShare * static_cast<double>(n))));
  p.scale = scale_of_points<T>(in.points, distinct);
  p.points.reserve(n);
  p.rays.reserve(n);
  p.observed.reserve(n);
  for (std::size_t i : distinct) add_correspondence(p, K_inv, in, i, o.bearing);
  const std::size_t failures = n - p.sampled.size();
  TREL_CHECK(p.sampled.size() >= static_cast<std::size_t>(kPoseEstimateMinPoints),
             "estimate_pose needs at least " << kPoseEstimateMinPoints
                                             << " correspondences whose pixel the lens can undistort, got "
                                             << p.sampled.size() << " (" << failures << " of " << n
                                             << " have no undistortion: the lens model folds over there)");
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
template <typename At, typename T>
bool try_sample(const Problem<T>& p, const opengv::absolute_pose::CentralAbsoluteAdapter& adapter,
                const int idx[3], Search<T>& s) {
  bool improved = false;
  for (const opengv::transformation_t& tr :
       opengv::absolute_pose::p3p_kneip(adapter, static_cast<std::size_t>(idx[0]), static_cast<std::size_t>(idx[1]),
                                        static_cast<std::size_t>(idx[2]))) {
    const Model<T> candidate = to_model<T>(tr);
    if (!is_valid_model(candidate) || !in_front_of<At>(candidate, p, idx)) continue;
    const T cost = model_cost<At>(p, candidate, s.best_cost);
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
template <typename At, typename T>
std::vector<int> optimise_locally(const Problem<T>& p, Search<T>& s) {
  s.best_fitted = false;
  std::vector<int> inliers = model_inliers<At>(p, s.best);
  for (int round = 0; round < kLocalOptimisationRounds && inliers.size() >= kLocalOptimisationMinInliers; ++round) {
    if (!kernel_refit<At>(p, inliers, s.best, s.best_cost)) break;
    s.best_fitted = true;
    inliers = model_inliers<At>(p, s.best);
  }
  return inliers;
}

// The random search: minimal samples of usable correspondences until the
// confidence is reached (at least min_iterations, at most max_iterations);
// refuses a best with too few inliers.
template <typename At, typename T>
Search<T> random_search(const Problem<T>& p, const opengv::absolute_pose::CentralAbsoluteAdapter& adapter,
                        const Pose_estimate_options& o) {
  const std::size_t n = p.points.size();
  std::mt19937 random(o.seed);
  std::uniform_int_distribution<int> pick(0, static_cast<int>(p.sampled.size()) - 1);
  const auto draw = [&] { return p.sampled[static_cast<std::size_t>(pick(random))]; };
  Search<T> s;
  int bound = o.max_iterations;
  while (s.iterations < std::max(bound, o.min_iterations)) {
    if (o.interrupted && s.iterations % kPoseEstimateInterruptSamples == 0 && s.iterations > 0)
      TREL_CHECK(!o.interrupted(), "estimate_pose was interrupted after " << s.iterations << " samples");
    ++s.iterations;
    int idx[3];
    draw_three(draw, idx);
    if (is_degenerate_sample(p, idx)) continue;
    if (!try_sample<At>(p, adapter, idx, s)) continue;
    const std::vector<int> inliers = optimise_locally<At>(p, s);
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

// The robust refinement (refine_pose with the camera model, rotation vector)
// of the pose on the given inliers from the search's best, for the given
// iterations (0: the summary at the best); start receives its start values.
template <typename T>
Pose_refine_result refine_on_inliers(const Problem<T>& p, const Model<T>& best, const std::vector<int>& inliers,
                                     const Pose_estimate_options& o, int iterations, std::vector<double>& start) {
  std::vector<double> fit_points, fit_observations;
  flat_rows(p, inliers, fit_points, fit_observations);
  start = start_of(best);
  Pose_refine_options refine;
  refine.rotation_code = 0;
  refine.max_iters = iterations;
  refine.min_x_step = 1e-9f;
  refine.loss = o.loss;
  refine.loss_scale = o.loss_scale > 0 ? o.loss_scale : o.threshold;
  return guarded(
      TREL_FRAME,
      [&] {
        return refine_pose(p.camera, Points_view(fit_points), Values_view(fit_observations), start, refine);
      },
      [&](std::ostream& os) { os << "refining the pose on " << inliers.size() << " inliers"; });
}

// The result at the refined pose (the start when the refinement is not
// finite), with the inlier mask there over every correspondence (a repeat has
// its first copy's flag); refuses a pose with too few inliers.
template <typename At, typename T>
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
  for (int i : model_inliers<At>(p, final_model)) distinct_inliers[i] = 1;
  const int kept = static_cast<int>(std::count(distinct_inliers.begin(), distinct_inliers.end(), 1));
  TREL_CHECK(kept >= p.min_inliers, "no model with enough inliers: the refined pose keeps "
                                        << kept << " of " << p.points.size() << " correspondences, "
                                        << p.min_inliers << " needed");
  for (std::size_t k = 3; k < 6; ++k) result.x[k] *= p.scale;
  TREL_CHECK(all_finite(result.x), "the estimated pose is not finite in the scene's units: its centre overflows a "
                                   "double");
  result.centre.assign(result.x.begin() + 3, result.x.end());
  result.inliers.resize(first_copy.size());
  int failures = 0;
  for (std::size_t i = 0; i < first_copy.size(); ++i) {
    result.inliers[i] = distinct_inliers[first_copy[i]];
    failures += p.usable[first_copy[i]] ? 0 : 1;
  }
  result.num_inliers = static_cast<int>(std::count(result.inliers.begin(), result.inliers.end(), 1));
  result.iterations = iterations;
  result.summary = std::move(refined.summary);
  result.summary.inliers = result.inliers;
  result.summary.undistort_failures = failures;
  scale_pose_covariance(p.scale, result.summary);
  return result;
}

// The search and the refinement with the errors of the camera At.
template <typename At, typename T>
Pose_estimate_result search_and_refine(const Problem<T>& p, const std::vector<std::size_t>& first_copy,
                                       const Pose_estimate_options& o) {
  const opengv::absolute_pose::CentralAbsoluteAdapter adapter(p.rays, p.points);
  Search<T> s = random_search<At>(p, adapter, o);

  // The least-squares fit on the final inliers (UPnP when the kernel never
  // improved on the sample's pose), then the robust refinement from it.
  std::vector<int> inliers = model_inliers<At>(p, s.best);
  if (inliers.size() >= kLocalOptimisationMinInliers && !s.best_fitted &&
      (kernel_refit<At>(p, inliers, s.best, s.best_cost) || refit<At>(p, adapter, inliers, s.best, s.best_cost)))
    inliers = model_inliers<At>(p, s.best);
  std::vector<double> start;
  Pose_refine_result refined = refine_on_inliers(p, s.best, inliers, o, o.refine_iterations, start);
  // A refinement that leaves the points behind the camera has failed: the
  // search's pose, which faces its inliers, stands.
  if (!refined.summary.faces_points) refined = refine_on_inliers(p, s.best, inliers, o, 0, start);
  TREL_CHECK(refined.summary.faces_points, "no model faces its inliers: " << refined.summary.points_in_front << " of "
                                               << inliers.size() << " lie in front of the camera at the best pose");
  return make_result<At>(p, std::move(refined), start, first_copy, s.iterations);
}

// estimate_pose on checked input. K: the matrix whose inverse gives the rays
// (the caller's own K for the K overload, camera's pinhole otherwise).
template <typename T>
Pose_estimate_result estimate_on(const Camera_model& camera, const Eigen::Matrix<T, 3, 3>& K,
                                 const Correspondences& in, const Pose_estimate_options& o) {
  std::vector<std::size_t> first_copy;
  const std::vector<std::size_t> distinct = distinct_correspondences(in, first_copy);
  const Problem<T> p = make_problem(camera, K, in, distinct, o);
  if (p.distorted) return search_and_refine<Lens_camera_at_pose<T>>(p, first_copy, o);
  return search_and_refine<Pinhole_at_pose<T>>(p, first_copy, o);
}

// The camera as make_camera_model gives it: checked (finite K, focal lengths
// not 0, coefficients make_lens_distortion takes) and in its own form.
Camera_model checked_camera(const Camera_model& camera) {
  return make_camera_model(camera_matrix_of(camera), distortion_of(camera), camera.lens.model == Lens_model::fisheye);
}

}  // namespace

Pose_estimate_result estimate_pose(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                                   const std::vector<std::vector<double>>& observations,
                                   const Pose_estimate_options& options) {
  check_input(K, points, observations, options);
  // The pinhole of K (make_camera_model(K) without its checks: K's own checks
  // above and in make_problem keep their words).
  Camera_model camera;
  Eigen::Matrix3d K_full = Eigen::Matrix3d::Identity();
  if (!options.bearing) {
    camera.pinhole = pinhole_from(K);  // a K(3,3) of 0 is refused in make_problem as singular
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) K_full(r, c) = K[r][c];
  }
  const std::size_t width = options.bearing ? 3 : 2;
  const std::vector<double> flat_points = flatten_rows(points, 3, "point");
  const std::vector<double> flat_observations = flatten_rows(observations, static_cast<int>(width), "observation");
  const Correspondences in{Points_view(flat_points), flat_observations.data(), width};
  return estimate_on(camera, K_full, in, options);
}

Pose_estimate_result estimate_pose(const Camera_model& camera, const Points_view& points,
                                   const Values_view& observations, const Pose_estimate_options& options) {
  check_flat_input(points, observations, options);
  const Camera_model checked = options.bearing ? Camera_model() : checked_camera(camera);
  Eigen::Matrix3d K = Eigen::Matrix3d::Identity();
  const matrix<double> K_checked = camera_matrix_of(checked);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) K(r, c) = K_checked[r][c];
  const Correspondences in{points, observations.begin(), options.bearing ? std::size_t(3) : std::size_t(2)};
  return estimate_on(checked, K, in, options);
}

}  // namespace trel
