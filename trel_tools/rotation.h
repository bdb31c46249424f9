#ifndef TREL_TOOLS_ROTATION_H
#define TREL_TOOLS_ROTATION_H

#include <cmath>
#include <limits>
#include <vector>

#include "trel_tools/exception_l.h"
#include "trel_tools/export.h"
#include "trel_tools/matrix.h"
#include "trel_tools/small_angle.h"
#include "trel_tools/std_vector_overloads.h"

// Conversions between rotation forms. All angles are in radians.
//
//   rotation matrix  3x3 matrix<T>, rotates column vectors (p -> R p), right-handed
//   quaternion       (x, y, z, w): scalar part last, Hamilton convention; read
//                    quaternions need not be unit length
//   angle-axis       (axis x, axis y, axis z, angle): angle last; readers make the
//                    axis unit length
//   rotation vector  (r0, r1, r2) = unit axis times angle
//   Euler angles     (a0, a1, a2): a0 about z, a1 about x, a2 about y;
//                    R = Ry(a2) Rx(a1) Rz(a0)
//
// The angle-axis form is singular at the zero rotation (any axis) and at the
// half turn (axis sign); the matrix readers resolve both as documented below.
// No function modifies its input unless it says so; results are new values.
namespace trel {

// Ry(a2) Rx(a1) Rz(a0) for angles (a0 about z, a1 about x, a2 about y).
// Throws exception_l unless there are exactly 3 angles.
template <class T>
const matrix<T> euler_angles_rad_to_rot_mat(const std::vector<T>& angles);

// Rotation matrix of the quaternion (x, y, z, w), divided by the squared norm so
// that a non-unit quaternion is normalised implicitly; values past the fourth
// are ignored. Throws exception_l for fewer than 4 values. The zero quaternion
// has no rotation: its matrix is not-a-number. A quaternion whose squared norm
// overflows or underflows (length 1e200 or 1e-200) is scaled to a largest
// value of 1 first: it gives its rotation, not a matrix of not-a-numbers.
template <class T>
matrix<T> quaternion_to_rot_mat(std::vector<T>& quaternion);
template <class T>
matrix<T> quaternion_to_rot_mat(const std::vector<T>& quaternion);

// Quaternion (x, y, z, w) of a rotation matrix, by the largest-pivot method;
// neither normalised nor sign-adjusted (w >= 0 only when the trace is positive).
// Throws exception_l unless the matrix is 3x3.
template <class T>
std::vector<T> rot_mat_to_quaternion(matrix<T> rot_mat);

// n values to n + 1: the unit axis, then the norm. The zero vector gives all
// zeros (zero axis, angle 0). A vector whose squared norm overflows gets its
// norm from the vector scaled by its largest value.
template <class T>
const std::vector<T> rot_vec_to_ang_axis(const std::vector<T>& rot_vec);

// In place: scales every value but the last (the angle) to unit length. An axis
// of squared length at most kDegenerateAxisSquaredLength is multiplied by that
// tolerance instead; one whose squared length overflows gets its length from
// the axis scaled by its largest value. Vectors of fewer than 2 values are left alone.
template <class T>
void enforce_ang_axis(std::vector<T>& ang_axis);

// Angle-axis (axis normalised first) to axis times angle: n values to n - 1.
// Throws exception_l (wrapped once) for fewer than 2 values.
template <class T>
const std::vector<T> ang_axis_to_rot_vec(const std::vector<T>& ang_axis);

// Angle-axis of a rotation matrix, angle in [0, pi]. The zero rotation gives
// (0, 1, 0, 0); a half turn gives angle pi with the axis signs read from the
// off-diagonal elements (one representative of +-axis). Throws exception_l
// (wrapped once) unless the matrix is 3x3.
template <class T>
const std::vector<T> rot_mat_to_ang_axis_rad(const matrix<T>& rot_mat);

// ang_axis_to_rot_vec of rot_mat_to_ang_axis_rad; the zero rotation gives (0, 0, 0).
template <class T>
const std::vector<T> rot_mat_to_rot_vec_rad(const matrix<T>& rot_mat);

// Rodrigues' formula after normalising the axis. The angle 0 gives the
// identity for any axis. Throws exception_l (wrapped once) unless there are
// exactly 4 values.
template <class T>
const matrix<T> ang_axis_rad_to_rot_mat(const std::vector<T>& ang_axis);

// The zero vector gives the identity. Throws exception_l unless there are
// exactly 3 values.
template <class T>
const matrix<T> rot_vec_rad_to_rot_mat(const std::vector<T>& rot_vec);

// ---- implementation ---------------------------------------------------------

template <class T>
const matrix<T> euler_angles_rad_to_rot_mat(const std::vector<T>& angles) {
  if (angles.size() != 3)
    TREL_THROW("create_rotation_matrix : Can't create a 3d rotation matrix from a set of angles with size not 3. "
               "Size was: "
               << angles.size());
  const T c0 = std::cos(angles[0]), s0 = std::sin(angles[0]);
  const T c1 = std::cos(angles[1]), s1 = std::sin(angles[1]);
  const T c2 = std::cos(angles[2]), s2 = std::sin(angles[2]);
  matrix<T> rot_z(3, 3), rot_x(3, 3), rot_y(3, 3);
  rot_z[0][0] = c0;
  rot_z[0][1] = -s0;
  rot_z[1][0] = s0;
  rot_z[1][1] = c0;
  rot_z[2][2] = 1;
  rot_x[0][0] = 1;
  rot_x[1][1] = c1;
  rot_x[1][2] = -s1;
  rot_x[2][1] = s1;
  rot_x[2][2] = c1;
  rot_y[0][0] = c2;
  rot_y[0][2] = s2;
  rot_y[1][1] = 1;
  rot_y[2][0] = -s2;
  rot_y[2][2] = c2;
  return (rot_y * rot_x) * rot_z;
}

template <class T>
matrix<T> quaternion_to_rot_mat(const std::vector<T>& quaternion) {
  if (quaternion.size() < 4)
    TREL_THROW("quaternion_to_rot_mat : a quaternion needs 4 values (x, y, z, w) but input had size "
               << quaternion.size());
  T x = quaternion[0], y = quaternion[1], z = quaternion[2], w = quaternion[3];
  T n = x * x + y * y + z * z + w * w;
  if (!(n >= std::numeric_limits<T>::min()) || !(n <= std::numeric_limits<T>::max())) {
    // The squares overflow or underflow: the same rotation from the quaternion
    // scaled to a largest value of 1 (the zero quaternion stays not-a-number).
    const T largest = max_portable(max_portable(std::abs(x), std::abs(y)), max_portable(std::abs(z), std::abs(w)));
    if (largest > 0 && largest <= std::numeric_limits<T>::max()) {
      x /= largest;
      y /= largest;
      z /= largest;
      w /= largest;
      n = x * x + y * y + z * z + w * w;
    }
  }
  const T xx = x * x, yy = y * y, zz = z * z, ww = w * w;
  matrix<T> r(3, 3);
  r[0][0] = (xx - yy - zz + ww) / n;
  r[1][1] = (-xx + yy - zz + ww) / n;
  r[2][2] = (-xx - yy + zz + ww) / n;
  r[1][0] = 2 * (x * y + z * w) / n;
  r[0][1] = 2 * (x * y - z * w) / n;
  r[2][0] = 2 * (x * z - y * w) / n;
  r[0][2] = 2 * (x * z + y * w) / n;
  r[2][1] = 2 * (y * z + x * w) / n;
  r[1][2] = 2 * (y * z - x * w) / n;
  return r;
}

template <class T>
matrix<T> quaternion_to_rot_mat(std::vector<T>& quaternion) {
  return quaternion_to_rot_mat(static_cast<const std::vector<T>&>(quaternion));
}

template <class T>
std::vector<T> rot_mat_to_quaternion(matrix<T> r) {
  if (r.get_dim1() != 3 || r.get_dim2() != 3)
    TREL_THROW("Incorrectly sized matrix input. Quaternions only defined for 3d rotations, but matrix had size "
               << r.get_dim1() << " by " << r.get_dim2());
  T x, y, z, w;
  const T t = r[0][0] + r[1][1] + r[2][2];
  // Divide by the largest of 4w^2, 4x^2, 4y^2, 4z^2 to stay clear of cancellation.
  if (t > 0) {
    const T s = static_cast<T>(0.5) / std::sqrt(t + 1);
    w = static_cast<T>(0.25) / s;
    x = (r[2][1] - r[1][2]) * s;
    y = (r[0][2] - r[2][0]) * s;
    z = (r[1][0] - r[0][1]) * s;
  } else if (r[0][0] > r[1][1] && r[0][0] > r[2][2]) {
    const T s = 2 * std::sqrt(1 + r[0][0] - r[1][1] - r[2][2]);
    w = (r[2][1] - r[1][2]) / s;
    x = s / 4;
    y = (r[0][1] + r[1][0]) / s;
    z = (r[0][2] + r[2][0]) / s;
  } else if (r[1][1] > r[2][2]) {
    const T s = 2 * std::sqrt(1 + r[1][1] - r[0][0] - r[2][2]);
    w = (r[0][2] - r[2][0]) / s;
    x = (r[0][1] + r[1][0]) / s;
    y = s / 4;
    z = (r[1][2] + r[2][1]) / s;
  } else {
    const T s = 2 * std::sqrt(1 + r[2][2] - r[0][0] - r[1][1]);
    w = (r[1][0] - r[0][1]) / s;
    x = (r[0][2] + r[2][0]) / s;
    y = (r[1][2] + r[2][1]) / s;
    z = s / 4;
  }
  return std::vector<T>{x, y, z, w};
}

template <class T>
const std::vector<T> rot_vec_to_ang_axis(const std::vector<T>& rot_vec) {
  std::vector<T> ang_axis(rot_vec.size() + 1, T(0));
  T squared = 0;
  for (const T& value : rot_vec) squared += value * value;
  T angle = std::sqrt(squared);
  if (!(squared <= std::numeric_limits<T>::max())) {
    // The squares overflow: the norm from the vector scaled by its largest value.
    T largest = 0;
    for (const T& value : rot_vec) largest = max_portable(largest, std::abs(value));
    T scaled = 0;
    for (const T& value : rot_vec) scaled += (value / largest) * (value / largest);
    angle = largest * std::sqrt(scaled);
  }
  ang_axis.back() = angle;
  if (angle != 0)
    for (typename std::vector<T>::size_type i = 0; i < rot_vec.size(); ++i) ang_axis[i] = rot_vec[i] / angle;
  return ang_axis;
}

template <class T>
void enforce_ang_axis(std::vector<T>& ang_axis) {
  if (ang_axis.size() < 2) return;
  T squared = 0;
  for (typename std::vector<T>::size_type i = 0; i + 1 < ang_axis.size(); ++i) squared += ang_axis[i] * ang_axis[i];
  T factor = squared > kDegenerateAxisSquaredLength<T> ? 1 / std::sqrt(squared) : kDegenerateAxisSquaredLength<T>;
  if (!(squared <= std::numeric_limits<T>::max())) {
    // The squares overflow: the length from the axis scaled by its largest value.
    T largest = 0, scaled = 0;
    for (typename std::vector<T>::size_type i = 0; i + 1 < ang_axis.size(); ++i)
      largest = max_portable(largest, std::abs(ang_axis[i]));
    for (typename std::vector<T>::size_type i = 0; i + 1 < ang_axis.size(); ++i)
      scaled += (ang_axis[i] / largest) * (ang_axis[i] / largest);
    factor = 1 / (largest * std::sqrt(scaled));
  }
  for (typename std::vector<T>::size_type i = 0; i + 1 < ang_axis.size(); ++i) ang_axis[i] *= factor;
}

template <class T>
const std::vector<T> ang_axis_to_rot_vec(const std::vector<T>& ang_axis) {
  const Frame frame = TREL_FRAME;
  return guarded(frame, [&] {
    if (ang_axis.size() < 2)
      TREL_THROW_AS(frame.signature, "input std::vector had size "
                                         << ang_axis.size()
                                         << " doesn't seem to be a normalised angle axis std::vector");
    std::vector<T> normalised(ang_axis);
    enforce_ang_axis(normalised);
    const T angle = normalised.back();
    std::vector<T> rot_vec(normalised.size() - 1);
    for (typename std::vector<T>::size_type i = 0; i < rot_vec.size(); ++i) rot_vec[i] = normalised[i] * angle;
    return rot_vec;
  });
}

template <class T>
const std::vector<T> rot_mat_to_ang_axis_rad(const matrix<T>& r) {
  const Frame frame = TREL_FRAME;
  return guarded(frame, [&] {
    if (r.get_dim1() != 3 || r.get_dim2() != 3)
      TREL_THROW_AS(frame.signature, "rot_mat_to_ang_axis_rad : only defined for 3d rotations, but matrix had size "
                                         << r.get_dim1() << " by " << r.get_dim2());
    const T tolerance = kRotationSingularityTolerance<T>;
    const T t = static_cast<T>(r.trace());
    if (std::abs(t - 3) <= tolerance) return std::vector<T>{0, 1, 0, 0};
    if (std::abs(t + 1) > tolerance) {
      const T angle = std::acos((t - 1) / 2);
      const T d = 2 * std::sin(angle);
      return std::vector<T>{(r[2][1] - r[1][2]) / d, (r[0][2] - r[2][0]) / d, (r[1][0] - r[0][1]) / d, angle};
    }
    // Half turn: R = 2 a a^T - I is symmetric, so the axis magnitudes come from
    // the diagonal and their relative signs from the off-diagonal products
    // R(1,2) = 2 a1 a2, R(0,2) = 2 a0 a2, R(0,1) = 2 a0 a1.
    std::vector<T> axis(3);
    for (unsigned i = 0; i < 3; ++i) {
      axis[i] = std::sqrt(max_portable<T>((r[i][i] + 1) * static_cast<T>(0.5), T(0)));
      if (axis[i] <= tolerance) axis[i] = 0;
    }
    const T off_diagonal[3] = {r[1][2], r[0][2], r[0][1]};
    std::vector<int> signs(3);
    for (unsigned k = 0; k < 3; ++k)
      signs[k] = std::abs(off_diagonal[k]) > tolerance ? (off_diagonal[k] > 0 ? 1 : -1) : 0;
    int flip[3] = {1, 1, 1};
    if (sum(signs) < 0) {
      if (signs[0] != 0 && signs[1] != 0 && signs[2] != 0) {
        for (unsigned k = 0; k < 3; ++k) flip[k] = -signs[k];
      } else if (signs[0] == -1) {
        flip[1] = -1;
      } else if (signs[1] == -1) {
        flip[2] = -1;
      } else {
        flip[0] = -1;
      }
    }
    for (unsigned k = 0; k < 3; ++k)
      if (flip[k] == -1) axis[k] = -axis[k];
    return std::vector<T>{axis[0], axis[1], axis[2], static_cast<T>(3.14159265358979323846)};
  });
}

template <class T>
const std::vector<T> rot_mat_to_rot_vec_rad(const matrix<T>& rot_mat) {
  return ang_axis_to_rot_vec(rot_mat_to_ang_axis_rad(rot_mat));
}

template <class T>
const matrix<T> ang_axis_rad_to_rot_mat(const std::vector<T>& ang_axis) {
  const Frame frame = TREL_FRAME;
  return guarded(frame, [&] {
    if (ang_axis.size() != 4)
      TREL_THROW_AS(frame.signature,
                    "Conversion only implemented for 3d rotations. input had size " << ang_axis.size());
    std::vector<T> normalised(ang_axis);
    enforce_ang_axis(normalised);
    const T x = normalised[0], y = normalised[1], z = normalised[2];
    const T c = std::cos(normalised[3]);
    const T s = std::sin(normalised[3]);
    const T t = 1 - c;
    matrix<T> r(3, 3);
    r[0][0] = t * x * x + c;
    r[0][1] = t * x * y - s * z;
    r[0][2] = t * x * z + s * y;
    r[1][0] = t * x * y + s * z;
    r[1][1] = t * y * y + c;
    r[1][2] = t * y * z - s * x;
    r[2][0] = t * x * z - s * y;
    r[2][1] = t * y * z + s * x;
    r[2][2] = t * z * z + c;
    return r;
  });
}

template <class T>
const matrix<T> rot_vec_rad_to_rot_mat(const std::vector<T>& rot_vec) {
  if (rot_vec.size() != 3) TREL_THROW("Conversion only implemented for 3d rotations");
  return ang_axis_rad_to_rot_mat(rot_vec_to_ang_axis(rot_vec));
}

// Compiled once, in the library.
extern template TREL_TOOLS_EXPORT const matrix<double> euler_angles_rad_to_rot_mat(const std::vector<double>&);
extern template TREL_TOOLS_EXPORT matrix<double> quaternion_to_rot_mat(std::vector<double>&);
extern template TREL_TOOLS_EXPORT matrix<double> quaternion_to_rot_mat(const std::vector<double>&);
extern template TREL_TOOLS_EXPORT std::vector<double> rot_mat_to_quaternion(matrix<double>);
extern template TREL_TOOLS_EXPORT const std::vector<double> rot_vec_to_ang_axis(const std::vector<double>&);
extern template TREL_TOOLS_EXPORT void enforce_ang_axis(std::vector<double>&);
extern template TREL_TOOLS_EXPORT const std::vector<double> ang_axis_to_rot_vec(const std::vector<double>&);
extern template TREL_TOOLS_EXPORT const std::vector<double> rot_mat_to_ang_axis_rad(const matrix<double>&);
extern template TREL_TOOLS_EXPORT const std::vector<double> rot_mat_to_rot_vec_rad(const matrix<double>&);
extern template TREL_TOOLS_EXPORT const matrix<double> ang_axis_rad_to_rot_mat(const std::vector<double>&);
extern template TREL_TOOLS_EXPORT const matrix<double> rot_vec_rad_to_rot_mat(const std::vector<double>&);

}  // namespace trel

#endif
