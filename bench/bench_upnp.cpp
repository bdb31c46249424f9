// Absolute pose from pixels and world points, timed in one run for:
//   - trel::upnp, best-candidate overload (checks, bearing vectors, OpenGV's UPnP,
//     selection by reprojection error);
//   - OpenGV's absolute_pose::upnp called directly on the same bearing vectors
//     (precomputed, as the wrapper computes them), so the ratio of the two is the
//     wrapper's overhead;
//   - cv::solvePnP with SOLVEPNP_SQPNP and with SOLVEPNP_EPNP, what a user would
//     pick instead.
//
// Scenes: kScenes seeded synthetic scenes per N (pinhole camera, k11 = 800,
// principal point (320, 240), depths 4..12, pixel noise sigma 0.5 px); each timed
// iteration solves all of them (the time per pose is the iteration time / kScenes),
// so every method does the same work. Before timing, every method solves every scene
// once and the medians over the scenes of its rotation error (degrees) and
// camera-centre error (scene units) against the true pose are printed; for the
// direct OpenGV call that is its first candidate.
//
// Pose conventions. Ours and OpenGV's: c = R^T (X - t), R camera to world, t the
// camera centre. OpenCV: x_cam = R_wc X + tvec, so R = R_wc^T and t = -R_wc^T tvec.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opengv/absolute_pose/CentralAbsoluteAdapter.hpp>
#include <opengv/absolute_pose/methods.hpp>

#include "tests/synthetic_scene.h"
#include "trel_tools/matrix.h"
#include "trel_tools/opengv_wrapper.h"

namespace {

const int kSizes[] = {6, 10, 100, 1000};
const int kScenes = 20;
const double kPixelNoise = 0.5;

struct Pose {
  cv::Matx33d R;  // camera to world
  cv::Vec3d t;    // camera centre, world
};

struct Problem {
  Pose truth;
  trel::matrix<double> points_2d, points_3d, K;
  opengv::bearingVectors_t bearing_vectors;
  opengv::points_t points;
  std::vector<cv::Point2d> pixels_cv;
  std::vector<cv::Point3d> points_cv;
  cv::Mat K_cv;
};

Problem make_problem(unsigned seed, int n) {
  trel_test::Scene_options options;
  options.pixel_noise = kPixelNoise;
  const trel_test::Synthetic_scene scene = trel_test::make_scene(seed, n, options);
  Problem p;
  p.truth = {scene.rot_mat, cv::Vec3d(scene.centre[0], scene.centre[1], scene.centre[2])};
  p.K = trel_test::intrinsics(scene.k11, scene.k13, scene.k23);
  p.points_2d.set_size(n, 2);
  p.points_3d.set_size(n, 3);
  const trel::matrix<double> K_inv = p.K.invert();
  for (int j = 0; j < n; ++j) {
    const std::vector<double>& px = scene.pixels[j];
    const std::vector<double>& X = scene.points_world[j];
    p.points_2d.set_row(j, px);
    p.points_3d.set_row(j, X);
    const Eigen::Vector3d ray(K_inv[0][0] * px[0] + K_inv[0][1] * px[1] + K_inv[0][2],
                              K_inv[1][0] * px[0] + K_inv[1][1] * px[1] + K_inv[1][2],
                              K_inv[2][0] * px[0] + K_inv[2][1] * px[1] + K_inv[2][2]);
    p.bearing_vectors.push_back(ray.normalized());
    p.points.emplace_back(X[0], X[1], X[2]);
    p.pixels_cv.emplace_back(px[0], px[1]);
    p.points_cv.emplace_back(X[0], X[1], X[2]);
  }
  p.K_cv = (cv::Mat_<double>(3, 3) << scene.k11, 0, scene.k13, 0, scene.k11, scene.k23, 0, 0, 1);
  return p;
}

const std::vector<Problem>& problems(int n) {
  static std::map<int, std::vector<Problem>> cache;
  std::vector<Problem>& list = cache[n];
  if (list.empty())
    for (int s = 0; s < kScenes; ++s) list.push_back(make_problem(1000u * static_cast<unsigned>(n) + s, n));
  return list;
}

Pose solve_trel(const Problem& p) {
  trel::matrix<double> R;
  std::vector<double> t;
  trel::upnp(p.points_2d, p.points_3d, p.K, R, t);
  Pose pose;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) pose.R(r, c) = R[r][c];
  pose.t = cv::Vec3d(t[0], t[1], t[2]);
  return pose;
}

// The adapter keeps references to the problem's containers, which outlive it.
opengv::transformations_t solve_opengv(const Problem& p) {
  const opengv::absolute_pose::CentralAbsoluteAdapter adapter(p.bearing_vectors, p.points);
  return opengv::absolute_pose::upnp(adapter);
}

Pose first_candidate(const opengv::transformations_t& solutions) {
  Pose pose{cv::Matx33d::zeros(), cv::Vec3d(NAN, NAN, NAN)};
  if (solutions.empty()) return pose;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) pose.R(r, c) = solutions[0](r, c);
    pose.t[r] = solutions[0](r, 3);
  }
  return pose;
}

Pose solve_cv(const Problem& p, int flags) {
  cv::Mat rvec, tvec;
  cv::solvePnP(p.points_cv, p.pixels_cv, p.K_cv, cv::noArray(), rvec, tvec, false, flags);
  cv::Matx33d R_wc;
  cv::Rodrigues(rvec, R_wc);
  const cv::Vec3d tv(tvec.at<double>(0), tvec.at<double>(1), tvec.at<double>(2));
  return {R_wc.t(), -(R_wc.t() * tv)};
}

// 2 asin(|dR|_F / sqrt(8)) is the rotation angle of R_a^T R_b, accurate near zero.
double rotation_error_deg(const Pose& a, const Pose& b) {
  const double f = cv::norm(a.R - b.R);
  return 2.0 * std::asin(std::min(1.0, f / std::sqrt(8.0))) * 180.0 / CV_PI;
}

enum Method { kTrel, kOpengv, kSqpnp, kEpnp };
const char* const kMethodNames[] = {"trel::upnp (best candidate)", "opengv upnp, direct (first candidate)",
                                    "cv::solvePnP SOLVEPNP_SQPNP", "cv::solvePnP SOLVEPNP_EPNP"};

Pose solve(Method m, const Problem& p) {
  switch (m) {
    case kTrel: return solve_trel(p);
    case kOpengv: return first_candidate(solve_opengv(p));
    case kSqpnp: return solve_cv(p, cv::SOLVEPNP_SQPNP);
    case kEpnp: return solve_cv(p, cv::SOLVEPNP_EPNP);
  }
  return Pose();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t h = v.size() / 2;
  return v.size() % 2 ? v[h] : 0.5 * (v[h - 1] + v[h]);
}

void print_accuracy() {
  std::printf("Median over %d scenes of the error against the true pose (0.5 px noise)\n", kScenes);
  std::printf("%-40s %6s %16s %16s\n", "method", "N", "rotation (deg)", "centre");
  for (int m = kTrel; m <= kEpnp; ++m)
    for (int n : kSizes) {
      std::vector<double> rotation, centre;
      for (const Problem& p : problems(n)) {
        const Pose pose = solve(static_cast<Method>(m), p);
        rotation.push_back(rotation_error_deg(pose, p.truth));
        centre.push_back(cv::norm(pose.t - p.truth.t));
      }
      std::printf("%-40s %6d %16.3g %16.3g\n", kMethodNames[m], n, median(rotation), median(centre));
    }
  std::printf("\n");
  std::fflush(stdout);
}

template <Method kMethod>
void BM_pose(benchmark::State& state) {
  const std::vector<Problem>& list = problems(static_cast<int>(state.range(0)));
  for (auto _ : state)
    for (const Problem& p : list) {
      if (kMethod == kOpengv) {
        opengv::transformations_t solutions = solve_opengv(p);
        benchmark::DoNotOptimize(solutions.data());
      } else {
        Pose pose = solve(kMethod, p);
        benchmark::DoNotOptimize(pose);
      }
    }
}

void sizes(benchmark::internal::Benchmark* b) {
  for (int n : kSizes) b->Arg(n);
  b->Unit(benchmark::kMicrosecond);
}

BENCHMARK_TEMPLATE(BM_pose, kTrel)->Name("BM_TrelUpnpBest")->Apply(sizes);
BENCHMARK_TEMPLATE(BM_pose, kOpengv)->Name("BM_OpengvUpnpDirect")->Apply(sizes);
BENCHMARK_TEMPLATE(BM_pose, kSqpnp)->Name("BM_SolvePnPSqpnp")->Apply(sizes);
BENCHMARK_TEMPLATE(BM_pose, kEpnp)->Name("BM_SolvePnPEpnp")->Apply(sizes);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  print_accuracy();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
