#ifndef TREL_OPT_SOLVER_H
#define TREL_OPT_SOLVER_H

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "trel_opt/grad_func.h"
#include "trel_opt/opt_func.h"

namespace trel {

// Why the last run of Solver::optimise ended.
enum class Stop_reason {
  max_iters,   // every one of max_iters steps ran
  min_x_step,  // a step changed the point by less than min_x_step (L1 norm)
  min_y_step,  // a step lowered the error by less than min_y_step
};

// "max_iters", "min_x_step" or "min_y_step".
const char* stop_reason_name(Stop_reason reason);

// What the last run of Solver::optimise did. Errors are the weighted sums of
// squares that the steps minimise: sum over equations of (w (f(x) - target))^2.
struct Solve_summary {
  int iterations = 0;  // steps run
  double initial_error = std::numeric_limits<double>::quiet_NaN();  // at x0; NaN when no step ran
  double final_error = std::numeric_limits<double>::quiet_NaN();    // at the returned point
  Stop_reason stop_reason = Stop_reason::max_iters;
  int returned_iteration = 0;  // steps taken to reach the returned point; 0 is x0 itself
};

// Driver of an iterated least-squares fit of the registered functions' values
// to a target. A subclass supplies one step (inner_optimise); optimise runs the
// steps, keeps the best point seen and stops on max_iters, on a parameter
// change (L1 norm) below min_x_step or on an error decrease below min_y_step.
// The error compared is the weighted sum of squares the steps minimise, so
// an equation of weight 0 has no say in which point is returned.
//
// Ownership: the solver owns every object in its funcs and grad_funcs lists and
// deletes them on destruction (funcs first, then grad_funcs, in index order).
// Replacing a list hands the objects of the old list back to the caller.
// Solvers cannot be copied, so no function object is ever deleted twice.
class Solver {
public:
  Solver() = default;
  Solver(const Solver&) = delete;
  Solver& operator=(const Solver&) = delete;

  // optimise(x0) from num_dimensions zeros.
  virtual std::vector<double> optimise();
  // optimise(x0, target) towards num_equations zeros; errors come wrapped.
  virtual std::vector<double> optimise(const std::vector<double>& x0);
  // The outer iteration from x0. Returns the best point seen, the step that
  // meets a stop rule included when its error is lower than every earlier one;
  // when the step reports the error at x0 (set_initial_error), x0 competes as
  // well, so the point returned is never worse than x0 (max_iters 1: the
  // step's point). Throws
  // exception_l (wrapped with "num_eqs=" N) when the number of funcs differs
  // from the number of finite-difference step lists, when the target's length
  // is not num_equations, or when a step or a function fails.
  virtual std::vector<double> optimise(const std::vector<double>& x0, const std::vector<double>& target);
  virtual ~Solver();

  // Forgets whatever a step cached during an earlier run.
  virtual void reset() = 0;
  // One step from x towards target: writes the new point to x_out (which may be
  // x itself) and the weighted error at the new point to error. iteration
  // counts from 0. A step that evaluates the functions at the start point
  // reports the error there through set_initial_error.
  virtual void inner_optimise(const std::vector<double>& x, const std::vector<double>& target,
                              std::vector<double>& x_out, double& error, int iteration) = 0;

  int get_num_dimensions() const { return num_dimensions_; }
  void set_num_dimensions(int n) { num_dimensions_ = n; }
  int get_num_equations() const { return num_equations_; }
  void set_num_equations(int n) { num_equations_ = n; }
  int get_max_iters() const { return max_iters_; }
  void set_max_iters(int n) { max_iters_ = n; }
  float get_min_x_step() const { return min_x_step_; }
  void set_min_x_step(float s) { min_x_step_ = s; }
  float get_min_y_step() const { return min_y_step_; }
  void set_min_y_step(float s) { min_y_step_ = s; }
  void set_decreasing_step_size(bool on) { decreasing_step_size_ = on; }

  // The summary of the last optimise (of a run that threw, as far as it got).
  const Solve_summary& get_summary() const { return summary_; }

  const std::vector<Opt_func*>& get_funcs() const { return funcs_; }
  // Takes ownership of the listed objects. Throws exception_l, keeping the held
  // list, when an object is listed twice or is the base function of a
  // registered gradient function (it would be deleted twice).
  void set_funcs(const std::vector<Opt_func*>& funcs);
  const std::vector<Grad_func*>& get_grad_funcs() const { return grad_funcs_; }
  // As set_funcs; also rejects a gradient function whose base function is a
  // registered objective function or the base of another listed one.
  void set_grad_funcs(const std::vector<Grad_func*>& grad_funcs);
  // One list per objective function (same order as funcs), one step per parameter.
  const std::vector<std::vector<double>>& get_finite_difference_steps() const {
    return finite_difference_steps_;
  }
  void set_finite_difference_steps(const std::vector<std::vector<double>>& steps) {
    finite_difference_steps_ = steps;
  }

protected:
  void set_initial_error(double error) { summary_.initial_error = error; }

  std::vector<std::vector<double>> finite_difference_steps_;
  int num_dimensions_ = 0;
  int num_equations_ = 0;
  int max_iters_ = 1;
  float min_x_step_ = 0.0f;
  float min_y_step_ = -100000.0f;
  bool decreasing_step_size_ = false;

private:
  // The outer iteration of optimise(x0, target); its checks name `signature`.
  std::vector<double> run(const char* signature, const std::vector<double>& x0, const std::vector<double>& target);
  // Whether the run ends after step `iteration`, which moved from best_point to
  // x and lowered the error by `decrease` (records the stop reason).
  bool stops_after(const std::vector<double>& best_point, const std::vector<double>& x, int iteration,
                   double decrease);

  // The registered objects (null entries allowed), and the same pointers as the
  // plain list the getters hand out.
  std::vector<std::unique_ptr<Opt_func>> owned_funcs_;
  std::vector<std::unique_ptr<Grad_func>> owned_grad_funcs_;
  std::vector<Opt_func*> funcs_;
  std::vector<Grad_func*> grad_funcs_;
  Solve_summary summary_;
};

}  // namespace trel

#endif
