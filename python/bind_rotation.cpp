// The rotation conversions, each over one rotation or a stack of N.

#include <functional>
#include <vector>

#include "python/bindings.h"
#include "trel_tools/rotation.h"

namespace trel {
namespace python {
namespace {

using Shape = std::vector<py::ssize_t>;
using Conversion = std::function<void(const double* in, double* out)>;

py::ssize_t count_of(const Shape& shape) {
  py::ssize_t n = 1;
  for (py::ssize_t s : shape) n *= s;
  return n;
}

// Applies `convert` to one rotation of shape `in`, or to each of a stack of
// shape (N, *in); the result has shape `out` or (N, *out).
py::array_t<double> convert_all(const py::object& value, const char* name, const Shape& in, const Shape& out,
                                const Conversion& convert) {
  Shape stacked{any_size};
  stacked.insert(stacked.end(), in.begin(), in.end());
  const Float_array a = float_array(value, name, {in, stacked});
  const bool stack = a.ndim() == static_cast<py::ssize_t>(stacked.size());
  const py::ssize_t n = stack ? a.shape(0) : 1;
  Shape result_shape;
  if (stack) result_shape.push_back(n);
  result_shape.insert(result_shape.end(), out.begin(), out.end());
  py::array_t<double> result(result_shape);
  const py::ssize_t in_count = count_of(in), out_count = count_of(out);
  const double* src = a.data();
  double* dst = result.mutable_data();
  for (py::ssize_t i = 0; i < n; ++i) convert(src + i * in_count, dst + i * out_count);
  return result;
}

std::vector<double> vector_at(const double* in, std::size_t n) { return std::vector<double>(in, in + n); }

matrix<double> matrix_at(const double* in) {
  matrix<double> m(3, 3);
  for (unsigned r = 0; r < 3; ++r)
    for (unsigned c = 0; c < 3; ++c) m[r][c] = in[r * 3 + c];
  return m;
}

void store(const matrix<double>& m, double* out) {
  for (unsigned r = 0; r < 3; ++r)
    for (unsigned c = 0; c < 3; ++c) out[r * 3 + c] = m[r][c];
}

void store(const std::vector<double>& v, double* out) {
  for (std::size_t i = 0; i < v.size(); ++i) out[i] = v[i];
}

// A conversion from a vector of `n` values.
template <class F>
void def_from_vector(py::module_& m, const char* name, const char* arg, py::ssize_t n, Shape out, F f,
                     const char* doc) {
  m.def(
      name,
      [=](const py::object& value) {
        return convert_all(value, arg, {n}, out, [&](const double* in, double* o) {
          store(f(vector_at(in, static_cast<std::size_t>(n))), o);
        });
      },
      py::arg(arg), doc);
}

// A conversion from a 3 x 3 rotation matrix.
template <class F>
void def_from_matrix(py::module_& m, const char* name, Shape out, F f, const char* doc) {
  m.def(
      name,
      [=](const py::object& value) {
        return convert_all(value, "rot_mat", {3, 3}, out,
                           [&](const double* in, double* o) { store(f(matrix_at(in)), o); });
      },
      py::arg("rot_mat"), doc);
}

}  // namespace

void bind_rotation(py::module_& m) {
  // Each takes one rotation or a stack of N (a leading axis) and gives the same.
  def_from_vector(
      m, "euler_angles_rad_to_rot_mat", "angles", 3, {3, 3},
      [](const std::vector<double>& v) { return euler_angles_rad_to_rot_mat(v); },
      "Euler angles (a0 about z, a1 about x, a2 about y; radians) to Ry(a2) Rx(a1) Rz(a0).");
  def_from_vector(
      m, "quaternion_to_rot_mat", "quaternion", 4, {3, 3},
      [](const std::vector<double>& v) { return quaternion_to_rot_mat(v); },
      "Quaternion (x, y, z, w), normalised implicitly, to a rotation matrix.");
  def_from_matrix(
      m, "rot_mat_to_quaternion", {4}, [](const matrix<double>& r) { return rot_mat_to_quaternion(r); },
      "Rotation matrix to quaternion (x, y, z, w), neither normalised nor sign-adjusted.");
  def_from_vector(
      m, "rot_vec_to_ang_axis", "rot_vec", 3, {4},
      [](const std::vector<double>& v) { return rot_vec_to_ang_axis(v); },
      "Rotation vector to angle-axis (unit axis x, y, z, then the angle); zero gives zeros.");
  def_from_vector(
      m, "ang_axis_to_rot_vec", "ang_axis", 4, {3},
      [](const std::vector<double>& v) { return ang_axis_to_rot_vec(v); },
      "Angle-axis (axis normalised first) to the rotation vector.");
  def_from_vector(
      m, "enforce_ang_axis", "ang_axis", 4, {4},
      [](std::vector<double> v) {
        enforce_ang_axis(v);
        return v;
      },
      "Angle-axis with its axis scaled to unit length (a new array; the input is kept).");
  def_from_matrix(
      m, "rot_mat_to_ang_axis_rad", {4}, [](const matrix<double>& r) { return rot_mat_to_ang_axis_rad(r); },
      "Rotation matrix to angle-axis, angle in [0, pi]; the identity gives (0, 1, 0, 0).");
  def_from_matrix(
      m, "rot_mat_to_rot_vec_rad", {3}, [](const matrix<double>& r) { return rot_mat_to_rot_vec_rad(r); },
      "Rotation matrix to rotation vector; the identity gives (0, 0, 0).");
  def_from_vector(
      m, "ang_axis_rad_to_rot_mat", "ang_axis", 4, {3, 3},
      [](const std::vector<double>& v) { return ang_axis_rad_to_rot_mat(v); },
      "Angle-axis to rotation matrix (Rodrigues' formula after normalising the axis).");
  def_from_vector(
      m, "rot_vec_rad_to_rot_mat", "rot_vec", 3, {3, 3},
      [](const std::vector<double>& v) { return rot_vec_rad_to_rot_mat(v); },
      "Rotation vector to rotation matrix; zero gives the identity.");
}

}  // namespace python
}  // namespace trel
