#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <utility>

#include <Eigen/Cholesky>
#include <Eigen/Core>
#include <Eigen/Eigenvalues>
#include <Eigen/Geometry>
#include <opengv/absolute_pose/NoncentralAbsoluteAdapter.hpp>
#include <opengv/absolute_pose/methods.hpp>

#include "trel_pose/pose_sampling.h"
#include "trel_pose/lens_projector.h"
#include "trel_pose/rig_pose.h"
#include "trel_tools/exception_l.h"
#include "trel_tools/rotation.h"

namespace trel {
namespace {

// The tolerances of estimate_pose's degeneracy tests.
constexpr double kCoincidentTolerance = 1e-10;      // spread of the world points against their distance from 0
constexpr double kCollinearTolerance = 1e-6;        // second against first principal spread
constexpr double kSampleCollinearTolerance = 1e-6;  // sine of the angle at the sample's first point
constexpr double kParallelRaysTolerance = 1e-9;     // sine of the angle between two rays
constexpr double kRotationTolerance = 1e-6;         // largest element of R^T R - I
constexpr int kLocalOptimisationSteps = 2;          // Gauss-Newton steps of a local optimisation
constexpr int kFinalFitSteps = 5;                   // Gauss-Newton steps of the fit on the final inliers
constexpr std::size_t kLocalOptimisationMinInliers = 6;

template <typename T>
using Vector3 = Eigen::Matrix<T, 3, 1>;
template <typename T>
using Matrix3 = Eigen::Matrix<T, 3, 3>;

// A rig pose: R_rig_to_world and the rig centre in world.
template <typename T>
struct Rig_model {
  Matrix3<T> R;
  Vector3<T> t;
};

// The distinct correspondences as the search uses them. The rays of the
// pixels that undistort (has_ray) are the samples' correspondences, in
// OpenGV's non-central form: the camera-frame bearing, its camera, and each
// camera's offset and rotation in the rig.
template <typename T>
struct Rig_problem {
  const Rig* rig = nullptr;
  std::vector<Vector3<T>> points;
  std::vector<Eigen::Matrix<T, 2, 1>> observed;
  std::vector<int> camera;
  std::vector<unsigned char> has_ray;
  std::vector<std::size_t> usable;  // the correspondences with a ray, in order
  opengv::bearingVectors_t bearings;
  opengv::points_t sample_points;
  std::vector<int> sample_cameras;
  opengv::translations_t offsets;
  opengv::rotations_t rotations;
  T threshold2 = 0;
  int min_inliers = 0;
  int undistort_failures = 0;
};

// Every camera of the rig at one rig pose.
template <typename T>
struct Rig_at_pose {
  std::vector<Lens_camera_at_pose<T>> views;
  std::vector<Vector3<T>> centres;
};

template <typename T>
Rig_at_pose<T> at_pose(const Rig& rig, const Rig_model<T>& m) {
  Rig_at_pose<T> at;
  at.views.reserve(rig.cameras.size());
  at.centres.reserve(rig.cameras.size());
  for (const Rig_camera& c : rig.cameras) {
    const Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>> R_cam_to_rig(c.R_cam_to_rig);
    const Eigen::Matrix<T, 3, 3, Eigen::RowMajor> R_cam_to_world = m.R * R_cam_to_rig.template cast<T>();
    at.views.emplace_back(c.model, R_cam_to_world.data());
    at.centres.push_back(m.t + m.R * Eigen::Map<const Vector3<double>>(c.centre_in_rig).template cast<T>());
  }
  return at;
}

template <typename T>
bool is_valid_model(const Rig_model<T>& m) {
  if (!m.R.allFinite() || !m.t.allFinite()) return false;
  const Matrix3<T> e = m.R.transpose() * m.R - Matrix3<T>::Identity();
  return e.cwiseAbs().maxCoeff() < kRotationTolerance && m.R.determinant() > 0;
}

// Squared pixel error of correspondence i, or -1 when it has no ray or its
// point is at or behind its camera.
template <typename T>
T squared_error(const Rig_problem<T>& p, const Rig_at_pose<T>& at, std::size_t i) {
  if (!p.has_ray[i]) return T(-1);
  const std::size_t c = static_cast<std::size_t>(p.camera[i]);
  const T* X = p.points[i].data();
  if (!at.views[c].sees(X, at.centres[c].data())) return T(-1);
  T pixel[2];
  at.views[c].pixel(X, at.centres[c].data(), pixel);
  const T du = pixel[0] - p.observed[i].x(), dv = pixel[1] - p.observed[i].y();
  const T e2 = du * du + dv * dv;
  return std::isfinite(e2) ? e2 : T(-1);
}

// Truncated squared errors summed (a correspondence without a ray or behind
// its camera costs the threshold); infinity once the sum exceeds cutoff.
template <typename T>
T model_cost(const Rig_problem<T>& p, const Rig_model<T>& m, T cutoff) {
  const Rig_at_pose<T> at = at_pose(*p.rig, m);
  T cost = 0;
  for (std::size_t i = 0; i < p.points.size(); ++i) {
    const T e2 = squared_error(p, at, i);
    cost += e2 < 0 ? p.threshold2 : std::min(e2, p.threshold2);
    if (cost > cutoff) return std::numeric_limits<T>::infinity();
  }
  return cost;
}

template <typename T>
std::vector<int> model_inliers(const Rig_problem<T>& p, const Rig_model<T>& m) {
  const Rig_at_pose<T> at = at_pose(*p.rig, m);
  std::vector<int> inliers;
  for (std::size_t i = 0; i < p.points.size(); ++i) {
    const T e2 = squared_error(p, at, i);
    if (e2 >= 0 && e2 < p.threshold2) inliers.push_back(static_cast<int>(i));
  }
  return inliers;
}

// One Gauss-Newton step of the squared pixel errors of the given
// correspondences from m: R <- exp([delta]x) R, t <- t + dt, each row's
// Jacobian (a x v, -a) with v the point less the rig centre.
template <typename T>
bool gauss_newton_step(const Rig_problem<T>& p, const std::vector<int>& inliers, Rig_model<T>& m) {
  const Rig_at_pose<T> at = at_pose(*p.rig, m);
  Eigen::Matrix<T, 6, 6> normal = Eigen::Matrix<T, 6, 6>::Zero();
  Eigen::Matrix<T, 6, 1> gradient = Eigen::Matrix<T, 6, 1>::Zero();
  for (int i : inliers) {
    const std::size_t c = static_cast<std::size_t>(p.camera[i]);
    T v[3], pixel[2], a[2][3];
    at.views[c].rows(p.points[i].data(), at.centres[c].data(), v, pixel, a);
    const Vector3<T> v_rig = p.points[i] - m.t;
    for (int r = 0; r < 2; ++r) {
      const Vector3<T> ar(a[r][0], a[r][1], a[r][2]);
      Eigen::Matrix<T, 6, 1> row;
      row << ar.cross(v_rig), -ar;
      normal += row * row.transpose();
      gradient += row * (pixel[r] - p.observed[i][r]);
    }
  }
  const Eigen::Matrix<T, 6, 1> step = normal.ldlt().solve(-gradient);
  if (!step.allFinite()) return false;
  const Vector3<T> delta = step.template head<3>();
  const T angle = delta.norm();
  if (angle > 0) m.R = Eigen::AngleAxis<T>(angle, delta / angle).toRotationMatrix() * m.R;
  m.t += step.template tail<3>();
  return true;
}

// steps Gauss-Newton steps on the given correspondences from m; the result
// replaces m when its truncated cost is below cost.
template <typename T>
bool refit(const Rig_problem<T>& p, const std::vector<int>& inliers, int steps, Rig_model<T>& m, T& cost) {
  Rig_model<T> x = m;
  for (int s = 0; s < steps; ++s)
    if (!gauss_newton_step(p, inliers, x)) return false;
  if (!is_valid_model(x)) return false;
  const T c = model_cost(p, x, cost);
  if (!(c < cost)) return false;
  cost = c;
  m = x;
  return true;
}

// A sample whose points (nearly) lie on one line, or two of whose rays of one
// camera (nearly) coincide, has no unique pose.
template <typename T>
bool is_degenerate_sample(const Rig_problem<T>& p, const int idx[3]) {
  const Vector3<T> a = p.sample_points[idx[1]] - p.sample_points[idx[0]];
  const Vector3<T> b = p.sample_points[idx[2]] - p.sample_points[idx[0]];
  if (!(a.cross(b).norm() > kSampleCollinearTolerance * a.norm() * b.norm())) return true;
  for (int i = 0; i < 3; ++i) {
    const int j = idx[(i + 1) % 3];
    if (p.sample_cameras[idx[i]] == p.sample_cameras[j] &&
        !(p.bearings[idx[i]].cross(p.bearings[j]).norm() > kParallelRaysTolerance))
      return true;
  }
  return false;
}

template <typename T>
bool in_front_of(const Rig_problem<T>& p, const Rig_model<T>& m, const int idx[3]) {
  const Rig_at_pose<T> at = at_pose(*p.rig, m);
  for (int k = 0; k < 3; ++k) {
    const std::size_t i = p.usable[static_cast<std::size_t>(idx[k])];
    const std::size_t c = static_cast<std::size_t>(p.camera[i]);
    if (!at.views[c].sees(p.points[i].data(), at.centres[c].data())) return false;
  }
  return true;
}

template <typename T>
struct Search {
  Rig_model<T> best{Matrix3<T>::Identity(), Vector3<T>::Zero()};
  T best_cost = std::numeric_limits<T>::infinity();
  std::size_t best_inliers = 0;
  bool best_fitted = false;  // best comes from a least-squares fit on its inliers
  int iterations = 0;
};

// gp3p on the sample: its best valid candidate in front of the sample's
// cameras replaces the search's best when it costs less.
template <typename T>
bool try_sample(const Rig_problem<T>& p, const opengv::absolute_pose::NoncentralAbsoluteAdapter& adapter,
                const int idx[3], Search<T>& s) {
  bool improved = false;
  for (const opengv::transformation_t& tr :
       opengv::absolute_pose::gp3p(adapter, static_cast<std::size_t>(idx[0]), static_cast<std::size_t>(idx[1]),
                                   static_cast<std::size_t>(idx[2]))) {
    const Rig_model<T> candidate{tr.template block<3, 3>(0, 0), tr.col(3)};
    if (!is_valid_model(candidate) || !in_front_of(p, candidate, idx)) continue;
    const T cost = model_cost(p, candidate, s.best_cost);
    if (cost < s.best_cost) {
      s.best_cost = cost;
      s.best = candidate;
      improved = true;
    }
  }
  return improved;
}

template <typename T>
std::vector<int> optimise_locally(const Rig_problem<T>& p, Search<T>& s) {
  std::vector<int> inliers = model_inliers(p, s.best);
  s.best_fitted = inliers.size() >= kLocalOptimisationMinInliers &&
                  refit(p, inliers, kLocalOptimisationSteps, s.best, s.best_cost);
  return s.best_fitted ? model_inliers(p, s.best) : inliers;
}

template <typename T>
Search<T> random_search(const Rig_problem<T>& p, const Pose_estimate_options& o) {
  const opengv::absolute_pose::NoncentralAbsoluteAdapter adapter(p.bearings, p.sample_cameras, p.sample_points,
                                                                  p.offsets, p.rotations);
  const std::size_t n = p.points.size();
  std::mt19937 random(o.seed);
  std::uniform_int_distribution<int> pick(0, static_cast<int>(p.usable.size()) - 1);
  Search<T> s;
  int bound = o.max_iterations;
  while (s.iterations < std::max(bound, o.min_iterations)) {
    if (o.interrupted && s.iterations % kPoseEstimateInterruptSamples == 0 && s.iterations > 0)
      TREL_CHECK(!o.interrupted(), "estimate_rig_pose was interrupted after " << s.iterations << " samples");
    ++s.iterations;
    int idx[3];
    draw_three([&] { return pick(random); }, idx);
    if (is_degenerate_sample(p, idx) || !try_sample(p, adapter, idx, s)) continue;
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
                                                          << " px, " << p.min_inliers << " needed");
  return s;
}

void check_input(const Rig& rig, const Points_view& points, const Pixels_view& observations,
                 const std::vector<int>& cameras, const Pose_estimate_options& o) {
  o.check();
  TREL_CHECK(!o.bearing, "estimate_rig_pose takes pixels only: options.bearing should be false");
  make_rig(rig.cameras);
  const std::size_t n = points.size();
  TREL_CHECK(observations.size() == n && cameras.size() == n,
             "estimate_rig_pose needs one observation and one camera index per 3D point, got "
                 << n << " points, " << observations.size() << " observations and " << cameras.size()
                 << " camera indices");
  for (std::size_t i = 0; i < n; ++i) {
    TREL_CHECK(cameras[i] >= 0 && static_cast<std::size_t>(cameras[i]) < rig.cameras.size(),
               "camera index " << i << " is " << cameras[i] << ", outside the rig of " << rig.cameras.size()
                               << " cameras");
    TREL_CHECK(std::isfinite(points[i][0]) && std::isfinite(points[i][1]) && std::isfinite(points[i][2]),
               "point " << i << " should hold finite numbers only");
    TREL_CHECK(std::isfinite(observations[i][0]) && std::isfinite(observations[i][1]),
               "observation " << i << " should hold finite numbers only");
  }
}

// The first copy of every distinct correspondence (camera, point and
// observation equal value by value), in input order; first_copy[i] the index
// among them of the copy correspondence i repeats.
std::vector<std::size_t> distinct_correspondences(const Points_view& points, const Pixels_view& observations,
                                                  const std::vector<int>& cameras,
                                                  std::vector<std::size_t>& first_copy) {
  const std::size_t n = points.size();
  const auto key = [&](std::size_t i) {
    return std::make_tuple(cameras[i], points[i][0], points[i][1], points[i][2], observations[i][0],
                           observations[i][1]);
  };
  std::vector<std::size_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return key(a) != key(b) ? key(a) < key(b) : a < b;
  });
  std::vector<std::size_t> representative(n);
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t i = order[k];
    representative[i] = k > 0 && key(i) == key(order[k - 1]) ? representative[order[k - 1]] : i;
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
             "estimate_rig_pose needs at least " << kPoseEstimateMinPoints << " correspondences, got "
                                                 << distinct.size() << (distinct.size() < n ? " distinct" : ""));
  return distinct;
}

// The world points neither coincide nor lie on one line; the rays of the
// samples are not all one ray of the rig.
template <typename T>
void check_spread(const Rig_problem<T>& p) {
  Vector3<T> mean = Vector3<T>::Zero();
  for (const auto& X : p.points) mean += X;
  mean /= static_cast<T>(p.points.size());
  Matrix3<T> scatter = Matrix3<T>::Zero();
  for (const auto& X : p.points) scatter += (X - mean) * (X - mean).transpose();
  scatter /= static_cast<T>(p.points.size());
  const Eigen::SelfAdjointEigenSolver<Matrix3<T>> eigen(scatter, Eigen::EigenvaluesOnly);
  const T first = std::sqrt(std::max<T>(eigen.eigenvalues()[2], 0));
  const T second = std::sqrt(std::max<T>(eigen.eigenvalues()[1], 0));
  TREL_CHECK(first > kCoincidentTolerance * (1 + mean.norm()),
             "the 3D points all coincide: no pose can be estimated from them");
  TREL_CHECK(second > kCollinearTolerance * first, "the 3D points all lie on one line: the pose is not unique");
  TREL_CHECK(p.usable.size() >= static_cast<std::size_t>(kPoseEstimateMinPoints),
             "estimate_rig_pose needs at least " << kPoseEstimateMinPoints << " pixels its cameras can undistort, got "
                                                 << p.usable.size());
  const auto ray = [&](std::size_t k) { return Vector3<T>(p.rotations[p.sample_cameras[k]] * p.bearings[k]); };
  const auto origin = [&](std::size_t k) { return Vector3<T>(p.offsets[p.sample_cameras[k]]); };
  const Vector3<T> d0 = ray(0), o0 = origin(0);
  bool spread = false;
  for (std::size_t k = 1; k < p.usable.size() && !spread; ++k) {
    const Vector3<T> between = origin(k) - o0;
    spread = ray(k).cross(d0).norm() > kParallelRaysTolerance ||
             between.cross(d0).norm() > kParallelRaysTolerance * (1 + between.norm());
  }
  TREL_CHECK(spread, "the observations all lie along one ray: no pose can be estimated from them");
}

// The camera-frame unit bearing of a pixel through the camera's model; false
// where the lens has no inverse.
bool bearing_of(const Camera_model& model, const double* pixel, opengv::bearingVector_t& bearing) {
  const Pinhole_model<double>& k = model.pinhole;
  const double yd = (pixel[1] - k.cy) / k.fy;
  const double xd = (pixel[0] - k.cx - k.skew * yd) / k.fx;
  double x = xd, y = yd;
  if (!model.lens.is_identity() && !undistort(model.lens, xd, yd, x, y)) return false;
  bearing = opengv::bearingVector_t(x, y, 1.0).normalized();
  return bearing.allFinite();
}

template <typename T>
Rig_problem<T> make_problem(const Rig& rig, const Points_view& points, const Pixels_view& observations,
                            const std::vector<int>& cameras, const std::vector<std::size_t>& distinct,
                            const Pose_estimate_options& o) {
  Rig_problem<T> p;
  p.rig = &rig;
  for (const Rig_camera& c : rig.cameras) {
    p.offsets.emplace_back(c.centre_in_rig[0], c.centre_in_rig[1], c.centre_in_rig[2]);
    p.rotations.push_back(Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>>(c.R_cam_to_rig));
  }
  const std::size_t n = distinct.size();
  p.threshold2 = static_cast<T>(o.threshold * o.threshold);
  p.min_inliers = std::max(std::min(static_cast<int>(n), kPoseEstimateMinInliers),
                           static_cast<int>(std::ceil(kPoseEstimateMinInlierShare * static_cast<double>(n))));
  for (std::size_t i : distinct) {
    const int c = cameras[i];
    p.points.emplace_back(points[i][0], points[i][1], points[i][2]);
    p.observed.emplace_back(observations[i][0], observations[i][1]);
    p.camera.push_back(c);
    opengv::bearingVector_t bearing;
    const bool has_ray = bearing_of(rig.cameras[static_cast<std::size_t>(c)].model, observations[i], bearing);
    p.has_ray.push_back(has_ray ? 1 : 0);
    if (!has_ray) {
      ++p.undistort_failures;
      continue;
    }
    p.usable.push_back(p.points.size() - 1);
    p.bearings.push_back(bearing);
    p.sample_points.push_back(p.points.back());
    p.sample_cameras.push_back(c);
  }
  check_spread(p);
  return p;
}

std::vector<double> pose_vector(const Matrix3<double>& R, const Vector3<double>& t) {
  matrix<double> R_rig_to_world(3, 3);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) R_rig_to_world[r][c] = R(r, c);
  std::vector<double> x = rot_mat_to_rot_vec_rad(R_rig_to_world);
  x.insert(x.end(), {t.x(), t.y(), t.z()});
  return x;
}

// The robust refinement (refine_rig_pose, rotation vector) on the given
// inliers from the search's best, for the given iterations (0: the summary at
// the best); start receives its start values.
template <typename T>
Rig_refine_result refine_on_inliers(const Rig_problem<T>& p, const Rig_model<T>& best,
                                    const std::vector<int>& inliers, const Pose_estimate_options& o, int iterations,
                                    std::vector<double>& start) {
  std::vector<double> fit_points, fit_observations;
  std::vector<int> fit_cameras;
  for (int i : inliers) {
    fit_points.insert(fit_points.end(), {p.points[i].x(), p.points[i].y(), p.points[i].z()});
    fit_observations.insert(fit_observations.end(), {p.observed[i].x(), p.observed[i].y()});
    fit_cameras.push_back(p.camera[i]);
  }
  start = pose_vector(best.R, best.t);
  Pose_refine_options refine;
  refine.rotation_code = 0;
  refine.max_iters = iterations;
  refine.min_x_step = 1e-9f;
  refine.loss = o.loss;
  refine.loss_scale = o.loss_scale > 0 ? o.loss_scale : o.threshold;
  return guarded(
      TREL_FRAME,
      [&] {
        return refine_rig_pose(*p.rig, Points_view(fit_points), Pixels_view(fit_observations), fit_cameras, start,
                               refine);
      },
      [&](std::ostream& os) { os << "refining the rig pose on " << inliers.size() << " inliers"; });
}

// Per rig camera: its observations, its inliers (the mask) and their RMS at
// the pose.
template <typename T>
std::vector<Rig_camera_summary> camera_summaries(const Rig_problem<T>& p, const Rig_model<T>& m,
                                                 const std::vector<int>& cameras,
                                                 const std::vector<unsigned char>& distinct_inliers,
                                                 const std::vector<std::size_t>& first_copy) {
  const Rig_at_pose<T> at = at_pose(*p.rig, m);
  std::vector<Rig_camera_summary> summaries(p.rig->cameras.size());
  std::vector<double> sums(summaries.size(), 0.0);
  for (std::size_t i = 0; i < first_copy.size(); ++i) {
    Rig_camera_summary& s = summaries[static_cast<std::size_t>(cameras[i])];
    ++s.points;
    if (!distinct_inliers[first_copy[i]]) continue;
    ++s.inliers;
    sums[static_cast<std::size_t>(cameras[i])] += squared_error(p, at, first_copy[i]);
  }
  for (std::size_t c = 0; c < summaries.size(); ++c)
    summaries[c].rms = summaries[c].inliers > 0 ? std::sqrt(sums[c] / summaries[c].inliers)
                                                : std::numeric_limits<double>::quiet_NaN();
  return summaries;
}

template <typename T>
Rig_estimate_result make_result(const Rig_problem<T>& p, Rig_refine_result refined, const std::vector<double>& start,
                                const std::vector<int>& cameras, const std::vector<std::size_t>& first_copy,
                                int iterations) {
  Rig_estimate_result result;
  result.x = std::all_of(refined.x.begin(), refined.x.end(), [](double v) { return std::isfinite(v); }) &&
                     refined.x.size() == 6
                 ? refined.x
                 : start;
  result.R = rot_vec_rad_to_rot_mat(std::vector<double>(result.x.begin(), result.x.begin() + 3));
  result.centre.assign(result.x.begin() + 3, result.x.end());
  Rig_model<T> final_model;
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
  result.inliers.resize(first_copy.size());
  for (std::size_t i = 0; i < first_copy.size(); ++i) result.inliers[i] = distinct_inliers[first_copy[i]];
  result.num_inliers = static_cast<int>(std::count(result.inliers.begin(), result.inliers.end(), 1));
  result.iterations = iterations;
  result.summary = std::move(refined.summary);
  result.summary.inliers = result.inliers;
  result.summary.undistort_failures = p.undistort_failures;
  result.cameras = camera_summaries(p, final_model, cameras, distinct_inliers, first_copy);
  return result;
}

// Every observation of camera c: estimate_pose on that camera, its pose and
// covariance turned into the rig's. The camera sits at R R_c, t + R t_c, so
// R = R_cam R_c^T and t = centre - R t_c; with R <- exp([delta]x) R on both
// sides delta is shared and dt = dcentre + [R t_c]x delta.
Rig_estimate_result estimate_one_camera(const Rig& rig, int c, const Points_view& points,
                                        const Pixels_view& observations, const Pose_estimate_options& options) {
  const Rig_camera& camera = rig.cameras[static_cast<std::size_t>(c)];
  Pose_estimate_result single = guarded(
      TREL_FRAME,
      [&] { return estimate_pose(camera.model, points, Values_view(observations.data, 2 * observations.size()),
                                 options); },
      [&](std::ostream& os) { os << "every observation is of rig camera " << c; });
  const Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>> R_cam_to_rig(camera.R_cam_to_rig);
  Matrix3<double> R_cam_to_world;
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k) R_cam_to_world(r, k) = single.R[r][k];
  const Matrix3<double> R = R_cam_to_world * R_cam_to_rig.transpose();
  const Vector3<double> offset = R * Eigen::Map<const Vector3<double>>(camera.centre_in_rig);
  const Vector3<double> t = Eigen::Map<const Vector3<double>>(single.centre.data()) - offset;
  Rig_estimate_result result;
  result.x = pose_vector(R, t);
  result.R = rot_vec_rad_to_rot_mat(std::vector<double>(result.x.begin(), result.x.begin() + 3));
  result.centre.assign(result.x.begin() + 3, result.x.end());
  result.inliers = single.inliers;
  result.num_inliers = single.num_inliers;
  result.iterations = single.iterations;
  result.summary = std::move(single.summary);
  if (result.summary.covariance.size() == 36) {
    Eigen::Matrix<double, 6, 6> J = Eigen::Matrix<double, 6, 6>::Identity();
    J.block<3, 3>(3, 0) << 0, -offset.z(), offset.y(), offset.z(), 0, -offset.x(), -offset.y(), offset.x(), 0;
    Eigen::Map<Eigen::Matrix<double, 6, 6, Eigen::RowMajor>> covariance(result.summary.covariance.data());
    const Eigen::Matrix<double, 6, 6> turned = J * covariance * J.transpose();
    covariance = turned;
  }
  result.cameras.resize(rig.cameras.size());
  Rig_camera_summary& seen = result.cameras[static_cast<std::size_t>(c)];
  seen.points = static_cast<int>(points.size());
  seen.inliers = result.num_inliers;
  seen.rms = result.summary.final_rms;
  return result;
}

}  // namespace

Rig_estimate_result estimate_rig_pose(const Rig& rig, const Points_view& points, const Pixels_view& observations,
                                      const std::vector<int>& cameras, const Pose_estimate_options& options) {
  check_input(rig, points, observations, cameras, options);
  std::vector<std::size_t> first_copy;
  const std::vector<std::size_t> distinct = distinct_correspondences(points, observations, cameras, first_copy);
  if (std::all_of(cameras.begin(), cameras.end(), [&](int c) { return c == cameras.front(); }))
    return estimate_one_camera(rig, cameras.front(), points, observations, options);
  const Rig_problem<double> p = make_problem<double>(rig, points, observations, cameras, distinct, options);
  Search<double> s = random_search(p, options);
  std::vector<int> inliers = model_inliers(p, s.best);
  if (inliers.size() >= kLocalOptimisationMinInliers && !s.best_fitted &&
      refit(p, inliers, kFinalFitSteps, s.best, s.best_cost))
    inliers = model_inliers(p, s.best);
  std::vector<double> start;
  Rig_refine_result refined = refine_on_inliers(p, s.best, inliers, options, options.refine_iterations, start);
  // A refinement that leaves the points behind the cameras has failed: the
  // search's pose, which faces its inliers, stands.
  if (!refined.summary.faces_points) refined = refine_on_inliers(p, s.best, inliers, options, 0, start);
  TREL_CHECK(refined.summary.faces_points, "no model faces its inliers: " << refined.summary.points_in_front << " of "
                                               << inliers.size() << " lie in front of their cameras at the best pose");
  return make_result(p, std::move(refined), start, cameras, first_copy, s.iterations);
}

}  // namespace trel
