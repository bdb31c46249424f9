#ifndef CAMERA_POSE_REFINE_CAMERA_POSE_REFINE_H
#define CAMERA_POSE_REFINE_CAMERA_POSE_REFINE_H

#include <array>
#include <cstddef>
#include <vector>

#include "camera_pose_refine/mex_host_interface.h"
#include "camera_pose_refine/plugin_options.h"
#include "camera_pose_refine/camera_position_rotation_codes.h"
#include "trel_pose/pose_refinement.h"
#include "trel_opt/solver.h"

namespace trel {

// Error identifier of every failure raised through the host.
constexpr const char* kMexErrorId = "Mex:exception";

// One validated call, in the system's own types. The rotation code fixes nrot,
// observation_rows and repetitions (rotation_codes() in
// camera_position_rotation_codes.h). For the -bv codes the observations are the
// points in the camera frame, R^T (X - t): a bearing vector scaled by the point's
// depth, not a unit vector (K must be the identity). A hybrid searches in its first
// parameterisation and repeats the pixel equations once per parameterisation.
struct Pose_refine_arguments {
  int rotation_type = 0;
  int nrot = 3;
  int observation_rows = 2;
  int repetitions = 1;
  int ndims = 6;     // nrot + 3: rotation values, then the camera centre t in world
  int npts = -1;     // number of 3-D points
  int num_eqs = -1;  // observation_rows * npts * repetitions

  std::vector<double> x;  // initial search vector, ndims values
  double k11 = 0.0;       // focal length in pixels, both axes
  double k13 = 0.0;       // principal point x, pixels
  double k23 = 0.0;       // principal point y, pixels

  std::vector<std::vector<double>> points;  // npts world points (X, Y, Z)
  // Repetition j, point i, row r at index j * observation_rows * npts
  // + i * observation_rows + r: the layout of the cost function's output.
  std::vector<double> target;

  int max_iters = 10;
  float min_x_step = 0.0f;
  float min_y_step = -10000.0f;
  bool use_finite_difference = false;

  std::vector<double> weights;  // empty: no weight set (every equation weighs 1.0)

  // One central-difference step per search value, scaled to the value's size:
  // kFiniteDifferenceStep (trel_pose/pose_refinement.h) times max(1, |x_d|) for the rotation values and
  // times max(1, |x_d|, the mean distance of the points from the start centre)
  // for the position values, so that rounding and truncation errors stay near
  // 1e-10 of each Jacobian column.
  std::vector<double> finite_difference_steps() const;
};

// Checks the inputs of one call in the entry's fixed order and converts them.
// prhs holds nrhs input arrays. Throws exception_l at depth 0, in the entry's frame,
// at the first failing check; reads no data of an array before its class and size
// have been checked.
Pose_refine_arguments read_pose_refine_arguments(const Mex_host& host, int nlhs, int nrhs,
                                                 const Mex_array* const prhs[]);

// The plug-in's whole driver, host-independent: checks and converts the inputs,
// reads the options of input 7 when given (read_refine_options; without it the
// squared loss), refines the pose with the linearised least-squares solver (iteratively
// reweighted for a robust loss) and stores the refined
// search vector (1 by ndims, same parameterisation as input 1) in plhs[0] (also for
// nlhs 0, the host's `ans`) and, when nlhs is 2, the summary of the solve in plhs[1]
// as a 1 by 1 struct (pose_refine_summary_fields). plhs holds at least
// max(nlhs, 1) slots, prhs holds nrhs inputs. Every failure becomes one host error
// with the identifier "Mex:exception" and the exception's text, and no output is
// set. Nothing is printed.
void camera_pose_refine_entry(Mex_host& host, int nlhs, Mex_array* plhs[], int nrhs,
                              const Mex_array* const prhs[]);

// Reads input 7, the options struct, into the loss, loss_scale, sigma and covariance
// of the options (the rest keep their defaults; fields the struct does not hold too).
// Its fields: loss ('squared', 'huber', 'cauchy', 'soft_l1' or 'truncated'),
// loss_scale (finite, positive), sigma (finite, 0 or more), covariance (logical
// scalar, or 0 or 1). Throws exception_l at depth 0 in the entry's frame, naming the
// field, for anything else: not a 1 by 1 struct, an unknown field, a value of the
// wrong class, size or range.
//
// The lens fields (lens_option_fields) go into *lens when it is given.
Pose_refine_options read_refine_options(const Mex_host& host, const Mex_array* a, Entry_lens* lens = nullptr);


// The readers of single inputs that read_pose_refine_arguments runs, for entries
// taking the same inputs in another arrangement. Each throws exception_l at depth 0
// in the entry's frame, as read_pose_refine_arguments does.
// Input 5: the rotation code (a double scalar, truncated toward zero).
const Rotation_code& read_rotation_code(const Mex_host& host, const Mex_array* in5);
// Input 4: max_iters, min_x_step, min_y_step, use_finite_difference into args.
void read_criteria(const Mex_host& host, const Mex_array* in4, Pose_refine_arguments& args);
// Input 6: args.num_eqs weights into args.weights.
void read_weights(const Mex_host& host, const Mex_array* in6, Pose_refine_arguments& args);
// The fields of the options struct read_refine_options accepts, and the options
// made of a struct read with them (or with more fields: those are not looked at).
std::vector<Mex_option_field> refine_option_fields();
Pose_refine_options refine_options_from(const Mex_options& read);

// The number of fields of the summary struct.
constexpr std::size_t kPoseRefineSummaryFields = 14;

// The values of the summary struct's fields for one solve, new host arrays in the
// order of pose_refine_summary_fields; the caller hands each to a struct.
std::array<Mex_array*, kPoseRefineSummaryFields> pose_refine_summary_values(Mex_host& host,
                                                                            const Pose_summary& summary);

// The options of one refinement from the checked inputs: the code, criteria and
// weights of args, the loss, scale, sigma and covariance of `robust` (the
// covariance only when the summary is wanted). Throws exception_l at depth 0 in
// the entry's frame with the text of the first option rule broken
// (Pose_refine_options::broken_rule).
Pose_refine_options entry_refine_options(const Pose_refine_arguments& args, const Pose_refine_options& robust,
                                         bool want_summary);

// Refuses, in the entry's frame, a start whose weighted cost overflows although
// every weighted residual is finite (intrinsics or weights of 1e300, say), naming
// the equation where the sum overflows, its weight and residual: a solve from there
// would return the start with an infinite error. Residuals that are not finite are
// left to the solver, whose first step refuses them.
void check_start_cost(const Pose_refine_arguments& args, const matrix<double>& K);

// Fields of the summary struct, in order: iterations (steps run), initial_error and
// final_error (weighted sums of squares at the start and at the returned vector; the
// robust cost with a robust loss), stop_reason ('max_iters', 'min_x_step' or
// 'min_y_step'), returned_iteration (the steps taken to reach the returned vector; 0
// when it is the start), initial_rms and final_rms (root mean square of the points'
// reprojection errors at the start and at the returned vector), loss (its name),
// loss_scale, inliers (1 by npts logical), covariance (6 by 6 over the rotation-vector
// perturbation in world axes then the camera centre, or [] when it was not asked for
// or is not reliable), covariance_rank and condition_number (of the normal matrix; 0
// and NaN when not computed), nothing_to_fit (logical: every equation had weight 0,
// so nothing was fitted). The covariance is computed only when the summary is
// requested and the options do not turn it off.
extern const char* const pose_refine_summary_fields[kPoseRefineSummaryFields];

}  // namespace trel

#endif
