#include "camera_pose_refine/framework_refine.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <utility>

#include "camera_pose_refine/camera_position_opt_func.h"
#include "camera_pose_refine/camera_position_rotation_codes.h"
#include "trel_opt/linear_taylor_solver.h"
#include "trel_opt/robust_loss.h"
#include "trel_pose/pose_kernel.h"
#include "trel_pose/pose_problem.h"

namespace trel {

namespace {

using Layout = Pose_layout;

// The analytic gradient function of a rotation code, taking ownership of `cost`.
std::unique_ptr<Grad_func> make_grad_func(int code, std::unique_ptr<Camera_position_opt_func> cost,
                                          const std::vector<std::vector<double>>& points,
                                          const matrix<double>& K) {
  const Rotation_code* entry = find_rotation_code(code);
  return entry ? entry->make_grad_func(cost.release(), points, K) : nullptr;
}

// Squared error of each point (first repetition) from the predicted values.
void point_squared_errors(const std::vector<double>& predicted, const std::vector<double>& observations,
                          const Layout& l, std::vector<double>& squared) {
  squared.resize(l.npts);
  for (std::size_t i = 0; i < l.npts; ++i) {
    double s = 0.0;
    for (std::size_t r = 0; r < l.rows; ++r) {
      const double d = predicted[i * l.rows + r] - observations[i * l.rows + r];
      s += d * d;
    }
    squared[i] = s;
  }
}

double robust_cost(Loss loss, double scale, const std::vector<double>& squared,
                   const std::vector<double>& point_weight) {
  double sum = 0.0;
  for (std::size_t i = 0; i < squared.size(); ++i)
    if (point_weight[i] != 0.0) sum += point_weight[i] * robust_loss_value(loss, squared[i], scale);
  return sum;
}

// The objects whose weights the solver reads; the solver owns them.
struct Weighted_funcs {
  Grad_func* grad = nullptr;
  Opt_func* cost = nullptr;
};

// The solver's settings and functions: the pose's cost, with finite-difference
// steps, or its analytic gradient function, each with the user weights.
Weighted_funcs set_up_solver(Linear_taylor_solver& solver, const matrix<double>& K,
                             const std::vector<std::vector<double>>& points, const std::vector<double>& start,
                             const Pose_refine_options& options, const Layout& l) {
  const int code = options.rotation_code;
  solver.set_num_dimensions(l.nrot + 3);
  solver.set_num_equations(static_cast<int>(l.num_eqs));
  solver.set_max_iters(options.max_iters);
  solver.set_min_x_step(options.min_x_step);
  solver.set_min_y_step(options.min_y_step);

  Weighted_funcs weighted;
  auto cost = std::make_unique<Camera_position_opt_func>(points, K, code);
  if (options.finite_differences) {
    solver.set_finite_difference_steps({pose_finite_difference_steps(start, l.nrot, points)});
    if (!options.weights.empty()) cost->set_weights(options.weights);
    weighted.cost = cost.get();
    solver.set_funcs({cost.get()});
    cost.release();
  } else {
    std::unique_ptr<Grad_func> grad = make_grad_func(code, std::move(cost), points, K);
    if (!options.weights.empty()) grad->set_weights(options.weights);
    weighted.grad = grad.get();
    solver.set_grad_funcs({grad.get()});
    grad.release();
  }
  return weighted;
}

// What the solves of the framework path read.
struct Framework_problem {
  Linear_taylor_solver& solver;
  Weighted_funcs weighted;
  const Camera_position_opt_func& model;
  const std::vector<double>& target;
  const std::vector<double>& observations;
  const Pose_refine_options& options;
  const Layout& l;
};

// The plain least-squares solve; squared receives the points' squared errors
// at the result.
void solve_squared(const Framework_problem& f, const std::vector<double>& start, Pose_refine_result& result,
                   std::vector<double>& squared) {
  result.x = f.solver.optimise(start, f.target);
  static_cast<Solve_summary&>(result.summary) = f.solver.get_summary();
  point_squared_errors(f.model(start), f.observations, f.l, squared);
  result.summary.initial_rms = pose_rms_of(squared);
  point_squared_errors(f.model(result.x), f.observations, f.l, squared);
}

// The loss and scale of one reweighting step. The truncated loss's graduated
// start (trel_pose/pose_kernel.h): Cauchy weights at the graduated scale while
// too few rows lie within the scale.
std::pair<Loss, double> step_loss_of(const Pose_refine_options& options, const Layout& l,
                                     const std::vector<double>& squared, const std::vector<double>& point_weight) {
  const double scale = options.loss_scale;
  Loss step_loss = options.loss;
  double step_scale = scale;
  if (options.loss == Loss::truncated) {
    int rows_within = 0;
    bool any_weighted = false;
    for (std::size_t p = 0; p < l.npts; ++p) {
      if (point_weight[p] == 0.0) continue;
      any_weighted = true;
      if (squared[p] <= scale * scale) rows_within += static_cast<int>(l.rows);
    }
    if (rows_within < kPoseKernelGraduatedRows && any_weighted) {
      std::vector<double> scratch;
      step_loss = Loss::cauchy;
      step_scale = pose_graduated_scale(scale, squared, point_weight.data(), scratch);
    }
  }
  return {step_loss, step_scale};
}

// The equations' weights of one reweighting step: the user weight times the
// square root of the point's robust weight.
void set_equation_weights(const Framework_problem& f, const std::vector<double>& squared,
                          const std::vector<double>& point_weight, std::vector<double>& equation_weights) {
  const Layout& l = f.l;
  const std::pair<Loss, double> step = step_loss_of(f.options, l, squared, point_weight);
  for (std::size_t j = 0; j < l.reps; ++j)
    for (std::size_t p = 0; p < l.npts; ++p) {
      const double w = std::sqrt(robust_loss_weight(step.first, squared[p], step.second));
      for (std::size_t r = 0; r < l.rows; ++r) {
        const std::size_t k = j * l.block + p * l.rows + r;
        equation_weights[k] = pose_user_weight(f.options.weights, k) * w;
      }
    }
  if (f.weighted.grad != nullptr) f.weighted.grad->set_weights(equation_weights);
  if (f.weighted.cost != nullptr) f.weighted.cost->set_weights(equation_weights);
}

// The stop tests of reweighting step i (with at least 2 steps allowed): the
// step from the best x so far, the decrease of the robust cost.
bool reweighting_stops(const Pose_refine_options& options, int i, const std::vector<double>& best_x,
                       const std::vector<double>& x, double previous_error, double error, Stop_reason& reason) {
  if (options.max_iters < 2) return false;
  double l1 = 0.0;
  for (std::size_t k = 0; k < x.size(); ++k) l1 += std::fabs(best_x[k] - x[k]);
  if (l1 < static_cast<double>(options.min_x_step)) {
    reason = Stop_reason::min_x_step;
    return true;
  }
  if (i > 0 && previous_error - error < static_cast<double>(options.min_y_step)) {
    reason = Stop_reason::min_y_step;
    return true;
  }
  return false;
}

// Iteratively reweighted least squares for a robust loss: one solver step per
// reweighting, the x of the least robust cost returned; squared receives the
// points' squared errors there.
void solve_reweighted(const Framework_problem& f, const std::vector<double>& start,
                      const std::vector<double>& point_weight, Pose_refine_result& result,
                      std::vector<double>& squared) {
  const Pose_refine_options& options = f.options;
  const double scale = options.loss_scale;
  point_squared_errors(f.model(start), f.observations, f.l, squared);
  const double initial_rms = pose_rms_of(squared);
  double error = robust_cost(options.loss, scale, squared, point_weight);
  const double initial_error = error;
  double best = error;
  std::vector<double> best_squared = squared;
  std::vector<double> x = start;
  result.x = start;
  std::vector<double> equation_weights(f.l.num_eqs);
  f.solver.set_max_iters(1);
  int iterations = 0, returned_iteration = 0;
  Stop_reason reason = Stop_reason::max_iters;
  for (int i = 0; i < options.max_iters; ++i) {
    set_equation_weights(f, squared, point_weight, equation_weights);
    x = f.solver.optimise(x, f.target);
    point_squared_errors(f.model(x), f.observations, f.l, squared);
    const double previous_error = error;
    error = robust_cost(options.loss, scale, squared, point_weight);
    iterations = i + 1;
    if (reweighting_stops(options, i, result.x, x, previous_error, error, reason)) break;
    if (error <= best) {
      result.x = x;
      best = error;
      best_squared = squared;
      returned_iteration = i + 1;
    }
  }
  Pose_summary& summary = result.summary;
  summary = Pose_summary();
  summary.iterations = iterations;
  summary.initial_error = initial_error;
  summary.initial_rms = initial_rms;
  summary.stop_reason = reason;
  summary.returned_iteration = returned_iteration;
  squared = best_squared;
  summary.final_error = best;
}

}  // namespace

Pose_refine_result refine_pose_by_framework(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                                            const std::vector<double>& observations, const std::vector<double>& start,
                                            const Pose_refine_options& options) {
  const Layout l = check_pose_inputs(K, points, observations, start, options);
  const int code = options.rotation_code;

  std::vector<double> target(l.num_eqs);
  for (std::size_t j = 0; j < l.reps; ++j)
    std::copy(observations.begin(), observations.end(), target.begin() + static_cast<std::ptrdiff_t>(j * l.block));

  Linear_taylor_solver solver;
  const Weighted_funcs weighted = set_up_solver(solver, K, points, start, options, l);

  Pose_refine_result result;
  const Camera_position_opt_func model(points, K, code);
  std::vector<double> squared;           // per-point squared errors at the point last evaluated

  const std::vector<double> point_weight = pose_point_weights(options, l);
  const bool nothing_to_fit =
      std::all_of(point_weight.begin(), point_weight.end(), [](double w) { return w == 0.0; });

  const Framework_problem f{solver, weighted, model, target, observations, options, l};
  if (options.loss == Loss::squared)
    solve_squared(f, start, result, squared);
  else
    solve_reweighted(f, start, point_weight, result, squared);

  result.summary.nothing_to_fit = nothing_to_fit;
  double r9[9];
  pose_to_array(pose_rotation_of(result.x, code), r9);
  finish_pose_summary(K, points, observations, r9, &result.x[static_cast<std::size_t>(l.nrot)], l, options, squared,
                      point_weight, result.summary);
  return result;
}

Pose_frame_refiner framework_frame_refiner() {
  return [](const matrix<double>& K, const Pose_frame& frame, const Pose_refine_options& options) {
    return refine_pose_by_framework(K, frame.points, frame.observations, frame.start, options);
  };
}

}  // namespace trel

