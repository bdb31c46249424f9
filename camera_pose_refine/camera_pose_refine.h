#ifndef CAMERA_POSE_REFINE_CAMERA_POSE_REFINE_H
#define CAMERA_POSE_REFINE_CAMERA_POSE_REFINE_H

#include <vector>

#include "camera_pose_refine/mex_host_interface.h"

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
// angle, qu/qn = quaternion x, y, z, w (scalar last); -bv = bearing-vector observations
// (camera-frame coordinates, K must be the identity). A hybrid searches in its first
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

  // One finite-difference step per search value: the rotation values first
  // (0.314 for the quaternion codes 2, 3, 12, -1; 0.0314 otherwise), then 0.01
  // for each of the three position values.
  std::vector<double> finite_difference_steps() const;
};

// Checks the inputs of one call in the entry's fixed order and converts them.
// prhs holds nrhs input arrays. Throws exception_l at depth 0, in the entry's frame,
// at the first failing check; reads no data of an array before its class and size
// have been checked.
Pose_refine_arguments read_pose_refine_arguments(const Mex_host& host, int nlhs, int nrhs,
                                                 const Mex_array* const prhs[]);

// The plug-in's whole driver, host-independent: checks and converts the inputs,
// refines the pose with the linearised least-squares solver and stores the refined
// search vector (1 by ndims, same parameterisation as input 1) in plhs[0].
// plhs holds at least one slot, prhs holds nrhs inputs. Every failure becomes one
// host error with the identifier "Mex:exception" and the exception's text, and
// plhs[0] is then left unset. Nothing is printed.
void camera_pose_refine_entry(Mex_host& host, int nlhs, Mex_array* plhs[], int nrhs,
                              const Mex_array* const prhs[]);

}  // namespace trel

#endif
