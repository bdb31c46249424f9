// The lens models against OpenCV's projections, their Jacobians against central
// differences, undistortion and its fold-over flag, and the calibration files.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "test_support.h"
#include "trel_pose/calibration_file.h"
#include "trel_pose/lens_distortion.h"
#include "trel_tools/math_utils.h"

namespace {

using trel::Lens_distortion;
using trel::Lens_model;
using trel_test::origin_detail_thrown;

constexpr double kFocal = 700.0, kCx = 320.0, kCy = 240.0;
// Pixels agree with OpenCV's to this (its float-free double path).
constexpr double kPixelTolerance = 1e-9;
constexpr double kJacobianTolerance = 1e-7;
constexpr double kRoundTripTolerance = 1e-8;  // pixels

struct Model_case {
  const char* name;
  std::vector<double> coefficients;
  bool fisheye;
};

const std::vector<Model_case>& model_cases() {
  static const std::vector<Model_case> cases = {
      {"none", {}, false},
      {"four", {-0.28, 0.07, 0.0012, -0.0008}, false},
      {"five", {-0.3, 0.1, 0.001, 0.002, -0.02}, false},
      {"eight", {0.5, -0.2, 0.0005, -0.001, 0.01, 0.8, -0.1, 0.02}, false},
      {"barrel_k1", {-0.4, 0.0, 0.0, 0.0}, false},
      {"pincushion", {0.2, 0.05, 0.0, 0.0, 0.0}, false},
      {"fisheye", {0.05, -0.01, 0.002, -0.0003}, true},
      {"fisheye_strong", {-0.02, 0.004, -0.001, 0.0001}, true},
  };
  return cases;
}

// Camera-frame points whose pixels (pinhole) cover a 640 x 480 image grid.
std::vector<cv::Point3d> image_grid_points(double depth) {
  std::vector<cv::Point3d> points;
  for (int v = 0; v <= 480; v += 40)
    for (int u = 0; u <= 640; u += 40) points.emplace_back((u - kCx) / kFocal * depth, (v - kCy) / kFocal * depth, depth);
  return points;
}

cv::Point2d our_pixel(const Lens_distortion<double>& lens, const cv::Point3d& p) {
  double xd, yd;
  trel::distort(lens, p.x / p.z, p.y / p.z, xd, yd);
  return {kFocal * xd + kCx, kFocal * yd + kCy};
}

TEST(LensDistortion, PixelsAreOpenCvsOverTheImage) {
  const cv::Matx33d K(kFocal, 0, kCx, 0, kFocal, kCy, 0, 0, 1);
  for (const Model_case& c : model_cases()) {
    const Lens_distortion<double> lens = trel::make_lens_distortion(c.coefficients, c.fisheye);
    for (const double depth : {0.5, 3.0}) {
      const std::vector<cv::Point3d> points = image_grid_points(depth);
      std::vector<cv::Point2d> theirs;
      if (c.fisheye)
        cv::fisheye::projectPoints(points, theirs, cv::Vec3d(0, 0, 0), cv::Vec3d(0, 0, 0), K, c.coefficients);
      else
        cv::projectPoints(points, cv::Vec3d(0, 0, 0), cv::Vec3d(0, 0, 0), K, c.coefficients, theirs);
      double worst = 0.0;
      for (std::size_t i = 0; i < points.size(); ++i) worst = std::max(worst, cv::norm(our_pixel(lens, points[i]) - theirs[i]));
      EXPECT_LE(worst, kPixelTolerance) << c.name << " at depth " << depth;
    }
  }
}

TEST(LensDistortion, JacobianIsTheCentralDifference) {
  const double h = 1e-6;
  for (const Model_case& c : model_cases()) {
    const Lens_distortion<double> lens = trel::make_lens_distortion(c.coefficients, c.fisheye);
    for (const auto& xy : std::vector<std::pair<double, double>>{{0.0, 0.0}, {1e-9, -2e-9}, {0.3, -0.2}, {-0.45, 0.35}, {0.6, 0.01}}) {
      double J[4], xd, yd;
      trel::distort(lens, xy.first, xy.second, xd, yd, J);
      for (int col = 0; col < 2; ++col) {
        const double dx = col == 0 ? h : 0.0, dy = col == 1 ? h : 0.0;
        double xp, yp, xm, ym;
        trel::distort(lens, xy.first + dx, xy.second + dy, xp, yp);
        trel::distort(lens, xy.first - dx, xy.second - dy, xm, ym);
        EXPECT_NEAR(J[col], (xp - xm) / (2 * h), kJacobianTolerance) << c.name << " column " << col;
        EXPECT_NEAR(J[2 + col], (yp - ym) / (2 * h), kJacobianTolerance) << c.name << " column " << col;
      }
    }
  }
}

TEST(LensDistortion, UndistortionRoundTripsWhereAnInverseExists) {
  for (const Model_case& c : model_cases()) {
    const Lens_distortion<double> lens = trel::make_lens_distortion(c.coefficients, c.fisheye);
    int checked = 0;
    for (const cv::Point3d& p : image_grid_points(1.0)) {
      double xd, yd, x, y;
      trel::distort(lens, p.x, p.y, xd, yd);
      ASSERT_TRUE(trel::undistort(lens, xd, yd, x, y)) << c.name << " at " << p;
      EXPECT_NEAR(kFocal * x, kFocal * p.x, kRoundTripTolerance) << c.name;
      EXPECT_NEAR(kFocal * y, kFocal * p.y, kRoundTripTolerance) << c.name;
      ++checked;
    }
    EXPECT_EQ(checked, 17 * 13);
  }
}

TEST(LensDistortion, AFoldedModelFlagsThePixelsBeyondItsFold) {
  // r a(r^2) = r - 0.5 r^3 stops growing at r = sqrt(2/3): pixels imaged
  // beyond 0.544 in normalised units have no inverse, and those just inside
  // have one inverse near the centre and a false one beyond the fold.
  const Lens_distortion<double> lens = trel::make_lens_distortion({-0.5, 0.0, 0.0, 0.0}, false);
  double x, y;
  EXPECT_TRUE(trel::undistort(lens, 0.3, 0.0, x, y));
  double xd, yd;
  trel::distort(lens, x, y, xd, yd);
  EXPECT_NEAR(xd, 0.3, 1e-12);
  EXPECT_FALSE(trel::undistort(lens, 0.6, 0.0, x, y)) << "no point of the lens images at 0.6";
  EXPECT_FALSE(trel::undistort(lens, 0.0, 0.9, x, y));
  // A point beyond the fold distorts back inside the image; its undistortion is
  // the point before the fold, never the one beyond it.
  trel::distort(lens, 1.0, 0.0, xd, yd);  // xd = 0.5
  if (trel::undistort(lens, xd, yd, x, y)) {
    EXPECT_LT(x, std::sqrt(2.0 / 3.0));
  }
  const double nan = std::nan("");
  EXPECT_FALSE(trel::undistort(lens, nan, 0.0, x, y));
}

TEST(LensDistortion, RefusesBadCoefficients) {
  struct Row {
    std::vector<double> coefficients;
    bool fisheye;
    std::string detail;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Row> rows = {
      {{0.1, 0.2, 0.3}, false,
       "distortion takes 4, 5 or 8 coefficients in OpenCV's order (k1 k2 p1 p2 [k3 [k4 k5 k6]]), got 3"},
      {{0.1, 0.2, 0.3, 0.4, 0.5, 0.6}, false,
       "distortion takes 4, 5 or 8 coefficients in OpenCV's order (k1 k2 p1 p2 [k3 [k4 k5 k6]]), got 6"},
      {{0.1, 0.2, 0.3, 0.4, 0.5}, true, "a fisheye model takes 4 distortion coefficients (k1 k2 k3 k4), got 5"},
      {{}, true, "a fisheye model takes 4 distortion coefficients (k1 k2 k3 k4), got 0"},
      {{0.1, inf, 0.0, 0.0}, false, "distortion coefficient 1 is not finite: inf"},
      {{0.1, 0.0, 0.0, std::nan("")}, true, "distortion coefficient 3 is not finite: nan"},
  };
  for (const Row& r : rows)
    EXPECT_EQ(origin_detail_thrown([&] { trel::make_lens_distortion(r.coefficients, r.fisheye); }), r.detail);
}

// ---- calibration files ----------------------------------------------------------

std::string scratch_file(const std::string& name) {
  return "/tmp/trel_calibration_" + std::to_string(trel::pid()) + "_" + name;
}

TEST(CalibrationFile, ReadsWhatOpenCvWrites) {
  const cv::Matx33d K(812.5, 0.25, 319.0, 0, 810.0, 241.5, 0, 0, 1);
  const cv::Mat D = (cv::Mat_<double>(1, 5) << -0.27, 0.09, 0.001, -0.002, -0.01);
  for (const std::string ending : {".yml", ".xml"}) {
    const std::string path = scratch_file("camera" + ending);
    {
      cv::FileStorage fs(path, cv::FileStorage::WRITE);
      fs << "image_width" << 640 << "image_height" << 480 << "camera_matrix" << cv::Mat(K)
         << "distortion_coefficients" << D;
    }
    const trel::Camera_calibration c = trel::read_camera_calibration(path);
    EXPECT_EQ(c.image_width, 640);
    EXPECT_EQ(c.image_height, 480);
    EXPECT_FALSE(c.fisheye);
    for (int r = 0; r < 3; ++r)
      for (int k = 0; k < 3; ++k) EXPECT_EQ(c.K[r][k], K(r, k)) << ending;
    EXPECT_EQ(c.distortion, std::vector<double>(D.begin<double>(), D.end<double>()));
    std::remove(path.c_str());
  }
  const std::string path = scratch_file("stereo.yml");
  cv::Mat R;
  cv::Rodrigues(cv::Vec3d(0.01, -0.02, 0.003), R);
  {
    cv::FileStorage fs(path, cv::FileStorage::WRITE);
    fs << "M1" << cv::Mat(K) << "D1" << D << "M2" << cv::Mat(K) << "D2" << D.colRange(0, 4) << "R" << R << "T"
       << cv::Mat(cv::Vec3d(-0.12, 0.001, 0.002));
  }
  const trel::Stereo_calibration s = trel::read_stereo_calibration(path);
  EXPECT_EQ(s.second.distortion.size(), 4u);
  EXPECT_EQ(s.T, (std::vector<double>{-0.12, 0.001, 0.002}));
  EXPECT_EQ(s.R[1][2], R.at<double>(1, 2));
  std::remove(path.c_str());
}

TEST(CalibrationFile, RefusesBrokenFilesNamingTheNode) {
  struct Row {
    const char* name;
    std::string text;  // YAML body after the header
    std::string detail_end;
  };
  const std::string K = "camera_matrix: !!opencv-matrix\n   rows: 3\n   cols: 3\n   dt: d\n"
                        "   data: [ 800., 0., 320., 0., 800., 240., 0., 0., 1. ]\n";
  const std::vector<Row> rows = {
      {"no_k", "distortion_coefficients: [ 0.1, 0.0, 0.0, 0.0 ]\n", ": the node camera_matrix is missing"},
      {"no_d", K, ": the node distortion_coefficients is missing"},
      {"k_2x2", "camera_matrix: !!opencv-matrix\n   rows: 2\n   cols: 2\n   dt: d\n   data: [ 1., 0., 0., 1. ]\n",
       ": the node camera_matrix should be 3 x 3, it is 2 x 2"},
      {"k_row", "camera_matrix: !!opencv-matrix\n   rows: 3\n   cols: 3\n   dt: d\n"
                "   data: [ 800., 0., 320., 0., 800., 240., 0., 1., 1. ]\ndistortion_coefficients: [ 0., 0., 0., 0. ]\n",
       ": the node camera_matrix is not a camera matrix [fx s cx; 0 fy cy; 0 0 1]"},
      {"d_count", K + "distortion_coefficients: [ 0.1, 0.0, 0.0 ]\n",
       ": the node distortion_coefficients does not hold a lens model: "},
      {"d_nan", K + "distortion_coefficients: [ 0.1, .nan, 0.0, 0.0 ]\n",
       ": the node distortion_coefficients holds a value that is not finite at (0, 1)"},
  };
  for (const Row& r : rows) {
    const std::string path = scratch_file(std::string(r.name) + ".yml");
    {
      std::FILE* f = std::fopen(path.c_str(), "w");
      std::fputs(("%YAML:1.0\n---\n" + r.text).c_str(), f);
      std::fclose(f);
    }
    const std::string detail = origin_detail_thrown([&] { trel::read_camera_calibration(path); });
    EXPECT_EQ(detail.rfind(path, 0), 0u) << r.name << ": " << detail;
    EXPECT_NE(detail.find(r.detail_end), std::string::npos) << r.name << ": " << detail;
    std::remove(path.c_str());
  }
  EXPECT_NE(origin_detail_thrown([] { trel::read_camera_calibration("/nonexistent/calibration.yml"); })
                .find("/nonexistent/calibration.yml: cannot be opened"),
            std::string::npos);
}

}  // namespace
