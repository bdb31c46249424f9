#include "trel_tools/string_utils.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace trel {

namespace {

int replace_at(std::string& s, std::string::size_type at, const std::string& find, const std::string& replace) {
  if (at == std::string::npos) return -1;
  s.replace(at, find.size(), replace);
  return static_cast<int>(at);
}

}  // namespace

int find_and_replace(std::string& s, const std::string& find, const std::string& replace, int start) {
  const std::string::size_type from = start < 0 ? 0 : static_cast<std::string::size_type>(start);
  return replace_at(s, s.find(find, from), find, replace);
}

int rfind_and_replace(std::string& s, const std::string& find, const std::string& replace, int start) {
  if (start < 0) return -1;
  return replace_at(s, s.rfind(find, static_cast<std::string::size_type>(start)), find, replace);
}

int find_and_replace_all(std::string& s, const std::string& find, const std::string& replace) {
  // An empty find would match at every position, endlessly when replace is
  // empty as well.
  if (find.empty()) return 0;
  int count = 0;
  for (std::string::size_type at = s.find(find); at != std::string::npos; at = s.find(find, at + replace.size())) {
    s.replace(at, find.size(), replace);
    ++count;
  }
  return count;
}

void correct_path(std::string& path) { find_and_replace_all(path, "/", "\\"); }

void strip_nl(std::string& s) {
  s.erase(std::remove(s.begin(), s.end(), '\n'), s.end());
  s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
}

const std::string to_lower(const std::string& s) {
  std::string lower(s);
  // tolower takes the value of an unsigned char: bytes above 127 must not be
  // passed as negative chars.
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::vector<std::string> tokenise(const std::string& s) {
  std::stringstream in(s);
  std::vector<std::string> tokens;
  do {
    std::string word;
    in >> word >> std::ws;
    tokens.push_back(word);
  } while (in.good());
  return tokens;
}

int levenshtein(const std::string& a, const std::string& b) {
  // Rows run over the longer string, columns over the shorter one.
  const std::string& rows = a.size() >= b.size() ? a : b;
  const std::string& cols = a.size() >= b.size() ? b : a;
  if (cols.empty()) return static_cast<int>(rows.size());
  std::vector<int> previous(cols.size() + 1);
  std::vector<int> current(cols.size() + 1);
  for (std::size_t j = 0; j <= cols.size(); ++j) previous[j] = static_cast<int>(j);
  for (std::size_t i = 1; i <= rows.size(); ++i) {
    current[0] = static_cast<int>(i);
    for (std::size_t j = 1; j <= cols.size(); ++j) {
      const int substitute = previous[j - 1] + (rows[i - 1] == cols[j - 1] ? 0 : 1);
      current[j] = std::min({substitute, previous[j] + 1, current[j - 1] + 1});
    }
    previous.swap(current);
  }
  return previous[cols.size()];
}

}  // namespace trel
