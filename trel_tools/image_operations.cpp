// The operations on IplImage data: rectangles, binarisation, integral
// images, the centre-surround search, depth-map filling, region copies and
// pyramids.

#include "trel_tools/image_utils.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>

#include "trel_tools/IplImage_overloads.h"
#include "trel_tools/Opencv_io.h"
#include "trel_tools/exception_l.h"
#include "trel_tools/image_utils_internal.h"

namespace trel {

using namespace image_internal;

// ---- rectangles --------------------------------------------------------------

const cv::Rect centred_rect(const cv::Point& centre, const cv::Size& size) {
  return centred_rect(centre.x, centre.y, size.width, size.height);
}

const cv::Rect centred_rect(int cx, int cy, int width, int height) {
  return cv::Rect(cx - width / 2, cy - height / 2, width, height);
}

bool check_rect_overlap(CvRect* a, CvRect* b, double threshold) {
  TREL_CHECK(a != nullptr && b != nullptr, "check_rect_overlap() : a rectangle is null");
  const double a_area = static_cast<double>(a->width) * a->height;
  if (!(a_area > 0.0)) return false;
  const long long w = std::min<long long>(static_cast<long long>(a->x) + a->width, static_cast<long long>(b->x) + b->width) -
                      std::max(a->x, b->x);
  const long long h = std::min<long long>(static_cast<long long>(a->y) + a->height, static_cast<long long>(b->y) + b->height) -
                      std::max(a->y, b->y);
  const double overlap = static_cast<double>(std::max(w, 0LL)) * static_cast<double>(std::max(h, 0LL));
  return overlap / a_area > threshold;
}

// ---- IplImage operations -------------------------------------------------------

void binary_image_convert(IplImage*& image, int threshold) {
  TREL_CHECK(image != nullptr, "binary_image_convert() : image is null");
  if (image->depth != IPL_DEPTH_8U) {
    std::cerr << "Image input to binary_image_convert was not 8 bit colour depth. (won't take long to code if "
                 "necesary)"
              << std::endl;
    return;
  }
  // Every byte below the threshold becomes 0, every other 255: for integer
  // pixels that is OpenCV's binary threshold at threshold - 1 (clamped, so
  // that thresholds beyond the byte range give all 255 or all 0).
  const int t = std::min(std::max(threshold, 0), 256);
  cv::Mat bytes = whole_image(image);
  cv::threshold(bytes, bytes, t - 1, 255, cv::THRESH_BINARY);
}

matrix<double>* create_integral_image(IplImage* image) {
  TREL_CHECK(image != nullptr, "create_integral_image() : image is null");
  if (image->nChannels != 1) {
    std::cerr << "Error image input to integral image creator has " << image->nChannels
              << " channels and should only have 1." << std::endl;
    return nullptr;
  }
  if (image->depth != IPL_DEPTH_8U) {
    std::cerr << "Error image input to integral image creator has depth " << image->depth
              << " and should only have depth 8." << std::endl;
    return nullptr;
  }
  const int width = image->width;
  const int height = image->height;
  std::unique_ptr<matrix<double>> m(new matrix<double>(width, height));
  // M(x, y) = M(x - 1, y) + (sum of column x up to row y). Columns are taken in
  // blocks so that each image row is read as one short run of bytes while the
  // output rows M[x] (one per image column) are written front to back. The
  // running sums live in a local array so that the stores into the matrix
  // cannot alias them.
  constexpr int block = 8;
  for (int x0 = 0; x0 < width; x0 += block) {
    const int n = std::min(block, width - x0);
    double column_sum[block] = {};
    double* out[block] = {};
    for (int k = 0; k < n; ++k) out[k] = (*m)[static_cast<unsigned>(x0 + k)];
    const double* left = x0 > 0 ? (*m)[static_cast<unsigned>(x0 - 1)] : nullptr;
    for (int y = 0; y < height; ++y) {
      const unsigned char* pixels = first_channel_row(image, y) + x0;
      double previous = left != nullptr ? left[y] : 0.0;
      for (int k = 0; k < n; ++k) {
        column_sum[k] += pixels[k];
        previous += column_sum[k];
        out[k][y] = previous;
      }
    }
  }
  return m.release();
}

namespace {

// The scale after s in the sequence s, s * step, s * step^2, ... of
// centre_surround_check at which the box size, (int)s by (int)(s * aspect),
// first changes; every scale in between gives the same boxes and the same
// scores. A step close to 1 repeats a size up to millions of times, so most
// of the repeats are leapt over with one power of the step, stopping a few
// steps short of where the size changes by the logarithms; the last steps are
// taken one by one.
double next_box_scale(double s, double step, double aspect) {
  const double w = std::floor(s);
  const double h = std::floor(s * aspect);
  const double boundary = std::min(w + 1.0, (h + 1.0) / aspect);
  const double log_step = std::log1p(step - 1.0);
  for (;;) {
    const double steps_left = std::log(boundary / s) / log_step;
    s *= steps_left > 16.0 ? std::pow(step, std::floor(steps_left) - 8.0) : step;
    if (std::floor(s) != w || std::floor(s * aspect) != h) return s;
  }
}

}  // namespace

void centre_surround_check(IplImage*& image, double aspect, int& best_width, int& best_x, int& best_y,
                           int min_width, double step) {
  TREL_CHECK(image != nullptr, "centre_surround_check() : image is null");
  TREL_CHECK(min_width >= 1 && step > 1.0 && aspect > 0.0,
             "centre_surround_check() : needs min_width >= 1, step > 1 and aspect > 0, but min_width="
                 << min_width << " step=" << step << " aspect=" << aspect);
  best_width = 0;
  best_x = 0;
  best_y = 0;
  if (image->nChannels != 1 || image->depth != IPL_DEPTH_8U) {
    std::cerr << "centre_surround_check() : image must be single channel 8 bit but is " << *image << std::endl;
    return;
  }
  Ipl_owner copy = clone_whole(image);
  IplImage* binary = copy.get();
  binary_image_convert(binary, 1);
  const std::unique_ptr<matrix<double>> integral(create_integral_image(binary));
  const matrix<double>& m = *integral;
  const int width = image->width;
  const int height = image->height;
  auto box_sum = [&m](int x0, int y0, int x1, int y1) {
    return m[x1][y1] - m[x1][y0] - m[x0][y1] + m[x0][y0];
  };
  double best = -1.0;
  // Each box size is searched once: the search of a repeated size finds the
  // same scores, none of them strictly better.
  for (double s = min_width; s < width && height > s * aspect; s = next_box_scale(s, step, aspect)) {
    const int w = static_cast<int>(s);
    const int h = static_cast<int>(s * aspect);
    const double inner_area = static_cast<double>(w) * h;
    // The border makes the outer box about twice the inner area.
    const int b = static_cast<int>((std::sqrt(2.0) - 1.0) * 0.5 * w);
    const int outer_w = w + 2 * b;
    const int outer_h = static_cast<int>(outer_w * aspect);
    const double ring_area = static_cast<double>(outer_w) * outer_h - inner_area;
    if (!(inner_area > 0.0) || !(ring_area > 0.0)) continue;
    // The inner box must end inside the image too (for aspect < 0.5 it can
    // reach below the outer box).
    for (int x = b; x - b < width - outer_w; ++x) {
      for (int y = b; y - b < height - outer_h && y + h < height; ++y) {
        const double inner = box_sum(x, y, x + w, y + h);
        const double outer = box_sum(x - b, y - b, x - b + outer_w, y - b + outer_h);
        const double score = inner / inner_area - (outer - inner) / ring_area;
        if (score > best) {
          best = score;
          best_width = w;
          best_x = x;
          best_y = y;
        }
      }
    }
  }
}

void combine_depth_maps(IplImage* target, IplImage* fill) {
  check_8u_image(TREL_FRAME, target, "combine_depth_maps() : target");
  check_8u_image(TREL_FRAME, fill, "combine_depth_maps() : fill");
  if (target->width != fill->width || target->height != fill->height || target->depth != fill->depth ||
      target->nChannels != fill->nChannels) {
    std::cerr << "The 2 depth maps to be combined do not match: widths=" << target->width << "," << fill->width
              << " heights=" << target->height << "," << fill->height << " depths=" << target->depth << ","
              << fill->depth << " nChannels=" << target->nChannels << "," << fill->nChannels << std::endl;
    return;
  }
  const int channels = target->nChannels;
  for (int y = 0; y < target->height; ++y) {
    unsigned char* t = first_channel_row(target, y);
    const unsigned char* f = first_channel_row(static_cast<const IplImage*>(fill), y);
    for (int x = 0; x < target->width; ++x) {
      unsigned char& value = t[channels * x];
      if (value > 240) {
        const unsigned char replacement = f[channels * x];
        value = replacement <= 240 ? replacement : 255;
      }
    }
  }
}


namespace {

// A rectangle of image_region_copy while it is clipped. The clipping adds
// starts and sizes that may each be near the ends of the int range, so it
// works in 64 bits and checks only the final values.
struct Wide_rect {
  std::int64_t x, y, width, height;
};

Wide_rect widen(const CvRect& r) { return Wide_rect{r.x, r.y, r.width, r.height}; }

bool fits_int(std::int64_t v) { return v >= INT_MIN && v <= INT_MAX; }

bool fits_int(const Wide_rect& r) { return fits_int(r.x) && fits_int(r.y) && fits_int(r.width) && fits_int(r.height); }

// One clipping rule of image_region_copy along one axis. A rectangle starting
// before its image loses the part outside, in both rectangles, and the other
// rectangle moves on by as much.
bool clip_start(std::int64_t& start, std::int64_t& size, std::int64_t& other_start, std::int64_t& other_size) {
  if (start >= 0) return false;
  size += start;
  other_size += start;
  other_start -= start;
  start = 0;
  return true;
}

// A rectangle ending beyond its image is cut at the image's end, in both
// rectangles.
bool clip_end(std::int64_t start, std::int64_t& size, std::int64_t& other_size, int limit) {
  if (start + size <= limit) return false;
  size = other_size = limit - start;
  return true;
}

}  // namespace

void image_region_copy(IplImage* src, IplImage* dst, CvRect& src_rect, CvRect& dst_rect) {
  TREL_CHECK(src != nullptr, "image_region_copy() : source image is null");
  TREL_CHECK(dst != nullptr, "image_region_copy() : destination image is null");
  if (src_rect.x > src->width || src_rect.y > src->height) {
    std::stringstream text;
    text << "image_region_copy() : Region " << src_rect << " is completely outside input image " << *src << std::endl;
    throw std::logic_error(text.str());
  }
  Wide_rect s = widen(src_rect);
  Wide_rect d = widen(dst_rect);
  // Each rule that fires restarts the checks from the first; widths only
  // shrink and positions only move into the images, so this ends. Every
  // value stays within a few times the int range.
  while (clip_start(s.x, s.width, d.x, d.width) || clip_start(s.y, s.height, d.y, d.height) ||
         clip_end(s.x, s.width, d.width, src->width) || clip_end(s.y, s.height, d.height, src->height) ||
         clip_start(d.x, d.width, s.x, s.width) || clip_start(d.y, d.height, s.y, s.height) ||
         clip_end(d.x, d.width, s.width, dst->width) || clip_end(d.y, d.height, s.height, dst->height)) {
  }
  if (!fits_int(s) || !fits_int(d)) {
    std::stringstream text;
    text << "image_region_copy() : Region " << src_rect << " and destination region " << dst_rect
         << " cannot be clipped within the range of int" << std::endl;
    throw std::logic_error(text.str());
  }
  src_rect = cvRect(static_cast<int>(s.x), static_cast<int>(s.y), static_cast<int>(s.width),
                    static_cast<int>(s.height));
  dst_rect = cvRect(static_cast<int>(d.x), static_cast<int>(d.y), static_cast<int>(d.width),
                    static_cast<int>(d.height));
  cvResetImageROI(dst);
  cvZero(dst);
  if (s.width <= 0 || s.height <= 0 || d.width <= 0 || d.height <= 0) {
    cvResetImageROI(src);
    return;
  }
  cvSetImageROI(src, src_rect);
  cvSetImageROI(dst, dst_rect);
  cvCopy(src, dst);
}

void create_image_pyramid(std::vector<IplImage*>* images, std::vector<std::vector<IplImage*>*>* levels,
                          const unsigned int& count, const double& sigma) {
  TREL_CHECK(images != nullptr && levels != nullptr, "create_image_pyramid() : images or levels is null");
  TREL_CHECK(levels->empty(), "create_image_pyramid() : levels must be empty but holds " << levels->size());
  TREL_CHECK(sigma > 0.0, "create_image_pyramid() : sigma must be positive but is " << sigma);
  for (std::size_t i = 0; i < images->size(); ++i)
    TREL_CHECK((*images)[i] != nullptr, "create_image_pyramid() : input image " << i << " is null");

  // Built under ownership here and handed over only when complete.
  std::vector<std::vector<Ipl_owner>> built;
  built.reserve(count + 1);
  built.emplace_back();
  for (IplImage* image : *images) built.back().emplace_back(cvCloneImage(image));
  for (unsigned int k = 0; k < count; ++k) {
    const double deviation = std::sqrt(std::pow(sigma, static_cast<double>(k)));
    built.emplace_back();
    for (IplImage* image : *images) {
      Ipl_owner level(cvCreateImage(cvSize(image->width, image->height), image->depth, image->nChannels));
      cv::Mat target = whole_image(level.get());
      cv::GaussianBlur(whole_image(image), target, cv::Size(0, 0), deviation, deviation, cv::BORDER_REPLICATE);
      built.back().push_back(std::move(level));
    }
  }
  std::vector<std::unique_ptr<std::vector<IplImage*>>> handed;
  for (std::size_t k = 0; k < built.size(); ++k) handed.emplace_back(new std::vector<IplImage*>(built[k].size()));
  levels->reserve(built.size());
  for (std::size_t k = 0; k < built.size(); ++k) {
    for (std::size_t i = 0; i < built[k].size(); ++i) (*handed[k])[i] = built[k][i].release();
    levels->push_back(handed[k].release());
  }
}

}  // namespace trel
