// The C++ side of the Python call-overhead comparison: trel::refine_pose on
// the scene of bench/python_overhead_scene.h, N = 10, 100, 1000, over the
// camera model and flat arrays (the form the module calls: no copy per point).
// bench/bench_python_overhead.py runs this program and times the same call
// through the Python module, then prints the ratio.
#include <benchmark/benchmark.h>

#include "bench/python_overhead_scene.h"

namespace {

void refine_pose_cpp(benchmark::State& state) {
  const trel_bench::Overhead_scene s = trel_bench::make_overhead_scene(static_cast<int>(state.range(0)));
  const trel::Camera_model camera = trel::make_camera_model(s.K);
  const std::vector<double> points = trel::flatten_rows(s.points, 3, "point");
  for (auto _ : state) {
    trel::Pose_refine_result r =
        trel::refine_pose(camera, trel::Points_view(points), trel::Values_view(s.pixels), s.start, s.options);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(refine_pose_cpp)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
