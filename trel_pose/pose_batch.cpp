#include "trel_pose/pose_batch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "trel_tools/exception_l.h"

namespace trel {

namespace {

bool all_finite(const std::vector<double>& v) {
  return std::all_of(v.begin(), v.end(), [](double d) { return std::isfinite(d); });
}

// Refines frame f with the worker's options (its weights to be set here) and
// workspace.
using Frame_refiner = std::function<Pose_refine_result(std::size_t f, Pose_refine_options& options,
                                                       Pose_kernel<double>& workspace)>;

// What the workers share: the next frame to take, the frames done, the cancel
// flag, and the signal the monitoring thread waits on.
struct Batch_state {
  Batch_state(std::size_t total_, const Pose_batch_options& options_, Frame_refiner refine_one_,
              std::vector<Pose_frame_result>& results_)
      : total(total_), refine(options_.refine), refine_one(std::move(refine_one_)), results(results_) {}
  const std::size_t total;
  const Pose_refine_options& refine;
  const Frame_refiner refine_one;
  std::vector<Pose_frame_result>& results;
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> done{0};
  std::atomic<bool> cancel{false};
  std::mutex mutex;
  std::condition_variable finished;
  std::size_t workers_left = 0;  // guarded by mutex
};

// The frame's own weights, or the batch's. Assigning into the worker's own
// copy reuses its capacity: no allocation once the largest weight vector has
// been seen.
void set_weights(const double* begin, const double* end, const Pose_refine_options& batch,
                 Pose_refine_options& options) {
  if (begin != end) options.weights.assign(begin, end);
  else options.weights.assign(batch.weights.begin(), batch.weights.end());
}

void refine_frame(Batch_state& s, std::size_t f, Pose_refine_options& options, Pose_kernel<double>& workspace) {
  Pose_frame_result& out = s.results[f];
  try {
    out.result = s.refine_one(f, options, workspace);
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
  const std::size_t total = s.total;
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

// The pool over s.total frames (see refine_poses).
void run_batch(Batch_state& s, const Pose_batch_options& options) {
  const std::size_t n = thread_count(options.threads, s.total);
  const std::size_t total = s.total;

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
    for (std::size_t f = std::min(s.next.load(), total); f < total; ++f) s.results[f].error = "cancelled";
  if (options.progress) options.progress(done, total);
}

// Checks the options, then runs the pool over `total` frames.
std::vector<Pose_frame_result> batch(std::size_t total, const Pose_batch_options& options, Frame_refiner refine_one) {
  options.check();
  std::vector<Pose_frame_result> results(total);
  if (total == 0) {
    if (options.progress) options.progress(0, 0);
    return results;
  }
  Batch_state s(total, options, std::move(refine_one), results);
  run_batch(s, options);
  return results;
}

// A view frame as a Pose_frame, for a refiner.
Pose_frame frame_copy(const Pose_frame_view& v) {
  Pose_frame frame;
  frame.points.resize(v.points.size());
  for (std::size_t i = 0; i < v.points.size(); ++i) frame.points[i].assign(v.points[i], v.points[i] + 3);
  frame.observations.assign(v.observations.begin(), v.observations.end());
  frame.start.assign(v.start.begin(), v.start.end());
  frame.weights.assign(v.weights.begin(), v.weights.end());
  return frame;
}

}  // namespace

std::vector<Pose_frame_result> refine_poses(const matrix<double>& K, const std::vector<Pose_frame>& frames,
                                            const Pose_batch_options& options) {
  return batch(frames.size(), options, [&](std::size_t f, Pose_refine_options& o, Pose_kernel<double>& workspace) {
    const Pose_frame& frame = frames[f];
    set_weights(frame.weights.data(), frame.weights.data() + frame.weights.size(), options.refine, o);
    const matrix<double>& frame_K = frame.K.get_dim1() == 0 ? K : frame.K;
    return options.refiner ? options.refiner(frame_K, frame, o)
                           : refine_pose(frame_K, frame.points, frame.observations, frame.start, o, workspace);
  });
}

std::vector<Pose_frame_result> refine_poses(const Camera_model& camera, const std::vector<Pose_frame_view>& frames,
                                            const Pose_batch_options& options) {
  return batch(frames.size(), options, [&](std::size_t f, Pose_refine_options& o, Pose_kernel<double>& workspace) {
    const Pose_frame_view& frame = frames[f];
    set_weights(frame.weights.begin(), frame.weights.end(), options.refine, o);
    const Camera_model& frame_camera = frame.camera ? *frame.camera : camera;
    if (options.refiner) {
      TREL_CHECK(!has_distortion(frame_camera),
                 "the batch's refiner takes a pinhole camera, and this frame's camera has distortion");
      return options.refiner(camera_matrix_of(frame_camera), frame_copy(frame), o);
    }
    const std::vector<double> start(frame.start.begin(), frame.start.end());
    return refine_pose(frame_camera, frame.points, frame.observations, start, o, workspace);
  });
}

}  // namespace trel
