#ifndef TREL_OPT_LINEAR_TAYLOR_SOLVER_H
#define TREL_OPT_LINEAR_TAYLOR_SOLVER_H

#include <vector>

#include "trel_opt/solver.h"

namespace trel {

// Gauss-Newton: each step linearises every registered function at the current
// point (analytic rows from the gradient functions, forward finite differences
// for the objective functions), solves J dx = r in the least-squares sense by
// SVD (minimum-norm when rank-deficient), applies dx (damped by 2 / (i + 2)
// from the second step on when decreasing_step_size is set) and evaluates the
// unweighted squared error at the new point.
//
// Equation order, for values, target and Jacobian rows alike: the base
// functions of the gradient functions in registration order, then the
// objective functions in registration order. Residuals and rows are
// multiplied by the weight of their equation in the function they belong to.
class Linear_taylor_solver : public Solver {
public:
  Linear_taylor_solver() = default;
  ~Linear_taylor_solver() override = default;

  // Empties the cached values, so the next step evaluates the functions first.
  void reset() override;
  // One step (see the class comment); x and x_out may be the same vector.
  // Throws exception_l (wrapped once) when the functions' value counts do not
  // add up to num_equations or to the target's length, when x does not hold
  // num_dimensions values, when a step list does not hold num_dimensions
  // non-zero steps, or when a function fails. On failure the cache is unchanged.
  void inner_optimise(const std::vector<double>& x, const std::vector<double>& target,
                      std::vector<double>& x_out, double& error, int iteration) override;

private:
  // Weighted values of all functions at x, in equation order. When raw is not
  // null the unweighted values are stored there too.
  std::vector<double> evaluate_weighted(const std::vector<double>& x, std::vector<double>* raw) const;

  // Weighted values at the current point; empty until the first evaluation.
  std::vector<double> cached_values_;
  // The target times the weights, rebuilt whenever the cache is filled from empty.
  std::vector<double> weighted_target_;
};

}  // namespace trel

#endif
