// Fuzz target: the bracketed cv::Size reader.
#include <array>

#include "fuzz/fuzz_support.h"
#include "trel_tools/Opencv_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  trel_fuzz::check_bracketed(data, size, cv::Size(7, 7),
                             [](const cv::Size& s) { return std::array<int, 2>{s.width, s.height}; });
  return 0;
}
