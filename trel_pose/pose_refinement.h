#ifndef TREL_POSE_POSE_REFINEMENT_H
#define TREL_POSE_POSE_REFINEMENT_H

#include <string>
#include <vector>

#include "trel_opt/robust_loss.h"
#include "trel_opt/solver.h"
#include "trel_pose/pose_arrays.h"
#include "trel_pose/pose_camera.h"
#include "trel_pose/pose_summary.h"
#include "trel_tools/matrix.h"
#include "trel_pose/pose_kernel.h"

namespace trel {

// How refine_pose fits a camera pose. The criteria and the rotation code are
// those of the camera_pose_refine plug-in (codes 0, 1, 2, 3, 10, 11, 12, -1,
// -2, -3; search vector = rotation values, then the camera centre in world).
// Smallest scale of the Cauchy and soft L1 losses: below it c^2 is not a
// normal double and the weights 1 / (1 + e^2 / c^2) of errors of a pixel or
// a unit underflow, so that nothing would be fitted.
constexpr double kMinSmoothScale = 1e-150;

struct Pose_refine_options {
  int rotation_code = 0;
  int max_iters = 10;
  // Stop rule of the plug-in's framework road (Solver::optimise); refine_pose
  // does not use it.
  float min_x_step = 0.0f;
  float min_y_step = -10000.0f;
  // Stop rule of the pose kernel (see trel_pose/pose_kernel.h): a step below
  // step_tolerance, or a predicted relative cost decrease below cost_tolerance.
  double step_tolerance = kPoseKernelStepTolerance;
  double cost_tolerance = kPoseKernelCostTolerance;
  // The kernel with the Jacobian of the predicted observations by central
  // differences instead of the analytic one: the same minimum.
  bool finite_differences = false;
  // One weight per equation (observation rows x points x repetitions, in the
  // cost function's order); empty: every equation weighs 1. The robust weights
  // multiply these.
  std::vector<double> weights;
  Loss loss = Loss::squared;
  // The loss's scale: pixels for the pixel codes, camera-frame units for the
  // bearing-vector codes. A point whose reprojection error is below it is an
  // inlier. Must be finite and positive.
  double loss_scale = 1.0;
  // Standard deviation of one observation component when known; 0 estimates
  // the residual variance from the fit (chi-square over the degrees of freedom).
  double sigma = 0.0;
  bool covariance = true;  // compute the pose covariance after the solve

  // The first rule these options break, in words that name the option
  // ("loss_scale should be ..."), or empty when they break none. The rules: a
  // rotation code of the plug-in; max_iters 0 or more; min_x_step and
  // min_y_step not NaN; step_tolerance and cost_tolerance finite, 0 or more;
  // weights finite, 0 or more; loss one of Loss; loss_scale finite and
  // positive; sigma finite, 0 or more. (The number of weights depends on the
  // problem: refine_pose checks it.)
  std::string broken_rule() const;
  // Throws exception_l with the text of broken_rule() when a rule is broken.
  void check() const;
};

struct Pose_refine_result {
  std::vector<double> x;  // refined search vector, in the parameterisation of the code
  Pose_summary summary;
};

// Relative tolerance of the normal matrix's rank: eigenvalues at or below it
// times the largest count as zero.
constexpr double kCovarianceRankTolerance = 1e-12;
// Above this condition number of the normal matrix no covariance is given.
constexpr double kCovarianceMaxCondition = 1e10;

// Threads: refine_pose, pose_point_jacobian and pose_finite_difference_steps
// keep no state between calls and touch nothing global, so any number of
// threads may call them at once, also on the same (unmodified) inputs. A
// Pose_kernel workspace belongs to one thread at a time.
//
// Refines a camera pose. K: 3 x 3 intrinsics [fx s cx; 0 fy cy; 0 0 1], or
// any non-zero multiple of it (the identity for the bearing-vector codes); points: N world points (X, Y, Z); observations: the
// target in the cost function's layout (N pixel pairs, or N camera-frame
// points for the bearing-vector codes; the hybrid codes take the N pixel
// pairs once); start: the search vector. Throws exception_l on bad input.
//
// The pose kernel (trel_pose/pose_kernel.h) refines the pose: the start
// vector of any code is turned into (R, centre), Gauss-Newton runs on
// R <- exp([delta]x) R and the centre, and the result is turned back into the
// code's parameterisation, the representation nearest the start's
// (quaternions: the start's sign and length; angle-axis: the start's axis
// length, the axis sign and the angle turn nearest the start; rotation
// vectors: the angle turn nearest the start). Row weights are the squared user
// weights summed over a point row's repetitions; with a robust loss, point
// i's error e_i is the norm of its unweighted residual and its weight W_i the
// sum of the squared user weights of the point's equations divided by the
// rows per point. The summary: iterations = steps, initial_error and
// final_error = the kernel's cost (the weighted sum of squares with the
// squared loss, sum_i W_i rho(e_i^2) otherwise), stop_reason min_x_step for
// the step rule and min_y_step for the cost rule, returned_iteration, and the
// fields below. min_x_step and min_y_step are not used.
//
// The truncated loss starts graduated (kPoseKernelGraduatedRows). When every
// user weight is 0 the summary says nothing_to_fit and the start is returned.
//
// Inliers: a point with a non-zero user weight whose error at the result is
// below loss_scale; with the squared loss every point of non-zero weight.
//
// Inliers are also in front of the camera (positive depth), and only when
// the pose faces its points (Pose_summary::faces_points).
//
// Covariance (when options.covariance), over (delta, t) (Pose_summary), J the
// 2 x 6 (3 x 6) Jacobian of a point's residual at the result, w the squared
// user weight of a row. The hybrids use their first repetition only:
// repeating a residual adds no information.
//   Squared loss: Cov = s^2 N^-1, N = sum J^T w J, s = sigma when given,
//   otherwise s^2 = sum w r^2 / (m - 6), m the rows of non-zero weight.
//   Robust loss: the sandwich Cov = s^2 H^-1 B H^-1 with H = sum J^T w
//   (rho' I + 2 s_i rho'' r r^T / s_i) J the Gauss-Newton Hessian of the
//   robust cost (rho'' included: a point near the scale informs less than its
//   IRLS weight says) and B = sum rho'^2 J^T w J, s^2 = sum rho'^2 w r^2 /
//   sum rho'^2 times m / (m - 6) (the outliers, rho' near 0, drop out of both);
//   with sigma given, s^2 B = sigma^2 sum rho'^2 J^T w^2 J. Scaling N by the
//   robust weights alone (the IRLS normal matrix) is optimistic with outliers
//   (mean NEES 6.8 for Cauchy at 20 % outliers); the sandwich keeps it near 6
//   (bench/bench_robust_accuracy prints the figures).
// Rank and condition number are those of N (robust: H) scaled to a unit
// diagonal, so that the choice of units does not change them. No covariance,
// and covariance_reason says why, when the rank is below 6
// (kCovarianceRankTolerance), the condition number exceeds
// kCovarianceMaxCondition, sigma is 0 and m <= 6, H is not positive definite,
// the pose does not face its points, or the covariance overflows (sigma 1e300).
//
// Refused (exception_l naming the cause) besides malformed input: a K that is
// all zero, has a zero third row, an entry below the diagonal that is not 0 or
// is singular (pixel codes); a start that
// names no rotation (a quaternion of length 0, an angle-axis of zero axis and
// non-zero angle, an angle beyond 1e6 rad); all-zero camera-frame
// observations; a start whose cost is not finite (a point at the camera
// centre or in its focal plane, errors or weighted sums too large for a
// double). User weights are used relative to their largest, so weights of
// 1e-162 or 1e150 fit as weights of 1 do; the errors are reported in the
// weights' units and refused when they overflow there.
Pose_refine_result refine_pose(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                               const std::vector<double>& observations, const std::vector<double>& start,
                               const Pose_refine_options& options = Pose_refine_options());
// The same, the kernel path keeping its storage in `workspace`, so that
// repeated calls of the same size allocate nothing in the kernel.
Pose_refine_result refine_pose(const matrix<double>& K, const std::vector<std::vector<double>>& points,
                               const std::vector<double>& observations, const std::vector<double>& start,
                               const Pose_refine_options& options, Pose_kernel<double>& workspace);

// The same over a camera model and flat arrays: the camera's lens model
// (trel_pose/pose_camera.h) turns every point into its observed pixel, in the
// kernel, the inliers and the covariance alike, so that the loss scale and the
// errors stay in observed pixels (the bearing-vector codes ignore the camera).
// points: N rows (X, Y, Z); observations: the target in the code's layout, as
// above. The K overloads above are this with make_camera_model(K) and the
// points copied into one block. A camera with distortion refines on the
// kernel only: finite_differences then differentiates the lens camera too.
Pose_refine_result refine_pose(const Camera_model& camera, const Points_view& points,
                               const Values_view& observations, const std::vector<double>& start,
                               const Pose_refine_options& options = Pose_refine_options());
Pose_refine_result refine_pose(const Camera_model& camera, const Points_view& points,
                               const Values_view& observations, const std::vector<double>& start,
                               const Pose_refine_options& options, Pose_kernel<double>& workspace);

// The Jacobian (row-major, 2 x 6 for pixels, 3 x 6 for the camera-frame point
// when bearing) of world point X's predicted observation at the pose (R, centre)
// with respect to (delta, t) of the covariance's parameterisation.
std::vector<double> pose_point_jacobian(const matrix<double>& K, const std::vector<double>& point,
                                        const matrix<double>& R, const std::vector<double>& centre, bool bearing);

// The cube root of the double epsilon: the step (relative to a value's size)
// that balances the truncation and rounding errors of central differences.
constexpr double kFiniteDifferenceStep = kPoseKernelDifferenceStep;

// One central-difference step per search value: kFiniteDifferenceStep times
// max(1, |x_d|) for the nrot rotation values and times max(1, |x_d|, the mean
// distance of the points from the centre x[nrot..nrot+2]) for the position
// values (the scene scale only when x holds nrot + 3 values).
std::vector<double> pose_finite_difference_steps(const std::vector<double>& x, int nrot,
                                                 const std::vector<std::vector<double>>& points);

}  // namespace trel

#endif
