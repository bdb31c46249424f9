#ifndef TREL_TOOLS_POSE_KERNEL_H
#define TREL_TOOLS_POSE_KERNEL_H

#include <cstddef>
#include <vector>

#if __has_include("trel_opt/min_norm_least_squares.h")
#include "trel_opt/min_norm_least_squares.h"
#else
#include "trel_opt/linear_taylor_solver.h"
#endif
#include "trel_opt/robust_loss.h"
#include "trel_opt/solver.h"

namespace trel {

// Default stop rule of the pose kernel. A step whose size, sqrt(|delta|^2 +
// |dt|^2 / s^2) with delta in radians and s the root mean square distance of
// the points from the start centre, is below k_pose_kernel_step_tolerance ends
// the run after it is applied; so does a step that lowers the cost by less than
// k_pose_kernel_cost_tolerance of the cost before it (or raises it). Gauss-Newton
// converges quadratically near the minimum, so from a start a few degrees off
// the cost rule stops on the 3rd or 4th step, the step before having already
// reached the minimum to about 1e-8 radians.
constexpr double k_pose_kernel_step_tolerance = 1e-10;
constexpr double k_pose_kernel_cost_tolerance = 1e-10;
// Upper bound of the condition number of the normal matrix, after scaling it
// to a unit diagonal, up to which a step is solved by LDLT of the 6 x 6 normal
// equations. Above it (or when a pivot is not positive) the step is the
// minimum-norm least-squares solution of the stacked weighted rows instead,
// which never squares the condition number.
constexpr double k_pose_kernel_max_condition = 1e8;

// Predicted observation of world point X at the pose (R, t), R camera to world
// (row-major 3 x 3) and t the camera centre, and its Jacobian with respect to
// (delta, t), R perturbed as exp([delta]x) R: with c = R^T (X - t), the pixel
// (K c)_0,1 / (K c)_2 (Rows = 2, K row-major 3 x 3) or c itself (Rows = 3, K
// unused).
template <typename T, int Rows>
inline void pose_point_prediction(const T* K, const T* R, const T* t, const T* X, T predicted[Rows],
                                  T jacobian[Rows][6]) {
  const T v[3] = {X[0] - t[0], X[1] - t[1], X[2] - t[2]};
  // c = R^T v; dc/ddelta = R^T [v]x, dc/dt = -R^T.
  T c[3];
  T jc[3][6];
  for (int k = 0; k < 3; ++k) {
    const T a0 = R[k], a1 = R[3 + k], a2 = R[6 + k];  // row k of R^T
    c[k] = a0 * v[0] + a1 * v[1] + a2 * v[2];
    jc[k][0] = a1 * v[2] - a2 * v[1];
    jc[k][1] = a2 * v[0] - a0 * v[2];
    jc[k][2] = a0 * v[1] - a1 * v[0];
    jc[k][3] = -a0;
    jc[k][4] = -a1;
    jc[k][5] = -a2;
  }
  if constexpr (Rows == 3) {
    (void)K;
    for (int k = 0; k < 3; ++k) {
      predicted[k] = c[k];
      for (int d = 0; d < 6; ++d) jacobian[k][d] = jc[k][d];
    }
  } else {
    // p = K c, u = p0 / p2: du/dc = (K_0 - u K_2) / p2.
    T p[3];
    for (int k = 0; k < 3; ++k) p[k] = K[3 * k] * c[0] + K[3 * k + 1] * c[1] + K[3 * k + 2] * c[2];
    const T inverse_depth = T(1) / p[2];
    for (int r = 0; r < 2; ++r) {
      predicted[r] = p[r] * inverse_depth;
      T dpix[3];
      for (int k = 0; k < 3; ++k) dpix[k] = (K[3 * r + k] - predicted[r] * K[6 + k]) * inverse_depth;
      for (int d = 0; d < 6; ++d) jacobian[r][d] = dpix[0] * jc[0][d] + dpix[1] * jc[1][d] + dpix[2] * jc[2][d];
    }
  }
}

// R = exp([delta]x) R, R row-major 3 x 3 (Rodrigues' formula, series near 0).
template <typename T>
void rotate_by_vector(const T delta[3], T R[9]);

template <typename T>
struct Pose_kernel_settings {
  int max_iters = 10;  // steps at most; 0 evaluates the start only
  T step_tolerance = T(k_pose_kernel_step_tolerance);
  T cost_tolerance = T(k_pose_kernel_cost_tolerance);
  Loss loss = Loss::squared;
  T loss_scale = T(1);
  bool bearing = false;  // 3 rows per point (the camera-frame point) instead of 2 pixels
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
};

// Gauss-Newton refinement of a camera pose on SO(3) x R^3: each step perturbs
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
// cost seen is returned; a step that raises the cost ends the run.
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
  template <int Rows, bool Accumulate, Loss L>
  T pass(const Problem& p, const T* R, const T* t);
  template <int Rows, bool Accumulate>
  T pass_for_loss(const Problem& p, const T* R, const T* t);
  T evaluate(const Problem& p, const T* R, const T* t, bool accumulate);
  // dx from the normal equations; false when they are too ill-conditioned.
  bool solve_normal(T dx[6]) const;
  template <int Rows>
  void solve_stacked(const Problem& p, const T* R, const T* t, T dx[6]);

  T normal_[6][6] = {};
  T gradient_[6] = {};
  std::vector<T> squared_;       // e_i^2 at the pose last evaluated
  std::vector<T> best_squared_;  // e_i^2 at the best pose
  std::vector<T> stacked_;       // weighted Jacobian rows of the minimum-norm solve
  std::vector<T> stacked_rhs_;
  Min_norm_least_squares<T> least_squares_;
};

extern template class Pose_kernel<double>;
extern template void rotate_by_vector<double>(const double*, double*);

}  // namespace trel

#endif
