// The pose jobs under hostile input: each row either names the cause of its
// refusal or must come back with the right answer, never with a wrong one
// reported as a success.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "bench/robust_scene.h"
#include "tests/synthetic_scene.h"
#include "tests/test_support.h"
#include "trel_opt/robust_loss.h"
#include "trel_pose/pose_estimation.h"
#include "trel_pose/pose_refinement.h"
#include "trel_tools/rotation.h"

namespace {

using namespace trel;
using trel_test::Synthetic_scene;
using Points = std::vector<std::vector<double>>;
using Values = std::vector<double>;

// One refine_pose call: the scene's pixels (or camera-frame points), the
// start a little off the truth.
struct Refine_call {
  matrix<double> K;
  Points points;
  Values observations;
  Values start;
  Pose_refine_options options;
};

Refine_call noisy_call(unsigned seed, int code = 0) {
  trel_test::Scene_options so;
  so.pixel_noise = 0.5;
  const Synthetic_scene s = trel_test::make_scene(seed, 30, so);
  Refine_call c;
  c.K = code >= 10 ? trel_test::intrinsics(1.0, 0.0, 0.0) : trel_test::intrinsics(s.k11, s.k13, s.k23);
  c.points = s.points_world;
  for (std::size_t i = 0; i < s.pixels.size(); ++i)
    for (double v : code >= 10 ? s.points_in_cam[i] : s.pixels[i]) c.observations.push_back(v);
  c.start = {s.rot_vec[0] + 0.02, s.rot_vec[1] - 0.01, s.rot_vec[2], s.centre[0] + 0.1, s.centre[1], s.centre[2]};
  c.options.rotation_code = code;
  return c;
}

Pose_refine_result run(const Refine_call& c) {
  return refine_pose(c.K, c.points, c.observations, c.start, c.options);
}

double largest_difference(const Values& a, const Values& b) {
  double d = 0.0;
  for (std::size_t k = 0; k < a.size(); ++k) d = std::max(d, std::fabs(a[k] - b[k]));
  return d;
}

// What a row expects: a refusal naming its cause, or an answer that check accepts.
struct Hostile_refine {
  const char* name;
  std::function<void(Refine_call&)> spoil;
  const char* refusal;  // nullptr: an answer is expected
  std::function<void(const Refine_call&, const Pose_refine_result&)> check;
};

// The squared-loss fit of the unspoilt call: what a loss whose scale switches
// robustness off must reach.
Values squared_fit(unsigned seed) { return run(noisy_call(seed)).x; }

void same_as_squared_fit(const Refine_call&, const Pose_refine_result& r) {
  EXPECT_LT(largest_difference(r.x, squared_fit(3)), 1e-7);
  EXPECT_TRUE(std::isfinite(r.summary.final_error));
  EXPECT_GT(r.summary.final_error, 0.0);
}

void faces_points_or_says_so(const Refine_call&, const Pose_refine_result& r) {
  if (r.summary.faces_points) {
    EXPECT_GE(2 * r.summary.points_in_front, 30);
  } else {
    EXPECT_TRUE(r.summary.covariance.empty());
    EXPECT_EQ(std::count(r.summary.inliers.begin(), r.summary.inliers.end(), 1), 0);
    EXPECT_FALSE(r.summary.covariance_reason.empty());
  }
}

TEST(HostileRefinePose, EachInputIsRefusedWithItsCauseOrAnsweredRight) {
  const double huge = 1e300;
  const Hostile_refine rows[] = {
      {"point at the start's centre", [](Refine_call& c) { c.points[4] = {c.start[3], c.start[4], c.start[5]}; },
       "point 4 lies at the start's camera centre", nullptr},
      {"K all zero", [](Refine_call& c) { c.K = matrix<double>(3, 3); }, "K is all zero", nullptr},
      {"K third row zero", [](Refine_call& c) { c.K[2][2] = 0.0; }, "K's third row is zero", nullptr},
      {"K times 2 (the same camera)",
       [](Refine_call& c) {
         for (unsigned r = 0; r < 3; ++r)
           for (unsigned k = 0; k < 3; ++k) c.K[r][k] *= 2.0;
       },
       nullptr, same_as_squared_fit},
      {"K with element (3,1)", [](Refine_call& c) { c.K[2][0] = 1e-3; },
       "K should have a pinhole's form [fx s cx; 0 fy cy; 0 0 1] (or a multiple of it), instead element (3,1) is 0.001",
       nullptr},
      {"focal length 1e300", [huge](Refine_call& c) { c.K[0][0] = huge; }, "the cost at the start is not finite",
       nullptr},
      {"pixel 1e300", [huge](Refine_call& c) { c.observations[6] = huge; },
       "the cost at the start is not finite: the error of point 3", nullptr},
      {"weights 1e160", [](Refine_call& c) { c.options.weights.assign(60, 1e160); },
       "the weighted errors overflow a double", nullptr},
      {"weights 1e-162", [](Refine_call& c) { c.options.weights.assign(60, 1e-162); }, nullptr,
       [](const Refine_call&, const Pose_refine_result& r) {
         EXPECT_LT(largest_difference(r.x, squared_fit(3)), 1e-7);
         EXPECT_FALSE(r.summary.nothing_to_fit);
         EXPECT_EQ(r.summary.covariance.size(), 36u);
       }},
      {"weights 1e150", [](Refine_call& c) { c.options.weights.assign(60, 1e150); }, nullptr,
       [](const Refine_call&, const Pose_refine_result& r) {
         EXPECT_LT(largest_difference(r.x, squared_fit(3)), 1e-7);
         EXPECT_TRUE(std::isfinite(r.summary.final_error));
       }},
      {"Cauchy scale 1e9", [](Refine_call& c) { c.options.loss = Loss::cauchy; c.options.loss_scale = 1e9; },
       nullptr, same_as_squared_fit},
      {"Cauchy scale 1e155", [](Refine_call& c) { c.options.loss = Loss::cauchy; c.options.loss_scale = 1e155; },
       nullptr, same_as_squared_fit},
      {"soft L1 scale 1e10", [](Refine_call& c) { c.options.loss = Loss::soft_l1; c.options.loss_scale = 1e10; },
       nullptr, same_as_squared_fit},
      {"soft L1 scale 1e155", [](Refine_call& c) { c.options.loss = Loss::soft_l1; c.options.loss_scale = 1e155; },
       nullptr, same_as_squared_fit},
      {"Cauchy scale 1e-155", [](Refine_call& c) { c.options.loss = Loss::cauchy; c.options.loss_scale = 1e-155; },
       "loss_scale 1e-155 is too small for the cauchy loss: its weights underflow", nullptr},
      {"soft L1 scale 1e-155", [](Refine_call& c) { c.options.loss = Loss::soft_l1; c.options.loss_scale = 1e-155; },
       "is too small for the soft_l1 loss", nullptr},
      {"scene in units of 1e-310",
       [](Refine_call& c) {
         for (auto& X : c.points)
           for (double& v : X) v *= 1e-310;
         for (std::size_t k = 3; k < 6; ++k) c.start[k] *= 1e-310;
       },
       nullptr,
       [](const Refine_call&, const Pose_refine_result& r) {
         const Values fit = squared_fit(3);
         EXPECT_LT(largest_difference(Values(r.x.begin(), r.x.begin() + 3), Values(fit.begin(), fit.begin() + 3)), 1e-7);
         for (std::size_t k = 3; k < 6; ++k) EXPECT_NEAR(r.x[k] / 1e-310, fit[k], 1e-6);
         EXPECT_TRUE(r.summary.covariance.empty());  // its centre block would be 1e-620 times the variance
         EXPECT_NE(r.summary.covariance_reason.find("scene's units"), std::string::npos);
       }},
      {"scene in units of 1e300",
       [](Refine_call& c) {
         for (auto& X : c.points)
           for (double& v : X) v *= 1e300;
         for (std::size_t k = 3; k < 6; ++k) c.start[k] *= 1e300;
       },
       nullptr,
       [](const Refine_call&, const Pose_refine_result& r) {
         const Values fit = squared_fit(3);
         for (std::size_t k = 3; k < 6; ++k) EXPECT_NEAR(r.x[k] / 1e300, fit[k], 1e-6);
         EXPECT_NE(r.summary.covariance_reason.find("scene's units"), std::string::npos);
       }},
      {"all points, pixels and the start zero",
       [](Refine_call& c) {
         for (auto& X : c.points) X = {0.0, 0.0, 0.0};
         c.observations.assign(c.observations.size(), 0.0);
         c.start.assign(6, 0.0);
       },
       "point 0 lies at the start's camera centre", nullptr},
      {"angle-axis zero axis, angle 0.1",
       [](Refine_call& c) { c.options.rotation_code = 1; c.start = {0, 0, 0, 0.1, c.start[3], c.start[4], c.start[5]}; },
       "the start's angle-axis has an axis of length 0 with angle 0.1: it names no rotation", nullptr},
      {"angle-axis zero axis, angle 3",
       [](Refine_call& c) { c.options.rotation_code = 11; c.start = {0, 0, 0, 3, c.start[3], c.start[4], c.start[5]}; },
       "it names no rotation", nullptr},
      {"rotation vector 1e300", [huge](Refine_call& c) { c.start[0] = huge; }, "the start's rotation vector is too long",
       nullptr},
      {"quaternion of length 1e200",
       [](Refine_call& c) {
         const matrix<double> R = rot_vec_rad_to_rot_mat(Values(c.start.begin(), c.start.begin() + 3));
         Values q = rot_mat_to_quaternion(R);
         for (double& v : q) v *= 1e200;
         c.options.rotation_code = 2;
         c.start = {q[0], q[1], q[2], q[3], c.start[3], c.start[4], c.start[5]};
       },
       nullptr,
       [](const Refine_call& c, const Pose_refine_result& r) {
         const Values fit = squared_fit(3);
         const Values v = rot_mat_to_rot_vec_rad(quaternion_to_rot_mat(Values(r.x.begin(), r.x.begin() + 4)));
         EXPECT_LT(largest_difference(v, Values(fit.begin(), fit.begin() + 3)), 1e-7);
         EXPECT_GT(std::fabs(r.x[3]), 1e190) << "the start's length is kept";
         (void)c;
       }},
      {"start facing away",
       [](Refine_call& c) {
         // The start turned half about its camera x axis: every point behind it.
         const matrix<double> R = rot_vec_rad_to_rot_mat(Values(c.start.begin(), c.start.begin() + 3));
         matrix<double> flip(3, 3);
         flip[0][0] = 1.0;
         flip[1][1] = flip[2][2] = -1.0;
         const Values v = rot_mat_to_rot_vec_rad(R * flip);
         std::copy(v.begin(), v.end(), c.start.begin());
       },
       nullptr, faces_points_or_says_so},
      {"sigma 1e300", [huge](Refine_call& c) { c.options.sigma = huge; }, nullptr,
       [](const Refine_call&, const Pose_refine_result& r) {
         EXPECT_TRUE(r.summary.covariance.empty());
         EXPECT_NE(r.summary.covariance_reason.find("overflows"), std::string::npos) << r.summary.covariance_reason;
       }},
      {"bearing code, all observations zero",
       [](Refine_call& c) { c = noisy_call(3, 10); c.observations.assign(c.observations.size(), 0.0); },
       "the observations are all zero", nullptr},
  };
  for (const Hostile_refine& row : rows) {
    SCOPED_TRACE(row.name);
    Refine_call c = noisy_call(3);
    row.spoil(c);
    if (row.refusal) {
      const std::string detail = trel_test::detail_thrown([&] { run(c); });
      EXPECT_NE(detail.find(row.refusal), std::string::npos) << detail;
      continue;
    }
    const Pose_refine_result r = run(c);
    for (double v : r.x) EXPECT_TRUE(std::isfinite(v));
    row.check(c, r);
  }
}

// The same scene in units 1e4 and 1e6 times smaller keeps its covariance,
// scaled: the rotation block unchanged, the centre's by the units squared.
TEST(HostileRefinePose, CovarianceVerdictDoesNotDependOnUnits) {
  const Refine_call base = noisy_call(5);
  const Pose_refine_result reference = run(base);
  ASSERT_EQ(reference.summary.covariance.size(), 36u);
  for (double unit : {1e-4, 1e-6, 1e4}) {
    SCOPED_TRACE(unit);
    Refine_call c = base;
    for (auto& X : c.points)
      for (double& v : X) v *= unit;
    for (std::size_t k = 3; k < 6; ++k) c.start[k] *= unit;
    const Pose_refine_result r = run(c);
    ASSERT_EQ(r.summary.covariance.size(), 36u) << r.summary.covariance_reason;
    EXPECT_EQ(r.summary.covariance_rank, 6);
    EXPECT_NEAR(r.summary.condition_number / reference.summary.condition_number, 1.0, 1e-3);
    for (int a = 0; a < 6; ++a)
      for (int b = 0; b < 6; ++b) {
        const double factor = (a >= 3 ? unit : 1.0) * (b >= 3 ? unit : 1.0);
        const double expected = reference.summary.covariance[static_cast<std::size_t>(6 * a + b)] * factor;
        EXPECT_NEAR(r.summary.covariance[static_cast<std::size_t>(6 * a + b)], expected,
                    1e-4 * std::sqrt(reference.summary.covariance[static_cast<std::size_t>(7 * a)] *
                                     reference.summary.covariance[static_cast<std::size_t>(7 * b)]) * factor);
      }
  }
}

// rho' of every loss against central differences of rho, at scales whose
// squares over- or underflow, and the squared loss for scales far above the errors.
TEST(HostileRobustLoss, FormulasHoldAtExtremeScales) {
  for (Loss loss : {Loss::huber, Loss::cauchy, Loss::soft_l1}) {
    for (double c : {1e-150, 1e-3, 1.0, 1e9, 1e150, 1e200}) {
      for (double ratio : {1e-12, 0.5, 2.0, 1e6}) {
        SCOPED_TRACE(std::string(loss_name(loss)) + " c " + std::to_string(c) + " s/c^2 " + std::to_string(ratio));
        const double s = ratio * c * c;
        if (!(s > 0.0) || !std::isfinite(s)) continue;
        const double h = 1e-5 * s;
        const double derivative =
            (robust_loss_value(loss, s + h, c) - robust_loss_value(loss, s - h, c)) / (2.0 * h);
        EXPECT_NEAR(robust_loss_weight(loss, s, c), derivative, 1e-6 * std::fabs(derivative) + 1e-300);
        EXPECT_GT(robust_loss_value(loss, s, c), 0.0);
        EXPECT_LE(robust_loss_value(loss, s, c), s * (1 + 1e-15));
      }
      // s / c^2 overflows: rho stays finite, positive and below s, the weight 0 or tiny.
      if (c <= 1e-3) {
        const double rho = robust_loss_value(loss, 1e10, c);
        EXPECT_TRUE(std::isfinite(rho) && rho > 0.0 && rho < 1e10) << rho;
        EXPECT_LT(robust_loss_weight(loss, 1e10, c), 1e-5);
      }
      // Errors of a few pixels beside a scale of 1e9 and more: the squared loss.
      if (c >= 1e9) {
        EXPECT_NEAR(robust_loss_value(loss, 25.0, c), 25.0, 1e-12);
        EXPECT_NEAR(robust_loss_weight(loss, 25.0, c), 1.0, 1e-12);
      }
    }
  }
}

// The covariance stays honest with a robust loss: mean NEES near 6 (chi-square
// of 6 degrees of freedom) for the squared loss and for Cauchy with and
// without gross outliers. 300 draws: the mean's standard error is about 0.2.
TEST(HonestCovariance, MeanNeesIsNearSixWithAndWithoutOutliers) {
  struct Row {
    Loss loss;
    double outliers;
  };
  for (const Row& row : {Row{Loss::squared, 0.0}, Row{Loss::cauchy, 0.0}, Row{Loss::cauchy, 0.2}}) {
    SCOPED_TRACE(std::string(loss_name(row.loss)) + " " + std::to_string(row.outliers));
    int without = 0;
    const double nees = trel_bench::mean_nees(row.loss, 2.0, row.outliers, 60, 300, 5000u, without);
    EXPECT_NEAR(nees, 6.0, 0.8);
    EXPECT_EQ(without, 0);
  }
}

// ---- estimate_pose ------------------------------------------------------------

struct Estimate_call {
  matrix<double> K;
  Points points;
  Points observations;
  Pose_estimate_options options;
  Synthetic_scene scene;
};

Estimate_call estimate_call(unsigned seed, int n) {
  trel_test::Scene_options so;
  so.pixel_noise = 0.3;
  Estimate_call c;
  c.scene = trel_test::make_scene(seed, n, so);
  c.K = trel_test::intrinsics(c.scene.k11, c.scene.k13, c.scene.k23);
  c.points = c.scene.points_world;
  c.observations = c.scene.pixels;
  return c;
}

double rotation_error(const Pose_estimate_result& r, const Synthetic_scene& s) {
  const Values truth = s.rot_vec;
  const matrix<double> D = rot_vec_rad_to_rot_mat(truth) * r.R.transpose();
  const Values v = rot_mat_to_rot_vec_rad(D);
  return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

struct Hostile_estimate {
  const char* name;
  std::function<void(Estimate_call&)> spoil;
  const char* refusal;
  double centre_unit;  // the scene's centre is in these units
};

TEST(HostileEstimatePose, EachInputIsRefusedWithItsCauseOrAnsweredRight) {
  const Hostile_estimate rows[] = {
      {"3 distinct matches repeated 5 times",
       [](Estimate_call& c) {
         Points p, x;
         for (int k = 0; k < 15; ++k) {
           p.push_back(c.points[static_cast<std::size_t>(k % 3)]);
           x.push_back(c.observations[static_cast<std::size_t>(k % 3)]);
         }
         c.points = p;
         c.observations = x;
       },
       "needs at least 4 correspondences, got 3 distinct (15 with repeats)", 1.0},
      {"90 copies of one wrong match beside 10 others",
       [](Estimate_call& c) {
         c.points.resize(10);
         c.observations.resize(10);
         for (int k = 0; k < 90; ++k) {
           c.points.push_back({3.0, -2.0, 40.0});
           c.observations.push_back({17.0, 401.0});
         }
       },
       nullptr, 1.0},
      {"K times 1e-9 (the same camera)",
       [](Estimate_call& c) {
         for (unsigned r = 0; r < 3; ++r)
           for (unsigned k = 0; k < 3; ++k) c.K[r][k] *= 1e-9;
       },
       nullptr, 1.0},
      {"K with element (2,1)", [](Estimate_call& c) { c.K[1][0] = 2.0; },
       "K should have a pinhole's form [fx s cx; 0 fy cy; 0 0 1] (or a multiple of it), instead element (2,1) is 2",
       1.0},
      {"loss scale 1e300", [](Estimate_call& c) { c.options.loss_scale = 1e300; }, nullptr, 1.0},
      {"threshold 1e300", [](Estimate_call& c) { c.options.threshold = 1e300; }, nullptr, 1.0},
      {"scene in units of 1e-300",
       [](Estimate_call& c) {
         for (auto& X : c.points)
           for (double& v : X) v *= 1e300;
       },
       nullptr, 1e300},
      {"bearing vectors of length 1e200",
       [](Estimate_call& c) {
         c.options.bearing = true;
         c.observations.clear();
         for (const auto& b : c.scene.bearing_vectors) c.observations.push_back({b[0] * 1e200, b[1] * 1e200, b[2] * 1e200});
       },
       nullptr, 1.0},
  };
  for (const Hostile_estimate& row : rows) {
    SCOPED_TRACE(row.name);
    Estimate_call c = estimate_call(7, 40);
    row.spoil(c);
    if (row.refusal) {
      const std::string detail =
          trel_test::detail_thrown([&] { estimate_pose(c.K, c.points, c.observations, c.options); });
      EXPECT_NE(detail.find(row.refusal), std::string::npos) << detail;
      continue;
    }
    const Pose_estimate_result r = estimate_pose(c.K, c.points, c.observations, c.options);
    EXPECT_LT(rotation_error(r, c.scene), 0.01);
    for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(r.centre[k] / row.centre_unit, c.scene.centre[k], 0.05);
    EXPECT_TRUE(std::isfinite(r.summary.final_error));
    EXPECT_TRUE(std::isfinite(r.summary.final_rms));
    EXPECT_TRUE(r.summary.faces_points);
  }
}

TEST(HostileEstimatePose, LongSearchStopsWhenInterrupted) {
  Estimate_call c = estimate_call(9, 30);
  c.options.min_iterations = 2147483000;
  c.options.max_iterations = 2147483600;
  std::atomic<int> asked{0};
  c.options.interrupted = [&asked] { return ++asked >= 3; };
  const std::string detail = trel_test::detail_thrown([&] { estimate_pose(c.K, c.points, c.observations, c.options); });
  EXPECT_NE(detail.find("estimate_pose was interrupted after 3072 samples"), std::string::npos) << detail;
  EXPECT_EQ(asked.load(), 3);
}

}  // namespace
