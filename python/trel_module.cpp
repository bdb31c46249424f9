// The Python module `trel`: pose refinement and UPnP, the configuration store,
// the camera rig and the rotation conversions over numpy arrays.

#include <exception>
#include <sstream>
#include <string>

#include "python/bindings.h"
#include "trel_tools/exception_l.h"

namespace trel {
namespace python {

std::string shape_text(const std::vector<py::ssize_t>& shape) {
  std::ostringstream text;
  text << '(';
  for (std::size_t i = 0; i < shape.size(); ++i) text << (i ? ", " : "") << shape[i];
  if (shape.size() == 1) text << ',';
  text << ')';
  return text.str();
}

namespace {

// "a vector of 3 numbers", "an N x 3 array of numbers".
std::string shape_words(const std::vector<py::ssize_t>& shape) {
  static const char* const wildcards[] = {"N", "M", "K"};
  std::vector<std::string> sizes;
  std::size_t wildcard = 0;
  for (py::ssize_t size : shape)
    sizes.push_back(size == any_size ? wildcards[wildcard < 3 ? wildcard++ : 2] : std::to_string(size));
  if (sizes.size() == 1) return "a vector of " + sizes[0] + " numbers";
  std::string text;
  for (std::size_t i = 0; i < sizes.size(); ++i) text += (i ? " x " : "") + sizes[i];
  const bool vowel_sound = text[0] == 'N' || text[0] == 'M' || text[0] == '8' || text.rfind("11 ", 0) == 0 ||
                           text.rfind("18 ", 0) == 0;
  return (vowel_sound ? "an " : "a ") + text + " array of numbers";
}

// "a vector of 3 numbers or an N x 3 array of numbers".
std::string expected_text(std::initializer_list<std::vector<py::ssize_t>> shapes) {
  std::string text;
  std::size_t i = 0;
  for (const auto& shape : shapes) {
    if (i) text += (i + 1 == shapes.size()) ? " or " : ", ";
    text += shape_words(shape);
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
  return shape_text(std::vector<py::ssize_t>(array.shape(), array.shape() + array.ndim()));
}

// Signed and unsigned integers and real floating point of any width.
bool is_number_kind(const py::dtype& dtype) {
  const char kind = dtype.kind();
  return kind == 'i' || kind == 'u' || kind == 'f';
}

}  // namespace

Float_array float_array(const py::handle& object, const char* name,
                        std::initializer_list<std::vector<py::ssize_t>> shapes) {
  const std::string wanted = std::string(name) + " must be " + expected_text(shapes);
  py::array array;
  if (py::isinstance<py::array>(object)) {
    array = py::reinterpret_borrow<py::array>(object);
  } else {
    // Lists, tuples, scalars, anything with the buffer or array interface.
    try {
      array = py::module_::import("numpy").attr("asarray")(object);
    } catch (py::error_already_set& e) {
      // Ctrl-C and the like stay what they are; only a failed conversion is refused.
      if (!e.matches(PyExc_Exception)) throw;
      throw py::type_error(wanted + ", got a " + py::str(py::type::of(object).attr("__name__")).cast<std::string>() +
                           " that is not an array of numbers");
    }
  }
  if (!is_number_kind(array.dtype()))
    throw py::type_error(wanted + ", got " +
                         (py::isinstance<py::array>(object)
                              ? "dtype " + py::str(array.dtype()).cast<std::string>()
                              : "a " + py::str(py::type::of(object).attr("__name__")).cast<std::string>()));
  bool ok = false;
  for (const auto& shape : shapes) ok = ok || matches(array, shape);
  if (!ok) throw py::value_error(wanted + ", got shape " + actual_shape(array));
  // One conversion to float64 in C order; an array already so is used as it is.
  Float_array converted = Float_array::ensure(array);
  if (!converted) throw py::type_error(wanted + ", got dtype " + py::str(array.dtype()).cast<std::string>());
  return converted;
}

std::string error_cause(const std::string& trace) {
  static const std::string kDetails = "Details: ";
  // The origin frame is the last one without tabs; its detail text (and, when
  // it wraps another exception, that one's text after it) is the cause.
  std::size_t origin = std::string::npos;
  for (std::size_t at = trace.find(kDetails); at != std::string::npos; at = trace.find(kDetails, at + 1))
    if (at == 0 || trace[at - 1] == '\n') origin = at;
  auto trimmed = [](const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
  };
  const std::string cause = origin == std::string::npos ? std::string() : trimmed(trace.substr(origin + kDetails.size()));
  return cause.empty() ? trimmed(trace) : cause;
}

py::str text_of(const std::string& text) {
  return py::reinterpret_steal<py::str>(
      PyUnicode_DecodeUTF8(text.data(), static_cast<py::ssize_t>(text.size()), "replace"));
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

namespace trel {
namespace python {
void bind_rig(py::module_& m);  // python/bind_rig.cpp

namespace {

// trel.Error, kept for the life of the process: the translator below raises it.
PyObject* error_type = nullptr;

// trel.Error's text is the cause in the library's words; e.trace holds the
// whole call trace.
void translate_library_error(std::exception_ptr thrown) {
  try {
    if (thrown) std::rethrow_exception(thrown);
  } catch (const trel::exception_l& e) {
    const std::string trace = e.what();
    py::object error = py::reinterpret_borrow<py::object>(error_type)(text_of(error_cause(trace)));
    error.attr("trace") = text_of(trace);
    PyErr_SetObject(error_type, error.ptr());
  }
}

}  // namespace
}  // namespace python
}  // namespace trel

PYBIND11_MODULE(_trel, m) {
  namespace py = pybind11;
  m.doc() =
      "trel: camera pose refinement, UPnP, the run-time configuration, calibrated cameras and\n"
      "rotation conversions.\n\n"
      "Arrays are numpy arrays, or anything numpy reads as one (lists, other dtypes, other\n"
      "layouts), of N x 3 world points, N x 2 pixels (u = column, v = row) or N x 3\n"
      "camera-frame points for the bearing-vector codes, 3 x 3 K; they are converted to\n"
      "float64 once, and float64 arrays in C order are used without a copy.\n"
      "Failures of the library raise trel.Error (a RuntimeError): str(e) is the cause in the\n"
      "library's words, e.trace the library's whole call trace.";
  m.attr("__version__") = TREL_VERSION_TEXT;
  trel::python::error_type = py::exception<trel::exception_l>(m, "Error", PyExc_RuntimeError).inc_ref().ptr();
  py::register_exception_translator(&trel::python::translate_library_error);
  trel::python::bind_rotation(m);
  trel::python::bind_pose(m);
  trel::python::bind_configuration(m);
  trel::python::bind_camera(m);
  trel::python::bind_rig(m);
}
