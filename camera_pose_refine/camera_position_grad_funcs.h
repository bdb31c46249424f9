#ifndef CAMERA_POSE_REFINE_CAMERA_POSITION_GRAD_FUNCS_H
#define CAMERA_POSE_REFINE_CAMERA_POSITION_GRAD_FUNCS_H

#include <cmath>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include "trel_opt/grad_func.h"
#include "trel_tools/matrix.h"
#include "trel_tools/small_angle.h"

// Analytic Jacobians of Camera_position_opt_func, one class per rotation
// parameterisation, in the row layout of Grad_func: point i fills the
// rows row0 + rows * i .. row0 + rows * i + rows - 1 (rows = 2 for pixels u, v;
// 3 for the camera-frame coordinates c0, c1, c2 of the bearing-vector codes),
// columns = the rotation values, then t1, t2, t3. Unweighted.
//
// Model: c = R^T (X - t), R camera to world; u = k11 c0 / c2 + k13,
// v = k11 c1 / c2 + k23. Only k11 = K(0,0), k13 = K(0,2), k23 = K(1,2) are read.
//
// Every operator() checks before writing that x has the class's number of
// values and that J is a continuous CV_64F matrix with that many columns and
// room for its rows from row0, and throws exception_l otherwise.

namespace trel {

namespace camera_position_jacobian {

template <typename T>
struct Mat3 {
  T m[3][3];
};

// Rotation matrix R (camera to world) of a search vector's rotation values and
// its derivative with respect to each of them.
template <typename T, int NROT>
struct Rotation_with_derivatives {
  Mat3<T> R;
  Mat3<T> dR[NROT];
};

template <typename T>
void set_cross(Mat3<T>& out, T scale, T v0, T v1, T v2) {
  out.m[0][0] = 0;            out.m[0][1] = -scale * v2;  out.m[0][2] = scale * v1;
  out.m[1][0] = scale * v2;   out.m[1][1] = 0;            out.m[1][2] = -scale * v0;
  out.m[2][0] = -scale * v1;  out.m[2][1] = scale * v0;   out.m[2][2] = 0;
}

// Rotation vector r (axis times angle): R = cos θ I + α [r]x + β r r^T with
// α = sin θ / θ, β = (1 - cos θ) / θ², θ = |r|. r must not be zero.
template <typename T>
Rotation_with_derivatives<T, 3> rot_vec_rotation(const T* r) {
  const T s = r[0] * r[0] + r[1] * r[1] + r[2] * r[2];
  const T theta = std::sqrt(s);
  T alpha, beta, alpha_p, beta_p;  // alpha_p = (dα/dθ) / θ, beta_p = (dβ/dθ) / θ
  T cos_theta;
  if (theta < kRotVecSeriesAngle<T>) {
    cos_theta = T(1) - s / T(2) + s * s / T(24);
    alpha = T(1) - s / T(6) + s * s / T(120);
    beta = T(0.5) - s / T(24) + s * s / T(720);
    alpha_p = T(-1) / T(3) + s / T(30);
    beta_p = T(-1) / T(12) + s / T(180);
  } else {
    const T sn = std::sin(theta), cs = std::cos(theta);
    cos_theta = cs;
    const T half_sin = std::sin(theta / T(2));
    const T one_minus_cos = T(2) * half_sin * half_sin;
    const T inv_s = T(1) / s;
    alpha = sn / theta;
    beta = one_minus_cos * inv_s;
    alpha_p = (cs - alpha) * inv_s;
    beta_p = (alpha - T(2) * beta) * inv_s;
  }
  Rotation_with_derivatives<T, 3> out;
  T rrt[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) rrt[i][j] = r[i] * r[j];
  set_cross(out.R, alpha, r[0], r[1], r[2]);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out.R.m[i][j] += beta * rrt[i][j] + (i == j ? cos_theta : T(0));
  // dR/dr_j = r_j (α' [r]x + β' r r^T) / θ + α [e_j]x + β (e_j r^T + r e_j^T) - α r_j I
  Mat3<T> common;
  set_cross(common, alpha_p, r[0], r[1], r[2]);
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) common.m[i][k] += beta_p * rrt[i][k];
  for (int j = 0; j < 3; ++j) {
    Mat3<T>& d = out.dR[j];
    set_cross(d, alpha, T(j == 0), T(j == 1), T(j == 2));
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k < 3; ++k) {
        d.m[i][k] += r[j] * common.m[i][k];
        if (i == j) d.m[i][k] += beta * r[k];
        if (k == j) d.m[i][k] += beta * r[i];
        if (i == k) d.m[i][k] -= alpha * r[j];
      }
  }
  return out;
}

// Angle-axis (a0, a1, a2, θ). With normalise, the rotation is Rodrigues' about
// a / |a| and the axis derivatives include the normalisation (a zero axis gives
// non-finite values); without, Rodrigues' formula is evaluated with a as given.
template <typename T>
Rotation_with_derivatives<T, 4> ang_axis_rotation(const T* a, bool normalise) {
  T n[3] = {a[0], a[1], a[2]};
  T inv_norm = T(1);
  if (normalise) {
    inv_norm = T(1) / std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
    for (T& v : n) v *= inv_norm;
  }
  const T sn = std::sin(a[3]), cs = std::cos(a[3]);
  const T half_sin = std::sin(a[3] / T(2));
  const T omc = T(2) * half_sin * half_sin;  // 1 - cos θ without cancellation
  Rotation_with_derivatives<T, 4> out;
  Mat3<T>& dtheta = out.dR[3];
  set_cross(out.R, sn, n[0], n[1], n[2]);
  set_cross(dtheta, cs, n[0], n[1], n[2]);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      out.R.m[i][j] += omc * n[i] * n[j] + (i == j ? cs : T(0));
      dtheta.m[i][j] += sn * n[i] * n[j] - (i == j ? sn : T(0));
    }
  // G_k = dR/dn_k = sin θ [e_k]x + (1 - cos θ)(e_k n^T + n e_k^T)
  Mat3<T> g[3];
  for (int k = 0; k < 3; ++k) {
    set_cross(g[k], sn, T(k == 0), T(k == 1), T(k == 2));
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        if (i == k) g[k].m[i][j] += omc * n[j];
        if (j == k) g[k].m[i][j] += omc * n[i];
      }
  }
  if (!normalise) {
    for (int k = 0; k < 3; ++k) out.dR[k] = g[k];
    return out;
  }
  // dn/da = (I - n n^T) / |a|, so dR/da_j = (G_j - n_j sum_k n_k G_k) / |a|
  // with sum_k n_k G_k = sin θ [n]x + 2 (1 - cos θ) n n^T.
  Mat3<T> radial;
  set_cross(radial, sn, n[0], n[1], n[2]);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) radial.m[i][j] += T(2) * omc * n[i] * n[j];
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) out.dR[k].m[i][j] = (g[k].m[i][j] - n[k] * radial.m[i][j]) * inv_norm;
  return out;
}

// Quaternion (x, y, z, w). With normalise, R = Q(q) / |q|² (any non-zero
// length, exact derivatives); without, the unit-quaternion matrix is used as
// it stands (its diagonal 1 - 2(y² + z²) ...) and differentiated as such.
template <typename T>
Rotation_with_derivatives<T, 4> quaternion_rotation(const T* q, bool normalise) {
  const T x = q[0], y = q[1], z = q[2], w = q[3];
  const T xx = x * x, yy = y * y, zz = z * z, ww = w * w;
  const T xy = x * y, xz = x * z, yz = y * z, xw = x * w, yw = y * w, zw = z * w;
  Rotation_with_derivatives<T, 4> out;
  // Off-diagonal numerators and their derivatives are shared by both forms.
  T off[3][3] = {{0, T(2) * (xy - zw), T(2) * (xz + yw)},
                 {T(2) * (xy + zw), 0, T(2) * (yz - xw)},
                 {T(2) * (xz - yw), T(2) * (yz + xw), 0}};
  const T x2 = T(2) * x, y2 = T(2) * y, z2 = T(2) * z, w2 = T(2) * w;
  // d/dq_j of the off-diagonal entries: rows (0,1) (0,2) (1,0) (1,2) (2,0) (2,1).
  const T d_off[4][6] = {{y2, z2, y2, -w2, z2, w2},
                         {x2, w2, x2, z2, -w2, z2},
                         {-w2, x2, w2, y2, x2, y2},
                         {-z2, y2, z2, -x2, -y2, x2}};
  static const int off_row[6] = {0, 0, 1, 1, 2, 2};
  static const int off_col[6] = {1, 2, 0, 2, 0, 1};
  if (normalise) {
    const T inv_n = T(1) / (xx + yy + zz + ww);
    const T diag[3] = {xx - yy - zz + ww, -xx + yy - zz + ww, -xx - yy + zz + ww};
    const T d_diag[4][3] = {{x2, -x2, -x2}, {-y2, y2, -y2}, {-z2, -z2, z2}, {w2, w2, w2}};
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k < 3; ++k) out.R.m[i][k] = (i == k ? diag[i] : off[i][k]) * inv_n;
    const T qv[4] = {x, y, z, w};
    // d(Q / n)/dq_j = (dQ/dq_j - 2 q_j R) / n
    for (int j = 0; j < 4; ++j) {
      Mat3<T>& d = out.dR[j];
      for (int i = 0; i < 3; ++i) d.m[i][i] = d_diag[j][i];
      for (int e = 0; e < 6; ++e) d.m[off_row[e]][off_col[e]] = d_off[j][e];
      const T two_q = T(2) * qv[j];
      for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k) d.m[i][k] = (d.m[i][k] - two_q * out.R.m[i][k]) * inv_n;
    }
    return out;
  }
  const T diag[3] = {T(1) - T(2) * (yy + zz), T(1) - T(2) * (xx + zz), T(1) - T(2) * (xx + yy)};
  const T x4 = T(2) * x2, y4 = T(2) * y2, z4 = T(2) * z2;
  const T d_diag[4][3] = {{0, -x4, -x4}, {-y4, 0, -y4}, {-z4, -z4, 0}, {0, 0, 0}};
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) out.R.m[i][k] = (i == k ? diag[i] : off[i][k]);
  for (int j = 0; j < 4; ++j) {
    Mat3<T>& d = out.dR[j];
    for (int i = 0; i < 3; ++i) d.m[i][i] = d_diag[j][i];
    for (int e = 0; e < 6; ++e) d.m[off_row[e]][off_col[e]] = d_off[j][e];
  }
  return out;
}

// The unit-quaternion matrix evaluated at q / |q|, with the chain rule of that
// normalisation: dR/dq = (dU/dq^)(I - q^ q^T) / |q|. Its values are the
// rotation of q at any length, and its derivatives are exact, with no
// component along q itself (the length does not change the rotation).
template <typename T>
Rotation_with_derivatives<T, 4> normalised_quaternion_rotation(const T* q) {
  const T inv_len = T(1) / std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  const T unit[4] = {q[0] * inv_len, q[1] * inv_len, q[2] * inv_len, q[3] * inv_len};
  const Rotation_with_derivatives<T, 4> at_unit = quaternion_rotation(unit, false);
  Rotation_with_derivatives<T, 4> out;
  out.R = at_unit.R;
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) {
      T radial = 0;  // sum_l dU/dq^_l q^_l
      for (int l = 0; l < 4; ++l) radial += at_unit.dR[l].m[i][k] * unit[l];
      for (int j = 0; j < 4; ++j) out.dR[j].m[i][k] = (at_unit.dR[j].m[i][k] - radial * unit[j]) * inv_len;
    }
  return out;
}

// Writes the rows of every point through `out` (continuous, NROT + 3 values a
// row) and returns the number of rows. t is the camera centre.
template <typename T, int NROT, bool BEARING>
int fill_rows(const Rotation_with_derivatives<T, NROT>& rot, const T* t, const std::vector<std::vector<T>>& points,
              T k11, T* out) {
  // Transposes, so that c = R^T d and dc/dp_j = dR_j^T d are row-times-vector products.
  T rt[3][3], drt[NROT][3][3];
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) {
      rt[i][k] = rot.R.m[k][i];
      for (int j = 0; j < NROT; ++j) drt[j][i][k] = rot.dR[j].m[k][i];
    }
  const T t0 = t[0], t1 = t[1], t2 = t[2];
  for (const std::vector<T>& p : points) {
    const T d0 = p[0] - t0, d1 = p[1] - t1, d2 = p[2] - t2;
    T c[3], dc[NROT][3];
    for (int i = 0; i < 3; ++i) {
      c[i] = rt[i][0] * d0 + rt[i][1] * d1 + rt[i][2] * d2;
      for (int j = 0; j < NROT; ++j) dc[j][i] = drt[j][i][0] * d0 + drt[j][i][1] * d1 + drt[j][i][2] * d2;
    }
    if (BEARING) {
      // dc/dt = -R^T
      for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < NROT; ++j) *out++ = dc[j][i];
        *out++ = -rt[i][0];
        *out++ = -rt[i][1];
        *out++ = -rt[i][2];
      }
    } else {
      // u = k11 c0 / c2 + k13: du = k11 / c2 (dc0 - (c0 / c2) dc2), likewise v.
      const T inv_depth = T(1) / c[2];
      const T scale = k11 * inv_depth;
      for (int i = 0; i < 2; ++i) {
        const T ratio = c[i] * inv_depth;
        for (int j = 0; j < NROT; ++j) *out++ = scale * (dc[j][i] - ratio * dc[j][2]);
        for (int k = 0; k < 3; ++k) *out++ = -scale * (rt[i][k] - ratio * rt[2][k]);
      }
    }
  }
  return static_cast<int>(points.size()) * (BEARING ? 3 : 2);
}

}  // namespace camera_position_jacobian

// Points and K shared by the camera gradient functions. Throws exception_l on
// construction when a point does not hold 3 values or K is not 3 by 3.
class Camera_position_grad_func_common : public Grad_func {
public:
  Camera_position_grad_func_common(Opt_func* base, std::vector<std::vector<double>> points,
                                   matrix<double> K);

  const std::vector<std::vector<double>>& get_points() const { return points_; }
  const matrix<double>& get_K() const { return K_; }

protected:
  // Checks x and J for a call writing rows_per_point rows per point with
  // nrot + 3 columns; returns the first element of row row0.
  double* checked_rows(const std::vector<double>& x, cv::Mat& jacobian, int row0, int nrot, int rows_per_point) const;

  std::vector<std::vector<double>> points_;
  matrix<double> K_;
};

namespace camera_position_jacobian {

// The rotation of a search vector's first kValues values, with its derivatives,
// one struct per parameterisation of the gradient classes below.
struct Rot_vec_at {  // rotation vector; at r = 0 each value is taken as 1e-9
  static constexpr int kValues = 3;
  static Rotation_with_derivatives<double, 3> at(const double* x);
};
struct Ang_axis_at {  // angle-axis, the axis normalised
  static constexpr int kValues = 4;
  static Rotation_with_derivatives<double, 4> at(const double* x);
};
struct Quaternion_at {  // Q(q) / |q|²; at a zero vector part each of x, y, z is 1e-9
  static constexpr int kValues = 4;
  static Rotation_with_derivatives<double, 4> at(const double* x);
};
struct Unit_quaternion_at {  // the unit-quaternion matrix at q / |q|
  static constexpr int kValues = 4;
  static Rotation_with_derivatives<double, 4> at(const double* x);
};

}  // namespace camera_position_jacobian

// The Jacobian of one parameterisation: Rotation (one of the *_at structs above)
// gives the rotation values, kBearing selects the camera-frame rows (3 per
// point) instead of the pixel rows (2 per point).
template <class Rotation, bool kBearing>
class Camera_position_grad_func_single : public Camera_position_grad_func_common {
public:
  Camera_position_grad_func_single(Opt_func* base, std::vector<std::vector<double>> points, matrix<double> K)
      : Camera_position_grad_func_common(base, std::move(points), std::move(K)) {}
  ~Camera_position_grad_func_single() override = default;
  // Instantiated for the seven classes below, in camera_position_grad_funcs.cpp.
  int operator()(const std::vector<double>& x, cv::Mat& jacobian, int row0) const override;
};

// Rotation vector r (3 values, radians). At r = 0 each value is taken as 1e-9.
class Camera_position_grad_func_aau
    : public Camera_position_grad_func_single<camera_position_jacobian::Rot_vec_at, false> {
public:
  using Camera_position_grad_func_single::Camera_position_grad_func_single;
};

// Angle-axis (axis, angle): exact derivative including the axis normalisation.
class Camera_position_grad_func_aan
    : public Camera_position_grad_func_single<camera_position_jacobian::Ang_axis_at, false> {
public:
  using Camera_position_grad_func_single::Camera_position_grad_func_single;
};

// Quaternion (x, y, z, w), any length; at a zero vector part each of x, y, z is 1e-9.
class Camera_position_grad_func_qu
    : public Camera_position_grad_func_single<camera_position_jacobian::Quaternion_at, false> {
public:
  using Camera_position_grad_func_single::Camera_position_grad_func_single;
};

// Quaternion (x, y, z, w), any length: the unit-quaternion matrix at q / |q|
// with the chain rule of the normalisation, so the rows are the exact
// derivatives of the cost (no component along q).
class Camera_position_grad_func_qn
    : public Camera_position_grad_func_single<camera_position_jacobian::Unit_quaternion_at, false> {
public:
  using Camera_position_grad_func_single::Camera_position_grad_func_single;
};

// As aau, bearing-vector rows (c0, c1, c2).
class Camera_position_grad_func_aau_bv
    : public Camera_position_grad_func_single<camera_position_jacobian::Rot_vec_at, true> {
public:
  using Camera_position_grad_func_single::Camera_position_grad_func_single;
};

// Angle-axis, exact derivative including the axis normalisation, as aan.
// Bearing-vector rows.
class Camera_position_grad_func_aan_bv
    : public Camera_position_grad_func_single<camera_position_jacobian::Ang_axis_at, true> {
public:
  using Camera_position_grad_func_single::Camera_position_grad_func_single;
};

// As qu, bearing-vector rows.
class Camera_position_grad_func_qu_bv
    : public Camera_position_grad_func_single<camera_position_jacobian::Quaternion_at, true> {
public:
  using Camera_position_grad_func_single::Camera_position_grad_func_single;
};

}  // namespace trel

#endif
