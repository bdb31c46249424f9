#ifndef TREL_BENCH_ROBUST_SCENE_H
#define TREL_BENCH_ROBUST_SCENE_H

// Seeded pose problems with gross outliers, shared by the robust refinement's
// timing and accuracy programs.
//
// Scene: tests/synthetic_scene.h (pinhole, k11 = 800, principal point (320, 240),
// a 640 x 480 image, points 4 to 12 in front of the camera), pixel noise sigma
// 0.5 px on every observation. Then a seeded choice of round(fraction N) points
// has its observation replaced by a pixel drawn uniformly over the image: the
// gross outliers. Start pose: the true rotation turned by 3 degrees about a
// seeded random axis and the camera centre moved by 5 % of the mean point depth
// in a seeded random direction. Search vector of rotation code 0: the rotation
// vector of R (camera to world), then the camera centre t in world.

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "tests/synthetic_scene.h"
#include "trel_pose/pose_refinement.h"
#include "trel_tools/matrix.h"

namespace trel_bench {

constexpr double kPi = 3.14159265358979323846;
constexpr double kPixelNoise = 0.5;            // px, standard deviation on every observation
constexpr double kStartRotationDeg = 3.0;     // start rotation off the truth
constexpr double kStartCentreFraction = 0.05; // start centre offset / mean point depth
constexpr double kImageWidth = 640.0;
constexpr double kImageHeight = 480.0;

struct Outlier_problem {
  trel_test::Synthetic_scene scene;
  trel::matrix<double> K;
  std::vector<std::vector<double>> points;  // world (X, Y, Z)
  std::vector<double> observations;         // u0, v0, u1, v1, ... with the outliers in place
  std::vector<unsigned char> outlier;       // 1 for a replaced observation
  std::vector<double> truth;                // rotation vector, centre
  std::vector<double> start;
};

inline cv::Matx33d rotation_of(const std::vector<double>& x) {
  cv::Matx33d R;
  cv::Rodrigues(cv::Vec3d(x[0], x[1], x[2]), R);
  return R;
}

// The pose error in the covariance's parameterisation of the estimate x:
// delta with R_true = exp([delta]x) R_hat, i.e. delta = log(R_true R_hat^T),
// then t_true - t_hat.
inline std::vector<double> pose_error(const std::vector<double>& truth, const std::vector<double>& x) {
  cv::Vec3d delta;
  cv::Rodrigues(rotation_of(truth) * rotation_of(x).t(), delta);
  return {delta[0], delta[1], delta[2], truth[3] - x[3], truth[4] - x[4], truth[5] - x[5]};
}

inline double rotation_error_deg(const std::vector<double>& truth, const std::vector<double>& x) {
  const std::vector<double> e = pose_error(truth, x);
  return std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]) * 180.0 / kPi;
}

inline double position_error(const std::vector<double>& truth, const std::vector<double>& x) {
  const std::vector<double> e = pose_error(truth, x);
  return std::sqrt(e[3] * e[3] + e[4] * e[4] + e[5] * e[5]);
}

inline Outlier_problem make_outlier_problem(unsigned seed, int num_points, double outlier_fraction) {
  trel_test::Scene_options scene_options;
  scene_options.pixel_noise = kPixelNoise;
  Outlier_problem p;
  p.scene = trel_test::make_scene(seed, num_points, scene_options);
  p.K = trel_test::intrinsics(p.scene.k11, p.scene.k13, p.scene.k23);
  p.points = p.scene.points_world;
  for (const auto& px : p.scene.pixels) p.observations.insert(p.observations.end(), px.begin(), px.end());
  p.truth = {p.scene.rot_vec[0], p.scene.rot_vec[1], p.scene.rot_vec[2],
             p.scene.centre[0],  p.scene.centre[1],  p.scene.centre[2]};

  std::mt19937 rng(seed * 7919u + 17u);
  std::vector<int> order(static_cast<std::size_t>(num_points));
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), rng);
  const int outliers = static_cast<int>(std::lround(outlier_fraction * num_points));
  p.outlier.assign(static_cast<std::size_t>(num_points), 0);
  std::uniform_real_distribution<double> u(0.0, kImageWidth), v(0.0, kImageHeight);
  for (int k = 0; k < outliers; ++k) {
    const std::size_t i = static_cast<std::size_t>(order[static_cast<std::size_t>(k)]);
    p.outlier[i] = 1;
    p.observations[2 * i] = u(rng);
    p.observations[2 * i + 1] = v(rng);
  }

  const std::vector<double> axis = trel_test::random_unit_vector(rng);
  const std::vector<double> dir = trel_test::random_unit_vector(rng);
  double mean_depth = 0.0;
  for (const auto& c : p.scene.points_in_cam) mean_depth += c[2];
  mean_depth /= static_cast<double>(p.scene.points_in_cam.size());
  const double angle = kStartRotationDeg * kPi / 180.0;
  cv::Matx33d turn;
  cv::Rodrigues(cv::Vec3d(axis[0] * angle, axis[1] * angle, axis[2] * angle), turn);
  cv::Vec3d r;
  cv::Rodrigues(turn * p.scene.rot_mat, r);
  p.start = {r[0], r[1], r[2], p.truth[3] + kStartCentreFraction * mean_depth * dir[0],
             p.truth[4] + kStartCentreFraction * mean_depth * dir[1],
             p.truth[5] + kStartCentreFraction * mean_depth * dir[2]};
  return p;
}

// The points and observations of the true inliers alone.
inline void true_inliers(const Outlier_problem& p, std::vector<std::vector<double>>& points,
                         std::vector<double>& observations) {
  points.clear();
  observations.clear();
  for (std::size_t i = 0; i < p.points.size(); ++i) {
    if (p.outlier[i]) continue;
    points.push_back(p.points[i]);
    observations.push_back(p.observations[2 * i]);
    observations.push_back(p.observations[2 * i + 1]);
  }
}

// Mean NEES e^T Cov^-1 e of refine_pose's covariance over `draws` scenes of
// make_outlier_problem(seed + d, num_points, outlier_fraction), e the
// pose_error of the result; 6 for an honest covariance. Draws without a
// covariance are counted in without_covariance and left out of the mean.
inline double mean_nees(trel::Loss loss, double loss_scale, double outlier_fraction, int num_points, int draws,
                        unsigned seed, int& without_covariance) {
  trel::Pose_refine_options options;
  options.max_iters = 50;
  options.loss = loss;
  options.loss_scale = loss_scale;
  double sum = 0.0;
  int used = 0;
  without_covariance = 0;
  for (int d = 0; d < draws; ++d) {
    const Outlier_problem p = make_outlier_problem(seed + static_cast<unsigned>(d), num_points, outlier_fraction);
    const trel::Pose_refine_result r = trel::refine_pose(p.K, p.points, p.observations, p.start, options);
    if (r.summary.covariance.size() != 36) {
      ++without_covariance;
      continue;
    }
    cv::Matx66d cov;
    for (int k = 0; k < 36; ++k) cov.val[k] = r.summary.covariance[static_cast<std::size_t>(k)];
    const std::vector<double> ev = pose_error(p.truth, r.x);
    const cv::Vec6d e(ev[0], ev[1], ev[2], ev[3], ev[4], ev[5]);
    cv::Vec6d y;
    cv::solve(cov, e, y, cv::DECOMP_CHOLESKY);
    sum += e.dot(y);
    ++used;
  }
  return used > 0 ? sum / used : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace trel_bench

#endif
