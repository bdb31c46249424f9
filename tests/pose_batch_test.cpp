// refine_poses: the same bits as one refine_pose call per frame whatever the
// thread count, a failing frame kept to itself, cancelling from the progress
// callback, and the refusal of bad batch options.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "camera_pose_refine/framework_refine.h"
#include "tests/synthetic_scene.h"
#include "trel_pose/pose_batch.h"
#include "trel_pose/pose_refinement.h"

namespace {

using namespace trel;

// F frames of code 0 (rotation vector): noisy pixels, a start a few degrees and
// centimetres off, every third frame with its own K and every fourth with weights.
std::vector<Pose_frame> make_frames(int count, int num_points) {
  std::vector<Pose_frame> frames;
  std::mt19937 rng(7);
  std::normal_distribution<double> off(0.0, 0.05);
  for (int f = 0; f < count; ++f) {
    trel_test::Scene_options o;
    o.pixel_noise = 0.5;
    o.k11 = f % 3 == 0 ? 600.0 : 800.0;
    const trel_test::Synthetic_scene s = trel_test::make_scene(100 + f, num_points + f % 5, o);
    Pose_frame frame;
    frame.points = s.points_world;
    for (const std::vector<double>& p : s.pixels) frame.observations.insert(frame.observations.end(), p.begin(), p.end());
    frame.start = s.rot_vec;
    frame.start.insert(frame.start.end(), s.centre.begin(), s.centre.end());
    for (double& v : frame.start) v += off(rng);
    if (f % 3 == 0) frame.K = trel_test::intrinsics(s.k11, s.k13, s.k23);
    if (f % 4 == 0)
      for (std::size_t i = 0; i < frame.observations.size(); ++i) frame.weights.push_back(1.0 + 0.1 * (i % 3));
    frames.push_back(frame);
  }
  return frames;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

template <typename T>
bool same_bits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

void expect_same(const Pose_refine_result& a, const Pose_refine_result& b, const std::string& where) {
  EXPECT_TRUE(same_bits(a.x, b.x)) << where;
  const Pose_summary &s = a.summary, &t = b.summary;
  EXPECT_EQ(s.iterations, t.iterations) << where;
  EXPECT_EQ(s.stop_reason, t.stop_reason) << where;
  EXPECT_EQ(s.returned_iteration, t.returned_iteration) << where;
  EXPECT_TRUE(same_bits(s.initial_error, t.initial_error) && same_bits(s.final_error, t.final_error)) << where;
  EXPECT_TRUE(same_bits(s.initial_rms, t.initial_rms) && same_bits(s.final_rms, t.final_rms)) << where;
  EXPECT_TRUE(same_bits(s.covariance, t.covariance) && same_bits(s.inliers, t.inliers)) << where;
  EXPECT_EQ(s.covariance_rank, t.covariance_rank) << where;
  EXPECT_TRUE(same_bits(s.condition_number, t.condition_number)) << where;
}

// Kernel and framework paths, squared and robust loss, on 1, 2, 3 and 8 threads
// (more threads than cores, and with progress reports on), against single calls.
TEST(RefinePoses, BitIdenticalToSingleCallsWhateverTheThreadCount) {
  const std::vector<Pose_frame> frames = make_frames(23, 12);
  const matrix<double> K = trel_test::intrinsics(800.0, 320.0, 240.0);
  struct Case {
    bool framework;
    Loss loss;
  };
  for (const Case c : {Case{false, Loss::squared}, Case{false, Loss::huber}, Case{true, Loss::squared}}) {
    Pose_batch_options options;
    if (c.framework) options.refiner = trel::framework_frame_refiner();
    options.refine.loss = c.loss;
    std::vector<Pose_refine_result> single;
    for (const Pose_frame& f : frames) {
      Pose_refine_options o = options.refine;
      if (!f.weights.empty()) o.weights = f.weights;
      const matrix<double>& K_frame = f.K.get_dim1() ? f.K : K;
      single.push_back(c.framework ? trel::refine_pose_by_framework(K_frame, f.points, f.observations, f.start, o)
                                   : refine_pose(K_frame, f.points, f.observations, f.start, o));
    }
    for (int threads : {1, 2, 3, 8}) {
      for (bool progress : {false, true}) {
        options.threads = threads;
        options.progress_interval = 0.0;
        options.progress = progress ? Pose_batch_progress([](std::size_t, std::size_t) { return true; })
                                    : Pose_batch_progress();
        const std::vector<Pose_frame_result> batch = refine_poses(K, frames, options);
        ASSERT_EQ(batch.size(), frames.size());
        for (std::size_t f = 0; f < frames.size(); ++f) {
          const std::string where = "framework " + std::to_string(c.framework) + " threads " +
                                    std::to_string(threads) + " progress " + std::to_string(progress) +
                                    " frame " + std::to_string(f);
          ASSERT_TRUE(batch[f].ok) << where << ": " << batch[f].error;
          EXPECT_TRUE(batch[f].error.empty()) << where;
          expect_same(batch[f].result, single[f], where);
        }
      }
    }
  }
}

// Frames as views over flat arrays, one camera model with distortion for the
// batch and every third frame with its own: the same bits as single calls of
// the camera-model refine_pose.
TEST(RefinePoses, ViewFramesOverCameraModelsGiveTheSingleCalls) {
  const std::vector<Pose_frame> frames = make_frames(17, 12);
  const Camera_model batch_camera =
      make_camera_model(trel_test::intrinsics(800.0, 320.0, 240.0), {-0.2, 0.05, 0.001, 0.0005, 0.01});
  const Camera_model own_camera = make_camera_model(trel_test::intrinsics(600.0, 320.0, 240.0), {0.1, 0.0, 0.0, 0.0});
  std::vector<std::vector<double>> flat(frames.size());
  std::vector<Pose_frame_view> views(frames.size());
  for (std::size_t f = 0; f < frames.size(); ++f) {
    flat[f] = flatten_rows(frames[f].points, 3, "point");
    views[f].points = Points_view(flat[f]);
    views[f].observations = frames[f].observations;
    views[f].start = frames[f].start;
    views[f].weights = frames[f].weights;
    if (f % 3 == 0) views[f].camera = &own_camera;
  }
  for (int threads : {1, 3}) {
    Pose_batch_options options;
    options.threads = threads;
    options.refine.loss = Loss::cauchy;
    const std::vector<Pose_frame_result> batch = refine_poses(batch_camera, views, options);
    ASSERT_EQ(batch.size(), frames.size());
    for (std::size_t f = 0; f < frames.size(); ++f) {
      Pose_refine_options o = options.refine;
      o.weights = frames[f].weights;
      const Pose_refine_result single = refine_pose(f % 3 == 0 ? own_camera : batch_camera, views[f].points,
                                                    frames[f].observations, frames[f].start, o);
      ASSERT_TRUE(batch[f].ok) << f << ": " << batch[f].error;
      expect_same(batch[f].result, single, "view frame " + std::to_string(f) + " threads " + std::to_string(threads));
    }
  }
}

// Bad frames (NaN in the points, the start or a per-frame K; a start of the
// wrong length) fail alone, with refine_pose's message; the others are refined.
TEST(RefinePoses, AFailingFrameIsReportedAndTheOthersGoOn) {
  std::vector<Pose_frame> frames = make_frames(12, 10);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  frames[1].points[3][2] = nan;
  frames[5].start[0] = nan;
  frames[6].K = trel_test::intrinsics(nan, 320.0, 240.0);
  frames[9].start.pop_back();
  const std::vector<std::size_t> bad{1, 5, 6, 9};
  const matrix<double> K = trel_test::intrinsics(800.0, 320.0, 240.0);
  Pose_batch_options options;
  options.threads = 3;
  const std::vector<Pose_frame_result> batch = refine_poses(K, frames, options);
  for (std::size_t f = 0; f < frames.size(); ++f) {
    const bool is_bad = std::find(bad.begin(), bad.end(), f) != bad.end();
    EXPECT_EQ(batch[f].ok, !is_bad) << "frame " << f << ": " << batch[f].error;
    if (is_bad) {
      EXPECT_TRUE(batch[f].result.x.empty()) << f;
      EXPECT_FALSE(batch[f].error.empty()) << f;
      EXPECT_THROW(refine_pose(frames[f].K.get_dim1() ? frames[f].K : K, frames[f].points, frames[f].observations,
                               frames[f].start, options.refine),
                   std::exception)
          << f;
    } else {
      EXPECT_EQ(batch[f].result.x.size(), 6u) << f;
    }
  }
}

// A false return stops the batch: frames not started say "cancelled", the ones
// refined before are kept, and the last report gives the frames done.
TEST(RefinePoses, ProgressCallbackCancels) {
  const std::vector<Pose_frame> frames = make_frames(200, 30);
  const matrix<double> K = trel_test::intrinsics(800.0, 320.0, 240.0);
  // Cancelled at the first report (before any frame) and at the second.
  for (const std::size_t stop_at : {1, 2})
  for (int threads : {1, 2}) {
    std::size_t calls = 0, last_done = 0;
    Pose_batch_options options;
    options.threads = threads;
    options.progress_interval = 0.0;
    options.progress = [&](std::size_t done, std::size_t total) {
      EXPECT_EQ(total, frames.size());
      EXPECT_GE(done, last_done);
      last_done = done;
      return ++calls < stop_at;
    };
    const std::vector<Pose_frame_result> batch = refine_poses(K, frames, options);
    std::size_t ok = 0, cancelled = 0;
    for (const Pose_frame_result& r : batch) {
      ok += r.ok;
      if (!r.ok) {
        EXPECT_EQ(r.error, "cancelled");
        ++cancelled;
      }
    }
    EXPECT_EQ(ok + cancelled, frames.size());
    if (stop_at == 1) {
      EXPECT_EQ(cancelled, frames.size()) << threads;
    }
    EXPECT_EQ(last_done, ok) << threads;
    // The frames refined are a prefix: frames are handed out in order.
    for (std::size_t f = 0; f < ok; ++f) EXPECT_TRUE(batch[f].ok) << f;
  }
}

TEST(RefinePoses, RefusesBadBatchOptionsAndTakesAnEmptyBatch) {
  const std::vector<Pose_frame> frames = make_frames(2, 8);
  const matrix<double> K = trel_test::intrinsics(800.0, 320.0, 240.0);
  Pose_batch_options options;
  options.threads = -1;
  EXPECT_THROW(refine_poses(K, frames, options), std::exception);
  options.threads = 0;
  options.progress_interval = -1.0;
  EXPECT_THROW(refine_poses(K, frames, options), std::exception);
  options.progress_interval = 0.5;
  EXPECT_TRUE(refine_poses(K, {}, options).empty());
}

}  // namespace
