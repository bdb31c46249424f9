// The pose of a camera from 2-D/3-D matches of which a quarter are wrong:
// examples/data/matches.txt holds one match per line, X Y Z u v.
#include <cstdio>
#include <fstream>
#include <vector>

#include "trel_pose/pose_estimation.h"

int main() {
  // [estimate]
  trel::matrix<double> K(3, 3);  // fx 0 cx; 0 fy cy; 0 0 1
  K.set(0, 0, 800.0), K.set(0, 2, 320.0), K.set(1, 1, 800.0), K.set(1, 2, 240.0), K.set(2, 2, 1.0);
  std::vector<std::vector<double>> points, pixels;
  std::ifstream in("examples/data/matches.txt");
  for (double X, Y, Z, u, v; in >> X >> Y >> Z >> u >> v;) points.push_back({X, Y, Z}), pixels.push_back({u, v});

  const trel::Pose_estimate_result r = trel::estimate_pose(K, points, pixels);
  std::printf("rotation vector %.3f %.3f %.3f, centre %.3f %.3f %.3f\n", r.x[0], r.x[1], r.x[2], r.x[3], r.x[4],
              r.x[5]);
  std::printf("%d of %zu matches are inliers, rms %.2f px\n", r.num_inliers, points.size(), r.summary.final_rms);
  // [/estimate]
}
