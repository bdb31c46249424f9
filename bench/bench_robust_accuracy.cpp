// Accuracy of trel::refine_pose with and without a robust loss, and the honesty
// of its pose covariance. Not a timing: the program prints markdown tables.
//
// 1. Outliers. For 0 %, 20 % and 40 % gross outliers, 100 seeded scenes each of
//    N = 100 points (bench/robust_scene.h: 0.5 px noise on the inliers, outliers
//    uniform over the 640 x 480 image, start 3 degrees and 5 % of the depth off),
//    refined by plain least squares, by each robust loss at loss_scale 2 px, and
//    by least squares on the true inliers alone (the reference a robust loss
//    should reach). Per cell: the median over the scenes of the rotation error
//    (degrees, angle of R_true R^T) and of the position error (|t - t_true|, scene
//    units), the ratio of each median to the inlier-only fit's, and how many
//    scenes ended within 0.5 degrees of the truth.
//
// 2. Covariance. One scene of N = 100 points without outliers, 1000 draws of
//    0.5 px noise on its exact pixels, each refined with the covariance on and
//    sigma estimated from the fit. e = (delta, t_true - t) with
//    R_true = exp([delta]x) R (the covariance's own parameterisation);
//    NEES = e^T Cov^-1 e should average 6 (chi-square, 6 degrees of freedom).
//    The empirical covariance of the poses, mean of e e^T about the truth, is
//    compared with the mean predicted covariance: |C_emp - C_pred|_F / |C_pred|_F,
//    also for the rotation and the position blocks alone.
//
// 3. NEES with outliers: mean NEES over 1000 scenes, each its own draw of
//    noise and outliers, for the squared loss and the robust losses.
//
// Exits with status 1 when a refinement throws. Arguments are ignored (run.sh
// bench passes the benchmark options to every bench_* program).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <random>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "bench/robust_scene.h"
#include "trel_opt/robust_loss.h"
#include "trel_pose/pose_refinement.h"

namespace {

using trel_bench::Outlier_problem;

constexpr int kScenes = 100;
constexpr int kPoints = 100;
constexpr double kLossScale = 2.0;        // px
constexpr double kConvergedDeg = 0.5;     // rotation error counted as a success
constexpr int kDraws = 1000;
constexpr unsigned kCovarianceSeed = 4242;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

trel::Pose_refine_options fit_options(trel::Loss loss, double scale = kLossScale) {
  trel::Pose_refine_options o;
  o.rotation_code = 0;
  o.max_iters = 100;
  o.min_x_step = 1e-10f;
  o.loss = loss;
  o.loss_scale = scale;
  o.covariance = false;
  return o;
}

struct Method {
  std::string name;
  trel::Loss loss;
  bool inliers_only;
};

struct Cell {
  double rotation = 0.0, position = 0.0;
  int converged = 0;
};

Cell run_cell(const Method& m, double fraction, double scale = kLossScale) {
  std::vector<double> rotation, position;
  int converged = 0;
  for (int s = 0; s < kScenes; ++s) {
    const Outlier_problem p = trel_bench::make_outlier_problem(1000u + static_cast<unsigned>(s), kPoints, fraction);
    std::vector<double> x;
    if (m.inliers_only) {
      std::vector<std::vector<double>> points;
      std::vector<double> observations;
      trel_bench::true_inliers(p, points, observations);
      x = trel::refine_pose(p.K, points, observations, p.start, fit_options(trel::Loss::squared)).x;
    } else {
      x = trel::refine_pose(p.K, p.points, p.observations, p.start, fit_options(m.loss, scale)).x;
    }
    rotation.push_back(trel_bench::rotation_error_deg(p.truth, x));
    position.push_back(trel_bench::position_error(p.truth, x));
    if (rotation.back() < kConvergedDeg) ++converged;
  }
  return {median(rotation), median(position), converged};
}

void accuracy_table() {
  const std::vector<Method> methods = {{"least squares", trel::Loss::squared, false},
                                       {"huber", trel::Loss::huber, false},
                                       {"cauchy", trel::Loss::cauchy, false},
                                       {"soft_l1", trel::Loss::soft_l1, false},
                                       {"truncated", trel::Loss::truncated, false},
                                       {"inliers only (least squares)", trel::Loss::squared, true}};
  std::printf("### Accuracy with gross outliers\n\n");
  std::printf("%d scenes per row, N = %d, 0.5 px noise on inliers, outliers uniform over the image, "
              "loss_scale %.1f px, max_iters 100, min_x_step 1e-10. Medians over the scenes; ratio = median / "
              "median of the inlier-only fit; within 0.5 deg = scenes whose rotation error is below 0.5 degrees.\n\n",
              kScenes, kPoints, kLossScale);
  std::printf("| outliers | method | rotation error (deg) | ratio | position error | ratio | within 0.5 deg |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  for (double fraction : {0.0, 0.2, 0.4}) {
    std::vector<Cell> cells;
    for (const Method& m : methods) cells.push_back(run_cell(m, fraction));
    const Cell& ref = cells.back();
    for (std::size_t k = 0; k < methods.size(); ++k)
      std::printf("| %2.0f %% | %s | %.4f | %.2f | %.5f | %.2f | %d / %d |\n", fraction * 100.0,
                  methods[k].name.c_str(), cells[k].rotation, cells[k].rotation / ref.rotation, cells[k].position,
                  cells[k].position / ref.position, cells[k].converged, kScenes);
    std::fflush(stdout);
  }
  std::printf("\n");
}

// The same study over the loss scale: median errors as ratios to the inlier-only fit.
void scale_table() {
  const std::vector<double> scales = {0.5, 1.0, 2.0, 4.0, 8.0};
  std::printf("### Robust losses over the loss scale\n\n");
  std::printf("As above; each cell: median rotation error / inlier-only, median position error / inlier-only.\n\n");
  std::printf("| outliers | loss |");
  for (double c : scales) std::printf(" %.1f px |", c);
  std::printf("\n|---|---|");
  for (std::size_t k = 0; k < scales.size(); ++k) std::printf("---|");
  std::printf("\n");
  const Method reference{"inliers only", trel::Loss::squared, true};
  for (double fraction : {0.2, 0.4}) {
    const Cell ref = run_cell(reference, fraction);
    for (trel::Loss loss : {trel::Loss::huber, trel::Loss::cauchy, trel::Loss::soft_l1, trel::Loss::truncated}) {
      std::printf("| %2.0f %% | %s |", fraction * 100.0, trel::loss_name(loss));
      for (double c : scales) {
        const Cell cell = run_cell({trel::loss_name(loss), loss, false}, fraction, c);
        std::printf(" %.2f, %.2f |", cell.rotation / ref.rotation, cell.position / ref.position);
      }
      std::printf("\n");
      std::fflush(stdout);
    }
  }
  std::printf("\n");
}

double frobenius(const cv::Matx66d& m, int from, int to) {
  double s = 0.0;
  for (int a = from; a < to; ++a)
    for (int b = from; b < to; ++b) s += m(a, b) * m(a, b);
  return std::sqrt(s);
}

void covariance_row(trel::Loss loss, int& failures) {
  const Outlier_problem p = trel_bench::make_outlier_problem(kCovarianceSeed, kPoints, 0.0);
  std::vector<double> exact;
  for (const auto& c : p.scene.points_in_cam) {
    exact.push_back(p.scene.k11 * c[0] / c[2] + p.scene.k13);
    exact.push_back(p.scene.k11 * c[1] / c[2] + p.scene.k23);
  }
  trel::Pose_refine_options options = fit_options(loss);
  options.max_iters = 30;
  options.covariance = true;
  std::mt19937 rng(kCovarianceSeed);
  std::normal_distribution<double> noise(0.0, trel_bench::kPixelNoise);
  double nees_sum = 0.0;
  int used = 0, no_covariance = 0;
  cv::Matx66d empirical = cv::Matx66d::zeros(), predicted = cv::Matx66d::zeros();
  for (int d = 0; d < kDraws; ++d) {
    std::vector<double> observations = exact;
    for (double& o : observations) o += noise(rng);
    trel::Pose_refine_result r;
    try {
      r = trel::refine_pose(p.K, p.points, observations, p.start, options);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "bench_robust_accuracy: %s\n", e.what());
      ++failures;
      continue;
    }
    if (r.summary.covariance.size() != 36) {
      ++no_covariance;
      continue;
    }
    cv::Matx66d cov;
    for (int k = 0; k < 36; ++k) cov.val[k] = r.summary.covariance[static_cast<std::size_t>(k)];
    const std::vector<double> ev = trel_bench::pose_error(p.truth, r.x);
    cv::Vec6d e;
    for (int k = 0; k < 6; ++k) e[k] = ev[static_cast<std::size_t>(k)];
    cv::Vec6d y;
    cv::solve(cov, e, y, cv::DECOMP_CHOLESKY);
    nees_sum += e.dot(y);
    empirical += e * e.t();
    predicted += cov;
    ++used;
  }
  if (used == 0) {
    std::printf("| %s | no covariance in any draw | | | | |\n", trel::loss_name(loss));
    return;
  }
  empirical *= 1.0 / used;
  predicted *= 1.0 / used;
  const cv::Matx66d diff = empirical - predicted;
  std::printf("| %s | %d | %.3f | %.3f | %.3f | %.3f |\n", trel::loss_name(loss), used, nees_sum / used,
              frobenius(diff, 0, 6) / frobenius(predicted, 0, 6), frobenius(diff, 0, 3) / frobenius(predicted, 0, 3),
              frobenius(diff, 3, 6) / frobenius(predicted, 3, 6));
  if (no_covariance > 0) std::printf("\n(%s: %d draws gave no covariance)\n\n", trel::loss_name(loss), no_covariance);
  std::fflush(stdout);
}

void covariance_table(int& failures) {
  std::printf("### Honesty of the pose covariance\n\n");
  std::printf("One scene (seed %u, N = %d, no outliers), %d draws of 0.5 px noise, sigma estimated from the fit, "
              "loss_scale %.1f px for the robust losses. NEES = e^T Cov^-1 e with e = (log(R_true R^T), t_true - t); "
              "expected mean 6. Relative Frobenius difference |C_emp - C_pred|_F / |C_pred|_F of the empirical "
              "second moment of e against the mean predicted covariance, whole and per block.\n\n",
              kCovarianceSeed, kPoints, kDraws, kLossScale);
  std::printf("| loss | draws | mean NEES | rel. Frobenius (6 x 6) | rotation block | position block |\n");
  std::printf("|---|---|---|---|---|---|\n");
  for (trel::Loss loss :
       {trel::Loss::squared, trel::Loss::huber, trel::Loss::cauchy, trel::Loss::soft_l1, trel::Loss::truncated})
    covariance_row(loss, failures);
  std::printf("\n");
}

// Mean NEES over 1000 draws, each a new scene (make_outlier_problem with its
// own seed) with its own noise and outliers: squared loss without outliers,
// Cauchy at 0 % and 20 % outliers (the robust covariance, trel_pose/pose_refinement.h).
void nees_table() {
  struct Row {
    trel::Loss loss;
    double outliers;
  };
  std::printf("### Mean NEES over %d scenes\n\n", kDraws);
  std::printf("N = %d, 0.5 px noise, loss_scale %.1f px, sigma estimated; each draw a new scene (seed 7000 + d). "
              "Expected 6 (chi-square, 6 degrees of freedom); the mean's standard error is about 0.11.\n\n",
              kPoints, kLossScale);
  std::printf("| loss | outliers | mean NEES | draws without covariance |\n|---|---|---|---|\n");
  for (const Row& row : {Row{trel::Loss::squared, 0.0}, Row{trel::Loss::cauchy, 0.0}, Row{trel::Loss::cauchy, 0.2},
                         Row{trel::Loss::huber, 0.2}, Row{trel::Loss::soft_l1, 0.2}}) {
    int without = 0;
    const double nees = trel_bench::mean_nees(row.loss, kLossScale, row.outliers, kPoints, kDraws, 7000u, without);
    std::printf("| %s | %2.0f %% | %.3f | %d |\n", trel::loss_name(row.loss), row.outliers * 100.0, nees, without);
    std::fflush(stdout);
  }
  std::printf("\n");
}

}  // namespace

int main() {
  int failures = 0;
  try {
    accuracy_table();
    scale_table();
    covariance_table(failures);
    nees_table();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_robust_accuracy: %s\n", e.what());
    return 1;
  }
  return failures == 0 ? 0 : 1;
}
