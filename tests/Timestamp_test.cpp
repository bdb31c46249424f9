#include "trel_tools/Timestamp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "trel_tools/exception_l.h"
#include "tests/exception_text.h"

namespace {

using trel_test::detail_of;

trel::Timestamp make(int h, int m, int s, int ms) {
  trel::Timestamp t;
  t.hours = h;
  t.minutes = m;
  t.seconds = s;
  t.milliseconds = ms;
  return t;
}

::testing::AssertionResult fields_are(const trel::Timestamp& t, int h, int m, int s, int ms) {
  if (t.hours == h && t.minutes == m && t.seconds == s && t.milliseconds == ms)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << t.hours << " h " << t.minutes << " min " << t.seconds << " s "
                                       << t.milliseconds << " ms, expected " << h << " h " << m << " min " << s
                                       << " s " << ms << " ms";
}

TEST(Timestamp, ReadsFieldsAndLeavesTheStreamAtTheNextWord) {
  struct Case {
    std::string text;
    int h, m, s, ms;
    std::string rest;
  };
  const std::vector<Case> cases = {
      {"00:01:02,500", 0, 1, 2, 500, ""},
      {"  1:2:3,4 \n\t next", 1, 2, 3, 4, "next"},
      {"01:75:99,999 -->", 1, 75, 99, 999, "-->"},
      {"12x:0:0,0", 12, 0, 0, 0, ""},
  };
  for (const Case& c : cases) {
    std::stringstream in(c.text);
    trel::Timestamp t;
    in >> t;
    EXPECT_TRUE(fields_are(t, c.h, c.m, c.s, c.ms)) << c.text;
    std::string rest;
    std::getline(in, rest);
    EXPECT_EQ(rest, c.rest) << c.text;
  }
  std::stringstream in("00:01:02,500");
  trel::Timestamp t;
  in >> t;
  EXPECT_EQ(t.total_seconds(), 62.5);
  EXPECT_EQ(t.get_frame(25.0), 1562);
}

TEST(Timestamp, WritesZeroPaddedFieldsWithoutNormalising) {
  std::stringstream out;
  out << make(1, 2, 3, 45) << "|" << make(0, 75, 0, 0) << "|" << make(99, 99, 99, 999);
  EXPECT_EQ(out.str(), "01:02:03,045|00:75:00,000|99:99:99,999");
}

TEST(Timestamp, TextRoundTrips) {
  for (const trel::Timestamp& t : {make(0, 0, 0, 0), make(1, 2, 3, 45), make(99, 59, 59, 999), make(7, 99, 0, 1)}) {
    std::stringstream text;
    text << t;
    trel::Timestamp back = make(5, 5, 5, 5);
    text >> back;
    EXPECT_TRUE(fields_are(back, t.hours, t.minutes, t.seconds, t.milliseconds)) << text.str();
  }
}

TEST(Timestamp, SecondsInAndOut) {
  trel::Timestamp t;
  t.input_seconds(3723.25);
  EXPECT_TRUE(fields_are(t, 1, 2, 3, 250));
  t.input_seconds(1.9996);
  EXPECT_TRUE(fields_are(t, 0, 0, 1, 999));
  t.input_seconds(-1.0);
  EXPECT_TRUE(fields_are(t, -1, 59, 59, 0));
  EXPECT_EQ(t.total_seconds(), -1.0);
  t.input_seconds(make(2, 2147483647, 0, 1).total_seconds());  // 1.3e14 ms
  EXPECT_TRUE(fields_are(t, 35791396, 7, 0, 1));
  // Every millisecond of the first ten minutes and of a late hour comes back
  // through its seconds (field-by-field subtraction loses about half of them).
  for (int base : {0, 98 * 3600})
    for (int ms = 0; ms < 600000; ++ms) {
      const trel::Timestamp original = make(base / 3600, ms / 60000, ms / 1000 % 60, ms % 1000);
      trel::Timestamp back;
      back.input_seconds(original.total_seconds());
      if (!fields_are(back, original.hours, original.minutes, original.seconds, original.milliseconds)) {
        ADD_FAILURE() << fields_are(back, original.hours, original.minutes, original.seconds, original.milliseconds)
                             .message();
        break;
      }
    }
}

TEST(Timestamp, OrdersByTotalTime) {
  EXPECT_TRUE(make(0, 0, 1, 999) < make(0, 0, 2, 0));
  EXPECT_FALSE(make(0, 0, 2, 0) < make(0, 0, 1, 999));
  // 75 minutes equal 1 h 15 min: neither is less.
  EXPECT_FALSE(make(0, 75, 0, 0) < make(1, 15, 0, 0));
  EXPECT_FALSE(make(1, 15, 0, 0) < make(0, 75, 0, 0));
}

TEST(Timestamp, FramesAtTheIntLimits) {
  EXPECT_EQ(make(1, 0, 0, 0).get_frame(25.0), 90000);
  EXPECT_EQ(make(0, 0, 1, 999).get_frame(1.0), 1);
  EXPECT_EQ(make(-1, 0, 0, 0).get_frame(1.0), -3600);
  // 596523 h 14 min 7 s is 2147483647 s, the largest int.
  EXPECT_EQ(make(596523, 14, 7, 0).get_frame(1.0), 2147483647);
  EXPECT_EQ(make(-596524, 45, 52, 0).get_frame(1.0), -2147483647 - 1);
}

TEST(Timestamp, EveryFailureHasItsText) {
  struct Case {
    std::string name;
    std::function<void(trel::Timestamp&)> action;
    std::string detail;
  };
  const auto read = [](const std::string& text) {
    return [text](trel::Timestamp& t) {
      std::stringstream in(text);
      in >> t;
    };
  };
  const auto write = [](const trel::Timestamp& value) {
    return [value](trel::Timestamp&) {
      std::stringstream out;
      try {
        out << value;
      } catch (...) {
        EXPECT_EQ(out.str(), "") << "a refused timestamp was partly written";
        throw;
      }
    };
  };
  const std::string too_large = "framework_utils::int_to_str() : input number ";
  const std::vector<Case> cases = {
      {"read from a failed stream",
       [](trel::Timestamp& t) {
         std::stringstream in("00:00:01,000");
         in.setstate(std::ios::failbit);
         in >> t;
       },
       "Timestamp >> operator : passed stream was not good"},
      {"no colon", read("1234"), "Timestamp >> operator : first_colon not found in text block \"1234\""},
      {"one colon", read("12:34"), "Timestamp >> operator : second_colon not found in text block \"12:34\""},
      {"full stop", read("12:34:56.789"),
       "Timestamp >> operator : comma not found in text block \"12:34:56.789\""},
      {"comma first", read("1,2:3:4"), "Timestamp >> operator : comma not found in text block \"1,2:3:4\""},
      {"empty stream", read("   "), "Timestamp >> operator : first_colon not found in text block \"\""},
      {"bad hours", read("x:00:00,000"), "i_helper(string) : reading in failed, when reading value of \"x\""},
      {"bad milliseconds", read("1:2:3,"), "i_helper(string) : reading in failed, when reading value of \"\""},
      {"write to a failed stream",
       [](trel::Timestamp& t) {
         std::stringstream out;
         out.setstate(std::ios::badbit);
         out << t;
       },
       "Timestamp << operator : passed stream was not good"},
      {"100 hours", write(make(100, 0, 0, 0)),
       "Timestamp::operator<< : hours must be 2 digits long, the specified timestamp has 100 hours, which is too "
       "large."},
      {"100 minutes", write(make(0, 100, 0, 0)), too_large + "100 is too large to be represented by 2 as requested."},
      {"1000 milliseconds", write(make(0, 0, 0, 1000)),
       too_large + "1000 is too large to be represented by 3 as requested."},
      {"negative hours", write(make(-1, 0, 0, 0)),
       too_large + "-1 is negative and cannot be represented by 2 digits as requested."},
      {"negative milliseconds", write(make(0, 0, 0, -5)),
       too_large + "-5 is negative and cannot be represented by 3 digits as requested."},
      {"seconds not finite", [](trel::Timestamp& t) { t.input_seconds(std::nan("")); },
       "Timestamp::input_seconds() : nan seconds cannot be held, the hours must fit an int"},
      {"hours beyond an int", [](trel::Timestamp& t) { t.input_seconds(1e13); },
       "Timestamp::input_seconds() : 1e+13 seconds cannot be held, the hours must fit an int"},
      {"frame beyond an int", [](trel::Timestamp& t) { t = make(2000000000, 0, 0, 0), t.get_frame(25.0); },
       "Timestamp::get_frame() : the frame of 2000000000 h 0 min 0 s 0 ms at 25 frames per second does not fit "
       "an int"},
      {"frame just beyond an int", [](trel::Timestamp& t) { t = make(596523, 14, 8, 0), t.get_frame(1.0); },
       "Timestamp::get_frame() : the frame of 596523 h 14 min 8 s 0 ms at 1 frames per second does not fit an "
       "int"},
      {"frame just below an int", [](trel::Timestamp& t) { t = make(-596524, 45, 51, 0), t.get_frame(1.0); },
       "Timestamp::get_frame() : the frame of -596524 h 45 min 51 s 0 ms at 1 frames per second does not fit "
       "an int"},
      {"frame of a nan rate", [](trel::Timestamp& t) { t.get_frame(std::nan("")); },
       "Timestamp::get_frame() : the frame of 1 h 2 min 3 s 4 ms at nan frames per second does not fit an int"},
  };
  for (const Case& c : cases) {
    trel::Timestamp t = make(1, 2, 3, 4);
    try {
      c.action(t);
      ADD_FAILURE() << c.name << ": nothing thrown";
    } catch (const trel::exception_l& e) {
      EXPECT_EQ(detail_of(e), c.detail) << c.name;
    }
  }
}

TEST(Timestamp, FailuresChangeOnlyTheFieldsReadBefore) {
  trel::Timestamp t = make(1, 2, 3, 4);
  std::stringstream separators("12:34");
  EXPECT_THROW(separators >> t, trel::exception_l);
  EXPECT_TRUE(fields_are(t, 1, 2, 3, 4));
  std::stringstream bad_minutes("10:xx:30,500");
  EXPECT_THROW(bad_minutes >> t, trel::exception_l);
  EXPECT_TRUE(fields_are(t, 10, 2, 3, 4));
  EXPECT_THROW(t.input_seconds(std::numeric_limits<double>::infinity()), trel::exception_l);
  EXPECT_TRUE(fields_are(t, 10, 2, 3, 4));
}

}  // namespace
