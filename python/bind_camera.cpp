// The calibrated camera, with projection and back-projection over N points.

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/stl.h>

#include "python/bindings.h"
#include "python/configuration_binding.h"
#include "python/pose_binding.h"
#include "trel_pose/calibration_file.h"
#include "trel_tools/Camera.h"

namespace trel {
namespace python {
namespace {

// Applies the camera's point mapping `f` to each row of an N x 3 array (or to
// one row of 3), giving an array of the same shape.
template <class F>
py::array_t<double> map_points(const py::object& value, const char* name, F f) {
  const Float_array in = float_array(value, name, {{any_size, 3}, {3}});
  py::array_t<double> out(std::vector<py::ssize_t>(in.shape(), in.shape() + in.ndim()));
  const py::ssize_t n = in.ndim() == 2 ? in.shape(0) : 1;
  const double* src = in.data();
  double* dst = out.mutable_data();
  {
    py::gil_scoped_release unlocked;
    for (py::ssize_t i = 0; i < n; ++i) f(src + 3 * i, dst + 3 * i);
  }
  return out;
}

std::vector<double> list_values(const py::object& value, const char* name) {
  return values_of(float_array(value, name, {{any_size}}));
}

// The coefficients of a distortion= argument, in any of cv2's shapes.
std::vector<double> coefficients_of(const py::object& distortion) {
  if (distortion.is_none()) return {};
  return values_of(float_array(distortion, "distortion", {{any_size}, {any_size, 1}, {1, any_size}}));
}

Py_camera_model camera_model_from_file(const std::string& path, bool fisheye) {
  const Camera_calibration calibration = read_camera_calibration(path, fisheye);
  return {camera_model_of(calibration), calibration.distortion, calibration.fisheye};
}

std::string camera_model_repr(const Py_camera_model& c) {
  std::ostringstream text;
  text.precision(17);
  text << "CameraModel(fx=" << c.model.pinhole.fx << ", fy=" << c.model.pinhole.fy << ", cx=" << c.model.pinhole.cx
       << ", cy=" << c.model.pinhole.cy << ", distortion=[";
  for (std::size_t k = 0; k < c.distortion.size(); ++k) text << (k ? ", " : "") << c.distortion[k];
  text << "], fisheye=" << (c.fisheye ? "True" : "False") << ")";
  return text.str();
}

void bind_camera_model(py::module_& m) {
  py::class_<Py_camera_model>(m, "CameraModel",
                              "A camera for the pose jobs: the pinhole intrinsics K and one of OpenCV's lens\n"
                              "models, given to refine_pose, estimate_pose and refine_poses in place of K.\n\n"
                              "CameraModel(K, distortion=None, fisheye=False): K the 3 x 3 intrinsics\n"
                              "[fx s cx; 0 fy cy; 0 0 1]; distortion OpenCV's coefficients in OpenCV's order,\n"
                              "k1 k2 p1 p2 [k3 [k4 k5 k6]] (4, 5 or 8 values, as cv2.calibrateCamera gives\n"
                              "them) or, with fisheye=True, the 4 of cv2.fisheye (k1 k2 k3 k4); None: a\n"
                              "pinhole. Raises trel.Error for another count or a value that is not finite.")
      .def(py::init(&camera_model_py), py::arg("K"), py::arg("distortion") = py::none(), py::arg("fisheye") = false)
      .def_static("from_file", &camera_model_from_file, py::arg("path"), py::arg("fisheye") = false,
                  "The camera of an OpenCV calibration file (cv::FileStorage, YAML or XML):\n"
                  "camera_matrix and distortion_coefficients as OpenCV's calibration samples\n"
                  "write them. fisheye=True (or a non-zero fisheye_model node) reads the 4\n"
                  "coefficients of cv2.fisheye. Raises trel.Error naming the file and the node\n"
                  "when one is missing, of the wrong size or not finite.")
      .def_property_readonly(
          "K", [](const Py_camera_model& c) { return array_of(camera_matrix_of(c.model)); },
          "The 3 x 3 intrinsics.")
      .def_property_readonly(
          "distortion",
          [](const Py_camera_model& c) {
            return array_of(std::vector<double>(c.distortion), {static_cast<py::ssize_t>(c.distortion.size())});
          },
          "The coefficients as given (empty for a pinhole).")
      .def_readonly("fisheye", &Py_camera_model::fisheye, "True for cv2.fisheye's model.")
      .def("__repr__", &camera_model_repr);
}

}  // namespace

Py_camera_model camera_model_py(const py::object& K, const py::object& distortion, bool fisheye) {
  std::vector<double> coefficients = coefficients_of(distortion);
  const matrix<double> k = matrix_of(float_array(K, "K", {{3, 3}}));
  Camera_model model = make_camera_model(k, coefficients, fisheye);
  return {model, std::move(coefficients), fisheye};
}

bool is_camera_model(const py::handle& K) { return py::isinstance<Py_camera_model>(K); }

Camera_model camera_of(const py::object& K, const py::object& distortion, bool fisheye) {
  if (!is_camera_model(K)) return camera_model_py(K, distortion, fisheye).model;
  if (!distortion.is_none() || fisheye)
    throw py::value_error("distortion= and fisheye= must not be given with a CameraModel: it holds its own lens");
  return K.cast<const Py_camera_model&>().model;
}

namespace {

void bind_camera_class(py::module_& m) {
  py::class_<Camera>(m, "Camera",
                     "One calibrated camera: world points to pixels (u = column, v = row) with a\n"
                     "disparity, and back. A result of (0, 0, 0) means not visible.")
      .def(py::init<>(), "A camera with every number 0; projects everything to (0, 0, 0).")
      .def(py::init([](Py_configuration& config, unsigned index) {
             Camera camera;
             config.with_capture([&](configuration& store) { camera.init(store, index); });
             return camera;
           }),
           py::arg("config"), py::arg("index") = 0u,
           "The camera of entry `index` of the configuration's camera lists.")
      .def_property_readonly("x_centre", &Camera::get_x_centre)
      .def_property_readonly("y_centre", &Camera::get_y_centre)
      .def_property_readonly("x_focus_pixels", &Camera::get_x_focus_pixels)
      .def_property_readonly("y_focus_pixels", &Camera::get_y_focus_pixels)
      .def_property_readonly("baseline", &Camera::get_baseline)
      .def_property_readonly("image_width", &Camera::get_image_width)
      .def_property_readonly("image_height", &Camera::get_image_height)
      .def_property_readonly("extrinsics", &Camera::get_extrinsics)
      .def("set_camera_params", &Camera::set_camera_params, py::arg("x_centre"), py::arg("y_centre"),
           py::arg("x_focus"), py::arg("y_focus"), py::arg("baseline"),
           "Principal point as a fraction of the image size, focal lengths in units of the\n"
           "image width and height, and the baseline.")
      .def("set_resolution", &Camera::set_resolution, py::arg("width"), py::arg("height"))
      .def(
          "set_extrinsics",
          [](Camera& c, const py::object& params) { c.set_extrinsics(list_values(params, "params")); },
          py::arg("params"),
          "Euler angles (about z, x, y; degrees) then the camera centre: 6 values.")
      .def(
          "set_extrinsics_quaternion",
          [](Camera& c, const py::object& params) {
            std::vector<double> values = list_values(params, "params");
            c.set_extrinsics_quaternion(values);
          },
          py::arg("params"), "Quaternion (x, y, z, w) then the camera centre: 7 values.")
      .def(
          "project",
          [](const Camera& c, const py::object& points) {
            return map_points(points, "points", [&c](const double* p, double* o) {
              c.project(p[0], p[1], p[2], o[0], o[1], o[2]);
            });
          },
          py::arg("points"), "N x 3 world points to N x 3 (u, v, disparity).")
      .def(
          "unproject",
          [](const Camera& c, const py::object& pixels) {
            return map_points(pixels, "pixels", [&c](const double* p, double* o) {
              c.unproject(p[0], p[1], p[2], o[0], o[1], o[2]);
            });
          },
          py::arg("pixels"), "N x 3 (u, v, disparity) to N x 3 world points.")
      .def("__repr__", [](const Camera& c) {
        std::ostringstream text;
        text << c;
        return text.str();
      });
}

}  // namespace

void bind_camera(py::module_& m) {
  bind_camera_model(m);
  bind_camera_class(m);
  m.def(
      "create_camera_vector",
      [](Py_configuration& config) {
        std::vector<Camera> cameras;
        config.with_capture([&](configuration& store) { create_camera_vector(cameras, store); });
        return cameras;
      },
      py::arg("config"), "The camera rig of a Configuration, as a list of Camera.");
}

}  // namespace python
}  // namespace trel
