#ifndef TREL_PYTHON_POSE_BINDING_H
#define TREL_PYTHON_POSE_BINDING_H

// Pieces shared by the single-pose and the batch bindings: the summary object
// and the conversion of the refinement options.

#include <string>
#include <vector>

#include "python/bindings.h"
#include "trel_opt/robust_loss.h"
#include "trel_opt/solver.h"
#include "trel_pose/pose_camera.h"
#include "trel_pose/pose_refinement.h"

namespace trel {
namespace python {

// What refine_pose reports besides the refined vector, with the per-point and
// covariance results as arrays.
struct Refine_summary {
  int iterations = 0;
  double initial_error = 0.0;
  double final_error = 0.0;
  std::string stop_reason;
  int returned_iteration = 0;
  double initial_rms = 0.0;
  double final_rms = 0.0;
  std::string loss;
  double loss_scale = 0.0;
  py::object inliers;     // bool array, one flag per point
  py::object covariance;  // 6 x 6 array, or None
  int covariance_rank = 0;
  double condition_number = 0.0;
  bool nothing_to_fit = false;  // every equation had weight 0
  std::string covariance_reason;  // why covariance is None although asked for
  int points_in_front = 0;        // points of non-zero weight in front at the result
  bool faces_points = false;      // enough of them for the pose to face its points
  // refine_poses: false when the frame failed, error then holds the message.
  bool ok = true;
  std::string error;

  py::dict to_dict() const {
    py::dict d;
    d["ok"] = ok;
    d["error"] = error;
    d["iterations"] = iterations;
    d["initial_error"] = initial_error;
    d["final_error"] = final_error;
    d["stop_reason"] = stop_reason;
    d["returned_iteration"] = returned_iteration;
    d["initial_rms"] = initial_rms;
    d["final_rms"] = final_rms;
    d["loss"] = loss;
    d["loss_scale"] = loss_scale;
    d["inliers"] = inliers;
    d["covariance"] = covariance;
    d["covariance_rank"] = covariance_rank;
    d["condition_number"] = condition_number;
    d["nothing_to_fit"] = nothing_to_fit;
    d["covariance_reason"] = covariance_reason;
    d["points_in_front"] = points_in_front;
    d["faces_points"] = faces_points;
    return d;
  }
};

// The summary of a solve, its vectors turned into arrays.
Refine_summary summary_of(Pose_summary&& s);

bool is_bearing_code(int code);

// The loss of a name; ValueError naming the known ones otherwise.
Loss loss_of(const std::string& name);

// The refinement options of the keyword arguments refine_pose and
// refine_poses share; weights may be None.
Pose_refine_options refine_options_of(int rotation_code, int max_iters, double min_x_step, double min_y_step,
                                      bool finite_differences, const py::object& weights, const std::string& loss,
                                      double loss_scale, double sigma, bool covariance);

// estimate_pose and refine_poses.
void bind_pose_batch(py::module_& m);

// trel.CameraModel: the camera model with the coefficients as they were given
// (OpenCV's order and count), so that .distortion gives them back.
struct Py_camera_model {
  Camera_model model;
  std::vector<double> distortion;
  bool fisheye = false;
};

// The model of a 3 x 3 K and OpenCV's coefficients: distortion None or any
// array of 4, 5 or 8 values (4 with fisheye; the shapes (n,), (n, 1) and
// (1, n) of cv2 are taken alike). The library refuses bad counts and values.
Py_camera_model camera_model_py(const py::object& K, const py::object& distortion, bool fisheye);

// The camera a job's first argument names: a CameraModel as it is, or the
// model of the K array with the distortion= and fisheye= keywords. A
// CameraModel given with either keyword is a ValueError: it holds its own.
Camera_model camera_of(const py::object& K, const py::object& distortion, bool fisheye);

// True when the object is a trel.CameraModel.
bool is_camera_model(const py::handle& K);

}  // namespace python
}  // namespace trel

#endif
