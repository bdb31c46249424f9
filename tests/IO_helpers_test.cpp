#include "trel_tools/IO_helpers.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using trel_test::detail_of;

TEST(IHelper, StringFormTakesTheLeadingNumber) {
  int i = -1;
  trel::i_helper(std::string("12abc"), i);
  EXPECT_EQ(i, 12);
  trel::i_helper(std::string("  -7 8"), i);
  EXPECT_EQ(i, -7);
  double d = 0.0;
  trel::i_helper(std::string(" 2.5e3x"), d);
  EXPECT_EQ(d, 2500.0);
}

TEST(IHelper, StringFormThrowsAndKeepsTheValue) {
  int i = 5;
  try {
    trel::i_helper(std::string("abc"), i);
    FAIL() << "nothing thrown";
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(detail_of(e), "i_helper(string) : reading in failed, when reading value of \"abc\"");
  }
  EXPECT_EQ(i, 5);
  double d = 1.0;
  EXPECT_THROW(trel::i_helper(std::string(""), d), trel::exception_l);
  EXPECT_THROW(trel::i_helper(std::string("99999999999"), i), trel::exception_l);
  EXPECT_EQ(d, 1.0);
  EXPECT_EQ(i, 5);
}

TEST(IHelper, StreamFormReadsOneWordAtATime) {
  std::stringstream in("  42 17x  nope 3");
  int i = 0;
  trel::i_helper(in, i);
  EXPECT_EQ(i, 42);
  trel::i_helper(in, i);
  EXPECT_EQ(i, 17);
  try {
    trel::i_helper(in, i);
    FAIL() << "nothing thrown";
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(detail_of(e), "i_helper(stream) : reading in failed, when reading value of \"nope\"");
  }
  EXPECT_EQ(i, 17);
  trel::i_helper(in, i);  // the bad word was consumed
  EXPECT_EQ(i, 3);
  EXPECT_THROW(trel::i_helper(in, i), trel::exception_l);
}

TEST(IHelper, ValueToTextForm) {
  std::string text = "old";
  trel::i_helper(-305, text);
  EXPECT_EQ(text, "-305");
  EXPECT_EQ(trel::int_to_str(0), "0");
  EXPECT_EQ(trel::int_to_str(-2147483647 - 1), "-2147483648");
}

TEST(IntToStr, PadsToTheWidthAndRefusesWhatDoesNotFit) {
  struct Case {
    int n;
    int width;
    std::string text;
  };
  const std::vector<Case> fits = {{7, 3, "007"}, {999, 3, "999"},       {0, 1, "0"},
                                  {0, 0, ""},    {5, 12, "000000000005"}, {2147483647, 10, "2147483647"}};
  for (const Case& c : fits) EXPECT_EQ(trel::int_to_str(c.n, c.width), c.text) << c.n << " width " << c.width;

  try {
    trel::int_to_str(1000, 3);
    FAIL() << "nothing thrown";
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(detail_of(e),
              "framework_utils::int_to_str() : input number 1000 is too large to be represented by 3 as requested.");
  }
  EXPECT_THROW(trel::int_to_str(1, 0), trel::exception_l);
  EXPECT_THROW(trel::int_to_str(2147483647, 9), trel::exception_l);
  EXPECT_THROW(trel::int_to_str(-1, 3), trel::exception_l);
  EXPECT_THROW(trel::int_to_str(1, -1), trel::exception_l);
}

TEST(GetRowStream, ReplacesTheLineContentAndKeepsItsFlags) {
  std::stringstream file("first 1\nsecond 2\nlast");
  std::stringstream line;
  trel::get_row_stream(file, line);
  std::string word;
  int n = 0;
  line >> word >> n;
  EXPECT_EQ(word, "first");
  EXPECT_EQ(n, 1);
  EXPECT_TRUE(line.eof());

  // The flags survive: the caller clears a stream that reached its end.
  trel::get_line_stream(file, line);
  EXPECT_TRUE(line.eof());
  line.clear();
  line >> word;
  EXPECT_EQ(word, "second");

  trel::get_row_stream(file, line);
  line.clear();
  EXPECT_EQ(line.str(), "last");
  EXPECT_TRUE(file.eof());
}

TEST(DumpNulls, ConsumesNulsAndTheWhitespaceAfterThem) {
  std::stringstream in(std::string("\0\0  \n\0x\0", 8));
  trel::dump_nulls(in);
  EXPECT_EQ(in.get(), 'x');
  trel::dump_nulls(in);
  EXPECT_EQ(in.get(), std::char_traits<char>::eof());

  std::stringstream plain("  y");
  trel::dump_nulls(plain);
  EXPECT_EQ(plain.get(), ' ') << "whitespace not after a NUL stays";
}

TEST(Sample, WritesNameAndFiveValues) {
  trel::sample s;
  s.location = "seq01";
  s.frame = -1;
  s.x1 = 2;
  s.x2 = 30;
  s.y1 = 4;
  s.y2 = 50;
  std::stringstream out;
  out << s;
  EXPECT_EQ(out.str(), "sample=seq01|-1|2|30|4|50");
}

}  // namespace
