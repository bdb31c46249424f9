#ifndef TREL_FUZZ_SUPPORT_H
#define TREL_FUZZ_SUPPORT_H

// Helpers shared by the fuzz targets. A documented outcome (exception_l, the
// bracketed readers' std::logic_error, a warning, a refused value) returns
// normally; a broken promise calls finding(), which aborts so that libFuzzer
// (or the replay program) reports the input. Any other exception escapes and
// is reported the same way.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>

#include "trel_tools/Opencv_io.h"

namespace trel_fuzz {

using trel::operator<<;
using trel::operator>>;

[[noreturn]] inline void finding(const std::string& what) {
  // Straight to the C stream: std::cerr may be silenced by quiet_streams.
  std::fprintf(stderr, "FINDING: %s\n", what.c_str());
  std::abort();
}

inline std::string text_of(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

// Swallows std::cout and std::cerr while alive: the readers' warnings would
// otherwise cost more time than the reading itself.
class quiet_streams {
public:
  quiet_streams() : out_(std::cout.rdbuf(&sink_)), err_(std::cerr.rdbuf(&sink_)) {}
  ~quiet_streams() {
    std::cout.rdbuf(out_);
    std::cerr.rdbuf(err_);
  }
  quiet_streams(const quiet_streams&) = delete;
  quiet_streams& operator=(const quiet_streams&) = delete;

private:
  struct null_buffer : std::streambuf {
    int overflow(int c) override { return c == traits_type::eof() ? 0 : c; }
  };
  null_buffer sink_;
  std::streambuf* out_;
  std::streambuf* err_;
};

// One bracketed reader: `fields` maps a value to a comparable tuple of its
// fields. A refused text (std::logic_error) or a short one must leave the
// target as it was; an accepted one must hold non-negative fields and read back
// the same from its own written form.
template <class T, class Fields>
void check_bracketed(const uint8_t* data, size_t size, T value, Fields fields) {
  const auto before = fields(value);
  std::stringstream in(text_of(data, size));
  try {
    in >> value;
  } catch (const std::logic_error&) {
    return;  // the target may hold fields stored before the refusal
  }
  if (in.fail()) {
    if (fields(value) != before) finding("a short text changed the target");
    return;
  }
  for (const int f : fields(value))
    if (f < 0) finding("a negative field was read");
  std::stringstream written;
  written << value;
  T again = value;
  try {
    written >> again;
  } catch (const std::logic_error& e) {
    finding(std::string("the written form \"") + written.str() + "\" was refused: " + e.what());
  }
  if (written.fail() || fields(again) != fields(value))
    finding("the written form \"" + written.str() + "\" does not read back");
}

}  // namespace trel_fuzz

#endif
