// Estimates a camera pose from 2-D/3-D correspondences of which 30 % are wrong,
// with one call, trel::estimate_pose (trel_tools).
//
// Scene: 200 points 4 to 12 m in front of a camera with focal length 800 px and
// principal point (320, 240); the pixels carry 0.5 px of noise, and 60 of them
// are replaced by random pixels anywhere in the 640 x 480 image. Prints the true
// and the estimated pose, the inliers found against the true ones and the time.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "trel_tools/matrix.h"
#include "trel_pose/pose_estimation.h"
#include "trel_tools/rotation.h"

int main() {
  trel::matrix<double> K(3, 3);
  K.set(0, 0, 800.0);
  K.set(1, 1, 800.0);
  K.set(0, 2, 320.0);
  K.set(1, 2, 240.0);
  K.set(2, 2, 1.0);

  // The true pose: rotation vector, then the camera centre. R maps camera axes
  // to world axes; a world point X sits at R^T (X - centre) in the camera.
  const std::vector<double> truth = {0.4, -1.1, 0.3, 1.5, -0.7, 2.0};
  const trel::matrix<double> R = trel::rot_vec_rad_to_rot_mat(std::vector<double>(truth.begin(), truth.begin() + 3));
  std::mt19937 random(2024);
  std::uniform_real_distribution<double> unit(-1.0, 1.0), depth(4.0, 12.0), u(0.0, 640.0), v(0.0, 480.0);
  std::normal_distribution<double> noise(0.0, 0.5);
  const int n = 200, outliers = 60;
  std::vector<std::vector<double>> points, pixels;
  std::vector<unsigned char> truly_inlier;
  for (int i = 0; i < n; ++i) {
    const double z = depth(random);
    const double c[3] = {0.35 * unit(random) * z, 0.27 * unit(random) * z, z};
    std::vector<double> X(3);
    for (int r = 0; r < 3; ++r) X[r] = R[r][0] * c[0] + R[r][1] * c[1] + R[r][2] * c[2] + truth[3 + r];
    points.push_back(X);
    const bool wrong = i % 10 < 3;  // every 10 points, 3 wrong matches
    truly_inlier.push_back(!wrong);
    pixels.push_back(wrong ? std::vector<double>{u(random), v(random)}
                           : std::vector<double>{800.0 * c[0] / c[2] + 320.0 + noise(random),
                                                 800.0 * c[1] / c[2] + 240.0 + noise(random)});
  }

  trel::Pose_estimate_options options;  // 4 px, confidence 0.99, Cauchy refinement
  options.seed = 1;
  const auto start = std::chrono::steady_clock::now();
  const trel::Pose_estimate_result result = trel::estimate_pose(K, points, pixels, options);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

  int found = 0, false_positives = 0, false_negatives = 0;
  for (int i = 0; i < n; ++i) {
    found += truly_inlier[i] && result.inliers[i];
    false_positives += !truly_inlier[i] && result.inliers[i];
    false_negatives += truly_inlier[i] && !result.inliers[i];
  }
  std::printf("%d correspondences, %d of them wrong\n", n, outliers);
  std::printf("truth     rotation vector %8.5f %8.5f %8.5f   centre %8.5f %8.5f %8.5f\n", truth[0], truth[1], truth[2],
              truth[3], truth[4], truth[5]);
  std::printf("estimate  rotation vector %8.5f %8.5f %8.5f   centre %8.5f %8.5f %8.5f\n", result.x[0], result.x[1],
              result.x[2], result.x[3], result.x[4], result.x[5]);
  std::printf("inliers   %d found, %d true: %d true inliers kept, %d false positives, %d false negatives\n",
              result.num_inliers, n - outliers, found, false_positives, false_negatives);
  std::printf("search    %d samples; refinement (%s loss) rms %.3f -> %.3f px on the inliers\n", result.iterations,
              result.summary.loss.c_str(), result.summary.initial_rms, result.summary.final_rms);
  if (result.summary.covariance.size() == 36)
    std::printf("1-sigma   rotation %.4f %.4f %.4f deg, centre %.4f %.4f %.4f m\n",
                std::sqrt(result.summary.covariance[0]) * 180.0 / M_PI,
                std::sqrt(result.summary.covariance[7]) * 180.0 / M_PI,
                std::sqrt(result.summary.covariance[14]) * 180.0 / M_PI, std::sqrt(result.summary.covariance[21]),
                std::sqrt(result.summary.covariance[28]), std::sqrt(result.summary.covariance[35]));
  std::printf("time      %.2f ms (wall clock, one call)\n", ms);
  double position = 0.0;
  for (int i = 3; i < 6; ++i) position += (result.x[i] - truth[i]) * (result.x[i] - truth[i]);
  return std::sqrt(position) < 0.05 && false_negatives <= 3 ? 0 : 1;
}
