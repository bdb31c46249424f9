#include "trel_tools/colour_codes.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

using trel_test::detail_thrown;

TEST(ColourCodes, PackedIntegersAndTables) {
  EXPECT_EQ(trel::UIntToColor(0x123456u), cv::Scalar(86, 52, 18, 0));
  EXPECT_EQ(trel::UIntToColor(0xFFFFFFFFu), cv::Scalar(255, 255, 255, 0));
  EXPECT_EQ(trel::colour_set(0), cv::Scalar(0, 179, 255, 0));
  EXPECT_EQ(trel::colour_set(19), cv::Scalar(22, 44, 35, 0));
  EXPECT_EQ(trel::colour_set_max_contrast(10), cv::Scalar(92, 122, 255, 0));
  EXPECT_EQ(trel::colour_set_optimised(0), cv::Scalar(0, 0, 255, 0));
  EXPECT_EQ(trel::colour_set_optimised(8), cv::Scalar(255, 128, 0, 0));
  for (int i = 0; i < 20; ++i)
    for (int j = 0; j < i; ++j) EXPECT_NE(trel::colour_set(i), trel::colour_set(j)) << i << " " << j;
  for (int i = 0; i < 9; ++i)
    for (int j = 0; j < i; ++j) EXPECT_NE(trel::colour_set_optimised(i), trel::colour_set_optimised(j));
  const std::string map = "Requested colour ";
  EXPECT_EQ(detail_thrown([] { trel::colour_set(20); }), map + "20 but this map only holds up to 19");
  EXPECT_EQ(detail_thrown([] { trel::colour_set(-1); }), map + "-1 but this map only holds up to 19");
  EXPECT_EQ(detail_thrown([] { trel::colour_set_optimised(9); }), map + "9 but this map only holds up to 8");
  EXPECT_EQ(detail_thrown([] { trel::colour_set_optimised(-1); }), map + "-1 but this map only holds up to 8");
}

}  // namespace
