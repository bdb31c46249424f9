// The configuration store: read a file, get and set parameters by name, the
// structured ones as lists and dicts, and the warnings it writes kept on the
// object instead of only going to standard error.

#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

#include <opencv2/core/types_c.h>
#include <pybind11/stl.h>

#include "python/bindings.h"
#include "python/configuration_binding.h"
#include "trel_tools/Camera.h"

namespace trel {
namespace python {

Stream_capture::Stream_capture() : previous_(std::cerr.rdbuf(text_.rdbuf())) {}

Stream_capture::~Stream_capture() { std::cerr.rdbuf(previous_); }

std::vector<std::string> Stream_capture::lines() const {
  std::vector<std::string> out;
  std::istringstream in(text_.str());
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) out.push_back(line);
  return out;
}

Py_configuration::Py_configuration(const std::string& location, bool read) {
  Stream_capture capture;
  try {
    store_ = read ? std::make_unique<Store>(location) : std::make_unique<Store>();
  } catch (...) {
    note(capture);
    throw;
  }
  note(capture);
}

void Py_configuration::note(const Stream_capture& capture) {
  for (std::string& line : capture.lines()) warnings_.push_back(std::move(line));
}

std::vector<std::string> Py_configuration::set(const std::string& name, const std::string& value) {
  const std::size_t before = warnings_.size();
  {
    Stream_capture capture;
    try {
      store_->set_param(name, value);
    } catch (...) {
      note(capture);
      throw;
    }
    note(capture);
  }
  return std::vector<std::string>(warnings_.begin() + static_cast<std::ptrdiff_t>(before), warnings_.end());
}

const configuration::parameter* Py_configuration::record(const std::string& name) const {
  for (const configuration::parameter& p : store_->records())
    if (p.name == name) return &p;
  return nullptr;
}

std::vector<std::string> Py_configuration::names() const {
  std::vector<std::string> out;
  for (const configuration::parameter& p : store_->records()) out.push_back(p.name);
  return out;
}

namespace {

template <class T>
py::list list_of(const std::vector<T>& values) {
  py::list out;
  for (const T& v : values) out.append(v);
  return out;
}

py::object structured_value(const configuration::structured& cell) {
  const void* object = cell.get();
  if (!object) return py::none();
  const std::type_info& type = cell.type();
  if (type == typeid(std::vector<double>*)) return list_of(*static_cast<const std::vector<double>*>(object));
  if (type == typeid(std::vector<float>*)) return list_of(*static_cast<const std::vector<float>*>(object));
  if (type == typeid(std::vector<int>*)) return list_of(*static_cast<const std::vector<int>*>(object));
  if (type == typeid(std::vector<std::string>*))
    return list_of(*static_cast<const std::vector<std::string>*>(object));
  if (type == typeid(configuration::camera_list*)) {
    py::list out;
    for (const auto& entry : *static_cast<const configuration::camera_list*>(object)) out.append(list_of(entry));
    return out;
  }
  if (type == typeid(std::vector<configuration::haar_setting>*)) {
    py::list out;
    for (const auto& s : *static_cast<const std::vector<configuration::haar_setting>*>(object))
      out.append(py::dict(py::arg("cascade_loc") = s.cascade_loc, py::arg("scale_rate") = s.scale_rate,
                          py::arg("detections") = s.detections, py::arg("base_width") = s.base_width,
                          py::arg("base_height") = s.base_height, py::arg("extra_settings") = s.extra_settings));
    return out;
  }
  if (type == typeid(std::vector<configuration::scale_setting>*)) {
    py::list out;
    for (const auto& s : *static_cast<const std::vector<configuration::scale_setting>*>(object))
      out.append(py::dict(py::arg("samples") = s.samples, py::arg("radius") = s.radius,
                          py::arg("scale_factor") = s.scale_factor));
    return out;
  }
  if (type == typeid(std::vector<configuration::stereo_setting>*)) {
    py::list out;
    for (const auto& s : *static_cast<const std::vector<configuration::stereo_setting>*>(object))
      out.append(py::dict(py::arg("stereo_mask_size") = s.stereo_mask_size,
                          py::arg("edge_correlation_on") = s.edge_correlation_on,
                          py::arg("edge_mask_size") = s.edge_mask_size,
                          py::arg("back_and_forth_on") = s.back_and_forth_on, py::arg("width") = s.width,
                          py::arg("height") = s.height, py::arg("max_disp") = s.max_disp,
                          py::arg("min_disp") = s.min_disp));
    return out;
  }
  if (type == typeid(std::vector<configuration::pixel_size>*)) {
    py::list out;
    for (const auto& s : *static_cast<const std::vector<configuration::pixel_size>*>(object))
      out.append(py::dict(py::arg("width") = s.width, py::arg("height") = s.height));
    return out;
  }
  if (type == typeid(std::vector<sample>*)) {
    py::list out;
    for (const auto& s : *static_cast<const std::vector<sample>*>(object))
      out.append(py::dict(py::arg("location") = s.location, py::arg("frame") = s.frame, py::arg("x1") = s.x1,
                          py::arg("x2") = s.x2, py::arg("y1") = s.y1, py::arg("y2") = s.y2));
    return out;
  }
  if (type == typeid(cv::Rect*)) {
    const cv::Rect& r = *static_cast<const cv::Rect*>(object);
    return py::dict(py::arg("x") = r.x, py::arg("y") = r.y, py::arg("width") = r.width,
                    py::arg("height") = r.height);
  }
  if (type == typeid(IplConvKernel*)) {
    const IplConvKernel& k = *static_cast<const IplConvKernel*>(object);
    py::object values = py::none();
    if (k.values && k.nCols > 0 && k.nRows > 0) {
      py::list rows;
      for (int r = 0; r < k.nRows; ++r) {
        py::list row;
        for (int c = 0; c < k.nCols; ++c) row.append(k.values[r * k.nCols + c]);
        rows.append(row);
      }
      values = rows;
    }
    return py::dict(py::arg("cols") = k.nCols, py::arg("rows") = k.nRows, py::arg("anchor_x") = k.anchorX,
                    py::arg("anchor_y") = k.anchorY, py::arg("shape") = k.nShiftR, py::arg("values") = values);
  }
  return py::none();
}

}  // namespace

py::object Py_configuration::get(const std::string& name) const {
  const configuration::parameter* p = record(name);
  if (!p) throw py::key_error("no parameter named '" + name + "'");
  return std::visit(
      [](const auto& value) -> py::object {
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<T, configuration::structured>)
          return structured_value(value);
        else
          return py::cast(value);
      },
      p->value);
}

void bind_configuration(py::module_& m) {
  py::class_<Py_configuration>(m, "Configuration",
                               "The run-time configuration: every parameter of the catalogue at its default,\n"
                               "then the assignments of the file given (and the files it imports).\n"
                               "warnings: every line the store wrote to standard error, in order.")
      .def(py::init([](const py::object& location) {
             if (location.is_none()) return std::make_unique<Py_configuration>(std::string(), false);
             const std::string path = py::str(py::module_::import("os").attr("fsdecode")(location));
             return std::make_unique<Py_configuration>(path, true);
           }),
           py::arg("location") = py::none(),
           "Reads the configuration file at `location` (str or path); None gives the defaults.\n"
           "A file that cannot be opened leaves the defaults and a warning; a malformed line\n"
           "raises trel.Error.")
      .def("get", &Py_configuration::get, py::arg("name"),
           "The value of the parameter `name`: int, float, bool or str, or for a structured\n"
           "parameter a list (of numbers, texts, lists or dicts), a dict, or None while unset.\n"
           "Raises KeyError for an unknown name.")
      .def("set", &Py_configuration::set, py::arg("name"), py::arg("value"),
           "Applies `name=value` as a line of a file would; returns the warnings it gave\n"
           "(they are added to `warnings` too).")
      .def("names", &Py_configuration::names, "Every parameter name, in registration order.")
      .def("__contains__", [](const Py_configuration& c, const std::string& name) { return c.record(name) != nullptr; })
      .def("__getitem__", &Py_configuration::get)
      .def("__setitem__", [](Py_configuration& c, const std::string& name, const std::string& value) {
        c.set(name, value);
      })
      .def("__len__", [](const Py_configuration& c) { return c.names().size(); })
      .def_property_readonly("warnings", &Py_configuration::warnings)
      .def("clear_warnings", &Py_configuration::clear_warnings, "Forgets the warnings gathered so far.")
      .def(
          "cameras",
          [](Py_configuration& c) {
            std::vector<Camera> cameras;
            c.with_capture([&](configuration& store) { create_camera_vector(cameras, store); });
            return cameras;
          },
          "The camera rig of this configuration: one Camera per bumblebee_params or\n"
          "camera_proj_mats entry.");
}

}  // namespace python
}  // namespace trel
