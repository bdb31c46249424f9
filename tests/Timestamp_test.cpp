#include "trel_tools/Timestamp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/test_support.h"

namespace {

using trel_test::detail_thrown;

trel::Timestamp make(int h, int m, int s, int ms) {
  trel::Timestamp t;
  t.hours = h, t.minutes = m, t.seconds = s, t.milliseconds = ms;
  return t;
}

std::string fields(const trel::Timestamp& t) {
  std::stringstream out;
  out << t.hours << " " << t.minutes << " " << t.seconds << " " << t.milliseconds;
  return out.str();
}

TEST(Timestamp, TextRoundTripsWithoutNormalising) {
  std::stringstream text;
  text << make(1, 2, 3, 45) << " " << make(0, 75, 0, 0) << " " << make(99, 99, 99, 999) << " 1:2:3,4x \n next";
  EXPECT_EQ(text.str(), "01:02:03,045 00:75:00,000 99:99:99,999 1:2:3,4x \n next");
  trel::Timestamp a, b, c, d;
  text >> a >> b >> c >> d;
  EXPECT_EQ(fields(a), "1 2 3 45");
  EXPECT_EQ(fields(b), "0 75 0 0");
  EXPECT_EQ(fields(c), "99 99 99 999");
  EXPECT_EQ(fields(d), "1 2 3 4");
  EXPECT_EQ(text.peek(), 'n');  // left at the next non-blank character
  EXPECT_EQ(make(0, 1, 2, 500).total_seconds(), 62.5);
  EXPECT_EQ(make(0, 1, 2, 500).get_frame(25.0), 1562);
}

TEST(Timestamp, ASuccessfulReadLeavesTheStreamUsable) {
  // The text, the timestamps an `if (in >> t)` chain accepts, and the stream
  // state after the last of them: at most the end of the stream, never a
  // failure.
  struct Case {
    std::string text;
    std::vector<std::string> read;
    bool at_end;
  };
  const std::vector<Case> cases = {
      {"00:00:01,000", {"0 0 1 0"}, true},
      {"00:00:01,000\n", {"0 0 1 0"}, true},
      {" \t00:00:01,000 \n\n", {"0 0 1 0"}, true},
      {"00:00:01,000 00:02:03,045", {"0 0 1 0", "0 2 3 45"}, true},
      {"00:00:01,000 next", {"0 0 1 0"}, false},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.text);
    std::vector<std::string> read;
    for (std::size_t i = 0; i < c.read.size(); ++i) {
      trel::Timestamp t;
      if (!(in >> t)) break;
      read.push_back(fields(t));
    }
    EXPECT_EQ(read, c.read) << c.text;
    EXPECT_FALSE(in.fail()) << c.text;
    EXPECT_EQ(in.eof(), c.at_end) << c.text;
  }
}

TEST(Timestamp, SecondsFramesAndOrder) {
  const std::vector<std::pair<double, std::string>> cases = {
      {3723.25, "1 2 3 250"}, {1.9996, "0 0 1 999"}, {-1.0, "-1 59 59 0"},
      {make(2, 2147483647, 0, 1).total_seconds(), "35791396 7 0 1"}};
  for (const auto& c : cases) {
    trel::Timestamp t;
    t.input_seconds(c.first);
    EXPECT_EQ(fields(t), c.second) << c.first;
  }
  // Every millisecond of ten minutes, early and late, comes back through its
  // seconds (splitting the seconds field by field loses half of them).
  int lost = 0;
  for (int hours : {0, 98})
    for (int ms = 0; ms < 600000; ++ms) {
      trel::Timestamp back;
      back.input_seconds(make(hours, ms / 60000, ms / 1000 % 60, ms % 1000).total_seconds());
      lost += back.hours != hours || (back.minutes * 60 + back.seconds) * 1000 + back.milliseconds != ms;
    }
  EXPECT_EQ(lost, 0);
  EXPECT_EQ(make(596523, 14, 7, 0).get_frame(1.0), 2147483647);
  EXPECT_EQ(make(-596524, 45, 52, 0).get_frame(1.0), -2147483647 - 1);
  EXPECT_TRUE(make(0, 0, 1, 999) < make(0, 0, 2, 0));
  EXPECT_FALSE(make(0, 0, 2, 0) < make(0, 0, 1, 999));
  EXPECT_FALSE(make(0, 75, 0, 0) < make(1, 15, 0, 0));  // equal totals
  EXPECT_FALSE(make(1, 15, 0, 0) < make(0, 75, 0, 0));
}

TEST(Timestamp, EveryFailureHasItsText) {
  const std::string reader = "Timestamp >> operator : ";
  const std::vector<std::pair<std::string, std::string>> reads = {
      {"1234", reader + "first_colon not found in text block \"1234\""},
      {"   ", reader + "first_colon not found in text block \"\""},
      {"12:34", reader + "second_colon not found in text block \"12:34\""},
      {"12:34:56.789", reader + "comma not found in text block \"12:34:56.789\""},
      {"1,2:3:4", reader + "comma not found in text block \"1,2:3:4\""},
      {"x:00:00,000", "i_helper(string) : reading in failed, when reading value of \"x\""},
      {"1:2:3,", "i_helper(string) : reading in failed, when reading value of \"\""}};
  for (const auto& c : reads) {
    std::stringstream in(c.first);
    trel::Timestamp t = make(1, 2, 3, 4);
    EXPECT_EQ(detail_thrown([&] { in >> t; }), c.second);
    EXPECT_EQ(fields(t), "1 2 3 4") << c.first;
  }
  const std::string width = "framework_utils::int_to_str() : input number ";
  const std::vector<std::pair<trel::Timestamp, std::string>> writes = {
      {make(100, 0, 0, 0),
       "Timestamp::operator<< : hours must be 2 digits long, the specified timestamp has 100 hours, which is too "
       "large."},
      {make(0, 100, 0, 0), width + "100 is too large to be represented by 2 as requested."},
      {make(0, 0, 0, 1000), width + "1000 is too large to be represented by 3 as requested."},
      {make(-1, 0, 0, 0), width + "-1 is negative and cannot be represented by 2 digits as requested."},
      {make(0, 0, 0, -5), width + "-5 is negative and cannot be represented by 3 digits as requested."}};
  for (const auto& c : writes) {
    std::stringstream out;
    EXPECT_EQ(detail_thrown([&] { out << c.first; }), c.second);
    EXPECT_EQ(out.str(), "");
  }
  std::stringstream failed("00:00:01,000");
  failed.setstate(std::ios::failbit);
  trel::Timestamp t = make(1, 2, 3, 4);
  EXPECT_EQ(detail_thrown([&] { failed >> t; }), reader + "passed stream was not good");
  EXPECT_EQ(detail_thrown([&] { failed << t; }), "Timestamp << operator : passed stream was not good");
  EXPECT_EQ(detail_thrown([&] { t.input_seconds(std::nan("")); }),
            "Timestamp::input_seconds() : nan seconds cannot be held, the hours must fit an int");
  EXPECT_EQ(detail_thrown([&] { t.input_seconds(1e13); }),
            "Timestamp::input_seconds() : 1e+13 seconds cannot be held, the hours must fit an int");
  EXPECT_EQ(detail_thrown([&] { t.get_frame(std::nan("")); }),
            "Timestamp::get_frame() : the frame of 1 h 2 min 3 s 4 ms at nan frames per second does not fit an int");
  EXPECT_EQ(fields(t), "1 2 3 4");
  for (const trel::Timestamp& huge : {make(596523, 14, 8, 0), make(-596524, 45, 51, 0), make(2000000000, 0, 0, 0)})
    EXPECT_NE(detail_thrown([&] { huge.get_frame(1.0); }), "<nothing thrown>") << fields(huge);
  // A bad minutes text leaves the hours read before it.
  std::stringstream bad_minutes("10:xx:30,500");
  EXPECT_THROW(bad_minutes >> t, trel::exception_l);
  EXPECT_EQ(fields(t), "10 2 3 4");
}

}  // namespace
