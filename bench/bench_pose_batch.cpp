// Frames per second of refining many independent poses: trel::refine_poses on
// one thread and on every core against F single trel::refine_pose calls, F
// cv::solvePnPRefineLM calls and cv::parallel_for_ over solvePnPRefineLM.
//
//   <row>/F/N   F frames of N points: F = 10000, N = 100 and F = 1000, N = 1000
//
// Rows: batch_1thread (refine_poses, threads 1), batch_2threads, batch_all
// (threads 0: the number of cores), single (a loop of refine_pose, no shared
// workspace), opencv_lm (a loop of solvePnPRefineLM), opencv_parallel_for
// (cv::parallel_for_ over the frames, solvePnPRefineLM each).
//
// Data: bench/robust_scene.h without outliers (0.5 px noise, start 3 degrees
// and 5 % of the depth off), one seed per frame. refine_pose runs its kernel
// with the default stop rule (max_iters 10); solvePnPRefineLM its default
// criteria (20 iterations or an update below FLT_EPSILON). Times are wall
// clock (UseRealTime); items_per_second is frames per second. The counter
// frames_per_cpu_s divides the frames by the process's CPU time over the same
// run (all threads), which a loaded machine does not inflate.
#include <benchmark/benchmark.h>

#include <ctime>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>

#include "bench/robust_scene.h"
#include "trel_pose/pose_batch.h"
#include "trel_pose/pose_refinement.h"

namespace {

struct Batch_data {
  trel::matrix<double> K;
  std::vector<trel::Pose_frame> frames;
  // The same frames for OpenCV: world points, pixels, and rvec/tvec of the
  // world-to-camera transform at the start.
  std::vector<std::vector<cv::Point3d>> cv_points;
  std::vector<std::vector<cv::Point2d>> cv_pixels;
  std::vector<cv::Vec3d> rvec, tvec;
  cv::Matx33d cv_K;
};

const Batch_data& data(int F, int N) {
  static std::map<std::pair<int, int>, std::unique_ptr<Batch_data>> cache;
  std::unique_ptr<Batch_data>& d = cache[{F, N}];
  if (d) return *d;
  cache.clear();  // one size in memory at a time
  std::unique_ptr<Batch_data>& fresh = cache[{F, N}];
  fresh = std::make_unique<Batch_data>();
  Batch_data& b = *fresh;
  for (int f = 0; f < F; ++f) {
    const trel_bench::Outlier_problem p = trel_bench::make_outlier_problem(1000u + static_cast<unsigned>(f), N, 0.0);
    if (f == 0) {
      b.K = p.K;
      b.cv_K = cv::Matx33d(p.K[0][0], p.K[0][1], p.K[0][2], p.K[1][0], p.K[1][1], p.K[1][2], 0, 0, 1);
    }
    trel::Pose_frame frame;
    frame.points = p.points;
    frame.observations = p.observations;
    frame.start = p.start;
    b.frames.push_back(std::move(frame));
    std::vector<cv::Point3d> pts;
    std::vector<cv::Point2d> px;
    for (int i = 0; i < N; ++i) {
      pts.emplace_back(p.points[i][0], p.points[i][1], p.points[i][2]);
      px.emplace_back(p.observations[2 * i], p.observations[2 * i + 1]);
    }
    b.cv_points.push_back(std::move(pts));
    b.cv_pixels.push_back(std::move(px));
    // x_cam = R^T (X - c): rvec of R^T, tvec = -R^T c.
    const cv::Matx33d Rt = trel_bench::rotation_of(p.start).t();
    cv::Vec3d r;
    cv::Rodrigues(Rt, r);
    b.rvec.push_back(r);
    b.tvec.push_back(-(Rt * cv::Vec3d(p.start[3], p.start[4], p.start[5])));
  }
  return b;
}

double process_cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

template <typename Run>
void time_frames(benchmark::State& state, Run run) {
  const int F = static_cast<int>(state.range(0)), N = static_cast<int>(state.range(1));
  const Batch_data& b = data(F, N);
  const double cpu0 = process_cpu_seconds();
  for (auto _ : state) run(b);
  const double cpu = process_cpu_seconds() - cpu0;
  const double frames = static_cast<double>(state.iterations()) * F;
  state.SetItemsProcessed(static_cast<int64_t>(frames));
  state.counters["frames_per_cpu_s"] = cpu > 0 ? frames / cpu : 0.0;
  state.counters["threads_used"] = cv::getNumThreads();
}

void batch(benchmark::State& state, int threads) {
  time_frames(state, [&](const Batch_data& b) {
    trel::Pose_batch_options o;
    o.threads = threads;
    o.refine.covariance = false;
    benchmark::DoNotOptimize(trel::refine_poses(b.K, b.frames, o));
  });
}
void batch_1thread(benchmark::State& state) { batch(state, 1); }
void batch_2threads(benchmark::State& state) { batch(state, 2); }
void batch_all(benchmark::State& state) { batch(state, 0); }

void single(benchmark::State& state) {
  time_frames(state, [](const Batch_data& b) {
    trel::Pose_refine_options o;
    o.covariance = false;
    for (const trel::Pose_frame& f : b.frames)
      benchmark::DoNotOptimize(trel::refine_pose(b.K, f.points, f.observations, f.start, o));
  });
}

void opencv_lm(benchmark::State& state) {
  time_frames(state, [](const Batch_data& b) {
    for (std::size_t f = 0; f < b.frames.size(); ++f) {
      cv::Mat r(b.rvec[f]), t(b.tvec[f]);
      cv::solvePnPRefineLM(b.cv_points[f], b.cv_pixels[f], b.cv_K, cv::noArray(), r, t);
      benchmark::DoNotOptimize(r.data);
    }
  });
}

void opencv_parallel_for(benchmark::State& state) {
  time_frames(state, [](const Batch_data& b) {
    cv::parallel_for_(cv::Range(0, static_cast<int>(b.frames.size())), [&](const cv::Range& range) {
      for (int f = range.start; f < range.end; ++f) {
        cv::Mat r(b.rvec[f]), t(b.tvec[f]);
        cv::solvePnPRefineLM(b.cv_points[f], b.cv_pixels[f], b.cv_K, cv::noArray(), r, t);
        benchmark::DoNotOptimize(r.data);
      }
    });
  });
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Args({10000, 100})->Args({1000, 1000})->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
}

BENCHMARK(batch_1thread)->Apply(sizes);
BENCHMARK(batch_2threads)->Apply(sizes);
BENCHMARK(batch_all)->Apply(sizes);
BENCHMARK(single)->Apply(sizes);
BENCHMARK(opencv_lm)->Apply(sizes);
BENCHMARK(opencv_parallel_for)->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();
