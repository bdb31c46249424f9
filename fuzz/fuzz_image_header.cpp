// Fuzz target: the bracketed IplImage geometry reader, on a header without data.
#include <array>

#include "fuzz/fuzz_support.h"
#include "trel_tools/Opencv_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  IplImage header{};
  header.width = header.height = header.depth = header.nChannels = 7;
  header.imageData = nullptr;
  trel_fuzz::check_bracketed(data, size, header, [](const IplImage& img) {
    return std::array<int, 4>{img.width, img.height, img.depth, img.nChannels};
  });
  return 0;
}
