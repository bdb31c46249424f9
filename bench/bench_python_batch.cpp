// The C++ side of the Python batch comparison: trel::refine_poses on F frames
// of the scene of bench/python_overhead_scene.h (N points), frame f starting
// from the scene's start plus 1e-4 * (f mod 7) in every value, on one thread
// per core, over views of one block of points, pixels and starts (the form
// the module hands its stacked arrays over in). bench/bench_python_batch.py builds the same frames in numpy, times
// the call through the Python module and prints the ratio.
#include <benchmark/benchmark.h>

#include "bench/python_overhead_scene.h"
#include <vector>

#include "trel_pose/pose_batch.h"

namespace {

void refine_poses_cpp(benchmark::State& state) {
  const int frames = static_cast<int>(state.range(0));
  const trel_bench::Overhead_scene s = trel_bench::make_overhead_scene(static_cast<int>(state.range(1)));
  const std::size_t n = s.points.size(), dims = s.start.size();
  std::vector<double> points, pixels, starts;
  for (int f = 0; f < frames; ++f) {
    for (const std::vector<double>& X : s.points) points.insert(points.end(), X.begin(), X.end());
    pixels.insert(pixels.end(), s.pixels.begin(), s.pixels.end());
    for (double v : s.start) starts.push_back(v + 1e-4 * (f % 7));
  }
  std::vector<trel::Pose_frame_view> batch(static_cast<std::size_t>(frames));
  for (std::size_t f = 0; f < batch.size(); ++f) {
    batch[f].points = trel::Points_view(points.data() + f * n * 3, n);
    batch[f].observations = trel::Values_view(pixels.data() + f * n * 2, n * 2);
    batch[f].start = trel::Values_view(starts.data() + f * dims, dims);
  }
  const trel::Camera_model camera = trel::make_camera_model(s.K);
  trel::Pose_batch_options options;
  options.refine = s.options;
  for (auto _ : state) {
    std::vector<trel::Pose_frame_result> r = trel::refine_poses(camera, batch, options);
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations() * frames);
}
BENCHMARK(refine_poses_cpp)->Args({10000, 100})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
