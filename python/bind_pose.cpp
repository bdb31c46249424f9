// refine_pose and upnp over numpy arrays.

#include <string>
#include <utility>
#include <vector>

#include <pybind11/stl.h>

#include "python/bindings.h"
#include "python/pose_binding.h"
#include "trel_tools/opengv_wrapper.h"
#include "trel_pose/pose_refinement.h"

namespace trel {
namespace python {

Refine_summary summary_of(Pose_summary&& s) {
  Refine_summary out;
  out.iterations = s.iterations;
  out.initial_error = s.initial_error;
  out.final_error = s.final_error;
  out.stop_reason = stop_reason_name(s.stop_reason);
  out.returned_iteration = s.returned_iteration;
  out.initial_rms = s.initial_rms;
  out.final_rms = s.final_rms;
  out.loss = std::move(s.loss);
  out.loss_scale = s.loss_scale;
  py::array_t<bool> inliers(static_cast<py::ssize_t>(s.inliers.size()));
  bool* flags = inliers.mutable_data();
  for (std::size_t i = 0; i < s.inliers.size(); ++i) flags[i] = s.inliers[i] != 0;
  out.inliers = std::move(inliers);
  if (s.covariance.size() == 36)
    out.covariance = array_of(std::move(s.covariance), {6, 6});
  else
    out.covariance = py::none();
  out.covariance_rank = s.covariance_rank;
  out.condition_number = s.condition_number;
  out.nothing_to_fit = s.nothing_to_fit;
  out.covariance_reason = std::move(s.covariance_reason);
  out.points_in_front = s.points_in_front;
  out.faces_points = s.faces_points;
  return out;
}

bool is_bearing_code(int code) { return code == 10 || code == 11 || code == 12; }

Loss loss_of(const std::string& name) {
  Loss loss = Loss::squared;
  if (loss_from_name(name, loss)) return loss;
  std::string names;
  for (int k = 0; k <= static_cast<int>(Loss::truncated); ++k)
    names += std::string(k == 0 ? "'" : ", '") + loss_name(static_cast<Loss>(k)) + "'";
  throw py::value_error("loss must be one of " + names + ", got '" + name + "'");
}

Pose_refine_options refine_options_of(int rotation_code, int max_iters, double min_x_step, double min_y_step,
                                      bool finite_differences, const py::object& weights, const std::string& loss,
                                      double loss_scale, double sigma, bool covariance) {
  Pose_refine_options options;
  options.rotation_code = rotation_code;
  options.max_iters = max_iters;
  options.min_x_step = static_cast<float>(min_x_step);
  options.min_y_step = static_cast<float>(min_y_step);
  options.finite_differences = finite_differences;
  if (!weights.is_none()) options.weights = values_of(float_array(weights, "weights", {{any_size}}));
  options.loss = loss_of(loss);
  options.loss_scale = loss_scale;
  options.sigma = sigma;
  options.covariance = covariance;
  return options;
}

namespace {

py::tuple refine_pose_py(const py::object& K, const py::object& points, const py::object& observations,
                         const py::object& start, int rotation_code, int max_iters, double min_x_step,
                         double min_y_step, bool finite_differences, const py::object& weights,
                         const std::string& loss, double loss_scale, double sigma, bool covariance,
                         const py::object& distortion, bool fisheye) {
  const Camera_model camera = camera_of(K, distortion, fisheye);
  // The arrays are read where they lie: converted only when they are not
  // C-contiguous float64 already, never copied point by point.
  const Float_array p = float_array(points, "points", {{any_size, 3}});
  const py::ssize_t n = p.shape(0);
  const py::ssize_t rows = is_bearing_code(rotation_code) ? 3 : 2;
  const Float_array obs = float_array(observations, "observations", {{n, rows}});
  const std::vector<double> x_start = values_of(float_array(start, "start", {{any_size}}));

  const Pose_refine_options options = refine_options_of(rotation_code, max_iters, min_x_step, min_y_step,
                                                        finite_differences, weights, loss, loss_scale, sigma,
                                                        covariance);
  const Points_view point_rows(p.data(), static_cast<std::size_t>(n));
  const Values_view target(obs.data(), static_cast<std::size_t>(obs.size()));
  Pose_refine_result result;
  {
    py::gil_scoped_release unlocked;
    result = refine_pose(camera, point_rows, target, x_start, options);
  }
  const py::ssize_t dims = static_cast<py::ssize_t>(result.x.size());
  return py::make_tuple(array_of(std::move(result.x), {dims}), summary_of(std::move(result.summary)));
}

struct Upnp_inputs {
  matrix<double> points_2d, points_3d, K;
};

Upnp_inputs upnp_inputs(const py::object& points_2d, const py::object& points_3d, const py::object& K) {
  const Float_array p2 = float_array(points_2d, "points_2d", {{any_size, 2}});
  const Float_array p3 = float_array(points_3d, "points_3d", {{p2.shape(0), 3}});
  const Float_array k = float_array(K, "K", {{3, 3}});
  return {matrix_of(p2), matrix_of(p3), matrix_of(k)};
}

py::object upnp_py(const py::object& points_2d, const py::object& points_3d, const py::object& K,
                   const py::object& R, const py::object& t) {
  Upnp_inputs in = upnp_inputs(points_2d, points_3d, K);
  if (R.is_none() != t.is_none()) throw py::value_error("R and t must be given together, or neither");
  matrix<double> rotation;
  std::vector<double> translation;
  if (!R.is_none()) {
    rotation = matrix_of(float_array(R, "R", {{3, 3}}));
    translation = values_of(float_array(t, "t", {{3}}));
  }
  {
    py::gil_scoped_release unlocked;
    upnp(in.points_2d, in.points_3d, in.K, rotation, translation);
  }
  if (rotation.get_dim1() != 3) return py::none();
  return py::make_tuple(array_of(rotation), array_of(std::move(translation), {3}));
}

py::list upnp_candidates_py(const py::object& points_2d, const py::object& points_3d, const py::object& K) {
  Upnp_inputs in = upnp_inputs(points_2d, points_3d, K);
  std::vector<matrix<double>> rotations;
  std::vector<std::vector<double>> translations;
  {
    py::gil_scoped_release unlocked;
    upnp(in.points_2d, in.points_3d, in.K, rotations, translations);
  }
  py::list out;
  for (std::size_t i = 0; i < rotations.size(); ++i)
    out.append(py::make_tuple(array_of(rotations[i]), array_of(std::move(translations[i]), {3})));
  return out;
}

}  // namespace

namespace {

void bind_refine_summary(py::module_& m) {
  py::class_<Refine_summary>(m, "RefineSummary",
                             "What refine_pose did: iterations, errors (the robust cost with a robust loss),\n"
                             "why it stopped, the reprojection RMS at the start and at the result, the\n"
                             "inlier flags and the 6 x 6 pose covariance over (delta, t), or None.\n"
                             "In refine_poses' list, ok is False for a frame that failed and error\n"
                             "holds the library's message.")
      .def_readonly("iterations", &Refine_summary::iterations)
      .def_readonly("initial_error", &Refine_summary::initial_error)
      .def_readonly("final_error", &Refine_summary::final_error)
      .def_readonly("stop_reason", &Refine_summary::stop_reason)
      .def_readonly("returned_iteration", &Refine_summary::returned_iteration)
      .def_readonly("initial_rms", &Refine_summary::initial_rms)
      .def_readonly("final_rms", &Refine_summary::final_rms)
      .def_readonly("loss", &Refine_summary::loss)
      .def_readonly("loss_scale", &Refine_summary::loss_scale)
      .def_readonly("inliers", &Refine_summary::inliers)
      .def_readonly("covariance", &Refine_summary::covariance)
      .def_readonly("covariance_rank", &Refine_summary::covariance_rank)
      .def_readonly("condition_number", &Refine_summary::condition_number)
      .def_readonly("nothing_to_fit", &Refine_summary::nothing_to_fit,
                    "True when every equation had weight 0: nothing was fitted.")
      .def_readonly("covariance_reason", &Refine_summary::covariance_reason,
                    "Why covariance is None although it was asked for; empty when it is given.")
      .def_readonly("points_in_front", &Refine_summary::points_in_front,
                    "Points of non-zero weight in front of the camera at the result.")
      .def_readonly("faces_points", &Refine_summary::faces_points,
                    "True when at least one and at least half of those points lie in front;\n"
                    "a pose that does not face its points has no inliers and no covariance.")
      .def_readonly("ok", &Refine_summary::ok, "False when refine_poses could not refine this frame.")
      .def_readonly("error", &Refine_summary::error, "Why the frame failed; empty when ok.")
      .def("to_dict", &Refine_summary::to_dict, "The fields as a dict.")
      .def("__repr__", [](const Refine_summary& s) {
        return "RefineSummary(iterations=" + std::to_string(s.iterations) + ", stop_reason='" + s.stop_reason +
               "', final_rms=" + py::repr(py::float_(s.final_rms)).cast<std::string>() + ", loss='" + s.loss + "')";
      });
}

}  // namespace

void bind_pose(py::module_& m) {
  bind_refine_summary(m);

  const Pose_refine_options defaults;
  m.def("refine_pose", &refine_pose_py, py::arg("K"), py::arg("points"), py::arg("observations"),
        py::arg("start"), py::kw_only(), py::arg("rotation_code") = defaults.rotation_code,
        py::arg("max_iters") = defaults.max_iters, py::arg("min_x_step") = double(defaults.min_x_step),
        py::arg("min_y_step") = double(defaults.min_y_step),
        py::arg("finite_differences") = defaults.finite_differences, py::arg("weights") = py::none(),
        py::arg("loss") = "squared", py::arg("loss_scale") = defaults.loss_scale,
        py::arg("sigma") = defaults.sigma, py::arg("covariance") = defaults.covariance,
        py::arg("distortion") = py::none(), py::arg("fisheye") = false,
        "Refines a camera pose; returns (x, RefineSummary).\n\n"
        "K: 3 x 3 intrinsics (the identity for the bearing-vector codes 10, 11, 12), or a\n"
        "CameraModel (then distortion= and fisheye= are not given). distortion: OpenCV's\n"
        "coefficients, k1 k2 p1 p2 [k3 [k4 k5 k6]] (4, 5 or 8, any of cv2's shapes), or\n"
        "with fisheye=True the 4 of cv2.fisheye; None: a pinhole. With distortion the\n"
        "pixels are the observed (distorted) ones, as cv2.solvePnP takes them, and the\n"
        "errors, loss_scale and covariance are in observed pixels; the kernel refines\n"
        "(finite_differences differentiates the lens camera). The bearing-vector codes\n"
        "ignore the camera.\n"
        "points: N x 3 world points. observations: N x 2 pixels, or N x 3 camera-frame\n"
        "points for the bearing-vector codes. start: the search vector, the rotation\n"
        "values of rotation_code (0, 1, 2, 3, 10, 11, 12, -1, -2, -3) then the camera\n"
        "centre in world. weights: one per equation, or None. loss: 'squared', 'huber',\n"
        "'cauchy', 'soft_l1' or 'truncated'. The interpreter lock is released while\n"
        "the solver runs.");
  m.def("upnp", &upnp_py, py::arg("points_2d"), py::arg("points_3d"), py::arg("K"), py::arg("R") = py::none(),
        py::arg("t") = py::none(),
        "Absolute pose from N x 2 pixels and N x 3 world points with OpenGV's UPnP; the\n"
        "candidate of least reprojection error as (R, t), R turning camera axes into world\n"
        "axes and t the camera centre in world; None when the solver gives no candidate.\n"
        "R and t, when given, are the start pose handed to the solver.");
  m.def("upnp_candidates", &upnp_candidates_py, py::arg("points_2d"), py::arg("points_3d"), py::arg("K"),
        "Every UPnP candidate, in the solver's order, as a list of (R, t).");
  bind_pose_batch(m);
}

}  // namespace python
}  // namespace trel
