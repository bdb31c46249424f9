// How trel reports an error: an exception_l whose message is a call trace, one
// frame per guarded function, the origin last.
#include <cstdio>
#include <iostream>
#include <string>

#include "trel_tools/exception_l.h"

// [throw]
void set_size(int rows, int cols) {
  if (rows < 0) TREL_THROW("tried to set size to " << rows << "," << cols);
}

void resize_all(int num_eqs) {
  trel::guarded(TREL_FRAME, [&] {
    set_size(-1, 3);  // anything thrown here is rethrown with this frame added
  }, [&](std::ostream& os) { os << "num_eqs=" << num_eqs; });
}
// [/throw]

int main() {
  try {
    resize_all(12);
  } catch (const trel::exception_l& e) {
    const std::string trace = e.what();
    // The innermost frame's text ends the message; print the two "Details:" lines.
    for (std::size_t at = trace.find("Details: "); at != std::string::npos; at = trace.find("Details: ", at + 1))
      std::printf("%s\n", trace.substr(at, trace.find('\n', at) - at).c_str());
  }
}
