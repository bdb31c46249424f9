#include "trel_pose/pose_batch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "trel_tools/exception_l.h"

namespace trel {

namespace {

bool all_finite(const std::vector<double>& v) {
  return std::all_of(v.begin(), v.end(), [](double d) { return std::isfinite(d); });
}

// What the workers share: the next frame to take, the frames done, the cancel
// flag, and the signal the monitoring thread waits on.
struct Batch_state {
  Batch_state(const matrix<double>& K_, const std::vector<Pose_frame>& frames_, const Pose_batch_options& options_,
              std::vector<Pose_frame_result>& results_)
      : K(K_), frames(frames_), refine(options_.refine), refiner(options_.refiner), results(results_) {}
  const matrix<double>& K;
  const std::vector<Pose_frame>& frames;
  const Pose_refine_options& refine;
  const Pose_frame_refiner& refiner;  // empty: refine_pose on the worker's workspace
  std::vector<Pose_frame_result>& results;
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> done{0};
  std::atomic<bool> cancel{false};
  std::mutex mutex;
  std::condition_variable finished;
  std::size_t workers_left = 0;  // guarded by mutex
};

void refine_frame(Batch_state& s, std::size_t f, Pose_refine_options& options, Pose_kernel<double>& workspace) {
  const Pose_frame& frame = s.frames[f];
  Pose_frame_result& out = s.results[f];
  try {
    // Assigning into the worker's own copy reuses its capacity: no allocation
    // once the largest weight vector has been seen.
    if (!frame.weights.empty()) options.weights.assign(frame.weights.begin(), frame.weights.end());
    else options.weights.assign(s.refine.weights.begin(), s.refine.weights.end());
    const matrix<double>& K = frame.K.get_dim1() == 0 ? s.K : frame.K;
    out.result = s.refiner ? s.refiner(K, frame, options)
                           : refine_pose(K, frame.points, frame.observations, frame.start, options, workspace);
    if (!all_finite(out.result.x)) {
      out.result.x.clear();
      out.error = "the refined pose is not finite";
      return;
    }
    out.ok = true;
  } catch (const std::exception& e) {
    out.result.x.clear();
    out.error = e.what();
  } catch (...) {
    out.result.x.clear();
    out.error = "unknown error";
  }
}

void run_worker(Batch_state& s) {
  Pose_refine_options options = s.refine;
  Pose_kernel<double> workspace;
  const std::size_t total = s.frames.size();
  for (;;) {
    if (s.cancel.load(std::memory_order_relaxed)) break;
    const std::size_t f = s.next.fetch_add(1, std::memory_order_relaxed);
    if (f >= total) break;
    refine_frame(s, f, options, workspace);
    s.done.fetch_add(1, std::memory_order_release);
  }
}

// Joins every thread it holds when it goes out of scope, also on an exception:
// no worker outlives refine_poses.
class Thread_group {
public:
  explicit Thread_group(Batch_state& s) : s_(s) {}
  ~Thread_group() {
    s_.cancel.store(true);
    join();
  }
  void start(std::size_t n) {
    threads_.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
      {
        std::lock_guard<std::mutex> lock(s_.mutex);
        ++s_.workers_left;
      }
      try {
        threads_.emplace_back([this] {
          run_worker(s_);
          std::lock_guard<std::mutex> lock(s_.mutex);
          if (--s_.workers_left == 0) s_.finished.notify_all();
        });
      } catch (...) {
        std::lock_guard<std::mutex> lock(s_.mutex);
        --s_.workers_left;
        throw;
      }
    }
  }
  void join() {
    for (std::thread& t : threads_)
      if (t.joinable()) t.join();
  }

private:
  Batch_state& s_;
  std::vector<std::thread> threads_;
};

std::size_t thread_count(int threads, std::size_t frames) {
  std::size_t n = threads > 0 ? static_cast<std::size_t>(threads) : std::thread::hardware_concurrency();
  if (n == 0) n = 1;
  return std::max<std::size_t>(1, std::min(n, frames));
}

}  // namespace

std::vector<Pose_frame_result> refine_poses(const matrix<double>& K, const std::vector<Pose_frame>& frames,
                                            const Pose_batch_options& options) {
  options.check();
  std::vector<Pose_frame_result> results(frames.size());
  if (frames.empty()) {
    if (options.progress) options.progress(0, 0);
    return results;
  }
  Batch_state s(K, frames, options, results);
  const std::size_t n = thread_count(options.threads, frames.size());
  const std::size_t total = frames.size();

  if (!options.progress) {
    // The calling thread is one of the n workers.
    Thread_group group(s);
    group.start(n - 1);
    run_worker(s);
    group.join();
  } else {
    // The calling thread watches: n workers refine, it reports at most every
    // progress_interval seconds and cancels when the callback says so.
    // A first report before any work, so that a caller can show 0 of F at
    // once (and cancel before anything runs).
    if (!options.progress(0, total)) s.cancel.store(true);
    Thread_group group(s);
    if (!s.cancel.load()) group.start(n);
    const auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(options.progress_interval));
    auto next_report = std::chrono::steady_clock::now() + interval;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(s.mutex);
        if (s.finished.wait_until(lock, next_report, [&] { return s.workers_left == 0; })) break;
      }
      next_report = std::chrono::steady_clock::now() + interval;
      bool go_on = false;
      try {
        go_on = options.progress(s.done.load(std::memory_order_acquire), total);
      } catch (...) {
        s.cancel.store(true);
        throw;  // the group joins the workers first
      }
      if (!go_on) s.cancel.store(true);
    }
    group.join();
  }

  // Frames never started (cancelled) say so; the others are as refined.
  const std::size_t done = s.done.load(std::memory_order_acquire);
  if (done < total)
    for (std::size_t f = std::min(s.next.load(), total); f < total; ++f) results[f].error = "cancelled";
  if (options.progress) options.progress(done, total);
  return results;
}

std::vector<Pose_frame_result> refine_poses(const Camera_model& camera, const std::vector<Pose_frame_view>& frames,
                                            const Pose_batch_options& options) {
  std::vector<Pose_frame> copies(frames.size());
  for (std::size_t f = 0; f < frames.size(); ++f) {
    const Pose_frame_view& v = frames[f];
    copies[f].points.resize(v.points.size());
    for (std::size_t i = 0; i < v.points.size(); ++i) copies[f].points[i].assign(v.points[i], v.points[i] + 3);
    copies[f].observations.assign(v.observations.begin(), v.observations.end());
    copies[f].start.assign(v.start.begin(), v.start.end());
    copies[f].weights.assign(v.weights.begin(), v.weights.end());
    if (v.camera) copies[f].K = camera_matrix_of(*v.camera);
  }
  return refine_poses(camera_matrix_of(camera), copies, options);
}

}  // namespace trel
