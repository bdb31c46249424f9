#ifndef TREL_TOOLS_ROTATION_JACOBIANS_H
#define TREL_TOOLS_ROTATION_JACOBIANS_H

#include <cmath>
#include <cstddef>
#include <vector>

#include <opencv2/core.hpp>

#include "trel_tools/exception_l.h"

// Closed-form Jacobians of the maps between the compact rotation forms, for
// carrying a Jacobian from one parameterisation to another by the chain rule.
// Layouts: quaternion q = (x, y, z, w) with v = (x, y, z), n = |v|; rotation
// vector r, theta = |r|; angle-axis (a0, a1, a2, theta), angle in radians.
// Every input value is an independent variable: no unit-length constraint on q
// or a is applied while differentiating.
//
// Result layout: row k holds the partial derivatives of output value k, column
// j those with respect to input value j. Values past the 3 (rotation vector) or
// 4 read are ignored; fewer throw exception_l. Singular inputs (n = 0,
// w = +-1, theta = 0 where theta is divided by) give infinite or NaN entries.
namespace trel {

// r = 2 acos(w) v / n; 3 by 4.
template <class T>
cv::Mat_<T> quaternion_to_rot_vec_jacobian(const std::vector<T>& quaternion);

// (a, theta) = (v / n, 2 acos(w)); 4 by 4.
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

}  // namespace detail

template <class T>
cv::Mat_<T> quaternion_to_rot_vec_jacobian(const std::vector<T>& q) {
  detail::check_rotation_parameter_count(q, 4, "quaternion_to_rot_vec_jacobian");
  const T v[3] = {q[0], q[1], q[2]};
  const T w = q[3];
  const T n2 = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
  const T n = std::sqrt(n2);
  const T inv_n3 = 1 / (n2 * n);
  const T two_phi = 2 * std::acos(w);
  const T d_acos = -2 / (n * std::sqrt(1 - w * w));
  cv::Mat_<T> jac(3, 4, T(0));
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) jac(i, j) = two_phi * ((i == j ? n2 : T(0)) - v[i] * v[j]) * inv_n3;
    jac(i, 3) = d_acos * v[i];
  }
  return jac;
}

template <class T>
cv::Mat_<T> quaternion_to_angle_axis_jacobian(const std::vector<T>& q) {
  detail::check_rotation_parameter_count(q, 4, "quaternion_to_angle_axis_jacobian");
  const T v[3] = {q[0], q[1], q[2]};
  const T w = q[3];
  const T n2 = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
  const T inv_n3 = 1 / (n2 * std::sqrt(n2));
  cv::Mat_<T> jac(4, 4, T(0));
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) jac(i, j) = ((i == j ? n2 : T(0)) - v[i] * v[j]) * inv_n3;
  jac(3, 3) = -2 / std::sqrt(1 - w * w);
  return jac;
}

template <class T>
cv::Mat_<T> rot_vec_to_quaternion_jacobian(const std::vector<T>& r) {
  detail::check_rotation_parameter_count(r, 3, "rot_vec_to_quaternion_jacobian");
  const T theta2 = r[0] * r[0] + r[1] * r[1] + r[2] * r[2];
  const T theta = std::sqrt(theta2);
  const T half = theta / 2;
  const T s = std::sin(half);
  const T c = std::cos(half);
  const T c_term = c / (2 * theta2);
  const T s_term = s / (theta2 * theta);
  cv::Mat_<T> jac(4, 3, T(0));
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      if (i == j)
        jac(i, j) = r[i] * r[i] * c_term + (theta2 - r[i] * r[i]) * s_term;
      else
        jac(i, j) = r[i] * r[j] * (c_term - s_term);
    }
    jac(3, i) = -r[i] * s / (2 * theta);
  }
  return jac;
}

template <class T>
cv::Mat_<T> rot_vec_to_angle_axis_jacobian(const std::vector<T>& r) {
  detail::check_rotation_parameter_count(r, 3, "rot_vec_to_angle_axis_jacobian");
  const T theta2 = r[0] * r[0] + r[1] * r[1] + r[2] * r[2];
  const T theta = std::sqrt(theta2);
  const T inv_theta3 = 1 / (theta2 * theta);
  cv::Mat_<T> jac(4, 3, T(0));
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
