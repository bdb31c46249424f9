#include "trel_tools/Subtitle.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "trel_tools/exception_l.h"
#include "tests/exception_text.h"

namespace {

using trel_test::detail_of;

trel::Timestamp at(int s, int ms) {
  trel::Timestamp t;
  t.input_seconds(s + ms / 1000.0);
  return t;
}

trel::Subtitle hello() {
  trel::Subtitle s;
  s.number = 3;
  s.start = at(1, 0);
  s.end = at(2, 500);
  s.confidence = 0.87;
  s.text = "Hello";
  return s;
}

const char* const hello_text = "3\n00:00:01,000 --> 00:00:02,500\n[0.9] Hello\n";

TEST(Subtitle, WritesThreeLinesAndLeavesTheStreamFixed) {
  std::stringstream out;
  out << hello();
  EXPECT_EQ(out.str(), hello_text);
  EXPECT_TRUE(out.flags() & std::ios::fixed);
  EXPECT_EQ(out.precision(), 1);
  out << 2.25;
  EXPECT_EQ(out.str().substr(out.str().size() - 3), "2.2");
}

TEST(Subtitle, RoundTripKeepsTheFieldsAndAddsOneLeadingBlank) {
  std::stringstream text;
  text << hello();
  trel::Subtitle back(25.0);
  text >> back;
  EXPECT_EQ(back.number, 3);
  EXPECT_EQ(back.start.total_seconds(), 1.0);
  EXPECT_EQ(back.end.total_seconds(), 2.5);
  EXPECT_EQ(back.confidence, 0.9);
  EXPECT_EQ(back.text, " Hello");
  EXPECT_EQ(back.frame_rate, 25.0);  // not part of the text
  std::stringstream again;
  again << back;
  again >> back;
  EXPECT_EQ(back.text, "  Hello");
}

TEST(Subtitle, FramesAtTheDefaultAndAGivenRate) {
  trel::Subtitle record = hello();
  EXPECT_EQ(record.frame_rate, 23.976);
  EXPECT_EQ(record.start_frame(), 23);
  EXPECT_EQ(record.end_frame(), 59);
  trel::Subtitle pal(25.0);
  pal.start = record.start;
  pal.end = record.end;
  EXPECT_EQ(pal.start_frame(), 25);
  EXPECT_EQ(pal.end_frame(), 62);
  pal.end.hours = 100000;
  EXPECT_THROW(pal.end_frame(), trel::exception_l);
}

TEST(Subtitle, ReadsAFileOfRecordsUntilItsEnd) {
  // Blank lines between records, Windows line ends, an empty text and a last
  // record without a final line feed.
  std::stringstream in(
      "\n1\n00:00:00,500 --> 00:00:01,000\n[1.0] First line\n\n"
      "2\n00:00:03,000 --> 00:00:04,000\n[0.5]\n"
      "3\r\n00:00:01,000 --> 00:00:02,000\r\n[0.25] x\r\n\n"
      "4\n00:01:00,000 --> 00:01:30,000\n[-2]");
  std::vector<trel::Subtitle> records;
  trel::Subtitle record(25.0);
  record.text = "left over";
  while (in >> std::ws && !in.eof()) {
    in >> record;
    EXPECT_FALSE(in.fail()) << "after record " << record.number;
    records.push_back(record);
  }
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].text, " First line");
  EXPECT_EQ(records[0].start_frame(), 12);
  EXPECT_EQ(records[1].number, 2);
  EXPECT_EQ(records[1].text, "");
  EXPECT_EQ(records[2].confidence, 0.25);
  EXPECT_EQ(records[2].text, " x\r");
  EXPECT_EQ(records[3].end_frame(), 2250);
  EXPECT_EQ(records[3].confidence, -2.0);
  EXPECT_EQ(records[3].text, "");
}

TEST(Subtitle, EveryFailureHasItsText) {
  struct Case {
    std::string text;
    std::string detail;
  };
  const std::vector<Case> cases = {
      {"", "i_helper(stream) : reading in failed, when reading value of \"\""},
      {"x\n00:00:01,000 --> 00:00:02,000\n[1] a\n", "i_helper(stream) : reading in failed, when reading value of \"x\""},
      {"1\n", "Timestamp >> operator : passed stream was not good"},
      {"1\n00:00:01.000 --> 00:00:02,000\n[1] a\n",
       "Timestamp >> operator : comma not found in text block \"00:00:01.000\""},
      {"1\n00:00:01,000 -> 00:00:02,000\n[1] a\n",
       "Subtitle >> operator : failed to find arrow (-->)  between timestamps. Instead found \"->\""},
      {"1\n00:00:01,000 --> 00:00:02:000\n[1] a\n",
       "Timestamp >> operator : comma not found in text block \"00:00:02:000\""},
      {"1\n00:00:01,000 --> 00:00:02,000\n1] a\n",
       "Subtitle >> operator : expected \"[\" before confidence. instead found \"49\""},
      {"1\n00:00:01,000 --> 00:00:02,000\n",
       "Subtitle >> operator : expected \"[\" before confidence. instead found \"-1\""},
      {"1\n00:00:01,000 --> 00:00:02,000\n[0.5 a\n",
       "Subtitle >> operator : expected \"]\" after confidence. instead found \"5\""},
      {"1\n00:00:01,000 --> 00:00:02,000\n[ 0.5 ] a\n",
       "Subtitle >> operator : expected \"]\" after confidence. instead found \"[\""},
      {"1\n00:00:01,000 --> 00:00:02,000\n[abc] a\n",
       "Subtitle >> operator : confidence value read was \"abc\" which is not a float"},
      {"1\n00:00:01,000 --> 00:00:02,000\n[] a\n",
       "Subtitle >> operator : confidence value read was \"\" which is not a float"},
  };
  for (const Case& c : cases) {
    std::stringstream in(c.text);
    trel::Subtitle record;
    try {
      in >> record;
      ADD_FAILURE() << "nothing thrown for " << c.text;
    } catch (const trel::exception_l& e) {
      EXPECT_EQ(detail_of(e), c.detail) << c.text;
    }
  }

  const std::vector<std::function<void(std::ostream&, trel::Subtitle&)>> writes = {
      [](std::ostream& out, trel::Subtitle& s) { out.setstate(std::ios::failbit), out << s; },
      [](std::ostream& out, trel::Subtitle& s) { s.end.hours = 100, out << s; },
      [](std::ostream& out, trel::Subtitle& s) { s.start.minutes = -1, out << s; },
      [](std::ostream& out, trel::Subtitle& s) { s.text = "two\nlines", out << s; },
  };
  const std::vector<std::string> write_details = {
      "Subtitle << operator : stream passed was not good",
      "Timestamp::operator<< : hours must be 2 digits long, the specified timestamp has 100 hours, which is too "
      "large.",
      "framework_utils::int_to_str() : input number -1 is negative and cannot be represented by 2 digits as "
      "requested.",
      "Subtitle << operator : text \"two\nlines\" holds a line break, which would not read back",
  };
  for (std::size_t i = 0; i < writes.size(); ++i) {
    std::stringstream out;
    trel::Subtitle record = hello();
    try {
      writes[i](out, record);
      ADD_FAILURE() << "nothing thrown for write " << i;
    } catch (const trel::exception_l& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find("Details: " + write_details[i] + "\n"), std::string::npos) << message;
    }
    EXPECT_EQ(out.str(), "") << "write " << i;
    EXPECT_FALSE(out.flags() & std::ios::fixed) << "write " << i;
  }
}

TEST(Subtitle, PartWayFailureKeepsWhatWasReadBefore) {
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
