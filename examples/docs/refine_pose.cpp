// A start from UPnP on the good matches of examples/data/matches.txt, then
// refine_pose with a robust loss and the pose's covariance.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <vector>

#include "trel_pose/pose_refinement.h"
#include "trel_tools/opengv_wrapper.h"
#include "trel_tools/rotation.h"

int main() {
  trel::matrix<double> K(3, 3), pixels(60, 2), points(60, 3);
  K.set(0, 0, 800.0), K.set(0, 2, 320.0), K.set(1, 1, 800.0), K.set(1, 2, 240.0), K.set(2, 2, 1.0);
  std::vector<std::vector<double>> point_rows;
  std::vector<double> observations;  // u0 v0 u1 v1 ...
  std::ifstream in("examples/data/matches.txt");
  int line = 0, kept = 0;
  for (double X, Y, Z, u, v; in >> X >> Y >> Z >> u >> v; ++line) {
    if (line % 4 == 3) continue;  // every fourth match of the file is wrong
    point_rows.push_back({X, Y, Z});
    observations.insert(observations.end(), {u, v});
    points.set(kept, 0, X), points.set(kept, 1, Y), points.set(kept, 2, Z);
    pixels.set(kept, 0, u), pixels.set(kept, 1, v);
    ++kept;
  }
  // [upnp]
  trel::matrix<double> R;  // camera axes to world axes
  std::vector<double> t;   // camera centre in world
  trel::upnp(pixels, points, K, R, t);  // the candidate with the smallest reprojection error
  // [/upnp]
  std::vector<double> start = trel::rot_mat_to_rot_vec_rad(R);
  start.insert(start.end(), t.begin(), t.end());
  // [refine]
  trel::Pose_refine_options options;  // rotation_code 0: r1 r2 r3 t1 t2 t3
  options.max_iters = 20;
  options.loss = trel::Loss::huber;  // squared (default), huber, cauchy, soft_l1, truncated
  options.loss_scale = 2.0;          // pixels (camera-frame units for the bearing codes)
  const trel::Pose_refine_result r = trel::refine_pose(K, point_rows, observations, start, options);
  // r.x: the refined search vector; r.summary: iterations, stop_reason, initial_rms and
  // final_rms (pixels), inliers (one flag per point), covariance (6 x 6, row-major),
  // covariance_rank and condition_number of the normal matrix.
  // [/refine]
  std::printf("rotation vector %.4f %.4f %.4f, centre %.4f %.4f %.4f\n", r.x[0], r.x[1], r.x[2], r.x[3], r.x[4],
              r.x[5]);
  std::printf("%d steps, rms %.3f -> %.3f px, covariance rank %d\n", r.summary.iterations, r.summary.initial_rms,
              r.summary.final_rms, r.summary.covariance_rank);
  if (r.summary.covariance.size() == 36)
    std::printf("1-sigma: rotation %.3f deg, centre %.4f %.4f %.4f\n",
                std::sqrt(r.summary.covariance[0]) * 180.0 / M_PI, std::sqrt(r.summary.covariance[21]),
                std::sqrt(r.summary.covariance[28]), std::sqrt(r.summary.covariance[35]));
}
