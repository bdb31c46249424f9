// The median of a synthetic depth image and a mosaic of four views.
#include <cstdio>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

#include "trel_tools/image_utils.h"

int main() {
  IplImage* depth = cvCreateImage(cvSize(64, 48), IPL_DEPTH_8U, 1);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) CV_IMAGE_ELEM(depth, unsigned char, y, x) = static_cast<unsigned char>(x < 8 ? 0 : 100 + y);
  // [images]
  const int median = trel::image_median(depth, true);  // 0 and 255 ignored
  trel::matrix<double>* sums = trel::create_integral_image(depth);  // sums[x][y], the caller deletes
  std::vector<cv::Mat> views(4, cv::Mat(48, 64, CV_8UC3, cv::Scalar(40, 80, 120)));
  const cv::Mat mosaic = trel::join_images_ordered(views, true, true);  // grid closest to 4:3, padded
  std::printf("median %d, sum of all pixels %.0f, mosaic %d x %d\n", median, (*sums)[63][47], mosaic.cols,
              mosaic.rows);
  // [/images]
  delete sums;
  cvReleaseImage(&depth);
}
