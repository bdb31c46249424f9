// Absolute pose from correspondences with outliers, one run, the same scenes
// for every method:
//   - trel::estimate_pose (defaults: 4 px, confidence 0.99, Cauchy refinement);
//   - cv::solvePnPRansac, default method (SOLVEPNP_ITERATIVE), then
//     cv::solvePnPRefineLM on its inliers;
//   - cv::solvePnPRansac with SOLVEPNP_AP3P, then cv::solvePnPRefineLM;
//   - cv::solvePnPRansac, UsacParams overload set up as USAC_MAGSAC (MAGSAC++
//     score, sigma-consensus local optimisation);
//   - trel::upnp alone (no outlier handling).
// Every RANSAC runs with a 4 px threshold and confidence 0.99; OpenCV's
// iteration count is its default (100 for the classic overload).
//
// Scenes: N = 50, 200, 1000 points, 0 %, 25 %, 50 % outliers (observations
// replaced by uniform pixels in the 640 x 480 image), 0.5 px noise, kScenes
// seeded scenes per cell (--scenes_1000=<n> lowers the count for N = 1000).
// First a markdown table is printed, one row per cell and method: success
// rate (rotation error < 0.5 degree and centre error < 1 % of the mean depth),
// median rotation error (degrees), median centre error (scene units) and the
// median processor time of one call. Then Google Benchmark times each method over
// the 20 first scenes of each N = 200 cell.
//
// Pose conventions. Ours: c = R^T (X - t), R camera to world, t the camera
// centre. OpenCV: x_cam = R_wc X + tvec, so R = R_wc^T and t = -R_wc^T tvec.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "tests/synthetic_scene.h"
#include "trel_tools/matrix.h"
#include "trel_tools/opengv_wrapper.h"
#include "trel_pose/pose_estimation.h"

namespace {

const int kSizes[] = {50, 200, 1000};
const double kOutlierShares[] = {0.0, 0.25, 0.5};
const int kBenchScenes = 20;
const double kThreshold = 4.0;
const double kConfidence = 0.99;
int scenes_per_cell = 100;
int scenes_1000 = 100;

struct Pose {
  cv::Matx33d R;  // camera to world
  cv::Vec3d t;    // camera centre, world
  bool ok = false;
};

struct Problem {
  Pose truth;
  double mean_depth = 0.0;
  trel::matrix<double> K, points_2d, points_3d;
  std::vector<std::vector<double>> points, pixels;
  std::vector<cv::Point2d> pixels_cv;
  std::vector<cv::Point3d> points_cv;
  cv::Mat K_cv;
};

Problem make_problem(unsigned seed, int n, double outlier_share) {
  trel_test::Scene_options options;
  options.pixel_noise = 0.5;
  const trel_test::Synthetic_scene scene = trel_test::make_scene(seed, n, options);
  Problem p;
  p.truth = {scene.rot_mat, cv::Vec3d(scene.centre[0], scene.centre[1], scene.centre[2]), true};
  p.K = trel_test::intrinsics(scene.k11, scene.k13, scene.k23);
  p.K_cv = (cv::Mat_<double>(3, 3) << scene.k11, 0, scene.k13, 0, scene.k11, scene.k23, 0, 0, 1);
  std::mt19937 random(seed ^ 0x5bd1e995u);
  std::uniform_real_distribution<double> u(0.0, 640.0), v(0.0, 480.0);
  // Outliers at random places, not the first ones, so the order says nothing.
  std::vector<int> order(n);
  for (int i = 0; i < n; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), random);
  std::vector<char> outlier(n, 0);
  for (int i = 0; i < static_cast<int>(std::round(outlier_share * n)); ++i) outlier[order[i]] = 1;
  p.points_2d.set_size(n, 2);
  p.points_3d.set_size(n, 3);
  for (int i = 0; i < n; ++i) {
    std::vector<double> px = scene.pixels[i];
    if (outlier[i]) px = {u(random), v(random)};
    const std::vector<double>& X = scene.points_world[i];
    p.points.push_back(X);
    p.pixels.push_back(px);
    p.points_2d.set_row(i, px);
    p.points_3d.set_row(i, X);
    p.pixels_cv.emplace_back(px[0], px[1]);
    p.points_cv.emplace_back(X[0], X[1], X[2]);
    p.mean_depth += scene.points_in_cam[i][2] / n;
  }
  return p;
}

const std::vector<Problem>& problems(int n, double share) {
  static std::map<std::pair<int, double>, std::vector<Problem>> cache;
  std::vector<Problem>& list = cache[{n, share}];
  const int count = n == 1000 ? scenes_1000 : scenes_per_cell;
  const unsigned cell = static_cast<unsigned>(n) * 1000u + static_cast<unsigned>(share * 100.0);
  while (static_cast<int>(list.size()) < count)
    list.push_back(make_problem(cell * 1000u + static_cast<unsigned>(list.size()), n, share));
  return list;
}

Pose solve_trel(const Problem& p, unsigned seed) {
  trel::Pose_estimate_options options;
  options.threshold = kThreshold;
  options.confidence = kConfidence;
  options.seed = seed;
  try {
    const trel::Pose_estimate_result r = trel::estimate_pose(p.K, p.points, p.pixels, options);
    Pose pose;
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) pose.R(i, j) = r.R[i][j];
      pose.t[i] = r.centre[i];
    }
    pose.ok = true;
    return pose;
  } catch (const std::exception&) {
    return Pose();
  }
}

Pose solve_upnp(const Problem& p) {
  try {
    trel::matrix<double> R;
    std::vector<double> t;
    trel::upnp(p.points_2d, p.points_3d, p.K, R, t);
    Pose pose;
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) pose.R(i, j) = R[i][j];
      pose.t[i] = t[i];
    }
    pose.ok = true;
    return pose;
  } catch (const std::exception&) {
    return Pose();
  }
}

Pose from_cv(const cv::Mat& rvec, const cv::Mat& tvec) {
  cv::Matx33d R_wc;
  cv::Rodrigues(rvec, R_wc);
  const cv::Vec3d tv(tvec.at<double>(0), tvec.at<double>(1), tvec.at<double>(2));
  return {R_wc.t(), -(R_wc.t() * tv), true};
}

Pose solve_cv_ransac(const Problem& p, int flags) {
  cv::Mat rvec, tvec;
  std::vector<int> inliers;
  if (!cv::solvePnPRansac(p.points_cv, p.pixels_cv, p.K_cv, cv::noArray(), rvec, tvec, false, 100,
                          static_cast<float>(kThreshold), kConfidence, inliers, flags) ||
      inliers.size() < 4)
    return Pose();
  std::vector<cv::Point3d> X;
  std::vector<cv::Point2d> x;
  for (int i : inliers) {
    X.push_back(p.points_cv[i]);
    x.push_back(p.pixels_cv[i]);
  }
  cv::solvePnPRefineLM(X, x, p.K_cv, cv::noArray(), rvec, tvec);
  return from_cv(rvec, tvec);
}

Pose solve_cv_magsac(const Problem& p, unsigned seed) {
  cv::UsacParams params;
  params.threshold = kThreshold;
  params.confidence = kConfidence;
  params.score = cv::SCORE_METHOD_MAGSAC;
  params.loMethod = cv::LOCAL_OPTIM_SIGMA;
  params.loIterations = 10;
  params.randomGeneratorState = static_cast<int>(seed);
  cv::Mat K = p.K_cv.clone(), rvec, tvec;
  std::vector<int> inliers;
  try {
    if (!cv::solvePnPRansac(p.points_cv, p.pixels_cv, K, cv::noArray(), rvec, tvec, inliers, params)) return Pose();
  } catch (const cv::Exception&) {
    return Pose();
  }
  return from_cv(rvec, tvec);
}

enum Method { kTrel, kCvDefault, kCvAp3p, kCvMagsac, kUpnp, kMethods };
const char* const kMethodNames[] = {"trel::estimate_pose", "solvePnPRansac default + RefineLM",
                                    "solvePnPRansac AP3P + RefineLM", "solvePnPRansac USAC_MAGSAC",
                                    "trel::upnp alone"};

Pose solve(Method m, const Problem& p, unsigned seed) {
  switch (m) {
    case kTrel: return solve_trel(p, seed);
    case kCvDefault: return solve_cv_ransac(p, cv::SOLVEPNP_ITERATIVE);
    case kCvAp3p: return solve_cv_ransac(p, cv::SOLVEPNP_AP3P);
    case kCvMagsac: return solve_cv_magsac(p, seed);
    case kUpnp: return solve_upnp(p);
    default: return Pose();
  }
}

double rotation_error_deg(const Pose& a, const Pose& b) {
  const double f = cv::norm(a.R - b.R);
  return 2.0 * std::asin(std::min(1.0, f / std::sqrt(8.0))) * 180.0 / CV_PI;
}

double median(std::vector<double> v) {
  if (v.empty()) return std::numeric_limits<double>::quiet_NaN();
  std::sort(v.begin(), v.end());
  const std::size_t h = v.size() / 2;
  return v.size() % 2 ? v[h] : 0.5 * (v[h - 1] + v[h]);
}

// Processor time of the process (all threads), milliseconds: the machine is
// shared, so wall time would count the waits for a core.
double cpu_ms() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec * 1e-6;
}

void print_table() {
  std::printf("| N | outliers | method | success | median rotation error (deg) | median centre error | "
              "median time (ms) |\n|---|---|---|---|---|---|---|\n");
  for (int n : kSizes)
    for (double share : kOutlierShares) {
      const std::vector<Problem>& list = problems(n, share);
      for (int m = 0; m < kMethods; ++m) {
        std::vector<double> rotation, centre, time;
        int success = 0;
        for (std::size_t s = 0; s < list.size(); ++s) {
          const Problem& p = list[s];
          const double start = cpu_ms();
          const Pose pose = solve(static_cast<Method>(m), p, static_cast<unsigned>(s));
          time.push_back(cpu_ms() - start);
          const double r = pose.ok ? rotation_error_deg(pose, p.truth) : std::numeric_limits<double>::infinity();
          const double c = pose.ok ? cv::norm(pose.t - p.truth.t) : std::numeric_limits<double>::infinity();
          rotation.push_back(std::isfinite(r) ? r : std::numeric_limits<double>::infinity());
          centre.push_back(std::isfinite(c) ? c : std::numeric_limits<double>::infinity());
          success += r < 0.5 && c < 0.01 * p.mean_depth;
        }
        std::printf("| %d | %.0f %% | %s | %.0f %% (%zu) | %.3g | %.3g | %.3g |\n", n, share * 100.0, kMethodNames[m],
                    100.0 * success / list.size(), list.size(), median(rotation), median(centre), median(time));
        std::fflush(stdout);
      }
    }
  std::printf("\n");
}

template <Method kMethod>
void BM_estimate(benchmark::State& state) {
  const std::vector<Problem>& list = problems(200, kOutlierShares[state.range(0)]);
  for (auto _ : state)
    for (int s = 0; s < kBenchScenes; ++s) {
      Pose pose = solve(kMethod, list[s], static_cast<unsigned>(s));
      benchmark::DoNotOptimize(pose);
    }
  state.SetLabel("N=200, scenes=20, outliers " + std::to_string(static_cast<int>(kOutlierShares[state.range(0)] * 100)) + " %");
}

void shares(benchmark::internal::Benchmark* b) {
  for (int i = 0; i < 3; ++i) b->Arg(i);
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK_TEMPLATE(BM_estimate, kTrel)->Name("BM_TrelEstimatePose")->Apply(shares);
BENCHMARK_TEMPLATE(BM_estimate, kCvDefault)->Name("BM_CvRansacDefaultRefineLM")->Apply(shares);
BENCHMARK_TEMPLATE(BM_estimate, kCvAp3p)->Name("BM_CvRansacAp3pRefineLM")->Apply(shares);
BENCHMARK_TEMPLATE(BM_estimate, kCvMagsac)->Name("BM_CvRansacMagsac")->Apply(shares);
BENCHMARK_TEMPLATE(BM_estimate, kUpnp)->Name("BM_TrelUpnpAlone")->Apply(shares);

}  // namespace

int main(int argc, char** argv) {
  // Own flags first: --scenes=<n> per cell, --scenes_1000=<n> for N = 1000,
  // --no_table to time only.
  bool table = true;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--scenes=", 9) == 0)
      scenes_per_cell = scenes_1000 = std::max(kBenchScenes, std::atoi(argv[i] + 9));
    else if (std::strncmp(argv[i], "--scenes_1000=", 14) == 0)
      scenes_1000 = std::max(1, std::atoi(argv[i] + 14));
    else if (std::strcmp(argv[i], "--no_table") == 0)
      table = false;
    else
      rest.push_back(argv[i]);
  }
  int rest_count = static_cast<int>(rest.size());
  benchmark::Initialize(&rest_count, rest.data());
  if (benchmark::ReportUnrecognizedArguments(rest_count, rest.data())) return 1;
  cv::setNumThreads(1);
  if (table) print_table();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
