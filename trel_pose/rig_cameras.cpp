// The rig of the toolkit's configured cameras: kept apart from rig.cpp so that
// the rig jobs that take their rig from arrays or files need no Camera.
#include <cstddef>
#include <vector>

#include "trel_pose/rig.h"
#include "trel_tools/exception_l.h"

namespace trel {
namespace {

// R_first^T R_other and R_first^T (t_other - t_first): the pose of a camera
// given in the world, in the frame of the first camera.
void relative_pose(const double R_first[9], const double t_first[3], const double R_other[9],
                   const double t_other[3], Rig_camera& camera) {
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      double sum = 0.0;
      for (int k = 0; k < 3; ++k) sum += R_first[3 * k + r] * R_other[3 * k + c];
      camera.R_cam_to_rig[3 * r + c] = sum;
    }
    double sum = 0.0;
    for (int k = 0; k < 3; ++k) sum += R_first[3 * k + r] * (t_other[k] - t_first[k]);
    camera.centre_in_rig[r] = sum;
  }
}

// Camera axes to world axes and the centre of a configured camera, read
// through undo_extrinsic (camera to world): the image of 0 and of each axis.
void world_pose_of(const Camera& camera, double R_cam_to_world[9], double centre_in_world[3]) {
  double x = 0, y = 0, z = 0;
  camera.undo_extrinsic(x, y, z);
  centre_in_world[0] = x;
  centre_in_world[1] = y;
  centre_in_world[2] = z;
  for (int c = 0; c < 3; ++c) {
    double axis[3] = {c == 0 ? 1.0 : 0.0, c == 1 ? 1.0 : 0.0, c == 2 ? 1.0 : 0.0};
    camera.undo_extrinsic(axis[0], axis[1], axis[2]);
    for (int r = 0; r < 3; ++r) R_cam_to_world[3 * r + c] = axis[r] - centre_in_world[r];
  }
}

// The pinhole of a configured camera in pixels: its focal lengths and centre
// are fractions of the image size.
Camera_model pinhole_of(const Camera& camera, std::size_t index) {
  bool projection_matrices = false;
  try {
    double x = 0, y = 0, z = 0;
    camera.unproject(0.0, 0.0, 0.0, x, y, z);
  } catch (const exception_l&) {
    projection_matrices = true;
  }
  TREL_CHECK(!projection_matrices, "camera " << index << " is given by a projection matrix: a rig needs its "
                                             << "focal lengths and centre (bumblebee_params)");
  const double W = camera.get_image_width(), H = camera.get_image_height();
  TREL_CHECK(W > 0 && H > 0, "camera " << index << " has no image size (" << W << " x " << H
                                       << "): its focal lengths in pixels are unknown");
  Camera_model model;
  model.pinhole.fx = camera.get_x_focus_pixels() * W;
  model.pinhole.fy = camera.get_y_focus_pixels() * H;
  model.pinhole.cx = camera.get_x_centre() * W;
  model.pinhole.cy = camera.get_y_centre() * H;
  return model;
}

}  // namespace

Rig rig_of_cameras(const std::vector<Camera>& cameras) {
  TREL_CHECK(!cameras.empty(), "a rig needs at least one camera, got none");
  double R_first[9], t_first[3];
  world_pose_of(cameras[0], R_first, t_first);
  std::vector<Rig_camera> rig(cameras.size());
  for (std::size_t i = 0; i < cameras.size(); ++i) {
    rig[i].model = pinhole_of(cameras[i], i);
    double R_cam_to_world[9], centre_in_world[3];
    world_pose_of(cameras[i], R_cam_to_world, centre_in_world);
    relative_pose(R_first, t_first, R_cam_to_world, centre_in_world, rig[i]);
  }
  return make_rig(rig);
}

}  // namespace trel
