#ifndef TESTS_EXCEPTION_TEXT_H
#define TESTS_EXCEPTION_TEXT_H

// Helpers for tests that read exception_l messages line by line.

#include <string>
#include <vector>

#include "trel_tools/exception_l.h"

namespace trel_test {

// The text cut at every line feed; the piece after the last one (empty for a
// text ending in a line feed) is kept as the final element.
inline std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string::size_type start = 0;
  for (std::string::size_type end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  lines.push_back(text.substr(start));
  return lines;
}

// The "Details: " text of the outermost frame of an exception_l message.
inline std::string detail_of(const trel::exception_l& e) {
  const std::string message = e.what();
  const std::string key = "Details: ";
  const std::string::size_type start = message.find(key);
  if (start == std::string::npos) return "<no details in: " + message + ">";
  const std::string::size_type end = message.find('\n', start);
  return message.substr(start + key.size(), end - start - key.size());
}

// The detail_of text of the exception_l that `action` throws, or a note that
// it threw none.
template <class Action>
std::string detail_thrown(Action action) {
  try {
    action();
  } catch (const trel::exception_l& e) {
    return detail_of(e);
  }
  return "<nothing thrown>";
}

}  // namespace trel_test

#endif
