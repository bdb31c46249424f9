#include "trel_tools/colour_codes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "trel_tools/exception_l.h"
#include "tests/exception_text.h"

namespace {

using trel_test::detail_of;

TEST(ColourCodes, PackedIntegerUnpacksLowByteFirst) {
  EXPECT_EQ(trel::UIntToColor(0x123456u), cv::Scalar(86, 52, 18, 0));
  EXPECT_EQ(trel::UIntToColor(0xFF000000u), cv::Scalar(0, 0, 0, 0));
  EXPECT_EQ(trel::UIntToColor(0xFFFFFFFFu), cv::Scalar(255, 255, 255, 0));
}

TEST(ColourCodes, TableEntriesAndEnds) {
  EXPECT_EQ(trel::colour_set(0), cv::Scalar(0, 179, 255, 0));
  EXPECT_EQ(trel::colour_set(10), cv::Scalar(92, 122, 255, 0));
  EXPECT_EQ(trel::colour_set(19), cv::Scalar(22, 44, 35, 0));
  EXPECT_EQ(trel::colour_set_max_contrast(7), cv::Scalar(52, 125, 0, 0));
  EXPECT_EQ(trel::colour_set_optimised(0), cv::Scalar(0, 0, 255, 0));
  EXPECT_EQ(trel::colour_set_optimised(8), cv::Scalar(255, 128, 0, 0));
  // Both tables hold distinct colours, each with a zero fourth value.
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(trel::colour_set(i), trel::colour_set_max_contrast(i));
    EXPECT_EQ(trel::colour_set(i)[3], 0.0);
    for (int j = 0; j < i; ++j) EXPECT_NE(trel::colour_set(i), trel::colour_set(j)) << i << " " << j;
  }
  for (int i = 0; i < 9; ++i)
    for (int j = 0; j < i; ++j) EXPECT_NE(trel::colour_set_optimised(i), trel::colour_set_optimised(j));
}

TEST(ColourCodes, OutOfRangeIndicesThrow) {
  struct Case {
    cv::Scalar (*lookup)(int);
    int index;
    std::string detail;
  };
  const std::vector<Case> cases = {
      {trel::colour_set, 20, "Requested colour 20 but this map only holds up to 19"},
      {trel::colour_set, -1, "Requested colour -1 but this map only holds up to 19"},
      {trel::colour_set_max_contrast, 20, "Requested colour 20 but this map only holds up to 19"},
      {trel::colour_set_optimised, 9, "Requested colour 9 but this map only holds up to 8"},
      {trel::colour_set_optimised, -1, "Requested colour -1 but this map only holds up to 8"},
  };
  for (const Case& c : cases) {
    try {
      c.lookup(c.index);
      ADD_FAILURE() << "nothing thrown for " << c.index;
    } catch (const trel::exception_l& e) {
      EXPECT_EQ(detail_of(e), c.detail);
    }
  }
}

}  // namespace
