// A calibration written by OpenCV, read back, and one pixel through its lens model.
#include <cstdio>

#include <opencv2/core.hpp>

#include "trel_pose/calibration_file.h"
#include "trel_pose/lens_distortion.h"

int main() {
  {
    cv::FileStorage fs("/tmp/trel_lens_models_example.yml", cv::FileStorage::WRITE);
    fs << "camera_matrix" << cv::Mat(cv::Matx33d(700, 0, 320, 0, 700, 240, 0, 0, 1))
       << "distortion_coefficients" << (cv::Mat_<double>(1, 5) << -0.3, 0.1, 0.001, 0.002, -0.02);
  }
  // [lens]
  const trel::Camera_calibration c = trel::read_camera_calibration("/tmp/trel_lens_models_example.yml");
  const trel::Lens_distortion<double> lens = trel::make_lens_distortion(c.distortion, c.fisheye);
  double xd, yd, x, y;
  trel::distort(lens, 0.4, -0.3, xd, yd);  // normalised (X/Z, Y/Z) to distorted
  std::printf("pixel %.4f %.4f\n", c.K[0][0] * xd + c.K[0][2], c.K[1][1] * yd + c.K[1][2]);
  if (trel::undistort(lens, xd, yd, x, y)) std::printf("back to %.12f %.12f\n", x, y);  // false: no inverse there
  // [/lens]
  std::remove("/tmp/trel_lens_models_example.yml");
}
