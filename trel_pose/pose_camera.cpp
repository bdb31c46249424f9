#include "trel_pose/pose_camera.h"

#include <cmath>

#include "trel_tools/exception_l.h"

namespace trel {

Camera_model make_camera_model(const matrix<double>& K, const std::vector<double>& distortion, bool fisheye) {
  TREL_CHECK(K.get_dim1() == 3 && K.get_dim2() == 3,
             "K should be 3 by 3, instead got " << K.get_dim1() << " by " << K.get_dim2());
  for (unsigned r = 0; r < 3; ++r)
    for (unsigned c = 0; c < 3; ++c)
      TREL_CHECK(std::isfinite(K[r][c]), "K should hold finite numbers only, instead element ("
                                             << r + 1 << "," << c + 1 << ") is " << K[r][c]);
  check_camera_matrix_form(K);
  TREL_CHECK(K[2][2] != 0.0, "K's element (3,3) should not be 0: it is the scale of the camera matrix");
  TREL_CHECK(K[0][0] != 0.0 && K[1][1] != 0.0,
             "K's focal lengths should not be 0, instead fx is " << K[0][0] << " and fy " << K[1][1]);
  Camera_model camera;
  camera.pinhole = pinhole_from(K);
  TREL_CHECK(std::isfinite(camera.pinhole.fx) && std::isfinite(camera.pinhole.fy) &&
                 std::isfinite(camera.pinhole.cx) && std::isfinite(camera.pinhole.cy) &&
                 std::isfinite(camera.pinhole.skew),
             "K over its element (3,3), " << K[2][2] << ", is not finite");
  camera.lens = make_lens_distortion(distortion, fisheye);
  return camera;
}

Camera_model camera_model_of(const Camera_calibration& calibration) {
  return make_camera_model(calibration.K, calibration.distortion, calibration.fisheye);
}

matrix<double> camera_matrix_of(const Camera_model& camera) {
  matrix<double> K(3, 3);
  K[0][0] = camera.pinhole.fx;
  K[0][1] = camera.pinhole.skew;
  K[0][2] = camera.pinhole.cx;
  K[1][0] = 0.0;
  K[1][1] = camera.pinhole.fy;
  K[1][2] = camera.pinhole.cy;
  K[2][0] = 0.0;
  K[2][1] = 0.0;
  K[2][2] = 1.0;
  return K;
}

std::vector<double> distortion_of(const Camera_model& camera) {
  switch (camera.lens.model) {
    case Lens_model::none: return {};
    case Lens_model::fisheye: return std::vector<double>(camera.lens.k, camera.lens.k + 4);
    case Lens_model::radial_tangential: break;
  }
  return std::vector<double>(camera.lens.k, camera.lens.k + 8);
}

bool has_distortion(const Camera_model& camera) { return !camera.lens.is_identity(); }

}  // namespace trel
