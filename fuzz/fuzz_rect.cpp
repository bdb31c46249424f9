// Fuzz target: the bracketed cv::Rect reader.
#include <array>

#include "fuzz/fuzz_support.h"
#include "trel_tools/Opencv_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  trel_fuzz::check_bracketed(data, size, cv::Rect(7, 7, 7, 7),
                             [](const cv::Rect& r) { return std::array<int, 4>{r.x, r.y, r.width, r.height}; });
  return 0;
}
