#ifndef TREL_TOOLS_IO_HELPERS_H
#define TREL_TOOLS_IO_HELPERS_H

// Typed parse helpers that fail loudly, line helpers for stream readers, and
// zero-padded integer formatting.

#include <istream>
#include <ostream>
#include <sstream>
#include <string>
#include <type_traits>

#include "trel_tools/exception_l.h"
#include "trel_tools/export.h"

namespace trel {

// Reads `value` from `text` with T's stream extraction: leading whitespace is
// skipped and anything after the number is ignored ("12abc" gives 12).
// Throws exception_l when no value can be read; `value` is then unchanged.
template <typename T>
void i_helper(const std::string& text, T& value);

// Reads one whitespace-delimited word from `in`, then `value` from that word
// as above. Throws exception_l when the word holds no value (or `in` has no
// word left); `value` is then unchanged. The word is consumed either way.
template <typename T>
void i_helper(std::istream& in, T& value);

// Writes `value` to a string stream and reads `text` back from it as one
// whitespace-delimited word. Throws exception_l when nothing can be read back
// (for example a value whose text form is empty); `text` is then unchanged.
// Streams are excluded: they go to the overload above.
template <typename In, typename Out,
          typename = typename std::enable_if<!std::is_base_of<std::ios_base, In>::value>::type>
void i_helper(const In& value, Out& text);

// The decimal text of n.
TREL_TOOLS_EXPORT std::string int_to_str(int n);

// The decimal digits of n, zero-padded on the left to exactly `width`
// characters ("007" for 7 and width 3). Throws exception_l when n does not
// fit (n >= 10^width), when n is negative, or when width is negative.
TREL_TOOLS_EXPORT std::string int_to_str(int n, int width);

// Reads one line from `in` (up to the next newline, which is consumed and not
// stored) and makes it the whole content of `line`, positioned at its start.
// The state flags of `line` are left as they were: clear a reused stream that
// reached its end before calling this.
TREL_TOOLS_EXPORT void get_row_stream(std::istream& in, std::stringstream& line);
// The same operation as get_row_stream.
TREL_TOOLS_EXPORT void get_line_stream(std::istream& in, std::stringstream& line);

// While the next character of `in` is a NUL byte, consumes it and any
// whitespace after it.
TREL_TOOLS_EXPORT void dump_nulls(std::istream& in);

// A training sample of the configuration: where it comes from (a location
// text), the frame, and the image box x1..x2, y1..y2 (pixels, inclusive).
struct sample {
  std::string location;
  int frame = 0;
  int x1 = 0;
  int x2 = 0;
  int y1 = 0;
  int y2 = 0;
};

// Writes "sample=" location, then "|" and each of frame, x1, x2, y1, y2; no
// end of line.
TREL_TOOLS_EXPORT std::ostream& operator<<(std::ostream& out, const sample& s);

// ---- implementation ---------------------------------------------------------

template <typename T>
void i_helper(const std::string& text, T& value) {
  std::stringstream in(text);
  T read;
  if (!(in >> read)) TREL_THROW("i_helper(string) : reading in failed, when reading value of \"" << text << "\"");
  value = read;
}

template <typename T>
void i_helper(std::istream& in, T& value) {
  std::string word;
  in >> word;
  std::stringstream word_stream(word);
  T read;
  if (!(word_stream >> read))
    TREL_THROW("i_helper(stream) : reading in failed, when reading value of \"" << word << "\"");
  value = read;
}

template <typename In, typename Out, typename>
void i_helper(const In& value, Out& text) {
  std::stringstream buffer;
  buffer << value;
  Out read;
  if (!(buffer >> read))
    TREL_THROW("i_helper(general) : reading in failed, when reading value of \"" << value << "\"");
  text = read;
}

extern template TREL_TOOLS_EXPORT void i_helper<int>(const std::string&, int&);
extern template TREL_TOOLS_EXPORT void i_helper<double>(const std::string&, double&);
extern template TREL_TOOLS_EXPORT void i_helper<int>(std::istream&, int&);
extern template TREL_TOOLS_EXPORT void i_helper<int, std::string, void>(const int&, std::string&);

}  // namespace trel

#endif
