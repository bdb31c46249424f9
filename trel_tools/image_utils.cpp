#include "trel_tools/image_utils.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <opencv2/core/core_c.h>
#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/imgproc/imgproc_c.h>

#include "trel_tools/IplImage_overloads.h"
#include "trel_tools/Opencv_io.h"
#include "trel_tools/exception_l.h"

// ---- polygon intersection --------------------------------------------------------
//
// The vertices are snapped to a 64-bit integer grid; the low bits of every
// grid coordinate carry marks (the vertex parity in x, the polygon in both
// axes) so that no vertex of one polygon shares a coordinate with a vertex of
// the other and no crossing is degenerate. The area is then accumulated
// exactly as a sum of trapezoids under the boundary pieces of the
// intersection: the crossing pieces of both boundaries and the edges of
// each polygon that lie inside the other, counted by a winding number.

namespace {

struct Grid_point {
  std::int64_t x;
  std::int64_t y;
};

struct Grid_range {
  std::int64_t min;
  std::int64_t max;
};

struct Grid_vertex {
  Grid_point p;
  Grid_range rx;  // x range of the edge from this vertex to the next
  Grid_range ry;
  int in;  // crossings entering minus leaving the other polygon along this edge
};

Grid_range range_of(std::int64_t a, std::int64_t b) { return a < b ? Grid_range{a, b} : Grid_range{b, a}; }

bool overlap(const Grid_range& p, const Grid_range& q) { return p.min < q.max && q.min < p.max; }

// Twice the signed area of the triangle p, q, r.
std::int64_t area(const Grid_point& p, const Grid_point& q, const Grid_point& r) {
  return q.x * r.y - q.y * r.x + p.x * (q.y - r.y) + p.y * (r.x - q.x);
}

// The point at fraction r from p to q, each coordinate truncated as a whole.
Grid_point along(const Grid_point& p, const Grid_point& q, double r) {
  return {static_cast<std::int64_t>(static_cast<double>(p.x) + r * static_cast<double>(q.x - p.x)),
          static_cast<std::int64_t>(static_cast<double>(p.y) + r * static_cast<double>(q.y - p.y))};
}

struct Intersection {
  double sum = 0.0;

  void contribute(const Grid_point& f, const Grid_point& t, std::int64_t w) {
    sum += static_cast<double>(w * (t.x - f.x) * (t.y + f.y) / 2);
  }

  // The boundaries cross between edge p-p1 and edge q-q1; c1..c4 are the
  // signed areas that locate the crossing on each edge.
  void cross(Grid_vertex& p, const Grid_vertex& p1, Grid_vertex& q, const Grid_vertex& q1, double c1, double c2,
             double c3, double c4) {
    const double r1 = c1 + c2 != 0.0 ? c1 / (c1 + c2) : 0.0;
    const double r2 = c3 + c4 != 0.0 ? c3 / (c3 + c4) : 0.0;
    const Grid_point i1 = along(p.p, p1.p, r1);
    const Grid_point i2 = along(q.p, q1.p, r2);
    contribute(i1, p1.p, 1);
    contribute(q1.p, i2, 1);
    ++p.in;
    --q.in;
  }

  // Adds the edges of `inner` that lie inside `outer`: the winding number of
  // outer around the first vertex of inner, updated at each crossing.
  void inside_edges(const std::vector<Grid_vertex>& inner, const std::vector<Grid_vertex>& outer) {
    const int n_inner = static_cast<int>(inner.size()) - 1;
    const int n_outer = static_cast<int>(outer.size()) - 1;
    const Grid_point& p0 = inner[0].p;
    std::int64_t w = 0;
    for (int c = n_outer - 1; c >= 0; --c) {
      if (outer[c].rx.min < p0.x && p0.x < outer[c].rx.max) {
        const bool g = area(p0, outer[c].p, outer[c + 1].p) > 0;
        if (g == (outer[c].p.x < outer[c + 1].p.x)) w += g ? -1 : 1;
      }
    }
    for (int j = 0; j < n_inner; ++j) {
      if (w != 0) contribute(inner[j].p, inner[j + 1].p, w);
      w += inner[j].in;
    }
  }
};

// Grid vertices of one polygon with its mark (0 or 2), closed by a copy of
// vertex 0, and the ranges of its edges.
std::vector<Grid_vertex> to_grid(int n, const point* v, std::int64_t mark, double min_x, double min_y, double sx,
                                 double sy) {
  const double mid = 2.5e8;
  std::vector<Grid_vertex> g(static_cast<std::size_t>(n) + 1);
  for (int i = 0; i < n; ++i) {
    g[i].p.x = (static_cast<std::int64_t>((v[i].x - min_x) * sx - mid) & ~std::int64_t{7}) | (i & 1) | mark;
    g[i].p.y = (static_cast<std::int64_t>((v[i].y - min_y) * sy - mid) & ~std::int64_t{7}) | mark;
  }
  if (n & 1) g[0].p.y += 1;
  g[n] = g[0];
  for (int i = 0; i < n; ++i) {
    g[i].rx = range_of(g[i].p.x, g[i + 1].p.x);
    g[i].ry = range_of(g[i].p.y, g[i + 1].p.y);
    g[i].in = 0;
  }
  return g;
}

}  // namespace

double intersectionArea(int na, point a[], int nb, point b[]) {
  if (na < 3 || nb < 3) return 0.0;
  TREL_CHECK(a != nullptr && b != nullptr, "intersectionArea() : a vertex array is null");
  double min_x = a[0].x, max_x = a[0].x, min_y = a[0].y, max_y = a[0].y;
  auto extend = [&](int n, const point* v) {
    for (int i = 0; i < n; ++i) {
      TREL_CHECK(std::isfinite(v[i].x) && std::isfinite(v[i].y),
                 "intersectionArea() : vertex " << i << " is (" << v[i].x << "," << v[i].y
                                                << "), coordinates must be finite");
      min_x = std::min(min_x, v[i].x);
      max_x = std::max(max_x, v[i].x);
      min_y = std::min(min_y, v[i].y);
      max_y = std::max(max_y, v[i].y);
    }
  };
  extend(na, a);
  extend(nb, b);
  // A bounding box without width or height holds no area (and no grid).
  if (!(max_x > min_x) || !(max_y > min_y)) return 0.0;
  const double gamut = 5e8;
  const double sx = gamut / (max_x - min_x);
  const double sy = gamut / (max_y - min_y);
  if (!std::isfinite(sx) || !std::isfinite(sy)) return 0.0;

  std::vector<Grid_vertex> ga = to_grid(na, a, 0, min_x, min_y, sx, sy);
  std::vector<Grid_vertex> gb = to_grid(nb, b, 2, min_x, min_y, sx, sy);
  Intersection result;
  for (int j = 0; j < na; ++j) {
    for (int k = 0; k < nb; ++k) {
      if (!overlap(ga[j].rx, gb[k].rx) || !overlap(ga[j].ry, gb[k].ry)) continue;
      const std::int64_t a1 = -area(ga[j].p, gb[k].p, gb[k + 1].p);
      const std::int64_t a2 = area(ga[j + 1].p, gb[k].p, gb[k + 1].p);
      const bool o = a1 < 0;
      if (o != (a2 < 0)) continue;
      const std::int64_t a3 = area(gb[k].p, ga[j].p, ga[j + 1].p);
      const std::int64_t a4 = -area(gb[k + 1].p, ga[j].p, ga[j + 1].p);
      if ((a3 < 0) != (a4 < 0)) continue;
      if (o)
        result.cross(ga[j], ga[j + 1], gb[k], gb[k + 1], static_cast<double>(a1), static_cast<double>(a2),
                     static_cast<double>(a3), static_cast<double>(a4));
      else
        result.cross(gb[k], gb[k + 1], ga[j], ga[j + 1], static_cast<double>(a3), static_cast<double>(a4),
                     static_cast<double>(a1), static_cast<double>(a2));
    }
  }
  result.inside_edges(ga, gb);
  result.inside_edges(gb, ga);
  return result.sum / (sx * sy);
}

namespace trel {

namespace {

struct Ipl_release {
  void operator()(IplImage* image) const { cvReleaseImage(&image); }
};
using Ipl_owner = std::unique_ptr<IplImage, Ipl_release>;

Ipl_owner clone_whole(const IplImage* image) {
  Ipl_owner copy(cvCloneImage(image));
  cvResetImageROI(copy.get());
  return copy;
}

// A header of the whole image (its ROI ignored) sharing the data.
cv::Mat whole_image(const IplImage* image) {
  IplImage header = *image;
  header.roi = nullptr;
  return cv::cvarrToMat(&header);
}

// The ROI of an image, or the whole image when it has none.
CvRect roi_of(const IplImage* image) {
  if (image->roi == nullptr) return cvRect(0, 0, image->width, image->height);
  return cvRect(image->roi->xOffset, image->roi->yOffset, image->roi->width, image->roi->height);
}

void ensure_roi(IplImage* image) {
  if (image->roi == nullptr) cvSetImageROI(image, cvRect(0, 0, image->width, image->height));
}

const unsigned char* first_channel_row(const IplImage* image, int y) {
  return reinterpret_cast<const unsigned char*>(image->imageData) + static_cast<std::size_t>(image->widthStep) * y;
}

unsigned char* first_channel_row(IplImage* image, int y) {
  return reinterpret_cast<unsigned char*>(image->imageData) + static_cast<std::size_t>(image->widthStep) * y;
}

// The contract checks shared by the operations: a non-null image of 8 bits
// per channel, named as `role` in the message.
#define TREL_CHECK_IMAGE(image, role) TREL_CHECK((image) != nullptr, role << " image is null")
#define TREL_CHECK_8U(image, role)                                                                        \
  do {                                                                                                    \
    TREL_CHECK_IMAGE(image, role);                                                                        \
    TREL_CHECK((image)->depth == IPL_DEPTH_8U, role << " image must have depth 8 (8 bit unsigned) but has " \
                                                    << (image)->depth << ", image is " << *(image));      \
  } while (0)

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
  TREL_CHECK_IMAGE(image, "binary_image_convert() :");
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
  TREL_CHECK_IMAGE(image, "create_integral_image() :");
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
  TREL_CHECK_IMAGE(image, "centre_surround_check() :");
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
  TREL_CHECK_8U(target, "combine_depth_maps() : target");
  TREL_CHECK_8U(fill, "combine_depth_maps() : fill");
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
  TREL_CHECK_8U(image, "image_median() :");
  ensure_roi(image);
  return median_in(image, roi_of(image), ignore_extremes);
}

void find_object_center(int& cx, int& cy, IplImage* image, IplConvKernel* kernel, int iterations) {
  TREL_CHECK_8U(image, "find_object_center() :");
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
  TREL_CHECK_IMAGE(image, "recenter_image() :");
  Ipl_owner padded = recentred_copy(cx, cy, image);
  replace_image(image, padded);
}

void threshold_image_pair(int upper, int lower, IplImage*& app, IplImage*& depth, IplConvKernel* kernel,
                          int iterations) {
  TREL_CHECK_8U(app, "threshold_image_pair() : appearance");
  TREL_CHECK_8U(depth, "threshold_image_pair() : depth");
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
  TREL_CHECK_8U(app, "segment_and_recentre() : appearance");
  TREL_CHECK_8U(depth, "segment_and_recentre() : depth");
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
  TREL_CHECK_IMAGE(src, "image_region_copy() : source");
  TREL_CHECK_IMAGE(dst, "image_region_copy() : destination");
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
  TREL_CHECK_IMAGE(image, "check_image() :");
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

const cv::Size frame_4_3_size(const cv::Size& size) {
  const long long rows = size.height, cols = size.width;
  if (4 * rows < 3 * cols) return cv::Size(size.width, static_cast<int>(3 * cols / 4));
  return cv::Size(static_cast<int>(4 * rows / 3), size.height);
}

namespace {

void check_mosaic_part(const cv::Mat& m, const char* role) {
  TREL_CHECK(m.empty() || m.type() == CV_8UC3,
             role << " must be 8 bit 3 channel (type 16) but has type " << m.type() << " and size " << m.size());
}

}  // namespace

void convert_res(cv::Mat& m, int width, int height) {
  TREL_CHECK(!m.empty(), "convert_res() : image is empty");
  check_mosaic_part(m, "convert_res() : image");
  TREL_CHECK(width > 0 && height > 0, "convert_res() : requested size " << width << "x" << height << " has no area");
  const cv::Size frame_size = frame_4_3_size(m.size());
  cv::Mat frame(frame_size, CV_8UC3, cv::Scalar::all(0));
  m.copyTo(frame(cv::Rect((frame.cols - m.cols) / 2, (frame.rows - m.rows) / 2, m.cols, m.rows)));
  cv::resize(frame, m, cv::Size(width, height), 0.0, 0.0, cv::INTER_LINEAR);
}

namespace {

void pad_to_frame(cv::Mat& m) {
  const cv::Size frame = frame_4_3_size(m.size());
  convert_res(m, frame.width, frame.height);
}

// The placements of a grid of images, laid out exactly as successive pairwise
// joins would place them (each join centres the canvas built so far inside
// the next one, so centring offsets nest with their integer halvings).
class Grid_layout {
public:
  explicit Grid_layout(bool centre) : centre_(centre) {}

  // Starts a new row below the previous ones.
  void begin_row() {
    finish_row();
    row_start_ = placements_.size();
    row_cols_ = 0;
    row_rows_ = 0;
  }

  void add(const cv::Mat& image) {
    const int grown = std::max(row_rows_, image.rows);
    if (centre_) shift(row_start_, placements_.size(), 0, (grown - row_rows_) / 2);
    placements_.push_back({&image, cv::Point(row_cols_, centre_ ? (grown - image.rows) / 2 : 0)});
    row_cols_ += image.cols;
    row_rows_ = grown;
  }

  // The canvas size; every placement is final once this is called.
  cv::Size finish() {
    finish_row();
    return cv::Size(cols_, rows_);
  }

  void draw(cv::Mat& canvas) const {
    for (const Placement& p : placements_)
      if (!p.image->empty()) p.image->copyTo(canvas(cv::Rect(p.at, p.image->size())));
  }

private:
  struct Placement {
    const cv::Mat* image;
    cv::Point at;
  };

  void shift(std::size_t from, std::size_t to, int dx, int dy) {
    for (std::size_t i = from; i < to; ++i) placements_[i].at += cv::Point(dx, dy);
  }

  // Puts the finished row below the others, as an on-top join would.
  void finish_row() {
    if (row_start_ == placements_.size() && row_cols_ == 0 && row_rows_ == 0) return;
    const int grown = std::max(cols_, row_cols_);
    if (centre_) shift(0, row_start_, (grown - cols_) / 2, 0);
    shift(row_start_, placements_.size(), centre_ ? (grown - row_cols_) / 2 : 0, rows_);
    cols_ = grown;
    rows_ += row_rows_;
    row_start_ = placements_.size();
    row_cols_ = 0;
    row_rows_ = 0;
  }

  bool centre_;
  std::vector<Placement> placements_;
  std::size_t row_start_ = 0;
  int row_cols_ = 0, row_rows_ = 0;
  int cols_ = 0, rows_ = 0;
};

const cv::Mat render(Grid_layout& layout, bool frame43) {
  const cv::Size size = layout.finish();
  cv::Mat canvas(size, CV_8UC3, cv::Scalar::all(0));
  layout.draw(canvas);
  if (frame43 && !canvas.empty()) pad_to_frame(canvas);
  return canvas;
}

const cv::Mat join_pair(const cv::Mat& a, const cv::Mat& b, bool centre, bool frame43, bool side_by_side) {
  check_mosaic_part(a, "first image");
  check_mosaic_part(b, "second image");
  Grid_layout layout(centre);
  layout.begin_row();
  layout.add(a);
  if (!side_by_side) layout.begin_row();
  layout.add(b);
  return render(layout, frame43);
}

long long frame_area(const cv::Size& canvas) {
  const cv::Size frame = frame_4_3_size(canvas);
  return static_cast<long long>(frame.width) * frame.height;
}

}  // namespace

const cv::Mat join_images_side_by_side(const cv::Mat& a, const cv::Mat& b, bool centre, bool frame_4_3) {
  TREL_GUARD_BEGIN
  return join_pair(a, b, centre, frame_4_3, true);
  TREL_GUARD_END("")
}

const cv::Mat join_images_on_top(const cv::Mat& a, const cv::Mat& b, bool centre, bool frame_4_3) {
  TREL_GUARD_BEGIN
  return join_pair(a, b, centre, frame_4_3, false);
  TREL_GUARD_END("")
}

const cv::Mat join_images(const cv::Mat& a, const cv::Mat& b, bool centre, bool frame_4_3) {
  TREL_GUARD_BEGIN
  const long long beside = frame_area(cv::Size(a.cols + b.cols, std::max(a.rows, b.rows)));
  const long long above = frame_area(cv::Size(std::max(a.cols, b.cols), a.rows + b.rows));
  return join_pair(a, b, centre, frame_4_3, beside < above);
  TREL_GUARD_END("")
}

const cv::Mat join_images_ordered(const std::vector<cv::Mat>& images, bool centre, bool frame_4_3) {
  TREL_GUARD_BEGIN
  const int n = static_cast<int>(images.size());
  for (const cv::Mat& image : images) check_mosaic_part(image, "join_images_ordered() : image");
  if (n == 0) return cv::Mat();
  if (n == 1) {
    cv::Mat single = images[0];
    if (frame_4_3 && !single.empty()) pad_to_frame(single);
    return single;
  }
  // The column count whose grid comes closest to 4:3; a single row of all
  // images is not considered.
  int best_cols = 1;
  float best_error = 100000.0f;
  for (int c = 1; c < n; ++c) {
    const int r = static_cast<int>(std::ceil(static_cast<float>(n) / static_cast<float>(c)));
    long long width = 0, height = 0;
    for (int j = 0; j < c; ++j) {
      int widest = 0;
      for (int k = j; k < n; k += c) widest = std::max(widest, images[k].cols);
      width += widest;
    }
    for (int i = 0; i < r; ++i) {
      int tallest = 0;
      for (int k = i * c; k < std::min(n, i * c + c); ++k) tallest = std::max(tallest, images[k].rows);
      height += tallest;
    }
    if (height == 0) continue;
    const float error = std::fabs(static_cast<float>(width) / static_cast<float>(height) - 1.3333334f);
    if (error < best_error) {
      best_error = error;
      best_cols = c;
    }
  }
  Grid_layout layout(centre);
  for (int k = 0; k < n; ++k) {
    if (k % best_cols == 0) layout.begin_row();
    layout.add(images[k]);
  }
  return render(layout, frame_4_3);
  TREL_GUARD_END("")
}

const cv::Mat join_images_unordered(const std::vector<cv::Mat>& images, bool /*centre*/, bool frame_4_3) {
  if (images.empty()) return cv::Mat();
  std::vector<cv::Mat> work(images);
  while (work.size() > 1) {
    const bool last_join = work.size() == 2;
    std::vector<cv::Mat> joined;
    joined.reserve((work.size() + 1) / 2);
    for (std::size_t i = 0; i + 1 < work.size(); i += 2)
      joined.push_back(join_images(work[i], work[i + 1], true, frame_4_3 && last_join));
    if (work.size() % 2 == 1) joined.push_back(work.back());
    work.swap(joined);
  }
  return work.front();
}

}  // namespace trel
