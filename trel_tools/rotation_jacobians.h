#ifndef TREL_TOOLS_ROTATION_JACOBIANS_H
#define TREL_TOOLS_ROTATION_JACOBIANS_H

#include <cmath>
#include <cstddef>
#include <vector>

#include <opencv2/core.hpp>

#include "trel_tools/exception_l.h"
#include "trel_tools/small_angle.h"

// Closed-form Jacobians of the maps between the compact rotation forms, for
// carrying a Jacobian from one parameterisation to another by the chain rule.
// Layouts: quaternion q = (x, y, z, w) with v = (x, y, z), n = |v|; rotation
// vector r, theta = |r|; angle-axis (a0, a1, a2, theta), angle in radians.
// Every input value is an independent variable: no unit-length constraint on q
// or a is applied while differentiating.
//
// The maps from a quaternion measure the angle as 2 atan2(n, w), which is
// 2 acos(w) on unit quaternions but, unlike acos, has a finite derivative at
// w = 1 and ignores the quaternion's length, as the rotation of q does.
//
// At and near the zero rotation every entry is finite: the quaternion and
// rotation-vector maps are smooth there and take their limits, with series
// for small angles so that no digits are lost to cancellation. The angle-axis
// axis has no limit at the zero rotation (it is undefined there); at exactly
// the zero rotation its rows, and the angle's derivative along v or r, are 0,
// so that a Jacobian chained through them contributes no row information at a
// point where the angle-axis form cannot give any. The rotation by 2 pi
// (w = -1, v = 0) is a true singularity of the quaternion maps; pass the
// quaternion of the same rotation with w >= 0.
//
// Result layout: row k holds the partial derivatives of output value k, column
// j those with respect to input value j. Values past the 3 (rotation vector) or
// 4 read are ignored; fewer throw exception_l.
namespace trel {

// r = 2 atan2(n, w) v / n; 3 by 4.
template <class T>
cv::Mat_<T> quaternion_to_rot_vec_jacobian(const std::vector<T>& quaternion);

// (a, theta) = (v / n, 2 atan2(n, w)); 4 by 4.
template <class T>
cv::Mat_<T> quaternion_to_angle_axis_jacobian(const std::vector<T>& quaternion);

// q = (sin(theta/2) r / theta, cos(theta/2)); 4 by 3.
template <class T>
cv::Mat_<T> rot_vec_to_quaternion_jacobian(const std::vector<T>& rot_vec);

// (a, theta) = (r / theta, theta); 4 by 3.
template <class T>
cv::Mat_<T> rot_vec_to_angle_axis_jacobian(const std::vector<T>& rot_vec);

// q = (sin(theta/2) a, cos(theta/2)); 4 by 4. Finite at theta = 0.
template <class T>
cv::Mat_<T> angle_axis_to_quaternion_jacobian(const std::vector<T>& ang_axis);

// r = theta a; 3 by 4.
template <class T>
cv::Mat_<T> angle_axis_to_rot_vec_jacobian(const std::vector<T>& ang_axis);

// Widens an m by k rotation Jacobian to the (m + 3) by (k + 3) Jacobian of a
// search vector of rotation values followed by three position values that pass
// through unchanged: the input top-left, the 3 by 3 identity bottom-right,
// zeros elsewhere.
template <class T>
cv::Mat_<T> convert_rot_jac_to_full_jac(const cv::Mat_<T>& rot_jac);

// ---- implementation ---------------------------------------------------------

namespace detail {

template <class T>
void check_rotation_parameter_count(const std::vector<T>& values, std::size_t needed, const char* function) {
  if (values.size() < needed)
    TREL_THROW(function << " : needs " << needed << " rotation parameters but input had size " << values.size());
}

// With t = n / w, w > 0: psi = atan2(n, w) / n = (1 / w) atan(t) / t and
// kappa = (d psi / dn) / n = (1 / w^3) sum_{k>=1} (-1)^k 2k / (2k + 1) t^(2k - 2).
template <class T>
void quaternion_angle_factors(T n, T w, T& psi, T& kappa) {
  const T n2 = n * n;
  if (w > 0 && n < kJacobianSeriesLimit<T> * w) {
    const T t2 = n2 / (w * w);
    T atan_series = 0, kappa_series = 0;
    T atan_power = 1;   // (-t^2)^k
    T kappa_power = 1;  // (-t^2)^(k-1)
    for (int k = 0; k <= 8; ++k) {
      atan_series += atan_power / T(2 * k + 1);
      atan_power *= -t2;
      if (k >= 1) {
        kappa_series -= T(2 * k) / T(2 * k + 1) * kappa_power;
        kappa_power *= -t2;
      }
    }
    psi = atan_series / w;
    kappa = kappa_series / (w * w * w);
    return;
  }
  psi = std::atan2(n, w) / n;
  kappa = (w / (n2 + w * w) - psi) / n2;
}

// f = sin(theta / 2) / theta and g = (df / dtheta) / theta.
template <class T>
void half_angle_factors(T theta, T& f, T& g) {
  const T theta2 = theta * theta;
  if (theta < kJacobianSeriesLimit<T>) {
    // With x = theta^2 / 4: f = (1/2) sum_k (-x)^k / (2k + 1)! and
    // g = sum_{k>=1} k (-1)^k x^(k-1) / (4 (2k + 1)!).
    const T x = theta2 / 4;
    T f_term = 1;             // (-x)^k / (2k + 1)!
    T g_term = T(-1) / 24;    // (-1)^k x^(k-1) / (4 (2k + 1)!), from k = 1
    f = T(0);
    g = T(0);
    for (int k = 0; k <= 6; ++k) {
      f += f_term / 2;
      f_term *= -x / T((2 * k + 2) * (2 * k + 3));
      if (k >= 1) {
        g += T(k) * g_term;
        g_term *= -x / T((2 * k + 2) * (2 * k + 3));
      }
    }
    return;
  }
  const T s = std::sin(theta / 2), c = std::cos(theta / 2);
  f = s / theta;
  g = (c / 2 - f) / theta2;
}

}  // namespace detail

template <class T>
cv::Mat_<T> quaternion_to_rot_vec_jacobian(const std::vector<T>& q) {
  detail::check_rotation_parameter_count(q, 4, "quaternion_to_rot_vec_jacobian");
  const T v[3] = {q[0], q[1], q[2]};
  const T w = q[3];
  const T n2 = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
  const T n = std::sqrt(n2);
  // r = 2 psi v: dr/dv = 2 psi I + 2 kappa v v^T, dr/dw = -2 v / (n^2 + w^2).
  T psi, kappa;
  detail::quaternion_angle_factors(n, w, psi, kappa);
  const T d_w = -2 / (n2 + w * w);
  cv::Mat_<T> jac(3, 4, T(0));
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) jac(i, j) = 2 * kappa * v[i] * v[j] + (i == j ? 2 * psi : T(0));
    jac(i, 3) = d_w * v[i];
  }
  return jac;
}

template <class T>
cv::Mat_<T> quaternion_to_angle_axis_jacobian(const std::vector<T>& q) {
  detail::check_rotation_parameter_count(q, 4, "quaternion_to_angle_axis_jacobian");
  const T v[3] = {q[0], q[1], q[2]};
  const T w = q[3];
  const T n2 = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
  cv::Mat_<T> jac(4, 4, T(0));
  if (n2 == T(0)) return jac;  // the axis is undefined at the zero rotation
  const T n = std::sqrt(n2);
  const T inv_n3 = 1 / (n2 * n);
  const T inv_len2 = 1 / (n2 + w * w);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) jac(i, j) = ((i == j ? n2 : T(0)) - v[i] * v[j]) * inv_n3;
    // theta = 2 atan2(n, w): d theta / dv_i = 2 w v_i / (n (n^2 + w^2)).
    jac(3, i) = 2 * w * v[i] / n * inv_len2;
  }
  jac(3, 3) = -2 * n * inv_len2;
  return jac;
}

template <class T>
cv::Mat_<T> rot_vec_to_quaternion_jacobian(const std::vector<T>& r) {
  detail::check_rotation_parameter_count(r, 3, "rot_vec_to_quaternion_jacobian");
  const T theta2 = r[0] * r[0] + r[1] * r[1] + r[2] * r[2];
  const T theta = std::sqrt(theta2);
  // q_v = f r with f = sin(theta/2) / theta: dq_v/dr = f I + g r r^T, and
  // dw/dr = -sin(theta/2) r / (2 theta) = -f r / 2.
  T f, g;
  detail::half_angle_factors(theta, f, g);
  cv::Mat_<T> jac(4, 3, T(0));
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) jac(i, j) = r[i] * r[j] * g + (i == j ? f : T(0));
    jac(3, i) = -r[i] * f / 2;
  }
  return jac;
}

template <class T>
cv::Mat_<T> rot_vec_to_angle_axis_jacobian(const std::vector<T>& r) {
  detail::check_rotation_parameter_count(r, 3, "rot_vec_to_angle_axis_jacobian");
  const T theta2 = r[0] * r[0] + r[1] * r[1] + r[2] * r[2];
  cv::Mat_<T> jac(4, 3, T(0));
  if (theta2 == T(0)) return jac;  // the axis is undefined at the zero rotation
  const T theta = std::sqrt(theta2);
  const T inv_theta3 = 1 / (theta2 * theta);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) jac(i, j) = ((i == j ? theta2 : T(0)) - r[i] * r[j]) * inv_theta3;
    jac(3, i) = r[i] / theta;
  }
  return jac;
}

template <class T>
cv::Mat_<T> angle_axis_to_quaternion_jacobian(const std::vector<T>& aa) {
  detail::check_rotation_parameter_count(aa, 4, "angle_axis_to_quaternion_jacobian");
  const T half = aa[3] / 2;
  const T s = std::sin(half);
  const T c = std::cos(half);
  cv::Mat_<T> jac(4, 4, T(0));
  for (int i = 0; i < 3; ++i) {
    jac(i, i) = s;
    jac(i, 3) = aa[i] * c / 2;
  }
  jac(3, 3) = -s / 2;
  return jac;
}

template <class T>
cv::Mat_<T> angle_axis_to_rot_vec_jacobian(const std::vector<T>& aa) {
  detail::check_rotation_parameter_count(aa, 4, "angle_axis_to_rot_vec_jacobian");
  cv::Mat_<T> jac(3, 4, T(0));
  for (int i = 0; i < 3; ++i) {
    jac(i, i) = aa[3];
    jac(i, 3) = aa[i];
  }
  return jac;
}

template <class T>
cv::Mat_<T> convert_rot_jac_to_full_jac(const cv::Mat_<T>& rot_jac) {
  cv::Mat_<T> full(rot_jac.rows + 3, rot_jac.cols + 3, T(0));
  cv::Mat_<T> block = full(cv::Rect(0, 0, rot_jac.cols, rot_jac.rows));
  // Sizes in the (width,height) text form.
  if (block.size() != rot_jac.size())
    TREL_THROW("Size mismatch for subregion copy. output roi was (" << block.cols << "," << block.rows
                                                                     << ") but input was (" << rot_jac.cols << ","
                                                                     << rot_jac.rows << ")");
  rot_jac.copyTo(block);
  for (int i = 0; i < 3; ++i) full(rot_jac.rows + i, rot_jac.cols + i) = 1;
  return full;
}

}  // namespace trel

#endif
