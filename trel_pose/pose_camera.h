#ifndef TREL_POSE_POSE_CAMERA_H
#define TREL_POSE_POSE_CAMERA_H

#include <vector>

#include "trel_pose/calibration_file.h"
#include "trel_pose/lens_projector.h"
#include "trel_tools/matrix.h"

namespace trel {

// The camera every pose job takes in place of K: the pinhole intrinsics and
// one of OpenCV's lens models (trel_pose/lens_distortion.h). A model without
// distortion (Lens_model::none, or the radial-tangential model with every
// coefficient 0) runs the pinhole path and costs nothing over it.
using Camera_model = Lens_camera_model<double>;

// The model of K = [fx s cx; 0 fy cy; 0 0 1] and OpenCV's coefficients
// (k1 k2 p1 p2 [k3 [k4 k5 k6]], or k1..k4 with fisheye; none: the pinhole).
// Throws exception_l on a K that is not 3 x 3 or not finite, a focal length of
// 0, or coefficients make_lens_distortion refuses; nothing is changed.
Camera_model make_camera_model(const matrix<double>& K, const std::vector<double>& distortion = {},
                               bool fisheye = false);

// The model of a calibration read by read_camera_calibration.
Camera_model camera_model_of(const Camera_calibration& calibration);

// The 3 x 3 K of the model's pinhole.
matrix<double> camera_matrix_of(const Camera_model& camera);

// OpenCV's coefficient vector of the model's lens (none: empty; the
// radial-tangential model: 8 values; fisheye: 4).
std::vector<double> distortion_of(const Camera_model& camera);

// true when the model distorts: a fisheye model (equidistant, even with every
// coefficient 0), or the radial-tangential model with a coefficient that is not 0.
bool has_distortion(const Camera_model& camera);

}  // namespace trel

#endif
