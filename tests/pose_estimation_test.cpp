#include "trel_pose/pose_estimation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/synthetic_scene.h"
#include "trel_tools/exception_l.h"
#include "trel_tools/matrix.h"

namespace {

using trel::Pose_estimate_options;
using trel::Pose_estimate_result;

struct Outlier_scene {
  trel_test::Synthetic_scene scene;
  trel::matrix<double> K;
  std::vector<std::vector<double>> observations;  // pixels, or bearing vectors
  std::vector<unsigned char> truly_inlier;
};

// A scene with 0.5 px noise whose first share of observations is replaced by
// uniform pixels anywhere in the 640 x 480 image (or by their rays).
Outlier_scene make_outlier_scene(unsigned seed, int n, double outlier_share, bool bearing = false) {
  trel_test::Scene_options options;
  options.pixel_noise = 0.5;
  Outlier_scene s;
  s.scene = trel_test::make_scene(seed, n, options);
  s.K = trel_test::intrinsics(s.scene.k11, s.scene.k13, s.scene.k23);
  std::mt19937 random(seed + 17u);
  std::uniform_real_distribution<double> u(0.0, 640.0), v(0.0, 480.0);
  const int outliers = static_cast<int>(std::round(outlier_share * n));
  for (int i = 0; i < n; ++i) {
    std::vector<double> px = s.scene.pixels[i];
    if (i < outliers) px = {u(random), v(random)};
    s.truly_inlier.push_back(i >= outliers);
    if (bearing)
      s.observations.push_back({(px[0] - s.scene.k13) / s.scene.k11, (px[1] - s.scene.k23) / s.scene.k11, 1.0});
    else
      s.observations.push_back(px);
  }
  return s;
}

double rotation_error_deg(const Pose_estimate_result& r, const trel_test::Synthetic_scene& scene) {
  double f = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) f += std::pow(r.R[i][j] - scene.rot_mat(i, j), 2);
  return 2.0 * std::asin(std::min(1.0, std::sqrt(f / 8.0))) * 180.0 / M_PI;
}

double centre_error(const Pose_estimate_result& r, const trel_test::Synthetic_scene& scene) {
  return std::sqrt(std::pow(r.centre[0] - scene.centre[0], 2) + std::pow(r.centre[1] - scene.centre[1], 2) +
                   std::pow(r.centre[2] - scene.centre[2], 2));
}

double mean_depth(const trel_test::Synthetic_scene& scene) {
  double d = 0.0;
  for (const auto& c : scene.points_in_cam) d += c[2];
  return d / static_cast<double>(scene.points_in_cam.size());
}

void expect_recovered(const Pose_estimate_result& r, const Outlier_scene& s) {
  EXPECT_LT(rotation_error_deg(r, s.scene), 0.5);
  EXPECT_LT(centre_error(r, s.scene), 0.01 * mean_depth(s.scene));
  // Outliers that happen to land within the threshold are true matches for
  // the pose; allow a few, and lose at most 3 % of the true inliers.
  int missed = 0, false_positives = 0, true_inliers = 0;
  for (std::size_t i = 0; i < r.inliers.size(); ++i) {
    true_inliers += s.truly_inlier[i];
    missed += s.truly_inlier[i] && !r.inliers[i];
    false_positives += !s.truly_inlier[i] && r.inliers[i];
  }
  EXPECT_LE(missed, 0.03 * true_inliers);
  EXPECT_LE(false_positives, 2);
  EXPECT_EQ(r.num_inliers, true_inliers - missed + false_positives);
  EXPECT_EQ(r.summary.inliers, r.inliers);
  EXPECT_EQ(r.summary.covariance.size(), 36u);
  EXPECT_EQ(r.x.size(), 6u);
}

struct Recovery_case {
  int n;
  double outlier_share;
  bool bearing;
};

class Pose_estimation_recovery : public testing::TestWithParam<Recovery_case> {};

TEST_P(Pose_estimation_recovery, finds_the_true_pose_and_its_inliers) {
  const Recovery_case c = GetParam();
  Pose_estimate_options options;
  options.bearing = c.bearing;
  if (c.bearing) options.threshold = 4.0 / 800.0;
  for (unsigned seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE("scene seed " + std::to_string(seed));
    const Outlier_scene s = make_outlier_scene(seed, c.n, c.outlier_share, c.bearing);
    expect_recovered(trel::estimate_pose(s.K, s.scene.points_world, s.observations, options), s);
  }
}

INSTANTIATE_TEST_SUITE_P(outlier_shares, Pose_estimation_recovery,
                         testing::Values(Recovery_case{100, 0.0, false}, Recovery_case{100, 0.25, false},
                                         Recovery_case{100, 0.5, false}, Recovery_case{40, 0.5, false},
                                         Recovery_case{100, 0.25, true}));

TEST(Pose_estimation, same_seed_gives_the_same_result_and_another_seed_is_still_right) {
  const Outlier_scene s = make_outlier_scene(5, 200, 0.5);
  Pose_estimate_options options;
  options.seed = 11;
  const Pose_estimate_result a = trel::estimate_pose(s.K, s.scene.points_world, s.observations, options);
  const Pose_estimate_result b = trel::estimate_pose(s.K, s.scene.points_world, s.observations, options);
  EXPECT_EQ(a.x, b.x);
  EXPECT_EQ(a.inliers, b.inliers);
  EXPECT_EQ(a.iterations, b.iterations);
  EXPECT_EQ(a.summary.covariance, b.summary.covariance);
  options.seed = 12;
  const Pose_estimate_result c = trel::estimate_pose(s.K, s.scene.points_world, s.observations, options);
  expect_recovered(c, s);
}

TEST(Pose_estimation, coplanar_chessboard) {
  // A 9 x 7 board of 3 cm squares in the world plane z = 0, seen obliquely from
  // about 0.5 m; a fifth of the corners are mismatched.
  const std::vector<double> rot_vec{-0.3, -0.25, 0.1}, centre{0.3, -0.1, -0.5};
  trel_test::Synthetic_scene scene;
  trel_test::set_pose(scene, rot_vec, centre);
  const trel::matrix<double> K = trel_test::intrinsics(800.0, 320.0, 240.0);
  std::mt19937 random(3);
  std::normal_distribution<double> noise(0.0, 0.3);
  std::uniform_real_distribution<double> u(0.0, 640.0), v(0.0, 480.0);
  Outlier_scene s;
  s.scene = scene;
  s.K = K;
  for (int r = 0; r < 7; ++r)
    for (int c = 0; c < 9; ++c) {
      const cv::Vec3d X(0.03 * c, 0.03 * r, 0.0);
      const cv::Vec3d cam = scene.rot_mat.t() * (X - cv::Vec3d(centre[0], centre[1], centre[2]));
      ASSERT_GT(cam[2], 0.0);
      ASSERT_LT(std::abs(cam[0] / cam[2]), 0.4);
      ASSERT_LT(std::abs(cam[1] / cam[2]), 0.3);
      const bool outlier = (r * 9 + c) % 5 == 0;
      s.scene.points_world.push_back({X[0], X[1], X[2]});
      s.scene.points_in_cam.push_back({cam[0], cam[1], cam[2]});
      s.observations.push_back(outlier ? std::vector<double>{u(random), v(random)}
                                       : std::vector<double>{800.0 * cam[0] / cam[2] + 320.0 + noise(random),
                                                             800.0 * cam[1] / cam[2] + 240.0 + noise(random)});
      s.truly_inlier.push_back(!outlier);
    }
  expect_recovered(trel::estimate_pose(K, s.scene.points_world, s.observations), s);
}

TEST(Pose_estimation, failures_name_their_cause) {
  using Points = std::vector<std::vector<double>>;
  struct Failure {
    const char* name;
    std::function<void(Points& points, Points& observations, Pose_estimate_options& options)> spoil;
    const char* message;
  };
  const double nan = std::nan("");
  const Failure failures[] = {
      {"three points", [](Points& X, Points& x, Pose_estimate_options&) { X.resize(3); x.resize(3); },
       "needs at least 4 correspondences, got 3"},
      {"sizes differ", [](Points&, Points& x, Pose_estimate_options&) { x.pop_back(); },
       "one observation per 3D point"},
      {"NaN point", [&](Points& X, Points&, Pose_estimate_options&) { X[7][1] = nan; },
       "point 7 should hold finite numbers only"},
      {"infinite pixel", [](Points&, Points& x, Pose_estimate_options&) { x[2][0] = INFINITY; },
       "observation 2 should hold finite numbers only"},
      {"coincident points",
       [](Points& X, Points&, Pose_estimate_options&) {
         for (auto& p : X) p = X[0];
       },
       "the 3D points all coincide"},
      {"collinear points",
       [](Points& X, Points&, Pose_estimate_options&) {
         for (std::size_t i = 0; i < X.size(); ++i) X[i] = {1.0 + 0.1 * i, 2.0 - 0.2 * i, 3.0 + 0.05 * i};
       },
       "the 3D points all lie on one line"},
      {"one ray", [](Points&, Points& x, Pose_estimate_options&) { for (auto& p : x) p = {100.0, 100.0}; },
       "the observations all lie along one ray"},
      {"outliers only",
       [](Points&, Points& x, Pose_estimate_options&) {
         std::mt19937 random(9);
         std::uniform_real_distribution<double> u(0.0, 640.0);
         for (auto& p : x) p = {u(random), u(random) * 0.75};
       },
       "no model with enough inliers"},
      {"bearing behind", [](Points&, Points& x, Pose_estimate_options& o) {
         o.bearing = true;
         for (auto& p : x) p = {p[0] / 800.0, p[1] / 800.0, 1.0};
         x[4][2] = -1.0;
       },
       "bearing vector 4 should point in front of the camera"},
      {"threshold", [](Points&, Points&, Pose_estimate_options& o) { o.threshold = 0.0; },
       "threshold should be finite and positive"},
      {"confidence", [](Points&, Points&, Pose_estimate_options& o) { o.confidence = 1.0; },
       "confidence should lie in (0, 1)"},
      {"iterations", [](Points&, Points&, Pose_estimate_options& o) { o.min_iterations = 50; o.max_iterations = 10; },
       "min_iterations <= max_iterations"},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(f.name);
    Outlier_scene s = make_outlier_scene(2, 30, 0.0);
    Pose_estimate_options options;
    f.spoil(s.scene.points_world, s.observations, options);
    try {
      trel::estimate_pose(s.K, s.scene.points_world, s.observations, options);
      ADD_FAILURE() << "no error";
    } catch (const trel::exception_l& e) {
      EXPECT_THAT(e.what(), testing::HasSubstr(f.message));
    }
  }
}

}  // namespace
