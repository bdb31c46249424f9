// The calibrated rig, estimate_rig_pose and refine_rig_pose over numpy arrays.

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/stl.h>

#include "python/bindings.h"
#include "python/pose_binding.h"
#include "trel_pose/rig_pose.h"
#include "trel_tools/exception_l.h"

namespace trel {
namespace python {
namespace {

// estimate_rig_pose's result with its vectors as arrays.
struct Rig_pose_estimate {
  py::object x;        // (6,) rotation vector of R_rig_to_world, then the rig centre
  py::object R;        // 3 x 3, rig axes to world axes
  py::object centre;   // (3,)
  py::object inliers;  // bool array, one flag per observation
  int num_inliers = 0;
  int iterations = 0;
  Refine_summary summary;
  py::list cameras;    // one dict per rig camera: points, rms, inliers

  py::dict to_dict() const {
    py::dict d;
    d["x"] = x;
    d["R"] = R;
    d["centre"] = centre;
    d["inliers"] = inliers;
    d["num_inliers"] = num_inliers;
    d["iterations"] = iterations;
    d["summary"] = summary.to_dict();
    d["cameras"] = cameras;
    return d;
  }
};

py::list cameras_of(const std::vector<Rig_camera_summary>& summaries) {
  py::list out;
  for (const Rig_camera_summary& s : summaries) {
    py::dict d;
    d["points"] = s.points;
    d["rms"] = s.rms;
    d["inliers"] = s.inliers;
    out.append(d);
  }
  return out;
}

// The camera index of each observation: integers only, each fitting an int
// (the library refuses those outside the rig).
std::vector<int> camera_indices(const py::object& value, py::ssize_t n) {
  const py::array any = py::array::ensure(value);
  if (!any || (any.dtype().kind() != 'i' && any.dtype().kind() != 'u'))
    throw py::type_error("cameras must be an array of integers, one camera index per observation");
  const py::array_t<long long, py::array::c_style | py::array::forcecast> indices(any);
  if (indices.ndim() != 1 || indices.shape(0) != n)
    throw py::value_error("cameras must hold " + std::to_string(n) + " camera indices, got shape " +
                          shape_text(std::vector<py::ssize_t>(indices.shape(), indices.shape() + indices.ndim())));
  std::vector<int> out(static_cast<std::size_t>(n));
  for (py::ssize_t i = 0; i < n; ++i) {
    const long long c = indices.at(i);
    out[static_cast<std::size_t>(i)] =
        c < std::numeric_limits<int>::min() || c > std::numeric_limits<int>::max() ? -1 : static_cast<int>(c);
  }
  return out;
}

// The observations of a rig job as views over the arrays' own data.
struct Rig_arrays {
  Float_array points, observations;
  std::vector<int> cameras;
  Points_view points_view() const { return Points_view(points.data(), static_cast<std::size_t>(points.shape(0))); }
  Pixels_view pixels_view() const {
    return Pixels_view(observations.data(), static_cast<std::size_t>(observations.shape(0)));
  }
};

Rig_arrays rig_arrays(const py::object& points, const py::object& observations, const py::object& cameras) {
  Rig_arrays a{float_array(points, "points", {{any_size, 3}}), Float_array(), {}};
  a.observations = float_array(observations, "observations", {{a.points.shape(0), 2}});
  a.cameras = camera_indices(cameras, a.points.shape(0));
  return a;
}

Rig_camera rig_camera_of(const py::handle& item, std::size_t index) {
  const std::string where = "cameras[" + std::to_string(index) + "]";
  const py::tuple parts = py::reinterpret_borrow<py::object>(item).cast<py::tuple>();
  if (parts.size() != 4 && parts.size() != 5)
    throw py::value_error(where + " must be (K, distortion, R, t) or (K, distortion, R, t, fisheye), got " +
                          std::to_string(parts.size()) + " values");
  const std::string k = where + " K", d = where + " distortion", r = where + " R", t = where + " t";
  const std::vector<double> distortion =
      parts[1].is_none() ? std::vector<double>() : values_of(float_array(parts[1], d.c_str(), {{any_size}}));
  const bool fisheye = parts.size() == 5 && parts[4].cast<bool>();
  return make_rig_camera(matrix_of(float_array(parts[0], k.c_str(), {{3, 3}})), distortion, fisheye,
                         matrix_of(float_array(parts[2], r.c_str(), {{3, 3}})),
                         values_of(float_array(parts[3], t.c_str(), {{3}})));
}

Rig rig_of_list(const py::iterable& cameras) {
  std::vector<Rig_camera> out;
  for (const py::handle item : cameras) out.push_back(rig_camera_of(item, out.size()));
  return make_rig(out);
}

py::list camera_tuples(const Rig& rig) {
  py::list out;
  for (const Rig_camera& c : rig.cameras) {
    matrix<double> R(3, 3);
    for (unsigned r = 0; r < 3; ++r)
      for (unsigned k = 0; k < 3; ++k) R[r][k] = c.R_cam_to_rig[3 * r + k];
    std::vector<double> distortion = distortion_of(c.model);
    const py::ssize_t count = static_cast<py::ssize_t>(distortion.size());
    out.append(py::make_tuple(array_of(camera_matrix_of(c.model)), array_of(std::move(distortion), {count}),
                              array_of(R), array_of(std::vector<double>(c.centre_in_rig, c.centre_in_rig + 3), {3}),
                              c.model.lens.model == Lens_model::fisheye));
  }
  return out;
}

Rig_pose_estimate estimate_rig_pose_py(const Rig& rig, const py::object& points, const py::object& observations,
                                       const py::object& cameras, double threshold, double confidence,
                                       int min_iterations, int max_iterations, long long seed,
                                       const std::string& loss, double loss_scale, int refine_iterations) {
  const Rig_arrays a = rig_arrays(points, observations, cameras);
  if (seed < 0 || seed > static_cast<long long>(std::numeric_limits<std::uint32_t>::max()))
    throw py::value_error("seed must be in [0, 2**32), got " + std::to_string(seed));
  Pose_estimate_options options;
  options.threshold = threshold;
  options.confidence = confidence;
  options.min_iterations = min_iterations;
  options.max_iterations = max_iterations;
  options.seed = static_cast<std::uint32_t>(seed);
  options.loss = loss_of(loss);
  options.loss_scale = loss_scale;
  options.refine_iterations = refine_iterations;
  // Ctrl-C stops the random search, as estimate_pose's.
  options.interrupted = [] {
    py::gil_scoped_acquire locked;
    return PyErr_CheckSignals() != 0;
  };
  Rig_estimate_result r;
  try {
    py::gil_scoped_release unlocked;
    r = estimate_rig_pose(rig, a.points_view(), a.pixels_view(), a.cameras, options);
  } catch (const exception_l&) {
    if (PyErr_Occurred()) throw py::error_already_set();
    throw;
  }
  Rig_pose_estimate out;
  out.x = array_of(std::move(r.x), {6});
  out.R = array_of(r.R);
  out.centre = array_of(std::move(r.centre), {3});
  py::array_t<bool> flags(static_cast<py::ssize_t>(r.inliers.size()));
  for (std::size_t i = 0; i < r.inliers.size(); ++i) flags.mutable_data()[i] = r.inliers[i] != 0;
  out.inliers = flags;
  out.num_inliers = r.num_inliers;
  out.iterations = r.iterations;
  out.summary = summary_of(std::move(r.summary));
  out.summary.inliers = out.inliers;
  out.cameras = cameras_of(r.cameras);
  return out;
}

py::tuple refine_rig_pose_py(const Rig& rig, const py::object& points, const py::object& observations,
                             const py::object& cameras, const py::object& start, int rotation_code, int max_iters,
                             double min_x_step, double min_y_step, bool finite_differences,
                             const py::object& weights, const std::string& loss, double loss_scale, double sigma,
                             bool covariance) {
  const Rig_arrays a = rig_arrays(points, observations, cameras);
  const std::vector<double> x_start = values_of(float_array(start, "start", {{any_size}}));
  const Pose_refine_options options = refine_options_of(rotation_code, max_iters, min_x_step, min_y_step,
                                                        finite_differences, weights, loss, loss_scale, sigma,
                                                        covariance);
  Rig_refine_result result;
  {
    py::gil_scoped_release unlocked;
    result = refine_rig_pose(rig, a.points_view(), a.pixels_view(), a.cameras, x_start, options);
  }
  const py::ssize_t dims = static_cast<py::ssize_t>(result.x.size());
  return py::make_tuple(array_of(std::move(result.x), {dims}), summary_of(std::move(result.summary)),
                        cameras_of(result.cameras));
}

void bind_rig_class(py::module_& m) {
  py::class_<Rig>(m, "Rig",
                  "A calibrated rig: cameras rigidly coupled, in order (the indices the rig jobs\n"
                  "take). Each camera is (K, distortion, R, t[, fisheye]): R turns camera axes into\n"
                  "rig axes and t is the camera centre in the rig frame; distortion is OpenCV's\n"
                  "coefficient vector (empty or None: the pinhole).")
      .def(py::init(&rig_of_list), py::arg("cameras"),
           "A rig of (K, distortion, R, t) or (K, distortion, R, t, fisheye) tuples.")
      .def_static(
          "from_file", [](const std::string& path, bool fisheye) { return read_rig_calibration(path, fisheye); },
          py::arg("path"), py::arg("fisheye") = false,
          "The rig of an OpenCV stereo calibration file (M1, D1, M2, D2, R, T): the first\n"
          "camera's frame is the rig frame.")
      .def_static("from_cameras", &rig_of_cameras, py::arg("cameras"),
                  "The rig of configured cameras (create_camera_vector): each camera's pinhole and\n"
                  "extrinsics, relative to the first camera, whose frame is the rig frame.")
      .def("__len__", [](const Rig& rig) { return rig.cameras.size(); })
      .def_property_readonly("cameras", &camera_tuples,
                             "The cameras as (K, distortion, R, t, fisheye) tuples of arrays.")
      .def("__repr__", [](const Rig& rig) { return "Rig(cameras=" + std::to_string(rig.cameras.size()) + ")"; });
}

}  // namespace

void bind_rig(py::module_& m) {
  bind_rig_class(m);
  py::class_<Rig_pose_estimate>(m, "RigPoseEstimate",
                                "What estimate_rig_pose found: x (rotation vector of the rig's R, then the rig\n"
                                "centre; the start of refine_rig_pose's code 0), R (rig axes to world axes),\n"
                                "centre, inliers (bool array), num_inliers, iterations (samples drawn),\n"
                                "summary (the RefineSummary of the final refinement) and cameras (per rig\n"
                                "camera a dict of its points, inliers and their rms).")
      .def_readonly("x", &Rig_pose_estimate::x)
      .def_readonly("R", &Rig_pose_estimate::R)
      .def_readonly("centre", &Rig_pose_estimate::centre)
      .def_readonly("inliers", &Rig_pose_estimate::inliers)
      .def_readonly("num_inliers", &Rig_pose_estimate::num_inliers)
      .def_readonly("iterations", &Rig_pose_estimate::iterations)
      .def_readonly("summary", &Rig_pose_estimate::summary)
      .def_readonly("cameras", &Rig_pose_estimate::cameras)
      .def("to_dict", &Rig_pose_estimate::to_dict, "The fields as a dict, the summary as a dict too.")
      .def("__repr__", [](const Rig_pose_estimate& e) {
        return "RigPoseEstimate(num_inliers=" + std::to_string(e.num_inliers) +
               ", iterations=" + std::to_string(e.iterations) + ", x=" + py::repr(e.x).cast<std::string>() + ")";
      });

  const Pose_estimate_options est;
  m.def("estimate_rig_pose", &estimate_rig_pose_py, py::arg("rig"), py::arg("points"), py::arg("observations"),
        py::arg("cameras"), py::kw_only(), py::arg("threshold") = est.threshold,
        py::arg("confidence") = est.confidence, py::arg("min_iterations") = est.min_iterations,
        py::arg("max_iterations") = est.max_iterations, py::arg("seed") = static_cast<long long>(est.seed),
        py::arg("loss") = std::string(loss_name(est.loss)), py::arg("loss_scale") = est.loss_scale,
        py::arg("refine_iterations") = est.refine_iterations,
        "The pose of a rig from every camera's observations, any share of them wrong;\n"
        "returns a RigPoseEstimate.\n\n"
        "rig: a trel.Rig. points: N x 3 world points. observations: N x 2 pixels.\n"
        "cameras: N integers, the rig camera of each observation. The keywords are\n"
        "estimate_pose's. Raises trel.Error when no pose has enough inliers or the input\n"
        "is degenerate. The interpreter lock is released while it runs; Ctrl-C stops the\n"
        "random search.");
  const Pose_refine_options defaults;
  m.def("refine_rig_pose", &refine_rig_pose_py, py::arg("rig"), py::arg("points"), py::arg("observations"),
        py::arg("cameras"), py::arg("start"), py::kw_only(), py::arg("rotation_code") = defaults.rotation_code,
        py::arg("max_iters") = defaults.max_iters, py::arg("min_x_step") = double(defaults.min_x_step),
        py::arg("min_y_step") = double(defaults.min_y_step),
        py::arg("finite_differences") = defaults.finite_differences, py::arg("weights") = py::none(),
        py::arg("loss") = "squared", py::arg("loss_scale") = defaults.loss_scale,
        py::arg("sigma") = defaults.sigma, py::arg("covariance") = defaults.covariance,
        "Refines the pose of a rig from every camera's observations; returns (x, RefineSummary,\n"
        "cameras), cameras per rig camera a dict of its points, inliers and rms.\n\n"
        "start: the rig pose, the rotation values of rotation_code (0: rotation vector of\n"
        "R_rig_to_world) then the rig centre in world. The other keywords are refine_pose's.\n"
        "The interpreter lock is released while the solver runs.");
}

}  // namespace python
}  // namespace trel
