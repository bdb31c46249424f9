#include "trel_opt/linear_taylor_solver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include "camera_pose_refine/camera_position_grad_funcs.h"
#include "trel_tools/exception_l.h"
#include "tests/exception_text.h"
#include "tests/synthetic_scene.h"

namespace {

// SVD solves of these small well-conditioned systems agree to a few ulps of the values involved.
constexpr double kSolveTol = 1e-10;
// Forward differences of a linear map are exact up to cancellation in (f(x + h) - f(x)) / h.
constexpr double kForwardDiffTol = 1e-8;

// f(x) = A x, counting its evaluations.
class Linear_func : public trel::Opt_func {
public:
  explicit Linear_func(cv::Mat a) : a_(std::move(a)) {}
  std::vector<double> operator()(const std::vector<double>& x) const override {
    ++evaluations;
    cv::Mat y = a_ * cv::Mat(x);
    return std::vector<double>(y.begin<double>(), y.end<double>());
  }
  const cv::Mat& a() const { return a_; }
  mutable int evaluations = 0;

private:
  cv::Mat a_;
};

// The Jacobian of a Linear_func, scaled by `scale` (1 is exact; 2 halves every step).
class Linear_grad : public trel::Grad_func {
public:
  explicit Linear_grad(Linear_func* base, double scale = 1.0) : trel::Grad_func(base), base_(base), scale_(scale) {}
  int operator()(const std::vector<double>&, cv::Mat& jacobian, int row0) const override {
    const cv::Mat& a = base_->a();
    cv::Mat scaled = a * scale_;
    scaled.copyTo(jacobian.rowRange(row0, row0 + a.rows));
    return a.rows;
  }

private:
  const Linear_func* base_;
  double scale_;
};

cv::Mat well_conditioned_a() { return (cv::Mat_<double>(4, 3) << 2, 1, 0, 0, 3, 1, 1, 0, 4, 1, 1, 1); }
const std::vector<double> kTarget{1.0, -2.0, 3.0, 0.5};

std::vector<double> least_squares(const cv::Mat& a, const std::vector<double>& b) {
  cv::Mat x;
  cv::solve(a, cv::Mat(b), x, cv::DECOMP_SVD);
  return std::vector<double>(x.begin<double>(), x.end<double>());
}

double squared_residual(const cv::Mat& a, const std::vector<double>& x, const std::vector<double>& b) {
  cv::Mat r = a * cv::Mat(x) - cv::Mat(b);
  return r.dot(r);
}

void configure(trel::Linear_taylor_solver& s, int dims, int eqs) {
  s.set_num_dimensions(dims);
  s.set_num_equations(eqs);
}

using trel_test::split_lines;

std::string error_text(trel::Linear_taylor_solver& s, const std::vector<double>& x0, const std::vector<double>& target,
                       int* depth = nullptr) {
  try {
    s.optimise(x0, target);
  } catch (const trel::exception_l& e) {
    if (depth != nullptr) *depth = e.depth();
    return e.what();
  }
  return "no exception";
}

TEST(LinearTaylorSolver, OneAnalyticStepReachesLeastSquaresSolution) {
  trel::Linear_taylor_solver s;
  configure(s, 3, 4);
  Linear_func* f = new Linear_func(well_conditioned_a());
  s.set_grad_funcs({new Linear_grad(f)});
  const std::vector<double> x = s.optimise({5.0, -7.0, 0.25}, kTarget);
  const std::vector<double> expected = least_squares(well_conditioned_a(), kTarget);
  for (int d = 0; d < 3; ++d) EXPECT_NEAR(x[d], expected[d], kSolveTol) << d;
  // One evaluation at x0, one at the new point: the cache saves the rest.
  EXPECT_EQ(f->evaluations, 2);
}

TEST(LinearTaylorSolver, FiniteDifferencesGiveTheSameSolutionAndError) {
  trel::Linear_taylor_solver s;
  configure(s, 3, 4);
  Linear_func* f = new Linear_func(well_conditioned_a());
  s.set_funcs({f});
  s.set_finite_difference_steps({{0.1, 0.2, 0.05}});
  std::vector<double> x{5.0, -7.0, 0.25};
  double error = -1.0;
  s.reset();
  s.inner_optimise(x, kTarget, x, error, 0);
  const std::vector<double> expected = least_squares(well_conditioned_a(), kTarget);
  for (int d = 0; d < 3; ++d) EXPECT_NEAR(x[d], expected[d], kForwardDiffTol) << d;
  EXPECT_NEAR(error, squared_residual(well_conditioned_a(), expected, kTarget), kForwardDiffTol);
  // x0, four shifted points per parameter (central differences at h and h / 2),
  // the new point.
  EXPECT_EQ(f->evaluations, 14);
}

TEST(LinearTaylorSolver, RankDeficientProblemLeavesFreeParameterUnchanged) {
  // Nothing depends on x[1]: the minimum-norm update of it is zero.
  const cv::Mat a = (cv::Mat_<double>(3, 3) << 1, 0, 2, 0, 0, 1, 3, 0, 1);
  for (bool analytic : {true, false}) {
    trel::Linear_taylor_solver s;
    configure(s, 3, 3);
    Linear_func* f = new Linear_func(a.clone());
    if (analytic) {
      s.set_grad_funcs({new Linear_grad(f)});
    } else {
      s.set_funcs({f});
      s.set_finite_difference_steps({{0.01, 0.01, 0.01}});
    }
    const std::vector<double> x = s.optimise({0.5, 42.0, -1.0}, {1.0, 2.0, 3.0});
    EXPECT_EQ(x[1], 42.0) << analytic;
    const std::vector<double> expected = least_squares(a, {1.0, 2.0, 3.0});
    EXPECT_NEAR(x[0], expected[0], kForwardDiffTol);
    EXPECT_NEAR(x[2], expected[2], kForwardDiffTol);
  }
}

TEST(LinearTaylorSolver, WeightsScaleResidualsRowsAndTheError) {
  // x = 0 with weight 1 and x = 1 with weight 3: the weighted solution is 9/10;
  // the reported error is the weighted 0.81 + 9 * 0.01, the quantity minimised.
  trel::Linear_taylor_solver s;
  configure(s, 1, 2);
  Linear_func* f = new Linear_func((cv::Mat_<double>(2, 1) << 1, 1));
  Linear_grad* g = new Linear_grad(f);
  g->set_weights({1.0, 3.0});
  s.set_grad_funcs({g});
  std::vector<double> x{0.3};
  double error = 0.0;
  s.reset();
  s.inner_optimise(x, {0.0, 1.0}, x, error, 0);
  EXPECT_NEAR(x[0], 0.9, kSolveTol);
  EXPECT_NEAR(error, 0.9, kSolveTol);
}

TEST(LinearTaylorSolver, MixedFunctionsStackGradientRowsFirst) {
  trel::Linear_taylor_solver s;
  configure(s, 2, 4);
  Linear_func* analytic = new Linear_func((cv::Mat_<double>(2, 2) << 1, 0, 0, 1));
  Linear_func* numeric = new Linear_func((cv::Mat_<double>(2, 2) << 1, 1, 1, -1));
  s.set_grad_funcs({new Linear_grad(analytic)});
  s.set_funcs({numeric});
  s.set_finite_difference_steps({{0.1, 0.1}});
  // Consistent target: x = (1, 2) gives (1, 2) and (3, -1).
  const std::vector<double> x = s.optimise({0.0, 0.0}, {1.0, 2.0, 3.0, -1.0});
  EXPECT_NEAR(x[0], 1.0, kForwardDiffTol);
  EXPECT_NEAR(x[1], 2.0, kForwardDiffTol);
}

TEST(LinearTaylorSolver, DecreasingStepSizeDampsLaterSteps) {
  // A Jacobian twice the true one makes each step go half of the way, then
  // damping by 2/3 and 1/2 leaves (1 - 1/2)(1 - 1/3)(1 - 1/4) of the distance.
  trel::Linear_taylor_solver s;
  configure(s, 1, 1);
  s.set_max_iters(3);
  s.set_decreasing_step_size(true);
  Linear_func* f = new Linear_func((cv::Mat_<double>(1, 1) << 1));
  s.set_grad_funcs({new Linear_grad(f, 2.0)});
  const std::vector<double> x = s.optimise({0.0}, {8.0});
  EXPECT_NEAR(x[0], 8.0 - 8.0 * 0.5 * (2.0 / 3.0) * 0.75, kSolveTol);
  // x0 once, then once per step.
  EXPECT_EQ(f->evaluations, 4);

  trel::Linear_taylor_solver undamped;
  configure(undamped, 1, 1);
  undamped.set_max_iters(3);
  undamped.set_grad_funcs({new Linear_grad(new Linear_func((cv::Mat_<double>(1, 1) << 1)), 2.0)});
  EXPECT_NEAR(undamped.optimise({0.0}, {8.0})[0], 8.0 - 8.0 * 0.125, kSolveTol);
}

TEST(LinearTaylorSolver, EquationCountErrorReachesCallerAtDepthTwo) {
  trel::Linear_taylor_solver s;
  configure(s, 3, 5);
  s.set_grad_funcs({new Linear_grad(new Linear_func(well_conditioned_a()))});
  int depth = -1;
  const std::string text = error_text(s, {0.0, 0.0, 0.0}, {1.0, 2.0, 3.0, 4.0, 5.0}, &depth);
  EXPECT_EQ(depth, 2);
  const std::vector<std::string> lines = split_lines(text);
  ASSERT_EQ(lines.size(), 12u) << text;
  EXPECT_EQ(lines[0].rfind("\t\t", 0), 0u);
  EXPECT_NE(lines[0].find("trel_opt/solver.cpp("), std::string::npos);
  EXPECT_EQ(lines[1].rfind("\t\t", 0), 0u);
  EXPECT_NE(lines[1].find("trel::Solver::optimise(const std::vector<double"),
            std::string::npos);
  EXPECT_EQ(lines[2], "\t\tDetails: num_eqs=5");
  EXPECT_EQ(lines[3][0], '\t');
  EXPECT_NE(lines[3][1], '\t');
  EXPECT_NE(lines[3].find("linear_taylor_solver.cpp("), std::string::npos);
  EXPECT_NE(lines[4].find("Linear_taylor_solver::inner_optimise("), std::string::npos);
  EXPECT_EQ(lines[4][0], '\t');
  EXPECT_EQ(lines[5], "\tDetails: ");
  EXPECT_NE(lines[6][0], '\t');
  EXPECT_NE(lines[6].find("linear_taylor_solver.cpp("), std::string::npos);
  EXPECT_EQ(lines[7], lines[4].substr(1));
  EXPECT_EQ(lines[8], "Details: number of equations was set to 5 but functions only returned a total of4 equations");
  EXPECT_EQ(lines[9], "");
  EXPECT_EQ(lines[10], "");
  EXPECT_EQ(lines[11], "");
}

struct Failure_case {
  const char* name;
  int funcs_rows;        // rows of A
  int num_equations;
  int target_size;
  bool analytic;
  int steps;             // finite-difference steps given (numeric mode)
  const char* detail;
};

class LinearTaylorSolverFailure : public ::testing::TestWithParam<Failure_case> {};

TEST_P(LinearTaylorSolverFailure, ReportsTheProblemAndKeepsTheCache) {
  const Failure_case& c = GetParam();
  cv::Mat a = cv::Mat::ones(c.funcs_rows, 2, CV_64F);
  trel::Linear_taylor_solver s;
  configure(s, 2, c.num_equations);
  Linear_func* f = new Linear_func(a);
  if (c.analytic) {
    s.set_grad_funcs({new Linear_grad(f)});
  } else {
    s.set_funcs({f});
    s.set_finite_difference_steps({std::vector<double>(static_cast<std::size_t>(c.steps), 0.1)});
  }
  std::vector<double> x{0.0, 0.0};
  double error = 7.0;
  try {
    s.reset();
    s.inner_optimise(x, std::vector<double>(static_cast<std::size_t>(c.target_size), 1.0), x, error, 0);
    FAIL() << "no exception";
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(e.depth(), 1);
    const std::vector<std::string> lines = split_lines(e.what());
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[5], std::string("Details: ") + c.detail);
  }
  EXPECT_EQ(x, (std::vector<double>{0.0, 0.0}));
  EXPECT_EQ(error, 7.0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LinearTaylorSolverFailure,
    ::testing::Values(
        Failure_case{"GradientValuesBeyondTarget", 3, 3, 2, true, 0,
                     "Mismatch in number of equations. From target size, expected at most 2 equations, however "
                     "base_function 0 is returned 3 equations to be inserted starting from index 0"},
        Failure_case{"ObjectiveValuesBeyondTarget", 3, 3, 2, false, 2,
                     "Mismatch in number of equations. From target size, expected at most 2 equations, however "
                     "function 0 returned 3 equations to be inserted starting from index 0"},
        Failure_case{"TooFewValues", 2, 3, 3, true, 0,
                     "number of equations was set to 3 but functions only returned a total of2 equations"},
        Failure_case{"TargetShorterThanEquations", 2, 2, 3, true, 0,
                     "number of equations was set to 2 but target has a total of3 equations"},
        Failure_case{"ShortStepList", 2, 2, 2, false, 1,
                     "for function 0 finite difference step had 1 elements, but num dimensions should be 2"}),
    [](const ::testing::TestParamInfo<Failure_case>& info) { return std::string(info.param.name); });

TEST(LinearTaylorSolver, SearchVectorOfWrongLengthIsRejected) {
  trel::Linear_taylor_solver s;
  configure(s, 3, 4);
  s.set_grad_funcs({new Linear_grad(new Linear_func(well_conditioned_a()))});
  const std::string text = error_text(s, {0.0, 0.0}, kTarget);
  EXPECT_NE(text.find("Details: search vector had size 2 but num dimensions is 3"), std::string::npos) << text;
}

TEST(LinearTaylorSolver, GradientFunctionWithoutBaseIsReported) {
  trel::Linear_taylor_solver s;
  configure(s, 2, 2);
  s.set_grad_funcs({new Linear_grad(nullptr)});
  const std::string text = error_text(s, {0.0, 0.0}, {1.0, 1.0});
  EXPECT_NE(text.find("Details: Tried to access base function for a Grad_func, but none has been set"),
            std::string::npos)
      << text;
}

}  // namespace

// ---- the minimum-norm least-squares solve ----------------------------------

namespace lsq {

// Both solves are backward stable, so on well-conditioned systems they agree to
// a few hundred ulps of the solution's norm.
constexpr double kAgreement = 1e-12;

cv::Mat random_matrix(std::mt19937& rng, int rows, int cols, double scale = 1.0) {
  std::normal_distribution<double> normal(0.0, scale);
  cv::Mat a(rows, cols, CV_64F);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) a.at<double>(i, j) = normal(rng);
  return a;
}

cv::Mat solve_min_norm(trel::Min_norm_least_squares<double>& solver, const cv::Mat& a, const cv::Mat& b) {
  cv::Mat x(a.cols, 1, CV_64F, cv::Scalar(-7.0));  // overwritten entirely
  solver.solve(a.ptr<double>(0), a.rows, a.cols, static_cast<int>(a.step1()), b.ptr<double>(0), x.ptr<double>(0));
  return x;
}

cv::Mat solve_min_norm(const cv::Mat& a, const cv::Mat& b) {
  trel::Min_norm_least_squares<double> solver;
  return solve_min_norm(solver, a, b);
}

cv::Mat reference(const cv::Mat& a, const cv::Mat& b) {
  cv::Mat x;
  cv::solve(a, b, x, cv::DECOMP_SVD);
  return x;
}

double relative_difference(const cv::Mat& x, const cv::Mat& ref) {
  return cv::norm(x - ref) / std::max(cv::norm(ref), 1e-300);
}

double condition_number(const cv::Mat& a) {
  cv::Mat w;
  cv::SVD::compute(a, w, cv::SVD::NO_UV);
  return w.at<double>(0) / w.at<double>(w.rows - 1);
}

}  // namespace lsq

// Sizes below, at and above the row block, square systems, and one column more
// than the pose problems use.
TEST(MinNormLeastSquares, MatchesOpenCvSvdSolveOnRandomTallSystems) {
  std::mt19937 rng(11);
  trel::Min_norm_least_squares<double> reused;
  for (const auto& size : std::vector<std::pair<int, int>>{
           {6, 6}, {7, 3}, {20, 6}, {127, 6}, {128, 7}, {129, 7}, {300, 6}, {1000, 7}, {2000, 6}, {41, 10}}) {
    const cv::Mat a = lsq::random_matrix(rng, size.first, size.second);
    const cv::Mat b = lsq::random_matrix(rng, size.first, 1, 3.0);
    const cv::Mat ref = lsq::reference(a, b);
    EXPECT_LT(lsq::relative_difference(lsq::solve_min_norm(a, b), ref), lsq::kAgreement)
        << size.first << " x " << size.second;
    // Scratch kept from a solve of another size changes nothing.
    EXPECT_LT(lsq::relative_difference(lsq::solve_min_norm(reused, a, b), ref), lsq::kAgreement)
        << size.first << " x " << size.second;
  }
}

TEST(MinNormLeastSquares, ZeroColumnGetsExactlyZeroUpdate) {
  std::mt19937 rng(12);
  for (int column : {0, 3, 5}) {
    cv::Mat a = lsq::random_matrix(rng, 200, 6);
    a.col(column).setTo(0.0);
    const cv::Mat b = lsq::random_matrix(rng, 200, 1);
    const cv::Mat x = lsq::solve_min_norm(a, b);
    EXPECT_EQ(x.at<double>(column), 0.0);
    EXPECT_LT(lsq::relative_difference(x, lsq::reference(a, b)), lsq::kAgreement) << column;
  }
}

// Two equal columns: the minimum-norm solution splits their update evenly.
TEST(MinNormLeastSquares, RepeatedColumnSharesTheUpdate) {
  std::mt19937 rng(13);
  cv::Mat a = lsq::random_matrix(rng, 150, 6);
  a.col(1).copyTo(a.col(4));
  const cv::Mat b = lsq::random_matrix(rng, 150, 1);
  const cv::Mat x = lsq::solve_min_norm(a, b);
  EXPECT_NEAR(x.at<double>(1), x.at<double>(4), 1e-12 * cv::norm(x));
  EXPECT_LT(lsq::relative_difference(x, lsq::reference(a, b)), lsq::kAgreement);
}

// The quaternion Jacobian has q itself as an exact null direction (the pose
// depends on q / |q| only): the step must have no component along q.
TEST(MinNormLeastSquares, QuaternionJacobianStepIsOrthogonalToTheQuaternion) {
  for (unsigned seed : {21u, 22u, 23u}) {
    for (int npts : {10, 1000}) {
      const trel_test::Synthetic_scene scene = trel_test::make_scene(seed, npts);
      const trel::matrix<double> K = trel_test::intrinsics(scene.k11, scene.k13, scene.k23);
      std::vector<double> x = scene.quaternion;
      for (double& q : x) q *= 1.7;  // any length
      x.insert(x.end(), scene.centre.begin(), scene.centre.end());
      trel::Camera_position_grad_func_qu grad(nullptr, scene.points_world, K);
      cv::Mat j(2 * npts, 7, CV_64F, cv::Scalar(0.0));
      ASSERT_EQ(grad(x, j, 0), 2 * npts);
      std::mt19937 rng(seed);
      const cv::Mat b = lsq::random_matrix(rng, 2 * npts, 1, 2.0);
      const cv::Mat dx = lsq::solve_min_norm(j, b);
      const cv::Mat q = (cv::Mat_<double>(7, 1) << x[0], x[1], x[2], x[3], 0, 0, 0);
      EXPECT_LT(std::fabs(dx.dot(q)) / (cv::norm(dx) * cv::norm(q)), 1e-12) << seed << " " << npts;
      EXPECT_LT(lsq::relative_difference(dx, lsq::reference(j, b)), lsq::kAgreement) << seed << " " << npts;
    }
  }
}

// A column close to another: both solves are then only as exact as the
// condition number allows. The larger gaps are solved by back substitution,
// the smallest is too close to the rank threshold for that and goes through the
// SVD of R with every singular value kept.
TEST(MinNormLeastSquares, NearlySingularSystemAgreesWithinItsConditioning) {
  std::mt19937 rng(14);
  for (double gap : {1e-6, 1e-9, 1e-12}) {
    cv::Mat a = lsq::random_matrix(rng, 400, 6);
    a.col(2) = a.col(0) + gap * lsq::random_matrix(rng, 400, 1);
    const cv::Mat b = lsq::random_matrix(rng, 400, 1);
    const double kappa = lsq::condition_number(a);
    ASSERT_GT(kappa, 1e5);
    EXPECT_LT(lsq::relative_difference(lsq::solve_min_norm(a, b), lsq::reference(a, b)), kappa * 1e-15) << gap;
  }
}

// Fewer equations than unknowns (one point of a pose problem has 2 for 6):
// the minimum-norm solution is the pseudo-inverse's.
TEST(MinNormLeastSquares, UnderdeterminedSystemGivesThePseudoInverseSolution) {
  std::mt19937 rng(15);
  for (const auto& size : std::vector<std::pair<int, int>>{{1, 6}, {2, 6}, {3, 7}, {5, 6}, {4, 10}}) {
    const cv::Mat a = lsq::random_matrix(rng, size.first, size.second);
    const cv::Mat b = lsq::random_matrix(rng, size.first, 1);
    cv::Mat pinv;
    cv::invert(a, pinv, cv::DECOMP_SVD);
    const cv::Mat x = lsq::solve_min_norm(a, b);
    EXPECT_LT(lsq::relative_difference(x, pinv * b), lsq::kAgreement) << size.first << " x " << size.second;
    EXPECT_LT(cv::norm(a * x - b), 1e-12 * cv::norm(b)) << "an underdetermined full-rank system is met exactly";
  }
  // Rank deficient as well: two equal rows.
  cv::Mat a = lsq::random_matrix(rng, 3, 6);
  a.row(0).copyTo(a.row(2));
  const cv::Mat b = (cv::Mat_<double>(3, 1) << 1.0, 2.0, 1.0);
  cv::Mat pinv;
  cv::invert(a, pinv, cv::DECOMP_SVD);
  EXPECT_LT(lsq::relative_difference(lsq::solve_min_norm(a, b), pinv * b), lsq::kAgreement);
}

// Entries far outside the range whose squares a double holds: scaling A and b by
// the same power of two leaves the solution as it is.
TEST(MinNormLeastSquares, ExtremeScalesGiveTheSameSolution) {
  std::mt19937 rng(16);
  for (const auto& size : std::vector<std::pair<int, int>>{{300, 6}, {2, 6}}) {
    const cv::Mat a = lsq::random_matrix(rng, size.first, size.second);
    const cv::Mat b = lsq::random_matrix(rng, size.first, 1);
    const cv::Mat x = lsq::solve_min_norm(a, b);
    for (double s : {std::ldexp(1.0, 700), std::ldexp(1.0, -700)}) {
      const cv::Mat xs = lsq::solve_min_norm(a * s, b * s);
      EXPECT_LT(lsq::relative_difference(xs, x), lsq::kAgreement) << size.first << " scale " << s;
    }
  }
}

TEST(MinNormLeastSquares, EmptyOrZeroSystemGivesZero) {
  trel::Min_norm_least_squares<double> solver;
  std::vector<double> x(4, 5.0);
  solver.solve(nullptr, 0, 4, 4, nullptr, x.data());
  EXPECT_EQ(x, std::vector<double>(4, 0.0));
  const cv::Mat a(10, 4, CV_64F, cv::Scalar(0.0));
  const cv::Mat b(10, 1, CV_64F, cv::Scalar(1.0));
  EXPECT_EQ(cv::norm(lsq::solve_min_norm(a, b)), 0.0);
}

TEST(MinNormLeastSquares, NonFiniteInputEndsWithoutHanging) {
  std::mt19937 rng(17);
  cv::Mat a = lsq::random_matrix(rng, 50, 6);
  a.at<double>(7, 2) = std::numeric_limits<double>::quiet_NaN();
  const cv::Mat b = lsq::random_matrix(rng, 50, 1);
  const cv::Mat x = lsq::solve_min_norm(a, b);
  EXPECT_FALSE(cv::checkRange(x));
}

// With an error estimate E, a direction along which A is no larger than E
// counts as zero: A = U diag(10, 1, 1e-3) V^T with |E v_3| = 1e-2 loses its
// third direction, |E v_2| = 0.5 keeps the second. Tall and wide systems (the
// wide one through A^T) agree with the truncated SVD solution.
TEST(MinNormLeastSquares, ErrorGramCutsTheDirectionsItSwamps) {
  std::mt19937 rng(23);
  for (const bool wide : {false, true}) {
    cv::Mat u, v, ignored;
    cv::SVD::compute(lsq::random_matrix(rng, 5, 3), ignored, u, v);  // u 5 x 3, v 3 x 3 (rows)
    const cv::Mat sigma = (cv::Mat_<double>(3, 1) << 10.0, 1.0, 1e-3);
    cv::Mat a = u * cv::Mat::diag(sigma) * v;  // 5 x 3
    cv::Mat rhs = lsq::random_matrix(rng, 5, 1);
    // E = e2 v_2^T + e3 v_3^T: |E v_2| = 0.5, |E v_3| = 1e-2.
    const cv::Mat gram = 0.25 * v.row(1).t() * v.row(1) + 1e-4 * v.row(2).t() * v.row(2);
    cv::Mat expected = cv::Mat::zeros(3, 1, CV_64F);
    for (int j = 0; j < 2; ++j) expected += v.row(j).t() * (u.col(j).dot(rhs) / sigma.at<double>(j));
    cv::Mat error_gram = gram.clone();
    if (wide) {  // A^T x = rhs' with the roles of u and v exchanged
      a = a.t();
      rhs = lsq::random_matrix(rng, 3, 1);
      error_gram = 0.25 * u.col(1) * u.col(1).t() + 1e-4 * u.col(2) * u.col(2).t();
      expected = cv::Mat::zeros(5, 1, CV_64F);
      for (int j = 0; j < 2; ++j) expected += u.col(j) * (v.row(j).dot(rhs.t()) / sigma.at<double>(j));
    }
    a = a.clone();
    error_gram = error_gram.clone();
    trel::Min_norm_least_squares<double> solver;
    cv::Mat x(a.cols, 1, CV_64F);
    solver.solve(a.ptr<double>(0), a.rows, a.cols, a.cols, rhs.ptr<double>(0), x.ptr<double>(0), 0.0,
                 error_gram.ptr<double>(0));
    EXPECT_LT(lsq::relative_difference(x, expected), 1e-12) << "wide " << wide;
    // Negative control: without the estimate the third direction is stepped along.
    EXPECT_GT(lsq::relative_difference(lsq::solve_min_norm(a, rhs), expected), 1.0) << "wide " << wide;
  }
}
