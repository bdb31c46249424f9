// One complete camera pose refinement, timed for several refiners on the same seeded
// scenes in one run, each compared with cv::solvePnPRefineLM (the peer) at the same
// number of points N:
//   - cv::solvePnPRefineLM with its default criteria;
//   - Ceres (Levenberg-Marquardt, DENSE_NORMAL_CHOLESKY, one thread) with a hand-written
//     reprojection Jacobian in our parameterisation (rotation vector r, camera centre t),
//     once as one residual block per point and once as one block for all points;
//   - Linear_taylor_solver with Camera_position_opt_func (code 0) and the analytic
//     Camera_position_grad_func_aau, built as the plug-in entry builds them, with the
//     entry's default criteria and with a tight stop (the reference pose);
//   - the same Linear_taylor_solver with its linear solve done by Eigen instead
//     (HouseholderQR of J, then a JacobiSVD of R with the same rank rule), both
//     criteria: the library candidate for the hand-written QR and SVD;
//   - camera_pose_refine_entry through the fake host at N = 1000, default criteria;
//   - refine_pose on its default path (the Gauss-Newton kernel, its default stop
//     rule, a workspace reused across calls, no covariance) and the framework road
//     (10 steps, as the plug-in runs it);
//   - the kernel with the Cauchy loss (scale 2 px) against the plain kernel, both
//     running exactly 4 steps, so that the two rows differ only by the loss;
//   - the plain kernel running exactly 10 steps, the step count of the framework row.
//
// Scene: pinhole camera, k11 = 800, principal point (320, 240), points in front of the
// camera, pixel noise sigma 0.5 px. Start pose: the true rotation turned by 3 degrees
// about a seeded random axis and the camera centre moved by 5 % of the mean point
// depth in a seeded random direction.
//
// Before timing, every method's result is compared with the reference pose
// (Linear_taylor_solver, 100 iterations, min_x_step 1e-8); a mismatch skips that
// benchmark with the figures and makes the program exit with status 1.
//
// Pose conventions. Ours: c = R^T (X - t), R camera to world, t the camera centre.
// OpenCV: x_cam = R_wc X + tvec, so R_wc = R^T, rvec = -r and tvec = -R^T t.
//
// At the end a table gives, per method and N, the median wall time over the
// repetitions (--benchmark_repetitions), its min..max and the ratio of medians to
// cv::solvePnPRefineLM at the same N; then the pose agreement figures.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include <Eigen/Dense>
#include <ceres/ceres.h>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "camera_pose_refine/camera_pose_refine.h"
#include "camera_pose_refine/camera_position_grad_funcs.h"
#include "camera_pose_refine/camera_position_opt_func.h"
#include "camera_pose_refine/framework_refine.h"
#include "tests/plugin/fake_mex_host.h"
#include "tests/synthetic_scene.h"
#include "trel_opt/linear_taylor_solver.h"
#include "trel_pose/pose_refinement.h"

namespace {

using trel::matrix;

// ---- scene and poses ----------------------------------------------------------

constexpr double kPi = 3.14159265358979323846;
constexpr double kPixelNoise = 0.5;          // px, standard deviation
constexpr double kStartRotationDeg = 3.0;   // rotation of the start pose off the truth
constexpr double kStartCentreFraction = 0.05;  // centre offset / mean point depth
constexpr double kMaxRotationDiffDeg = 1e-6;  // agreement with the reference pose
constexpr double kMaxCentreRelDiff = 1e-6;    // |t - t_ref| / |t_ref|
// The reference must lie near the truth: with sigma 0.5 px on at least 10 points the
// least-squares pose is within a few hundredths of a degree, far below the 3-degree start.
constexpr double kReferenceSanityDeg = 0.5;

// Our pose: rotation vector r of R (camera to world) and camera centre t (world).
struct Pose {
  cv::Vec3d r;
  cv::Vec3d t;
};

cv::Matx33d rot_mat(const cv::Vec3d& r) {
  cv::Matx33d R;
  cv::Rodrigues(r, R);
  return R;
}

cv::Vec3d rot_vec(const cv::Matx33d& R) {
  cv::Vec3d r;
  cv::Rodrigues(R, r);
  return r;
}

// Angle between two rotations in degrees, from |Ra - Rb|_F = 2 sqrt(2) sin(θ / 2),
// which stays accurate for tiny angles (an acos of the trace would not).
double rotation_diff_deg(const cv::Vec3d& ra, const cv::Vec3d& rb) {
  const double f = cv::norm(cv::Mat(rot_mat(ra) - rot_mat(rb)), cv::NORM_L2);
  return 2.0 * std::asin(std::min(1.0, f / (2.0 * std::sqrt(2.0)))) * 180.0 / kPi;
}

double centre_rel_diff(const cv::Vec3d& t, const cv::Vec3d& t_ref) {
  return cv::norm(t - t_ref) / cv::norm(t_ref);
}

cv::Vec3d to_vec3(const double* v) { return cv::Vec3d(v[0], v[1], v[2]); }

// Everything one N needs, built once and outside every timed region.
struct Problem_data {
  int n = 0;
  trel_test::Synthetic_scene scene;
  matrix<double> K;
  std::vector<std::vector<double>> points;  // world (X, Y, Z)
  std::vector<double> target;               // u0, v0, u1, v1, ...
  Pose start;
  std::vector<double> x0;                   // r, t of the start pose
  // OpenCV's view of the same problem.
  cv::Mat object_points;  // N x 3, CV_64F
  cv::Mat image_points;   // N x 2, CV_64F
  cv::Mat camera_matrix;  // 3 x 3
  cv::Mat rvec0, tvec0;   // start pose, world to camera
  Pose reference;
};

Pose start_pose(const trel_test::Synthetic_scene& scene, unsigned seed) {
  std::mt19937 rng(seed);
  const std::vector<double> axis = trel_test::random_unit_vector(rng);
  const std::vector<double> dir = trel_test::random_unit_vector(rng);
  double mean_depth = 0.0;
  for (const auto& c : scene.points_in_cam) mean_depth += c[2];
  mean_depth /= static_cast<double>(scene.points_in_cam.size());
  const double angle = kStartRotationDeg * kPi / 180.0;
  const cv::Vec3d delta(axis[0] * angle, axis[1] * angle, axis[2] * angle);
  Pose p;
  p.r = rot_vec(rot_mat(delta) * scene.rot_mat);
  p.t = to_vec3(scene.centre.data()) + kStartCentreFraction * mean_depth * to_vec3(dir.data());
  return p;
}

std::vector<double> to_search_vector(const Pose& p) {
  return {p.r[0], p.r[1], p.r[2], p.t[0], p.t[1], p.t[2]};
}

Pose from_search_vector(const std::vector<double>& x) { return {to_vec3(&x[0]), to_vec3(&x[3])}; }

// ---- Linear_taylor_solver, built as the plug-in entry builds it ---------------

// The step's linear solve by Eigen: a Householder QR of J (rows >= cols here),
// c = (Q^T r)[0, cols), then a Jacobi SVD of the cols x cols factor R and the
// pseudo-inverse solution with the kernel's rank rule (singular values at or below
// 2 eps sum(sigma), or relative_tolerance max(sigma), count as zero). Fixed-size
// SVD for the 6 unknowns of the benchmarked problem.
class Eigen_step_solver : public trel::Linear_taylor_solver {
protected:
  void solve_linear_system(const cv::Mat& jacobian, const std::vector<double>& residual, std::vector<double>& dx,
                           double relative_tolerance) override {
    using Row_major = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
    const int cols = jacobian.cols;
    qr_.compute(Eigen::Map<const Row_major>(jacobian.ptr<double>(0), jacobian.rows, cols));
    const Eigen::VectorXd qtb =
        qr_.householderQ().adjoint() * Eigen::Map<const Eigen::VectorXd>(residual.data(), jacobian.rows);
    const Eigen::MatrixXd R = qr_.matrixQR().topRows(cols).triangularView<Eigen::Upper>();
    if (cols == 6) {
      svd6_.compute(Eigen::Matrix<double, 6, 6>(R), Eigen::ComputeFullU | Eigen::ComputeFullV);
      min_norm(svd6_, qtb.head(cols), relative_tolerance, dx);
    } else {
      svd_.compute(R, Eigen::ComputeFullU | Eigen::ComputeFullV);
      min_norm(svd_, qtb.head(cols), relative_tolerance, dx);
    }
  }

private:
  template <class Svd>
  static void min_norm(const Svd& svd, const Eigen::VectorXd& c, double relative_tolerance, std::vector<double>& dx) {
    const auto& sigma = svd.singularValues();
    const double threshold =
        std::max(2.0 * std::numeric_limits<double>::epsilon() * sigma.sum(), relative_tolerance * sigma.maxCoeff());
    Eigen::VectorXd y = svd.matrixU().transpose() * c;
    for (int j = 0; j < y.size(); ++j) y[j] = sigma[j] > threshold ? y[j] / sigma[j] : 0.0;
    const Eigen::VectorXd x = svd.matrixV() * y;
    for (int j = 0; j < x.size(); ++j) dx[static_cast<std::size_t>(j)] = x[j];
  }

  Eigen::HouseholderQR<Eigen::MatrixXd> qr_;
  Eigen::JacobiSVD<Eigen::MatrixXd> svd_;
  Eigen::JacobiSVD<Eigen::Matrix<double, 6, 6>> svd6_;
};

template <class Solver = trel::Linear_taylor_solver>
std::vector<double> refine_linear_taylor(const Problem_data& d, int max_iters, float min_x_step) {
  Solver solver;
  solver.set_num_dimensions(6);
  solver.set_num_equations(static_cast<int>(d.target.size()));
  solver.set_max_iters(max_iters);
  solver.set_min_x_step(min_x_step);
  solver.set_min_y_step(-10000.0f);
  auto* cost = new trel::Camera_position_opt_func(d.points, d.K, 0);
  solver.set_grad_funcs({new trel::Camera_position_grad_func_aau(cost, d.points, d.K)});
  return solver.optimise(d.x0, d.target);
}

std::vector<double> refine_linear_taylor_default(const Problem_data& d) {
  return refine_linear_taylor(d, 10, 0.0f);
}
std::vector<double> refine_linear_taylor_tight(const Problem_data& d) {
  return refine_linear_taylor(d, 100, 1e-8f);
}
std::vector<double> refine_eigen_default(const Problem_data& d) {
  return refine_linear_taylor<Eigen_step_solver>(d, 10, 0.0f);
}
std::vector<double> refine_eigen_tight(const Problem_data& d) {
  return refine_linear_taylor<Eigen_step_solver>(d, 100, 1e-8f);
}

// ---- cv::solvePnPRefineLM -------------------------------------------------------

// Refines rvec, tvec (world to camera) in place, default criteria.
void refine_pnp(const Problem_data& d, cv::Mat& rvec, cv::Mat& tvec) {
  d.rvec0.copyTo(rvec);
  d.tvec0.copyTo(tvec);
  cv::solvePnPRefineLM(d.object_points, d.image_points, d.camera_matrix, cv::Mat(), rvec, tvec);
}

Pose pose_from_opencv(const cv::Mat& rvec, const cv::Mat& tvec) {
  const cv::Vec3d rv(rvec.ptr<double>()), tv(tvec.ptr<double>());
  const cv::Matx33d R_wc = rot_mat(rv);
  return {-rv, -(R_wc.t() * tv)};
}

// ---- Ceres: hand-written reprojection Jacobian in r, t ------------------------

// R^T and the right Jacobian J_r of the rotation vector r, with
// R = I + a [r]x + b [r]x^2 and J_r = I - b [r]x + c [r]x^2,
// a = sin θ / θ, b = (1 - cos θ) / θ², c = (θ - sin θ) / θ³. Perturbing r by δ turns
// c = R^T d into c + [c]x J_r δ, so dc/dr = [c]x J_r and dc/dt = -R^T.
struct Rotation_terms {
  double Rt[3][3];
  double Jr[3][3];
};

Rotation_terms rotation_terms(const double* r) {
  const double s = r[0] * r[0] + r[1] * r[1] + r[2] * r[2];
  const double theta = std::sqrt(s);
  double a, b, c;
  if (theta < 1e-2) {  // series: the first omitted terms are below 1e-16 here
    a = 1.0 - s / 6.0 + s * s / 120.0;
    b = 0.5 - s / 24.0 + s * s / 720.0;
    c = 1.0 / 6.0 - s / 120.0 + s * s / 5040.0;
  } else {
    a = std::sin(theta) / theta;
    b = (1.0 - std::cos(theta)) / s;
    c = (theta - std::sin(theta)) / (s * theta);
  }
  const double W[3][3] = {{0.0, -r[2], r[1]}, {r[2], 0.0, -r[0]}, {-r[1], r[0], 0.0}};
  double W2[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) W2[i][j] = r[i] * r[j] - (i == j ? s : 0.0);
  Rotation_terms out;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const double id = i == j ? 1.0 : 0.0;
      out.Rt[i][j] = id - a * W[i][j] + b * W2[i][j];  // R^T: [r]x changes sign
      out.Jr[i][j] = id - b * W[i][j] + c * W2[i][j];
    }
  return out;
}

struct Intrinsics {
  double f, cx, cy;
};

// Residual (u - u_obs, v - v_obs) of one point and, when the pointers are not null,
// its row-major 2 x 3 Jacobians with respect to r and t.
void reprojection(const Rotation_terms& rot, const double* t, const double* X, const double* obs,
                  const Intrinsics& k, double* residual, double* jac_r, double* jac_t) {
  const double d[3] = {X[0] - t[0], X[1] - t[1], X[2] - t[2]};
  double c[3];
  for (int i = 0; i < 3; ++i) c[i] = rot.Rt[i][0] * d[0] + rot.Rt[i][1] * d[1] + rot.Rt[i][2] * d[2];
  const double iz = 1.0 / c[2];
  residual[0] = k.f * c[0] * iz + k.cx - obs[0];
  residual[1] = k.f * c[1] * iz + k.cy - obs[1];
  if (jac_r == nullptr && jac_t == nullptr) return;
  // Rows of d(u, v)/dc.
  const double g[2][3] = {{k.f * iz, 0.0, -k.f * c[0] * iz * iz}, {0.0, k.f * iz, -k.f * c[1] * iz * iz}};
  if (jac_r != nullptr) {
    const double C[3][3] = {{0.0, -c[2], c[1]}, {c[2], 0.0, -c[0]}, {-c[1], c[0], 0.0}};
    double M[3][3];  // [c]x J_r
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) M[i][j] = C[i][0] * rot.Jr[0][j] + C[i][1] * rot.Jr[1][j] + C[i][2] * rot.Jr[2][j];
    for (int row = 0; row < 2; ++row)
      for (int j = 0; j < 3; ++j) jac_r[3 * row + j] = g[row][0] * M[0][j] + g[row][1] * M[1][j] + g[row][2] * M[2][j];
  }
  if (jac_t != nullptr)
    for (int row = 0; row < 2; ++row)
      for (int j = 0; j < 3; ++j)
        jac_t[3 * row + j] = -(g[row][0] * rot.Rt[0][j] + g[row][1] * rot.Rt[1][j] + g[row][2] * rot.Rt[2][j]);
}

// One point, parameter blocks r (3) and t (3).
class Point_reprojection_cost final : public ceres::SizedCostFunction<2, 3, 3> {
public:
  Point_reprojection_cost(const double* X, const double* obs, Intrinsics k)
      : X_{X[0], X[1], X[2]}, obs_{obs[0], obs[1]}, k_(k) {}
  bool Evaluate(double const* const* parameters, double* residuals, double** jacobians) const override {
    const Rotation_terms rot = rotation_terms(parameters[0]);
    reprojection(rot, parameters[1], X_, obs_, k_, residuals, jacobians ? jacobians[0] : nullptr,
                 jacobians ? jacobians[1] : nullptr);
    return true;
  }

private:
  double X_[3];
  double obs_[2];
  Intrinsics k_;
};

// All points in one residual block of 2 N rows; the rotation terms are computed once.
class All_points_reprojection_cost final : public ceres::CostFunction {
public:
  explicit All_points_reprojection_cost(const Problem_data& d) : d_(d), k_{d.scene.k11, d.scene.k13, d.scene.k23} {
    set_num_residuals(2 * d.n);
    mutable_parameter_block_sizes()->assign({3, 3});
  }
  bool Evaluate(double const* const* parameters, double* residuals, double** jacobians) const override {
    const Rotation_terms rot = rotation_terms(parameters[0]);
    double* jr = jacobians ? jacobians[0] : nullptr;
    double* jt = jacobians ? jacobians[1] : nullptr;
    for (int i = 0; i < d_.n; ++i)
      reprojection(rot, parameters[1], d_.points[i].data(), &d_.target[2 * i], k_, residuals + 2 * i,
                   jr ? jr + 6 * i : nullptr, jt ? jt + 6 * i : nullptr);
    return true;
  }

private:
  const Problem_data& d_;
  Intrinsics k_;
};

ceres::Solver::Options ceres_options() {
  ceres::Solver::Options o;
  o.linear_solver_type = ceres::DENSE_NORMAL_CHOLESKY;
  o.num_threads = 1;
  o.minimizer_progress_to_stdout = false;
  o.logging_type = ceres::SILENT;
  // Every stopping tolerance and the iteration limit stay at Ceres's defaults.
  return o;
}

// Builds the problem (as a user does for every refinement) and solves it; r and t
// start at the start pose and hold the result.
void refine_ceres(const Problem_data& d, bool one_block, double* r, double* t, ceres::Solver::Summary* summary) {
  std::copy(d.x0.begin(), d.x0.begin() + 3, r);
  std::copy(d.x0.begin() + 3, d.x0.end(), t);
  ceres::Problem problem;
  if (one_block) {
    problem.AddResidualBlock(new All_points_reprojection_cost(d), nullptr, r, t);
  } else {
    const Intrinsics k{d.scene.k11, d.scene.k13, d.scene.k23};
    for (int i = 0; i < d.n; ++i)
      problem.AddResidualBlock(new Point_reprojection_cost(d.points[i].data(), &d.target[2 * i], k), nullptr, r, t);
  }
  ceres::Solve(ceres_options(), &problem, summary);
}

// ---- data per N ---------------------------------------------------------------

Problem_data build_problem(int n) {
  Problem_data d;
  d.n = n;
  trel_test::Scene_options options;
  options.pixel_noise = kPixelNoise;
  d.scene = trel_test::make_scene(20240u + static_cast<unsigned>(n), n, options);
  d.K = trel_test::intrinsics(d.scene.k11, d.scene.k13, d.scene.k23);
  d.points = d.scene.points_world;
  for (const auto& p : d.scene.pixels) d.target.insert(d.target.end(), p.begin(), p.end());
  d.start = start_pose(d.scene, 777u + static_cast<unsigned>(n));
  d.x0 = to_search_vector(d.start);

  d.object_points = cv::Mat(n, 3, CV_64F);
  d.image_points = cv::Mat(n, 2, CV_64F);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < 3; ++j) d.object_points.at<double>(i, j) = d.points[i][j];
    for (int j = 0; j < 2; ++j) d.image_points.at<double>(i, j) = d.scene.pixels[i][j];
  }
  d.camera_matrix = (cv::Mat_<double>(3, 3) << d.scene.k11, 0, d.scene.k13, 0, d.scene.k11, d.scene.k23, 0, 0, 1);
  const cv::Matx33d R_wc = rot_mat(d.start.r).t();
  d.rvec0 = cv::Mat(-d.start.r).clone();
  d.tvec0 = cv::Mat(-(R_wc * d.start.t)).clone();

  d.reference = from_search_vector(refine_linear_taylor_tight(d));
  return d;
}

const Problem_data& problem(int n) {
  static std::map<int, std::unique_ptr<Problem_data>> cache;
  auto& slot = cache[n];
  if (!slot) slot = std::make_unique<Problem_data>(build_problem(n));
  return *slot;
}

// ---- agreement check -----------------------------------------------------------

struct Agreement {
  std::string method;
  int n;
  double rotation_deg;
  double centre_rel;
  bool ok;
};

std::vector<Agreement> g_agreement;
bool g_failed = false;

// Records how far `result` lies from the reference; on a mismatch skips the benchmark
// with the figures. Returns whether timing may go on.
bool agrees_with_reference(benchmark::State& state, const std::string& method, const Problem_data& d,
                           const Pose& result) {
  const double rot = rotation_diff_deg(result.r, d.reference.r);
  const double cen = centre_rel_diff(result.t, d.reference.t);
  const bool ok = rot <= kMaxRotationDiffDeg && cen <= kMaxCentreRelDiff;  // NaN fails
  if (g_agreement.empty() || g_agreement.back().method != method || g_agreement.back().n != d.n)
    g_agreement.push_back({method, d.n, rot, cen, ok});
  if (!ok) {
    g_failed = true;
    char text[256];
    std::snprintf(text, sizeof text, "pose differs from the reference: rotation %.3g deg, centre %.3g relative",
                  rot, cen);
    state.SkipWithError(text);
  }
  return ok;
}

// ---- benchmarks -----------------------------------------------------------------

// Timed: restoring the start pose and the solvePnPRefineLM call.
void BM_SolvePnPRefineLM(benchmark::State& state) {
  const Problem_data& d = problem(static_cast<int>(state.range(0)));
  cv::Mat rvec, tvec;
  refine_pnp(d, rvec, tvec);
  if (!agrees_with_reference(state, "cv::solvePnPRefineLM", d, pose_from_opencv(rvec, tvec))) return;
  for (auto _ : state) {
    refine_pnp(d, rvec, tvec);
    benchmark::DoNotOptimize(rvec.data);
    benchmark::DoNotOptimize(tvec.data);
    benchmark::ClobberMemory();
  }
}

// Timed: building the Ceres problem (cost functions, residual blocks) and Solve.
void ceres_benchmark(benchmark::State& state, bool one_block, const char* method) {
  const Problem_data& d = problem(static_cast<int>(state.range(0)));
  double r[3], t[3];
  ceres::Solver::Summary summary;
  refine_ceres(d, one_block, r, t, &summary);
  if (!agrees_with_reference(state, method, d, {to_vec3(r), to_vec3(t)})) return;
  for (auto _ : state) {
    refine_ceres(d, one_block, r, t, &summary);
    benchmark::DoNotOptimize(r);
    benchmark::DoNotOptimize(t);
    benchmark::ClobberMemory();
  }
  state.counters["iterations"] = static_cast<double>(summary.iterations.size());
}
void BM_CeresPerPoint(benchmark::State& state) { ceres_benchmark(state, false, "Ceres, block per point"); }
void BM_CeresOneBlock(benchmark::State& state) { ceres_benchmark(state, true, "Ceres, one block"); }

// Timed: what one plug-in call does past its argument checks: constructing the cost
// function, the gradient function (each copying the points and K) and the solver,
// configuring it and optimise.
void linear_taylor_benchmark(benchmark::State& state, std::vector<double> (*refine)(const Problem_data&),
                             const char* method) {
  const Problem_data& d = problem(static_cast<int>(state.range(0)));
  if (!agrees_with_reference(state, method, d, from_search_vector(refine(d)))) return;
  for (auto _ : state) {
    std::vector<double> x = refine(d);
    benchmark::DoNotOptimize(x.data());
    benchmark::ClobberMemory();
  }
}
void BM_LinearTaylorDefault(benchmark::State& state) {
  linear_taylor_benchmark(state, refine_linear_taylor_default, "Linear_taylor_solver, 10 iters");
}
void BM_LinearTaylorTight(benchmark::State& state) {
  linear_taylor_benchmark(state, refine_linear_taylor_tight, "Linear_taylor_solver, x step 1e-8");
}
void BM_EigenStepDefault(benchmark::State& state) {
  linear_taylor_benchmark(state, refine_eigen_default, "Eigen QR + SVD step, 10 iters");
}
void BM_EigenStepTight(benchmark::State& state) {
  linear_taylor_benchmark(state, refine_eigen_tight, "Eigen QR + SVD step, x step 1e-8");
}

// Timed: the entry call (argument checks and conversion included) and reading its
// output. The input arrays are built once, outside. The fake host keeps every output
// array it creates until it is destroyed (a few dozen bytes per call).
void BM_PoseRefineEntry(benchmark::State& state) {
  const Problem_data& d = problem(static_cast<int>(state.range(0)));
  trel::testing::Fake_mex_host host;
  std::vector<double> camera(d.x0);
  camera.insert(camera.end(), {d.scene.k11, d.scene.k13, d.scene.k23});
  std::vector<double> points_cm, pixels_cm;  // column i = point i
  for (int i = 0; i < d.n; ++i) {
    points_cm.insert(points_cm.end(), d.points[i].begin(), d.points[i].end());
    pixels_cm.insert(pixels_cm.end(), d.scene.pixels[i].begin(), d.scene.pixels[i].end());
  }
  const std::size_t n = static_cast<std::size_t>(d.n);
  const trel::Mex_array* prhs[3] = {host.row(camera), host.matrix(3, n, points_cm), host.matrix(2, n, pixels_cm)};
  auto call = [&](std::vector<double>& out) {
    trel::Mex_array* plhs[1] = {nullptr};
    trel::camera_pose_refine_entry(host, 1, plhs, 3, prhs);
    if (plhs[0] == nullptr) return false;
    const double* pr = host.get_pr(plhs[0]);
    out.assign(pr, pr + 6);
    return true;
  };
  std::vector<double> x;
  if (!call(x)) {
    g_failed = true;
    state.SkipWithError(host.errors.empty() ? "no output" : host.errors.back().text.c_str());
    return;
  }
  if (!agrees_with_reference(state, "camera_pose_refine_entry", d, from_search_vector(x))) return;
  for (auto _ : state) {
    call(x);
    benchmark::DoNotOptimize(x.data());
    benchmark::ClobberMemory();
  }
}

// Timed: one refine_pose call (argument checks, conversions, summary).
trel::Pose_refine_options refine_pose_options() {
  trel::Pose_refine_options options;
  options.covariance = false;
  return options;
}

// refine_pose on a workspace kept across calls, or the plug-in's framework road.
trel::Pose_refine_result refine_once(const Problem_data& d, const trel::Pose_refine_options& options, bool framework,
                                     trel::Pose_kernel<double>& workspace) {
  if (framework) return trel::refine_pose_by_framework(d.K, d.points, d.target, d.x0, options);
  return trel::refine_pose(d.K, d.points, d.target, d.x0, options, workspace);
}

void refine_pose_benchmark(benchmark::State& state, const trel::Pose_refine_options& options, const char* method,
                           bool check, bool framework = false) {
  const Problem_data& d = problem(static_cast<int>(state.range(0)));
  trel::Pose_kernel<double> workspace;
  trel::Pose_refine_result r = refine_once(d, options, framework, workspace);
  if (check && !agrees_with_reference(state, method, d, from_search_vector(r.x))) return;
  for (auto _ : state) {
    r = refine_once(d, options, framework, workspace);
    benchmark::DoNotOptimize(r.x.data());
    benchmark::ClobberMemory();
  }
  state.counters["iterations"] = r.summary.iterations;
}
void BM_RefinePoseKernel(benchmark::State& state) {
  refine_pose_benchmark(state, refine_pose_options(), "refine_pose, kernel", true);
}
void BM_RefinePoseFramework(benchmark::State& state) {
  refine_pose_benchmark(state, refine_pose_options(), "refine_pose, framework, 10 iters", true, true);
}
trel::Pose_refine_options fixed_steps(int steps, trel::Loss loss) {
  trel::Pose_refine_options options = refine_pose_options();
  options.max_iters = steps;
  options.step_tolerance = 0.0;
  options.cost_tolerance = 0.0;  // never skip a step for its small predicted decrease
  options.loss = loss;
  options.loss_scale = 2.0;
  return options;
}
void BM_KernelPlain4(benchmark::State& state) {
  refine_pose_benchmark(state, fixed_steps(4, trel::Loss::squared), "refine_pose, kernel, 4 steps", true);
}
// The kernel for exactly the framework's 10 steps: the same step count on both sides.
void BM_KernelPlain10(benchmark::State& state) {
  refine_pose_benchmark(state, fixed_steps(10, trel::Loss::squared), "refine_pose, kernel, 10 steps", true);
}
// The Cauchy fit is a different minimum from the least-squares reference: not compared.
void BM_KernelCauchy4(benchmark::State& state) {
  refine_pose_benchmark(state, fixed_steps(4, trel::Loss::cauchy), "refine_pose, kernel, cauchy, 4 steps", false);
}

// ---- results table --------------------------------------------------------------

// Collects wall times per benchmark: the median, min and max aggregates when
// repetitions produced them, the single run otherwise.
class Table_reporter : public benchmark::ConsoleReporter {
public:
  // Colour only on a terminal, so that redirected output stays plain text.
  Table_reporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_ColorTabular : OO_Tabular) {}

  struct Figures {
    double median = NAN, min = NAN, max = NAN;
    double single = NAN;
    std::string error;
  };

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      Figures& f = figures_[{run.run_name.function_name, run.run_name.args}];
      if (run.error_occurred) {
        f.error = run.error_message;
        continue;
      }
      const double us = run.GetAdjustedRealTime();  // every benchmark here reports microseconds
      if (run.run_type == Run::RT_Iteration) {
        f.single = us;
      } else if (run.aggregate_name == "median") {
        f.median = us;
      } else if (run.aggregate_name == "min") {
        f.min = us;
      } else if (run.aggregate_name == "max") {
        f.max = us;
      }
    }
  }

  std::map<std::pair<std::string, std::string>, Figures> figures_;
};

struct Method {
  const char* function;
  const char* label;
};

const Method kMethods[] = {
    {"BM_SolvePnPRefineLM", "cv::solvePnPRefineLM (peer)"},
    {"BM_CeresPerPoint", "Ceres, block per point"},
    {"BM_CeresOneBlock", "Ceres, one block"},
    {"BM_LinearTaylorDefault", "Linear_taylor_solver, 10 iters"},
    {"BM_LinearTaylorTight", "Linear_taylor_solver, x step 1e-8"},
    {"BM_EigenStepDefault", "Eigen QR + SVD step, 10 iters"},
    {"BM_EigenStepTight", "Eigen QR + SVD step, x step 1e-8"},
    {"BM_PoseRefineEntry", "camera_pose_refine_entry"},
    {"BM_RefinePoseKernel", "refine_pose, kernel"},
    {"BM_RefinePoseFramework", "refine_pose, framework, 10 iters"},
    {"BM_KernelPlain10", "kernel, squared, 10 steps"},
    {"BM_KernelPlain4", "kernel, squared, 4 steps"},
    {"BM_KernelCauchy4", "kernel, cauchy, 4 steps"},
};

const int kSizes[] = {10, 100, 1000, 10000};

void print_table(const Table_reporter& reporter) {
  std::printf("\nWhole pose refinement, wall time per call (us), ratio = median / cv::solvePnPRefineLM median\n");
  std::printf("%-36s %6s %12s %25s %8s\n", "method", "N", "median", "min..max", "ratio");
  for (int n : kSizes) {
    const std::string arg = std::to_string(n);
    const auto peer = reporter.figures_.find({kMethods[0].function, arg});
    double peer_median = NAN;
    if (peer != reporter.figures_.end())
      peer_median = std::isnan(peer->second.median) ? peer->second.single : peer->second.median;
    for (const Method& m : kMethods) {
      const auto it = reporter.figures_.find({m.function, arg});
      if (it == reporter.figures_.end()) continue;
      const Table_reporter::Figures& f = it->second;
      if (!f.error.empty()) {
        std::printf("%-36s %6d  skipped: %s\n", m.label, n, f.error.c_str());
        continue;
      }
      const bool repeated = !std::isnan(f.median);
      const double median = repeated ? f.median : f.single;
      char spread[64] = "(one run)";
      if (repeated) std::snprintf(spread, sizeof spread, "%.1f..%.1f", f.min, f.max);
      std::printf("%-36s %6d %12.1f %25s %8.2f\n", m.label, n, median, spread, median / peer_median);
    }
  }
  std::printf("\nAgreement with the reference pose (Linear_taylor_solver, 100 iters, x step 1e-8)\n");
  std::printf("%-36s %6s %16s %16s\n", "method", "N", "rotation (deg)", "centre (rel)");
  for (const Agreement& a : g_agreement)
    std::printf("%-36s %6d %16.3g %16.3g%s\n", a.method.c_str(), a.n, a.rotation_deg, a.centre_rel,
                a.ok ? "" : "  MISMATCH");
}

// ---- Jacobian check --------------------------------------------------------------

// The hand-written Ceres Jacobian against central differences at the start pose of
// the N = 10 scene. Returns false, printing the worst element, when they disagree.
bool ceres_jacobian_matches_differences() {
  const Problem_data& d = problem(10);
  const All_points_reprojection_cost cost(d);
  const int rows = 2 * d.n;
  std::vector<double> params = d.x0;
  std::vector<double> res(rows), jr(rows * 3), jt(rows * 3);
  const double* blocks[2] = {&params[0], &params[3]};
  double* jacobians[2] = {jr.data(), jt.data()};
  cost.Evaluate(blocks, res.data(), jacobians);
  // Step and tolerance: central differences of pixel residuals (hundreds of px per
  // unit) with h = 1e-6 carry truncation ~1e-9 and rounding ~1e-7 px per unit.
  const double h = 1e-6, tolerance = 1e-5;
  double worst = 0.0;
  for (int p = 0; p < 6; ++p) {
    std::vector<double> plus = params, minus = params, rp(rows), rm(rows);
    plus[p] += h;
    minus[p] -= h;
    const double* bp[2] = {&plus[0], &plus[3]};
    const double* bm[2] = {&minus[0], &minus[3]};
    cost.Evaluate(bp, rp.data(), nullptr);
    cost.Evaluate(bm, rm.data(), nullptr);
    for (int k = 0; k < rows; ++k) {
      const double numeric = (rp[k] - rm[k]) / (2.0 * h);
      const double analytic = p < 3 ? jr[3 * k + p] : jt[3 * k + p - 3];
      worst = std::max(worst, std::fabs(numeric - analytic) / std::max(1.0, std::fabs(numeric)));
    }
  }
  if (worst > tolerance) {
    std::fprintf(stderr, "Ceres reprojection Jacobian differs from central differences by %.3g\n", worst);
    return false;
  }
  return true;
}

void sizes(benchmark::internal::Benchmark* b) {
  for (int n : kSizes) b->Arg(n);
}

void register_benchmarks() {
  auto with_stats = [](benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMicrosecond)
        ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
        ->ComputeStatistics("max", [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); });
  };
  with_stats(benchmark::RegisterBenchmark("BM_SolvePnPRefineLM", BM_SolvePnPRefineLM)->Apply(sizes));
  with_stats(benchmark::RegisterBenchmark("BM_CeresPerPoint", BM_CeresPerPoint)->Apply(sizes));
  with_stats(benchmark::RegisterBenchmark("BM_CeresOneBlock", BM_CeresOneBlock)->Apply(sizes));
  with_stats(benchmark::RegisterBenchmark("BM_LinearTaylorDefault", BM_LinearTaylorDefault)->Apply(sizes));
  with_stats(benchmark::RegisterBenchmark("BM_LinearTaylorTight", BM_LinearTaylorTight)->Apply(sizes));
  with_stats(benchmark::RegisterBenchmark("BM_EigenStepDefault", BM_EigenStepDefault)->Apply(sizes));
  with_stats(benchmark::RegisterBenchmark("BM_EigenStepTight", BM_EigenStepTight)->Apply(sizes));
  with_stats(benchmark::RegisterBenchmark("BM_PoseRefineEntry", BM_PoseRefineEntry)->Arg(1000));
  with_stats(benchmark::RegisterBenchmark("BM_RefinePoseKernel", BM_RefinePoseKernel)->Apply(sizes));
  with_stats(benchmark::RegisterBenchmark("BM_RefinePoseFramework", BM_RefinePoseFramework)->Apply(sizes));
  with_stats(benchmark::RegisterBenchmark("BM_KernelPlain10", BM_KernelPlain10)->Apply(sizes));
  with_stats(benchmark::RegisterBenchmark("BM_KernelPlain4", BM_KernelPlain4)->Apply(sizes));
  with_stats(benchmark::RegisterBenchmark("BM_KernelCauchy4", BM_KernelCauchy4)->Apply(sizes));
}

// The reference itself must have moved from the start to near the truth, or every
// agreement above would be measured against a wrong pose.
bool references_are_sound() {
  bool sound = true;
  for (int n : kSizes) {
    const Problem_data& d = problem(n);
    const double to_truth = rotation_diff_deg(d.reference.r, to_vec3(d.scene.rot_vec.data()));
    if (!(to_truth < kReferenceSanityDeg)) {
      std::fprintf(stderr, "reference pose at N = %d is %.3g degrees off the true rotation\n", n, to_truth);
      sound = false;
    }
  }
  return sound;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!ceres_jacobian_matches_differences() || !references_are_sound()) return 1;
  register_benchmarks();
  Table_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  print_table(reporter);
  benchmark::Shutdown();
  return g_failed ? 1 : 0;
}
