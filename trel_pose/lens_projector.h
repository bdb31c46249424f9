#ifndef TREL_POSE_LENS_PROJECTOR_H
#define TREL_POSE_LENS_PROJECTOR_H

#include "trel_pose/camera_model.h"
#include "trel_pose/lens_distortion.h"

namespace trel {

// A pinhole camera behind one of OpenCV's lens models: the camera-frame point
// c becomes the normalised point (x, y) = (c_0 / c_2, c_1 / c_2), the lens
// distorts it to (xd, yd), and the intrinsics turn that into the pixel
// u = fx xd + skew yd + cx, v = fy yd + cy (cv::projectPoints and
// cv::fisheye::projectPoints, whose alpha is skew / fx).
template <typename T>
struct Lens_camera_model {
  Pinhole_model<T> pinhole;
  Lens_distortion<T> lens;
};

// The lens camera at one pose, with the interface of Pinhole_at_pose: the
// pixel of a world point X and, per pixel row, its gradient a with respect to
// X in world axes (so (a x v, -a) with respect to (delta, t)).
template <typename T>
struct Lens_camera_at_pose {
  static constexpr int kRows = 2;
  T world_to_camera[9];  // R^T, row-major
  Lens_camera_model<T> model;

  Lens_camera_at_pose() = default;
  Lens_camera_at_pose(const Lens_camera_model<T>& camera, const T* R_cam_to_world) : model(camera) {
    for (int r = 0; r < 3; ++r)
      for (int k = 0; k < 3; ++k) world_to_camera[3 * r + k] = R_cam_to_world[3 * k + r];
  }

  // Depth along the optical axis: the camera-frame z.
  T depth(const T* X, const T* centre_in_world) const {
    return world_to_camera[6] * (X[0] - centre_in_world[0]) + world_to_camera[7] * (X[1] - centre_in_world[1]) +
           world_to_camera[8] * (X[2] - centre_in_world[2]);
  }
  // Whether X is in front of the camera (in_front).
  bool sees(const T* X, const T* centre_in_world) const {
    return in_front(depth(X, centre_in_world), X, centre_in_world);
  }

  TREL_POSE_INLINE void rows(const T* X, const T* centre_in_world, T v[3], T pixel[2], T a[2][3]) const {
    v[0] = X[0] - centre_in_world[0];
    v[1] = X[1] - centre_in_world[1];
    v[2] = X[2] - centre_in_world[2];
    T c[3];
    for (int r = 0; r < 3; ++r)
      c[r] = world_to_camera[3 * r] * v[0] + world_to_camera[3 * r + 1] * v[1] + world_to_camera[3 * r + 2] * v[2];
    const T inverse_depth = T(1) / c[2];
    const T x = c[0] * inverse_depth, y = c[1] * inverse_depth;
    T xd, yd, J[4];
    distort(model.lens, x, y, xd, yd, J);
    const Pinhole_model<T>& k = model.pinhole;
    pixel[0] = k.fx * xd + k.skew * yd + k.cx;
    pixel[1] = k.fy * yd + k.cy;
    // d pixel / d (x, y) = [fx skew; 0 fy] J, then d (x, y) / d c = [1 0 -x; 0 1 -y] / c_2.
    const T P[2][2] = {{k.fx * J[0] + k.skew * J[2], k.fx * J[1] + k.skew * J[3]}, {k.fy * J[2], k.fy * J[3]}};
    for (int r = 0; r < 2; ++r) {
      const T dc[3] = {P[r][0] * inverse_depth, P[r][1] * inverse_depth, -(P[r][0] * x + P[r][1] * y) * inverse_depth};
      for (int j = 0; j < 3; ++j)
        a[r][j] = dc[0] * world_to_camera[j] + dc[1] * world_to_camera[3 + j] + dc[2] * world_to_camera[6 + j];
    }
  }

  // The pixel only.
  void pixel(const T* X, const T* centre_in_world, T out[2]) const {
    const T v[3] = {X[0] - centre_in_world[0], X[1] - centre_in_world[1], X[2] - centre_in_world[2]};
    T c[3];
    for (int r = 0; r < 3; ++r)
      c[r] = world_to_camera[3 * r] * v[0] + world_to_camera[3 * r + 1] * v[1] + world_to_camera[3 * r + 2] * v[2];
    T xd, yd;
    distort(model.lens, c[0] / c[2], c[1] / c[2], xd, yd);
    out[0] = model.pinhole.fx * xd + model.pinhole.skew * yd + model.pinhole.cx;
    out[1] = model.pinhole.fy * yd + model.pinhole.cy;
  }
};

}  // namespace trel

#endif
