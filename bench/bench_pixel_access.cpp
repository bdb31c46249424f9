// Reading every channel of every pixel of a 1920x1080 8-bit 3-channel image:
// the checked typed accessor and the double reader against OpenCV's
// cv::Mat::at and a raw row pointer, all summing the same values.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

#include "trel_tools/IplImage_overloads.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kChannels = 3;

const cv::Mat& test_image() {
  static const cv::Mat image = [] {
    cv::Mat m(kHeight, kWidth, CV_8UC3);
    cv::RNG rng(42);
    rng.fill(m, cv::RNG::UNIFORM, 0, 256);
    return m;
  }();
  return image;
}

void set_counters(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight * kChannels);
}

void BM_GetPixTypedUchar(benchmark::State& state) {
  const cv::Mat& m = test_image();
  for (auto _ : state) {
    std::uint64_t sum = 0;
    for (int y = 0; y < m.rows; ++y)
      for (int x = 0; x < m.cols; ++x)
        for (int c = 0; c < kChannels; ++c) sum += trel::get_pix<unsigned char>(m, x, y, c);
    benchmark::DoNotOptimize(sum);
  }
  set_counters(state);
}

void BM_GetPixDouble(benchmark::State& state) {
  const cv::Mat& m = test_image();
  for (auto _ : state) {
    double sum = 0.0;
    for (int y = 0; y < m.rows; ++y)
      for (int x = 0; x < m.cols; ++x)
        for (int c = 0; c < kChannels; ++c) sum += trel::get_pix(m, x, y, c);
    benchmark::DoNotOptimize(sum);
  }
  set_counters(state);
}

void BM_GetPixTypedUcharIplImage(benchmark::State& state) {
  IplImage img = cvIplImage(test_image());
  for (auto _ : state) {
    std::uint64_t sum = 0;
    for (int y = 0; y < img.height; ++y)
      for (int x = 0; x < img.width; ++x)
        for (int c = 0; c < kChannels; ++c) sum += trel::get_pix<unsigned char>(img, x, y, c);
    benchmark::DoNotOptimize(sum);
  }
  set_counters(state);
}

void BM_MatAt(benchmark::State& state) {
  const cv::Mat& m = test_image();
  for (auto _ : state) {
    std::uint64_t sum = 0;
    for (int y = 0; y < m.rows; ++y)
      for (int x = 0; x < m.cols; ++x)
        for (int c = 0; c < kChannels; ++c) sum += m.at<cv::Vec3b>(y, x)[c];
    benchmark::DoNotOptimize(sum);
  }
  set_counters(state);
}

// The peer of the double reader: the same double accumulation, so the
// comparison measures the reader and not the floating-point add chain.
void BM_MatAtDouble(benchmark::State& state) {
  const cv::Mat& m = test_image();
  for (auto _ : state) {
    double sum = 0.0;
    for (int y = 0; y < m.rows; ++y)
      for (int x = 0; x < m.cols; ++x)
        for (int c = 0; c < kChannels; ++c) sum += static_cast<double>(m.at<cv::Vec3b>(y, x)[c]);
    benchmark::DoNotOptimize(sum);
  }
  set_counters(state);
}

void BM_RawRowPointer(benchmark::State& state) {
  const cv::Mat& m = test_image();
  for (auto _ : state) {
    std::uint64_t sum = 0;
    for (int y = 0; y < m.rows; ++y) {
      const unsigned char* row = m.ptr<unsigned char>(y);
      for (int i = 0; i < m.cols * kChannels; ++i) sum += row[i];
    }
    benchmark::DoNotOptimize(sum);
  }
  set_counters(state);
}

}  // namespace

BENCHMARK(BM_GetPixTypedUchar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPixDouble)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPixTypedUcharIplImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MatAt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MatAtDouble)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawRowPointer)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
