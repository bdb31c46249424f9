// refine_pose over a camera model with lens distortion and flat arrays: the
// good matches of examples/data/matches.txt as a camera with barrel
// distortion saw them, refined from a start 2 degrees and 5 cm off.
#include <cstdio>
#include <fstream>
#include <vector>

#include "trel_pose/pose_refinement.h"

int main() {
  trel::matrix<double> K(3, 3);
  K.set(0, 0, 800.0), K.set(0, 2, 320.0), K.set(1, 1, 800.0), K.set(1, 2, 240.0), K.set(2, 2, 1.0);
  // [camera]
  // K and OpenCV's coefficients k1 k2 p1 p2 k3 (4, 5 or 8 of them; fisheye=true takes 4).
  const trel::Camera_model camera = trel::make_camera_model(K, {-0.2, 0.05, 0.0, 0.0, 0.0});
  // [/camera]
  std::vector<double> point_values, observations;  // X0 Y0 Z0 X1 ...; u0 v0 u1 v1 ...
  std::ifstream in("examples/data/matches.txt");
  int line = 0;
  for (double X, Y, Z, u, v; in >> X >> Y >> Z >> u >> v; ++line) {
    if (line % 4 == 3) continue;  // every fourth match of the file is wrong
    double xd, yd;  // the pixel through the lens
    trel::distort(camera.lens, (u - 320.0) / 800.0, (v - 240.0) / 800.0, xd, yd);
    point_values.insert(point_values.end(), {X, Y, Z});
    observations.insert(observations.end(), {800.0 * xd + 320.0, 800.0 * yd + 240.0});
  }
  const std::vector<double> start = {0.21, -0.31, 0.11, 0.45, -0.25, -0.95};
  // [views]
  const trel::Points_view points(point_values);  // N rows of X Y Z, read in place
  const trel::Pose_refine_result r = trel::refine_pose(camera, points, observations, start);
  // [/views]
  std::printf("rotation vector %.4f %.4f %.4f, centre %.4f %.4f %.4f\n", r.x[0], r.x[1], r.x[2], r.x[3], r.x[4],
              r.x[5]);
  std::printf("%d steps, rms %.2f -> %.3f px, %zu covariance entries\n", r.summary.iterations, r.summary.initial_rms,
              r.summary.final_rms, r.summary.covariance.size());
}
