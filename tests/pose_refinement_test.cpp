// refine_pose: the one-call refinement against the framework set up by hand,
// the robust losses on scenes with gross outliers, the pose covariance against
// Monte Carlo draws, degenerate scenes and the refusal of bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "camera_pose_refine/camera_position_grad_funcs.h"
#include "camera_pose_refine/camera_position_hybrid_grad_funcs.h"
#include "camera_pose_refine/camera_position_opt_func.h"
#include "tests/test_support.h"
#include "camera_pose_refine/framework_refine.h"
#include "tests/synthetic_scene.h"
#include "trel_opt/linear_taylor_solver.h"
#include "trel_pose/pose_refinement.h"
#include "trel_tools/rotation.h"

namespace {

using namespace trel;
using trel_test::Synthetic_scene;

const int kCodes[] = {0, 1, 2, 3, 10, 11, 12, -1, -2, -3};

bool is_bearing(int code) { return code >= 10; }

std::vector<double> search_vector(const Synthetic_scene& s, int code) {
  std::vector<double> x;
  if (code == 2 || code == 3 || code == 12 || code == -1) x = s.quaternion;
  else if (code == 1 || code == 11 || code == -3) x = s.ang_axis;
  else x = s.rot_vec;
  x.insert(x.end(), s.centre.begin(), s.centre.end());
  return x;
}

matrix<double> scene_K(const Synthetic_scene& s, int code) {
  return is_bearing(code) ? trel_test::intrinsics(1.0, 0.0, 0.0) : trel_test::intrinsics(s.k11, s.k13, s.k23);
}

std::vector<double> scene_observations(const Synthetic_scene& s, int code) {
  std::vector<double> obs;
  for (const std::vector<double>& o : is_bearing(code) ? s.points_in_cam : s.pixels) obs.insert(obs.end(), o.begin(), o.end());
  return obs;
}

// A few hundredths off on every value.
std::vector<double> perturbed(std::vector<double> x, unsigned seed, double size) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> d(-size, size);
  for (double& v : x) v += d(rng);
  return x;
}

cv::Matx33d rotation_matrix(const std::vector<double>& x, int code) {
  const int nrot = camera_rotation_type::num_rotation_values(code);
  const std::vector<double> r(x.begin(), x.begin() + nrot);
  matrix<double> R;
  if (code == 2 || code == 3 || code == 12 || code == -1) R = quaternion_to_rot_mat(r);
  else if (code == 1 || code == 11 || code == -3) R = ang_axis_rad_to_rot_mat(r);
  else R = rot_vec_rad_to_rot_mat(r);
  cv::Matx33d out;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out(i, j) = R[i][j];
  return out;
}

// The error (delta, t) of x against the truth in the covariance's
// parameterisation: R_x = exp([delta]x) R_true.
cv::Vec<double, 6> pose_error(const std::vector<double>& x, const Synthetic_scene& s, int code) {
  const cv::Matx33d D = rotation_matrix(x, code) * s.rot_mat.t();
  matrix<double> Dm(3, 3);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) Dm[i][j] = D(i, j);
  const std::vector<double> delta = rot_mat_to_rot_vec_rad(Dm);
  const int nrot = camera_rotation_type::num_rotation_values(code);
  cv::Vec<double, 6> e;
  for (int k = 0; k < 3; ++k) {
    e[k] = delta[static_cast<std::size_t>(k)];
    e[3 + k] = x[static_cast<std::size_t>(nrot + k)] - s.centre[static_cast<std::size_t>(k)];
  }
  return e;
}

// ---- the one call against the framework set up by hand -----------------------

std::unique_ptr<Grad_func> hand_grad_func(int code, Camera_position_opt_func* cost, const Synthetic_scene& s,
                                          const matrix<double>& K) {
  const std::vector<std::vector<double>>& p = s.points_world;
  switch (code) {
    case 0: return std::make_unique<Camera_position_grad_func_aau>(cost, p, K);
    case 1: return std::make_unique<Camera_position_grad_func_aan>(cost, p, K);
    case 2: return std::make_unique<Camera_position_grad_func_qu>(cost, p, K);
    case 3: return std::make_unique<Camera_position_grad_func_qn>(cost, p, K);
    case 10: return std::make_unique<Camera_position_grad_func_aau_bv>(cost, p, K);
    case 11: return std::make_unique<Camera_position_grad_func_aan_bv>(cost, p, K);
    case 12: return std::make_unique<Camera_position_grad_func_qu_bv>(cost, p, K);
    case -1: return std::make_unique<Camera_position_grad_func_qu_aau_aan>(p, K, cost);
    case -2: return std::make_unique<Camera_position_grad_func_aau_qu_aan>(p, K, cost);
    default: return std::make_unique<Camera_position_grad_func_aan_qu_aau>(p, K, cost);
  }
}

// The library's kernel, or the plug-in's framework road.
Pose_refine_result refine_on(bool framework, const matrix<double>& K, const std::vector<std::vector<double>>& points,
                             const std::vector<double>& observations, const std::vector<double>& start,
                             const Pose_refine_options& options) {
  return framework ? trel::refine_pose_by_framework(K, points, observations, start, options)
                   : refine_pose(K, points, observations, start, options);
}

TEST(RefinePose, SquaredLossIsTheFrameworkSetUpByHandForEveryCode) {
  trel_test::Scene_options o;
  o.pixel_noise = 0.5;
  o.bearing_noise = 0.01;
  for (int code : kCodes)
    for (bool fd : {false, true}) {
      const Synthetic_scene s = trel_test::make_scene(40 + static_cast<unsigned>(code + 3), 12, o);
      const matrix<double> K = scene_K(s, code);
      const std::vector<double> obs = scene_observations(s, code);
      const std::vector<double> start = perturbed(search_vector(s, code), 5, 0.03);
      const std::size_t reps = static_cast<std::size_t>(camera_rotation_type::repetitions(code));
      std::vector<double> weights(obs.size() * reps);
      for (std::size_t k = 0; k < weights.size(); ++k) weights[k] = 0.5 + 0.1 * static_cast<double>(k % 7);

      Linear_taylor_solver solver;
      solver.set_num_dimensions(static_cast<int>(start.size()));
      solver.set_num_equations(static_cast<int>(weights.size()));
      solver.set_max_iters(15);
      solver.set_min_x_step(1e-10f);
      auto* cost = new Camera_position_opt_func(s.points_world, K, code);
      if (fd) {
        cost->set_weights(weights);
        solver.set_funcs({cost});
        solver.set_finite_difference_steps({pose_finite_difference_steps(start, static_cast<int>(start.size()) - 3,
                                                                         s.points_world)});
      } else {
        std::unique_ptr<Grad_func> g = hand_grad_func(code, cost, s, K);
        g->set_weights(weights);
        solver.set_grad_funcs({g.release()});
      }
      std::vector<double> target;
      for (std::size_t j = 0; j < reps; ++j) target.insert(target.end(), obs.begin(), obs.end());
      const std::vector<double> by_hand = solver.optimise(start, target);

      Pose_refine_options options;
      options.rotation_code = code;
      options.max_iters = 15;
      options.min_x_step = 1e-10f;
      options.finite_differences = fd;
      options.weights = weights;
      const Pose_refine_result r = trel::refine_pose_by_framework(K, s.points_world, obs, start, options);
      const std::string where = "code " + std::to_string(code) + (fd ? " fd" : " analytic");
      EXPECT_EQ(r.x, by_hand) << where;
      EXPECT_EQ(r.summary.iterations, solver.get_summary().iterations) << where;
      EXPECT_EQ(r.summary.final_error, solver.get_summary().final_error) << where;
      EXPECT_EQ(r.summary.returned_iteration, solver.get_summary().returned_iteration) << where;
      EXPECT_EQ(r.summary.loss, "squared");
      ASSERT_EQ(r.summary.inliers.size(), s.points_world.size());
      EXPECT_LT(r.summary.final_rms, r.summary.initial_rms) << where;
      // Converged near the truth, within the noise.
      const cv::Vec<double, 6> e = pose_error(r.x, s, code);
      EXPECT_LT(cv::norm(e), 0.05) << where;
    }
}

// ---- robust losses -----------------------------------------------------------

// rho'(s) is the weight: checked against central differences of rho.
TEST(RobustLoss, WeightIsTheDerivativeOfTheLoss) {
  for (Loss loss : {Loss::squared, Loss::huber, Loss::cauchy, Loss::soft_l1, Loss::truncated}) {
    Loss parsed = Loss::squared;
    ASSERT_TRUE(loss_from_name(loss_name(loss), parsed));
    EXPECT_EQ(parsed, loss);
    for (double c : {0.5, 3.0})
      for (double e : {0.0, 0.1, 0.4, 0.9, 2.0, 7.0, 40.0}) {
        const double s = e * e, h = 1e-6 * std::max(1.0, s);
        if (std::fabs(e - c) < 0.05) continue;  // the kink of huber and truncated
        const double numeric =
            s < h ? (robust_loss_value(loss, s + h, c) - robust_loss_value(loss, s, c)) / h
                  : (robust_loss_value(loss, s + h, c) - robust_loss_value(loss, s - h, c)) / (2 * h);
        EXPECT_NEAR(robust_loss_weight(loss, s, c), numeric, 1e-5) << loss_name(loss) << " c " << c << " e " << e;
        // Every loss is the square near zero.
        if (e <= 0.1) {
          EXPECT_NEAR(robust_loss_value(loss, s, c), s, s * s / (c * c) + 1e-15) << loss_name(loss);
        }
      }
  }
  Loss unchanged = Loss::cauchy;
  EXPECT_FALSE(loss_from_name("Huber", unchanged));
  EXPECT_EQ(unchanged, Loss::cauchy);
}

struct Outlier_case {
  Loss loss;
  double scale;
  double fraction;
  // Median error over that of the inlier-only fit: 1.1 for the redescending
  // losses; huber and soft_l1 keep a bounded pull of each outlier (scale times
  // its direction), which measured 1.2 to 1.9 times on these scenes.
  double bound;
};

class RobustRefinement : public ::testing::TestWithParam<Outlier_case> {};

double median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

// Gross outliers: each loss reaches the fit to the inliers alone (median
// rotation and position errors over the draws within 1.1 times), plain least
// squares does not.
TEST_P(RobustRefinement, GrossOutliersReachTheInlierOnlyFit) {
  const Outlier_case c = GetParam();
  constexpr int draws = 15, npts = 60;
  std::vector<double> rot[3], pos[3];  // robust, inliers only, plain
  for (int d = 0; d < draws; ++d) {
    trel_test::Scene_options o;
    o.pixel_noise = 1.0;
    Synthetic_scene s = trel_test::make_scene(100 + static_cast<unsigned>(d), npts, o);
    std::mt19937 rng(200 + static_cast<unsigned>(d));
    std::uniform_real_distribution<double> angle(0.0, 2 * M_PI), size(30.0, 150.0);
    const int outliers = static_cast<int>(std::lround(c.fraction * npts));
    std::vector<double> inlier_weights(2 * npts, 1.0);
    for (int i = 0; i < outliers; ++i) {
      const double a = angle(rng), m = size(rng);
      s.pixels[static_cast<std::size_t>(i)][0] += m * std::cos(a);
      s.pixels[static_cast<std::size_t>(i)][1] += m * std::sin(a);
      inlier_weights[static_cast<std::size_t>(2 * i)] = inlier_weights[static_cast<std::size_t>(2 * i + 1)] = 0.0;
    }
    const matrix<double> K = scene_K(s, 0);
    const std::vector<double> obs = scene_observations(s, 0);
    const std::vector<double> start = perturbed(search_vector(s, 0), 300 + static_cast<unsigned>(d), 0.01);
    Pose_refine_options options;
    options.max_iters = 50;
    options.min_x_step = 1e-9f;
    options.covariance = false;
    std::vector<Pose_refine_result> results;
    options.loss = c.loss;
    options.loss_scale = c.scale;
    results.push_back(refine_pose(K, s.points_world, obs, start, options));
    options.loss = Loss::squared;
    options.weights = inlier_weights;
    results.push_back(refine_pose(K, s.points_world, obs, start, options));
    options.weights.clear();
    results.push_back(refine_pose(K, s.points_world, obs, start, options));
    for (int k = 0; k < 3; ++k) {
      const cv::Vec<double, 6> e = pose_error(results[static_cast<std::size_t>(k)].x, s, 0);
      rot[k].push_back(cv::norm(cv::Vec3d(e[0], e[1], e[2])));
      pos[k].push_back(cv::norm(cv::Vec3d(e[3], e[4], e[5])));
    }
    const Pose_summary& robust = results[0].summary;
    EXPECT_EQ(robust.loss, loss_name(c.loss));
    EXPECT_EQ(robust.loss_scale, c.scale);
    EXPECT_LE(robust.final_error, robust.initial_error);
    // The outliers are flagged as such.
    ASSERT_EQ(robust.inliers.size(), static_cast<std::size_t>(npts));
    for (int i = 0; i < outliers; ++i) EXPECT_EQ(robust.inliers[static_cast<std::size_t>(i)], 0) << i;
    int flagged = 0;
    for (unsigned char f : robust.inliers) flagged += f;
    EXPECT_GT(flagged, (npts - outliers) / 3);
  }
  const std::string what = std::string(loss_name(c.loss)) + " at " + std::to_string(c.fraction);
  EXPECT_LE(median(rot[0]), c.bound * median(rot[1])) << what;
  EXPECT_LE(median(pos[0]), c.bound * median(pos[1])) << what;
  EXPECT_GT(median(rot[2]), 10.0 * median(rot[1])) << what;
  EXPECT_GT(median(pos[2]), 10.0 * median(pos[1])) << what;
}

INSTANTIATE_TEST_SUITE_P(Losses, RobustRefinement,
                         ::testing::Values(Outlier_case{Loss::huber, 1.5, 0.2, 2.0},
                                           Outlier_case{Loss::huber, 1.5, 0.4, 2.0},
                                           Outlier_case{Loss::cauchy, 2.0, 0.2, 1.1},
                                           Outlier_case{Loss::cauchy, 2.0, 0.4, 1.1},
                                           Outlier_case{Loss::soft_l1, 1.5, 0.2, 2.0},
                                           Outlier_case{Loss::soft_l1, 1.5, 0.4, 2.0},
                                           Outlier_case{Loss::truncated, 20.0, 0.2, 1.1},
                                           Outlier_case{Loss::truncated, 20.0, 0.4, 1.1}));

// The truncated loss from a start 3 degrees off, where every error exceeds its
// 2 px scale: both paths leave the start and reach the inlier-only fit.
struct Far_start_case {
  bool use_framework;
  double fraction;
};

class TruncatedFarStart : public ::testing::TestWithParam<Far_start_case> {};

TEST_P(TruncatedFarStart, ReachesTheInlierOnlyFit) {
  const Far_start_case c = GetParam();
  constexpr int draws = 12, npts = 60;
  std::vector<double> rot[2], pos[2];  // truncated, inliers only
  for (int d = 0; d < draws; ++d) {
    trel_test::Scene_options o;
    o.pixel_noise = 0.5;
    Synthetic_scene s = trel_test::make_scene(500 + static_cast<unsigned>(d), npts, o);
    std::mt19937 rng(600 + static_cast<unsigned>(d));
    std::uniform_real_distribution<double> u(0.0, 640.0), v(0.0, 480.0), unit(-1.0, 1.0);
    const int outliers = static_cast<int>(std::lround(c.fraction * npts));
    std::vector<double> inlier_weights(2 * npts, 1.0);
    for (int i = 0; i < outliers; ++i) {
      s.pixels[static_cast<std::size_t>(i)] = {u(rng), v(rng)};
      inlier_weights[static_cast<std::size_t>(2 * i)] = inlier_weights[static_cast<std::size_t>(2 * i + 1)] = 0.0;
    }
    cv::Vec3d axis(unit(rng), unit(rng), unit(rng));
    axis *= 3.0 * M_PI / 180.0 / cv::norm(axis);
    const matrix<double> turn = rot_vec_rad_to_rot_mat(std::vector<double>{axis[0], axis[1], axis[2]});
    matrix<double> R0m(3, 3);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        R0m[i][j] = 0.0;
        for (int k = 0; k < 3; ++k) R0m[i][j] += turn[i][k] * s.rot_mat(k, j);
      }
    std::vector<double> start = rot_mat_to_rot_vec_rad(R0m);
    for (int k = 0; k < 3; ++k) start.push_back(s.centre[static_cast<std::size_t>(k)] + 0.3 * unit(rng));

    const matrix<double> K = scene_K(s, 0);
    const std::vector<double> obs = scene_observations(s, 0);
    Pose_refine_options options;
    options.max_iters = 60;
    options.min_x_step = 1e-10f;
    options.covariance = false;
    options.loss = Loss::truncated;
    options.loss_scale = 2.0;
    const Pose_refine_result robust = refine_on(c.use_framework, K, s.points_world, obs, start, options);
    options.loss = Loss::squared;
    options.weights = inlier_weights;
    const Pose_refine_result reference = refine_on(c.use_framework, K, s.points_world, obs, start, options);
    EXPECT_GT(robust.summary.returned_iteration, 0);
    EXPECT_LT(robust.summary.final_error, robust.summary.initial_error);
    EXPECT_FALSE(robust.summary.nothing_to_fit);
    for (int k = 0; k < 2; ++k) {
      const cv::Vec<double, 6> e = pose_error(k == 0 ? robust.x : reference.x, s, 0);
      rot[k].push_back(cv::norm(cv::Vec3d(e[0], e[1], e[2])));
      pos[k].push_back(cv::norm(cv::Vec3d(e[3], e[4], e[5])));
    }
  }
  EXPECT_LE(median(rot[0]), 1.1 * median(rot[1]));
  EXPECT_LE(median(pos[0]), 1.1 * median(pos[1]));
}

INSTANTIATE_TEST_SUITE_P(BothPaths, TruncatedFarStart,
                         ::testing::Values(Far_start_case{false, 0.2}, Far_start_case{false, 0.4},
                                           Far_start_case{true, 0.2}, Far_start_case{true, 0.4}));

// With every user weight 0 nothing can be fitted, and the summary says so.
TEST(RefinePose, AllWeightsZeroSaysNothingToFit) {
  const Synthetic_scene s = trel_test::make_scene(7, 20, trel_test::Scene_options());
  const std::vector<double> start = perturbed(search_vector(s, 0), 8, 0.01);
  for (bool framework : {false, true})
    for (Loss loss : {Loss::squared, Loss::truncated}) {
      Pose_refine_options options;
      options.loss = loss;
      options.weights.assign(40, 0.0);
      const Pose_refine_result r =
          refine_on(framework, scene_K(s, 0), s.points_world, scene_observations(s, 0), start, options);
      EXPECT_TRUE(r.summary.nothing_to_fit) << framework << " " << loss_name(loss);
      if (!framework) {
        EXPECT_EQ(r.x, start) << loss_name(loss);
      }
    }
  Pose_refine_options options;
  const Pose_refine_result r = refine_pose(scene_K(s, 0), s.points_world, scene_observations(s, 0), start, options);
  EXPECT_FALSE(r.summary.nothing_to_fit);
}

// Every code, analytic and finite-difference Jacobians: the Cauchy loss flags
// the spoilt points and lands on the pose, both ways alike.
TEST(RobustRefinementCodes, EveryCodeAndBothJacobiansIgnoreTheOutliers) {
  for (int code : kCodes) {
    trel_test::Scene_options o;
    o.pixel_noise = 0.5;
    o.bearing_noise = 0.005;
    Synthetic_scene s = trel_test::make_scene(60 + static_cast<unsigned>(code + 3), 30, o);
    const double spoil = is_bearing(code) ? 2.0 : 60.0;
    for (int i = 0; i < 6; ++i) (is_bearing(code) ? s.points_in_cam : s.pixels)[static_cast<std::size_t>(5 * i)][1] += spoil;
    Pose_refine_options options;
    options.rotation_code = code;
    options.max_iters = 40;
    options.min_x_step = 1e-11f;
    options.loss = Loss::cauchy;
    options.loss_scale = is_bearing(code) ? 0.02 : 2.0;
    const std::vector<double> start = perturbed(search_vector(s, code), 9, 0.01);
    cv::Vec<double, 6> poses[2];
    for (bool fd : {false, true}) {
      options.finite_differences = fd;
      const Pose_refine_result r = refine_pose(scene_K(s, code), s.points_world, scene_observations(s, code), start, options);
      const std::string what = "code " + std::to_string(code) + (fd ? " fd" : " analytic");
      int kept = 0;
      for (int i = 0; i < 30; ++i) {
        if (i % 5 == 0) EXPECT_EQ(r.summary.inliers[static_cast<std::size_t>(i)], 0) << what << " point " << i;
        else kept += r.summary.inliers[static_cast<std::size_t>(i)];
      }
      EXPECT_GT(kept, 16) << what;
      const cv::Vec<double, 6> e = pose_error(r.x, s, code);
      EXPECT_LT(cv::norm(e), 0.02) << what;
      EXPECT_EQ(r.summary.covariance.size(), 36u) << what;
      EXPECT_GT(r.summary.returned_iteration, 0) << what;
      EXPECT_LT(r.summary.final_error, r.summary.initial_error) << what;
      poses[fd ? 1 : 0] = e;
    }
    // The same pose (an angle-axis vector may differ along its axis's length).
    EXPECT_LT(cv::norm(poses[0] - poses[1]), 1e-6) << code;
  }
}

// ---- covariance --------------------------------------------------------------

// The rows of the (delta, t) Jacobian against central differences of the
// projection under R = exp([delta]x) R_hat.
TEST(PoseCovariance, PointJacobianMatchesCentralDifferences) {
  const Synthetic_scene s = trel_test::make_scene(7, 4);
  for (bool bearing : {false, true}) {
    const matrix<double> K = bearing ? trel_test::intrinsics(1, 0, 0) : trel_test::intrinsics(s.k11, s.k13, s.k23);
    matrix<double> R(3, 3);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) R[i][j] = s.rot_mat(i, j);
    auto project = [&](const std::vector<double>& X, const std::vector<double>& p) {
      const matrix<double> Rp = rot_vec_rad_to_rot_mat(std::vector<double>{p[0], p[1], p[2]});
      double c[3], q[3];
      for (int k = 0; k < 3; ++k) {
        c[k] = 0;
        for (int j = 0; j < 3; ++j) {
          double r = 0;  // (Rp R)[j][k]
          for (int l = 0; l < 3; ++l) r += Rp[j][l] * R[l][k];
          c[k] += r * (X[static_cast<std::size_t>(j)] - s.centre[static_cast<std::size_t>(j)] - p[3 + static_cast<std::size_t>(j)]);
        }
      }
      for (int k = 0; k < 3; ++k) q[k] = K[k][0] * c[0] + K[k][1] * c[1] + K[k][2] * c[2];
      return bearing ? std::vector<double>{c[0], c[1], c[2]} : std::vector<double>{q[0] / q[2], q[1] / q[2]};
    };
    for (const std::vector<double>& X : s.points_world) {
      const std::vector<double> J = pose_point_jacobian(K, X, R, s.centre, bearing);
      const std::size_t rows = bearing ? 3 : 2;
      ASSERT_EQ(J.size(), rows * 6);
      for (std::size_t d = 0; d < 6; ++d) {
        std::vector<double> plus(6, 0.0), minus(6, 0.0);
        plus[d] = 1e-6;
        minus[d] = -1e-6;
        const std::vector<double> fp = project(X, plus), fm = project(X, minus);
        for (std::size_t r = 0; r < rows; ++r) {
          const double numeric = (fp[r] - fm[r]) / 2e-6;
          EXPECT_NEAR(J[r * 6 + d], numeric, 1e-6 * std::max(1.0, std::fabs(numeric))) << r << "," << d;
        }
      }
    }
  }
}

// Noisy draws of one scene: the spread of the estimates about the truth
// matches the predicted covariance, and the normalised squared errors average 6.
TEST(PoseCovariance, MatchesTheMonteCarloSpread) {
  for (int code : {0, 2, 10}) {
    constexpr int draws = 300, npts = 25;
    const double noise = is_bearing(code) ? 0.01 : 1.0;
    const Synthetic_scene s = trel_test::make_scene(9, npts);
    const matrix<double> K = scene_K(s, code);
    Pose_refine_options options;
    options.rotation_code = code;
    options.max_iters = 0;
    options.sigma = noise;
    const Pose_refine_result at_truth = refine_pose(K, s.points_world, scene_observations(s, code), search_vector(s, code), options);
    ASSERT_EQ(at_truth.summary.covariance.size(), 36u) << code;
    EXPECT_EQ(at_truth.summary.covariance_rank, 6);
    cv::Matx<double, 6, 6> predicted(at_truth.summary.covariance.data()), empirical = cv::Matx<double, 6, 6>::zeros();
    options.max_iters = 10;
    options.min_x_step = 1e-12f;
    options.sigma = 0.0;
    double nees = 0.0;
    std::mt19937 rng(11);
    std::normal_distribution<double> n(0.0, noise);
    for (int d = 0; d < draws; ++d) {
      std::vector<double> obs = scene_observations(s, code);
      for (double& v : obs) v += n(rng);
      const Pose_refine_result r = refine_pose(K, s.points_world, obs, search_vector(s, code), options);
      ASSERT_EQ(r.summary.covariance.size(), 36u);
      const cv::Vec<double, 6> e = pose_error(r.x, s, code);
      empirical += e * e.t() * (1.0 / draws);
      const cv::Matx<double, 6, 6> cov(r.summary.covariance.data());
      nees += (e.t() * cov.inv(cv::DECOMP_CHOLESKY) * e)(0) / draws;
    }
    EXPECT_LT(cv::norm(empirical - predicted) / cv::norm(predicted), 0.25) << code;
    EXPECT_NEAR(nees, 6.0, 0.8) << code;
  }
}

// Scenes that do not fix the pose: no covariance, the rank stated, no failure.
TEST(PoseCovariance, DegenerateScenesGiveNoneAndTheirRank) {
  struct Case {
    const char* name;
    int npts;
    bool on_a_line;
    double sigma;
    int max_rank[2];             // pixels, camera-frame points
    bool expect_covariance[2];
  };
  // A point gives 2 equations in pixels, 3 as a camera-frame point; two
  // camera-frame points leave the turn about the line through them free.
  const Case cases[] = {{"one point", 1, false, 0.0, {2, 3}, {false, false}},
                        {"two points", 2, false, 0.0, {4, 5}, {false, false}},
                        {"three points", 3, false, 0.0, {6, 6}, {false, true}},
                        {"three points, sigma", 3, false, 1.0, {6, 6}, {true, true}},
                        {"line", 12, true, 0.0, {5, 5}, {false, false}},
                        {"line, sigma", 12, true, 1.0, {5, 5}, {false, false}}};
  for (const Case& c : cases)
    for (int code : {0, 10, -1})
      for (Loss loss : {Loss::squared, Loss::cauchy}) {
        Synthetic_scene s = trel_test::make_scene(3, c.npts);
        if (c.on_a_line)
          for (int i = 0; i < c.npts; ++i) {
            std::vector<double>& X = s.points_world[static_cast<std::size_t>(i)];
            X = {s.points_world[0][0] + 0.3 * i, s.points_world[0][1] - 0.2 * i, s.points_world[0][2] + 0.1 * i};
          }
        const std::vector<double> x = search_vector(s, code);
        Pose_refine_options options;
        options.rotation_code = code;
        options.loss = loss;
        options.sigma = c.sigma;
        options.max_iters = 0;
        const Camera_position_opt_func model(s.points_world, scene_K(s, code), code);
        const std::vector<double> predicted = model(x);
        const std::vector<double> obs(predicted.begin(), predicted.begin() + static_cast<std::ptrdiff_t>(predicted.size() / camera_rotation_type::repetitions(code)));
        const Pose_refine_result r = refine_pose(scene_K(s, code), s.points_world, obs, x, options);
        const std::string what = std::string(c.name) + " code " + std::to_string(code) + " " + loss_name(loss);
        const int b = is_bearing(code) ? 1 : 0;
        EXPECT_EQ(r.summary.covariance_rank, c.max_rank[b]) << what;
        EXPECT_EQ(r.summary.covariance.size(), c.expect_covariance[b] ? 36u : 0u) << what;
        if (c.max_rank[b] < 6) {
          EXPECT_GT(r.summary.condition_number, kCovarianceMaxCondition) << what;
        }
        // More steps on the same scene run without failing either.
        options.max_iters = 5;
        EXPECT_NO_THROW(refine_pose(scene_K(s, code), s.points_world, obs, perturbed(x, 1, 0.01), options)) << what;
      }
}

// ---- bad input -----------------------------------------------------------------

TEST(RefinePose, BadInputIsRefusedNamingTheProblem) {
  const Synthetic_scene s = trel_test::make_scene(1, 5);
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* expected;
    void (*spoil)(matrix<double>&, std::vector<std::vector<double>>&, std::vector<double>&, std::vector<double>&,
                  Pose_refine_options&, double);
    double bad;
  };
  using P = std::vector<std::vector<double>>;
  using V = std::vector<double>;
  using O = Pose_refine_options;
  const Case cases[] = {
      {"Rotation type must be from", [](matrix<double>&, P&, V&, V&, O& o, double) { o.rotation_code = 4; }, 0},
      {"at least one 3D point", [](matrix<double>&, P& p, V& ob, V&, O&, double) { p.clear(); ob.clear(); }, 0},
      {"K should be 3 by 3", [](matrix<double>& K, P&, V&, V&, O&, double) { K = matrix<double>(2, 3); }, 0},
      {"K should hold finite numbers only", [](matrix<double>& K, P&, V&, V&, O&, double b) { K[0][2] = b; }, nan},
      {"point 2 has 2 values", [](matrix<double>&, P& p, V&, V&, O&, double) { p[2].pop_back(); }, 0},
      {"point 3 should hold finite numbers only", [](matrix<double>&, P& p, V&, V&, O&, double b) { p[3][1] = b; }, inf},
      {"the start should hold 6 values", [](matrix<double>&, P&, V&, V& x, O&, double) { x.push_back(0); }, 0},
      {"the start should hold finite numbers only", [](matrix<double>&, P&, V&, V& x, O&, double b) { x[4] = b; }, nan},
      {"observations should hold 10 values", [](matrix<double>&, P&, V& ob, V&, O&, double) { ob.pop_back(); }, 0},
      {"observations should hold finite", [](matrix<double>&, P&, V& ob, V&, O&, double b) { ob[0] = b; }, -inf},
      {"weights should be empty or hold one value per equation (10)",
       [](matrix<double>&, P&, V&, V&, O& o, double) { o.weights.assign(9, 1.0); }, 0},
      {"weights should hold finite", [](matrix<double>&, P&, V&, V&, O& o, double b) { o.weights.assign(10, b); }, nan},
      {"loss_scale should be a finite positive number", [](matrix<double>&, P&, V&, V&, O& o, double b) { o.loss_scale = b; }, 0},
      {"loss_scale should be a finite positive number", [](matrix<double>&, P&, V&, V&, O& o, double b) { o.loss_scale = b; }, -2},
      {"loss_scale should be a finite positive number", [](matrix<double>&, P&, V&, V&, O& o, double b) { o.loss_scale = b; }, nan},
      {"loss_scale should be a finite positive number", [](matrix<double>&, P&, V&, V&, O& o, double b) { o.loss_scale = b; }, inf},
      {"sigma should be a finite number, 0 or more", [](matrix<double>&, P&, V&, V&, O& o, double b) { o.sigma = b; }, -1},
      {"sigma should be a finite number, 0 or more", [](matrix<double>&, P&, V&, V&, O& o, double b) { o.sigma = b; }, inf},
  };
  for (const Case& c : cases) {
    matrix<double> K = scene_K(s, 0);
    P points = s.points_world;
    V obs = scene_observations(s, 0);
    V start = search_vector(s, 0);
    O options;
    options.loss = Loss::huber;
    c.spoil(K, points, obs, start, options, c.bad);
    const std::string detail = trel_test::detail_thrown([&] { refine_pose(K, points, obs, start, options); });
    EXPECT_NE(detail.find(c.expected), std::string::npos) << c.expected << " / " << detail;
  }
}

}  // namespace
