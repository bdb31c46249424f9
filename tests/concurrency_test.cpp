// The calls documented as safe to run from several threads at once, run so:
// refine_poses on its pool (and two batches side by side), estimate_pose and
// refine_pose from two threads, get_param on one const configuration from two
// threads. Each thread's results must equal the same call made alone; under
// ThreadSanitizer (TREL_TSAN) a data race fails the run.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "camera_pose_refine/framework_refine.h"
#include "tests/synthetic_scene.h"
#include "trel_tools/configuration.h"
#include "trel_pose/pose_batch.h"
#include "trel_pose/pose_estimation.h"
#include "trel_pose/pose_refinement.h"

namespace {

using namespace trel;

std::vector<Pose_frame> frames(unsigned seed, int count) {
  std::vector<Pose_frame> out;
  trel_test::Scene_options o;
  o.pixel_noise = 0.5;
  for (int f = 0; f < count; ++f) {
    const trel_test::Synthetic_scene s = trel_test::make_scene(seed + f, 20, o);
    Pose_frame frame;
    frame.points = s.points_world;
    for (const std::vector<double>& p : s.pixels) frame.observations.insert(frame.observations.end(), p.begin(), p.end());
    frame.start = s.rot_vec;
    frame.start.insert(frame.start.end(), s.centre.begin(), s.centre.end());
    for (double& v : frame.start) v += 0.03;
    out.push_back(frame);
  }
  return out;
}

// Runs body(i) on `count` threads at once and joins them.
template <typename Body>
void on_threads(int count, Body body) {
  std::vector<std::thread> threads;
  for (int i = 0; i < count; ++i) threads.emplace_back(body, i);
  for (std::thread& t : threads) t.join();
}

TEST(Concurrency, CallsDocumentedAsThreadSafe) {
  const matrix<double> K = trel_test::intrinsics(800.0, 320.0, 240.0);
  const std::vector<Pose_frame> batch = frames(1, 24);
  Pose_batch_options alone;
  alone.threads = 1;
  const std::vector<Pose_frame_result> expected = refine_poses(K, batch, alone);

  // Two batches of 3 workers each, one with progress reports, side by side.
  std::vector<std::vector<Pose_frame_result>> got(2);
  on_threads(2, [&](int i) {
    Pose_batch_options options;
    options.threads = 3;
    if (i == 1) {
      options.progress_interval = 0.0;
      options.progress = [](std::size_t, std::size_t) { return true; };
    }
    got[static_cast<std::size_t>(i)] = refine_poses(K, batch, options);
  });
  for (const std::vector<Pose_frame_result>& g : got)
    for (std::size_t f = 0; f < batch.size(); ++f) EXPECT_EQ(g[f].result.x, expected[f].result.x) << f;

  // estimate_pose and refine_pose on shared const inputs.
  trel_test::Scene_options o;
  o.pixel_noise = 0.5;
  const trel_test::Synthetic_scene s = trel_test::make_scene(5, 40, o);
  const Pose_estimate_result estimated = estimate_pose(K, s.points_world, s.pixels);
  const Pose_refine_result refined = refine_pose(K, batch[0].points, batch[0].observations, batch[0].start);
  on_threads(2, [&](int) {
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(estimate_pose(K, s.points_world, s.pixels).x, estimated.x);
      EXPECT_EQ(refine_pose(K, batch[0].points, batch[0].observations, batch[0].start).x, refined.x);
      trel::refine_pose_by_framework(K, batch[1].points, batch[1].observations, batch[1].start,
                                     Pose_refine_options());
    }
  });

  // Reads of one const configuration.
  const configuration config;
  on_threads(2, [&](int) {
    for (int k = 0; k < 100; ++k) {
      int classes = 0;
      double ratio = 0.0;
      std::string mode = "unread";
      configuration::camera_list* cameras = nullptr;
      EXPECT_TRUE(config.get_param("classes", classes) && config.get_param("ratio", ratio) &&
                  config.get_param("mode", mode) && config.get_param("bumblebee_params", cameras));
      EXPECT_EQ(classes, -1);
      EXPECT_EQ(ratio, -1.0);
      EXPECT_NE(mode, "unread");
    }
  });
}

}  // namespace
