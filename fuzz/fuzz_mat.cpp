// Fuzz target: the cv::Mat reader ("rows cols" then rows x cols values).
// Refused counts throw exception_l and a short stream fails; both must leave
// the 1 x 1 target as it was. A read that succeeds must give the counts the
// text starts with.
#include <opencv2/core.hpp>

#include "fuzz/fuzz_support.h"
#include "trel_tools/Opencv_io.h"
#include "trel_tools/exception_l.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = trel_fuzz::text_of(data, size);
  cv::Mat m(1, 1, CV_64FC1, cv::Scalar(-7.0));
  std::stringstream in(text);
  bool refused = false;
  try {
    trel::operator>>(in, m);
  } catch (const trel::exception_l&) {
    refused = true;
  }
  if (m.type() != CV_64FC1) trel_fuzz::finding("the target changed its type");
  if (refused || in.fail()) {
    if (m.rows != 1 || m.cols != 1 || m.at<double>(0, 0) != -7.0)
      trel_fuzz::finding("a refused or short text changed the target");
    return 0;
  }
  std::stringstream counts(text);
  int rows = 0;
  int cols = 0;
  counts >> rows >> cols;
  if (m.rows != rows || m.cols != cols) trel_fuzz::finding("the matrix does not have the counts read");
  return 0;
}
