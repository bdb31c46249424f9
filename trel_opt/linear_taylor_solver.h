#ifndef TREL_OPT_LINEAR_TAYLOR_SOLVER_H
#define TREL_OPT_LINEAR_TAYLOR_SOLVER_H

#include <cstddef>
#include <vector>

#include <opencv2/core.hpp>

#include "trel_opt/min_norm_least_squares.h"
#include "trel_opt/solver.h"

namespace trel {

// Gauss-Newton: each step linearises every registered function at the current
// point (analytic rows from the gradient functions, central finite differences
// for the objective functions), solves J dx = r in the least-squares sense by
// SVD (minimum-norm when rank-deficient or underdetermined), applies dx (damped
// by 2 / (i + 2) from the second step on when decreasing_step_size is set) and
// evaluates the weighted squared error sum (w (f - target))^2 at the new point,
// the quantity the step minimises.
//
// Finite differences: with D(s) the central difference (f_j(x + s e_d) -
// f_j(x - s e_d)) / (2 s), row j, column d is the extrapolation
// (4 D(h_d / 2) - D(h_d)) / 3 from the step h_d of the function's step list,
// whose error is of order h^4 rather than h^2; E = (D(h_d / 2) - D(h_d)) / 3,
// the error of D(h_d / 2), bounds what is left of it. When objective functions
// are registered, a singular value sigma_j of J (right singular vector v_j)
// counts as zero when it is at or below kFiniteDifferenceRankTolerance of
// the largest or at or below |E v_j|, so that a direction the functions do not
// depend on is not stepped along, whether the differences give it as rounding
// noise (small steps) or as truncation error (steps of a few hundredths, which
// would otherwise send the search vector far along a direction that changes
// nothing, such as the length of an angle-axis axis).
//
// Equation order, for values, target and Jacobian rows alike: the base
// functions of the gradient functions in registration order, then the
// objective functions in registration order. Residuals and rows are
// multiplied by the weight of their equation in the function they belong to.
class Linear_taylor_solver : public Solver {
public:
  static constexpr double kFiniteDifferenceRankTolerance = 1e-8;

  Linear_taylor_solver() = default;
  ~Linear_taylor_solver() override = default;

  // Empties the cached values, so the next step evaluates the functions first.
  void reset() override;
  // One step (see the class comment); x and x_out may be the same vector.
  // Throws exception_l (wrapped once) when the functions' value counts do not
  // add up to num_equations or to the target's length, when x does not hold
  // num_dimensions values, when a step list does not hold num_dimensions
  // non-zero steps, when a residual or a Jacobian entry is not finite (naming
  // the iteration), or when a function fails. On failure the cache is unchanged.
  void inner_optimise(const std::vector<double>& x, const std::vector<double>& target,
                      std::vector<double>& x_out, double& error, int iteration) override;

protected:
  // dx = the minimum-norm least-squares solution of J dx = r (J rows x cols,
  // continuous CV_64F; dx holds cols values), singular values at or below
  // relative_tolerance of the largest, or at or below the estimated error of
  // J along their direction (finite_difference_error_gram), counting as zero
  // as well. With neither (analytic rows only) the normal equations give it
  // when J is well conditioned or has one exact null direction
  // (Min_norm_least_squares::solve_well_conditioned).
  virtual void solve_linear_system(const cv::Mat& jacobian, const std::vector<double>& residual,
                                   std::vector<double>& dx, double relative_tolerance);
  // E^T E (cols x cols, row-major) for the error estimate E of the
  // finite-difference rows of the last step's Jacobian; empty when no
  // objective function is registered.
  const std::vector<double>& finite_difference_error_gram() const { return error_gram_; }

private:
  // Weighted values of all functions at x, in equation order.
  void evaluate(const std::vector<double>& x, std::vector<double>& weighted) const;

  // The parts of one step. `signature` is the function text their errors carry
  // (that of inner_optimise, whose frame wraps them).
  void run_step(const char* signature, const std::vector<double>& x, const std::vector<double>& target,
                std::vector<double>& x_out, double& error, int iteration);
  // Weighted values at x and weighted target, filled from empty.
  void fill_start_values(const char* signature, const std::vector<double>& x, const std::vector<double>& target,
                         std::vector<double>& values, std::vector<double>& weighted_target) const;
  // residual_ = weighted target - weighted values, after checking their counts.
  void fill_residuals(const char* signature, const std::vector<double>& cached,
                      const std::vector<double>& weighted_target, int iteration);
  // jacobian_ (weighted rows) and error_gram_ at x.
  void fill_jacobian(const char* signature, const std::vector<double>& x, int iteration);
  // The gradient functions' rows from row 0; returns the row after them.
  int fill_analytic_rows(const char* signature, const std::vector<double>& x);
  // Objective function i's rows from `row` by finite differences; returns their number.
  int fill_finite_difference_rows(const char* signature, std::size_t i, const std::vector<double>& x, int row);
  void fill_finite_difference_column(const char* signature, std::size_t i, const std::vector<double>& x, int row,
                                     int d, std::size_t& count);
  // x plus the (damped) least-squares update.
  std::vector<double> take_step(const std::vector<double>& x, int iteration);
  // The weighted squared error at x_new; leaves the weighted values in next_values_.
  double error_at(const std::vector<double>& x_new, const std::vector<double>& weighted_target);

  // Weighted values at the current point; empty until the first evaluation.
  std::vector<double> cached_values_;
  // The target times the weights, rebuilt whenever the cache is filled from empty.
  std::vector<double> weighted_target_;

  // Scratch kept between steps so that a step of the same size allocates
  // nothing for them.
  cv::Mat jacobian_;
  std::vector<double> residual_;
  std::vector<double> dx_;
  std::vector<double> shifted_x_;
  std::vector<double> next_values_;
  std::vector<double> error_gram_;
  cv::Mat fd_error_;  // error estimate of one objective function's rows
  Min_norm_least_squares<double> least_squares_;
};

}  // namespace trel

#endif
