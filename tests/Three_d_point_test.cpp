#include "trel_tools/Three_d_point.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/trel_matchers.h"

namespace {

using trel::Three_d_point;

std::string text_of(const Three_d_point& p) {
  std::ostringstream out;
  out << p;
  return out.str();
}

std::vector<double> values_of(const Three_d_point& p) {
  std::vector<double> values;
  for (int i = 0; i < 6; ++i) values.push_back(p[i]);
  return values;
}

TEST(ThreeDPoint, TextFormPrintsTagsInReverseOrderUnlessAllZero) {
  const struct {
    Three_d_point point;
    const char* text;
  } cases[] = {
      {Three_d_point(1, 2, 3, 4, 5, 6), "1,2,3,6,5,4"},
      {Three_d_point(1, 2, 3, 0, 0, 0), "1,2,3"},
      {Three_d_point(1.5, -2, 0, 0, 0, 7), "1.5,-2,0,7,0,0"},
      {Three_d_point(), "0,0,0"},
  };
  for (const auto& c : cases) EXPECT_EQ(text_of(c.point), c.text);
}

TEST(ThreeDPoint, IndexReachesCoordinatesAndTagsOnly) {
  Three_d_point p(1, 2, 3, 4, 5, 6);
  p[5] = 60;
  EXPECT_EQ(p.c, 60);
  const Three_d_point& read_only = p;
  EXPECT_EQ(read_only[3], 4);
  for (const int bad : {6, -1}) {
    try {
      (void)read_only[bad];
      ADD_FAILURE() << "index " << bad << " was accepted";
    } catch (const trel::exception_l& e) {
      EXPECT_EQ(trel_test::origin_detail(e), "Three_d_point::operator[] : passed index of " + std::to_string(bad) +
                                                 " but only values 0-5 are valid.");
    }
  }
}

TEST(ThreeDPoint, VectorAssignmentWritesLeadingIndicesAndRefusesSevenWhole) {
  Three_d_point p(1, 2, 3, 4, 5, 6);
  p = std::vector<double>{};
  p = std::vector<double>{10, 20};
  EXPECT_TRUE(trel_test::vectors_near(values_of(p), {10, 20, 3, 4, 5, 6}, 0));
  p.extra_1 = 9;
  const Three_d_point copy = p;
  EXPECT_EQ(copy.extra_1, 9);
  try {
    p = std::vector<double>{7, 7, 7, 7, 7, 7, 7};
    ADD_FAILURE() << "seven values were accepted";
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(trel_test::origin_detail(e), "Three_d_point::operator[] : passed index of 6 but only values 0-5 are valid.");
  }
  EXPECT_TRUE(trel_test::vectors_near(values_of(p), {10, 20, 3, 4, 5, 6}, 0));
}

TEST(ThreeDPoint, VectorArithmeticNeedsThreeElements) {
  const struct {
    std::vector<double> v;
    double dot;
    std::vector<double> after_add;
    const char* message;
  } cases[] = {
      {{1, 0, -1}, 1 - 3, {2, 2, 2}, ""},
      {{0.5, 2, 4}, 0.5 + 4 + 12, {1.5, 4, 7}, ""},
      {{1, 2}, -1.0, {1, 2, 3},
       "Can't do a dot product of a 3d point with a vector of size :2\n"
       "Can't call += on a 3d point a Vector not of 3 dimensions, attempted Vector had size 2\n"},
      {{1, 2, 3, 4}, -1.0, {1, 2, 3},
       "Can't do a dot product of a 3d point with a vector of size :4\n"
       "Can't call += on a 3d point a Vector not of 3 dimensions, attempted Vector had size 4\n"},
  };
  for (const auto& c : cases) {
    Three_d_point p(1, 2, 3, 0, 0, 0);
    testing::internal::CaptureStderr();
    const double dot = p.dot_product(c.v);
    p += c.v;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
    EXPECT_EQ(dot, c.dot);
    EXPECT_TRUE(trel_test::vectors_near({p.x, p.y, p.z}, c.after_add, 0));
  }
}

}  // namespace
