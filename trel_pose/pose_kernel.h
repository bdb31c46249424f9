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
#include "trel_pose/lens_projector.h"

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

// One camera the kernel projects through: its model (the pinhole behind a
// lens model; Lens_model::none for the pinhole alone) and its pose in the rig
// frame (identity and 0 for a single camera). With the rig at (R, t), the
// camera sits at R R_cam_to_rig and t + R centre_in_rig.
template <typename T>
struct Pose_kernel_camera {
  Lens_camera_model<T> model;
  T R_cam_to_rig[9] = {T(1), T(0), T(0), T(0), T(1), T(0), T(0), T(0), T(1)};
  T centre_in_rig[3] = {T(0), T(0), T(0)};
};

// The camera's pose in the world, at the rig pose (R_rig_to_world, rig_centre).
template <typename T>
void camera_pose_in_world(const Pose_kernel_camera<T>& camera, const T* R_rig_to_world, const T* rig_centre,
                          T R_cam_to_world[9], T centre_in_world[3]) {
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c)
      R_cam_to_world[3 * r + c] = R_rig_to_world[3 * r] * camera.R_cam_to_rig[c] +
                                  R_rig_to_world[3 * r + 1] * camera.R_cam_to_rig[3 + c] +
                                  R_rig_to_world[3 * r + 2] * camera.R_cam_to_rig[6 + c];
    centre_in_world[r] = rig_centre[r] + R_rig_to_world[3 * r] * camera.centre_in_rig[0] +
                         R_rig_to_world[3 * r + 1] * camera.centre_in_rig[1] +
                         R_rig_to_world[3 * r + 2] * camera.centre_in_rig[2];
  }
}

// What the kernel fits: N world points (row-major N x 3), their observations
// (N * rows values), the weights, and the cameras that saw them.
template <typename T>
struct Pose_kernel_input {
  const T* points = nullptr;
  std::size_t count = 0;
  const T* observations = nullptr;
  // Row weights w_ir (the squared weight of the row, summed over any repeated
  // equations) and point weights W_i: nullptr for 1.
  const T* row_weights = nullptr;
  const T* point_weights = nullptr;
  const Pose_kernel_camera<T>* cameras = nullptr;  // at least one
  std::size_t camera_count = 1;
  const int* camera_of_point = nullptr;  // nullptr: every point is camera 0's
};

// Gauss-Newton refinement of a camera (or rig) pose on SO(3) x R^3 (the rows
// and Jacobians of trel_pose/camera_model.h and lens_projector.h): each step
// perturbs the rotation locally, R <- exp([delta]x) R, and moves the centre by
// dt, whatever parameterisation the caller keeps. A rig camera's rows have the
// Jacobian (a x (X - t), -a) with respect to the rig's (delta, t), a the row's
// gradient with respect to the world point. One pass over the points gives the
// residuals, the cost and the 6 x 6 normal matrix and gradient; nothing of the
// Jacobian is stored (except when a step falls back to the minimum-norm
// solve). The object keeps its storage: calls of the same or smaller size
// allocate nothing.
//
// Residual of a point: predicted - observed (2 pixel rows or 3 camera-frame
// rows). Cost:
//   squared loss: sum_ir w_ir res_ir^2;
//   robust loss:  sum_i W_i rho(e_i^2), e_i^2 = sum_r res_ir^2, rho of
//                 trel_opt/robust_loss.h.
// With a robust loss each step is iteratively reweighted: row weight w_ir
// times rho'(e_i^2) at the pose the step starts from. The pose of the lowest
// cost seen is returned; a step that raises the cost ends the run. The
// truncated loss starts graduated (kPoseKernelGraduatedRows). When every
// row or point weight is 0 no step is taken and the outcome says no_weight.
// A start whose cost is not finite is refused (exception_l naming the cause:
// a point at the camera centre or in its focal plane, an error or a weighted
// sum too large for a double); the start is never returned as an answer.
// The bearing rows (settings.bearing) take one camera at the rig origin.
template <typename T>
class Pose_kernel {
public:
  Pose_kernel_outcome<T> refine(const Pose_kernel_input<T>& input, const T* R0, const T* c0,
                                const Pose_kernel_settings<T>& settings);

  // The same for one pinhole camera: K row-major 3 x 3 (unused when bearing),
  // points N world points of 3 values each (the caller checks the sizes).
  Pose_kernel_outcome<T> refine(const T* K, const std::vector<std::vector<T>>& points, const T* observations,
                                const T* row_weights, const T* point_weights, const T* R0, const T* c0,
                                const Pose_kernel_settings<T>& settings);

  // Squared error e_i^2 of every point at the returned pose of the last refine.
  const std::vector<T>& squared_errors() const { return best_squared_; }

  // The squared loss's normal matrix sum J^T w J (row-major 6 x 6, analytic
  // Jacobian) of the last refine's last accumulating pass, when that pass lay
  // within `distance` of the returned pose (the step measure of the stop rule)
  // and every point weighed with the squared loss; false otherwise.
  bool normal_near_result(T distance, T normal[36]) const;

private:
  struct Problem;
  template <typename Projector, int Rows, bool Accumulate, Loss L, bool Differences>
  T pass(const Problem& p, const T* R, const T* t);
  template <typename Projector, int Rows, bool Accumulate, bool Differences>
  T pass_for_loss(const Problem& p, const T* R, const T* t);
  template <typename Projector, int Rows>
  T evaluate_rows(const Problem& p, const T* R, const T* t, bool accumulate);
  T evaluate(const Problem& p, const T* R, const T* t, bool accumulate);
  bool has_weighted_row(const Problem& p) const;
  int rows_within_scale(const Problem& p) const;
  T graduated_scale(const Problem& p);
  T cost_of_squared(const Problem& p) const;
  void check_start_cost(const Problem& p, const T* R, const T* t, T cost) const;
  // dx from the normal equations; false when they are too ill-conditioned.
  bool solve_normal(T dx[6]) const;
  template <typename Projector, int Rows>
  void solve_stacked(const Problem& p, const T* R, const T* t, T dx[6]);
  void solve_step(const Problem& p, const T* R, const T* t, T dx[6], Pose_kernel_outcome<T>& out);
  struct Step;
  bool take_step(const Problem& p, const Problem& smooth_problem, Step& s, T R[9], T t[3],
                 Pose_kernel_outcome<T>& out);
  T line_search(const Problem& step_problem, T dx[6], T step_cost, bool small_step, bool accumulate, T R[9],
                T t[3]);

  T normal_[6][6] = {};
  T gradient_[6] = {};
  // The pose and loss of the last accumulating pass.
  T normal_R_[9] = {};
  T normal_t_[3] = {};
  bool normal_squared_ = false;
  T spread_ = T(0);
  T returned_R_[9] = {};
  T returned_t_[3] = {};
  std::vector<T> squared_;       // e_i^2 at the pose last evaluated
  std::vector<T> best_squared_;  // e_i^2 at the best pose
  std::vector<T> scratch_;       // squared errors of the graduated scale's median
  std::vector<T> stacked_;       // weighted Jacobian rows of the minimum-norm solve
  std::vector<T> stacked_rhs_;
  std::vector<T> flat_points_;   // the vector-of-vectors overload's points
  Min_norm_least_squares<T> least_squares_;
};

extern template class Pose_kernel<double>;
extern template void rotate_by_vector<double>(const double*, double*);
extern template double pose_graduated_scale<double>(double, const std::vector<double>&, const double*,
                                                    std::vector<double>&);

}  // namespace trel

#endif
