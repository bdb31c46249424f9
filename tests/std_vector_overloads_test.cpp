#include "trel_tools/std_vector_overloads.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>
#include <iomanip>
#include <limits>
#include <sstream>
#include <ostream>
#include <string>
#include <vector>

#include "tests/trel_matchers.h"

namespace {

using trel::operator+=;
using trel::operator-=;
using trel::operator-;
using trel::operator<<;
using trel_test::origin_detail;

using Vec = std::vector<double>;

TEST(StdVectorOverloads, ArithmeticIsElementWise) {
  Vec a{1.5, -2.0, 4.0};
  const Vec b{0.5, 3.0, -1.0};
  EXPECT_EQ((a - b), (Vec{1.0, -5.0, 5.0}));
  a += b;
  EXPECT_EQ(a, (Vec{2.0, 1.0, 3.0}));
  a -= b;
  a -= b;
  EXPECT_EQ(a, (Vec{1.0, -5.0, 5.0}));
  a += a;  // the right operand may be the left one
  EXPECT_EQ(a, (Vec{2.0, -10.0, 10.0}));
}

TEST(StdVectorOverloads, EmptyVectorsCombineWithoutError) {
  Vec a, b;
  EXPECT_TRUE((a - b).empty());
  EXPECT_TRUE((a += b).empty());
  EXPECT_TRUE((a -= b).empty());
}

struct Size_mismatch_case {
  const char* name;
  std::function<void(Vec&, const Vec&)> op;
  const char* detail_prefix;
};
void PrintTo(const Size_mismatch_case& c, std::ostream* os) { *os << c.name; }

class SizeMismatch : public ::testing::TestWithParam<Size_mismatch_case> {};

TEST_P(SizeMismatch, ThrowsWithOwnTextAndLeavesLeftOperandUnchanged) {
  Vec a{1.0, 2.0, 3.0};
  const Vec b{10.0, 20.0};
  try {
    GetParam().op(a, b);
    FAIL() << "no exception";
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(origin_detail(e), std::string(GetParam().detail_prefix) + "3 but vec2 had size 2");
    EXPECT_EQ(e.depth(), 0);
  }
  EXPECT_EQ(a, (Vec{1.0, 2.0, 3.0}));
}

INSTANTIATE_TEST_SUITE_P(
    Operators, SizeMismatch,
    ::testing::Values(
        Size_mismatch_case{"PlusAssign", [](Vec& a, const Vec& b) { a += b; },
                           "std_vector_overloads::operator+=(std::vector) : vec1 had size "},
        Size_mismatch_case{"MinusAssign", [](Vec& a, const Vec& b) { a -= b; }, "vec1 had size "},
        Size_mismatch_case{"Minus", [](Vec& a, const Vec& b) { a = a - b; },
                           "size mismatch. vec1 had size "}),
    [](const ::testing::TestParamInfo<Size_mismatch_case>& info) { return std::string(info.param.name); });

TEST(StdVectorOverloads, TextFormListsSizeAndElements) {
  std::ostringstream out;
  out << Vec{1.0, 2.0, 3.0} << "|" << Vec{};
  EXPECT_EQ(out.str(), " Size: 3 { 1 2 3 } | Size: 0 { } ");
}

TEST(StdVectorOverloads, TextFormUsesStreamFormatting) {
  std::ostringstream out;
  out << std::fixed << std::setprecision(2) << Vec{0.125, -1.0};
  EXPECT_EQ(out.str(), " Size: 2 { 0.12 -1.00 } ");
}

TEST(Eq, BoundIsInclusiveInEitherOrder) {
  EXPECT_TRUE(trel::eq(1.0, 1.5, 0.5));
  EXPECT_TRUE(trel::eq(1.5, 1.0, 0.5));
  EXPECT_FALSE(trel::eq(1.0, 1.5, 0.4));
  EXPECT_FALSE(trel::eq(1.5, 1.0, 0.4));
  EXPECT_TRUE(trel::eq(2.25, 2.25, 0.0));
  EXPECT_FALSE(trel::eq(2.25, std::nextafter(2.25, 3.0), 0.0));
}

TEST(Eq, NanDifferenceIsNeverEqual) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(trel::eq(nan, nan, 1e300));
  EXPECT_FALSE(trel::eq(1.0, nan, std::numeric_limits<double>::infinity()));
}

TEST(MaxPortable, FirstArgumentWinsTiesAndNanComparisons) {
  // 0.0 and -0.0 compare equal, so the sign shows which argument came back.
  EXPECT_TRUE(std::signbit(trel::max_portable(-0.0, 0.0)));
  EXPECT_FALSE(std::signbit(trel::max_portable(0.0, -0.0)));
  EXPECT_TRUE(std::isnan(trel::max_portable(std::nan(""), 5.0)));
  EXPECT_EQ(trel::max_portable(5.0, std::nan("")), 5.0);
  EXPECT_EQ(trel::max_portable(-1e-300, 0.0), 0.0);
  EXPECT_EQ(trel::max_portable(3.0, -7.0), 3.0);
}

TEST(Sum, AddsInDoubleThenConverts) {
  EXPECT_EQ(trel::sum(std::vector<int>{1, 2, -4}), -1);
  EXPECT_EQ(trel::sum(std::vector<int>{}), 0);
  // INT_MAX + INT_MAX overflows an int accumulator; the double one does not.
  EXPECT_EQ(trel::sum(std::vector<int>{INT_MAX, INT_MAX, -INT_MAX}), INT_MAX);
  EXPECT_DOUBLE_EQ(trel::sum(Vec{0.5, 0.25, -2.0}), -1.25);
}

TEST(DefaultVal, SetsZeroOfEachType) {
  double d = 3.5;
  float f = -2.0f;
  int i = 7;
  trel::default_val(d);
  trel::default_val(f);
  trel::default_val(i);
  EXPECT_EQ(d, 0.0);
  EXPECT_EQ(f, 0.0f);
  EXPECT_EQ(i, 0);
  EXPECT_EQ(trel::square(-3.0), 9.0);
}

}  // namespace
