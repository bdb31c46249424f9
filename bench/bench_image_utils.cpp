// Image operations against their OpenCV counterparts on a 640x480 image, in
// one run. Each pair works on the same seeded image and produces the same
// result (checked once before timing).
//
// create_integral_image returns a matrix<double> indexed [x][y] (one row per
// image column) with inclusive sums, cv::integral a (rows + 1) x (cols + 1)
// matrix with a zero border; the counterpart is timed both alone and with the
// conversion into the same layout.

#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "trel_tools/image_utils.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

struct Ipl_release {
  void operator()(IplImage* image) const { cvReleaseImage(&image); }
};
using Ipl_owner = std::unique_ptr<IplImage, Ipl_release>;

// Smooth random content: a gradient with noise, so that thresholds and
// medians fall inside the value range.
cv::Mat test_image(int type) {
  cv::Mat m(kHeight, kWidth, type);
  cv::RNG rng(20261209);
  rng.fill(m, cv::RNG::UNIFORM, 0, 256);
  cv::GaussianBlur(m, m, cv::Size(0, 0), 3.0);
  return m;
}

Ipl_owner to_ipl(const cv::Mat& m) {
  Ipl_owner image(cvCreateImage(cvSize(m.cols, m.rows), IPL_DEPTH_8U, m.channels()));
  cv::Mat header = cv::cvarrToMat(image.get());
  m.copyTo(header);
  return image;
}

[[noreturn]] void mismatch(const char* what) {
  std::fprintf(stderr, "bench_image_utils: %s differs from its counterpart\n", what);
  std::exit(1);
}

// ---- integral image -----------------------------------------------------------

void integral_to_matrix(const cv::Mat& sums, trel::matrix<double>& m) {
  for (int y = 0; y < kHeight; ++y) {
    const double* row = sums.ptr<double>(y + 1) + 1;
    for (int x = 0; x < kWidth; ++x) m[x][y] = row[x];
  }
}

void BM_create_integral_image(benchmark::State& state) {
  Ipl_owner image = to_ipl(test_image(CV_8UC1));
  for (auto _ : state) {
    std::unique_ptr<trel::matrix<double>> m(trel::create_integral_image(image.get()));
    benchmark::DoNotOptimize(m.get());
  }
}
BENCHMARK(BM_create_integral_image)->Unit(benchmark::kMicrosecond);

void BM_cv_integral(benchmark::State& state) {
  const cv::Mat image = test_image(CV_8UC1);
  for (auto _ : state) {
    cv::Mat sums;
    cv::integral(image, sums, CV_64F);
    benchmark::DoNotOptimize(sums.data);
  }
}
BENCHMARK(BM_cv_integral)->Unit(benchmark::kMicrosecond);

void BM_cv_integral_into_matrix(benchmark::State& state) {
  const cv::Mat image = test_image(CV_8UC1);
  for (auto _ : state) {
    cv::Mat sums;
    cv::integral(image, sums, CV_64F);
    trel::matrix<double> m(kWidth, kHeight);
    integral_to_matrix(sums, m);
    benchmark::DoNotOptimize(m[0]);
  }
}
BENCHMARK(BM_cv_integral_into_matrix)->Unit(benchmark::kMicrosecond);

// The floor of the layout: allocating the matrix alone.
void BM_matrix_allocation(benchmark::State& state) {
  for (auto _ : state) {
    trel::matrix<double> m(kWidth, kHeight);
    benchmark::DoNotOptimize(m[0]);
  }
}
BENCHMARK(BM_matrix_allocation)->Unit(benchmark::kMicrosecond);

// ---- binarising -------------------------------------------------------------------

constexpr int kThreshold = 128;

void BM_binary_image_convert(benchmark::State& state) {
  const cv::Mat source = test_image(CV_8UC(static_cast<int>(state.range(0))));
  Ipl_owner image = to_ipl(source);
  for (auto _ : state) {
    IplImage* p = image.get();
    trel::binary_image_convert(p, kThreshold);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_binary_image_convert)->Arg(1)->Arg(3)->Unit(benchmark::kMicrosecond);

void BM_cv_threshold(benchmark::State& state) {
  cv::Mat image = test_image(CV_8UC(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    // 255 from the threshold up: above threshold - 1 for integer pixels.
    cv::threshold(image, image, kThreshold - 1, 255, cv::THRESH_BINARY);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_cv_threshold)->Arg(1)->Arg(3)->Unit(benchmark::kMicrosecond);

// ---- median ---------------------------------------------------------------------------

int histogram_median(const cv::Mat& image) {
  const int channels[] = {0};
  const int bins[] = {256};
  const float range[] = {0.0f, 256.0f};
  const float* ranges[] = {range};
  cv::Mat histogram;
  cv::calcHist(&image, 1, channels, cv::Mat(), histogram, 1, bins, ranges);
  double index = static_cast<double>(image.total() / 2);
  for (int v = 0; v < 256; ++v) {
    const double n = histogram.at<float>(v);
    if (index < n) return v;
    index -= n;
  }
  return 255;
}

void BM_image_median(benchmark::State& state) {
  Ipl_owner image = to_ipl(test_image(CV_8UC1));
  for (auto _ : state) benchmark::DoNotOptimize(trel::image_median(image.get(), false));
}
BENCHMARK(BM_image_median)->Unit(benchmark::kMicrosecond);

void BM_cv_calcHist_median(benchmark::State& state) {
  const cv::Mat image = test_image(CV_8UC1);
  for (auto _ : state) benchmark::DoNotOptimize(histogram_median(image));
}
BENCHMARK(BM_cv_calcHist_median)->Unit(benchmark::kMicrosecond);

// ---- Gaussian scale stack ------------------------------------------------------------------

constexpr unsigned kLevels = 3;
constexpr double kSigma = 4.0;  // standard deviations 1, 2, 4

void BM_create_image_pyramid(benchmark::State& state) {
  Ipl_owner image = to_ipl(test_image(CV_8UC3));
  std::vector<IplImage*> images = {image.get()};
  for (auto _ : state) {
    std::vector<std::vector<IplImage*>*> levels;
    trel::create_image_pyramid(&images, &levels, kLevels, kSigma);
    benchmark::DoNotOptimize(levels.data());
    for (std::vector<IplImage*>* level : levels) {
      for (IplImage* img : *level) cvReleaseImage(&img);
      delete level;
    }
  }
}
BENCHMARK(BM_create_image_pyramid)->Unit(benchmark::kMicrosecond);

std::vector<cv::Mat> blur_levels(const cv::Mat& image) {
  std::vector<cv::Mat> levels{image.clone()};
  for (double deviation : {1.0, 2.0, 4.0}) {
    cv::Mat level;
    cv::GaussianBlur(image, level, cv::Size(0, 0), deviation, deviation, cv::BORDER_REPLICATE);
    levels.push_back(level);
  }
  return levels;
}

void BM_cv_GaussianBlur_per_level(benchmark::State& state) {
  const cv::Mat image = test_image(CV_8UC3);
  for (auto _ : state) {
    std::vector<cv::Mat> levels = blur_levels(image);
    benchmark::DoNotOptimize(levels.data());
  }
}
BENCHMARK(BM_cv_GaussianBlur_per_level)->Unit(benchmark::kMicrosecond);

// ---- mosaic of nine images ----------------------------------------------------------------------

// Nine tiles of a 640x480 image, 213 x 160 each: a 3 x 3 grid is the 4:3 choice.
std::vector<cv::Mat> tiles() {
  const cv::Mat image = test_image(CV_8UC3);
  std::vector<cv::Mat> t;
  for (int i = 0; i < 9; ++i) t.push_back(image(cv::Rect(213 * (i % 3), 160 * (i / 3), 213, 160)).clone());
  return t;
}

cv::Mat concat_grid(const std::vector<cv::Mat>& t) {
  std::vector<cv::Mat> rows(3);
  for (int r = 0; r < 3; ++r) cv::hconcat(&t[3 * r], 3, rows[r]);
  cv::Mat grid;
  cv::vconcat(rows, grid);
  return grid;
}

void BM_join_images_ordered(benchmark::State& state) {
  const std::vector<cv::Mat> t = tiles();
  for (auto _ : state) {
    const cv::Mat grid = trel::join_images_ordered(t, false, false);
    benchmark::DoNotOptimize(grid.data);
  }
}
BENCHMARK(BM_join_images_ordered)->Unit(benchmark::kMicrosecond);

void BM_cv_hconcat_vconcat(benchmark::State& state) {
  const std::vector<cv::Mat> t = tiles();
  for (auto _ : state) {
    const cv::Mat grid = concat_grid(t);
    benchmark::DoNotOptimize(grid.data);
  }
}
BENCHMARK(BM_cv_hconcat_vconcat)->Unit(benchmark::kMicrosecond);

// Every pair computes the same result; a benchmark of a wrong result is void.
void check_counterparts() {
  const cv::Mat grey = test_image(CV_8UC1);
  Ipl_owner image = to_ipl(grey);
  {
    std::unique_ptr<trel::matrix<double>> ours(trel::create_integral_image(image.get()));
    cv::Mat sums;
    cv::integral(grey, sums, CV_64F);
    trel::matrix<double> theirs(kWidth, kHeight);
    integral_to_matrix(sums, theirs);
    for (int x = 0; x < kWidth; ++x)
      for (int y = 0; y < kHeight; ++y)
        if ((*ours)[x][y] != theirs[x][y]) mismatch("create_integral_image");
  }
  if (trel::image_median(image.get(), false) != histogram_median(grey)) mismatch("image_median");
  {
    IplImage* p = image.get();
    trel::binary_image_convert(p, kThreshold);
    cv::Mat expected;
    cv::threshold(grey, expected, kThreshold - 1, 255, cv::THRESH_BINARY);
    if (cv::norm(cv::cvarrToMat(image.get()), expected, cv::NORM_INF) != 0.0) mismatch("binary_image_convert");
  }
  {
    const cv::Mat colour = test_image(CV_8UC3);
    Ipl_owner input = to_ipl(colour);
    std::vector<IplImage*> images = {input.get()};
    std::vector<std::vector<IplImage*>*> levels;
    trel::create_image_pyramid(&images, &levels, kLevels, kSigma);
    const std::vector<cv::Mat> expected = blur_levels(colour);
    for (std::size_t k = 0; k < levels.size(); ++k) {
      if (cv::norm(cv::cvarrToMat((*levels[k])[0]), expected[k], cv::NORM_INF) != 0.0)
        mismatch("create_image_pyramid");
      cvReleaseImage(&(*levels[k])[0]);
      delete levels[k];
    }
  }
  const std::vector<cv::Mat> t = tiles();
  if (cv::norm(trel::join_images_ordered(t, false, false), concat_grid(t), cv::NORM_INF) != 0.0)
    mismatch("join_images_ordered");
}

}  // namespace

int main(int argc, char** argv) {
  // The operations run on one thread; so do their counterparts.
  cv::setNumThreads(1);
  check_counterparts();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
