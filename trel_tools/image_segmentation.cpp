// Segmentation of an appearance image by its depth map: medians, object
// centres, depth-band thresholding and recentring.

#include "trel_tools/image_utils.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>

#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

#include "trel_tools/Opencv_io.h"
#include "trel_tools/exception_l.h"
#include "trel_tools/image_utils_internal.h"

namespace trel {

using namespace image_internal;

namespace {

// Morphological closing (dilation, then erosion) of the whole image in place.
void close_image(IplImage* image, IplConvKernel* kernel, int iterations) {
  cvMorphologyEx(image, image, nullptr, kernel, CV_MOP_CLOSE, iterations);
}

// The image binarised (threshold 1) and, with a kernel, closed.
void binarise_and_close(IplImage*& image, IplConvKernel* kernel, int iterations) {
  binary_image_convert(image, 1);
  close_image(image, kernel, iterations);
}

}  // namespace

namespace {

// The median of image_median over the given region, without touching the
// image's ROI.
int median_in(const IplImage* image, const CvRect& roi, bool ignore_extremes) {
  // Counting sort: the value at index count / 2 of the sorted values.
  std::uint64_t histogram[256] = {};
  const int channels = image->nChannels;
  for (int y = roi.y; y < roi.y + roi.height; ++y) {
    const unsigned char* row = first_channel_row(image, y) + channels * roi.x;
    if (channels == 1)
      for (int x = 0; x < roi.width; ++x) ++histogram[row[x]];
    else
      for (int x = 0; x < roi.width; ++x) ++histogram[row[channels * x]];
  }
  if (ignore_extremes) {
    histogram[0] = 0;
    histogram[255] = 0;
  }
  std::uint64_t count = 0;
  for (std::uint64_t n : histogram) count += n;
  if (count < 3) return 0;
  std::uint64_t index = count / 2;
  for (int v = 0; v < 256; ++v) {
    if (index < histogram[v]) return v;
    index -= histogram[v];
  }
  return 255;  // not reached: index < count
}

}  // namespace

int image_median(IplImage* image, bool ignore_extremes) {
  check_8u_image(TREL_FRAME, image, "image_median() :");
  ensure_roi(image);
  return median_in(image, roi_of(image), ignore_extremes);
}

void find_object_center(int& cx, int& cy, IplImage* image, IplConvKernel* kernel, int iterations) {
  check_8u_image(TREL_FRAME, image, "find_object_center() :");
  ensure_roi(image);
  const CvRect roi = roi_of(image);
  Ipl_owner copy(cvCloneImage(image));  // ROI included: the closing works inside it
  if (kernel != nullptr) {
    IplImage* work = copy.get();
    binarise_and_close(work, kernel, iterations);
  }
  const int channels = copy->nChannels;
  double sum_x = 0.0, sum_y = 0.0;
  std::int64_t count = 0;
  for (int y = roi.y; y < roi.y + roi.height; ++y) {
    const unsigned char* row = first_channel_row(static_cast<const IplImage*>(copy.get()), y);
    for (int x = roi.x; x < roi.x + roi.width; ++x) {
      if (row[channels * x] != 0) {
        sum_x += x;
        sum_y += y;
        ++count;
      }
    }
  }
  if (count == 0) {
    cx = roi.x + roi.width / 2;
    cy = roi.y + roi.height / 2;
    return;
  }
  cx = static_cast<int>(sum_x / static_cast<double>(count));
  cy = static_cast<int>(sum_y / static_cast<double>(count));
}

namespace {

// The padded image of recenter_image, not yet handed over; `image` keeps its
// data (its ROI is reset).
Ipl_owner recentred_copy(int cx, int cy, IplImage* image) {
  cvResetImageROI(image);
  const long long w = image->width, h = image->height;
  const long long new_w = cx <= w - cx ? 2 * (w - cx) : 2LL * cx;
  const long long new_h = cy <= h - cy ? 2 * (h - cy) : 2LL * cy;
  TREL_CHECK(new_w <= INT_MAX && new_h <= INT_MAX,
             "recenter_image() : centre (" << cx << "," << cy << ") would need an image of " << new_w << "x" << new_h
                                           << " for an image of " << w << "x" << h);
  const int offset_x = cx <= w - cx ? static_cast<int>(w - 2LL * cx) : 0;
  const int offset_y = cy <= h - cy ? static_cast<int>(h - 2LL * cy) : 0;
  Ipl_owner padded(cvCreateImage(cvSize(static_cast<int>(new_w), static_cast<int>(new_h)), image->depth,
                                 image->nChannels));
  cvZero(padded.get());
  cvSetImageROI(padded.get(), cvRect(offset_x, offset_y, image->width, image->height));
  cvCopy(image, padded.get());
  cvResetImageROI(padded.get());
  return padded;
}

void replace_image(IplImage*& image, Ipl_owner& replacement) {
  cvReleaseImage(&image);
  image = replacement.release();
}

}  // namespace

void recenter_image(int cx, int cy, IplImage*& image) {
  TREL_CHECK(image != nullptr, "recenter_image() : image is null");
  Ipl_owner padded = recentred_copy(cx, cy, image);
  replace_image(image, padded);
}

void threshold_image_pair(int upper, int lower, IplImage*& app, IplImage*& depth, IplConvKernel* kernel,
                          int iterations) {
  check_8u_image(TREL_FRAME, app, "threshold_image_pair() : appearance");
  check_8u_image(TREL_FRAME, depth, "threshold_image_pair() : depth");
  if (depth->nChannels != 1) {
    std::cerr << "depth image used for thresholding has " << depth->nChannels
              << " channels. Function only works for single channel" << std::endl;
    std::cerr << "app image passed had " << app->nChannels << " channels." << std::endl;
    return;
  }
  TREL_CHECK(app->width == depth->width && app->height == depth->height,
             "threshold_image_pair() : appearance image " << *app << " and depth image " << *depth
                                                          << " differ in size");
  int lo = std::max(lower, 0);
  int hi = upper;
  // Everything is computed on copies first, so that a failing closing
  // changes neither image.
  Ipl_owner thresholded = clone_whole(depth);
  for (int y = 0; y < thresholded->height; ++y) {
    unsigned char* row = first_channel_row(thresholded.get(), y);
    for (int x = 0; x < thresholded->width; ++x)
      if (row[x] <= lo || row[x] > hi) row[x] = 0;
  }
  Ipl_owner closed;
  if (kernel != nullptr) {
    closed.reset(cvCloneImage(thresholded.get()));
    IplImage* work = closed.get();
    binarise_and_close(work, kernel, iterations);
    lo = 1;
    hi = 255;
  }
  const IplImage* mask = closed ? closed.get() : thresholded.get();
  const int channels = app->nChannels;
  for (int y = 0; y < app->height; ++y) {
    const unsigned char* m = first_channel_row(mask, y);
    unsigned char* row = first_channel_row(app, y);
    for (int x = 0; x < app->width; ++x)
      if (m[x] <= lo || m[x] > hi) std::memset(row + channels * x, 0, static_cast<std::size_t>(channels));
  }
  whole_image(thresholded.get()).copyTo(whole_image(depth));
}

namespace {

// `v` truncated toward zero, when that is an int (the conversion of any other
// value, NaN included, is undefined).
bool truncate_to_int(double v, std::int64_t& out) {
  if (!(v > static_cast<double>(INT_MIN) - 1.0 && v < static_cast<double>(INT_MAX) + 1.0)) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

void segment_and_recentre(IplImage*& app, IplImage*& depth, double tolerance, double scale_x, double scale_y,
                          IplConvKernel* kernel, int iterations, int threshold) {
  check_8u_image(TREL_FRAME, app, "segment_and_recentre() : appearance");
  check_8u_image(TREL_FRAME, depth, "segment_and_recentre() : depth");
  TREL_CHECK(app->width == depth->width && app->height == depth->height,
             "segment_and_recentre() : appearance image " << *app << " and depth image " << *depth
                                                          << " differ in size");
  TREL_CHECK(scale_x > 0.0 && scale_y > 0.0,
             "segment_and_recentre() : scales must be positive, but are " << scale_x << "," << scale_y);
  TREL_CHECK(std::isfinite(tolerance), "segment_and_recentre() : tolerance must be finite, but is " << tolerance);
  // Every argument is checked against the images before either changes; the
  // median is taken without giving the depth image an ROI for that reason.
  const CvRect roi = roi_of(depth);
  const int t = threshold < 1 ? median_in(depth, roi, true) : threshold;
  std::int64_t upper = 0, lower = 0;
  const double band_upper = (1.0 + tolerance) * t;
  const double band_lower = (1.0 - tolerance) * t;
  TREL_CHECK(t == 0 || (truncate_to_int(band_upper, upper) && truncate_to_int(band_lower, lower)),
             "segment_and_recentre() : the depth band (" << band_lower << "," << band_upper << "] around " << t
                                                          << " does not fit an int");
  // The ROI scaled about its centre, held to what cvSetImageROI accepts: no
  // negative size, a start before the image's end and an end after its start.
  std::int64_t scaled_w = 0, scaled_h = 0, shift_x = 0, shift_y = 0;
  const bool scaled_fits = truncate_to_int(roi.width * scale_x, scaled_w) &&
                           truncate_to_int(roi.height * scale_y, scaled_h) &&
                           truncate_to_int((scale_x - 1.0) * roi.width * -0.5, shift_x) &&
                           truncate_to_int((scale_y - 1.0) * roi.height * -0.5, shift_y);
  const std::int64_t scaled_x = roi.x + shift_x, scaled_y = roi.y + shift_y;
  TREL_CHECK(scaled_fits && scaled_x < depth->width && scaled_y < depth->height &&
                 scaled_x + scaled_w >= (scaled_w > 0 ? 1 : 0) && scaled_y + scaled_h >= (scaled_h > 0 ? 1 : 0) &&
                 scaled_x + scaled_w <= INT_MAX && scaled_y + scaled_h <= INT_MAX,
             "segment_and_recentre() : the depth ROI" << roi << "scaled by " << scale_x << "," << scale_y
                                                      << " does not fit the depth image " << *depth);
  if (t != 0)
    threshold_image_pair(static_cast<int>(upper), static_cast<int>(lower), app, depth, kernel, iterations);
  cvSetImageROI(depth, cvRect(static_cast<int>(scaled_x), static_cast<int>(scaled_y), static_cast<int>(scaled_w),
                              static_cast<int>(scaled_h)));
  int cx = 0, cy = 0;
  find_object_center(cx, cy, depth, kernel, iterations);
  // Both padded images are made before either is replaced.
  Ipl_owner new_app = recentred_copy(cx, cy, app);
  Ipl_owner new_depth = recentred_copy(cx, cy, depth);
  const int w = static_cast<int>(static_cast<double>(scaled_w) / scale_x);
  const int h = static_cast<int>(static_cast<double>(scaled_h) / scale_y);
  const CvRect centred = cvRect((new_app->width - w) / 2, (new_depth->height - h) / 2, w, h);
  cvSetImageROI(new_app.get(), centred);
  cvSetImageROI(new_depth.get(), centred);
  replace_image(app, new_app);
  replace_image(depth, new_depth);
}


}  // namespace trel
