// The C++ side of the Python batch comparison: trel::refine_poses on F frames
// of the scene of bench/python_overhead_scene.h (N points), frame f starting
// from the scene's start plus 1e-4 * (f mod 7) in every value, on one thread
// per core. bench/bench_python_batch.py builds the same frames in numpy, times
// the call through the Python module and prints the ratio.
#include <benchmark/benchmark.h>

#include "bench/python_overhead_scene.h"
#include "trel_pose/pose_batch.h"

namespace {

void refine_poses_cpp(benchmark::State& state) {
  const int frames = static_cast<int>(state.range(0));
  const trel_bench::Overhead_scene s = trel_bench::make_overhead_scene(static_cast<int>(state.range(1)));
  std::vector<trel::Pose_frame> batch(static_cast<std::size_t>(frames));
  for (int f = 0; f < frames; ++f) {
    trel::Pose_frame& frame = batch[static_cast<std::size_t>(f)];
    frame.points = s.points;
    frame.observations = s.pixels;
    frame.start = s.start;
    for (double& v : frame.start) v += 1e-4 * (f % 7);
  }
  trel::Pose_batch_options options;
  options.refine = s.options;
  for (auto _ : state) {
    std::vector<trel::Pose_frame_result> r = trel::refine_poses(s.K, batch, options);
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations() * frames);
}
BENCHMARK(refine_poses_cpp)->Args({10000, 100})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
