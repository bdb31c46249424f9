#ifndef TREL_POSE_CALIBRATION_FILE_H
#define TREL_POSE_CALIBRATION_FILE_H

#include <string>
#include <vector>

#include "trel_tools/matrix.h"

namespace trel {

// One camera's calibration as OpenCV writes it.
struct Camera_calibration {
  matrix<double> K;                 // 3 x 3: fx s cx; 0 fy cy; 0 0 1
  std::vector<double> distortion;   // OpenCV's order: k1 k2 p1 p2 [k3 [k4 k5 k6]], or k1..k4 for fisheye
  bool fisheye = false;
  int image_width = 0;              // 0 when the file does not say
  int image_height = 0;
};

// A stereo calibration: the two cameras and, as cv::stereoCalibrate defines
// them, the rotation R and translation T that take a point from the first
// camera's frame into the second's (X2 = R X1 + T).
struct Stereo_calibration {
  Camera_calibration first;
  Camera_calibration second;
  matrix<double> R;                 // 3 x 3
  std::vector<double> T;            // 3 values
};

// Reads `camera_matrix` and `distortion_coefficients` (and `image_width`,
// `image_height` when present) from a cv::FileStorage file (YAML or XML), as
// OpenCV's calibration samples write them. The model is fisheye when `fisheye`
// is set or the file holds a non-zero `fisheye_model`; then the coefficients
// must be 4. Throws exception_l naming the file and the node: a file that
// cannot be opened, a missing node, a node of the wrong size, a value that is
// not finite, a K whose last row is not (0, 0, 1) or whose focal lengths are
// not positive.
Camera_calibration read_camera_calibration(const std::string& path, bool fisheye = false);

// Reads `M1`, `D1`, `M2`, `D2`, `R` and `T` (cv::stereoCalibrate's outputs, as
// OpenCV's stereo sample writes them). Same refusals; R must be a rotation.
Stereo_calibration read_stereo_calibration(const std::string& path, bool fisheye = false);

}  // namespace trel

#endif
