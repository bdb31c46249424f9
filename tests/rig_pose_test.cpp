// estimate_rig_pose and the rig's builders (trel_pose/rig.h, trel_pose/rig_pose.h).

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "tests/rig_scene.h"
#include "tests/test_support.h"
#include "trel_pose/rig_pose.h"
#include "trel_tools/configuration.h"
#include "trel_tools/rotation.h"

namespace {

namespace fs = std::filesystem;
using trel_test::Rig_scene;
using trel_test::Rig_scene_options;

Eigen::Matrix3d eigen_of(const trel::matrix<double>& R) {
  Eigen::Matrix3d out;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) out(r, c) = R[r][c];
  return out;
}

double rotation_error(const Eigen::Matrix3d& a, const Eigen::Matrix3d& b) {
  return Eigen::AngleAxisd(a.transpose() * b).angle();
}

trel::Rig_estimate_result estimate(const Rig_scene& s, const trel::Pose_estimate_options& o = {}) {
  return trel::estimate_rig_pose(s.rig, trel::Points_view(s.points), trel::Pixels_view(s.observations), s.cameras, o);
}

// The rig pose from 2 and 3 cameras, with and without a distorting lens:
// exact without noise, to the noise level among outliers, with every outlier
// flagged and the per-camera counts right.
TEST(RigPose, RecoversThePoseOfTwoAndThreeCameras) {
  struct Case {
    int cameras;
    bool distortion;
    double noise, outliers;
    double rotation_tolerance, centre_tolerance;
  };
  const Case cases[] = {
      {2, false, 0.0, 0.0, 1e-9, 1e-8}, {2, true, 0.0, 0.0, 1e-9, 1e-8}, {3, true, 0.0, 0.0, 1e-9, 1e-8},
      {2, true, 0.5, 0.3, 2e-3, 2e-2},  {3, true, 0.5, 0.5, 2e-3, 2e-2}, {3, false, 1.0, 0.25, 3e-3, 3e-2},
  };
  for (const Case& c : cases) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
      Rig_scene_options o;
      o.cameras = c.cameras;
      o.distortion = c.distortion;
      o.noise = c.noise;
      o.outlier_share = c.outliers;
      const Rig_scene s = trel_test::make_rig_scene(seed, o);
      SCOPED_TRACE(testing::Message() << c.cameras << " cameras, distortion " << c.distortion << ", noise "
                                      << c.noise << ", outliers " << c.outliers << ", seed " << seed);
      const trel::Rig_estimate_result r = estimate(s);
      EXPECT_LT(rotation_error(eigen_of(r.R), s.R_rig_to_world), c.rotation_tolerance);
      EXPECT_LT((Eigen::Map<const Eigen::Vector3d>(r.centre.data()) - s.centre_in_world).norm(), c.centre_tolerance);
      ASSERT_EQ(r.inliers.size(), s.outlier.size());
      int missed = 0, flagged_outliers = 0;
      for (std::size_t i = 0; i < s.outlier.size(); ++i) {
        missed += !s.outlier[i] && !r.inliers[i];
        flagged_outliers += s.outlier[i] && r.inliers[i];
      }
      EXPECT_LE(missed, c.noise > 0 ? 2 : 0);
      EXPECT_LE(flagged_outliers, 2);  // a random pixel may fall within 4 px of its point
      ASSERT_EQ(r.cameras.size(), static_cast<std::size_t>(c.cameras));
      int inliers = 0;
      for (int k = 0; k < c.cameras; ++k) {
        EXPECT_EQ(r.cameras[k].points, static_cast<int>(std::count(s.cameras.begin(), s.cameras.end(), k)));
        EXPECT_LT(r.cameras[k].rms, c.noise > 0 ? 3 * c.noise : 1e-6);
        inliers += r.cameras[k].inliers;
      }
      EXPECT_EQ(inliers, r.num_inliers);
    }
  }
}

// The same seed gives the same result; another seed the same pose.
TEST(RigPose, IsReproducibleBySeed) {
  Rig_scene_options o;
  o.cameras = 3;
  o.noise = 0.5;
  o.outlier_share = 0.4;
  const Rig_scene s = trel_test::make_rig_scene(7, o);
  trel::Pose_estimate_options options;
  options.seed = 11;
  const trel::Rig_estimate_result a = estimate(s, options), b = estimate(s, options);
  EXPECT_EQ(a.x, b.x);
  EXPECT_EQ(a.inliers, b.inliers);
  EXPECT_EQ(a.iterations, b.iterations);
  options.seed = 12;
  const trel::Rig_estimate_result c = estimate(s, options);
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(a.x[k], c.x[k], 1e-6);
}

// Every observation of one camera (here camera 2, away from the rig's origin
// and turned): the camera pose of the rig result is estimate_pose's.
TEST(RigPose, OneCameraOnlyGivesEstimatePose) {
  Rig_scene_options o;
  o.cameras = 3;
  o.points = 120;
  o.noise = 0.7;
  o.outlier_share = 0.3;
  Rig_scene s = trel_test::make_rig_scene(5, o);
  std::vector<double> points, observations;
  for (std::size_t i = 0; i < s.cameras.size(); ++i)
    if (s.cameras[i] == 2) {
      points.insert(points.end(), s.points.begin() + 3 * i, s.points.begin() + 3 * i + 3);
      observations.insert(observations.end(), s.observations.begin() + 2 * i, s.observations.begin() + 2 * i + 2);
    }
  const std::vector<int> cameras(points.size() / 3, 2);
  trel::Pose_estimate_options options;
  options.seed = 3;
  const trel::Rig_estimate_result rig = trel::estimate_rig_pose(s.rig, trel::Points_view(points),
                                                                trel::Pixels_view(observations), cameras, options);
  const trel::Pose_estimate_result single =
      trel::estimate_pose(s.rig.cameras[2].model, trel::Points_view(points), observations, options);
  const trel::Rig_camera& camera = s.rig.cameras[2];
  const Eigen::Matrix3d R_cam_to_world =
      eigen_of(rig.R) * Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>>(camera.R_cam_to_rig);
  const Eigen::Vector3d centre = Eigen::Map<const Eigen::Vector3d>(rig.centre.data()) +
                                 eigen_of(rig.R) * Eigen::Map<const Eigen::Vector3d>(camera.centre_in_rig);
  EXPECT_LT(rotation_error(R_cam_to_world, eigen_of(single.R)), 1e-12);
  EXPECT_LT((centre - Eigen::Map<const Eigen::Vector3d>(single.centre.data())).norm(), 1e-12);
  EXPECT_EQ(rig.inliers, single.inliers);
  EXPECT_EQ(rig.iterations, single.iterations);
  EXPECT_EQ(rig.cameras[2].points, static_cast<int>(cameras.size()));
  EXPECT_EQ(rig.cameras[2].inliers, single.num_inliers);
  EXPECT_EQ(rig.cameras[0].points + rig.cameras[1].points, 0);
  // The covariance moved to the rig: the rotation perturbation is shared, so
  // its block is the camera's.
  ASSERT_EQ(rig.summary.covariance.size(), 36u);
  ASSERT_EQ(single.summary.covariance.size(), 36u);
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) EXPECT_EQ(rig.summary.covariance[6 * a + b], single.summary.covariance[6 * a + b]);
  // The whole of it is refine_rig_pose's on the inliers at the result.
  std::vector<double> inlier_points, inlier_observations;
  for (std::size_t i = 0; i < cameras.size(); ++i)
    if (rig.inliers[i]) {
      inlier_points.insert(inlier_points.end(), points.begin() + 3 * i, points.begin() + 3 * i + 3);
      inlier_observations.insert(inlier_observations.end(), observations.begin() + 2 * i,
                                 observations.begin() + 2 * i + 2);
    }
  trel::Pose_refine_options refine;
  refine.loss = options.loss;
  refine.loss_scale = options.threshold;
  const trel::Rig_refine_result direct =
      trel::refine_rig_pose(s.rig, trel::Points_view(inlier_points), trel::Pixels_view(inlier_observations),
                            std::vector<int>(inlier_points.size() / 3, 2), rig.x, refine);
  ASSERT_EQ(direct.summary.covariance.size(), 36u);
  for (int a = 0; a < 6; ++a)
    for (int b = 0; b < 6; ++b) {
      const double scale = std::sqrt(direct.summary.covariance[7 * a] * direct.summary.covariance[7 * b]);
      EXPECT_NEAR(rig.summary.covariance[6 * a + b], direct.summary.covariance[6 * a + b], 1e-3 * scale) << a << b;
    }
}

// A two-camera rig from the toolkit's configuration and the same rig from an
// OpenCV stereo calibration file give the same rig; each camera of the
// configured rig sees the world as the configured Camera does.
TEST(RigPose, ConfigurationAndStereoFileGiveTheSameRig) {
  const fs::path dir = fs::temp_directory_path() / ("trel_rig_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string config_path = (dir / "rig.txt").string(), stereo_path = (dir / "stereo.yml").string();
  std::ofstream(config_path) << "bumblebee_params=0.5|0.5|1.25|1.6666667|640|480|0.12\n"
                                "bumblebee_params=0.52|0.48|1.2|1.6|640|480|0.12\n"
                                "extrinsic_camera_params=0|0|0|0|0|0\n"
                                "extrinsic_camera_params=2|-3|5|0.3|0.02|-0.01\n";
  std::vector<trel::Camera> configured;
  {
    trel_test::Captured_streams quiet;
    trel::configuration config(config_path);
    trel::create_camera_vector(configured, config);
  }
  ASSERT_EQ(configured.size(), 2u);
  const trel::Rig from_configuration = trel::rig_of_cameras(configured);

  // The stereo file of the same pair: X2 = R X1 + T, the first camera at the
  // world origin, read off the second camera's world-to-camera map.
  double T[3] = {0, 0, 0};
  configured[1].apply_extrinsic(T[0], T[1], T[2]);
  cv::Mat R(3, 3, CV_64F), M1 = cv::Mat::eye(3, 3, CV_64F), M2 = cv::Mat::eye(3, 3, CV_64F);
  for (int c = 0; c < 3; ++c) {
    double axis[3] = {c == 0 ? 1.0 : 0.0, c == 1 ? 1.0 : 0.0, c == 2 ? 1.0 : 0.0};
    configured[1].apply_extrinsic(axis[0], axis[1], axis[2]);
    for (int r = 0; r < 3; ++r) R.at<double>(r, c) = axis[r] - T[r];
  }
  M1.at<double>(0, 0) = 800, M1.at<double>(1, 1) = 800, M1.at<double>(0, 2) = 320, M1.at<double>(1, 2) = 240;
  M2.at<double>(0, 0) = 768, M2.at<double>(1, 1) = 768, M2.at<double>(0, 2) = 332.8, M2.at<double>(1, 2) = 230.4;
  {
    cv::FileStorage file(stereo_path, cv::FileStorage::WRITE);
    file << "M1" << M1 << "D1" << cv::Mat::zeros(1, 5, CV_64F) << "M2" << M2 << "D2" << cv::Mat::zeros(1, 5, CV_64F)
         << "R" << R << "T" << cv::Mat(3, 1, CV_64F, T);
  }
  const trel::Rig from_file = trel::read_rig_calibration(stereo_path);
  fs::remove_all(dir);

  ASSERT_EQ(from_file.cameras.size(), 2u);
  for (std::size_t c = 0; c < 2; ++c) {
    const trel::Rig_camera &a = from_configuration.cameras[c], &b = from_file.cameras[c];
    EXPECT_NEAR(a.model.pinhole.fx, b.model.pinhole.fx, 1e-3) << c;
    EXPECT_NEAR(a.model.pinhole.fy, b.model.pinhole.fy, 1e-3) << c;
    EXPECT_NEAR(a.model.pinhole.cx, b.model.pinhole.cx, 1e-9) << c;
    EXPECT_NEAR(a.model.pinhole.cy, b.model.pinhole.cy, 1e-9) << c;
    for (int k = 0; k < 9; ++k) EXPECT_NEAR(a.R_cam_to_rig[k], b.R_cam_to_rig[k], 1e-12) << c << " " << k;
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(a.centre_in_rig[k], b.centre_in_rig[k], 1e-12) << c << " " << k;
  }
  // The rig at the first camera's world pose (the origin) projects as the cameras do.
  for (const Eigen::Vector3d& X : {Eigen::Vector3d(0.2, -0.1, 4), Eigen::Vector3d(-0.5, 0.3, 7)})
    for (int c = 0; c < 2; ++c) {
      double u = 0, v = 0, disparity = 0, pixel[2];
      configured[static_cast<std::size_t>(c)].project(X.x(), X.y(), X.z(), u, v, disparity);
      ASSERT_TRUE(trel_test::rig_pixel(from_configuration, c, Eigen::Matrix3d::Identity(), Eigen::Vector3d::Zero(),
                                       X, pixel));
      EXPECT_NEAR(pixel[0], u, 1e-9) << c;
      EXPECT_NEAR(pixel[1], v, 1e-9) << c;
    }
}

// Bad input: one clear error each, from the rig's builders and from the
// estimation.
TEST(RigPose, RefusesBadInput) {
  Rig_scene_options o;
  o.cameras = 2;
  o.points = 20;
  const Rig_scene good = trel_test::make_rig_scene(2, o);
  const double nan = std::nan("");
  struct Case {
    const char* expected;
    std::function<void(Rig_scene&, trel::Pose_estimate_options&)> spoil;
  };
  const Case cases[] = {
      {"camera index 3 is 2, outside the rig of 2 cameras", [](Rig_scene& s, auto&) { s.cameras[3] = 2; }},
      {"camera index 0 is -1, outside the rig of 2 cameras", [](Rig_scene& s, auto&) { s.cameras[0] = -1; }},
      {"rig camera 1's R_cam_to_rig is not orthonormal",
       [](Rig_scene& s, auto&) { s.rig.cameras[1].R_cam_to_rig[0] = 1.1; }},
      {"rig camera 1's R_cam_to_rig is a reflection",
       [](Rig_scene& s, auto&) { for (int k = 0; k < 3; ++k) s.rig.cameras[1].R_cam_to_rig[k] *= -1; }},
      {"rig camera 0's centre in the rig should hold finite numbers only",
       [nan](Rig_scene& s, auto&) { s.rig.cameras[0].centre_in_rig[2] = nan; }},
      {"a rig needs at least one camera, got none", [](Rig_scene& s, auto&) { s.rig.cameras.clear(); }},
      {"estimate_rig_pose needs at least 4 correspondences, got 3",
       [](Rig_scene& s, auto&) { s.points.resize(9), s.observations.resize(6), s.cameras.resize(3); }},
      {"estimate_rig_pose needs at least 4 correspondences, got 3 distinct",
       [](Rig_scene& s, auto&) {
         s.points.resize(12), s.observations.resize(8), s.cameras.resize(4);
         std::copy(s.points.begin(), s.points.begin() + 3, s.points.begin() + 9);
         std::copy(s.observations.begin(), s.observations.begin() + 2, s.observations.begin() + 6);
         s.cameras[3] = s.cameras[0];
       }},
      {"point 4 should hold finite numbers only", [nan](Rig_scene& s, auto&) { s.points[13] = nan; }},
      {"observation 5 should hold finite numbers only", [nan](Rig_scene& s, auto&) { s.observations[10] = nan; }},
      {"the observations all lie along one ray",
       [](Rig_scene& s, auto&) {
         for (std::size_t i = 0; i < s.cameras.size(); ++i) {
           s.cameras[i] = 0;
           s.observations[2 * i] = 100, s.observations[2 * i + 1] = 50;
           s.points[3 * i + 1] += static_cast<double>(i % 3);  // off one line
         }
       }},
      {"estimate_rig_pose takes pixels only: options.bearing should be false",
       [](Rig_scene&, trel::Pose_estimate_options& options) { options.bearing = true; }},
      {"needs one observation and one camera index per 3D point, got 20 points, 20 observations and 19",
       [](Rig_scene& s, auto&) { s.cameras.pop_back(); }},
  };
  for (const Case& c : cases) {
    Rig_scene s = good;
    trel::Pose_estimate_options options;
    c.spoil(s, options);
    const std::string text = trel_test::origin_detail_thrown([&] { estimate(s, options); });
    EXPECT_NE(text.find(c.expected), std::string::npos) << c.expected << "\n got: " << text;
  }
  // The builders: make_rig_camera's own refusals.
  trel::matrix<double> K(3, 3), R(3, 3);
  K[0][0] = K[1][1] = 500, K[2][2] = 1, R[0][0] = R[1][1] = 1, R[2][2] = -1;
  EXPECT_NE(trel_test::origin_detail_thrown([&] { trel::make_rig_camera(K, {}, false, R, {0, 0, 0}); })
                .find("the rig camera's R_cam_to_rig is a reflection"),
            std::string::npos);
  R[2][2] = 1;
  EXPECT_NE(trel_test::origin_detail_thrown([&] { trel::make_rig_camera(K, {}, false, R, {0, 0}); })
                .find("centre in the rig should hold 3 values, instead it holds 2"),
            std::string::npos);
}

}  // namespace
