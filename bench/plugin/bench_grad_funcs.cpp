// Cost of the analytic camera Jacobians against the same Jacobian by forward
// finite differences in the Gauss-Newton solver, and of whole refinements.
#include <benchmark/benchmark.h>

#include <vector>

#include <opencv2/core.hpp>

#include "camera_pose_refine/camera_position_opt_func.h"
#include "camera_pose_refine/camera_position_rotation_codes.h"
#include "tests/synthetic_scene.h"
#include "trel_opt/linear_taylor_solver.h"

namespace {

using namespace trel;

struct Data {
  trel_test::Synthetic_scene scene;
  matrix<double> K;
  std::vector<double> x;
  std::vector<double> target;
};

bool quaternion_code(int code) { return find_rotation_code(code)->form == Rotation_form::quaternion; }

Data make_data(int code, int num_points) {
  Data d;
  d.scene = trel_test::make_scene(42u, num_points);
  const int rows = camera_rotation_type::observation_rows(code);
  d.K = matrix<double>(3, 3);
  d.K[0][0] = d.K[1][1] = rows == 3 ? 1.0 : d.scene.k11;
  d.K[0][2] = rows == 3 ? 0.0 : d.scene.k13;
  d.K[1][2] = rows == 3 ? 0.0 : d.scene.k23;
  d.K[2][2] = 1.0;
  switch (find_rotation_code(code)->form) {
    case Rotation_form::quaternion: d.x = d.scene.quaternion; break;
    case Rotation_form::ang_axis: d.x = d.scene.ang_axis; break;
    case Rotation_form::rot_vec: d.x = d.scene.rot_vec; break;
  }
  d.x[0] += 0.03;  // start a little off the truth
  d.x.insert(d.x.end(), d.scene.centre.begin(), d.scene.centre.end());
  d.x.back() += 0.2;
  for (int j = 0; j < camera_rotation_type::repetitions(code); ++j)
    for (int i = 0; i < num_points; ++i)
      for (int m = 0; m < rows; ++m)
        d.target.push_back(rows == 3 ? d.scene.points_in_cam[i][m] : d.scene.pixels[i][m]);
  return d;
}

Grad_func* make_grad_func(int code, Opt_func* base, const Data& d) {
  return find_rotation_code(code)->make_grad_func(base, d.scene.points_world, d.K).release();
}

// A solver configured as the plug-in does it.
void configure(Linear_taylor_solver& solver, int code, const Data& d, bool analytic) {
  const int nrot = camera_rotation_type::num_rotation_values(code);
  solver.set_num_dimensions(nrot + 3);
  solver.set_num_equations(static_cast<int>(d.target.size()));
  solver.set_min_y_step(-10000.0f);
  Opt_func* f = new Camera_position_opt_func(d.scene.points_world, d.K, code);
  if (analytic) {
    solver.set_grad_funcs({make_grad_func(code, f, d)});
  } else {
    std::vector<double> steps(static_cast<std::size_t>(nrot), quaternion_code(code) ? 0.314 : 0.0314);
    steps.insert(steps.end(), 3, 0.01);
    solver.set_finite_difference_steps({steps});
    solver.set_funcs({f});
  }
}

// One call of the gradient function: the Jacobian alone.
void BM_AnalyticJacobian(benchmark::State& state) {
  const int code = static_cast<int>(state.range(0));
  const Data d = make_data(code, 1000);
  Grad_func* g = make_grad_func(code, nullptr, d);
  cv::Mat J(static_cast<int>(d.target.size()), static_cast<int>(d.x.size()), CV_64F);
  for (auto _ : state) {
    benchmark::DoNotOptimize((*g)(d.x, J, 0));
    benchmark::ClobberMemory();
  }
  delete g;
}

// The forward-difference Jacobian as the solver forms it: one cost evaluation
// per parameter, differenced against the values at x.
void BM_FiniteDifferenceJacobian(benchmark::State& state) {
  const int code = static_cast<int>(state.range(0));
  const Data d = make_data(code, 1000);
  const Camera_position_opt_func f(d.scene.points_world, d.K, code);
  const int nrot = camera_rotation_type::num_rotation_values(code);
  const std::vector<double> at_x = f(d.x);
  cv::Mat J(static_cast<int>(d.target.size()), static_cast<int>(d.x.size()), CV_64F);
  for (auto _ : state) {
    std::vector<double> xp = d.x;
    for (int k = 0; k < static_cast<int>(d.x.size()); ++k) {
      const double h = k < nrot ? (quaternion_code(code) ? 0.314 : 0.0314) : 0.01;
      xp[k] += h;
      const std::vector<double> v = f(xp);
      for (int j = 0; j < J.rows; ++j) J.at<double>(j, k) = (v[j] - at_x[j]) / h;
      xp[k] -= h;
    }
    benchmark::ClobberMemory();
  }
}

// One whole solver step (values, Jacobian, SVD solve, values at the new
// point) with analytic (range 1 = 1) or finite-difference (0) rows.
void BM_SolverStep(benchmark::State& state) {
  const int code = static_cast<int>(state.range(0));
  const Data d = make_data(code, 1000);
  Linear_taylor_solver solver;
  configure(solver, code, d, state.range(1) != 0);
  for (auto _ : state) {
    std::vector<double> x = d.x;
    double error = 0.0;
    solver.reset();
    solver.inner_optimise(x, d.target, x, error, 0);
    benchmark::DoNotOptimize(error);
  }
}

// A refinement of code 0: 10 analytic iterations for range(0) points.
void BM_RefinementAau(benchmark::State& state) {
  const Data d = make_data(0, static_cast<int>(state.range(0)));
  Linear_taylor_solver solver;
  configure(solver, 0, d, true);
  solver.set_max_iters(10);
  for (auto _ : state) benchmark::DoNotOptimize(solver.optimise(d.x, d.target));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void all_codes(benchmark::internal::Benchmark* b) {
  for (const Rotation_code& entry : rotation_codes()) b->Arg(entry.code);
}
void all_codes_both_modes(benchmark::internal::Benchmark* b) {
  for (const Rotation_code& entry : rotation_codes())
    for (int analytic : {1, 0}) b->Args({entry.code, analytic});
}

BENCHMARK(BM_AnalyticJacobian)->Apply(all_codes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FiniteDifferenceJacobian)->Apply(all_codes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SolverStep)->Apply(all_codes_both_modes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RefinementAau)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
