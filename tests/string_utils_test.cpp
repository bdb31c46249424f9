#include "trel_tools/string_utils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(StringUtils, FindAndReplaceForwardsAndBackwards) {
  struct Case {
    bool backwards;
    std::string s, find, replace;
    int start;
    int position;
    std::string result;
  };
  const std::vector<Case> cases = {
      {false, "aXbX", "X", "YY", 2, 3, "aXbYY"},
      {false, "aXbX", "X", "YY", 0, 1, "aYYbX"},
      {false, "aXbX", "X", "YY", -5, 1, "aYYbX"},
      {false, "aXbX", "Z", "YY", 0, -1, "aXbX"},
      {false, "aXbX", "X", "YY", 4, -1, "aXbX"},
      {false, "aXbX", "X", "YY", 100, -1, "aXbX"},
      {false, "abc", "", "-", 1, 1, "a-bc"},
      {true, "aXbX", "X", "YY", 2, 1, "aYYbX"},
      {true, "aXbX", "X", "YY", 3, 3, "aXbYY"},
      {true, "aXbX", "X", "YY", 100, 3, "aXbYY"},
      {true, "aXbX", "X", "YY", 0, -1, "aXbX"},
      {true, "aXbX", "X", "YY", -1, -1, "aXbX"},
      {true, "abc", "", "-", 1, 1, "a-bc"},
      {true, "abc", "", "-", 100, 3, "abc-"},
  };
  for (const Case& c : cases) {
    std::string s = c.s;
    const int position = c.backwards ? trel::rfind_and_replace(s, c.find, c.replace, c.start)
                                     : trel::find_and_replace(s, c.find, c.replace, c.start);
    EXPECT_EQ(position, c.position) << c.s << (c.backwards ? " backwards from " : " from ") << c.start;
    EXPECT_EQ(s, c.result) << c.s << (c.backwards ? " backwards from " : " from ") << c.start;
  }
}

TEST(StringUtils, ReplaceAllSkipsInsertedTextAndRefusesAnEmptyFind) {
  struct Case {
    std::string s, find, replace;
    int count;
    std::string result;
  };
  const std::vector<Case> cases = {
      {"aaa", "a", "aa", 3, "aaaaaa"},  {"abab", "ab", "", 2, ""},  {"xyz", "q", "r", 0, "xyz"},
      {"aaaa", "aa", "a", 2, "aa"},     {"abc", "", "", 0, "abc"},  {"abc", "", "-", 0, "abc"},
      {"", "", "-", 0, ""},
  };
  for (const Case& c : cases) {
    std::string s = c.s;
    EXPECT_EQ(trel::find_and_replace_all(s, c.find, c.replace), c.count) << c.s << " " << c.find;
    EXPECT_EQ(s, c.result) << c.s << " " << c.find;
  }
}

TEST(StringUtils, PathsNewlinesAndCase) {
  std::string path = "c:/data/sub/file.txt";
  trel::correct_path(path);
  EXPECT_EQ(path, "c:\\data\\sub\\file.txt");
  std::string plain = "c:\\data";
  trel::correct_path(plain);
  EXPECT_EQ(plain, "c:\\data");

  std::string line = "li\rne\r\n\n";
  trel::strip_nl(line);
  EXPECT_EQ(line, "line");

  EXPECT_EQ(trel::to_lower("MiXeD 12 \xC9"), "mixed 12 \xC9");
}

TEST(StringUtils, TokeniseGivesOneEmptyTokenForBlankInput) {
  using Tokens = std::vector<std::string>;
  EXPECT_EQ(trel::tokenise(""), Tokens{""});
  EXPECT_EQ(trel::tokenise("   "), Tokens{""});
  EXPECT_EQ(trel::tokenise("  a  b "), (Tokens{"a", "b"}));
  EXPECT_EQ(trel::tokenise("one\ttwo\nthree"), (Tokens{"one", "two", "three"}));
}

TEST(StringUtils, LevenshteinDistances) {
  struct Case {
    std::string a, b;
    int distance;
  };
  const std::vector<Case> cases = {
      {"kitten", "sitting", 3}, {"", "abc", 3},          {"abc", "", 3},  {"", "", 0},
      {"flaw", "lawn", 2},      {"intention", "execution", 5}, {"ab", "ba", 2}, {"sunday", "saturday", 3},
      {"a", "a", 0},            {"\xFF", "\x7F", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(trel::levenshtein(c.a, c.b), c.distance) << c.a << " / " << c.b;
    EXPECT_EQ(trel::levenshtein(c.b, c.a), c.distance) << c.b << " / " << c.a;
  }
  // Long inputs: three substitutions and two deletions apart.
  std::string a(3000, 'x');
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<char>('a' + (i * 7) % 26);
  std::string b = a;
  b[10] = '#';
  b[1500] = '#';
  b[2999] = '#';
  b.erase(700, 1);
  b.erase(2000, 1);
  EXPECT_EQ(trel::levenshtein(a, b), 5);
}

}  // namespace
