// Display of cv::Mat images: value ranges, normalisation and the image
// windows.

#include "trel_tools/image_utils.h"

#include <iostream>
#include <string>
#include <vector>

#include <opencv2/core/core_c.h>
#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>

#include "trel_tools/IplImage_overloads.h"
#include "trel_tools/Opencv_io.h"
#include "trel_tools/exception_l.h"

namespace trel {

// ---- display and composition on cv::Mat -------------------------------------------

void image_range(const cv::Mat& m, double& min, double& max) {
  if (m.rows <= 0 || m.cols <= 0) return;
  const int channels = m.channels();
  bool first = true;
  for (int x = 0; x < m.cols; ++x)
    for (int y = 0; y < m.rows; ++y)
      for (int c = 0; c < channels; ++c) {
        const double v = get_pix(m, x, y, c);
        if (first) {
          min = max = v;
          first = false;
        } else if (v < min) {
          min = v;
        } else if (v > max) {
          max = v;
        }
      }
}

cv::Mat image_normalise(cv::Mat& m) {
  if (m.empty()) return cv::Mat();
  if (m.channels() > 1) {
    std::vector<cv::Mat> planes;
    cv::split(m, planes);
    for (cv::Mat& plane : planes) plane = image_normalise(plane);
    cv::Mat merged;
    cv::merge(planes, merged);
    return merged;
  }
  double min = 0.0, max = 0.0;
  image_range(m, min, max);
  cv::Mat result;
  m.convertTo(result, CV_64F);
  const double span = max - min;
  for (int y = 0; y < result.rows; ++y) {
    double* row = result.ptr<double>(y);
    for (int x = 0; x < result.cols; ++x) row[x] = span > 0.0 ? (row[x] - min) / span : 0.0;
  }
  return result;
}

void imagesc(const std::string& window, cv::Mat& m) {
  TREL_CHECK(!m.empty(), "imagesc() : image for window \"" << window << "\" is empty");
  cv::imshow(window, image_normalise(m));
}

namespace {

int wait_with_opencv(int delay_ms) { return cv::waitKey(delay_ms); }

key_wait_function check_image_wait = wait_with_opencv;

}  // namespace

key_wait_function set_check_image_wait(key_wait_function wait) {
  const key_wait_function previous = check_image_wait;
  check_image_wait = wait != nullptr ? wait : wait_with_opencv;
  return previous;
}

void check_image(cv::Mat& m) {
  TREL_CHECK(!m.empty(), "check_image() : image is empty");
  const std::string window = "Image check";
  cv::namedWindow(window, cv::WINDOW_AUTOSIZE);
  try {
    imagesc(window, m);
    check_image_wait(0);
  } catch (...) {
    cv::destroyWindow(window);
    throw;
  }
  cv::destroyWindow(window);
}

void check_image(IplImage* image) {
  TREL_CHECK(image != nullptr, "check_image() : image is null");
  cv::Mat m = cv::cvarrToMat(image);
  check_image(m);
}

void image_title(cv::Mat& m, const std::string& title, int font_face, double font_scale, cv::Scalar colour) {
  int baseline = 0;
  const cv::Size text = cv::getTextSize(title, font_face, font_scale, 1, &baseline);
  if (text.width >= m.cols || text.height >= m.rows)
    std::cerr << "Warning: in image_utils::image_title() : title has size of " << text << " but image only has size of "
              << m.size() << std::endl;
  if (m.empty()) return;
  cv::putText(m, title, cv::Point(m.cols / 2 - text.width / 2, text.height + 10), font_face, font_scale, colour, 1,
              cv::LINE_8);
}

}  // namespace trel
