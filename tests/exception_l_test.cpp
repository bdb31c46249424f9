#include "trel_tools/exception_l.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using trel_test::split_lines;

// Each throw site records its own line so the test can check the frame text.
int origin_line = 0;

void throw_at_origin(int rows, int cols) {
  origin_line = __LINE__ + 1;
  TREL_THROW("matrix::set_size() : tried to set size to " << rows << "," << cols);
}

const int inner_guard_line = __LINE__ + 2;
void guarded_once() {
  trel::guarded(TREL_FRAME, [] { throw_at_origin(-1, 2); });
}

const int outer_guard_line = __LINE__ + 2;
void guarded_twice(int num_eqs) {
  trel::guarded(TREL_FRAME, [] { guarded_once(); }, [&](std::ostream& os) { os << "num_eqs=" << num_eqs; });
}

const int std_guard_line = __LINE__ + 2;
int guarded_out_of_range() {
  return trel::guarded(TREL_FRAME, [] {
    std::vector<int> v(2);
    return v.at(5);
  }, [](std::ostream& os) { os << "index 5"; });
}

void guarded_throws_int() {
  trel::guarded(TREL_FRAME, [] { throw 42; }, [](std::ostream& os) { os << "never"; });
}

std::string frame_line1(int line) { return std::string(__FILE__) + "(" + std::to_string(line) + ")"; }

}  // namespace

TEST(ExceptionL, DefaultAndCopyOwnTheirText) {
  const trel::exception_l empty;
  EXPECT_STREQ(empty.what(), "No message");
  EXPECT_EQ(empty.depth(), 0);

  trel::exception_l* original = new trel::exception_l("some text", 3);
  const trel::exception_l copy(*original);
  delete original;
  EXPECT_STREQ(copy.what(), "some text");
  EXPECT_EQ(copy.depth(), 3);
}

TEST(ExceptionL, OriginFrameHasThreeLinesAndEndsWithNewline) {
  try {
    throw_at_origin(-1, 2);
    FAIL() << "no throw";
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(e.depth(), 0);
    const auto lines = split_lines(e.what());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], frame_line1(origin_line));
    EXPECT_NE(lines[1].find("throw_at_origin"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2], "Details: matrix::set_size() : tried to set size to -1,2");
    EXPECT_EQ(lines[3], "");
  }
}

TEST(ExceptionL, WrappingIndentsEachFrameByItsDepth) {
  try {
    guarded_twice(7);
    FAIL() << "no throw";
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(e.depth(), 2);
    const auto lines = split_lines(e.what());
    ASSERT_EQ(lines.size(), 12u) << e.what();
    EXPECT_EQ(lines[0], "\t\t" + frame_line1(outer_guard_line));
    EXPECT_EQ(lines[1].substr(0, 2), "\t\t");
    EXPECT_NE(lines[1].find("guarded_twice"), std::string::npos);
    EXPECT_EQ(lines[2], "\t\tDetails: num_eqs=7");
    EXPECT_EQ(lines[3], "\t" + frame_line1(inner_guard_line));
    EXPECT_NE(lines[4].find("guarded_once"), std::string::npos);
    EXPECT_NE(lines[4].substr(0, 2), "\t\t");
    EXPECT_EQ(lines[5], "\tDetails: ");
    EXPECT_EQ(lines[6], frame_line1(origin_line));
    EXPECT_NE(lines[7].find("throw_at_origin"), std::string::npos);
    EXPECT_EQ(lines[8], "Details: matrix::set_size() : tried to set size to -1,2");
    EXPECT_EQ(lines[9], "");
    EXPECT_EQ(lines[10], "");
    EXPECT_EQ(lines[11], "");
  }
}

TEST(ExceptionL, StdExceptionIsWrappedAtDepthZeroWithoutTabs) {
  try {
    guarded_out_of_range();
    FAIL() << "no throw";
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(e.depth(), 0);
    const auto lines = split_lines(e.what());
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], frame_line1(std_guard_line));
    EXPECT_NE(lines[1].find("guarded_out_of_range"), std::string::npos);
    EXPECT_EQ(lines[2], "Details: index 5");
    EXPECT_NE(lines[3].find("vector"), std::string::npos) << lines[3];
    EXPECT_EQ(lines.back(), "");
  }
}

TEST(ExceptionL, NonStandardExceptionsPassThroughUntouched) {
  EXPECT_THROW(guarded_throws_int(), int);
}
