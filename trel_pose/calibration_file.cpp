#include "trel_pose/calibration_file.h"

#include <cmath>

#include <opencv2/core.hpp>

#include "trel_pose/lens_distortion.h"
#include "trel_tools/exception_l.h"

namespace trel {

namespace {

// The largest departure of R^T R from I, and of det R from 1, of a rotation.
constexpr double kRotationTolerance = 1e-6;

cv::FileStorage open_storage(const std::string& path) {
  cv::FileStorage fs;
  try {
    fs.open(path, cv::FileStorage::READ);
  } catch (const cv::Exception& e) {
    TREL_THROW(path << ": not a calibration file OpenCV can read (" << e.msg << ")");
  }
  TREL_CHECK(fs.isOpened(), path << ": cannot be opened as a calibration file");
  return fs;
}

// A matrix node of rows x cols finite numbers; rows or cols 0: any vector length.
cv::Mat read_matrix(const cv::FileStorage& fs, const std::string& path, const std::string& node, int rows, int cols) {
  const cv::FileNode n = fs[node];
  TREL_CHECK(!n.empty(), path << ": the node " << node << " is missing");
  cv::Mat m;
  try {
    if (n.isSeq()) {  // a plain list of numbers, as hand-written files hold them
      std::vector<double> values;
      n >> values;
      m = cv::Mat(values, true).reshape(1, 1);
    } else {
      n >> m;
    }
  } catch (const cv::Exception& e) {
    TREL_THROW(path << ": the node " << node << " is not a matrix (" << e.msg << ")");
  }
  TREL_CHECK(!m.empty() && m.channels() == 1, path << ": the node " << node << " is not a matrix of numbers");
  m.convertTo(m, CV_64F);
  if (rows == 0) {
    TREL_CHECK(m.rows == 1 || m.cols == 1, path << ": the node " << node << " should be a vector, it is " << m.rows
                                                << " x " << m.cols);
    m = m.reshape(1, 1);
  } else {
    TREL_CHECK(m.rows == rows && m.cols == cols, path << ": the node " << node << " should be " << rows << " x "
                                                      << cols << ", it is " << m.rows << " x " << m.cols);
  }
  for (int r = 0; r < m.rows; ++r)
    for (int c = 0; c < m.cols; ++c)
      TREL_CHECK(std::isfinite(m.at<double>(r, c)),
                 path << ": the node " << node << " holds a value that is not finite at (" << r << ", " << c << ")");
  return m;
}

// The cause of an exception_l: its origin frame's "Details: " text.
std::string cause_of(const exception_l& e) {
  const std::string text = e.what();
  const std::string::size_type at = text.rfind("Details: ");
  if (at == std::string::npos) return text;
  return text.substr(at + 9, text.find('\n', at) == std::string::npos ? std::string::npos : text.find('\n', at) - at - 9);
}

matrix<double> to_matrix(const cv::Mat& m) {
  matrix<double> out(m.rows, m.cols);
  for (int r = 0; r < m.rows; ++r)
    for (int c = 0; c < m.cols; ++c) out.set(r, c, m.at<double>(r, c));
  return out;
}

Camera_calibration read_camera(const cv::FileStorage& fs, const std::string& path, const std::string& k_node,
                               const std::string& d_node, bool fisheye) {
  Camera_calibration c;
  const cv::Mat K = read_matrix(fs, path, k_node, 3, 3);
  TREL_CHECK(K.at<double>(2, 0) == 0.0 && K.at<double>(2, 1) == 0.0 && K.at<double>(2, 2) == 1.0 &&
                 K.at<double>(1, 0) == 0.0,
             path << ": the node " << k_node << " is not a camera matrix [fx s cx; 0 fy cy; 0 0 1]");
  TREL_CHECK(K.at<double>(0, 0) > 0.0 && K.at<double>(1, 1) > 0.0,
             path << ": the node " << k_node << " has focal lengths that are not positive");
  c.K = to_matrix(K);
  const cv::Mat D = read_matrix(fs, path, d_node, 0, 0);
  c.distortion.assign(D.ptr<double>(0), D.ptr<double>(0) + D.cols);
  c.fisheye = fisheye;
  try {
    make_lens_distortion(c.distortion, c.fisheye);
  } catch (const exception_l& e) {
    TREL_THROW(path << ": the node " << d_node << " does not hold a lens model: " << cause_of(e));
  }
  return c;
}

void read_image_size(const cv::FileStorage& fs, Camera_calibration& c) {
  if (fs["image_width"].isInt()) c.image_width = static_cast<int>(fs["image_width"]);
  if (fs["image_height"].isInt()) c.image_height = static_cast<int>(fs["image_height"]);
}

bool fisheye_of(const cv::FileStorage& fs, bool fisheye) {
  return fisheye || (fs["fisheye_model"].isInt() && static_cast<int>(fs["fisheye_model"]) != 0);
}

}  // namespace

Camera_calibration read_camera_calibration(const std::string& path, bool fisheye) {
  const cv::FileStorage fs = open_storage(path);
  Camera_calibration c = read_camera(fs, path, "camera_matrix", "distortion_coefficients", fisheye_of(fs, fisheye));
  read_image_size(fs, c);
  return c;
}

Stereo_calibration read_stereo_calibration(const std::string& path, bool fisheye) {
  const cv::FileStorage fs = open_storage(path);
  const bool is_fisheye = fisheye_of(fs, fisheye);
  Stereo_calibration s;
  s.first = read_camera(fs, path, "M1", "D1", is_fisheye);
  s.second = read_camera(fs, path, "M2", "D2", is_fisheye);
  const cv::Mat R = read_matrix(fs, path, "R", 3, 3);
  const double orthogonality = cv::norm(R.t() * R - cv::Mat::eye(3, 3, CV_64F), cv::NORM_INF);
  TREL_CHECK(orthogonality < kRotationTolerance && std::fabs(cv::determinant(R) - 1.0) < kRotationTolerance,
             path << ": the node R is not a rotation");
  s.R = to_matrix(R);
  const cv::Mat T = read_matrix(fs, path, "T", 0, 0);
  TREL_CHECK(T.cols == 3, path << ": the node T should hold 3 values, it holds " << T.cols);
  s.T.assign(T.ptr<double>(0), T.ptr<double>(0) + 3);
  return s;
}

}  // namespace trel
