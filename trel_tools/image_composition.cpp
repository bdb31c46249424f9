// Composition of 8-bit colour images: 4:3 frames and mosaics of several
// images.

#include "trel_tools/image_utils.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "trel_tools/Opencv_io.h"
#include "trel_tools/exception_l.h"

namespace trel {

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
  return guarded(TREL_FRAME, [&] { return join_pair(a, b, centre, frame_4_3, true); });
}

const cv::Mat join_images_on_top(const cv::Mat& a, const cv::Mat& b, bool centre, bool frame_4_3) {
  return guarded(TREL_FRAME, [&] { return join_pair(a, b, centre, frame_4_3, false); });
}

const cv::Mat join_images(const cv::Mat& a, const cv::Mat& b, bool centre, bool frame_4_3) {
  return guarded(TREL_FRAME, [&] {
    const long long beside = frame_area(cv::Size(a.cols + b.cols, std::max(a.rows, b.rows)));
    const long long above = frame_area(cv::Size(std::max(a.cols, b.cols), a.rows + b.rows));
    return join_pair(a, b, centre, frame_4_3, beside < above);
  });
}

namespace {

// The column count, below the image count, whose grid of images in reading
// order comes closest to 4:3; a single row of all images is not considered.
int columns_closest_to_4_3(const std::vector<cv::Mat>& images) {
  const int n = static_cast<int>(images.size());
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
  return best_cols;
}

}  // namespace

const cv::Mat join_images_ordered(const std::vector<cv::Mat>& images, bool centre, bool frame_4_3) {
  return guarded(TREL_FRAME, [&] {
    const int n = static_cast<int>(images.size());
    for (const cv::Mat& image : images) check_mosaic_part(image, "join_images_ordered() : image");
    if (n == 0) return cv::Mat();
    if (n == 1) {
      cv::Mat single = images[0];
      if (frame_4_3 && !single.empty()) pad_to_frame(single);
      return single;
    }
    const int cols = columns_closest_to_4_3(images);
    Grid_layout layout(centre);
    for (int k = 0; k < n; ++k) {
      if (k % cols == 0) layout.begin_row();
      layout.add(images[k]);
    }
    return render(layout, frame_4_3);
  });
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
