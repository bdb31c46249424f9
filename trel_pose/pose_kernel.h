#ifndef TREL_POSE_POSE_KERNEL_H
#define TREL_POSE_POSE_KERNEL_H

#include <cstddef>
#include <vector>

#if __has_include("trel_opt/min_norm_least_squares.h")
#include "trel_opt/min_norm_least_squares.h"
#else
#include "trel_opt/linear_taylor_solver.h"
#endif
#include "trel_opt/robust_loss.h"
#include "trel_opt/solver.h"
#include "trel_pose/camera_model.h"

namespace trel {

// Default stop rule of the pose kernel. A step whose size, sqrt(|delta|^2 +
// |dt|^2 / s^2) with delta in radians and s the root mean square distance of
// the points from the start centre, is below kPoseKernelStepTolerance ends
// the run after it is applied. A step whose decrease of the cost, as the
// linearised model predicts it (g^T N^-1 g for the gradient g = J^T W r and the
// normal matrix N), is below kPoseKernelCostTolerance times the cost is not
// taken: the run ends at the pose it would start from. A step that raises the
// cost is halved, kPoseKernelHalvings times at most; one that still does not
// lower it ends the run. Gauss-Newton converges quadratically near a
// minimum of small residuals, so from a start a few degrees off the run ends
// after the 3rd or 4th step; with large residuals (gross outliers under the
// squared loss) convergence is linear and the run takes more steps.
constexpr double kPoseKernelStepTolerance = 1e-10;
constexpr double kPoseKernelCostTolerance = 1e-14;
constexpr int kPoseKernelHalvings = 8;
// Upper bound of the condition number of the normal matrix, after scaling it
// to a unit diagonal, up to which a step is solved by LDLT of the 6 x 6 normal
// equations. Above it (or when a pivot is not positive) the step is the
// minimum-norm least-squares solution of the stacked weighted rows instead,
// which never squares the condition number.
constexpr double kPoseKernelMaxCondition = 1e8;
// Graduated start of the truncated loss. Its weight is 0 beyond the scale, so
// from a start where (nearly) every error exceeds it IRLS has nothing to fit
// and would never move. While fewer than kPoseKernelGraduatedRows rows of
// non-zero weight lie within the scale, a step is instead the Cauchy step at
// the graduated scale max(loss_scale, median error of the points of non-zero
// weight), taken with the halving rule on that Cauchy cost: the scale covers
// the residuals at first and shrinks towards loss_scale as the pose improves
// (graduated non-convexity). Once enough rows lie within the scale, the steps
// are truncated IRLS. The pose returned is still the one of the lowest
// truncated cost seen (ties go to the later pose).
constexpr int kPoseKernelGraduatedRows = 6;
// The cube root of the double epsilon: the step (relative to a value's size)
// that balances the truncation and rounding errors of central differences.
constexpr double kPoseKernelDifferenceStep = 6.0e-6;

// The scale of the truncated loss's graduated start: max(loss_scale, median
// error of the points of non-zero weight), the median the element at index
// n / 2 of the n squared errors of those points. point_weights: nullptr when
// every point weighs; scratch receives the squared errors of those points.
template <typename T>
T pose_graduated_scale(T loss_scale, const std::vector<T>& squared, const T* point_weights, std::vector<T>& scratch);

// R = exp([delta]x) R, R row-major 3 x 3 (Rodrigues' formula, series near 0).
template <typename T>
void rotate_by_vector(const T delta[3], T R[9]);

template <typename T>
struct Pose_kernel_settings {
  int max_iters = 10;  // steps at most; 0 evaluates the start only
  T step_tolerance = T(kPoseKernelStepTolerance);
  T cost_tolerance = T(kPoseKernelCostTolerance);
  Loss loss = Loss::squared;
  T loss_scale = T(1);
  bool bearing = false;  // 3 rows per point (the camera-frame point) instead of 2 pixels
  // The Jacobian by central differences of the predicted rows (steps of
  // kPoseKernelDifferenceStep in delta, and that times max(1, |t_k|, the rms
  // distance of the points from the start centre) in t) instead of the
  // analytic one. The same minimum; for checking the analytic derivatives.
  bool central_differences = false;
};

template <typename T>
struct Pose_kernel_outcome {
  T R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};  // returned rotation, camera to world, row-major
  T centre[3] = {0, 0, 0};               // returned camera centre
  int iterations = 0;                    // steps taken
  int returned_iteration = 0;            // steps that led to the returned pose; 0 is the start
  T initial_cost = T(0);
  T final_cost = T(0);                   // at the returned pose
  T initial_squared_sum = T(0);          // sum of the points' e_i^2 at the start
  Stop_reason stop_reason = Stop_reason::max_iters;  // min_x_step: step rule, min_y_step: cost rule
  int min_norm_steps = 0;  // steps solved by the minimum-norm solve of the stacked rows
  int graduated_steps = 0;  // steps of the truncated loss's graduated start
  bool no_weight = false;   // every row had weight 0: nothing was fitted, the start is returned
};

// Gauss-Newton refinement of a camera pose on SO(3) x R^3 (the rows and
// Jacobians of trel_pose/camera_model.h): each step perturbs
// the rotation locally, R <- exp([delta]x) R, and moves the centre by dt,
// whatever parameterisation the caller keeps. One pass over the points gives
// the residuals, the cost and the 6 x 6 normal matrix and gradient; nothing of
// the Jacobian is stored (except when a step falls back to the minimum-norm
// solve). The object keeps its storage: calls of the same or smaller size
// allocate nothing.
//
// Residual of a point: predicted - observed (2 pixel rows or 3 camera-frame
// rows). Row weights w_ir (the squared weight of the row, summed over any
// repeated equations): nullptr for 1. Cost:
//   squared loss: sum_ir w_ir res_ir^2;
//   robust loss:  sum_i W_i rho(e_i^2), e_i^2 = sum_r res_ir^2, W_i the point
//                 weights (nullptr for 1), rho of trel_opt/robust_loss.h.
// With a robust loss each step is iteratively reweighted: row weight w_ir
// times rho'(e_i^2) at the pose the step starts from. The pose of the lowest
// cost seen is returned; a step that raises the cost ends the run. The
// truncated loss starts graduated (kPoseKernelGraduatedRows). When every
// row or point weight is 0 no step is taken and the outcome says no_weight.
// A start whose cost is not finite is refused (exception_l naming the cause:
// a point at the camera centre or in its focal plane, an error or a weighted
// sum too large for a double); the start is never returned as an answer.
template <typename T>
class Pose_kernel {
public:
  // K: row-major 3 x 3 (unused when bearing). points: N world points, 3 values
  // each. observations: N * rows values. R0: row-major 3 x 3 rotation, c0: the
  // start centre. The caller checks the sizes.
  Pose_kernel_outcome<T> refine(const T* K, const std::vector<std::vector<T>>& points, const T* observations,
                                const T* row_weights, const T* point_weights, const T* R0, const T* c0,
                                const Pose_kernel_settings<T>& settings);

  // Squared error e_i^2 of every point at the returned pose of the last refine.
  const std::vector<T>& squared_errors() const { return best_squared_; }

private:
  struct Problem;
  // Differences: the Jacobian by central differences (settings.central_differences).
  template <int Rows, bool Accumulate, Loss L, bool Differences>
  T pass(const Problem& p, const T* R, const T* t);
  template <int Rows, bool Accumulate, bool Differences>
  T pass_for_loss(const Problem& p, const T* R, const T* t);
  template <int Rows>
  T evaluate_rows(const Problem& p, const T* R, const T* t, bool accumulate);
  T evaluate(const Problem& p, const T* R, const T* t, bool accumulate);
  bool has_weighted_row(const Problem& p) const;
  int rows_within_scale(const Problem& p) const;
  T graduated_scale(const Problem& p);
  T cost_of_squared(const Problem& p) const;
  void check_start_cost(const Problem& p, const T* R, const T* t, T cost) const;
  // dx from the normal equations; false when they are too ill-conditioned.
  bool solve_normal(T dx[6]) const;
  template <int Rows>
  void solve_stacked(const Problem& p, const T* R, const T* t, T dx[6]);

  T normal_[6][6] = {};
  T gradient_[6] = {};
  std::vector<T> squared_;       // e_i^2 at the pose last evaluated
  std::vector<T> best_squared_;  // e_i^2 at the best pose
  std::vector<T> scratch_;       // squared errors of the graduated scale's median
  std::vector<T> stacked_;       // weighted Jacobian rows of the minimum-norm solve
  std::vector<T> stacked_rhs_;
  Min_norm_least_squares<T> least_squares_;
};

extern template class Pose_kernel<double>;
extern template void rotate_by_vector<double>(const double*, double*);
extern template double pose_graduated_scale<double>(double, const std::vector<double>&, const double*,
                                                    std::vector<double>&);

}  // namespace trel

#endif
