// Whole refinements of a camera pose with the Gauss-Newton solver, by finite
// differences and by the analytic gradient functions, for every rotation code.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "camera_pose_refine/camera_pose_refine.h"
#include "camera_pose_refine/camera_position_grad_funcs.h"
#include "camera_pose_refine/camera_position_hybrid_grad_funcs.h"
#include "camera_pose_refine/camera_position_opt_func.h"
#include "tests/plugin/rotation_code_list.h"
#include "camera_pose_refine/framework_refine.h"
#include "tests/synthetic_scene.h"
#include "trel_opt/linear_taylor_solver.h"
#include "trel_pose/pose_refinement.h"

namespace {

using namespace trel;

// Noise-free data: the solver should land on the truth to well below a
// micro-radian / micro-unit once converged.
constexpr double kPoseTol = 1e-7;
// A refinement converges within this many steps from a few degrees off.
constexpr int kMaxIters = 40;

using trel_test::intrinsics;

bool is_quaternion_code(int code) { return trel_test::rotation_code(code).form == trel::Rotation_form::quaternion; }
bool is_ang_axis_code(int code) { return trel_test::rotation_code(code).form == trel::Rotation_form::ang_axis; }

std::vector<double> rotation_values(const trel_test::Synthetic_scene& s, int code) {
  if (is_quaternion_code(code)) return s.quaternion;
  if (is_ang_axis_code(code)) return s.ang_axis;
  return s.rot_vec;
}

// Rotation matrix of the first values of x, computed independently of the code under test.
cv::Matx33d rotation_of(const std::vector<double>& x, int code) {
  std::vector<double> r(3);
  if (is_quaternion_code(code)) {
    const double vn = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
    const double angle = 2.0 * std::atan2(vn, x[3]);
    for (int k = 0; k < 3; ++k) r[k] = vn > 0.0 ? x[k] / vn * angle : 0.0;
  } else if (is_ang_axis_code(code)) {
    const double an = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
    for (int k = 0; k < 3; ++k) r[k] = x[k] / an * x[3];
  } else {
    r = {x[0], x[1], x[2]};
  }
  trel_test::Synthetic_scene tmp;
  trel_test::set_pose(tmp, r, {0, 0, 0});
  return tmp.rot_mat;
}

struct Problem {
  trel_test::Synthetic_scene truth;
  std::vector<double> x0;
  std::vector<double> target;
  matrix<double> K;
};

// noise: pixel noise in pixels; the bearing-vector codes get camera-frame noise of
// the same size relative to a depth of about 8.
Problem make_problem(unsigned seed, int code, int num_points = 50, double noise = 0.0, double max_angle = 2.5) {
  Problem p;
  trel_test::Scene_options options;
  options.max_angle = max_angle;
  options.pixel_noise = noise;
  options.bearing_noise = noise * 0.01;
  p.truth = trel_test::make_scene(seed, num_points, options);
  const int rows = camera_rotation_type::observation_rows(code);
  const int reps = camera_rotation_type::repetitions(code);
  p.K = rows == 3 ? intrinsics(1.0, 0.0, 0.0) : intrinsics(p.truth.k11, p.truth.k13, p.truth.k23);
  for (int j = 0; j < reps; ++j)
    for (int i = 0; i < num_points; ++i)
      for (int m = 0; m < rows; ++m)
        p.target.push_back(rows == 3 ? p.truth.points_in_cam[i][m] : p.truth.pixels[i][m]);
  // Start about 3 degrees and 3 % of the mean depth (8) away from the truth.
  std::mt19937 rng(seed + 1000u);
  const std::vector<double> dr = trel_test::random_unit_vector(rng), dt = trel_test::random_unit_vector(rng);
  trel_test::Synthetic_scene start;
  trel_test::set_pose(start,
                      {p.truth.rot_vec[0] + 0.05 * dr[0], p.truth.rot_vec[1] + 0.05 * dr[1],
                       p.truth.rot_vec[2] + 0.05 * dr[2]},
                      {p.truth.centre[0] + 0.24 * dt[0], p.truth.centre[1] + 0.24 * dt[1],
                       p.truth.centre[2] + 0.24 * dt[2]});
  p.x0 = rotation_values(start, code);
  p.x0.insert(p.x0.end(), start.centre.begin(), start.centre.end());
  return p;
}

Grad_func* make_grad_func(int code, Opt_func* base, const std::vector<std::vector<double>>& points,
                          const matrix<double>& K) {
  return trel_test::rotation_code(code).make_grad_func(base, points, K).release();
}

struct Run_options {
  float min_x_step = 0.0f;
  float min_y_step = -10000.0f;
  std::vector<double> weights;  // empty: all 1
  Solve_summary* summary = nullptr;
};

// Runs the solver as the plug-in configures it.
std::vector<double> refine(const Problem& p, int code, bool analytic, int max_iters,
                           const Run_options& options = Run_options()) {
  const int nrot = camera_rotation_type::num_rotation_values(code);
  Linear_taylor_solver solver;
  solver.set_num_dimensions(nrot + 3);
  solver.set_num_equations(static_cast<int>(p.target.size()));
  solver.set_max_iters(max_iters);
  solver.set_min_x_step(options.min_x_step);
  solver.set_min_y_step(options.min_y_step);
  Camera_position_opt_func* f = new Camera_position_opt_func(p.truth.points_world, p.K, code);
  if (analytic) {
    Grad_func* g = make_grad_func(code, f, p.truth.points_world, p.K);
    if (g == nullptr) {
      delete f;
      ADD_FAILURE() << "no gradient function for code " << code;
      return p.x0;
    }
    if (!options.weights.empty()) g->set_weights(options.weights);
    solver.set_grad_funcs({g});
  } else {
    // The plug-in's own steps for this start.
    Pose_refine_arguments args;
    args.nrot = nrot;
    args.x = p.x0;
    args.points = p.truth.points_world;
    solver.set_finite_difference_steps({args.finite_difference_steps()});
    if (!options.weights.empty()) f->set_weights(options.weights);
    solver.set_funcs({f});
  }
  const std::vector<double> x = solver.optimise(p.x0, p.target);
  if (options.summary != nullptr) *options.summary = solver.get_summary();
  return x;
}

double pose_error(const Problem& p, const std::vector<double>& x, int code) {
  const int nrot = camera_rotation_type::num_rotation_values(code);
  const double rot = cv::norm(rotation_of(x, code) - p.truth.rot_mat, cv::NORM_INF);
  double pos = 0.0;
  for (int k = 0; k < 3; ++k) pos = std::max(pos, std::fabs(x[nrot + k] - p.truth.centre[k]));
  return std::isfinite(rot + pos) ? std::max(rot, pos) : 1e300;
}

// The smallest number of iterations after which the pose is within kPoseTol, or kMaxIters + 1.
int iterations_to_converge(const Problem& p, int code, bool analytic) {
  for (int iters = 1; iters <= kMaxIters; ++iters)
    if (pose_error(p, refine(p, code, analytic, iters), code) < kPoseTol) return iters;
  return kMaxIters + 1;
}

std::string code_name(const ::testing::TestParamInfo<int>& info) {
  return info.param < 0 ? "Hybrid" + std::to_string(-info.param) : "Code" + std::to_string(info.param);
}

class CameraPoseRefinement : public ::testing::TestWithParam<int> {};

TEST_P(CameraPoseRefinement, FiniteDifferencesRecoverTheTruePose) {
  const int code = GetParam();
  for (unsigned seed : {11u, 12u, 13u}) {
    const Problem p = make_problem(seed, code);
    const std::vector<double> x = refine(p, code, false, kMaxIters);
    EXPECT_LT(pose_error(p, x, code), kPoseTol) << "code " << code << " seed " << seed;
    // Negative control: the start is far from the truth.
    EXPECT_GT(pose_error(p, p.x0, code), 1e-2);
  }
}

class CameraPoseRefinementAnalytic : public ::testing::TestWithParam<int> {};

// Gauss-Newton with exact derivatives on noise-free data converges quadratically:
// well within the plug-in's default of 10 steps from a few degrees off.
TEST_P(CameraPoseRefinementAnalytic, ConvergesWithinTheDefaultSteps) {
  const int code = GetParam();
  for (unsigned seed : {21u, 22u, 23u}) {
    const Problem p = make_problem(seed, code);
    EXPECT_LE(iterations_to_converge(p, code, true), 10) << "code " << code << " seed " << seed;
  }
}

// ---- noisy data: every code finds the same least-squares pose -------------------

const std::vector<int> kAllCodes = trel_test::all_rotation_codes();

// Angle in degrees between the rotations of two search vectors:
// |R1 - R2|_F = 2 sqrt(2) sin(angle / 2), accurate for small angles.
double angle_between(const std::vector<double>& x1, int code1, const std::vector<double>& x2, int code2) {
  const double f = cv::norm(rotation_of(x1, code1) - rotation_of(x2, code2), cv::NORM_L2);
  return 2.0 * std::asin(std::min(1.0, f / (2.0 * std::sqrt(2.0)))) * 180.0 / M_PI;
}

double relative_position_error(const std::vector<double>& x1, int code1, const std::vector<double>& x2, int code2) {
  const int n1 = camera_rotation_type::num_rotation_values(code1), n2 = camera_rotation_type::num_rotation_values(code2);
  double diff = 0.0, size = 0.0;
  for (int k = 0; k < 3; ++k) {
    diff = std::max(diff, std::fabs(x1[n1 + k] - x2[n2 + k]));
    size = std::max(size, std::fabs(x2[n2 + k]));
  }
  return diff / std::max(size, 1.0);
}

// Root mean square of the unweighted residuals.
double rms(const Problem& p, const std::vector<double>& x, int code) {
  const std::vector<double> f = Camera_position_opt_func(p.truth.points_world, p.K, code)(x);
  double sum = 0.0;
  for (std::size_t k = 0; k < f.size(); ++k) sum += (f[k] - p.target[k]) * (f[k] - p.target[k]);
  return std::sqrt(sum / static_cast<double>(f.size()));
}

// Converged: the step that would change the vector by less than 1e-12 is not taken.
Run_options tight() {
  Run_options o;
  o.min_x_step = 1e-12f;
  return o;
}

// One noisy scene (0.5 px), one start 3 degrees off: the pixel codes all reach the
// pose of code 0 and the bearing-vector codes that of code 10, analytically and by
// finite differences. Within the default 10 steps the RMS is that of the reference.
TEST(NoisyPoseRefinement, EveryCodeAndBothModesReachTheSameLeastSquaresPose) {
  const unsigned seed = 31;
  const Problem pixels = make_problem(seed, 0, 60, 0.5), bearings = make_problem(seed, 10, 60, 0.5);
  const std::vector<double> pixel_ref = refine(pixels, 0, true, 60, tight());
  const std::vector<double> bearing_ref = refine(bearings, 10, true, 60, tight());
  EXPECT_GT(rms(pixels, pixel_ref, 0), 0.3) << "the noise must be felt";
  for (const int code : kAllCodes) {
    const bool bearing = camera_rotation_type::observation_rows(code) == 3;
    const int ref_code = bearing ? 10 : 0;
    const std::vector<double>& ref = bearing ? bearing_ref : pixel_ref;
    const Problem p = make_problem(seed, code, 60, 0.5);
    for (const bool analytic : {true, false}) {
      const std::vector<double> x = refine(p, code, analytic, 60, tight());
      EXPECT_LT(angle_between(x, code, ref, ref_code), 1e-6) << "code " << code << " analytic " << analytic;
      EXPECT_LT(relative_position_error(x, code, ref, ref_code), analytic ? 1e-9 : 1e-7)
          << "code " << code << " analytic " << analytic;
    }
    const double ref_rms = rms(make_problem(seed, ref_code, 60, 0.5), ref, ref_code);
    EXPECT_LT(rms(p, refine(p, code, true, 10), code), 1.01 * ref_rms) << "code " << code;
  }
}

// 20 of 100 points are gross outliers. With weight 0 on their equations the fit
// is the fit of the 80 inliers alone.
TEST(NoisyPoseRefinement, ZeroWeightsGiveTheInlierFit) {
  for (const int code : {0, 2, 3, -1, -3}) {
    Problem all = make_problem(41, code, 100, 0.5);
    const int reps = camera_rotation_type::repetitions(code);
    std::vector<double> weights(all.target.size(), 1.0);
    Problem inliers = all;
    inliers.truth.points_world.clear();
    inliers.target.clear();
    for (int j = 0; j < reps; ++j)
      for (int i = 0; i < 100; ++i) {
        const std::size_t k = static_cast<std::size_t>(j * 200 + 2 * i);
        if (i % 5 == 0) {
          all.target[k] += 25.0 + i;
          all.target[k + 1] -= 40.0 - i * 0.1;
          weights[k] = weights[k + 1] = 0.0;
        } else {
          if (j == 0) inliers.truth.points_world.push_back(all.truth.points_world[static_cast<std::size_t>(i)]);
          inliers.target.insert(inliers.target.end(), {all.target[k], all.target[k + 1]});
        }
      }
    Run_options weighted = tight();
    weighted.weights = weights;
    const std::vector<double> x = refine(all, code, true, 60, weighted);
    const std::vector<double> expected = refine(inliers, code, true, 60, tight());
    for (std::size_t d = 0; d < x.size(); ++d) EXPECT_NEAR(x[d], expected[d], 1e-9) << "code " << code << " value " << d;
    const std::vector<double> unweighted = refine(all, code, true, 60, tight());
    EXPECT_GT(angle_between(unweighted, code, expected, code), 1e-3) << "negative control, code " << code;
  }
}

// The identity is the most common start: the codes refine from it, the hybrids
// through conversion Jacobians taken at the zero rotation. (An angle-axis search
// vector at angle 0 can turn only about its given axis in the first step, and
// its pixel codes 1 and -3 then need a start at a non-zero angle.)
TEST(NoisyPoseRefinement, EveryCodeRefinesFromTheIdentity) {
  for (const int code : {0, 2, 3, 10, 11, 12, -1, -2}) {
    // True rotations of 0.2 to 0.4 rad: from the identity every point stays in front.
    Problem p = make_problem(51, code, 40, 0.0, 0.4);
    const int nrot = camera_rotation_type::num_rotation_values(code);
    std::vector<double> identity(static_cast<std::size_t>(nrot), 0.0);
    if (nrot == 4) identity[is_ang_axis_code(code) ? 2 : 3] = 1.0;  // axis (0, 0, 1) angle 0, or w = 1
    std::copy(identity.begin(), identity.end(), p.x0.begin());
    EXPECT_GT(pose_error(p, p.x0, code), 0.1);
    EXPECT_LT(pose_error(p, refine(p, code, true, kMaxIters), code), kPoseTol) << "code " << code;
  }
}

// The summary of a run that ends by each rule, with errors recomputed here.
TEST(NoisyPoseRefinement, SummaryOfEachStopRule) {
  const Problem p = make_problem(61, 0, 30, 0.5);
  std::vector<double> weights(p.target.size());
  for (std::size_t k = 0; k < weights.size(); ++k) weights[k] = 0.5 + 0.1 * static_cast<double>(k % 4);
  const auto weighted_error = [&](const std::vector<double>& x) {
    const std::vector<double> f = Camera_position_opt_func(p.truth.points_world, p.K, 0)(x);
    double sum = 0.0;
    for (std::size_t k = 0; k < f.size(); ++k) sum += std::pow(weights[k] * (f[k] - p.target[k]), 2);
    return sum;
  };
  struct Rule {
    int max_iters;
    float min_x_step, min_y_step;
    Stop_reason reason;
  };
  for (const Rule rule : {Rule{4, 0.0f, -10000.0f, Stop_reason::max_iters},
                          Rule{50, 1e-9f, -10000.0f, Stop_reason::min_x_step},
                          Rule{50, 0.0f, 1e-6f, Stop_reason::min_y_step}}) {
    Solve_summary summary;
    Run_options o;
    o.min_x_step = rule.min_x_step;
    o.min_y_step = rule.min_y_step;
    o.weights = weights;
    o.summary = &summary;
    const std::vector<double> x = refine(p, 0, true, rule.max_iters, o);
    SCOPED_TRACE(stop_reason_name(rule.reason));
    EXPECT_EQ(summary.stop_reason, rule.reason);
    if (rule.reason == Stop_reason::max_iters) {
      EXPECT_EQ(summary.iterations, 4);
    }
    if (rule.reason == Stop_reason::min_x_step) {
      EXPECT_EQ(summary.returned_iteration, summary.iterations - 1);
    }
    EXPECT_GE(summary.returned_iteration, 1);
    EXPECT_LE(summary.returned_iteration, summary.iterations);
    EXPECT_NEAR(summary.initial_error, weighted_error(p.x0), 1e-9 * summary.initial_error);
    EXPECT_NEAR(summary.final_error, weighted_error(x), 1e-9 * summary.final_error);
    EXPECT_LT(summary.final_error, 0.01 * summary.initial_error);
  }
}

// The solver driven directly with the fixed steps of the old table (0.0314
// for rotation-vector and angle-axis values, 0.314 for quaternion values, 0.01
// for positions), 100 steps, min_y_step -10000, from 0.1 rad and 0.2 units
// off. Such steps leave a truncation error of about 1e-4 in the differences,
// which the rank rule must not mistake for a direction the cost depends on
// (the length of an angle-axis axis): seeds 5 and 9 sent codes 1 and -3 far
// along it.
class FixedStepRefinement : public ::testing::TestWithParam<int> {};

TEST_P(FixedStepRefinement, ReachesThePose) {
  const int code = GetParam();
  const int nrot = camera_rotation_type::num_rotation_values(code);
  for (unsigned seed : {5u, 9u, 16u}) {
    Problem p = make_problem(seed, code);
    std::mt19937 rng(seed + 1000u);
    const std::vector<double> dr = trel_test::random_unit_vector(rng), dt = trel_test::random_unit_vector(rng);
    trel_test::Synthetic_scene start;
    trel_test::set_pose(start, {p.truth.rot_vec[0] + 0.1 * dr[0], p.truth.rot_vec[1] + 0.1 * dr[1],
                                p.truth.rot_vec[2] + 0.1 * dr[2]},
                        {p.truth.centre[0] + 0.2 * dt[0], p.truth.centre[1] + 0.2 * dt[1],
                         p.truth.centre[2] + 0.2 * dt[2]});
    p.x0 = rotation_values(start, code);
    p.x0.insert(p.x0.end(), start.centre.begin(), start.centre.end());
    std::vector<double> steps(static_cast<std::size_t>(nrot), is_quaternion_code(code) ? 0.314 : 0.0314);
    steps.insert(steps.end(), 3, 0.01);

    Linear_taylor_solver solver;
    solver.set_num_dimensions(nrot + 3);
    solver.set_num_equations(static_cast<int>(p.target.size()));
    solver.set_max_iters(100);
    solver.set_min_y_step(-10000.0f);
    solver.set_finite_difference_steps({steps});
    solver.set_funcs({new Camera_position_opt_func(p.truth.points_world, p.K, code)});
    const std::vector<double> x = solver.optimise(p.x0, p.target);

    SCOPED_TRACE("code " + std::to_string(code) + " seed " + std::to_string(seed));
    EXPECT_GT(angle_between(p.x0, code, rotation_values(p.truth, code), code), 3.0);  // degrees: a real start
    EXPECT_LT(angle_between(x, code, rotation_values(p.truth, code), code) * M_PI / 180.0, 1e-9);
    std::vector<double> truth = rotation_values(p.truth, code);
    truth.insert(truth.end(), p.truth.centre.begin(), p.truth.centre.end());
    EXPECT_LT(relative_position_error(x, code, truth, code), 1e-9);
  }
}

INSTANTIATE_TEST_SUITE_P(AllCodes, FixedStepRefinement, ::testing::ValuesIn(trel_test::all_rotation_codes()),
                         code_name);
INSTANTIATE_TEST_SUITE_P(AllCodes, CameraPoseRefinement, ::testing::ValuesIn(trel_test::all_rotation_codes()),
                         code_name);
INSTANTIATE_TEST_SUITE_P(AllCodes, CameraPoseRefinementAnalytic,
                         ::testing::ValuesIn(trel_test::all_rotation_codes()), code_name);

}  // namespace

// The plug-in's own path (refine_pose_by_framework, its 10 steps and
// stop rules) against the pose kernel's minimum, an independent solver: on a
// well-conditioned noisy scene every code lands on the same pose to 1e-9, so
// the normal-equation steps take the framework where the minimum-norm steps did.
TEST(NoisyPoseRefinement, FrameworkPathReachesTheKernelMinimumForEveryCode) {
  for (const int code : kAllCodes) {
    const Problem p = make_problem(43, code, 80, 0.5);
    const int rows = camera_rotation_type::observation_rows(code);
    const std::vector<double> observations(p.target.begin(), p.target.begin() + rows * 80);
    Pose_refine_options kernel;
    kernel.rotation_code = code;
    kernel.max_iters = 50;
    kernel.step_tolerance = 0.0;
    kernel.covariance = false;
    Pose_refine_options framework;
    framework.rotation_code = code;
    framework.covariance = false;
    const std::vector<double> minimum = refine_pose(p.K, p.truth.points_world, observations, p.x0, kernel).x;
    const Pose_refine_result r =
        trel::refine_pose_by_framework(p.K, p.truth.points_world, observations, p.x0, framework);
    EXPECT_EQ(r.summary.iterations, 10) << "code " << code;
    EXPECT_LT(angle_between(r.x, code, minimum, code) * M_PI / 180.0, 1e-9) << "code " << code;
    EXPECT_LT(relative_position_error(r.x, code, minimum, code), 1e-9) << "code " << code;
  }
}
