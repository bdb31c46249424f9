#include "trel_tools/Three_d_point.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/trel_matchers.h"

namespace {

using trel::Three_d_point;

std::string text(const Three_d_point& p) {
  std::ostringstream out;
  out << p;
  return out.str();
}

TEST(ThreeDPoint, TextFormPrintsTagsInReverseOrderUnlessAllZero) {
  EXPECT_EQ(text(Three_d_point(1, 2, 3, 4, 5, 6)), "1,2,3,6,5,4");
  EXPECT_EQ(text(Three_d_point(1, 2, 3, 0, 0, 0)), "1,2,3");
  EXPECT_EQ(text(Three_d_point(1.5, -2, 0, 0, 0, 7)), "1.5,-2,0,7,0,0");
}

TEST(ThreeDPoint, IndicesPastFiveAreRefusedAndChangeNothing) {
  Three_d_point p(1, 2, 3, 4, 5, 6);
  p = std::vector<double>{10, 20};  // leading indices only
  p[5] = 60;
  EXPECT_EQ(text(p), "10,20,3,60,5,4");
  const auto refuses = [&p](auto action, int index) {
    try {
      action();
      ADD_FAILURE() << "index " << index << " accepted";
    } catch (const trel::exception_l& e) {
      EXPECT_EQ(trel_test::origin_detail(e), "Three_d_point::operator[] : passed index of " + std::to_string(index) +
                                                 " but only values 0-5 are valid.");
    }
    EXPECT_EQ(text(p), "10,20,3,60,5,4");
  };
  const Three_d_point& read_only = p;
  refuses([&] { (void)read_only[6]; }, 6);
  refuses([&] { (void)read_only[-1]; }, -1);
  refuses([&] { p = std::vector<double>(7, 0.0); }, 6);
}

TEST(ThreeDPoint, VectorArithmeticNeedsThreeElements) {
  const struct {
    std::vector<double> v;
    double dot;
    const char* after_add;
    const char* message;
  } cases[] = {
      {{0.5, 2, -4}, 0.5 + 4 - 12, "1.5,4,-1", ""},
      {{1, 2}, -1.0, "1,2,3",
       "Can't do a dot product of a 3d point with a vector of size :2\n"
       "Can't call += on a 3d point a Vector not of 3 dimensions, attempted Vector had size 2\n"},
      {{1, 2, 3, 4}, -1.0, "1,2,3",
       "Can't do a dot product of a 3d point with a vector of size :4\n"
       "Can't call += on a 3d point a Vector not of 3 dimensions, attempted Vector had size 4\n"},
  };
  for (const auto& c : cases) {
    Three_d_point p(1, 2, 3, 0, 0, 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(p.dot_product(c.v), c.dot);
    EXPECT_EQ(text(p += c.v), c.after_add);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
  }
}

}  // namespace
