#ifndef TESTS_TEST_SUPPORT_H
#define TESTS_TEST_SUPPORT_H

// Helpers shared by the tests: reading exception_l messages, owning IplImage
// results and capturing what the code under test prints.

#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

#include <opencv2/core/core_c.h>

#include "trel_tools/exception_l.h"

namespace trel_test {

// ---- exception_l messages -------------------------------------------------------

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

// The detail text of the innermost frame of an exception_l message: what
// follows the last "Details: " up to its line break.
inline std::string origin_detail(const trel::exception_l& e) {
  const std::string text = e.what();
  const std::string marker = "Details: ";
  const std::string::size_type start = text.rfind(marker);
  if (start == std::string::npos) return std::string();
  const std::string::size_type begin = start + marker.size();
  const std::string::size_type end = text.find('\n', begin);
  return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
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

// The origin_detail text of the exception_l that `action` throws, "std: "
// and the text of any other std::exception, or a note that it threw none.
// With a `depth` of 0 or more, an exception_l of another depth gives a note
// of its depth instead of its text.
template <class Action>
std::string origin_detail_thrown(Action action, int depth = -1) {
  try {
    action();
  } catch (const trel::exception_l& e) {
    if (depth >= 0 && e.depth() != depth) return "<thrown at depth " + std::to_string(e.depth()) + ">";
    return origin_detail(e);
  } catch (const std::exception& e) {
    return std::string("std: ") + e.what();
  }
  return "<nothing thrown>";
}

// ---- images ---------------------------------------------------------------------

struct Ipl_deleter {
  void operator()(IplImage* img) const { cvReleaseImage(&img); }
};

// An IplImage owned by the test.
using Ipl_ptr = std::unique_ptr<IplImage, Ipl_deleter>;

// ---- printed output ---------------------------------------------------------------

// Redirects std::cerr and std::cout into strings for its lifetime, also when
// the code under test throws.
class Captured_streams {
public:
  Captured_streams() : old_err_(std::cerr.rdbuf(err_.rdbuf())), old_out_(std::cout.rdbuf(out_.rdbuf())) {}
  ~Captured_streams() {
    std::cerr.rdbuf(old_err_);
    std::cout.rdbuf(old_out_);
  }
  Captured_streams(const Captured_streams&) = delete;
  Captured_streams& operator=(const Captured_streams&) = delete;

  std::string err() const { return err_.str(); }
  std::string out() const { return out_.str(); }

private:
  std::ostringstream err_;
  std::ostringstream out_;
  std::streambuf* old_err_;
  std::streambuf* old_out_;
};

}  // namespace trel_test

#endif
