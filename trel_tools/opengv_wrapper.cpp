#include "trel_tools/opengv_wrapper.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <sstream>
#include <string>
#include <utility>

#include <opengv/absolute_pose/CentralAbsoluteAdapter.hpp>
#include <opengv/absolute_pose/methods.hpp>
#include <opengv/types.hpp>

#include <Eigen/Eigenvalues>

#include "trel_pose/camera_model.h"
#include "trel_tools/exception_l.h"

namespace trel {
namespace {

// Bearing vectors whose pairwise sines all stay below this are one direction:
// OpenGV's UPnP then has nothing to solve and, for exactly equal vectors,
// crashes inside its Gauss-Jordan elimination.
constexpr double kParallelSine = 1e-12;

template <class T>
bool all_finite(const matrix<T>& m) {
  for (unsigned i = 0; i < m.get_dim1(); ++i)
    for (unsigned j = 0; j < m.get_dim2(); ++j)
      if (!std::isfinite(m[i][j])) return false;
  return true;
}

// Singular values of K, largest first; K is 3 x 3 and finite.
template <class T>
cv::Vec<T, 3> singular_values(const matrix<T>& K) {
  cv::Matx<T, 3, 3> k;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) k(r, c) = K[r][c];
  cv::Vec<T, 3> sigma;
  cv::SVD::compute(k, sigma);
  return sigma;
}

// Every check of the all-candidates upnp, in the documented order; `signature`
// names the public function in the error frame.
void check_inputs(const char* signature, const matrix<double>& points_2d, const matrix<double>& points_3d,
                  const matrix<double>& K, const std::vector<matrix<double>>& rotations,
                  const std::vector<std::vector<double>>& translations) {
  if (points_3d.get_dim2() != 3)
    TREL_THROW_AS(signature, "3d points vector had size " << points_3d.get_dim1() << " by " << points_3d.get_dim2()
                                                          << " (should be Npoints by 3)");
  if (points_2d.get_dim2() != 2)
    TREL_THROW_AS(signature, "2d points vector had size " << points_2d.get_dim1() << " by " << points_2d.get_dim2()
                                                          << " (should be Npoints by 2)");
  if (points_2d.get_dim1() != points_3d.get_dim1())
    TREL_THROW_AS(signature, "2d points vector had " << points_2d.get_dim1() << " rows while 3d points vector had "
                                                     << points_3d.get_dim1()
                                                     << " (should be the same number of points)");
  if (points_3d.get_dim1() < kUpnpMinPoints)
    TREL_THROW_AS(signature, "upnp needs at least " << kUpnpMinPoints << " point correspondences, got "
                                                    << points_3d.get_dim1());
  if (K.get_dim1() != 3 || K.get_dim2() != 3)
    TREL_THROW_AS(signature, "camera matrix K had size " << K.get_dim1() << " by " << K.get_dim2()
                                                         << " (should be 3 by 3)");
  if (!all_finite(points_2d) || !all_finite(points_3d) || !all_finite(K))
    TREL_THROW_AS(signature, "2d points, 3d points and camera matrix K must all be finite");
  // The rank rule of the SVD inverse: a singular value at or below
  // 2 * epsilon * (their sum) is zero, and K^-1 would be a pseudo-inverse.
  const cv::Vec3d sigma = singular_values(K);
  if (!(sigma[2] > 2 * std::numeric_limits<double>::epsilon() * (sigma[0] + sigma[1] + sigma[2])))
    TREL_THROW_AS(signature, "camera matrix K cannot be inverted (singular values " << sigma[0] << ", " << sigma[1]
                                                                                   << ", " << sigma[2] << ")");
  std::vector<std::vector<double>> points(points_3d.get_dim1());
  for (unsigned j = 0; j < points_3d.get_dim1(); ++j) points[j] = {points_3d[j][0], points_3d[j][1], points_3d[j][2]};
  const std::string degeneracy = detail::upnp_point_degeneracy(points);
  if (!degeneracy.empty()) TREL_THROW_AS(signature, degeneracy);
  if (!rotations.empty() && !translations.empty() &&
      (rotations[0].get_dim1() != 3 || rotations[0].get_dim2() != 3 || translations[0].size() != 3))
    TREL_THROW_AS(signature, "start rotation had size " << rotations[0].get_dim1() << " by "
                                                        << rotations[0].get_dim2() << " and start translation "
                                                        << translations[0].size()
                                                        << " elements (should be 3 by 3 and 3)");
}

// Unit vectors along K^-1 (u, v, 1); K is checked and invertible.
opengv::bearingVectors_t make_bearing_vectors(const matrix<double>& points_2d, const matrix<double>& K) {
  const matrix<double> K_inv = K.invert();
  opengv::bearingVectors_t bearing_vectors;
  bearing_vectors.reserve(points_2d.get_dim1());
  for (unsigned j = 0; j < points_2d.get_dim1(); ++j) {
    const double u = points_2d[j][0], v = points_2d[j][1];
    const opengv::bearingVector_t ray(K_inv[0][0] * u + K_inv[0][1] * v + K_inv[0][2],
                                      K_inv[1][0] * u + K_inv[1][1] * v + K_inv[1][2],
                                      K_inv[2][0] * u + K_inv[2][1] * v + K_inv[2][2]);
    bearing_vectors.push_back(ray.normalized());
  }
  return bearing_vectors;
}

bool all_parallel(const opengv::bearingVectors_t& bearing_vectors) {
  for (const opengv::bearingVector_t& b : bearing_vectors)
    if (b.cross(bearing_vectors.front()).norm() > kParallelSine) return false;
  return true;
}

detail::Upnp_adapter_contents read_adapter(const opengv::absolute_pose::CentralAbsoluteAdapter& adapter) {
  detail::Upnp_adapter_contents contents;
  const int n = static_cast<int>(adapter.getNumberCorrespondences());
  contents.bearing_vectors.set_size(n, 3);
  contents.points.set_size(n, 3);
  for (int j = 0; j < n; ++j)
    for (int c = 0; c < 3; ++c) {
      contents.bearing_vectors[j][c] = adapter.getBearingVector(j)(c);
      contents.points[j][c] = adapter.getPoint(j)(c);
    }
  contents.rotation.set_size(3, 3);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) contents.rotation[r][c] = adapter.getR()(r, c);
  contents.translation = {adapter.gett()(0), adapter.gett()(1), adapter.gett()(2)};
  return contents;
}

void all_candidates(const char* signature, const matrix<double>& points_2d, const matrix<double>& points_3d,
                    const matrix<double>& K, std::vector<matrix<double>>& rotations,
                    std::vector<std::vector<double>>& translations, const detail::Upnp_adapter_probe& probe) {
  check_inputs(signature, points_2d, points_3d, K, rotations, translations);
  // The adapter keeps references to these two containers: they must outlive
  // the solve below.
  opengv::points_t points;
  points.reserve(points_3d.get_dim1());
  for (unsigned j = 0; j < points_3d.get_dim1(); ++j)
    points.emplace_back(points_3d[j][0], points_3d[j][1], points_3d[j][2]);
  const opengv::bearingVectors_t bearing_vectors = make_bearing_vectors(points_2d, K);
  if (all_parallel(bearing_vectors))
    TREL_THROW_AS(signature, "all " << bearing_vectors.size()
                                    << " bearing vectors are parallel: the pose is undetermined");

  opengv::absolute_pose::CentralAbsoluteAdapter adapter(bearing_vectors, points);
  if (!rotations.empty() && !translations.empty()) {
    opengv::rotation_t start_rotation;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) start_rotation(r, c) = rotations[0][r][c];
    adapter.setR(start_rotation);
    adapter.sett(opengv::translation_t(translations[0][0], translations[0][1], translations[0][2]));
  }
  if (probe) probe(read_adapter(adapter));

  const opengv::transformations_t solutions = opengv::absolute_pose::upnp(adapter);
  std::vector<matrix<double>> found_rotations(solutions.size(), matrix<double>(3, 3));
  std::vector<std::vector<double>> found_translations(solutions.size(), std::vector<double>(3));
  for (std::size_t k = 0; k < solutions.size(); ++k)
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) found_rotations[k][r][c] = solutions[k](r, c);
      found_translations[k][r] = solutions[k](r, 3);
    }
  rotations.swap(found_rotations);
  translations.swap(found_translations);
}

// Sum over all points of the squared pixel residual of the camera model; infinity
// when a point is at or behind the camera or the sum is not finite.
template <class T>
T reprojection_score(const matrix<T>& points_2d, const matrix<T>& points_3d, const matrix<T>& K, const matrix<T>& R,
                     const std::vector<T>& t) {
  const T infinity = std::numeric_limits<T>::infinity();
  T K9[9], R_cam_to_world[9];
  for (unsigned r = 0; r < 3; ++r)
    for (unsigned c = 0; c < 3; ++c) {
      K9[3 * r + c] = K[r][c];
      R_cam_to_world[3 * r + c] = R[r][c];
    }
  const Pinhole_at_pose<T> at(pinhole_from<T>(K9), R_cam_to_world);
  T sum = 0;
  for (unsigned j = 0; j < points_3d.get_dim1(); ++j) {
    const T X[3] = {points_3d[j][0], points_3d[j][1], points_3d[j][2]};
    if (!(at.depth(X, t.data()) > 0)) return infinity;
    T pixel[2];
    at.pixel(X, t.data(), pixel);
    const T du = pixel[0] - points_2d[j][0];
    const T dv = pixel[1] - points_2d[j][1];
    sum += du * du + dv * dv;
  }
  return std::isfinite(sum) ? sum : infinity;
}

}  // namespace

void upnp(const matrix<double>& points_2d, const matrix<double>& points_3d, const matrix<double>& K,
          std::vector<matrix<double>>& rotations, std::vector<std::vector<double>>& translations) {
  all_candidates(TREL_FUNCTION_SIGNATURE, points_2d, points_3d, K, rotations, translations,
                 detail::Upnp_adapter_probe());
}

void upnp(const matrix<double>& points_2d, const matrix<double>& points_3d, const matrix<double>& K,
          matrix<double>& R, std::vector<double>& t) {
  guarded(TREL_FRAME, [&] {
    std::vector<matrix<double>> rotations;
    std::vector<std::vector<double>> translations;
    if (R.get_dim1() == 3 && R.get_dim2() == 3 && t.size() == 3) {
      rotations.push_back(R);
      translations.push_back(t);
    }
    upnp(points_2d, points_3d, K, rotations, translations);
    detail::select_best_candidate(points_2d, points_3d, K, rotations, translations, R, t);
  });
}

namespace detail {

std::string upnp_point_degeneracy(const std::vector<std::vector<double>>& points) {
  const std::size_t n = points.size();
  if (n == 0) return "no 3d points";
  Eigen::Vector3d centroid = Eigen::Vector3d::Zero();
  for (const std::vector<double>& X : points) centroid += Eigen::Vector3d(X[0], X[1], X[2]) / static_cast<double>(n);
  double extent = 0.0;
  for (const std::vector<double>& X : points)
    extent = std::max(extent, (Eigen::Vector3d(X[0], X[1], X[2]) - centroid).cwiseAbs().maxCoeff());
  std::ostringstream os;
  if (!(extent > kUpnpCoincidentTolerance * centroid.cwiseAbs().maxCoeff())) {
    os << "the " << n << " 3d points coincide (extent " << extent << " about " << centroid.transpose()
       << "): no pose can be estimated from them";
    return os.str();
  }
  // (DBL_MIN)^(1/4) and (DBL_MAX)^(1/4).
  const double smallest = std::sqrt(std::sqrt(std::numeric_limits<double>::min()));
  const double largest = std::sqrt(std::sqrt(std::numeric_limits<double>::max()));
  if (!(extent > smallest && extent < largest)) {
    os << "the 3d points have an extent of " << extent << ", outside what UPnP can take (" << smallest << " to "
       << largest << "): rescale them";
    return os.str();
  }
  // Scatter of the centred points scaled by the extent (no under- or overflow).
  Eigen::Matrix3d scatter = Eigen::Matrix3d::Zero();
  for (const std::vector<double>& X : points) {
    const Eigen::Vector3d d = (Eigen::Vector3d(X[0], X[1], X[2]) - centroid) / extent;
    scatter += d * d.transpose();
  }
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(scatter, Eigen::EigenvaluesOnly);
  const double first = std::sqrt(std::max(eigen.eigenvalues()[2], 0.0));
  const double second = std::sqrt(std::max(eigen.eigenvalues()[1], 0.0));
  if (!(second > kUpnpCollinearTolerance * first)) {
    os << "the " << n << " 3d points are (nearly) collinear or all but one coincide (second principal spread "
       << second / first << " of the first): the pose is not unique";
    return os.str();
  }
  return std::string();
}

void upnp_probed(const matrix<double>& points_2d, const matrix<double>& points_3d, const matrix<double>& K,
                 std::vector<matrix<double>>& rotations, std::vector<std::vector<double>>& translations,
                 const Upnp_adapter_probe& probe) {
  all_candidates(TREL_FUNCTION_SIGNATURE, points_2d, points_3d, K, rotations, translations, probe);
}

void select_best_candidate(const matrix<double>& points_2d, const matrix<double>& points_3d, const matrix<double>& K,
                           const std::vector<matrix<double>>& rotations,
                           const std::vector<std::vector<double>>& translations, matrix<double>& R,
                           std::vector<double>& t) {
  if (rotations.size() != translations.size())
    TREL_THROW(rotations.size() << " candidate rotations but " << translations.size() << " translations");
  if (rotations.empty()) {
    R.clear();
    t.clear();
    return;
  }
  std::size_t best = 0;
  double best_score = std::numeric_limits<double>::infinity();
  for (std::size_t k = 0; k < rotations.size(); ++k) {
    if (rotations[k].get_dim1() != 3 || rotations[k].get_dim2() != 3 || translations[k].size() != 3)
      TREL_THROW("candidate " << k << " had a " << rotations[k].get_dim1() << " by " << rotations[k].get_dim2()
                              << " rotation and " << translations[k].size()
                              << " translation values (should be 3 by 3 and 3)");
    const double score = reprojection_score(points_2d, points_3d, K, rotations[k], translations[k]);
    if (score < best_score) {
      best = k;
      best_score = score;
    }
  }
  if (best_score == std::numeric_limits<double>::infinity())
    TREL_THROW("none of the " << rotations.size()
                              << " candidate poses puts every point in front of the camera with a finite"
                                 " reprojection error");
  R = rotations[best];
  t = translations[best];
}

}  // namespace detail
}  // namespace trel
