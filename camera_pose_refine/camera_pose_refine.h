#ifndef CAMERA_POSE_REFINE_CAMERA_POSE_REFINE_H
#define CAMERA_POSE_REFINE_CAMERA_POSE_REFINE_H

#include <vector>

#include "camera_pose_refine/mex_host_interface.h"
#include "trel_opt/solver.h"

namespace trel {

// Error identifier of every failure raised through the host.
constexpr const char* k_mex_error_id = "Mex:exception";

// One validated call, in the system's own types. Rotation codes and their sizes:
//   code  type         nrot  observation rows  repetitions
//    0    aau           3      2                 1
//    1    aan           4      2                 1
//    2    qu            4      2                 1
//    3    qn            4      2                 1
//   10    aau-bv        3      3                 1
//   11    aan-bv        4      3                 1
//   12    qu-bv         4      3                 1
//   -1    qu,aau,aan    4      2                 3
//   -2    aau,qu,aan    3      2                 3
//   -3    aan,qu,aau    4      2                 3
// aau = rotation vector (axis times angle, radians), aan = unit axis x, y, z then the
// angle, qu/qn = quaternion x, y, z, w (scalar last); -bv = the observations are the
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
  // k_finite_difference_step times max(1, |x_d|) for the rotation values and
  // times max(1, |x_d|, the mean distance of the points from the start centre)
  // for the position values, so that rounding and truncation errors stay near
  // 1e-10 of each Jacobian column.
  std::vector<double> finite_difference_steps() const;
};

// The cube root of the double epsilon: the step (relative to a value's size)
// that balances the truncation and rounding errors of central differences.
constexpr double k_finite_difference_step = 6.0e-6;

// Checks the inputs of one call in the entry's fixed order and converts them.
// prhs holds nrhs input arrays. Throws exception_l at depth 0, in the entry's frame,
// at the first failing check; reads no data of an array before its class and size
// have been checked.
Pose_refine_arguments read_pose_refine_arguments(const Mex_host& host, int nlhs, int nrhs,
                                                 const Mex_array* const prhs[]);

// The plug-in's whole driver, host-independent: checks and converts the inputs,
// refines the pose with the linearised least-squares solver and stores the refined
// search vector (1 by ndims, same parameterisation as input 1) in plhs[0] (also for
// nlhs 0, the host's `ans`) and, when nlhs is 2, the summary of the solve in plhs[1]
// as a 1 by 1 struct (pose_refine_summary_fields). plhs holds at least
// max(nlhs, 1) slots, prhs holds nrhs inputs. Every failure becomes one host error
// with the identifier "Mex:exception" and the exception's text, and no output is
// set. Nothing is printed.
void camera_pose_refine_entry(Mex_host& host, int nlhs, Mex_array* plhs[], int nrhs,
                              const Mex_array* const prhs[]);

// Fields of the summary struct, in order: iterations (steps run), initial_error and
// final_error (weighted sums of squares at the start and at the returned vector),
// stop_reason ('max_iters', 'min_x_step' or 'min_y_step') and returned_iteration (the
// steps taken to reach the returned vector; 0 when it is the start).
extern const char* const pose_refine_summary_fields[5];

}  // namespace trel

#endif
