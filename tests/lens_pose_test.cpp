// refine_pose and estimate_pose with lens distortion against OpenCV's own
// distorted solvers on the same data (solvePnPRefineLM, solvePnPRansac, and
// fisheye::undistortPoints then solvePnPRansac for the fisheye model), the
// flag of pixels a folding model cannot undistort, and the refusals of bad
// lens models.
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "trel_pose/pose_estimation.h"
#include "trel_pose/pose_refinement.h"
#include "trel_tools/exception_l.h"
#include "trel_tools/rotation.h"

namespace {

using namespace trel;

struct Lens_case {
  const char* name;
  std::vector<double> coefficients;
  bool fisheye;
};

const Lens_case kLenses[] = {
    {"k4", {-0.28, 0.07, 0.0012, -0.0008}, false},
    {"k5_barrel", {-0.4, 0.18, 0.001, -0.002, -0.03}, false},
    {"k5_pincushion", {0.2, -0.05, -0.001, 0.0015, 0.01}, false},
    {"k8", {0.5, -0.2, 0.0005, -0.001, 0.01, 0.8, -0.1, 0.02}, false},
    {"fisheye", {0.05, -0.01, 0.002, -0.0003}, true},
    {"fisheye_equidistant", {0.0, 0.0, 0.0, 0.0}, true},  // every coefficient 0 is still no pinhole
};

// A view of n points 4 to 10 in front of the camera within a half field of 0.6,
// the observed pixels through the lens (OpenCV's projection) with pixel noise,
// and the share `outliers` of the pixels replaced by pixels at least 30 px away.
struct View {
  Camera_model camera;
  cv::Matx33d K;
  cv::Mat distortion;
  cv::Vec3d rvec, tvec;  // OpenCV's pose: world to camera
  std::vector<double> points, pixels;
  std::vector<unsigned char> clean;
};

View make_view(const Lens_case& lens, int n, double noise, double outliers, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  View v;
  v.K = cv::Matx33d(800, 0, 320, 0, 790, 240, 0, 0, 1);
  matrix<double> K(3, 3);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) K[r][c] = v.K(r, c);
  v.camera = make_camera_model(K, lens.coefficients, lens.fisheye);
  if (!lens.coefficients.empty()) v.distortion = cv::Mat(lens.coefficients, true).reshape(1, 1);
  v.rvec = cv::Vec3d(0.5 * uniform(random), 0.5 * uniform(random), 0.5 * uniform(random));
  v.tvec = cv::Vec3d(uniform(random), uniform(random), 2.0 * uniform(random));
  cv::Matx33d R;
  cv::Rodrigues(v.rvec, R);
  std::vector<cv::Point3d> world;
  for (int i = 0; i < n; ++i) {
    const double z = 7.0 + 3.0 * uniform(random);
    const cv::Vec3d c(0.6 * z * uniform(random), 0.6 * z * uniform(random), z);
    const cv::Vec3d X = R.t() * (c - v.tvec);
    world.emplace_back(X[0], X[1], X[2]);
    v.points.insert(v.points.end(), {X[0], X[1], X[2]});
  }
  std::vector<cv::Point2d> projected;
  if (lens.fisheye)
    cv::fisheye::projectPoints(world, projected, v.rvec, v.tvec, v.K, v.distortion);
  else
    cv::projectPoints(world, v.rvec, v.tvec, v.K, v.distortion, projected);
  std::normal_distribution<double> gauss(0.0, noise);
  for (int i = 0; i < n; ++i) {
    double u = projected[i].x + gauss(random), w = projected[i].y + gauss(random);
    const bool outlier = i < static_cast<int>(outliers * n);
    if (outlier) {
      const double angle = 3.14159 * uniform(random), shift = 30.0 + 100.0 * (1.0 + uniform(random));
      u += shift * std::cos(angle);
      w += shift * std::sin(angle);
    }
    v.pixels.insert(v.pixels.end(), {u, w});
    v.clean.push_back(outlier ? 0 : 1);
  }
  return v;
}

// Our pose (R_cam_to_world, centre) of OpenCV's (rvec, tvec).
void pose_of(const cv::Vec3d& rvec, const cv::Vec3d& tvec, cv::Matx33d& R_cam_to_world, cv::Vec3d& centre) {
  cv::Matx33d R_world_to_cam;
  cv::Rodrigues(rvec, R_world_to_cam);
  R_cam_to_world = R_world_to_cam.t();
  centre = -(R_cam_to_world * tvec);
}

// |a - b|_F = 2 sqrt(2) sin(angle / 2): exact down to 1e-6 degree, where the
// acos of the trace is not.
double angle_between_deg(const cv::Matx33d& a, const cv::Matx33d& b) {
  return 2.0 * std::asin(std::min(1.0, cv::norm(a - b) / (2.0 * std::sqrt(2.0)))) * 180.0 / 3.141592653589793;
}

cv::Matx33d matx_of(const matrix<double>& R) {
  cv::Matx33d out;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) out(r, c) = R[r][c];
  return out;
}

std::vector<cv::Point3d> cv_points(const View& v) {
  std::vector<cv::Point3d> out;
  for (std::size_t i = 0; i < v.points.size(); i += 3) out.emplace_back(v.points[i], v.points[i + 1], v.points[i + 2]);
  return out;
}

std::vector<cv::Point2d> cv_pixels(const View& v) {
  std::vector<cv::Point2d> out;
  for (std::size_t i = 0; i < v.pixels.size(); i += 2) out.emplace_back(v.pixels[i], v.pixels[i + 1]);
  return out;
}

class Lens_pose : public ::testing::TestWithParam<Lens_case> {};
using Lens_refine = Lens_pose;  // the radial-tangential models: OpenCV refines through no other

// The same minimum as cv::solvePnPRefineLM with the same coefficients, from the
// same start (a pose 2 degrees and 0.1 off the truth), on noisy pixels.
TEST_P(Lens_refine, refine_reaches_the_minimum_of_solvePnPRefineLM) {
  const Lens_case& lens = GetParam();
  const View v = make_view(lens, 60, 0.5, 0.0, 11);
  cv::Vec3d rvec = v.rvec + cv::Vec3d(0.02, -0.015, 0.01), tvec = v.tvec + cv::Vec3d(0.1, -0.05, 0.08);
  cv::Matx33d R_start;
  cv::Vec3d centre_start;
  pose_of(rvec, tvec, R_start, centre_start);
  matrix<double> R(3, 3);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) R[r][c] = R_start(r, c);
  std::vector<double> start = rot_mat_to_rot_vec_rad(R);
  start.insert(start.end(), {centre_start[0], centre_start[1], centre_start[2]});
  Pose_refine_options options;
  options.max_iters = 100;
  options.step_tolerance = 1e-14;
  options.cost_tolerance = 1e-18;
  const Pose_refine_result ours = refine_pose(v.camera, Points_view(v.points), Values_view(v.pixels), start, options);

  cv::solvePnPRefineLM(cv_points(v), cv_pixels(v), v.K, v.distortion, rvec, tvec,
                       cv::TermCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 200, 1e-15));
  cv::Matx33d R_cv;
  cv::Vec3d centre_cv;
  pose_of(rvec, tvec, R_cv, centre_cv);
  const cv::Matx33d R_ours = matx_of(rot_vec_rad_to_rot_mat(std::vector<double>{ours.x[0], ours.x[1], ours.x[2]}));
  EXPECT_LT(angle_between_deg(R_ours, R_cv), 1e-6);
  EXPECT_LT(cv::norm(cv::Vec3d(ours.x[3], ours.x[4], ours.x[5]) - centre_cv), 1e-6 * cv::norm(centre_cv));
  EXPECT_NEAR(ours.summary.final_rms, 0.5 * std::sqrt(2.0), 0.15);  // pixels through the lens: the noise's size
}

// The same inliers as cv::solvePnPRansac with the same coefficients (for the
// fisheye model: cv::fisheye::undistortPoints, then solvePnPRansac on the
// normalised points) on a view with 30 % outliers, and a pose near the truth.
TEST_P(Lens_pose, estimate_finds_the_inliers_of_solvePnPRansac) {
  const Lens_case& lens = GetParam();
  const View v = make_view(lens, 80, 0.3, 0.3, 23);
  Pose_estimate_options options;
  options.seed = 5;
  const Pose_estimate_result ours = estimate_pose(v.camera, Points_view(v.points), Values_view(v.pixels), options);

  cv::Vec3d rvec, tvec;
  std::vector<int> cv_inliers;
  if (lens.fisheye) {
    std::vector<cv::Point2d> undistorted;
    cv::fisheye::undistortPoints(cv_pixels(v), undistorted, v.K, v.distortion, cv::noArray(), v.K);
    ASSERT_TRUE(cv::solvePnPRansac(cv_points(v), undistorted, v.K, cv::noArray(), rvec, tvec, false, 1000, 4.0, 0.99,
                                   cv_inliers));
  } else {
    ASSERT_TRUE(cv::solvePnPRansac(cv_points(v), cv_pixels(v), v.K, v.distortion, rvec, tvec, false, 1000, 4.0, 0.99,
                                   cv_inliers));
  }
  std::vector<unsigned char> cv_mask(v.clean.size(), 0);
  for (int i : cv_inliers) cv_mask[static_cast<std::size_t>(i)] = 1;
  EXPECT_EQ(ours.inliers, cv_mask);
  EXPECT_EQ(ours.inliers, v.clean);
  // Only an outlier's pixel may land where the lens has no inverse.
  EXPECT_LE(ours.summary.undistort_failures, static_cast<int>(std::count(v.clean.begin(), v.clean.end(), 0)));
  cv::Matx33d R_true;
  cv::Vec3d centre_true;
  pose_of(v.rvec, v.tvec, R_true, centre_true);
  EXPECT_LT(angle_between_deg(matx_of(ours.R), R_true), 0.1);
  EXPECT_LT(cv::norm(cv::Vec3d(ours.centre[0], ours.centre[1], ours.centre[2]) - centre_true), 0.02);
  EXPECT_LT(ours.summary.final_rms, 1.0);  // in observed pixels: about the noise
}

std::string name_of(const ::testing::TestParamInfo<Lens_case>& info) { return info.param.name; }
INSTANTIATE_TEST_SUITE_P(Models, Lens_pose, ::testing::ValuesIn(kLenses), name_of);
INSTANTIATE_TEST_SUITE_P(Models, Lens_refine, ::testing::ValuesIn(kLenses, kLenses + 4), name_of);

// A camera whose coefficients are all 0 runs the pinhole path: the very same
// result as the K overload, bit for bit.
TEST(Lens_pose_pinhole, zero_coefficients_give_the_pinhole_result) {
  const View v = make_view({"none", {}, false}, 50, 0.5, 0.25, 3);
  std::vector<std::vector<double>> points, pixels;
  for (std::size_t i = 0; i < v.clean.size(); ++i) {
    points.push_back({v.points[3 * i], v.points[3 * i + 1], v.points[3 * i + 2]});
    pixels.push_back({v.pixels[2 * i], v.pixels[2 * i + 1]});
  }
  const Pose_estimate_result pinhole = estimate_pose(camera_matrix_of(v.camera), points, pixels);
  for (const std::vector<double>& zeros : {std::vector<double>{}, std::vector<double>(5, 0.0)}) {
    const Camera_model camera = make_camera_model(camera_matrix_of(v.camera), zeros);
    const Pose_estimate_result r = estimate_pose(camera, Points_view(v.points), Values_view(v.pixels));
    EXPECT_EQ(r.x, pinhole.x);
    EXPECT_EQ(r.inliers, pinhole.inliers);
    EXPECT_EQ(r.iterations, pinhole.iterations);
    EXPECT_EQ(r.summary.final_error, pinhole.summary.final_error);
  }
}

// k1 = -0.5 alone folds over at r^2 = 1 / 1.5: no distorted radius beyond
// 0.544 has an undistortion. Pixels out there are flagged, counted (repeats
// too), never inliers, and the pose comes from the others; with fewer than 4
// others left the call is refused.
TEST(Lens_pose_fold, pixels_without_undistortion_are_flagged_and_left_out) {
  const Lens_case folding{"fold", {-0.5, 0.0, 0.0, 0.0}, false};
  View v = make_view(folding, 40, 0.2, 0.0, 7);
  // Keep only the points well inside the fold, then add pixels beyond it.
  std::vector<double> points, pixels;
  for (std::size_t i = 0; i < v.clean.size(); ++i) {
    const double xd = (v.pixels[2 * i] - 320.0) / 800.0, yd = (v.pixels[2 * i + 1] - 240.0) / 790.0;
    if (xd * xd + yd * yd > 0.25) continue;
    points.insert(points.end(), {v.points[3 * i], v.points[3 * i + 1], v.points[3 * i + 2]});
    pixels.insert(pixels.end(), {v.pixels[2 * i], v.pixels[2 * i + 1]});
  }
  const std::size_t kept = pixels.size() / 2;
  ASSERT_GE(kept, 15u);
  const double beyond[][2] = {{320.0 + 800.0 * 0.62, 240.0}, {320.0 - 800.0 * 0.5, 240.0 + 790.0 * 0.45},
                              {320.0 + 800.0 * 0.6, 240.0 - 790.0 * 0.3}};
  for (const auto& pixel : beyond) {
    points.insert(points.end(), {points[0] + 1.0, points[1] - 0.5, points[2]});
    pixels.insert(pixels.end(), {pixel[0], pixel[1]});
  }
  points.insert(points.end(), points.end() - 3, points.end());  // the last one twice
  pixels.insert(pixels.end(), pixels.end() - 2, pixels.end());
  const Pose_estimate_result r = estimate_pose(v.camera, Points_view(points), Values_view(pixels));
  EXPECT_EQ(r.summary.undistort_failures, 4);
  for (std::size_t i = kept; i < r.inliers.size(); ++i) EXPECT_EQ(r.inliers[i], 0) << i;
  EXPECT_EQ(r.num_inliers, static_cast<int>(kept));
  cv::Matx33d R_true;
  cv::Vec3d centre_true;
  pose_of(v.rvec, v.tvec, R_true, centre_true);
  EXPECT_LT(angle_between_deg(matx_of(r.R), R_true), 0.1);

  const std::vector<double> few_points(points.begin(), points.begin() + 9), few_pixels(pixels.begin(), pixels.begin() + 6);
  std::vector<double> p = few_points, q = few_pixels;
  for (int k = 0; k < 3; ++k) {
    p.insert(p.end(), points.end() - 3 * (k + 2), points.end() - 3 * (k + 1));
    q.insert(q.end(), pixels.end() - 2 * (k + 2), pixels.end() - 2 * (k + 1));
  }
  try {
    estimate_pose(v.camera, Points_view(p), Values_view(q));
    ADD_FAILURE() << "3 pixels with an undistortion were taken";
  } catch (const exception_l& e) {
    EXPECT_NE(std::string(e.what()).find("correspondences whose pixel the lens can undistort, got 3"),
              std::string::npos)
        << e.what();
  }
}

// Bad lens models are refused with one clear error, whether they are made by
// make_camera_model or written into a Camera_model by hand.
TEST(Lens_pose_refusals, bad_models_are_refused) {
  const View v = make_view({"k5", {-0.3, 0.1, 0.0, 0.0, 0.0}, false}, 20, 0.0, 0.0, 1);
  const matrix<double> K = camera_matrix_of(v.camera);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Refusal {
    const char* name;
    std::function<Camera_model()> camera;
    const char* message;
  };
  const auto K_with = [&](unsigned r, unsigned c, double value) {
    matrix<double> L = K;
    L[r][c] = value;
    return make_camera_model(L);
  };
  const Refusal refusals[] = {
      {"3 coefficients", [&] { return make_camera_model(K, {0.1, 0.0, 0.0}); }, "distortion takes 4, 5 or 8"},
      {"6 coefficients", [&] { return make_camera_model(K, std::vector<double>(6, 0.1)); }, "got 6"},
      {"non-finite", [&] { return make_camera_model(K, {0.1, nan, 0.0, 0.0, 0.0}); },
       "distortion coefficient 1 is not finite"},
      {"fisheye with 5", [&] { return make_camera_model(K, std::vector<double>(5, 0.01), true); },
       "a fisheye model takes 4 distortion coefficients"},
      {"fisheye with 0", [&] { return make_camera_model(K, {}, true); }, "got 0"},
      {"hand-made infinite k3",
       [&] {
         Camera_model c = v.camera;
         c.lens.k[4] = INFINITY;
         return c;
       },
       "distortion coefficient 4 is not finite"},
      {"K with element (2,1)", [&] { return K_with(1, 0, 0.5); },
       "K should have a pinhole's form [fx s cx; 0 fy cy; 0 0 1] (or a multiple of it), instead element (2,1) is 0.5"},
      {"K with element (3,3) 0", [&] { return K_with(2, 2, 0.0); }, "K's element (3,3) should not be 0"},
      {"hand-made fx 0",
       [&] {
         Camera_model c = v.camera;
         c.pinhole.fx = 0.0;
         return c;
       },
       "focal lengths should not be 0"},
  };
  for (const Refusal& refusal : refusals) {
    try {
      estimate_pose(refusal.camera(), Points_view(v.points), Values_view(v.pixels));
      ADD_FAILURE() << refusal.name << " was taken";
    } catch (const exception_l& e) {
      EXPECT_NE(std::string(e.what()).find(refusal.message), std::string::npos) << refusal.name << ": " << e.what();
    }
  }
}

}  // namespace
