#ifndef TREL_POSE_CAMERA_MODEL_H
#define TREL_POSE_CAMERA_MODEL_H

#include <algorithm>
#include <cmath>

#include "trel_tools/matrix.h"

// The per-point projections and the pose jobs' per-point helpers are inlined
// into the loops over the points, so that the loops' sums stay in registers (a
// call would make the compiler assume they alias the rows).
#if defined(__GNUC__)
#define TREL_POSE_INLINE inline __attribute__((always_inline))
#else
#define TREL_POSE_INLINE inline
#endif

namespace trel {

// A depth (the camera-frame z of X - centre) below this share of the
// coordinates' size is rounding: the point is not known to be in front.
constexpr double kDepthResolution = 1e-10;

// Whether a point with this depth is in front of the camera: positive by more
// than the rounding of X - centre can explain.
template <typename T>
TREL_POSE_INLINE bool in_front(T depth, const T* X, const T* centre_in_world) {
  using std::fabs;
  using std::max;
  const T size = max(max(max(fabs(X[0]), fabs(X[1])), max(fabs(X[2]), fabs(centre_in_world[0]))),
                     max(fabs(centre_in_world[1]), fabs(centre_in_world[2])));
  return depth > T(kDepthResolution) * size;
}

// Where a world point lands in a camera, with its derivatives: the one place
// where the pose jobs turn a world point into a camera-frame point or a pixel.
//
// Pose: R_cam_to_world (row-major 3 x 3, camera axes to world axes) and
// centre_in_world; the camera-frame point of world point X is
// c = R^T (X - t). Derivatives are given as a: the gradient of each predicted
// row with respect to X in world axes. With v = X - t and the rotation
// perturbed as R <- exp([delta]x) R (as the pose kernel steps it), the row's
// Jacobian with respect to (delta, t) is (a x v, -a) (pose_jacobian_row), and
// with respect to the point it is a itself.
//
// A lens model (Pinhole_model now) has project(c, pixel, J), the pixel of the
// camera-frame point c and d pixel / d c, and a projector bound to one pose
// (Pinhole_at_pose) that the jobs build once per pose, outside their loop over
// the points; the jobs' passes are templates over the projector, so that a
// model added beside the pinhole costs the pinhole nothing.

// The pinhole: u = (fx x + skew y) / z + cx, v = fy y / z + cy.
template <typename T>
struct Pinhole_model {
  T fx = T(1), fy = T(1), cx = T(0), cy = T(0), skew = T(0);

  void project(const T c[3], T pixel[2], T J[2][3]) const {
    const T inverse_depth = T(1) / c[2];
    const T x = c[0] * inverse_depth, y = c[1] * inverse_depth;
    pixel[0] = fx * x + skew * y + cx;
    pixel[1] = fy * y + cy;
    J[0][0] = fx * inverse_depth;
    J[0][1] = skew * inverse_depth;
    J[0][2] = -(fx * x + skew * y) * inverse_depth;
    J[1][0] = T(0);
    J[1][1] = fy * inverse_depth;
    J[1][2] = -fy * y * inverse_depth;
  }
};

// The pinhole of a 3 x 3 K = [fx skew cx; 0 fy cy; 0 0 k] (row-major array
// or matrix), read up to its scale k, which is not 0: a K and any non-zero
// multiple of it project every point to the same pixel. The entries below the
// diagonal are not read; check_camera_matrix_form refuses a K where they are
// not 0.
template <typename T>
Pinhole_model<T> pinhole_from(const T* K) {
  Pinhole_model<T> lens;
  lens.fx = K[0] / K[8];
  lens.skew = K[1] / K[8];
  lens.cx = K[2] / K[8];
  lens.fy = K[4] / K[8];
  lens.cy = K[5] / K[8];
  return lens;
}
Pinhole_model<double> pinhole_from(const matrix<double>& K);

// Throws exception_l unless K's entries below the diagonal are 0: the form of
// a pinhole's K that pinhole_from reads.
void check_camera_matrix_form(const matrix<double>& K);

// The Jacobian row (a x v, -a) with respect to (delta, t).
template <typename T>
TREL_POSE_INLINE void pose_jacobian_row(const T a[3], const T v[3], T row[6]) {
  row[0] = a[1] * v[2] - a[2] * v[1];
  row[1] = a[2] * v[0] - a[0] * v[2];
  row[2] = a[0] * v[1] - a[1] * v[0];
  row[3] = -a[0];
  row[4] = -a[1];
  row[5] = -a[2];
}

// The pinhole at one pose: M = K R^T, so that a point costs q = M (X - t) and
// the pixel (q_0, q_1) / q_2. With u = q_r / q_2, row r's gradient is
// a_r = (m_r - u m_2) / q_2 (m_k the rows of M).
template <typename T>
struct Pinhole_at_pose {
  static constexpr int kRows = 2;
  T M[9];

  Pinhole_at_pose() = default;
  Pinhole_at_pose(const Pinhole_model<T>& lens, const T* R_cam_to_world) {
    const T* R = R_cam_to_world;
    for (int k = 0; k < 3; ++k) {
      M[k] = lens.fx * R[3 * k] + lens.skew * R[3 * k + 1] + lens.cx * R[3 * k + 2];
      M[3 + k] = lens.fy * R[3 * k + 1] + lens.cy * R[3 * k + 2];
      M[6 + k] = R[3 * k + 2];
    }
  }

  // Depth along the optical axis: the camera-frame z.
  T depth(const T* X, const T* centre_in_world) const {
    return M[6] * (X[0] - centre_in_world[0]) + M[7] * (X[1] - centre_in_world[1]) +
           M[8] * (X[2] - centre_in_world[2]);
  }
  // Whether X is in front of the camera (in_front).
  bool sees(const T* X, const T* centre_in_world) const {
    return in_front(depth(X, centre_in_world), X, centre_in_world);
  }

  TREL_POSE_INLINE void rows(const T* X, const T* centre_in_world, T v[3], T pixel[2], T a[2][3]) const {
    v[0] = X[0] - centre_in_world[0];
    v[1] = X[1] - centre_in_world[1];
    v[2] = X[2] - centre_in_world[2];
    T q[3];
    for (int k = 0; k < 3; ++k) q[k] = M[3 * k] * v[0] + M[3 * k + 1] * v[1] + M[3 * k + 2] * v[2];
    const T inverse_depth = T(1) / q[2];
    for (int r = 0; r < 2; ++r) {
      pixel[r] = q[r] * inverse_depth;
      for (int k = 0; k < 3; ++k) a[r][k] = (M[3 * r + k] - pixel[r] * M[6 + k]) * inverse_depth;
    }
  }

  // The pixel only.
  void pixel(const T* X, const T* centre_in_world, T out[2]) const {
    const T v[3] = {X[0] - centre_in_world[0], X[1] - centre_in_world[1], X[2] - centre_in_world[2]};
    T q[3];
    for (int k = 0; k < 3; ++k) q[k] = M[3 * k] * v[0] + M[3 * k + 1] * v[1] + M[3 * k + 2] * v[2];
    out[0] = q[0] / q[2];
    out[1] = q[1] / q[2];
  }
};

// The camera-frame point itself at one pose (the bearing-vector rows):
// c = R^T v, whose row r has the gradient a_r = column r of R.
template <typename T>
struct Camera_frame_at_pose {
  static constexpr int kRows = 3;
  T M[9];  // R^T

  Camera_frame_at_pose() = default;
  explicit Camera_frame_at_pose(const T* R_cam_to_world) {
    for (int r = 0; r < 3; ++r)
      for (int k = 0; k < 3; ++k) M[3 * r + k] = R_cam_to_world[3 * k + r];
  }

  TREL_POSE_INLINE void rows(const T* X, const T* centre_in_world, T v[3], T c[3], T a[3][3]) const {
    v[0] = X[0] - centre_in_world[0];
    v[1] = X[1] - centre_in_world[1];
    v[2] = X[2] - centre_in_world[2];
    for (int r = 0; r < 3; ++r) {
      c[r] = M[3 * r] * v[0] + M[3 * r + 1] * v[1] + M[3 * r + 2] * v[2];
      for (int k = 0; k < 3; ++k) a[r][k] = M[3 * r + k];
    }
  }
};

// The projector of Rows predicted rows: the pinhole's pixels (2) or the
// camera-frame point (3).
template <typename T, int Rows>
struct Projector_of {
  using type = Pinhole_at_pose<T>;
};
template <typename T>
struct Projector_of<T, 3> {
  using type = Camera_frame_at_pose<T>;
};

// The projector at a pose for Rows rows (the lens unused for the camera frame).
template <typename T, int Rows>
typename Projector_of<T, Rows>::type projector_at(const Pinhole_model<T>& lens, const T* R_cam_to_world) {
  if constexpr (Rows == 3) {
    (void)lens;
    return Camera_frame_at_pose<T>(R_cam_to_world);
  } else {
    return Pinhole_at_pose<T>(lens, R_cam_to_world);
  }
}

// World point X's predicted rows at a pose and their Jacobians with respect to
// (delta, t) and, when J_point is given, the point.
template <typename T, int Rows>
inline void world_point_rows(const Pinhole_model<T>& lens, const T* R_cam_to_world, const T* centre_in_world,
                             const T* X, T predicted[Rows], T J_pose[Rows][6], T (*J_point)[3] = nullptr) {
  T v[3], a[Rows][3];
  projector_at<T, Rows>(lens, R_cam_to_world).rows(X, centre_in_world, v, predicted, a);
  for (int r = 0; r < Rows; ++r) {
    pose_jacobian_row(a[r], v, J_pose[r]);
    if (J_point)
      for (int k = 0; k < 3; ++k) J_point[r][k] = a[r][k];
  }
}

}  // namespace trel

#endif
