#include "trel_pose/lens_distortion.h"

#include <algorithm>
#include <cmath>

#include "trel_tools/exception_l.h"

namespace trel {

using lens_detail::distort_radial_tangential;
using lens_detail::fisheye_angle;
using lens_detail::radial_factor;

namespace {

// Samples of the radial map checked for a fold between the centre and a point.
constexpr int kFoldSamples = 64;

// true when the radial map r -> r a(r^2) grows all the way from 0 to r. Its
// slope is g(s) = a + 2 s a'(s), s = r^2; without the denominator (k4 = k5 =
// k6 = 0) g = 1 + 3 k1 s + 5 k2 s^2 + 7 k3 s^3, at least 1 - 3 |k1| s -
// 5 |k2| s^2 - 7 |k3| s^3 on [0, s], which is decreasing: where that bound is
// positive at r the map grows, and the samples are not needed.
template <typename T>
bool radial_map_grows(const T* k, T r) {
  const T s = r * r;
  if (k[5] == T(0) && k[6] == T(0) && k[7] == T(0) &&
      T(1) - s * (T(3) * std::fabs(k[0]) + s * (T(5) * std::fabs(k[1]) + s * T(7) * std::fabs(k[4]))) > T(0))
    return true;
  for (int j = 1; j <= kFoldSamples; ++j) {
    const T rho = r * T(j) / T(kFoldSamples);
    T a, da;
    radial_factor(k, rho * rho, a, da);
    if (!(a + T(2) * rho * rho * da > T(0))) return false;
  }
  return true;
}

template <typename T>
bool undistort_radial_tangential(const Lens_distortion<T>& lens, T xd, T yd, T& x, T& y) {
  x = xd;
  y = yd;
  T fx, fy, J[4];
  distort_radial_tangential(lens.k, x, y, fx, fy, J);
  T residual = std::hypot(fx - xd, fy - yd);
  for (int i = 0; i < kUndistortMaxIterations && residual > T(kUndistortTolerance); ++i) {
    const T det = J[0] * J[3] - J[1] * J[2];
    if (!(std::fabs(det) > T(0)) || !std::isfinite(det)) return false;
    const T ex = fx - xd, ey = fy - yd;
    T dx = (J[3] * ex - J[1] * ey) / det, dy = (J[0] * ey - J[2] * ex) / det;
    for (int halving = 0;; ++halving) {
      T nx, ny, nJ[4];
      distort_radial_tangential(lens.k, x - dx, y - dy, nx, ny, nJ);
      const T next = std::hypot(nx - xd, ny - yd);
      if (next < residual || halving == 20) {
        x -= dx, y -= dy, fx = nx, fy = ny, residual = next;
        std::copy(nJ, nJ + 4, J);
        break;
      }
      dx /= T(2), dy /= T(2);
    }
  }
  if (!(residual <= T(kUndistortTolerance))) return false;
  return J[0] * J[3] - J[1] * J[2] > T(0) && radial_map_grows(lens.k, std::hypot(x, y));
}

template <typename T>
bool undistort_fisheye(const Lens_distortion<T>& lens, T xd, T yd, T& x, T& y) {
  const T target = std::hypot(xd, yd);
  if (target == T(0)) {
    x = y = T(0);
    return true;
  }
  const T half_pi = T(std::acos(-1.0) / 2);
  T theta = std::min(target, T(0.999) * half_pi);
  T value, slope;
  fisheye_angle(lens.k, theta, value, slope);
  for (int i = 0; i < kUndistortMaxIterations && std::fabs(value - target) > T(kUndistortTolerance); ++i) {
    if (!(slope > T(0))) return false;
    theta = std::min(std::max(theta - (value - target) / slope, T(0)), T(0.999) * half_pi);
    fisheye_angle(lens.k, theta, value, slope);
  }
  if (!(std::fabs(value - target) <= T(kUndistortTolerance))) return false;
  // theta_d must grow from 0 up to theta: its slope 1 + 3 k1 t^2 + 5 k2 t^4 +
  // 7 k3 t^6 + 9 k4 t^8 is at least 1 - 3 |k1| t^2 - ... on [0, theta], which
  // decreases; where that bound is positive at theta no sample is needed.
  const T t2 = theta * theta;
  const bool grows = T(1) - t2 * (T(3) * std::fabs(lens.k[0]) +
                                  t2 * (T(5) * std::fabs(lens.k[1]) +
                                        t2 * (T(7) * std::fabs(lens.k[2]) + t2 * T(9) * std::fabs(lens.k[3])))) >
                     T(0);
  for (int j = 1; !grows && j <= kFoldSamples; ++j) {
    T v, d;
    fisheye_angle(lens.k, theta * T(j) / T(kFoldSamples), v, d);
    if (!(d > T(0))) return false;
  }
  const T scale = std::tan(theta) / target;
  x = xd * scale;
  y = yd * scale;
  return std::isfinite(x) && std::isfinite(y);
}

}  // namespace

template <typename T>
bool Lens_distortion<T>::is_identity() const {
  // The fisheye model with every coefficient 0 is still the equidistant
  // projection (theta_d = theta), not the pinhole.
  return model == Lens_model::none ||
         (model == Lens_model::radial_tangential && std::all_of(k, k + 8, [](T v) { return v == T(0); }));
}

Lens_distortion<double> make_lens_distortion(const std::vector<double>& coefficients, bool fisheye) {
  const std::size_t n = coefficients.size();
  if (fisheye)
    TREL_CHECK(n == 4, "a fisheye model takes 4 distortion coefficients (k1 k2 k3 k4), got " << n);
  else
    TREL_CHECK(n == 0 || n == 4 || n == 5 || n == 8,
               "distortion takes 4, 5 or 8 coefficients in OpenCV's order (k1 k2 p1 p2 [k3 [k4 k5 k6]]), got " << n);
  for (std::size_t i = 0; i < n; ++i)
    TREL_CHECK(std::isfinite(coefficients[i]), "distortion coefficient " << i << " is not finite: " << coefficients[i]);
  Lens_distortion<double> lens;
  lens.model = n == 0 ? Lens_model::none : fisheye ? Lens_model::fisheye : Lens_model::radial_tangential;
  std::copy(coefficients.begin(), coefficients.end(), lens.k);
  return lens;
}

template <typename T>
bool undistort(const Lens_distortion<T>& lens, T xd, T yd, T& x, T& y) {
  if (!std::isfinite(xd) || !std::isfinite(yd)) return false;
  switch (lens.model) {
    case Lens_model::radial_tangential:
      return undistort_radial_tangential(lens, xd, yd, x, y);
    case Lens_model::fisheye:
      return undistort_fisheye(lens, xd, yd, x, y);
    case Lens_model::none:
      break;
  }
  x = xd;
  y = yd;
  return true;
}

template struct Lens_distortion<double>;
template bool undistort<double>(const Lens_distortion<double>&, double, double, double&, double&);

}  // namespace trel
