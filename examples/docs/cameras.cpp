// One camera set by hand, then the rig of the sample configuration.
#include <cstdio>
#include <vector>

#include "trel_tools/Camera.h"
#include "trel_tools/configuration.h"

int main() {
  // [camera]
  trel::Camera camera;
  camera.set_camera_params(0.5, 0.5, 1.25, 1.6667, 0.12);  // cx, cy, fx, fy (image fractions), baseline
  camera.set_resolution(640, 480);
  camera.set_extrinsics({0.0, 0.0, 0.0, 0.0, 0.0, -1.0});  // roll pitch yaw (degrees), centre
  double u, v, disp;
  camera.project(0.2, -0.1, 3.0, u, v, disp);  // all 0 when not visible
  std::printf("u %.2f v %.2f disparity %.2f\n", u, v, disp);
  // [/camera]
  // [rig]
  trel::configuration config("examples/stereo_rig.txt");
  std::vector<trel::Camera> rig;
  trel::create_camera_vector(rig, config);  // one camera per bumblebee_params line
  double x, y, z;
  rig[0].project(0.0, 0.0, 3.0, u, v, disp);  // pixel and disparity; all 0 if not visible
  rig[0].unproject(u, v, disp, x, y, z);      // back to (0, 0, 3), up to rounding
  std::printf("%zu cameras; (0, 0, 3) -> u %.2f v %.2f disparity %.2f -> (%.3f, %.3f, %.3f)\n", rig.size(), u, v,
              disp, x, y, z);
  // [/rig]
}
