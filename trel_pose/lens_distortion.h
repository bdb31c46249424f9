#ifndef TREL_POSE_LENS_DISTORTION_H
#define TREL_POSE_LENS_DISTORTION_H

#include <cmath>
#include <vector>

namespace trel {

// The lens models of OpenCV, on normalised image coordinates (x, y) = (X / Z,
// Y / Z) of a camera-frame point; the pixel is then u = fx xd + s yd + cx,
// v = fy yd + cy.
//
// radial_tangential (cv::projectPoints), coefficients k1 k2 p1 p2 [k3 [k4 k5 k6]]
// in OpenCV's order, 4, 5 or 8 of them (the missing ones 0):
//   r2 = x^2 + y^2, a = (1 + k1 r2 + k2 r2^2 + k3 r2^3) / (1 + k4 r2 + k5 r2^2 + k6 r2^3)
//   xd = x a + 2 p1 x y + p2 (r2 + 2 x^2),  yd = y a + p1 (r2 + 2 y^2) + 2 p2 x y
// fisheye (cv::fisheye::projectPoints, equidistant), coefficients k1 k2 k3 k4:
//   r = |(x, y)|, theta = atan(r), theta_d = theta (1 + k1 theta^2 + k2 theta^4 + k3 theta^6 + k4 theta^8)
//   (xd, yd) = theta_d / r (x, y)
// none: (xd, yd) = (x, y).
enum class Lens_model { none, radial_tangential, fisheye };

template <typename T>
struct Lens_distortion {
  Lens_model model = Lens_model::none;
  // radial_tangential: k1 k2 p1 p2 k3 k4 k5 k6; fisheye: k1 k2 k3 k4 (the rest 0).
  T k[8] = {};
  // true when distort and undistort are the identity: no model, or the
  // radial-tangential model with every coefficient 0 (a fisheye model never is).
  bool is_identity() const;
};

// The model of OpenCV's coefficient vector: 4, 5 or 8 values for the
// radial-tangential model, 4 for fisheye; no values: Lens_model::none. Throws
// exception_l on another count or a value that is not finite.
Lens_distortion<double> make_lens_distortion(const std::vector<double>& coefficients, bool fisheye);

// (xd, yd) of the normalised point (x, y); J, when not null, receives the
// row-major 2 x 2 Jacobian d(xd, yd) / d(x, y).
template <typename T>
inline void distort(const Lens_distortion<T>& lens, T x, T y, T& xd, T& yd, T J[4] = nullptr);

// Undistortion: Newton's method on distort(x, y) = (xd, yd) from (xd, yd),
// each step halved while it does not lower the residual, until the residual
// is below kUndistortTolerance (normalised units: about 1e-9 px for a focal
// length of 1000 px) within kUndistortMaxIterations steps.
constexpr double kUndistortTolerance = 1e-12;
constexpr int kUndistortMaxIterations = 40;

// (x, y) with distort(x, y) = (xd, yd). Returns false, with (x, y) unspecified,
// where the model has no inverse there: Newton does not converge, or converges
// to a point beyond the radius at which the model folds over (its radial map
// stops growing, or the Jacobian's determinant is not positive), so that the
// point found is not the one a lens would have imaged at (xd, yd). Such
// pixels are to be left out, never used.
template <typename T>
bool undistort(const Lens_distortion<T>& lens, T xd, T yd, T& x, T& y);

extern template bool undistort<double>(const Lens_distortion<double>&, double, double, double&, double&);
extern template struct Lens_distortion<double>;

// The models' formulas, inline: the pose jobs call distort once per point and step.
namespace lens_detail {

// Below this radius the fisheye terms are taken from their series.
constexpr double kFisheyeSmallRadius = 1e-8;

// The rational radial factor a(r2) and its derivative da / dr2.
template <typename T>
void radial_factor(const T* k, T r2, T& a, T& da) {
  const T num = T(1) + r2 * (k[0] + r2 * (k[1] + r2 * k[4]));
  const T dnum = k[0] + r2 * (T(2) * k[1] + T(3) * r2 * k[4]);
  if (k[5] == T(0) && k[6] == T(0) && k[7] == T(0)) {  // 4 or 5 coefficients: no denominator, no division
    a = num;
    da = dnum;
    return;
  }
  const T den = T(1) + r2 * (k[5] + r2 * (k[6] + r2 * k[7]));
  const T dden = k[5] + r2 * (T(2) * k[6] + T(3) * r2 * k[7]);
  a = num / den;
  da = (dnum * den - num * dden) / (den * den);
}

template <typename T>
void distort_radial_tangential(const T* k, T x, T y, T& xd, T& yd, T* J) {
  const T r2 = x * x + y * y;
  T a, da;
  radial_factor(k, r2, a, da);
  const T p1 = k[2], p2 = k[3];
  xd = x * a + T(2) * p1 * x * y + p2 * (r2 + T(2) * x * x);
  yd = y * a + p1 * (r2 + T(2) * y * y) + T(2) * p2 * x * y;
  if (J == nullptr) return;
  J[0] = a + T(2) * x * x * da + T(2) * p1 * y + T(6) * p2 * x;
  J[1] = T(2) * x * y * da + T(2) * p1 * x + T(2) * p2 * y;
  J[2] = T(2) * x * y * da + T(2) * p1 * x + T(2) * p2 * y;
  J[3] = a + T(2) * y * y * da + T(6) * p1 * y + T(2) * p2 * x;
}

// theta_d(theta) and its derivative.
template <typename T>
void fisheye_angle(const T* k, T theta, T& theta_d, T& dtheta_d) {
  const T t2 = theta * theta;
  theta_d = theta * (T(1) + t2 * (k[0] + t2 * (k[1] + t2 * (k[2] + t2 * k[3]))));
  dtheta_d = T(1) + t2 * (T(3) * k[0] + t2 * (T(5) * k[1] + t2 * (T(7) * k[2] + t2 * T(9) * k[3])));
}

template <typename T>
void distort_fisheye(const T* k, T x, T y, T& xd, T& yd, T* J) {
  const T r2 = x * x + y * y;
  const T r = std::sqrt(r2);
  T s, g;  // s = theta_d / r; g = (ds / dr) / r
  if (r < T(kFisheyeSmallRadius)) {
    s = T(1) + (k[0] - T(1) / T(3)) * r2;
    g = T(2) * (k[0] - T(1) / T(3));
  } else {
    const T theta = std::atan(r);
    T theta_d, dtheta_d;
    fisheye_angle(k, theta, theta_d, dtheta_d);
    s = theta_d / r;
    g = (dtheta_d / (T(1) + r2) - s) / r2;
  }
  xd = s * x;
  yd = s * y;
  if (J == nullptr) return;
  J[0] = s + g * x * x;
  J[1] = g * x * y;
  J[2] = g * x * y;
  J[3] = s + g * y * y;
}

}  // namespace lens_detail

template <typename T>
inline void distort(const Lens_distortion<T>& lens, T x, T y, T& xd, T& yd, T J[4]) {
  switch (lens.model) {
    case Lens_model::radial_tangential:
      lens_detail::distort_radial_tangential(lens.k, x, y, xd, yd, J);
      return;
    case Lens_model::fisheye:
      lens_detail::distort_fisheye(lens.k, x, y, xd, yd, J);
      return;
    case Lens_model::none:
      break;
  }
  xd = x;
  yd = y;
  if (J != nullptr) J[0] = T(1), J[1] = T(0), J[2] = T(0), J[3] = T(1);
}

}  // namespace trel

#endif
