// Fuzz target: get_row_stream, get_line_stream and dump_nulls. Splitting a text
// into lines and joining them again with line feeds must give the text back;
// dump_nulls must consume only NUL bytes and whitespace and stop before a
// character that is neither.
#include <cctype>

#include "fuzz/fuzz_support.h"
#include "trel_tools/IO_helpers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = trel_fuzz::text_of(data, size);

  std::stringstream in(text);
  std::stringstream line;
  std::string joined;
  for (bool first = true, row = true; in.peek() != std::char_traits<char>::eof(); first = false, row = !row) {
    line.clear();
    if (row)
      trel::get_row_stream(in, line);
    else
      trel::get_line_stream(in, line);
    if (line.tellg() != 0) trel_fuzz::finding("the line stream is not at its start");
    if (!first) joined += '\n';
    joined += line.str();
  }
  if (!text.empty() && text.back() == '\n') joined += '\n';
  if (joined != text) trel_fuzz::finding("the lines do not join to the text");

  std::stringstream nulls(text);
  trel::dump_nulls(nulls);
  nulls.clear();
  const std::streamoff consumed = nulls.tellg();
  if (consumed < 0 || static_cast<size_t>(consumed) > size) trel_fuzz::finding("dump_nulls lost its position");
  for (std::streamoff i = 0; i < consumed; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[static_cast<size_t>(i)]);
    if (c != 0 && !std::isspace(c)) trel_fuzz::finding("dump_nulls consumed a character that is no NUL or blank");
  }
  if (static_cast<size_t>(consumed) < size && text[static_cast<size_t>(consumed)] == '\0')
    trel_fuzz::finding("dump_nulls stopped before a NUL byte");
  return 0;
}
