#ifndef TREL_PYTHON_BINDINGS_H
#define TREL_PYTHON_BINDINGS_H

// Shared pieces of the Python module: the registration function of each area
// and the checked conversions between numpy arrays and the library's types.

#include <cstddef>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "trel_tools/matrix.h"

namespace trel {
namespace python {

namespace py = pybind11;

// A float64 array in C order; converting to one (Float_array::ensure) casts
// any number dtype.
using Float_array = py::array_t<double, py::array::c_style | py::array::forcecast>;

// Wildcard of an expected shape: any length along that axis.
constexpr py::ssize_t any_size = -1;

void bind_pose(py::module_& m);
void bind_configuration(py::module_& m);
void bind_camera(py::module_& m);
void bind_rotation(py::module_& m);

// "(5, 2)" for {5, 2}: a shape as numpy writes it.
std::string shape_text(const std::vector<py::ssize_t>& shape);

// The argument `name` as a C-contiguous float64 array of one of the shapes
// given (any_size matches every length). Anything numpy reads as an array of
// integers or reals (any width, any layout, lists, views) is converted once; a
// float64 array already in C order is used as it is, without a copy. Raises
// TypeError for another dtype (bool, complex, text, objects) or an object that
// is no array, ValueError for a wrong shape; both messages name the argument
// and the shapes expected ("points must be an N x 3 array of numbers, got
// shape (5, 2)"). Non-finite values are left to the library's own checks.
Float_array float_array(const py::handle& object, const char* name,
                        std::initializer_list<std::vector<py::ssize_t>> shapes);

// The cause of a library error: the detail text of the origin frame of an
// exception_l's call trace (the whole text, trimmed, when it has no frames).
std::string error_cause(const std::string& trace);

// Text as a Python str, bytes that are not UTF-8 replaced.
py::str text_of(const std::string& text);

// The rows of an N x C array as N vectors of C values.
std::vector<std::vector<double>> rows_of(const Float_array& array);
// The values of an array in C order.
std::vector<double> values_of(const Float_array& array);
// A 3 x 3 (or any 2-D) array as a matrix.
matrix<double> matrix_of(const Float_array& array);

// The vector's values as an array of `shape`, owning the vector's storage
// (no copy). The product of `shape` must be values.size().
template <class T>
py::array_t<T> array_of(std::vector<T>&& values, std::vector<py::ssize_t> shape) {
  if (values.empty()) return py::array_t<T>(shape);
  auto* owned = new std::vector<T>(std::move(values));
  py::capsule owner(owned, [](void* p) { delete static_cast<std::vector<T>*>(p); });
  return py::array_t<T>(shape, owned->data(), owner);
}

// A copy of the matrix as a 2-D array.
py::array_t<double> array_of(const matrix<double>& m);

}  // namespace python
}  // namespace trel

#endif
