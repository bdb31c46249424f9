// The pose of a calibrated rig among outliers, one run, the same scenes for
// every method:
//   - trel::estimate_rig_pose (defaults: 4 px, confidence 0.99, Cauchy refinement);
//   - OpenGV's non-central RANSAC (AbsolutePoseSacProblem, GP3P) on the
//     undistorted bearings, threshold 1 - cos(atan(4 px / f)), confidence
//     0.99, at most 1000 samples, then its optimize_nonlinear on the inliers;
//   - trel::estimate_pose on the camera with the most observations alone.
//
// Scenes (tests/rig_scene.h): 2 and 4 cameras, N = 200 observations over the
// cameras, 0.5 px noise, 0 %, 25 %, 50 % outliers (uniform pixels in the
// 640 x 480 image), kScenes seeded scenes per cell. First the accuracy table:
// success (rotation error < 0.5 degree and centre error < 1 % of the mean
// depth), median rotation error (degrees) and median centre error of the rig
// pose. Then the gain of the rig: on the same scenes, the median errors of the
// pose of the best-observed camera from the rig against its pose from its own
// observations, and the median ratio of the covariances' traces (rotation
// block and centre block of that camera's pose). Then Google Benchmark times
// trel and OpenGV over the first kBenchScenes scenes of each cell.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include <opengv/absolute_pose/NoncentralAbsoluteAdapter.hpp>
#include <opengv/absolute_pose/methods.hpp>
#include <opengv/sac/Ransac.hpp>
#include <opengv/sac_problems/absolute_pose/AbsolutePoseSacProblem.hpp>

#include "tests/rig_scene.h"
#include "trel_pose/lens_distortion.h"
#include "trel_pose/pose_estimation.h"
#include "trel_pose/rig_pose.h"

namespace {

const int kCameraCounts[] = {2, 4};
const double kOutlierShares[] = {0.0, 0.25, 0.5};
constexpr int kScenes = 100;
constexpr int kBenchScenes = 20;
constexpr int kPoints = 200;
constexpr double kThreshold = 4.0;

using Sac_problem = opengv::sac_problems::absolute_pose::AbsolutePoseSacProblem;

struct Pose {
  Eigen::Matrix3d R = Eigen::Matrix3d::Identity();  // rig (or camera) to world
  Eigen::Vector3d t = Eigen::Vector3d::Zero();
  std::vector<double> covariance;                   // 6 x 6 over (delta, t), when given
  bool ok = false;
};

trel_test::Rig_scene scene_of(int cameras, double outliers, unsigned seed) {
  trel_test::Rig_scene_options o;
  o.cameras = cameras;
  o.points = kPoints;
  o.noise = 0.5;
  o.outlier_share = outliers;
  return trel_test::make_rig_scene(seed * 7919u + static_cast<unsigned>(cameras * 10 + outliers * 4), o);
}

Eigen::Matrix3d eigen_of(const trel::matrix<double>& R) {
  Eigen::Matrix3d out;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) out(r, c) = R[r][c];
  return out;
}

Pose trel_rig(const trel_test::Rig_scene& s) {
  Pose p;
  try {
    const trel::Rig_estimate_result r = trel::estimate_rig_pose(s.rig, trel::Points_view(s.points),
                                                                trel::Pixels_view(s.observations), s.cameras);
    p.R = eigen_of(r.R);
    p.t = Eigen::Map<const Eigen::Vector3d>(r.centre.data());
    p.covariance = r.summary.covariance;
    p.ok = true;
  } catch (const std::exception&) {
  }
  return p;
}

// OpenGV's input: the bearings of the undistorted pixels in each camera, and
// the rig's offsets and rotations.
struct Opengv_input {
  opengv::bearingVectors_t bearings;
  std::vector<int> cameras;
  opengv::points_t points;
  opengv::translations_t offsets;
  opengv::rotations_t rotations;
};

Opengv_input opengv_input(const trel_test::Rig_scene& s) {
  Opengv_input in;
  for (const trel::Rig_camera& c : s.rig.cameras) {
    in.offsets.emplace_back(c.centre_in_rig[0], c.centre_in_rig[1], c.centre_in_rig[2]);
    in.rotations.push_back(Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>>(c.R_cam_to_rig));
  }
  for (std::size_t i = 0; i < s.cameras.size(); ++i) {
    const trel::Camera_model& m = s.rig.cameras[static_cast<std::size_t>(s.cameras[i])].model;
    const double yd = (s.observations[2 * i + 1] - m.pinhole.cy) / m.pinhole.fy;
    const double xd = (s.observations[2 * i] - m.pinhole.cx - m.pinhole.skew * yd) / m.pinhole.fx;
    double x = xd, y = yd;
    if (!m.lens.is_identity() && !trel::undistort(m.lens, xd, yd, x, y)) continue;
    in.bearings.push_back(Eigen::Vector3d(x, y, 1).normalized());
    in.cameras.push_back(s.cameras[i]);
    in.points.emplace_back(s.points[3 * i], s.points[3 * i + 1], s.points[3 * i + 2]);
  }
  return in;
}

Pose opengv_rig(const Opengv_input& in) {
  opengv::absolute_pose::NoncentralAbsoluteAdapter adapter(in.bearings, in.cameras, in.points, in.offsets,
                                                           in.rotations);
  opengv::sac::Ransac<Sac_problem> ransac(1000, 1.0 - std::cos(std::atan(kThreshold / 800.0)), 0.99);
  ransac.sac_model_ = std::make_shared<Sac_problem>(adapter, Sac_problem::GP3P, false);
  Pose p;
  if (!ransac.computeModel() || ransac.inliers_.size() < 6) return p;
  adapter.sett(ransac.model_coefficients_.col(3));
  adapter.setR(ransac.model_coefficients_.block<3, 3>(0, 0));
  const opengv::transformation_t refined = opengv::absolute_pose::optimize_nonlinear(adapter, ransac.inliers_);
  p.R = refined.block<3, 3>(0, 0);
  p.t = refined.col(3);
  p.ok = p.R.allFinite() && p.t.allFinite();
  return p;
}

int best_camera(const trel_test::Rig_scene& s) {
  int best = 0;
  for (int c = 1; c < static_cast<int>(s.rig.cameras.size()); ++c)
    if (std::count(s.cameras.begin(), s.cameras.end(), c) > std::count(s.cameras.begin(), s.cameras.end(), best))
      best = c;
  return best;
}

// estimate_pose on camera c's observations: that camera's pose.
Pose single_camera(const trel_test::Rig_scene& s, int c) {
  std::vector<double> points, observations;
  for (std::size_t i = 0; i < s.cameras.size(); ++i)
    if (s.cameras[i] == c) {
      points.insert(points.end(), s.points.begin() + 3 * i, s.points.begin() + 3 * i + 3);
      observations.insert(observations.end(), s.observations.begin() + 2 * i, s.observations.begin() + 2 * i + 2);
    }
  Pose p;
  try {
    const trel::Pose_estimate_result r =
        trel::estimate_pose(s.rig.cameras[static_cast<std::size_t>(c)].model, trel::Points_view(points), observations);
    p.R = eigen_of(r.R);
    p.t = Eigen::Map<const Eigen::Vector3d>(r.centre.data());
    p.covariance = r.summary.covariance;
    p.ok = true;
  } catch (const std::exception&) {
  }
  return p;
}

// The pose of rig camera c at the rig pose, its covariance carried along: the
// centre t + R t_c moves by dt - [R t_c]x delta.
Pose camera_of(const trel::Rig& rig, int c, const Pose& rig_pose) {
  const trel::Rig_camera& camera = rig.cameras[static_cast<std::size_t>(c)];
  Pose p = rig_pose;
  const Eigen::Vector3d w = rig_pose.R * Eigen::Map<const Eigen::Vector3d>(camera.centre_in_rig);
  p.R = rig_pose.R * Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>>(camera.R_cam_to_rig);
  p.t = rig_pose.t + w;
  if (p.covariance.size() == 36) {
    Eigen::Matrix<double, 6, 6> J = Eigen::Matrix<double, 6, 6>::Identity();
    J.block<3, 3>(3, 0) << 0, w.z(), -w.y(), -w.z(), 0, w.x(), w.y(), -w.x(), 0;
    Eigen::Map<Eigen::Matrix<double, 6, 6, Eigen::RowMajor>> covariance(p.covariance.data());
    const Eigen::Matrix<double, 6, 6> moved = J * covariance * J.transpose();
    covariance = moved;
  }
  return p;
}

double rotation_degrees(const Pose& p, const Eigen::Matrix3d& R) {
  return Eigen::AngleAxisd(p.R.transpose() * R).angle() * 180.0 / M_PI;
}

double median(std::vector<double> v) {
  if (v.empty()) return std::nan("");
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Tally {
  int success = 0;
  std::vector<double> rotation, centre;
  void add(const Pose& p, const Eigen::Matrix3d& R, const Eigen::Vector3d& t, double depth) {
    if (!p.ok) return;
    rotation.push_back(rotation_degrees(p, R));
    centre.push_back((p.t - t).norm());
    success += rotation.back() < 0.5 && centre.back() < 0.01 * depth;
  }
  void print(const char* method, int cameras, double outliers) const {
    std::printf("| %d | %2.0f %% | %s | %d / %d | %.4f | %.4f |\n", cameras, outliers * 100, method, success, kScenes,
                median(rotation), median(centre));
  }
};

double trace(const std::vector<double>& covariance, int first) {
  return covariance[7 * first] + covariance[7 * (first + 1)] + covariance[7 * (first + 2)];
}

void print_tables() {
  std::printf("| cameras | outliers | method | success | median rotation error (deg) | median centre error |\n"
              "|---|---|---|---|---|---|\n");
  std::vector<std::vector<double>> gains;  // per cell: the gain row
  for (int cameras : kCameraCounts)
    for (double outliers : kOutlierShares) {
      Tally rig, opengv, single, rig_camera;
      std::vector<double> rotation_ratio, centre_ratio;
      for (int k = 0; k < kScenes; ++k) {
        const trel_test::Rig_scene s = scene_of(cameras, outliers, static_cast<unsigned>(k));
        const int c = best_camera(s);
        const Pose truth_camera = camera_of(s.rig, c, Pose{s.R_rig_to_world, s.centre_in_world, {}, true});
        const Pose r = trel_rig(s), one = single_camera(s, c);
        rig.add(r, s.R_rig_to_world, s.centre_in_world, 6.0);
        opengv.add(opengv_rig(opengv_input(s)), s.R_rig_to_world, s.centre_in_world, 6.0);
        const Pose seen = camera_of(s.rig, c, r);
        rig_camera.add(seen, truth_camera.R, truth_camera.t, 6.0);
        single.add(one, truth_camera.R, truth_camera.t, 6.0);
        if (seen.covariance.size() == 36 && one.covariance.size() == 36) {
          rotation_ratio.push_back(trace(seen.covariance, 0) / trace(one.covariance, 0));
          centre_ratio.push_back(trace(seen.covariance, 3) / trace(one.covariance, 3));
        }
      }
      rig.print("trel::estimate_rig_pose", cameras, outliers);
      opengv.print("OpenGV GP3P RANSAC + optimize_nonlinear", cameras, outliers);
      gains.push_back({static_cast<double>(cameras), outliers, median(rig_camera.rotation), median(single.rotation),
                       median(rig_camera.centre), median(single.centre), median(rotation_ratio),
                       median(centre_ratio), static_cast<double>(single.success)});
    }
  std::printf("\n| cameras | outliers | rotation error rig / alone (deg) | centre error rig / alone | "
              "trace ratio rotation | trace ratio centre | alone: success |\n|---|---|---|---|---|---|---|\n");
  for (const std::vector<double>& g : gains)
    std::printf("| %.0f | %2.0f %% | %.4f / %.4f | %.4f / %.4f | %.3f | %.3f | %.0f / %d |\n", g[0], g[1] * 100, g[2],
                g[3], g[4], g[5], g[6], g[7], g[8], kScenes);
  std::fflush(stdout);
}

void bench_trel(benchmark::State& state) {
  std::vector<trel_test::Rig_scene> scenes;
  for (int k = 0; k < kBenchScenes; ++k)
    scenes.push_back(scene_of(static_cast<int>(state.range(0)), state.range(1) / 100.0, static_cast<unsigned>(k)));
  std::size_t k = 0;
  for (auto _ : state) benchmark::DoNotOptimize(trel_rig(scenes[k++ % scenes.size()]));
}

void bench_opengv(benchmark::State& state) {
  std::vector<Opengv_input> inputs;
  for (int k = 0; k < kBenchScenes; ++k)
    inputs.push_back(
        opengv_input(scene_of(static_cast<int>(state.range(0)), state.range(1) / 100.0, static_cast<unsigned>(k))));
  std::size_t k = 0;
  for (auto _ : state) benchmark::DoNotOptimize(opengv_rig(inputs[k++ % inputs.size()]));
}

void cells(benchmark::internal::Benchmark* b) {
  for (int cameras : kCameraCounts)
    for (int outliers : {0, 25, 50}) b->Args({cameras, outliers});
}

BENCHMARK(bench_trel)->Apply(cells)->Unit(benchmark::kMicrosecond);
BENCHMARK(bench_opengv)->Apply(cells)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  print_tables();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
