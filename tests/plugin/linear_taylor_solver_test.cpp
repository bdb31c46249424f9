#include "trel_opt/linear_taylor_solver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include "trel_tools/exception_l.h"
#include "tests/test_support.h"

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
