// Whole refinements of a camera pose with the Gauss-Newton solver, by finite
// differences and by the analytic gradient functions, for every rotation code.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "camera_pose_refine/camera_position_grad_funcs.h"
#include "camera_pose_refine/camera_position_hybrid_grad_funcs.h"
#include "camera_pose_refine/camera_position_opt_func.h"
#include "tests/synthetic_scene.h"
#include "trel_opt/linear_taylor_solver.h"

namespace {

using namespace trel;

// Noise-free data: the solver should land on the truth to well below a
// micro-radian / micro-unit once converged.
constexpr double kPoseTol = 1e-7;
// A refinement converges within this many steps from a few degrees off.
constexpr int kMaxIters = 40;

using trel_test::intrinsics;

bool is_quaternion_code(int code) { return code == 2 || code == 3 || code == 12 || code == -1; }
bool is_ang_axis_code(int code) { return code == 1 || code == 11 || code == -3; }

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

Problem make_problem(unsigned seed, int code, int num_points = 50) {
  Problem p;
  p.truth = trel_test::make_scene(seed, num_points);
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
  switch (code) {
    case 0: return new Camera_position_grad_func_aau(base, points, K);
    case 1: return new Camera_position_grad_func_aan(base, points, K);
    case 2: return new Camera_position_grad_func_qu(base, points, K);
    case 3: return new Camera_position_grad_func_qn(base, points, K);
    case 10: return new Camera_position_grad_func_aau_bv(base, points, K);
    case 11: return new Camera_position_grad_func_aan_bv(base, points, K);
    case 12: return new Camera_position_grad_func_qu_bv(base, points, K);
    case -1: return new Camera_position_grad_func_qu_aau_aan(points, K, base);
    case -2: return new Camera_position_grad_func_aau_qu_aan(points, K, base);
    case -3: return new Camera_position_grad_func_aan_qu_aau(points, K, base);
  }
  return nullptr;
}

// Runs the solver as the plug-in configures it.
std::vector<double> refine(const Problem& p, int code, bool analytic, int max_iters) {
  const int nrot = camera_rotation_type::num_rotation_values(code);
  Linear_taylor_solver solver;
  solver.set_num_dimensions(nrot + 3);
  solver.set_num_equations(static_cast<int>(p.target.size()));
  solver.set_max_iters(max_iters);
  solver.set_min_x_step(0.0f);
  solver.set_min_y_step(-10000.0f);
  Camera_position_opt_func* f = new Camera_position_opt_func(p.truth.points_world, p.K, code);
  if (analytic) {
    Grad_func* g = make_grad_func(code, f, p.truth.points_world, p.K);
    if (g == nullptr) {
      delete f;
      ADD_FAILURE() << "no gradient function for code " << code;
      return p.x0;
    }
    solver.set_grad_funcs({g});
  } else {
    std::vector<double> steps(static_cast<std::size_t>(nrot), is_quaternion_code(code) ? 0.314 : 0.0314);
    steps.insert(steps.end(), 3, 0.01);
    solver.set_finite_difference_steps({steps});
    solver.set_funcs({f});
  }
  return solver.optimise(p.x0, p.target);
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

TEST_P(CameraPoseRefinementAnalytic, ConvergesNoSlowerThanFiniteDifferences) {
  const int code = GetParam();
  for (unsigned seed : {21u, 22u, 23u}) {
    const Problem p = make_problem(seed, code);
    const int analytic = iterations_to_converge(p, code, true);
    const int numeric = iterations_to_converge(p, code, false);
    EXPECT_LE(analytic, kMaxIters) << "code " << code << " seed " << seed;
    EXPECT_LE(analytic, numeric) << "code " << code << " seed " << seed;
  }
}

INSTANTIATE_TEST_SUITE_P(AllCodes, CameraPoseRefinement, ::testing::Values(0, 1, 2, 3, 10, 11, 12, -1, -2, -3),
                         code_name);
INSTANTIATE_TEST_SUITE_P(AllCodes, CameraPoseRefinementAnalytic,
                         ::testing::Values(0, 1, 2, 3, 10, 11, 12, -1, -2, -3), code_name);

}  // namespace
