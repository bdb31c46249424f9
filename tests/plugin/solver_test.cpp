#include "trel_opt/solver.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "trel_tools/exception_l.h"
#include "tests/test_support.h"

namespace {

// A step that walks through a fixed list of (point, error) pairs and records
// the iteration numbers it was called with.
class Scripted_solver : public trel::Solver {
public:
  explicit Scripted_solver(std::vector<std::pair<std::vector<double>, double>> script)
      : script_(std::move(script)) {}
  void reset() override { ++resets; }
  void inner_optimise(const std::vector<double>&, const std::vector<double>&, std::vector<double>& x_out,
                      double& error, int iteration) override {
    iterations.push_back(iteration);
    x_out = script_.at(static_cast<std::size_t>(iteration)).first;
    error = script_.at(static_cast<std::size_t>(iteration)).second;
  }
  std::vector<int> iterations;
  int resets = 0;

private:
  std::vector<std::pair<std::vector<double>, double>> script_;
};

int live_functions = 0;

class Counted_func : public trel::Opt_func {
public:
  Counted_func() { ++live_functions; }
  ~Counted_func() override { --live_functions; }
  std::vector<double> operator()(const std::vector<double>& x) const override { return x; }
};

class Counted_grad : public trel::Grad_func {
public:
  explicit Counted_grad(trel::Opt_func* base) : trel::Grad_func(base) { ++live_functions; }
  ~Counted_grad() override { --live_functions; }
  int operator()(const std::vector<double>&, cv::Mat&, int) const override { return 0; }
};

using trel_test::split_lines;

TEST(Solver, DefaultsAndAccessors) {
  Scripted_solver s({});
  EXPECT_EQ(s.get_num_dimensions(), 0);
  EXPECT_EQ(s.get_num_equations(), 0);
  EXPECT_EQ(s.get_max_iters(), 1);
  EXPECT_EQ(s.get_min_x_step(), 0.0f);
  EXPECT_EQ(s.get_min_y_step(), -100000.0f);
  EXPECT_TRUE(s.get_funcs().empty());
  EXPECT_TRUE(s.get_grad_funcs().empty());
  EXPECT_TRUE(s.get_finite_difference_steps().empty());
  static_assert(!std::is_copy_constructible<Scripted_solver>::value, "solvers own raw pointers");
  static_assert(!std::is_copy_assignable<Scripted_solver>::value, "solvers own raw pointers");
}

TEST(Solver, DefaultRunsOneStepAndReturnsItsPoint) {
  Scripted_solver s({{{4.0, 5.0}, std::numeric_limits<double>::max()}});
  s.set_num_dimensions(2);
  EXPECT_EQ(s.optimise(), (std::vector<double>{4.0, 5.0}));
  EXPECT_EQ(s.iterations, (std::vector<int>{0}));
  EXPECT_EQ(s.resets, 1);
}

struct Stopping_case {
  const char* name;
  int max_iters;
  float min_x_step;
  float min_y_step;
  std::vector<std::pair<std::vector<double>, double>> script;
  std::vector<int> expected_iterations;
  std::vector<double> expected_point;
};

class SolverStopping : public ::testing::TestWithParam<Stopping_case> {};

TEST_P(SolverStopping, ReturnsBestPointAcceptedBeforeTheStop) {
  const Stopping_case& c = GetParam();
  Scripted_solver s(c.script);
  s.set_num_dimensions(1);
  s.set_max_iters(c.max_iters);
  s.set_min_x_step(c.min_x_step);
  s.set_min_y_step(c.min_y_step);
  EXPECT_EQ(s.optimise({0.0}, {}), c.expected_point);
  EXPECT_EQ(s.iterations, c.expected_iterations);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SolverStopping,
    ::testing::Values(
        // The third step moves by 5e-4 < 1e-3 from the best point: stop; its lower
        // error makes it the point returned.
        Stopping_case{"SmallParameterStep", 5, 1e-3f, -100000.0f,
                      {{{1.0}, 3.0}, {{2.0}, 2.0}, {{2.0005}, 1.0}, {{9.0}, 0.5}, {{9.0}, 0.1}},
                      {0, 1, 2}, {2.0005}},
        // A small step that does not lower the error stops the run and is not returned.
        Stopping_case{"SmallParameterStepNoBetter", 5, 1e-3f, -100000.0f,
                      {{{1.0}, 3.0}, {{2.0}, 2.0}, {{2.0005}, 2.0}, {{9.0}, 0.5}},
                      {0, 1, 2}, {2.0}},
        // A step that lowers the error by less than min_y_step stops the run but
        // is the best point seen.
        Stopping_case{"SmallErrorDecrease", 5, 0.0f, 0.5f,
                      {{{1.0}, 3.0}, {{2.0}, 2.0}, {{3.0}, 1.9}, {{9.0}, 0.5}},
                      {0, 1, 2}, {3.0}},
        // The step equal to the threshold is not below it and continues.
        Stopping_case{"ParameterStepAtThreshold", 3, 0.5f, -100000.0f,
                      {{{1.0}, 3.0}, {{1.5}, 2.0}, {{1.5}, 1.0}}, {0, 1, 2}, {1.5}},
        // An equal error continues, the later point wins the tie; a higher error stops.
        Stopping_case{"ErrorIncrease", 5, 0.0f, 0.0f,
                      {{{1.0}, 3.0}, {{2.0}, 3.0}, {{3.0}, 4.0}, {{4.0}, 0.1}, {{5.0}, 0.1}},
                      {0, 1, 2}, {2.0}},
        // Worse points are not accepted but do not stop the run with the default thresholds.
        Stopping_case{"WorsePointNotAccepted", 3, 0.0f, -100000.0f,
                      {{{1.0}, 1.0}, {{2.0}, 5.0}, {{3.0}, 2.0}}, {0, 1, 2}, {1.0}},
        Stopping_case{"NoIterations", 0, 0.0f, 0.0f, {}, {}, {0.0}},
        Stopping_case{"NegativeIterations", -3, 0.0f, 0.0f, {}, {}, {0.0}}),
    [](const ::testing::TestParamInfo<Stopping_case>& info) { return std::string(info.param.name); });

// A solver whose first step also reports the error at x0, as a real step does.
class Scripted_solver_with_start : public Scripted_solver {
public:
  Scripted_solver_with_start(double start_error, std::vector<std::pair<std::vector<double>, double>> script)
      : Scripted_solver(std::move(script)), start_error_(start_error) {}
  void inner_optimise(const std::vector<double>& x, const std::vector<double>& target, std::vector<double>& x_out,
                      double& error, int iteration) override {
    if (iteration == 0) set_initial_error(start_error_);
    Scripted_solver::inner_optimise(x, target, x_out, error, iteration);
  }

private:
  double start_error_;
};

// The start competes with the steps' points: steps that never get below its
// error (round-off at a minimum) return it; a tie goes to the later point.
TEST(Solver, NeverReturnsAPointWorseThanTheStart) {
  struct Case {
    double start_error;
    float min_x_step;
    std::vector<std::pair<std::vector<double>, double>> script;
    std::vector<double> expected_point;
    int returned_iteration;
  };
  const Case cases[] = {
      {1.0, 0.0f, {{{1.0}, 1.0 + 1e-12}, {{2.0}, 1.0 + 2e-12}, {{3.0}, 1.0 + 1e-12}}, {0.0}, 0},
      {1.0, 0.0f, {{{1.0}, 1.0 + 1e-12}, {{2.0}, 1.0}, {{3.0}, 1.0 + 1e-12}}, {2.0}, 2},
      {1.0, 0.0f, {{{1.0}, 0.5}, {{2.0}, 0.7}, {{3.0}, 0.6}}, {1.0}, 1},
      // A first step shorter than min_x_step that lowers the error by orders of
      // magnitude is returned, not thrown away for the start.
      {1e4, 1.0f, {{{0.5}, 1e-6}, {{0.6}, 1e-7}}, {0.5}, 1},
      // One that raises the error stops the run at the start.
      {1.0, 1.0f, {{{0.5}, 2.0}, {{0.6}, 0.1}}, {0.0}, 0},
  };
  for (const Case& c : cases) {
    Scripted_solver_with_start s(c.start_error, c.script);
    s.set_num_dimensions(1);
    s.set_max_iters(3);
    s.set_min_x_step(c.min_x_step);
    EXPECT_EQ(s.optimise({0.0}, {}), c.expected_point);
    EXPECT_EQ(s.get_summary().returned_iteration, c.returned_iteration);
    EXPECT_LE(s.get_summary().final_error, c.start_error);
  }
}

TEST(Solver, FunctionAndStepListCountsMustAgree) {
  Scripted_solver s({{{1.0}, 1.0}});
  s.set_num_dimensions(1);
  s.set_funcs({new Counted_func});
  s.set_max_iters(0);
  try {
    s.optimise({0.0}, {});
    FAIL() << "no exception";
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(e.depth(), 1);
    const std::vector<std::string> lines = split_lines(e.what());
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[2], "\tDetails: num_eqs=0");
    EXPECT_EQ(lines[5], "Details: function vector had size 1 but finite difference vector had size 0");
  }
  EXPECT_EQ(s.resets, 1);
  EXPECT_TRUE(s.iterations.empty());
}

TEST(Solver, TargetOfWrongLengthIsPrintedInTheMessage) {
  Scripted_solver s({});
  s.set_num_equations(3);
  try {
    s.optimise({0.0}, {1.5, -2.0});
    FAIL() << "no exception";
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(e.depth(), 1);
    const std::vector<std::string> lines = split_lines(e.what());
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[2], "\tDetails: num_eqs=3");
    EXPECT_EQ(lines[5], "Details: Passed target was  Size: 2 { 1.5 -2 }  but expected 3 equations");
  }
}

TEST(Solver, SingleArgumentOptimiseAddsOneFrameAndUsesZeroTarget) {
  Scripted_solver s({});
  s.set_num_equations(2);
  s.set_funcs({new Counted_func});
  try {
    s.optimise({0.0});
    FAIL() << "no exception";
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(e.depth(), 2);
    const std::vector<std::string> lines = split_lines(e.what());
    ASSERT_GE(lines.size(), 9u);
    EXPECT_EQ(lines[2], "\t\tDetails: ");
    EXPECT_EQ(lines[5], "\tDetails: num_eqs=2");
  }
  Scripted_solver ok({{{7.0}, 0.0}});
  ok.set_num_equations(2);
  EXPECT_EQ(ok.optimise({0.0}), std::vector<double>{7.0});
}

TEST(Solver, DeletesRegisteredFunctionsAndRejectsDoubleOwnership) {
  ASSERT_EQ(live_functions, 0);
  {
    Scripted_solver s({});
    Counted_func* f = new Counted_func;
    Counted_func* base = new Counted_func;
    Counted_grad* g = new Counted_grad(base);
    s.set_funcs({f, nullptr});
    s.set_grad_funcs({g});
    EXPECT_EQ(live_functions, 3);
    // Each of these would make the solver delete one object twice.
    EXPECT_THROW(s.set_funcs({f, f}), trel::exception_l);
    EXPECT_THROW(s.set_funcs({base}), trel::exception_l);
    EXPECT_THROW(s.set_grad_funcs({g, g}), trel::exception_l);
    EXPECT_EQ(s.get_funcs().size(), 2u);
    EXPECT_EQ(s.get_grad_funcs().size(), 1u);
  }
  EXPECT_EQ(live_functions, 0);
  {
    // A replaced list goes back to the caller.
    Scripted_solver s({});
    Counted_func* f = new Counted_func;
    s.set_funcs({f});
    s.set_funcs({});
    EXPECT_EQ(live_functions, 1);
    delete f;
  }
  EXPECT_EQ(live_functions, 0);
}

}  // namespace
