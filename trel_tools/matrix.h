#ifndef TREL_TOOLS_MATRIX_H
#define TREL_TOOLS_MATRIX_H

#include <cmath>
#include <cstddef>
#include <ostream>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include "trel_tools/exception_l.h"
#include "trel_tools/export.h"
#include "trel_tools/std_vector_overloads.h"

namespace trel {

// Small dense row-major 2-D matrix: rotation matrices, point sets, camera
// intrinsics and transforms. Every row is its own array; element access is
// unchecked.
//
// Invariants: the row-pointer array is null exactly when the matrix is empty,
// and an empty matrix reports 0 rows and 0 columns (a request with one zero
// dimension gives 0 by 0, never 0 by n). Fresh elements are set by
// default_val (zero). Copies are deep; set_size and assignment never keep old
// contents.
template <class T>
class matrix {
public:
  matrix();
  // Throws exception_l when rows or cols is negative.
  matrix(int rows, int cols);
  matrix(const matrix& other);
  matrix& operator=(const matrix& other);
  virtual ~matrix();

  // Releases the storage first, then allocates rows x cols zeros. A negative
  // argument throws exception_l and leaves the matrix empty; a zero argument
  // leaves it empty.
  void set_size(int rows, int cols);
  void clear();

  unsigned get_dim1() const { return dim1; }  // rows
  unsigned get_dim2() const { return dim2; }  // columns

  // Unchecked element access: row below get_dim1(), col below get_dim2().
  T& get(unsigned row, unsigned col) { return data[row][col]; }
  const T& get(unsigned row, unsigned col) const { return data[row][col]; }
  void set(unsigned row, unsigned col, T value) { data[row][col] = value; }
  // Pointer to the first element of the row; unchecked.
  T* operator[](unsigned row) { return data[row]; }
  const T* operator[](unsigned row) const { return data[row]; }

  // Copies values[0 .. dim2-1] into the row. Throws exception_l when the row
  // is out of range or the vector holds fewer than dim2 values.
  void set_row(const unsigned& row, const std::vector<T>& values);

  // New dim2 x dim1 matrix.
  matrix transpose() const;
  // Sum of the diagonal elements (i, i) for every row i, added from 0.0; 0.0
  // when empty. Throws exception_l when there are fewer columns than rows.
  double trace() const;
  // Determinant by cofactor expansion along the first column: factorial time,
  // for small matrices only. 1.0 for an empty matrix. Throws exception_l when
  // the matrix is not square.
  double det() const;
  // Moore-Penrose pseudo-inverse by SVD (cv::invert with DECOMP_SVD): the
  // inverse of a non-singular square matrix; a singular or non-square input
  // gives its pseudo-inverse without error. Result is dim2 x dim1.
  matrix<double> invert() const;

  // Replaces this r x c matrix by the r x k product this * other. Both operands
  // are copied before the result is written, so other may be *this. Throws
  // exception_l (matrix unchanged) when other does not have c rows.
  template <class U>
  matrix& operator*=(const matrix<U>& other);
  template <class U>
  matrix operator*(const matrix<U>& other) const;

private:
  void release();

  unsigned dim1;
  unsigned dim2;
  T** data;
};

// Text form: rows, tab, columns, end of line; then every row as its elements
// each followed by a tab, then end of line. Elements use the stream's current
// number formatting.
template <class T>
std::ostream& operator<<(std::ostream& out, const matrix<T>& m);

// Flat N-dimensional array of T with a per-dimension size list, stored in row-
// major order (the last index varies fastest). A tensor without dimensions, or
// with a zero extent, holds no elements.
template <class T>
class tensor {
public:
  tensor();
  // Zero-filled tensor with the given extents. Throws exception_l when an
  // extent is negative or the element count does not fit an int.
  explicit tensor(const std::vector<int>& sizes);
  // The copy owns its own element storage.
  tensor(const tensor& other);
  tensor& operator=(const tensor& other);
  virtual ~tensor();

  // True when the size lists are equal and every element pair differs by at
  // most 0.0001 in absolute value.
  bool operator==(const tensor& other) const;
  bool operator!=(const tensor& other) const { return !(*this == other); }

  // Element i of the flat storage; unchecked.
  T operator[](int i) const { return data[i]; }
  T& operator[](int i) { return data[i]; }

  // The extent of each dimension; empty for a tensor without dimensions.
  std::vector<int> get_sizes() const;
  int get_num_elements() const { return last_index + 1; }

private:
  void swap(tensor& other);

  int num_dims;
  std::vector<int> sizes;
  int last_index;  // element count minus one; -1 without elements
  T* data;
};

// Compiled once, in the library (declared here, ahead of the member
// definitions, so that no client instantiates them on its own).
extern template class TREL_TOOLS_EXPORT matrix<double>;
extern template class TREL_TOOLS_EXPORT matrix<int>;
extern template class TREL_TOOLS_EXPORT tensor<double>;

// ---- implementation ---------------------------------------------------------

template <class T>
matrix<T>::matrix() : dim1(0), dim2(0), data(nullptr) {}

template <class T>
matrix<T>::matrix(int rows, int cols) : dim1(0), dim2(0), data(nullptr) {
  set_size(rows, cols);
}

template <class T>
matrix<T>::matrix(const matrix& other) : dim1(0), dim2(0), data(nullptr) {
  *this = other;
}

template <class T>
matrix<T>& matrix<T>::operator=(const matrix& other) {
  if (this == &other) return *this;
  set_size(static_cast<int>(other.dim1), static_cast<int>(other.dim2));
  for (unsigned i = 0; i < dim1; ++i)
    for (unsigned j = 0; j < dim2; ++j) data[i][j] = other.data[i][j];
  return *this;
}

template <class T>
matrix<T>::~matrix() {
  release();
}

template <class T>
void matrix<T>::release() {
  if (data != nullptr) {
    for (unsigned i = 0; i < dim1; ++i) delete[] data[i];
    delete[] data;
  }
  data = nullptr;
  dim1 = 0;
  dim2 = 0;
}

template <class T>
void matrix<T>::set_size(int rows, int cols) {
  release();
  if (rows < 0 || cols < 0) TREL_THROW("matrix::set_size() : tried to set size to " << rows << "," << cols);
  if (rows == 0 || cols == 0) return;
  // Rows are allocated one by one; on bad_alloc the ones already made are freed.
  T** rows_data = new T*[rows]();
  try {
    for (int i = 0; i < rows; ++i) {
      rows_data[i] = new T[cols];
      for (int j = 0; j < cols; ++j) default_val(rows_data[i][j]);
    }
  } catch (...) {
    for (int i = 0; i < rows; ++i) delete[] rows_data[i];
    delete[] rows_data;
    throw;
  }
  data = rows_data;
  dim1 = static_cast<unsigned>(rows);
  dim2 = static_cast<unsigned>(cols);
}

template <class T>
void matrix<T>::clear() {
  release();
}

template <class T>
void matrix<T>::set_row(const unsigned& row, const std::vector<T>& values) {
  if (row >= dim1 || values.size() < dim2)
    TREL_THROW("matrix::set_row() : tried to set row " << row << " of a " << dim1 << " by " << dim2
                                                       << " matrix from a std::vector" << values);
  for (unsigned j = 0; j < dim2; ++j) data[row][j] = values[j];
}

template <class T>
matrix<T> matrix<T>::transpose() const {
  matrix result(static_cast<int>(dim2), static_cast<int>(dim1));
  for (unsigned i = 0; i < dim1; ++i)
    for (unsigned j = 0; j < dim2; ++j) result.data[j][i] = data[i][j];
  return result;
}

template <class T>
double matrix<T>::trace() const {
  if (dim2 < dim1)
    TREL_THROW("matrix::trace() : needs at least as many columns as rows, but matrix had size " << dim1 << " by "
                                                                                                  << dim2);
  double result = 0.0;
  for (unsigned i = 0; i < dim1; ++i) result += data[i][i];
  return result;
}

template <class T>
double matrix<T>::det() const {
  if (dim1 != dim2)
    TREL_THROW("matrix::det() : determinant only defined for square matrices, but matrix had size " << dim1
                                                                                                      << " by " << dim2);
  if (dim1 == 0) return 1.0;
  if (dim1 == 1) return data[0][0];
  if (dim1 == 2) return data[1][1] * data[0][0] - data[0][1] * data[1][0];
  double result = 0.0;
  matrix minor(static_cast<int>(dim1 - 1), static_cast<int>(dim1 - 1));
  for (unsigned i = 0; i < dim2; ++i) {
    unsigned minor_row = 0;
    for (unsigned r = 0; r < dim1; ++r) {
      if (r == i) continue;
      for (unsigned c = 1; c < dim1; ++c) minor.data[minor_row][c - 1] = data[r][c];
      ++minor_row;
    }
    const double term = data[i][0] * minor.det();
    if (i % 2 == 0)
      result += term;
    else
      result -= term;
  }
  return result;
}

template <class T>
matrix<double> matrix<T>::invert() const {
  cv::Mat source(static_cast<int>(dim1), static_cast<int>(dim2), CV_64FC1);
  for (unsigned i = 0; i < dim1; ++i)
    for (unsigned j = 0; j < dim2; ++j) source.at<double>(static_cast<int>(i), static_cast<int>(j)) = data[i][j];
  matrix<double> result(static_cast<int>(dim2), static_cast<int>(dim1));
  // cv::invert refuses an empty input; the pseudo-inverse of nothing is nothing.
  if (source.empty()) return result;
  cv::Mat inverse;
  cv::invert(source, inverse, cv::DECOMP_SVD);
  for (unsigned i = 0; i < dim2; ++i)
    for (unsigned j = 0; j < dim1; ++j) result[i][j] = inverse.at<double>(static_cast<int>(i), static_cast<int>(j));
  return result;
}

template <class T>
template <class U>
matrix<T>& matrix<T>::operator*=(const matrix<U>& other) {
  const unsigned r = dim1;
  const unsigned c = dim2;
  const unsigned k = other.get_dim2();
  if (other.get_dim1() != c)
    TREL_THROW("matrix::operator*=() : inner dimensions differ. matrix had size " << r << " by " << c
                                                                                  << " but other had size "
                                                                                  << other.get_dim1() << " by " << k);
  // Flat copies of both operands first: other may be this matrix.
  std::vector<T> lhs(static_cast<std::size_t>(r) * c, T());
  std::vector<U> rhs(static_cast<std::size_t>(c) * k, U());
  for (unsigned i = 0; i < r; ++i)
    for (unsigned m = 0; m < c; ++m) lhs[static_cast<std::size_t>(i) * c + m] = data[i][m];
  for (unsigned m = 0; m < c; ++m)
    for (unsigned j = 0; j < k; ++j) rhs[static_cast<std::size_t>(m) * k + j] = other[m][j];
  std::vector<T> product(static_cast<std::size_t>(r) * k, T());
  std::vector<U> column(c, U());
  for (unsigned j = 0; j < k; ++j) {
    for (unsigned m = 0; m < c; ++m) column[m] = rhs[static_cast<std::size_t>(m) * k + j];
    for (unsigned i = 0; i < r; ++i) {
      double total = 0.0;
      for (unsigned m = 0; m < c; ++m) total += lhs[static_cast<std::size_t>(i) * c + m] * column[m];
      product[static_cast<std::size_t>(i) * k + j] = static_cast<T>(total);
    }
  }
  set_size(static_cast<int>(r), static_cast<int>(k));
  for (unsigned i = 0; i < dim1; ++i)
    for (unsigned j = 0; j < dim2; ++j) data[i][j] = product[static_cast<std::size_t>(i) * k + j];
  return *this;
}

template <class T>
template <class U>
matrix<T> matrix<T>::operator*(const matrix<U>& other) const {
  matrix result(*this);
  result *= other;
  return result;
}

template <class T>
std::ostream& operator<<(std::ostream& out, const matrix<T>& m) {
  out << m.get_dim1() << "\t" << m.get_dim2() << std::endl;
  for (unsigned i = 0; i < m.get_dim1(); ++i) {
    for (unsigned j = 0; j < m.get_dim2(); ++j) out << m[i][j] << "\t";
    out << std::endl;
  }
  return out;
}

template <class T>
tensor<T>::tensor() : num_dims(0), sizes(), last_index(-1), data(nullptr) {}

template <class T>
tensor<T>::tensor(const std::vector<int>& sizes_in)
    : num_dims(static_cast<int>(sizes_in.size())), sizes(sizes_in), last_index(-1), data(nullptr) {
  long long count = sizes_in.empty() ? 0 : 1;
  for (const int extent : sizes_in) {
    if (extent < 0) TREL_THROW("tensor::tensor() : tried to create a tensor with sizes" << sizes_in);
    count *= extent;
    if (count > 2147483647LL) TREL_THROW("tensor::tensor() : too many elements for sizes" << sizes_in);
  }
  if (count > 0) data = new T[static_cast<std::size_t>(count)]();
  last_index = static_cast<int>(count) - 1;
}

template <class T>
tensor<T>::tensor(const tensor& other)
    : num_dims(other.num_dims), sizes(other.sizes), last_index(other.last_index), data(nullptr) {
  if (last_index >= 0) {
    data = new T[static_cast<std::size_t>(last_index) + 1];
    for (int i = 0; i <= last_index; ++i) data[i] = other.data[i];
  }
}

template <class T>
tensor<T>& tensor<T>::operator=(const tensor& other) {
  if (this != &other) {
    tensor copy(other);
    swap(copy);
  }
  return *this;
}

template <class T>
tensor<T>::~tensor() {
  delete[] data;
}

template <class T>
void tensor<T>::swap(tensor& other) {
  std::swap(num_dims, other.num_dims);
  sizes.swap(other.sizes);
  std::swap(last_index, other.last_index);
  std::swap(data, other.data);
}

template <class T>
bool tensor<T>::operator==(const tensor& other) const {
  if (get_sizes() != other.get_sizes()) return false;
  for (int i = 0; i <= last_index; ++i)
    if (!eq<T>(data[i], other.data[i], static_cast<T>(0.0001))) return false;
  return true;
}

template <class T>
std::vector<int> tensor<T>::get_sizes() const {
  if (num_dims < 1) return std::vector<int>();
  return std::vector<int>(sizes.begin(), sizes.begin() + num_dims);
}

extern template TREL_TOOLS_EXPORT std::ostream& operator<<(std::ostream&, const matrix<double>&);

}  // namespace trel

#endif
