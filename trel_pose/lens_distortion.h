#ifndef TREL_POSE_LENS_DISTORTION_H
#define TREL_POSE_LENS_DISTORTION_H

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
  // true when every coefficient is 0: distort and undistort are the identity.
  bool is_identity() const;
};

// The model of OpenCV's coefficient vector: 4, 5 or 8 values for the
// radial-tangential model, 4 for fisheye; no values: Lens_model::none. Throws
// exception_l on another count or a value that is not finite.
Lens_distortion<double> make_lens_distortion(const std::vector<double>& coefficients, bool fisheye);

// (xd, yd) of the normalised point (x, y); J, when not null, receives the
// row-major 2 x 2 Jacobian d(xd, yd) / d(x, y).
template <typename T>
void distort(const Lens_distortion<T>& lens, T x, T y, T& xd, T& yd, T J[4] = nullptr);

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

extern template void distort<double>(const Lens_distortion<double>&, double, double, double&, double&, double*);
extern template bool undistort<double>(const Lens_distortion<double>&, double, double, double&, double&);
extern template struct Lens_distortion<double>;

}  // namespace trel

#endif
