#include "trel_pose/rig.h"

#include <cmath>
#include <cstddef>
#include <string>

#include "trel_tools/exception_l.h"

namespace trel {
namespace {

// Largest element of R^T R - I of a rotation, as the pose jobs' other checks.
constexpr double kRotationTolerance = 1e-6;

bool finite(const double* values, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (!std::isfinite(values[i])) return false;
  return true;
}

// Empty, or why R (row-major 3 x 3) is not a rotation.
std::string rotation_fault(const double R[9]) {
  double worst = 0.0;
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) {
      double dot = 0.0;
      for (int k = 0; k < 3; ++k) dot += R[3 * k + a] * R[3 * k + b];
      worst = std::fmax(worst, std::fabs(dot - (a == b ? 1.0 : 0.0)));
    }
  if (!(worst <= kRotationTolerance))
    return "is not orthonormal (R^T R differs from the identity by " + std::to_string(worst) + ")";
  const double det = R[0] * (R[4] * R[8] - R[5] * R[7]) - R[1] * (R[3] * R[8] - R[5] * R[6]) +
                     R[2] * (R[3] * R[7] - R[4] * R[6]);
  if (!(det > 0.0)) return "is a reflection (determinant " + std::to_string(det) + "), not a rotation";
  return std::string();
}

void check_rig_camera(const Rig_camera& camera, const std::string& name) {
  const Pinhole_model<double>& k = camera.model.pinhole;
  const double pinhole[5] = {k.fx, k.fy, k.cx, k.cy, k.skew};
  TREL_CHECK(finite(pinhole, 5), name << "'s intrinsics should be finite numbers only");
  TREL_CHECK(k.fx != 0.0 && k.fy != 0.0,
             name << "'s focal lengths should not be 0, instead fx is " << k.fx << " and fy " << k.fy);
  TREL_CHECK(finite(camera.model.lens.k, 8), name << "'s distortion coefficients should be finite numbers only");
  TREL_CHECK(finite(camera.R_cam_to_rig, 9), name << "'s R_cam_to_rig should hold finite numbers only");
  TREL_CHECK(finite(camera.centre_in_rig, 3), name << "'s centre in the rig should hold finite numbers only");
  const std::string fault = rotation_fault(camera.R_cam_to_rig);
  TREL_CHECK(fault.empty(), name << "'s R_cam_to_rig " << fault);
}

}  // namespace

Rig make_rig(const std::vector<Rig_camera>& cameras) {
  TREL_CHECK(!cameras.empty(), "a rig needs at least one camera, got none");
  for (std::size_t i = 0; i < cameras.size(); ++i) check_rig_camera(cameras[i], "rig camera " + std::to_string(i));
  Rig rig;
  rig.cameras = cameras;
  return rig;
}

Rig_camera make_rig_camera(const matrix<double>& K, const std::vector<double>& distortion, bool fisheye,
                           const matrix<double>& R_cam_to_rig, const std::vector<double>& centre_in_rig) {
  Rig_camera camera;
  camera.model = make_camera_model(K, distortion, fisheye);
  TREL_CHECK(R_cam_to_rig.get_dim1() == 3 && R_cam_to_rig.get_dim2() == 3,
             "a rig camera's R_cam_to_rig should be 3 by 3, instead got " << R_cam_to_rig.get_dim1() << " by "
                                                                        << R_cam_to_rig.get_dim2());
  TREL_CHECK(centre_in_rig.size() == 3,
             "a rig camera's centre in the rig should hold 3 values, instead it holds " << centre_in_rig.size());
  for (unsigned r = 0; r < 3; ++r) {
    for (unsigned c = 0; c < 3; ++c) camera.R_cam_to_rig[3 * r + c] = R_cam_to_rig[r][c];
    camera.centre_in_rig[r] = centre_in_rig[r];
  }
  check_rig_camera(camera, "the rig camera");
  return camera;
}

Rig rig_of_stereo_calibration(const Stereo_calibration& calibration) {
  TREL_CHECK(calibration.R.get_dim1() == 3 && calibration.R.get_dim2() == 3 && calibration.T.size() == 3,
             "a stereo calibration needs R 3 by 3 and T of 3 values, instead got R "
                 << calibration.R.get_dim1() << " by " << calibration.R.get_dim2() << " and T of "
                 << calibration.T.size());
  Rig_camera first, second;
  first.model = camera_model_of(calibration.first);
  second.model = camera_model_of(calibration.second);
  // X2 = R X1 + T: the second camera's axes in the first's are the rows of R,
  // and its centre (X2 = 0) is -R^T T.
  for (unsigned r = 0; r < 3; ++r) {
    double centre = 0.0;
    for (unsigned c = 0; c < 3; ++c) {
      second.R_cam_to_rig[3 * r + c] = calibration.R[c][r];
      centre -= calibration.R[c][r] * calibration.T[c];
    }
    second.centre_in_rig[r] = centre;
  }
  return make_rig({first, second});
}

Rig read_rig_calibration(const std::string& path, bool fisheye) {
  return rig_of_stereo_calibration(read_stereo_calibration(path, fisheye));
}

}  // namespace trel
