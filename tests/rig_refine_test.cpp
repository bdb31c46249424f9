// refine_rig_pose: exact recovery over rigs of 2 and 3 cameras (one with
// distortion), the analytic rig Jacobian against the kernel's central
// differences, the covariance against a Monte Carlo spread, one camera at the
// rig origin against refine_pose, and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "tests/trel_matchers.h"
#include "trel_pose/rig_pose.h"
#include "trel_tools/rotation.h"

namespace {

using trel::Camera_model;
using trel::Rig;
using trel::Rig_camera;

constexpr double kExactTolerance = 1e-8;      // noise-free recovery, radians and scene units
constexpr double kJacobianTolerance = 1e-6;   // analytic against central-difference steps
constexpr double kSpreadTolerance = 0.25;     // Monte Carlo against the reported variance, relative

void to_array(const trel::matrix<double>& m, double out[9]) {
  for (unsigned r = 0; r < 3; ++r)
    for (unsigned c = 0; c < 3; ++c) out[3 * r + c] = m[r][c];
}

Rig_camera rig_camera(const std::vector<double>& distortion, const std::vector<double>& rot_vec,
                      const std::vector<double>& centre) {
  Rig_camera camera;
  camera.model.pinhole.fx = 800.0;
  camera.model.pinhole.fy = 780.0;
  camera.model.pinhole.cx = 320.0;
  camera.model.pinhole.cy = 240.0;
  camera.model.lens = trel::make_lens_distortion(distortion, false);
  to_array(trel::rot_vec_rad_to_rot_mat<double>(rot_vec), camera.R_cam_to_rig);
  for (int k = 0; k < 3; ++k) camera.centre_in_rig[k] = centre[static_cast<std::size_t>(k)];
  return camera;
}

// Rigs of 1 to 3 cameras: the first at the origin, the second 0.3 right with
// distortion, the third turned 0.4 rad about y.
Rig make_test_rig(int cameras) {
  Rig rig;
  rig.cameras.push_back(rig_camera({}, {0, 0, 0}, {0, 0, 0}));
  if (cameras > 1) rig.cameras.push_back(rig_camera({-0.25, 0.08, 0.001, -0.0005, -0.01}, {0.02, -0.05, 0.01}, {0.3, 0.01, 0}));
  if (cameras > 2) rig.cameras.push_back(rig_camera({}, {0, 0.4, 0}, {-0.2, 0.1, 0.05}));
  return rig;
}

const std::vector<double> kTruth = {0.1, -0.2, 0.05, 0.5, -0.3, -1.0};  // rotation vector, rig centre

struct Rig_data {
  std::vector<double> points, pixels;
  std::vector<int> cameras;
};

// N points in front of the rig, point i seen by camera i % cameras, with
// Gaussian pixel noise of `noise`.
Rig_data observe(const Rig& rig, int n, double noise, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> lateral(-2.0, 2.0), depth(4.0, 8.0);
  std::normal_distribution<double> gauss(0.0, noise);
  double R[9];
  to_array(trel::rot_vec_rad_to_rot_mat(std::vector<double>{kTruth[0], kTruth[1], kTruth[2]}), R);
  const double* t = &kTruth[3];
  Rig_data d;
  for (int i = 0; i < n; ++i) {
    const double local[3] = {lateral(rng), lateral(rng), depth(rng)};  // in the rig frame
    double X[3];
    for (int r = 0; r < 3; ++r) X[r] = t[r] + R[3 * r] * local[0] + R[3 * r + 1] * local[1] + R[3 * r + 2] * local[2];
    const int c = i % static_cast<int>(rig.cameras.size());
    trel::Pose_kernel_camera<double> camera;
    camera.model = rig.cameras[static_cast<std::size_t>(c)].model;
    std::copy(rig.cameras[static_cast<std::size_t>(c)].R_cam_to_rig, rig.cameras[static_cast<std::size_t>(c)].R_cam_to_rig + 9,
              camera.R_cam_to_rig);
    std::copy(rig.cameras[static_cast<std::size_t>(c)].centre_in_rig, rig.cameras[static_cast<std::size_t>(c)].centre_in_rig + 3,
              camera.centre_in_rig);
    double R_cam[9], centre[3], pixel[2];
    trel::camera_pose_in_world(camera, R, t, R_cam, centre);
    trel::Lens_camera_at_pose<double>(camera.model, R_cam).pixel(X, centre, pixel);
    d.points.insert(d.points.end(), X, X + 3);
    d.pixels.push_back(pixel[0] + gauss(rng));
    d.pixels.push_back(pixel[1] + gauss(rng));
    d.cameras.push_back(c);
  }
  return d;
}

std::vector<double> perturbed_start() {
  return {kTruth[0] + 0.04, kTruth[1] - 0.03, kTruth[2] + 0.02, kTruth[3] + 0.15, kTruth[4] - 0.1, kTruth[5] + 0.2};
}

trel::Rig_refine_result refine(const Rig& rig, const Rig_data& d, const std::vector<double>& start,
                               const trel::Pose_refine_options& options = trel::Pose_refine_options()) {
  return trel::refine_rig_pose(rig, trel::Points_view(d.points), trel::Pixels_view(d.pixels), d.cameras, start,
                               options);
}

TEST(RigRefine, RecoversTheRigPoseExactlyForEveryRigAndLoss) {
  for (int cameras : {2, 3})
    for (trel::Loss loss : {trel::Loss::squared, trel::Loss::cauchy, trel::Loss::huber}) {
      const Rig rig = make_test_rig(cameras);
      const Rig_data d = observe(rig, 60, 0.0, 7u);
      trel::Pose_refine_options options;
      options.loss = loss;
      options.max_iters = 30;
      const trel::Rig_refine_result r = refine(rig, d, perturbed_start(), options);
      const std::string what = std::to_string(cameras) + " cameras, " + trel::loss_name(loss);
      EXPECT_TRUE(trel_test::vectors_near(r.x, kTruth, kExactTolerance)) << what;
      ASSERT_EQ(r.cameras.size(), static_cast<std::size_t>(cameras)) << what;
      int seen = 0;
      for (const trel::Rig_camera_summary& c : r.cameras) {
        seen += c.points;
        EXPECT_LT(c.rms, 1e-6) << what;
        EXPECT_EQ(c.inliers, c.points) << what;
      }
      EXPECT_EQ(seen, 60) << what;
      EXPECT_EQ(r.summary.covariance.size(), 36u) << what;
    }
}

// A wrong lever arm in the analytic Jacobian (the camera centre in place of
// the rig centre) changes the step of every offset camera.
TEST(RigRefine, AnalyticStepMatchesTheCentralDifferenceStep) {
  const Rig rig = make_test_rig(3);
  const Rig_data d = observe(rig, 45, 0.5, 11u);
  trel::Pose_refine_options one_step;
  one_step.max_iters = 1;
  one_step.cost_tolerance = 0.0;
  one_step.covariance = false;
  const trel::Rig_refine_result analytic = refine(rig, d, perturbed_start(), one_step);
  one_step.finite_differences = true;
  const trel::Rig_refine_result differences = refine(rig, d, perturbed_start(), one_step);
  ASSERT_EQ(analytic.summary.returned_iteration, 1);
  EXPECT_TRUE(trel_test::vectors_near(analytic.x, differences.x, kJacobianTolerance));
}

TEST(RigRefine, OneCameraAtTheOriginGivesRefinePose) {
  const Rig rig = make_test_rig(2);
  Rig one;
  one.cameras.push_back(rig.cameras[1]);  // the distorting camera
  std::fill(one.cameras[0].R_cam_to_rig, one.cameras[0].R_cam_to_rig + 9, 0.0);
  one.cameras[0].R_cam_to_rig[0] = one.cameras[0].R_cam_to_rig[4] = one.cameras[0].R_cam_to_rig[8] = 1.0;
  std::fill(one.cameras[0].centre_in_rig, one.cameras[0].centre_in_rig + 3, 0.0);
  const Rig_data d = observe(one, 40, 0.7, 5u);
  const trel::Rig_refine_result rig_result = refine(one, d, perturbed_start());
  const trel::Pose_refine_result single =
      trel::refine_pose(one.cameras[0].model, trel::Points_view(d.points), d.pixels, perturbed_start());
  EXPECT_EQ(rig_result.x, single.x);
  EXPECT_EQ(rig_result.summary.covariance, single.summary.covariance);
  EXPECT_DOUBLE_EQ(rig_result.cameras[0].rms, single.summary.final_rms);
}

TEST(RigRefine, CovarianceMatchesTheMonteCarloSpread) {
  const Rig rig = make_test_rig(2);
  constexpr int kDraws = 200;
  constexpr double kNoise = 0.5;
  std::vector<std::vector<double>> results;
  std::vector<double> reported(36, 0.0);
  for (int draw = 0; draw < kDraws; ++draw) {
    const Rig_data d = observe(rig, 40, kNoise, 1000u + static_cast<unsigned>(draw));
    trel::Pose_refine_options options;
    options.sigma = kNoise;
    const trel::Rig_refine_result r = refine(rig, d, kTruth, options);
    ASSERT_EQ(r.summary.covariance.size(), 36u);
    for (std::size_t k = 0; k < 36; ++k) reported[k] += r.summary.covariance[k] / kDraws;
    results.push_back(r.x);
  }
  // The spread of the rotation (small, so the rotation vectors' differences
  // are the perturbation delta to first order) and of the centre.
  double rotation = 0.0, centre = 0.0;
  for (const std::vector<double>& x : results)
    for (std::size_t k = 0; k < 6; ++k) (k < 3 ? rotation : centre) += (x[k] - kTruth[k]) * (x[k] - kTruth[k]) / kDraws;
  const double reported_rotation = reported[0] + reported[7] + reported[14];
  const double reported_centre = reported[21] + reported[28] + reported[35];
  EXPECT_NEAR(rotation / reported_rotation, 1.0, kSpreadTolerance);
  EXPECT_NEAR(centre / reported_centre, 1.0, kSpreadTolerance);
}

TEST(RigRefine, RefusesBadInputNamingTheCause) {
  const Rig rig = make_test_rig(2);
  const Rig_data good = observe(rig, 12, 0.0, 3u);
  struct Case {
    std::string name;
    Rig rig;
    Rig_data data;
    int code;
    std::string message;
  };
  std::vector<Case> cases;
  cases.push_back({"index outside", rig, good, 0, "outside the rig's cameras 0 to 1"});
  cases.back().data.cameras[4] = 2;
  cases.push_back({"negative index", rig, good, 0, "names camera -1"});
  cases.back().data.cameras[0] = -1;
  cases.push_back({"too few", rig, good, 0, "at least 4 observations, instead 3"});
  cases.back().data.points.resize(9);
  cases.back().data.pixels.resize(6);
  cases.back().data.cameras.resize(3);
  cases.push_back({"index count", rig, good, 0, "one camera index per point (12)"});
  cases.back().data.cameras.pop_back();
  cases.push_back({"bearing code", rig, good, 10, "takes the pixel rotation codes"});
  cases.push_back({"no cameras", Rig{}, good, 0, "the rig has no cameras"});
  cases.push_back({"non-finite point", rig, good, 0, "point 2 should hold finite numbers only"});
  cases.back().data.points[7] = std::nan("");
  for (const Case& c : cases) {
    trel::Pose_refine_options options;
    options.rotation_code = c.code;
    std::vector<double> start = perturbed_start();
    if (c.code == 10) start = {0, 0, 0, 0, 0, 0};
    const std::string thrown = trel_test::origin_detail_thrown([&] {
      trel::refine_rig_pose(c.rig, trel::Points_view(c.data.points), trel::Pixels_view(c.data.pixels),
                            c.data.cameras, start, options);
    });
    EXPECT_NE(thrown.find(c.message), std::string::npos) << c.name << ": " << thrown;
  }
}

}  // namespace
