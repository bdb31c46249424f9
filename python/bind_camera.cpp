// The calibrated camera, with projection and back-projection over N points.

#include <sstream>
#include <vector>

#include <pybind11/stl.h>

#include "python/bindings.h"
#include "python/configuration_binding.h"
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

}  // namespace

void bind_camera(py::module_& m) {
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
