#include "trel_tools/IO_helpers.h"

namespace trel {

template TREL_TOOLS_EXPORT void i_helper<int>(const std::string&, int&);
template TREL_TOOLS_EXPORT void i_helper<double>(const std::string&, double&);
template TREL_TOOLS_EXPORT void i_helper<int>(std::istream&, int&);
template TREL_TOOLS_EXPORT void i_helper<int, std::string, void>(const int&, std::string&);

std::string int_to_str(int n) {
  std::string text;
  i_helper(n, text);
  return text;
}

std::string int_to_str(int n, int width) {
  if (width < 0)
    TREL_THROW("framework_utils::int_to_str() : requested width " << width << " for input number " << n
                                                                  << " is negative.");
  if (n < 0)
    TREL_THROW("framework_utils::int_to_str() : input number " << n << " is negative and cannot be represented by "
                                                               << width << " digits as requested.");
  // 10^width in 64 bits; any width of 10 or more holds every int.
  long long limit = 1;
  for (int i = 0; i < width && limit <= n; ++i) limit *= 10;
  if (limit <= n)
    TREL_THROW("framework_utils::int_to_str() : input number " << n << " is too large to be represented by " << width
                                                               << " as requested.");
  std::string text(static_cast<std::size_t>(width), '0');
  int rest = n;
  for (int i = width - 1; i >= 0 && rest > 0; --i) {
    text[static_cast<std::size_t>(i)] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  }
  return text;
}

void get_row_stream(std::istream& in, std::stringstream& line) {
  std::string text;
  std::getline(in, text);
  line.str(text);
}

void get_line_stream(std::istream& in, std::stringstream& line) { get_row_stream(in, line); }

void dump_nulls(std::istream& in) {
  while (in.peek() == '\0') {
    in.get();
    in >> std::ws;
  }
}

std::ostream& operator<<(std::ostream& out, const sample& s) {
  return out << "sample=" << s.location << "|" << s.frame << "|" << s.x1 << "|" << s.x2 << "|" << s.y1 << "|"
             << s.y2;
}

}  // namespace trel
