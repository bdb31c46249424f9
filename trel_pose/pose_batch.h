#ifndef TREL_POSE_POSE_BATCH_H
#define TREL_POSE_POSE_BATCH_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "trel_tools/matrix.h"
#include "trel_pose/pose_refinement.h"

namespace trel {

// One frame of a batch: its own points, observations, start and, optionally,
// weights and intrinsics. Layouts as refine_pose takes them.
struct Pose_frame {
  std::vector<std::vector<double>> points;  // N world points (X, Y, Z)
  std::vector<double> observations;         // the target, as refine_pose takes it
  std::vector<double> start;                // the search vector of the rotation code
  std::vector<double> weights;              // empty: the batch options' weights (or none)
  matrix<double> K;                         // 0 x 0: the batch's K
};

// One frame as views over the caller's arrays (trel_pose/pose_arrays.h): no
// copy per point. camera: nullptr for the batch's camera model. weights: empty
// for the batch options' weights.
struct Pose_frame_view {
  Points_view points;
  Values_view observations;
  Values_view start;
  Values_view weights;
  const Camera_model* camera = nullptr;
};

// Frames done of the total; called on the thread that called refine_poses:
// once with 0 before any frame starts, then at most every progress_interval
// seconds, and once at the end. Returning false cancels the
// batch: frames not yet started are not refined (ok false, error "cancelled")
// and refine_poses returns once the running ones are done.
using Pose_batch_progress = std::function<bool(std::size_t done, std::size_t total)>;

// The most worker threads a batch takes (a system refuses to start many more).
constexpr int kMaxBatchThreads = 4096;

// Refines one frame: K is the frame's own or the batch's, options the batch's
// with the frame's weights. Called on the worker threads, several at once.
using Pose_frame_refiner =
    std::function<Pose_refine_result(const matrix<double>& K, const Pose_frame& frame, const Pose_refine_options& options)>;

struct Pose_batch_options {
  Pose_refine_options refine;   // one set of options for every frame
  // Empty: refine_pose, each worker with its own kernel workspace. Otherwise
  // this refines every frame; it must keep no state shared between calls.
  Pose_frame_refiner refiner;
  int threads = 0;              // 0: the number of cores; at most kMaxBatchThreads
  Pose_batch_progress progress; // empty: no progress reports
  double progress_interval = 0.5;  // seconds, finite, 0 or more

  // The first rule these options break, naming the option, or empty: those of
  // refine, threads from 0 to kMaxBatchThreads, progress_interval finite, 0 or
  // more.
  std::string broken_rule() const;
  // Throws exception_l with the text of broken_rule() when a rule is broken.
  void check() const;
};

// The outcome of one frame. ok false: the frame failed (bad input, a non-finite
// step); error holds the message and result.x is empty. The other frames go on.
struct Pose_frame_result {
  bool ok = false;
  std::string error;
  Pose_refine_result result;
};

// Refines every frame with refine_pose (or options.refiner) on a pool of
// worker threads. The results are those of one refine_pose (refiner) call per
// frame, bit for bit, whatever the thread count. K applies to every frame whose own K is empty.
//
// The pool lives for the call: threads (0: std::thread::hardware_concurrency)
// workers, at most one per frame, take the frames in order from a shared
// counter, each with its own refine_pose workspace, and write each result to
// its own slot. Without a progress callback the calling thread is one of the
// workers; with one, it waits and reports. Every worker is joined before
// refine_poses returns or throws. Several threads may call refine_poses at
// once. Throws exception_l when the options break a rule (options.check()),
// before any frame starts; no frames give no results (the progress callback
// still hears 0 of 0). An exception from the progress callback is rethrown
// after the workers are joined.
std::vector<Pose_frame_result> refine_poses(const matrix<double>& K, const std::vector<Pose_frame>& frames,
                                            const Pose_batch_options& options = Pose_batch_options());

// The same over views and a camera model: each frame is refined by
// refine_pose(camera, points, observations, start, options) with the frame's
// camera or the batch's. With options.refiner set, each frame is copied into a
// Pose_frame and handed to it with the K of its camera's pinhole; a camera with
// distortion is then refused for that frame (the refiner takes a pinhole).
std::vector<Pose_frame_result> refine_poses(const Camera_model& camera, const std::vector<Pose_frame_view>& frames,
                                            const Pose_batch_options& options = Pose_batch_options());

}  // namespace trel

#endif
