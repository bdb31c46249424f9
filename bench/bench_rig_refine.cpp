// The rig pose refinement's cost and minimum: trel::refine_rig_pose over rigs
// of 2 and 4 cameras against trel::refine_pose of one camera on the same total
// number of observations N, and against Ceres (Levenberg-Marquardt, dense
// normal Cholesky, one thread, automatic derivatives) on the same joint
// residuals, in the same run, on the same data.
//
// Rigs: camera 0 at the rig origin; the others 0.3 apart along x, turned a
// little; camera 1 distorts (5 coefficients, k1 = -0.25), the rest are
// pinholes. Observation i belongs to camera i % cameras; 0.5 px noise. The
// single camera of the refine_pose rows is camera 1 with the same N points.
// Start: 2 degrees and 0.1 off the true rig pose.
//
// Before timing, every rig result is compared with Ceres's minimum (rotation in
// degrees, centre relative); a gap beyond 1e-6 ends the program with status 1.
// At the end a table gives the medians (CPU time) and the ratios.
#include <benchmark/benchmark.h>

#include <ceres/ceres.h>
#include <ceres/rotation.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "trel_pose/rig_pose.h"
#include "trel_tools/rotation.h"

namespace {

constexpr double kNoise = 0.5;
constexpr double kAgreement = 1e-6;
const int kSizes[] = {10, 100, 1000, 10000};

struct Rig_problem {
  trel::Rig rig;
  std::vector<double> points, pixels, start;
  std::vector<int> cameras;
};

trel::Rig_camera camera_at(int c) {
  const std::vector<double> distortion =
      c == 1 ? std::vector<double>{-0.25, 0.08, 0.001, -0.0005, -0.01} : std::vector<double>{};
  trel::matrix<double> K(3, 3);
  K.set(0, 0, 800.0), K.set(0, 2, 320.0), K.set(1, 1, 790.0), K.set(1, 2, 240.0), K.set(2, 2, 1.0);
  trel::matrix<double> R = trel::rot_vec_rad_to_rot_mat(std::vector<double>{0.01 * c, -0.03 * c, 0.0});
  return trel::make_rig_camera(K, distortion, false, R, {0.3 * c, 0.0, 0.0});
}

void to_array(const trel::matrix<double>& m, double out[9]) {
  for (unsigned r = 0; r < 3; ++r)
    for (unsigned c = 0; c < 3; ++c) out[3 * r + c] = m[r][c];
}

// The pixel of world point X in rig camera c at the rig pose (R, t).
void project(const trel::Rig_camera& rc, const double* R, const double* t, const double* X, double pixel[2]) {
  trel::Pose_kernel_camera<double> camera;
  camera.model = rc.model;
  std::copy(rc.R_cam_to_rig, rc.R_cam_to_rig + 9, camera.R_cam_to_rig);
  std::copy(rc.centre_in_rig, rc.centre_in_rig + 3, camera.centre_in_rig);
  double R_cam[9], centre[3];
  trel::camera_pose_in_world(camera, R, t, R_cam, centre);
  trel::Lens_camera_at_pose<double>(camera.model, R_cam).pixel(X, centre, pixel);
}

Rig_problem make_problem(int cameras, int n, unsigned seed) {
  Rig_problem p;
  std::vector<trel::Rig_camera> list;
  for (int c = 0; c < cameras; ++c) list.push_back(camera_at(c));
  p.rig = trel::make_rig(list);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> lateral(-2.5, 2.5), depth(5.0, 9.0);
  std::normal_distribution<double> noise(0.0, kNoise);
  const std::vector<double> truth = {0.1, -0.2, 0.05, 0.5, -0.3, -1.0};
  double R[9];
  to_array(trel::rot_vec_rad_to_rot_mat(std::vector<double>{truth[0], truth[1], truth[2]}), R);
  for (int i = 0; i < n; ++i) {
    const double local[3] = {lateral(rng), lateral(rng), depth(rng)};
    double X[3], pixel[2];
    for (int r = 0; r < 3; ++r) X[r] = truth[3 + r] + R[3 * r] * local[0] + R[3 * r + 1] * local[1] + R[3 * r + 2] * local[2];
    const int c = i % cameras;
    project(p.rig.cameras[static_cast<std::size_t>(c)], R, &truth[3], X, pixel);
    p.points.insert(p.points.end(), X, X + 3);
    p.pixels.push_back(pixel[0] + noise(rng));
    p.pixels.push_back(pixel[1] + noise(rng));
    p.cameras.push_back(c);
  }
  p.start = {truth[0] + 0.02, truth[1] - 0.02, truth[2] + 0.01, truth[3] + 0.1, truth[4] - 0.05, truth[5] + 0.05};
  return p;
}

// The single camera's problem: camera 1 alone (at the rig origin) sees every point.
Rig_problem single_problem(int n) {
  Rig_problem p;
  trel::Rig_camera one = camera_at(1);
  std::fill(one.R_cam_to_rig, one.R_cam_to_rig + 9, 0.0);
  one.R_cam_to_rig[0] = one.R_cam_to_rig[4] = one.R_cam_to_rig[8] = 1.0;
  std::fill(one.centre_in_rig, one.centre_in_rig + 3, 0.0);
  p = make_problem(1, n, 99);
  p.rig.cameras[0] = one;
  // Observations of the distorting camera at the origin.
  const std::vector<double> truth = {0.1, -0.2, 0.05, 0.5, -0.3, -1.0};
  double R[9];
  to_array(trel::rot_vec_rad_to_rot_mat(std::vector<double>{truth[0], truth[1], truth[2]}), R);
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0.0, kNoise);
  for (int i = 0; i < n; ++i) {
    double pixel[2];
    project(one, R, &truth[3], &p.points[3 * static_cast<std::size_t>(i)], pixel);
    p.pixels[2 * static_cast<std::size_t>(i)] = pixel[0] + noise(rng);
    p.pixels[2 * static_cast<std::size_t>(i) + 1] = pixel[1] + noise(rng);
  }
  return p;
}

const Rig_problem& problem(int cameras, int n) {
  static std::map<std::pair<int, int>, Rig_problem> problems;
  const auto key = std::make_pair(cameras, n);
  auto it = problems.find(key);
  if (it == problems.end())
    it = problems.emplace(key, cameras == 0 ? single_problem(n) : make_problem(cameras, n, 17u + static_cast<unsigned>(n))).first;
  return it->second;
}

// One observation's residual for Ceres: the rig camera's pixel of X at the rig
// pose (rotation vector r of R_rig_to_world, centre t) minus the observation.
struct Rig_residual {
  const trel::Rig_camera* camera;
  const double* X;
  const double* observed;

  template <typename T>
  bool operator()(const T* r, const T* t, T* residual) const {
    const T v[3] = {T(X[0]) - t[0], T(X[1]) - t[1], T(X[2]) - t[2]};
    const T minus_r[3] = {-r[0], -r[1], -r[2]};
    T rig[3];  // R^T (X - t)
    ceres::AngleAxisRotatePoint(minus_r, v, rig);
    const double* Rc = camera->R_cam_to_rig;
    const double* tc = camera->centre_in_rig;
    T c[3];  // R_c^T (rig - t_c)
    for (int k = 0; k < 3; ++k)
      c[k] = T(Rc[k]) * (rig[0] - T(tc[0])) + T(Rc[3 + k]) * (rig[1] - T(tc[1])) + T(Rc[6 + k]) * (rig[2] - T(tc[2]));
    const T x = c[0] / c[2], y = c[1] / c[2];
    const double* k = camera->model.lens.k;  // k1 k2 p1 p2 k3 (k4..k6 zero here)
    const T r2 = x * x + y * y;
    const T radial = T(1) + T(k[0]) * r2 + T(k[1]) * r2 * r2 + T(k[4]) * r2 * r2 * r2;
    const T xd = x * radial + T(2 * k[2]) * x * y + T(k[3]) * (r2 + T(2) * x * x);
    const T yd = y * radial + T(k[2]) * (r2 + T(2) * y * y) + T(2 * k[3]) * x * y;
    const trel::Pinhole_model<double>& K = camera->model.pinhole;
    residual[0] = T(K.fx) * xd + T(K.skew) * yd + T(K.cx) - T(observed[0]);
    residual[1] = T(K.fy) * yd + T(K.cy) - T(observed[1]);
    return true;
  }
};

std::vector<double> refine_ceres(const Rig_problem& p) {
  std::vector<double> x = p.start;
  ceres::Problem problem;
  for (std::size_t i = 0; i < p.cameras.size(); ++i)
    problem.AddResidualBlock(new ceres::AutoDiffCostFunction<Rig_residual, 2, 3, 3>(new Rig_residual{
                                 &p.rig.cameras[static_cast<std::size_t>(p.cameras[i])], &p.points[3 * i], &p.pixels[2 * i]}),
                             nullptr, x.data(), x.data() + 3);
  ceres::Solver::Options o;
  o.linear_solver_type = ceres::DENSE_NORMAL_CHOLESKY;
  o.num_threads = 1;
  o.logging_type = ceres::SILENT;
  o.function_tolerance = 1e-14;
  o.gradient_tolerance = 1e-14;
  o.parameter_tolerance = 1e-12;
  ceres::Solver::Summary summary;
  ceres::Solve(o, &problem, &summary);
  return x;
}

trel::Pose_refine_options rig_options() {
  trel::Pose_refine_options o;
  o.covariance = false;
  return o;
}

std::vector<double> refine_rig(const Rig_problem& p, const trel::Pose_refine_options& o) {
  return trel::refine_rig_pose(p.rig, trel::Points_view(p.points), trel::Pixels_view(p.pixels), p.cameras, p.start, o).x;
}

double rotation_gap_degrees(const std::vector<double>& a, const std::vector<double>& b) {
  const trel::matrix<double> Ra = trel::rot_vec_rad_to_rot_mat(std::vector<double>{a[0], a[1], a[2]});
  const trel::matrix<double> Rb = trel::rot_vec_rad_to_rot_mat(std::vector<double>{b[0], b[1], b[2]});
  double trace = 0.0;
  for (unsigned r = 0; r < 3; ++r)
    for (unsigned c = 0; c < 3; ++c) trace += Ra[r][c] * Rb[r][c];
  return std::acos(std::max(-1.0, std::min(1.0, (trace - 1.0) / 2.0))) * 180.0 / M_PI;
}

double centre_gap(const std::vector<double>& a, const std::vector<double>& b) {
  double d = 0.0, n = 0.0;
  for (int k = 3; k < 6; ++k) d += (a[k] - b[k]) * (a[k] - b[k]), n += b[k] * b[k];
  return std::sqrt(d / n);
}

bool agreement_failed = false;

void bm_rig(benchmark::State& state, int cameras) {
  const Rig_problem& p = problem(cameras, static_cast<int>(state.range(0)));
  const trel::Pose_refine_options o = rig_options();
  for (auto _ : state) benchmark::DoNotOptimize(refine_rig(p, o).data());
}

void bm_single(benchmark::State& state) {
  const Rig_problem& p = problem(0, static_cast<int>(state.range(0)));
  const trel::Pose_refine_options o = rig_options();
  trel::Pose_kernel<double> workspace;
  for (auto _ : state)
    benchmark::DoNotOptimize(
        trel::refine_pose(p.rig.cameras[0].model, trel::Points_view(p.points), p.pixels, p.start, o, workspace).x.data());
}

void bm_ceres(benchmark::State& state, int cameras) {
  const Rig_problem& p = problem(cameras, static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(refine_ceres(p).data());
}

class Median_reporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        medians_[run.run_name.function_name + "/" + run.run_name.args] = run.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  double time(const std::string& name) const {
    const auto it = medians_.find(name);
    return it == medians_.end() ? NAN : it->second;
  }

private:
  std::map<std::string, double> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  std::printf("Agreement of refine_rig_pose with Ceres on the joint residuals (goal %.0e)\n", kAgreement);
  std::printf("| cameras | N | rotation (deg) | centre (rel) |\n|---|---|---|---|\n");
  for (int cameras : {2, 4})
    for (int n : kSizes) {
      trel::Pose_refine_options tight = rig_options();
      tight.max_iters = 50;
      const std::vector<double> ours = refine_rig(problem(cameras, n), tight);
      const std::vector<double> theirs = refine_ceres(problem(cameras, n));
      const double rotation = rotation_gap_degrees(ours, theirs), centre = centre_gap(ours, theirs);
      std::printf("| %d | %d | %.2e | %.2e |\n", cameras, n, rotation, centre);
      if (!(rotation <= kAgreement && centre <= kAgreement)) agreement_failed = true;
    }
  for (int n : kSizes) {
    benchmark::RegisterBenchmark("single", bm_single)->Arg(n)->Unit(benchmark::kMicrosecond);
    for (int cameras : {2, 4}) {
      benchmark::RegisterBenchmark(("rig" + std::to_string(cameras)).c_str(), bm_rig, cameras)->Arg(n)->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("ceres" + std::to_string(cameras)).c_str(), bm_ceres, cameras)->Arg(n)->Unit(benchmark::kMicrosecond);
    }
  }
  benchmark::Initialize(&argc, argv);
  Median_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n| N | refine_pose (us) | rig, 2 cameras (us) | ratio | rig, 4 cameras (us) | ratio | Ceres, 2 cameras (us) |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  for (int n : kSizes) {
    const std::string a = "/" + std::to_string(n);
    const double single = reporter.time("single" + a), two = reporter.time("rig2" + a), four = reporter.time("rig4" + a);
    std::printf("| %d | %.1f | %.1f | %.2f | %.1f | %.2f | %.1f |\n", n, single, two, two / single,
                four, four / single, reporter.time("ceres2" + a));
  }
  return agreement_failed ? 1 : 0;
}
