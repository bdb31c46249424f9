// Four frames refined in one call on every core: the same matches, four starts.
#include <cstdio>
#include <fstream>
#include <vector>

#include "trel_pose/pose_batch.h"

int main() {
  trel::matrix<double> K(3, 3);
  K.set(0, 0, 800.0), K.set(0, 2, 320.0), K.set(1, 1, 800.0), K.set(1, 2, 240.0), K.set(2, 2, 1.0);
  trel::Pose_frame frame;
  std::ifstream in("examples/data/matches.txt");
  int line = 0;
  for (double X, Y, Z, u, v; in >> X >> Y >> Z >> u >> v; ++line)
    if (line % 4 != 3) frame.points.push_back({X, Y, Z}), frame.observations.insert(frame.observations.end(), {u, v});
  // [batch]
  std::vector<trel::Pose_frame> frames(4, frame);  // points, observations, start; weights, K optional
  for (int f = 0; f < 4; ++f) frames[f].start = {0.2 + 0.02 * f, -0.3, 0.1, 0.4, -0.2 - 0.05 * f, -1.0};
  trel::Pose_batch_options options;  // refine: one Pose_refine_options for every frame
  options.threads = 0;               // 0: the number of cores
  options.progress = [](std::size_t done, std::size_t total) {
    std::fprintf(stderr, "\r%zu / %zu", done, total);
    return true;  // false cancels the frames not yet started
  };
  const std::vector<trel::Pose_frame_result> r = trel::refine_poses(K, frames, options);
  for (const trel::Pose_frame_result& f : r)  // f.ok, f.error, f.result.x, f.result.summary
    std::printf("%s centre %.4f %.4f %.4f after %d steps\n", f.ok ? "ok" : f.error.c_str(), f.result.x[3],
                f.result.x[4], f.result.x[5], f.result.summary.iterations);
  // [/batch]
  std::fprintf(stderr, "\n");
}
