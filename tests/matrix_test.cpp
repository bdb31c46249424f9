#include "trel_tools/matrix.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "tests/trel_matchers.h"

namespace {

using trel::matrix;
using trel::tensor;
using trel_test::make_matrix;
using trel_test::matrix_near;
using trel_test::origin_detail;

// Cofactor expansion and SVD on well-conditioned small matrices lose a few ulps
// per operation; 1e-10 leaves room for that and still catches a wrong sign.
const double kTolerance = 1e-10;

matrix<double> random_matrix(std::mt19937& rng, int rows, int cols) {
  std::uniform_real_distribution<double> value(-2.0, 2.0);
  matrix<double> m(rows, cols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) m[i][j] = value(rng);
  return m;
}

matrix<double> identity(int n) {
  matrix<double> m(n, n);
  for (int i = 0; i < n; ++i) m[i][i] = 1.0;
  return m;
}

bool is_empty(const matrix<double>& m) { return m.get_dim1() == 0 && m.get_dim2() == 0; }

TEST(Matrix, ZeroDimensionGivesEmptyMatrix) {
  EXPECT_TRUE(is_empty(matrix<double>(0, 5)));
  EXPECT_TRUE(is_empty(matrix<double>(4, 0)));
  matrix<double> m(2, 2);
  m.set_size(3, 0);
  EXPECT_TRUE(is_empty(m));
}

TEST(Matrix, NegativeSizeThrowsAfterReleasingStorage) {
  matrix<double> m = make_matrix({{1, 2, 3}, {4, 5, 6}});
  try {
    m.set_size(-1, 3);
    FAIL() << "no exception";
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(origin_detail(e), "matrix::set_size() : tried to set size to -1,3");
    EXPECT_EQ(e.depth(), 0);
  }
  EXPECT_TRUE(is_empty(m));
  try {
    matrix<int> bad(2, -4);
    FAIL() << "no exception";
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(origin_detail(e), "matrix::set_size() : tried to set size to 2,-4");
  }
}

TEST(Matrix, SetSizeDiscardsContents) {
  matrix<double> m = make_matrix({{1, 2, 3}, {4, 5, 6}});
  m.set_size(2, 3);
  EXPECT_TRUE(matrix_near(m, matrix<double>(2, 3), 0.0));
  matrix<int> mi(2, 2);
  mi[1][1] = 9;
  mi.set_size(2, 2);
  EXPECT_EQ(mi[1][1], 0);
}

TEST(Matrix, CopiesAreDeepAndSelfAssignmentKeepsContents) {
  const matrix<double> original = make_matrix({{1, 2}, {3, 4}, {5, 6}});
  matrix<double> copy(original);
  matrix<double> assigned;
  assigned = original;
  copy[2][1] = -1.0;
  assigned.set(0, 0, -2.0);
  EXPECT_EQ(original[2][1], 6.0);
  EXPECT_EQ(original.get(0, 0), 1.0);
  matrix<double>& alias = assigned;
  assigned = alias;
  EXPECT_TRUE(matrix_near(assigned, make_matrix({{-2, 2}, {3, 4}, {5, 6}}), 0.0));
}

TEST(Matrix, SetRowNeedsRowInRangeAndEnoughValues) {
  matrix<double> m(2, 3);
  m.set_row(1, {7, 8, 9, 10});  // extra values are ignored
  EXPECT_TRUE(matrix_near(m, make_matrix({{0, 0, 0}, {7, 8, 9}}), 0.0));
  EXPECT_THROW(m.set_row(1, {1, 2}), trel::exception_l);
  EXPECT_THROW(m.set_row(2, {1, 2, 3}), trel::exception_l);
  EXPECT_TRUE(matrix_near(m, make_matrix({{0, 0, 0}, {7, 8, 9}}), 0.0));
}

struct Det_case {
  const char* name;
  std::vector<std::vector<double>> rows;
  double expected;
};
void PrintTo(const Det_case& c, std::ostream* os) { *os << c.name; }

class MatrixDet : public ::testing::TestWithParam<Det_case> {};

TEST_P(MatrixDet, MatchesKnownValue) {
  EXPECT_NEAR(make_matrix(GetParam().rows).det(), GetParam().expected, kTolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MatrixDet,
    ::testing::Values(Det_case{"Empty", {}, 1.0}, Det_case{"OneByOne", {{-3.5}}, -3.5},
                      Det_case{"TwoByTwo", {{1, 2}, {3, 4}}, -2.0},
                      Det_case{"Identity3", {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, 1.0},
                      Det_case{"EqualRows", {{1, 2, 3}, {4, 5, 6}, {1, 2, 3}}, 0.0},
                      // Odd-row cofactors carry a minus sign: a single swap of rows negates.
                      Det_case{"RowSwap", {{0, 1, 0}, {1, 0, 0}, {0, 0, 1}}, -1.0},
                      Det_case{"FourByFour", {{2, 0, 0, 1}, {0, 3, 0, 0}, {0, 0, 4, 0}, {1, 0, 0, 5}}, 108.0}),
    [](const ::testing::TestParamInfo<Det_case>& info) { return std::string(info.param.name); });

TEST(MatrixDet, AgreesWithOpenCvOnRandomMatrices) {
  std::mt19937 rng(17);
  for (int n = 3; n <= 6; ++n) {
    const matrix<double> m = random_matrix(rng, n, n);
    cv::Mat_<double> cv_m(n, n);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) cv_m(i, j) = m[i][j];
    EXPECT_NEAR(m.det(), cv::determinant(cv_m), kTolerance) << "size " << n;
  }
}

TEST(MatrixDet, NonSquareThrows) {
  EXPECT_THROW(matrix<double>(2, 3).det(), trel::exception_l);
  EXPECT_THROW(matrix<double>(3, 1).det(), trel::exception_l);
}

TEST(MatrixInvert, DiagonalAndRandomSquare) {
  EXPECT_TRUE(matrix_near(make_matrix({{2, 0}, {0, 4}}).invert(), make_matrix({{0.5, 0}, {0, 0.25}}), kTolerance));
  std::mt19937 rng(3);
  const matrix<double> a = random_matrix(rng, 4, 4);
  EXPECT_TRUE(matrix_near(a * a.invert(), identity(4), 1e-9));
}

// The Moore-Penrose conditions A A+ A = A and A+ A A+ = A+ identify the
// pseudo-inverse for singular and non-square input alike.
TEST(MatrixInvert, SingularAndNonSquareGivePseudoInverse) {
  std::mt19937 rng(5);
  const matrix<double> wide = random_matrix(rng, 2, 3);
  const matrix<double> rank_one = make_matrix({{1, 2}, {2, 4}});
  for (const matrix<double>& a : {wide, rank_one}) {
    const matrix<double> p = a.invert();
    ASSERT_EQ(p.get_dim1(), a.get_dim2());
    ASSERT_EQ(p.get_dim2(), a.get_dim1());
    EXPECT_TRUE(matrix_near(a * p * a, a, 1e-9));
    EXPECT_TRUE(matrix_near(p * a * p, p, 1e-9));
  }
  EXPECT_TRUE(matrix_near(matrix<double>(2, 2).invert(), matrix<double>(2, 2), 0.0));
  EXPECT_TRUE(is_empty(matrix<double>().invert()));
}

TEST(MatrixProduct, KnownProductAndShape) {
  const matrix<double> a = make_matrix({{1, 2, 3}, {4, 5, 6}});
  const matrix<double> b = make_matrix({{7, 8}, {9, 10}, {11, 12}});
  EXPECT_TRUE(matrix_near(a * b, make_matrix({{58, 64}, {139, 154}}), 0.0));
  EXPECT_TRUE(matrix_near(b * a, make_matrix({{39, 54, 69}, {49, 68, 87}, {59, 82, 105}}), 0.0));
}

TEST(MatrixProduct, InPlaceSelfProductGivesSquare) {
  matrix<double> m = make_matrix({{1, 2}, {3, 4}});
  m *= m;
  EXPECT_TRUE(matrix_near(m, make_matrix({{7, 10}, {15, 22}}), 0.0));
}

TEST(MatrixProduct, MismatchedInnerDimensionThrowsAndKeepsMatrix) {
  matrix<double> m = make_matrix({{1, 2}, {3, 4}});
  EXPECT_THROW(m *= matrix<double>(3, 2), trel::exception_l);
  EXPECT_TRUE(matrix_near(m, make_matrix({{1, 2}, {3, 4}}), 0.0));
}

TEST(Matrix, TransposeAndTrace) {
  const matrix<double> t = make_matrix({{1, 2, 3}, {4, 5, 6}}).transpose();
  EXPECT_TRUE(matrix_near(t, make_matrix({{1, 4}, {2, 5}, {3, 6}}), 0.0));
  EXPECT_TRUE(is_empty(matrix<double>().transpose()));
  EXPECT_EQ(make_matrix({{1, 9, 9}, {9, -2, 9}, {9, 9, 4.5}}).trace(), 3.5);
  EXPECT_EQ(make_matrix({{1, 9, 9}, {9, 2, 9}}).trace(), 3.0);
  EXPECT_EQ(matrix<double>().trace(), 0.0);
  EXPECT_THROW(make_matrix({{1}, {2}}).trace(), trel::exception_l);
}

TEST(Matrix, TextFormIsSizeLineThenTabbedRows) {
  std::ostringstream out;
  out << identity(2) << matrix<double>();
  EXPECT_EQ(out.str(), "2\t2\n1\t0\t\n0\t1\t\n0\t0\n");
}

TEST(Tensor, SizeConstructorZeroFillsAndCopiesOwnStorage) {
  tensor<double> t({2, 3, 4});
  EXPECT_EQ(t.get_sizes(), (std::vector<int>{2, 3, 4}));
  ASSERT_EQ(t.get_num_elements(), 24);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(t[i], 0.0);
  t[23] = 5.0;
  tensor<double> copy(t);
  copy[23] = -1.0;
  EXPECT_EQ(t[23], 5.0);
  tensor<double> assigned;
  assigned = copy;
  EXPECT_EQ(assigned[23], -1.0);
  EXPECT_TRUE(tensor<double>().get_sizes().empty());
  EXPECT_EQ(tensor<double>({3, 0}).get_num_elements(), 0);
  EXPECT_THROW(tensor<double>({2, -1}), trel::exception_l);
}

TEST(Tensor, EqualityToleratesOneTenThousandth) {
  tensor<double> a({2, 2});
  tensor<double> b(a);
  b[3] = 0.0001;
  EXPECT_TRUE(a == b);
  b[3] = 0.0002;
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(a != b);
  // Same element count, different shape or dimension count: unequal.
  EXPECT_FALSE(tensor<double>({2, 3}) == tensor<double>({3, 2}));
  EXPECT_FALSE(tensor<double>({4}) == tensor<double>({4, 1}));
}

}  // namespace
