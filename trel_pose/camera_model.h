#ifndef TREL_POSE_CAMERA_MODEL_H
#define TREL_POSE_CAMERA_MODEL_H

#include "trel_tools/matrix.h"

namespace trel {

// Where a world point lands in a camera, with its derivatives: the one place
// where the pose jobs turn a world point into a camera-frame point or a pixel.
//
// Pose: R_cam_to_world (row-major 3 x 3, camera axes to world axes) and
// centre_in_world. The camera-frame point is c = R^T (X - t). The pose
// Jacobians are with respect to (delta, t), the rotation perturbed as
// R <- exp([delta]x) R, as the pose kernel steps it: with v = X - t,
// dc/ddelta = R^T [v]x, dc/dt = -R^T, dc/dX = R^T.
//
// A lens model is a type with `project(c, pixel, J)` (the pixel of the
// camera-frame point c and its 2 x 3 Jacobian d pixel / d c); the passes below
// are templates over it, so that a job dispatches on the model once, outside
// its loop over the points, and the pinhole pays for nothing else.

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

// The pinhole of a 3 x 3 K = [fx skew cx; 0 fy cy; 0 0 1]; the entries of the
// last row and below the diagonal are not read.
Pinhole_model<double> pinhole_from(const matrix<double>& K);

// The camera-frame point of world point X and, when the pointers are given,
// its Jacobians (3 x 6 with respect to (delta, t), 3 x 3 with respect to X).
template <typename T>
inline void camera_frame_point(const T* R_cam_to_world, const T* centre_in_world, const T* X, T c[3],
                               T (*J_pose)[6] = nullptr, T (*J_point)[3] = nullptr) {
  const T v[3] = {X[0] - centre_in_world[0], X[1] - centre_in_world[1], X[2] - centre_in_world[2]};
  for (int r = 0; r < 3; ++r) {
    // Row r of R^T is column r of R.
    const T a[3] = {R_cam_to_world[r], R_cam_to_world[3 + r], R_cam_to_world[6 + r]};
    c[r] = a[0] * v[0] + a[1] * v[1] + a[2] * v[2];
    if (J_pose) {
      // d c_r / d delta = a^T [v]x, the row a x v.
      J_pose[r][0] = a[1] * v[2] - a[2] * v[1];
      J_pose[r][1] = a[2] * v[0] - a[0] * v[2];
      J_pose[r][2] = a[0] * v[1] - a[1] * v[0];
      for (int k = 0; k < 3; ++k) J_pose[r][3 + k] = -a[k];
    }
    if (J_point)
      for (int k = 0; k < 3; ++k) J_point[r][k] = a[k];
  }
}

// The pixel of world point X under the lens model and, when the pointers are
// given, its Jacobians (2 x 6 with respect to (delta, t), 2 x 3 with respect
// to X): the lens's d pixel / d c times those of camera_frame_point.
template <typename T, class Lens>
inline void world_point_pixel(const Lens& lens, const T* R_cam_to_world, const T* centre_in_world, const T* X,
                              T pixel[2], T (*J_pose)[6] = nullptr, T (*J_point)[3] = nullptr) {
  T c[3], C_pose[3][6], C_point[3][3], P[2][3];
  camera_frame_point<T>(R_cam_to_world, centre_in_world, X, c, J_pose ? C_pose : nullptr,
                        J_point ? C_point : nullptr);
  lens.project(c, pixel, P);
  for (int r = 0; r < 2; ++r) {
    if (J_pose)
      for (int k = 0; k < 6; ++k) J_pose[r][k] = P[r][0] * C_pose[0][k] + P[r][1] * C_pose[1][k] + P[r][2] * C_pose[2][k];
    if (J_point)
      for (int k = 0; k < 3; ++k)
        J_point[r][k] = P[r][0] * C_point[0][k] + P[r][1] * C_point[1][k] + P[r][2] * C_point[2][k];
  }
}

}  // namespace trel

#endif
