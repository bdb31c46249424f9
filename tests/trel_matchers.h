#ifndef TREL_TESTS_TREL_MATCHERS_H
#define TREL_TESTS_TREL_MATCHERS_H

// Domain comparisons for tests, as functions returning testing::AssertionResult
// so that EXPECT_TRUE(matrix_near(...)) prints the first mismatch with both
// values. Every comparison is written so that a NaN fails.

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "tests/test_support.h"
#include "trel_tools/exception_l.h"
#include "trel_tools/matrix.h"

namespace trel_test {

// True only for |a - b| <= tolerance; NaN on either side gives false.
inline bool near(double a, double b, double tolerance) { return std::abs(a - b) <= tolerance; }

// Element-wise comparison of equally sized matrices.
template <class T>
::testing::AssertionResult matrix_near(const trel::matrix<T>& actual, const trel::matrix<T>& expected,
                                       double tolerance) {
  if (actual.get_dim1() != expected.get_dim1() || actual.get_dim2() != expected.get_dim2())
    return ::testing::AssertionFailure() << "size " << actual.get_dim1() << "x" << actual.get_dim2()
                                         << ", expected " << expected.get_dim1() << "x" << expected.get_dim2();
  for (unsigned i = 0; i < actual.get_dim1(); ++i)
    for (unsigned j = 0; j < actual.get_dim2(); ++j)
      if (!near(actual[i][j], expected[i][j], tolerance))
        return ::testing::AssertionFailure()
               << "first mismatch at row " << i << ", column " << j << ": " << actual[i][j] << " vs expected "
               << expected[i][j] << " (tolerance " << tolerance << ")";
  return ::testing::AssertionSuccess();
}

// Builds a matrix from rows given as nested braces.
inline trel::matrix<double> make_matrix(const std::vector<std::vector<double>>& rows) {
  trel::matrix<double> m(static_cast<int>(rows.size()), rows.empty() ? 0 : static_cast<int>(rows[0].size()));
  for (std::size_t i = 0; i < rows.size(); ++i) m.set_row(static_cast<unsigned>(i), rows[i]);
  return m;
}

// 3x3, orthonormal (R^T R = I within tolerance) and determinant +1.
inline ::testing::AssertionResult is_rotation_matrix(const trel::matrix<double>& r, double tolerance) {
  if (r.get_dim1() != 3 || r.get_dim2() != 3)
    return ::testing::AssertionFailure() << "size " << r.get_dim1() << "x" << r.get_dim2() << ", expected 3x3";
  for (unsigned i = 0; i < 3; ++i)
    for (unsigned j = 0; j < 3; ++j) {
      double dot = 0.0;
      for (unsigned k = 0; k < 3; ++k) dot += r[k][i] * r[k][j];
      if (!near(dot, i == j ? 1.0 : 0.0, tolerance))
        return ::testing::AssertionFailure() << "(R^T R)(" << i << ", " << j << ") = " << dot << " in\n" << r;
    }
  const double det = r[0][0] * (r[1][1] * r[2][2] - r[1][2] * r[2][1]) -
                     r[0][1] * (r[1][0] * r[2][2] - r[1][2] * r[2][0]) +
                     r[0][2] * (r[1][0] * r[2][1] - r[1][1] * r[2][0]);
  if (!near(det, 1.0, tolerance)) return ::testing::AssertionFailure() << "determinant " << det << " of\n" << r;
  return ::testing::AssertionSuccess();
}

// Both proper rotations and element-wise near each other.
inline ::testing::AssertionResult rotation_matrices_near(const trel::matrix<double>& actual,
                                                         const trel::matrix<double>& expected, double tolerance) {
  const ::testing::AssertionResult actual_ok = is_rotation_matrix(actual, tolerance);
  if (!actual_ok) return ::testing::AssertionFailure() << "actual is not a rotation: " << actual_ok.message();
  return matrix_near(actual, expected, tolerance);
}

inline ::testing::AssertionResult vectors_near(const std::vector<double>& actual, const std::vector<double>& expected,
                                               double tolerance) {
  if (actual.size() != expected.size())
    return ::testing::AssertionFailure() << "size " << actual.size() << ", expected " << expected.size();
  for (std::size_t i = 0; i < actual.size(); ++i)
    if (!near(actual[i], expected[i], tolerance))
      return ::testing::AssertionFailure() << "first mismatch at index " << i << ": " << actual[i]
                                           << " vs expected " << expected[i] << " (tolerance " << tolerance << ")";
  return ::testing::AssertionSuccess();
}

// Quaternions (x, y, z, w) equal up to sign: q and -q are the same rotation.
inline ::testing::AssertionResult quaternions_near_up_to_sign(const std::vector<double>& actual,
                                                              const std::vector<double>& expected,
                                                              double tolerance) {
  if (actual.size() != 4 || expected.size() != 4)
    return ::testing::AssertionFailure() << "quaternions need 4 values, got " << actual.size() << " and "
                                         << expected.size();
  std::vector<double> negated(expected);
  for (double& value : negated) value = -value;
  if (vectors_near(actual, expected, tolerance) || vectors_near(actual, negated, tolerance))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "(" << actual[0] << ", " << actual[1] << ", " << actual[2] << ", "
                                       << actual[3] << ") vs expected +-(" << expected[0] << ", " << expected[1]
                                       << ", " << expected[2] << ", " << expected[3] << ")";
}

// Element-wise comparison of equally sized OpenCV matrices of doubles.
inline ::testing::AssertionResult cv_mat_near(const cv::Mat_<double>& actual, const cv::Mat_<double>& expected,
                                              double tolerance) {
  if (actual.rows != expected.rows || actual.cols != expected.cols)
    return ::testing::AssertionFailure() << "size " << actual.rows << "x" << actual.cols << ", expected "
                                         << expected.rows << "x" << expected.cols;
  for (int i = 0; i < actual.rows; ++i)
    for (int j = 0; j < actual.cols; ++j)
      if (!near(actual(i, j), expected(i, j), tolerance))
        return ::testing::AssertionFailure() << "first mismatch at row " << i << ", column " << j << ": "
                                             << actual(i, j) << " vs expected " << expected(i, j) << " (tolerance "
                                             << tolerance << ")";
  return ::testing::AssertionSuccess();
}

}  // namespace trel_test

#endif
