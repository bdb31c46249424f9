#ifndef TREL_POSE_POSE_ARRAYS_H
#define TREL_POSE_POSE_ARRAYS_H

#include <cstddef>
#include <vector>

namespace trel {

// The arrays the pose jobs read: views over contiguous doubles that the caller
// owns and keeps alive for the call. A Python or Octave caller hands its
// buffer over as it is; nothing is copied per point.

// N rows of Cols doubles each, row after row (row-major): a C-contiguous numpy
// array of shape (N, Cols), a 3 x N Octave matrix for Cols = 3, or a
// std::vector<double> of N * Cols values.
template <int Cols>
struct Rows_view {
  static constexpr int kCols = Cols;
  const double* data = nullptr;
  std::size_t rows = 0;

  Rows_view() = default;
  Rows_view(const double* values, std::size_t row_count) : data(values), rows(row_count) {}
  // Over a vector of N * Cols values (a count that is not a multiple of Cols
  // leaves the last values out; the jobs check the counts they need).
  explicit Rows_view(const std::vector<double>& values) : data(values.data()), rows(values.size() / Cols) {}

  std::size_t size() const { return rows; }
  bool empty() const { return rows == 0; }
  const double* operator[](std::size_t i) const { return data + i * Cols; }
};

using Points_view = Rows_view<3>;  // world points (X, Y, Z)
using Pixels_view = Rows_view<2>;  // pixels (u = column, v = row)

// A flat run of doubles: observations in the layout of a rotation code,
// weights, a start vector.
struct Values_view {
  const double* data = nullptr;
  std::size_t count = 0;

  Values_view() = default;
  Values_view(const double* values, std::size_t value_count) : data(values), count(value_count) {}
  Values_view(const std::vector<double>& values) : data(values.data()), count(values.size()) {}  // NOLINT

  std::size_t size() const { return count; }
  bool empty() const { return count == 0; }
  double operator[](std::size_t i) const { return data[i]; }
  const double* begin() const { return data; }
  const double* end() const { return data + count; }
};

// The rows of a vector of vectors, copied into one block of rows.size() * cols
// values (the adapter of the jobs' vector-of-vectors overloads). Throws
// exception_l "<what> <i> has <n> values, expected <cols>" for the first row
// of another size.
std::vector<double> flatten_rows(const std::vector<std::vector<double>>& rows, int cols, const char* what);

}  // namespace trel

#endif
