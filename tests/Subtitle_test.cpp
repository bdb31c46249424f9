#include "trel_tools/Subtitle.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/test_support.h"

namespace {

using trel_test::detail_thrown;

trel::Subtitle hello() {
  trel::Subtitle s;
  s.number = 3;
  s.start.input_seconds(1.0);
  s.end.input_seconds(2.5);
  s.confidence = 0.87;
  s.text = "Hello";
  return s;
}

TEST(Subtitle, RoundTripLeavesTheStreamFixedAndAddsOneLeadingBlank) {
  std::stringstream text;
  text << hello();
  EXPECT_EQ(text.str(), "3\n00:00:01,000 --> 00:00:02,500\n[0.9] Hello\n");
  EXPECT_TRUE(text.flags() & std::ios::fixed);
  EXPECT_EQ(text.precision(), 1);
  trel::Subtitle back(25.0);
  text >> back;
  EXPECT_EQ(back.number, 3);
  EXPECT_EQ(back.start.total_seconds(), 1.0);
  EXPECT_EQ(back.end.total_seconds(), 2.5);
  EXPECT_EQ(back.confidence, 0.9);
  EXPECT_EQ(back.text, " Hello");
  EXPECT_EQ(back.frame_rate, 25.0);  // not part of the text
  EXPECT_EQ(back.start_frame(), 25);
  EXPECT_EQ(back.end_frame(), 62);
  EXPECT_EQ(hello().frame_rate, 23.976);
  EXPECT_EQ(hello().start_frame(), 23);
  back.end.hours = 100000;
  EXPECT_THROW(back.end_frame(), trel::exception_l);
}

TEST(Subtitle, ReadsAFileOfRecordsUntilItsEnd) {
  // Blank lines between records, an empty text, Windows line ends and a last
  // record without a line feed, which must not keep the text before it.
  std::stringstream in(
      "\n1\n00:00:00,500 --> 00:00:01,000\n[1.0] First line\n\n"
      "2\n00:00:03,000 --> 00:00:04,000\n[0.5]\n"
      "3\r\n00:00:01,000 --> 00:00:02,000\r\n[0.25] x\r\n\n"
      "4\n00:01:00,000 --> 00:01:30,000\n[-2]");
  std::vector<std::string> texts;
  trel::Subtitle record(25.0);
  while (in >> std::ws && !in.eof()) {
    in >> record;
    EXPECT_FALSE(in.fail()) << "after record " << record.number;
    texts.push_back(record.text);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{" First line", "", " x\r", ""}));
  EXPECT_EQ(record.end_frame(), 2250);
  EXPECT_EQ(record.confidence, -2.0);
}

TEST(Subtitle, EveryFailureHasItsText) {
  const std::string reader = "Subtitle >> operator : ";
  const std::string times = "1\n00:00:01,000 --> 00:00:02,000\n";
  const std::vector<std::pair<std::string, std::string>> reads = {
      {"", "i_helper(stream) : reading in failed, when reading value of \"\""},
      {"x\n", "i_helper(stream) : reading in failed, when reading value of \"x\""},
      {"1\n", "Timestamp >> operator : passed stream was not good"},
      {"1\n00:00:01,000 -> 00:00:02,000\n[1] a\n",
       reader + "failed to find arrow (-->)  between timestamps. Instead found \"->\""},
      {"1\n00:00:01,000 --> 00:00:02:000\n[1] a\n",
       "Timestamp >> operator : comma not found in text block \"00:00:02:000\""},
      {times + "1] a\n", reader + "expected \"[\" before confidence. instead found \"49\""},
      {times, reader + "expected \"[\" before confidence. instead found \"-1\""},
      {times + "[0.5 a\n", reader + "expected \"]\" after confidence. instead found \"5\""},
      {times + "[ 0.5 ] a\n", reader + "expected \"]\" after confidence. instead found \"[\""},
      {times + "[abc] a\n", reader + "confidence value read was \"abc\" which is not a float"},
      {times + "[] a\n", reader + "confidence value read was \"\" which is not a float"}};
  for (const auto& c : reads) {
    std::stringstream in(c.first);
    trel::Subtitle record;
    EXPECT_EQ(detail_thrown([&] { in >> record; }), c.second);
  }
  const std::vector<std::pair<std::function<void(std::ostream&, trel::Subtitle&)>, std::string>> writes = {
      {[](std::ostream& out, trel::Subtitle& s) { out.setstate(std::ios::failbit), out << s; },
       "Subtitle << operator : stream passed was not good"},
      {[](std::ostream& out, trel::Subtitle& s) { s.end.hours = 100, out << s; },
       "Timestamp::operator<< : hours must be 2 digits long, the specified timestamp has 100 hours, which is too "
       "large."},
      {[](std::ostream& out, trel::Subtitle& s) { s.start.minutes = -1, out << s; },
       "framework_utils::int_to_str() : input number -1 is negative and cannot be represented by 2 digits as "
       "requested."},
      {[](std::ostream& out, trel::Subtitle& s) { s.text = "two\nlines", out << s; },
       "Subtitle << operator : the text of record 3 holds a line break, which would not read back"}};
  for (const auto& c : writes) {
    std::stringstream out;
    trel::Subtitle record = hello();
    EXPECT_EQ(detail_thrown([&] { c.first(out, record); }), c.second);
    EXPECT_EQ(out.str(), "");  // nothing written, not even the number
    EXPECT_FALSE(out.flags() & std::ios::fixed);
  }
  // Fields are assigned as they are read.
  std::stringstream in("7\n00:00:04,000 --> 00:00:05,250\n[x] text\n");
  trel::Subtitle record = hello();
  EXPECT_THROW(in >> record, trel::exception_l);
  EXPECT_EQ(record.number, 7);
  EXPECT_EQ(record.start.total_seconds(), 4.0);
  EXPECT_EQ(record.end.total_seconds(), 5.25);
  EXPECT_EQ(record.confidence, 0.87);
  EXPECT_EQ(record.text, "Hello");
}

}  // namespace
