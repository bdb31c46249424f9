// The lens models against OpenCV's projections, on the same camera-frame points
// over a full 640 x 480 image grid: time per point of the pixels with their
// Jacobian with respect to the normalised point (ours) and of cv::projectPoints
// with its Jacobian output (which it always fills for every parameter) and
// cv::fisheye::projectPoints. Before timing, every model's pixels are checked
// against OpenCV's (to kSamePixels); the counter "max_px" reports the worst gap.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "trel_pose/lens_distortion.h"

namespace {

constexpr double kFocal = 700.0, kCx = 320.0, kCy = 240.0;
constexpr double kSamePixels = 1e-9;

struct Model {
  const char* name;
  std::vector<double> coefficients;
  bool fisheye;
};

const std::vector<Model> kModels = {
    {"rational8", {0.5, -0.2, 0.0005, -0.001, 0.01, 0.8, -0.1, 0.02}, false},
    {"k5", {-0.3, 0.1, 0.001, 0.002, -0.02}, false},
    {"fisheye", {0.05, -0.01, 0.002, -0.0003}, true},
};

const std::vector<cv::Point3d>& grid() {
  static const std::vector<cv::Point3d> points = [] {
    std::vector<cv::Point3d> p;
    for (int v = 0; v < 480; v += 4)
      for (int u = 0; u < 640; u += 4) p.emplace_back((u - kCx) / kFocal * 2.0, (v - kCy) / kFocal * 2.0, 2.0);
    return p;
  }();
  return points;
}

std::vector<cv::Point2d> ours(const trel::Lens_distortion<double>& lens, std::vector<double>& jacobians) {
  const std::vector<cv::Point3d>& points = grid();
  std::vector<cv::Point2d> pixels(points.size());
  jacobians.resize(4 * points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    double xd, yd;
    trel::distort(lens, points[i].x / points[i].z, points[i].y / points[i].z, xd, yd, &jacobians[4 * i]);
    pixels[i] = {kFocal * xd + kCx, kFocal * yd + kCy};
  }
  return pixels;
}

std::vector<cv::Point2d> theirs(const Model& m, cv::Mat& jacobian) {
  const cv::Matx33d K(kFocal, 0, kCx, 0, kFocal, kCy, 0, 0, 1);
  std::vector<cv::Point2d> pixels;
  if (m.fisheye)
    cv::fisheye::projectPoints(grid(), pixels, cv::Vec3d(0, 0, 0), cv::Vec3d(0, 0, 0), K, m.coefficients, 0.0, jacobian);
  else
    cv::projectPoints(grid(), cv::Vec3d(0, 0, 0), cv::Vec3d(0, 0, 0), K, m.coefficients, pixels, jacobian);
  return pixels;
}

double worst_gap(const Model& m) {
  std::vector<double> j;
  cv::Mat jac;
  const std::vector<cv::Point2d> a = ours(trel::make_lens_distortion(m.coefficients, m.fisheye), j), b = theirs(m, jac);
  double worst = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) worst = std::max(worst, cv::norm(a[i] - b[i]));
  if (!(worst <= kSamePixels)) {
    std::fprintf(stderr, "%s: pixels differ from OpenCV's by %g px\n", m.name, worst);
    std::exit(1);
  }
  return worst;
}

void BM_trel_distort(benchmark::State& state) {
  const Model& m = kModels[state.range(0)];
  const trel::Lens_distortion<double> lens = trel::make_lens_distortion(m.coefficients, m.fisheye);
  std::vector<double> jacobians;
  for (auto _ : state) benchmark::DoNotOptimize(ours(lens, jacobians));
  state.SetLabel(m.name);
  state.counters["max_px"] = worst_gap(m);
  state.counters["per_point"] = benchmark::Counter(static_cast<double>(grid().size()),
                                                   benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_opencv_project(benchmark::State& state) {
  const Model& m = kModels[state.range(0)];
  cv::Mat jacobian;
  for (auto _ : state) benchmark::DoNotOptimize(theirs(m, jacobian));
  state.SetLabel(m.name);
  state.counters["per_point"] = benchmark::Counter(static_cast<double>(grid().size()),
                                                   benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_trel_distort)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_opencv_project)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
