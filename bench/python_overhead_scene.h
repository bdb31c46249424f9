#ifndef TREL_BENCH_PYTHON_OVERHEAD_SCENE_H
#define TREL_BENCH_PYTHON_OVERHEAD_SCENE_H

// The scene of the Python call-overhead comparison, given by closed formulas so
// that bench/bench_python_overhead.py builds exactly the same one in numpy:
//   point i = (sin(1.3 i), cos(0.7 i), 0.5 sin(0.37 i)), i = 0 .. N-1
//   pose: rotation vector (0.1, -0.2, 0.05), camera centre (0.3, -0.1, -5)
//   K = [800 0 320; 0 800 240; 0 0 1], pixels the exact projections
//   start: the pose plus (0.02, -0.01, 0.03, 0.1, -0.1, 0.2)
// Refinement: rotation code 0, 10 steps always (min_x_step 0, min_y_step -1e4),
// squared loss, covariance on (the defaults).

#include <cmath>
#include <vector>

#include "trel_tools/matrix.h"
#include "trel_pose/pose_refinement.h"
#include "trel_tools/rotation.h"

namespace trel_bench {

struct Overhead_scene {
  trel::matrix<double> K;
  std::vector<std::vector<double>> points;
  std::vector<double> pixels;
  std::vector<double> start;
  trel::Pose_refine_options options;
};

inline Overhead_scene make_overhead_scene(int n) {
  Overhead_scene s;
  s.K = trel::matrix<double>(3, 3);
  s.K[0][0] = 800.0;
  s.K[0][2] = 320.0;
  s.K[1][1] = 800.0;
  s.K[1][2] = 240.0;
  s.K[2][2] = 1.0;
  const std::vector<double> rot_vec{0.1, -0.2, 0.05}, centre{0.3, -0.1, -5.0};
  const trel::matrix<double> R = trel::rot_vec_rad_to_rot_mat(rot_vec);
  for (int i = 0; i < n; ++i) {
    const std::vector<double> X{std::sin(1.3 * i), std::cos(0.7 * i), 0.5 * std::sin(0.37 * i)};
    double cam[3];
    for (unsigned c = 0; c < 3; ++c)  // R^T (X - centre)
      cam[c] = R[0][c] * (X[0] - centre[0]) + R[1][c] * (X[1] - centre[1]) + R[2][c] * (X[2] - centre[2]);
    s.points.push_back(X);
    s.pixels.push_back(800.0 * cam[0] / cam[2] + 320.0);
    s.pixels.push_back(800.0 * cam[1] / cam[2] + 240.0);
  }
  s.start = {0.12, -0.21, 0.08, 0.4, -0.2, -4.8};
  s.options.max_iters = 10;
  s.options.min_x_step = 0.0f;
  s.options.min_y_step = -10000.0f;
  return s;
}

}  // namespace trel_bench

#endif
