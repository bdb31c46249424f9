// The Python module `trel`: pose refinement and UPnP, the configuration store,
// the camera rig and the rotation conversions over numpy arrays.

#include <sstream>

#include "python/bindings.h"
#include "trel_tools/exception_l.h"

namespace trel {
namespace python {

std::string shape_text(const std::vector<py::ssize_t>& shape) {
  static const char* const wildcards[] = {"N", "M", "K"};
  std::ostringstream text;
  text << '(';
  std::size_t wildcard = 0;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    if (i) text << ", ";
    if (shape[i] == any_size)
      text << wildcards[wildcard < 3 ? wildcard++ : 2];
    else
      text << shape[i];
  }
  if (shape.size() == 1) text << ',';
  text << ')';
  return text.str();
}

namespace {

std::string expected_text(std::initializer_list<std::vector<py::ssize_t>> shapes) {
  std::string text;
  std::size_t i = 0;
  for (const auto& shape : shapes) {
    if (i) text += (i + 1 == shapes.size()) ? " or " : ", ";
    text += shape_text(shape);
    ++i;
  }
  return text;
}

bool matches(const py::array& array, const std::vector<py::ssize_t>& shape) {
  if (array.ndim() != static_cast<py::ssize_t>(shape.size())) return false;
  for (std::size_t i = 0; i < shape.size(); ++i)
    if (shape[i] != any_size && array.shape(static_cast<py::ssize_t>(i)) != shape[i]) return false;
  return true;
}

std::string actual_shape(const py::array& array) {
  std::vector<py::ssize_t> shape(array.shape(), array.shape() + array.ndim());
  return shape_text(shape);
}

}  // namespace

Float_array float_array(const py::handle& object, const char* name,
                        std::initializer_list<std::vector<py::ssize_t>> shapes) {
  const std::string wanted = "a float64 array of shape " + expected_text(shapes);
  py::array array;
  if (py::isinstance<py::array>(object)) {
    array = py::reinterpret_borrow<py::array>(object);
    if (!py::isinstance<py::array_t<double>>(array))
      throw py::type_error(std::string(name) + " must be " + wanted + ", got dtype " +
                           py::str(array.dtype()).cast<std::string>());
  } else if (py::isinstance<py::list>(object) || py::isinstance<py::tuple>(object)) {
    // Plain sequences of numbers are converted; anything numpy cannot read as
    // numbers (text, ragged rows) is refused.
    try {
      array = py::reinterpret_borrow<py::array>(py::module_::import("numpy").attr("asarray")(object, "float64"));
    } catch (py::error_already_set&) {
      throw py::type_error(std::string(name) + " must be " + wanted + ", got a sequence that is not numbers");
    }
  } else {
    throw py::type_error(std::string(name) + " must be " + wanted + ", got " +
                         py::str(py::type::of(object)).cast<std::string>());
  }
  bool ok = false;
  for (const auto& shape : shapes) ok = ok || matches(array, shape);
  if (!ok)
    throw py::value_error(std::string(name) + " must have shape " + expected_text(shapes) + ", got shape " +
                          actual_shape(array));
  // Copies only when the layout is not C order already.
  return Float_array::ensure(array);
}

std::vector<std::vector<double>> rows_of(const Float_array& array) {
  const py::ssize_t rows = array.shape(0);
  const py::ssize_t cols = array.ndim() > 1 ? array.shape(1) : 1;
  const double* data = array.data();
  std::vector<std::vector<double>> out(static_cast<std::size_t>(rows));
  for (py::ssize_t r = 0; r < rows; ++r) out[static_cast<std::size_t>(r)].assign(data + r * cols, data + (r + 1) * cols);
  return out;
}

std::vector<double> values_of(const Float_array& array) {
  return std::vector<double>(array.data(), array.data() + array.size());
}

matrix<double> matrix_of(const Float_array& array) {
  const int rows = static_cast<int>(array.shape(0));
  const int cols = static_cast<int>(array.ndim() > 1 ? array.shape(1) : 1);
  matrix<double> m(rows, cols);
  const double* data = array.data();
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) m[static_cast<unsigned>(r)][c] = data[r * cols + c];
  return m;
}

py::array_t<double> array_of(const matrix<double>& m) {
  const py::ssize_t rows = m.get_dim1(), cols = m.get_dim2();
  py::array_t<double> out({rows, cols});
  double* data = out.mutable_data();
  for (py::ssize_t r = 0; r < rows; ++r)
    for (py::ssize_t c = 0; c < cols; ++c) data[r * cols + c] = m[static_cast<unsigned>(r)][c];
  return out;
}

}  // namespace python
}  // namespace trel

PYBIND11_MODULE(trel, m) {
  namespace py = pybind11;
  m.doc() =
      "trel: camera pose refinement, UPnP, the run-time configuration, calibrated cameras and\n"
      "rotation conversions.\n\n"
      "Arrays are numpy float64 in C order: N x 3 world points, N x 2 pixels (u = column,\n"
      "v = row) or N x 3 camera-frame points for the bearing-vector codes, 3 x 3 K.\n"
      "Arrays of another dtype are refused; lists of numbers are converted.\n"
      "Failures of the library raise trel.Error (a RuntimeError) with the library's message.";
  m.attr("__version__") = TREL_VERSION_TEXT;
  py::register_exception<trel::exception_l>(m, "Error", PyExc_RuntimeError);
  trel::python::bind_rotation(m);
  trel::python::bind_pose(m);
  trel::python::bind_configuration(m);
  trel::python::bind_camera(m);
}
