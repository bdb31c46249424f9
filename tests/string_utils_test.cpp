#include "trel_tools/string_utils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(StringUtils, FindAndReplaceOnceAndAll) {
  struct Case {
    char mode;  // f forwards, r backwards, a all
    std::string s, find, replace;
    int start, result;
    std::string after;
  };
  const std::vector<Case> cases = {
      {'f', "aXbX", "X", "YY", 2, 3, "aXbYY"},  {'f', "aXbX", "X", "YY", -5, 1, "aYYbX"},
      {'f', "aXbX", "Z", "YY", 0, -1, "aXbX"},  {'f', "aXbX", "X", "YY", 100, -1, "aXbX"},
      {'r', "aXbX", "X", "YY", 2, 1, "aYYbX"},  {'r', "aXbX", "X", "YY", 100, 3, "aXbYY"},
      {'r', "aXbX", "X", "YY", -1, -1, "aXbX"}, {'r', "abc", "", "-", 100, 3, "abc-"},
      {'a', "aaa", "a", "aa", 0, 3, "aaaaaa"},  {'a', "aaaa", "aa", "a", 0, 2, "aa"},
      {'a', "abab", "ab", "", 0, 2, ""},        {'a', "abc", "", "", 0, 0, "abc"},
      {'a', "abc", "", "-", 0, 0, "abc"}};
  for (const Case& c : cases) {
    std::string s = c.s;
    const int result = c.mode == 'f'   ? trel::find_and_replace(s, c.find, c.replace, c.start)
                       : c.mode == 'r' ? trel::rfind_and_replace(s, c.find, c.replace, c.start)
                                       : trel::find_and_replace_all(s, c.find, c.replace);
    EXPECT_EQ(result, c.result) << c.mode << " " << c.s << " " << c.find << " " << c.start;
    EXPECT_EQ(s, c.after) << c.mode << " " << c.s << " " << c.find << " " << c.start;
  }
}

TEST(StringUtils, PathsNewlinesCaseAndTokens) {
  std::string path = "c:/data/sub/file.txt";
  trel::correct_path(path);
  EXPECT_EQ(path, "c:\\data\\sub\\file.txt");
  std::string line = "li\rne\r\n\n";
  trel::strip_nl(line);
  EXPECT_EQ(line, "line");
  EXPECT_EQ(trel::to_lower("MiXeD 12 \xC9"), "mixed 12 \xC9");
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
  const std::vector<Case> cases = {{"kitten", "sitting", 3}, {"", "abc", 3},     {"", "", 0},
                                   {"flaw", "lawn", 2},      {"ab", "ba", 2},    {"sunday", "saturday", 3},
                                   {"\xFF", "\x7F", 1},      {"intention", "execution", 5}};
  for (const Case& c : cases) {
    EXPECT_EQ(trel::levenshtein(c.a, c.b), c.distance) << c.a << " / " << c.b;
    EXPECT_EQ(trel::levenshtein(c.b, c.a), c.distance) << c.b << " / " << c.a;
  }
  // Long inputs three substitutions and two deletions apart.
  std::string a(3000, 'x');
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<char>('a' + (i * 7) % 26);
  std::string b = a;
  b[10] = b[1500] = b[2999] = '#';
  b.erase(2000, 1).erase(700, 1);
  EXPECT_EQ(trel::levenshtein(a, b), 5);
}

}  // namespace
