// The pose jobs with lens distortion against the pinhole and against OpenCV's
// distorted solvers, one run, the same data:
//  - refine_pose with the 5-coefficient model against the pinhole kernel and
//    against cv::solvePnPRefineLM with the same coefficients (N = 10 .. 10000),
//    and how far apart the minima are;
//  - estimate_pose on 100 scenes of strong distortion (k1 from -0.4 to +0.2,
//    fisheye) at 0, 25 and 50 % outliers against cv::solvePnPRansac with the
//    same coefficients (fisheye: cv::fisheye::undistortPoints, then
//    solvePnPRansac) and against undistorting first, then the pinhole
//    estimate_pose: success rates and times;
//  - undistortion over every pixel of the image for each calibration: the
//    share flagged and the round trip's largest miss.
// The tables are printed before the timings (markdown, for the README).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "trel_pose/pose_estimation.h"
#include "trel_pose/pose_refinement.h"
#include "trel_tools/exception_l.h"
#include "trel_tools/rotation.h"

namespace {

using namespace trel;

struct Calibration {
  const char* name;
  std::vector<double> coefficients;
  bool fisheye;
};

const Calibration kCalibrations[] = {
    {"k1=-0.4", {-0.4, 0.18, 0.001, -0.002, -0.03}, false},
    {"k1=-0.2", {-0.2, 0.05, 0.0005, 0.001, 0.0}, false},
    {"k1=+0.2", {0.2, -0.05, -0.001, 0.0015, 0.01}, false},
    {"fisheye", {0.08, -0.03, 0.01, -0.002}, true},
};
const Calibration kRefineLens = {"k5", {-0.3, 0.12, 0.001, -0.0015, -0.02}, false};
const double kOutlierShares[] = {0.0, 0.25, 0.5};
constexpr int kScenes = 100;
constexpr int kScenePoints = 100;
constexpr double kNoise = 0.5;      // px
constexpr double kThreshold = 4.0;  // px, both estimators

const cv::Matx33d kK(420, 0, 320, 0, 420, 240, 0, 0, 1);  // a wide angle: corners at 0.95 normalised

Camera_model camera_of(const Calibration& c) {
  matrix<double> K(3, 3);
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k) K[r][k] = kK(r, k);
  return make_camera_model(K, c.coefficients, c.fisheye);
}

cv::Mat distortion_of(const Calibration& c) {
  return c.coefficients.empty() ? cv::Mat() : cv::Mat(c.coefficients, true).reshape(1, 1);
}

// One view: n points 5 to 11 in front of the camera within half fields of
// 0.75 and 0.55 (near the image's edges for k1 = -0.4), pixels through the lens with
// Gaussian noise, the first share of them replaced by pixels 20 to 200 px away.
struct Scene {
  cv::Vec3d rvec, tvec;  // world to camera
  std::vector<cv::Point3d> world;
  std::vector<cv::Point2d> pixels;
  std::vector<double> points, observed;  // flat copies for trel
};

Scene make_scene(const Calibration& c, int n, double outliers, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::normal_distribution<double> gauss(0.0, kNoise);
  Scene s;
  s.rvec = cv::Vec3d(uniform(random), uniform(random), uniform(random));
  s.tvec = cv::Vec3d(uniform(random), uniform(random), uniform(random));
  cv::Matx33d R;
  cv::Rodrigues(s.rvec, R);
  for (int i = 0; i < n; ++i) {
    const double z = 8.0 + 3.0 * uniform(random);
    const cv::Vec3d X = R.t() * (cv::Vec3d(0.75 * z * uniform(random), 0.55 * z * uniform(random), z) - s.tvec);
    s.world.emplace_back(X[0], X[1], X[2]);
  }
  if (c.fisheye)
    cv::fisheye::projectPoints(s.world, s.pixels, s.rvec, s.tvec, kK, distortion_of(c));
  else
    cv::projectPoints(s.world, s.rvec, s.tvec, kK, distortion_of(c), s.pixels);
  for (int i = 0; i < n; ++i) {
    cv::Point2d& p = s.pixels[static_cast<std::size_t>(i)];
    p += cv::Point2d(gauss(random), gauss(random));
    if (i < static_cast<int>(outliers * n)) {
      const double angle = 3.14159265 * uniform(random), shift = 110.0 + 90.0 * uniform(random);
      p += cv::Point2d(shift * std::cos(angle), shift * std::sin(angle));
    }
    const cv::Point3d& X = s.world[static_cast<std::size_t>(i)];
    s.points.insert(s.points.end(), {X.x, X.y, X.z});
    s.observed.insert(s.observed.end(), {p.x, p.y});
  }
  return s;
}

// The pixels undistorted by OpenCV (into pixels of K), for its RANSAC on the
// fisheye model and for the workaround.
std::vector<cv::Point2d> undistorted_pixels(const Calibration& c, const Scene& s) {
  std::vector<cv::Point2d> out;
  if (c.fisheye)
    cv::fisheye::undistortPoints(s.pixels, out, kK, distortion_of(c), cv::noArray(), kK);
  else
    cv::undistortPoints(s.pixels, out, kK, distortion_of(c), cv::noArray(), kK);
  return out;
}

// A pose within 0.5 degree and 1 % of the mean depth (8) of the truth.
bool is_success(const Scene& s, const cv::Matx33d& R_cam_to_world, const cv::Vec3d& centre) {
  cv::Matx33d R_true;
  cv::Rodrigues(s.rvec, R_true);
  const cv::Matx33d d = R_true * R_cam_to_world;
  const double angle = std::acos(std::max(-1.0, std::min(1.0, (cv::trace(d) - 1.0) / 2.0))) * 180.0 / CV_PI;
  return angle < 0.5 && cv::norm(centre - (-(R_true.t() * s.tvec))) < 0.08;
}

bool trel_success(const Scene& s, const Pose_estimate_result& r) {
  cv::Matx33d R;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) R(i, j) = r.R[i][j];
  return is_success(s, R, cv::Vec3d(r.centre[0], r.centre[1], r.centre[2]));
}

bool cv_success(const Scene& s, const cv::Vec3d& rvec, const cv::Vec3d& tvec) {
  cv::Matx33d R;
  cv::Rodrigues(rvec, R);
  return is_success(s, R.t(), -(R.t() * tvec));
}

Pose_estimate_options estimate_options(unsigned seed) {
  Pose_estimate_options o;
  o.threshold = kThreshold;
  o.seed = seed;
  return o;
}

// The three estimators on one scene; true on success.
bool run_trel(const Camera_model& camera, const Scene& s, unsigned seed) {
  try {
    return trel_success(s, estimate_pose(camera, Points_view(s.points), Values_view(s.observed),
                                         estimate_options(seed)));
  } catch (const exception_l&) {
    return false;
  }
}

bool run_opencv(const Calibration& c, const Scene& s) {
  cv::Vec3d rvec, tvec;
  std::vector<int> inliers;
  const bool found = c.fisheye ? cv::solvePnPRansac(s.world, undistorted_pixels(c, s), kK, cv::noArray(), rvec, tvec,
                                                    false, 10000, kThreshold, 0.99, inliers)
                               : cv::solvePnPRansac(s.world, s.pixels, kK, distortion_of(c), rvec, tvec, false,
                                                    10000, kThreshold, 0.99, inliers);
  return found && cv_success(s, rvec, tvec);
}

bool run_workaround(const Calibration& c, const Camera_model& camera, const Scene& s, unsigned seed) {
  const std::vector<cv::Point2d> undistorted = undistorted_pixels(c, s);
  std::vector<double> flat;
  for (const cv::Point2d& p : undistorted) flat.insert(flat.end(), {p.x, p.y});
  Camera_model pinhole = camera;
  pinhole.lens = Lens_distortion<double>();
  try {
    return trel_success(s, estimate_pose(pinhole, Points_view(s.points), Values_view(flat), estimate_options(seed)));
  } catch (const exception_l&) {
    return false;
  }
}

enum Estimator { kTrel, kOpencv, kWorkaround };
const char* const kEstimatorNames[] = {"estimate_pose (model)", "cv::solvePnPRansac", "undistort + pinhole estimate_pose"};

std::vector<Scene> scenes_of(const Calibration& c, double outliers) {
  std::vector<Scene> out;
  for (int k = 0; k < kScenes; ++k) out.push_back(make_scene(c, kScenePoints, outliers, 1000u + static_cast<unsigned>(k)));
  return out;
}

int successes(Estimator e, const Calibration& c, const std::vector<Scene>& scenes) {
  const Camera_model camera = camera_of(c);
  int count = 0;
  for (std::size_t k = 0; k < scenes.size(); ++k) {
    const unsigned seed = static_cast<unsigned>(k);
    count += e == kTrel ? run_trel(camera, scenes[k], seed)
             : e == kOpencv ? run_opencv(c, scenes[k])
                            : run_workaround(c, camera, scenes[k], seed);
  }
  return count;
}

void BM_estimate(benchmark::State& state) {
  const Estimator e = static_cast<Estimator>(state.range(0));
  const Calibration& c = kCalibrations[state.range(1)];
  const std::vector<Scene> scenes = scenes_of(c, kOutlierShares[state.range(2)]);
  int count = 0;
  for (auto _ : state) count = successes(e, c, scenes);
  state.counters["success"] = count;
  state.SetLabel(std::string(kEstimatorNames[e]) + " " + c.name + " " +
                 std::to_string(static_cast<int>(100 * kOutlierShares[state.range(2)])) + "% outliers");
}
BENCHMARK(BM_estimate)
    ->ArgsProduct({{kTrel, kOpencv, kWorkaround}, {0, 1, 2, 3}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

// The refinement data: N points of one view through kRefineLens (or the
// pinhole), 0.5 px noise, and a start 1 degree and 0.1 off.
struct Refine_data {
  Camera_model camera;
  Scene scene;
  std::vector<double> start;
  cv::Vec3d rvec0, tvec0;
};

Refine_data refine_data(int n, bool distorted) {
  const Calibration pinhole{"pinhole", {}, false};
  const Calibration& c = distorted ? kRefineLens : pinhole;
  Refine_data d{camera_of(c), make_scene(c, n, 0.0, 77u), {}, {}, {}};
  d.rvec0 = d.scene.rvec + cv::Vec3d(0.01, -0.01, 0.01);
  d.tvec0 = d.scene.tvec + cv::Vec3d(0.1, 0.05, -0.1);
  cv::Matx33d R;
  cv::Rodrigues(d.rvec0, R);
  matrix<double> R_cam_to_world(3, 3);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) R_cam_to_world[i][j] = R(j, i);
  d.start = rot_mat_to_rot_vec_rad(R_cam_to_world);
  const cv::Vec3d centre = -(R.t() * d.tvec0);
  d.start.insert(d.start.end(), {centre[0], centre[1], centre[2]});
  return d;
}

Pose_refine_options refine_options() {
  Pose_refine_options o;
  o.max_iters = 20;
  o.covariance = false;  // OpenCV gives none
  return o;
}

const cv::TermCriteria kLmCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 20, 1e-10);

void BM_refine_trel(benchmark::State& state) {
  const Refine_data d = refine_data(static_cast<int>(state.range(0)), state.range(1) != 0);
  const Pose_refine_options o = refine_options();
  Pose_kernel<double> workspace;
  for (auto _ : state)
    benchmark::DoNotOptimize(
        refine_pose(d.camera, Points_view(d.scene.points), Values_view(d.scene.observed), d.start, o, workspace));
  state.SetLabel(state.range(1) ? "refine_pose k5" : "refine_pose pinhole");
}
BENCHMARK(BM_refine_trel)->ArgsProduct({{10, 100, 1000, 10000}, {0, 1}})->Unit(benchmark::kMicrosecond);

void BM_refine_opencv(benchmark::State& state) {
  const Refine_data d = refine_data(static_cast<int>(state.range(0)), true);
  for (auto _ : state) {
    cv::Vec3d rvec = d.rvec0, tvec = d.tvec0;
    cv::solvePnPRefineLM(d.scene.world, d.scene.pixels, kK, distortion_of(kRefineLens), rvec, tvec, kLmCriteria);
    benchmark::DoNotOptimize(rvec);
  }
  state.SetLabel("cv::solvePnPRefineLM k5");
}
BENCHMARK(BM_refine_opencv)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// How far refine_pose's minimum lies from solvePnPRefineLM's, per N.
void print_refine_agreement() {
  std::printf("| N | angle between the minima (deg) | centre difference / centre |\n|---|---|---|\n");
  for (int n : {10, 100, 1000, 10000}) {
    const Refine_data d = refine_data(n, true);
    const Pose_refine_result r =
        refine_pose(d.camera, Points_view(d.scene.points), Values_view(d.scene.observed), d.start, refine_options());
    cv::Vec3d rvec = d.rvec0, tvec = d.tvec0;
    cv::solvePnPRefineLM(d.scene.world, d.scene.pixels, kK, distortion_of(kRefineLens), rvec, tvec, kLmCriteria);
    cv::Matx33d R_cv;
    cv::Rodrigues(rvec, R_cv);
    const matrix<double> R = rot_vec_rad_to_rot_mat(std::vector<double>{r.x[0], r.x[1], r.x[2]});
    cv::Matx33d R_ours;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) R_ours(i, j) = R[i][j];
    // |A - B|_F = 2 sqrt(2) sin(angle / 2): exact for small angles, where acos of the trace is not.
    const double angle = 2.0 * std::asin(cv::norm(R_cv.t() - R_ours) / (2.0 * std::sqrt(2.0))) * 180.0 / CV_PI;
    const cv::Vec3d centre_cv = -(R_cv.t() * tvec);
    std::printf("| %d | %.2g | %.2g |\n", n, angle,
                cv::norm(cv::Vec3d(r.x[3], r.x[4], r.x[5]) - centre_cv) / cv::norm(centre_cv));
  }
}

void print_success_table() {
  std::printf("\n| calibration | outliers | estimate_pose (model) | cv::solvePnPRansac | undistort + pinhole |\n"
              "|---|---|---|---|---|\n");
  for (const Calibration& c : kCalibrations)
    for (double share : kOutlierShares) {
      const std::vector<Scene> scenes = scenes_of(c, share);
      std::printf("| %s | %d %% | %d / %d | %d / %d | %d / %d |\n", c.name, static_cast<int>(100 * share),
                  successes(kTrel, c, scenes), kScenes, successes(kOpencv, c, scenes), kScenes,
                  successes(kWorkaround, c, scenes), kScenes);
    }
}

// Every pixel of the 640 x 480 image: undistorted (K^-1, then undistort), the
// flagged share, and the largest miss of distort-then-K of the others.
void print_undistortion_table() {
  std::printf("\n| calibration | pixels flagged | largest round-trip miss (px) |\n|---|---|---|\n");
  std::vector<Calibration> all(std::begin(kCalibrations), std::end(kCalibrations));
  all.push_back(kRefineLens);
  all.push_back({"k1=-0.5 (folds)", {-0.5, 0.0, 0.0, 0.0}, false});
  for (const Calibration& c : all) {
    const Camera_model camera = camera_of(c);
    long flagged = 0;
    double worst = 0.0;
    for (int v = 0; v < 480; ++v)
      for (int u = 0; u < 640; ++u) {
        const double yd = (v - camera.pinhole.cy) / camera.pinhole.fy, xd = (u - camera.pinhole.cx) / camera.pinhole.fx;
        double x, y, xd2, yd2;
        if (!undistort(camera.lens, xd, yd, x, y)) {
          ++flagged;
          continue;
        }
        distort(camera.lens, x, y, xd2, yd2);
        worst = std::max(worst, std::hypot(camera.pinhole.fx * (xd2 - xd), camera.pinhole.fy * (yd2 - yd)));
      }
    std::printf("| %s | %.3f %% | %.2g |\n", c.name, 100.0 * static_cast<double>(flagged) / (640.0 * 480.0), worst);
  }
}

}  // namespace

int main(int argc, char** argv) {
  print_refine_agreement();
  print_success_table();
  print_undistortion_table();
  std::fflush(stdout);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
