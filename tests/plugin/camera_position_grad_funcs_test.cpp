#include "camera_pose_refine/camera_position_grad_funcs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "camera_pose_refine/camera_position_opt_func.h"
#include "tests/synthetic_scene.h"
#include "trel_tools/exception_l.h"

namespace {

using namespace trel;

// Central differences with h = 1e-6 max(1, |x|): truncation ~h² |f'''| and
// rounding ~1e-16 |f| / h stay below 1e-6 of the largest derivative of a row.
constexpr double kFdRelTol = 1e-6;
// Relations that hold exactly in real arithmetic, checked on values up to ~1e4.
constexpr double kRelationTol = 1e-9;
// A value the gradient functions never write, to spot rows written out of place.
constexpr double kSentinel = -12345.0;

using trel_test::intrinsics;

enum class Form { rot_vec, ang_axis, quaternion };

template <class G> struct Traits;
#define TRAITS(cls, code_, form_, nrot_, rows_, tangent_)                                              \
  template <> struct Traits<cls> {                                                                      \
    static constexpr int code = code_, nrot = nrot_, rows = rows_;                                      \
    static constexpr Form form = Form::form_;                                                           \
    /* exact only along directions that keep the axis or quaternion at unit length */                   \
    static constexpr bool tangent_only = tangent_;                                                      \
  }
TRAITS(Camera_position_grad_func_aau, 0, rot_vec, 3, 2, false);
TRAITS(Camera_position_grad_func_aan, 1, ang_axis, 4, 2, false);
TRAITS(Camera_position_grad_func_qu, 2, quaternion, 4, 2, false);
TRAITS(Camera_position_grad_func_qn, 3, quaternion, 4, 2, false);
TRAITS(Camera_position_grad_func_aau_bv, 10, rot_vec, 3, 3, false);
TRAITS(Camera_position_grad_func_aan_bv, 11, ang_axis, 4, 3, false);
TRAITS(Camera_position_grad_func_qu_bv, 12, quaternion, 4, 3, false);
#undef TRAITS

struct Grad_setup {
  std::vector<std::vector<double>> points;
  matrix<double> K;
  std::vector<double> x;
};

// A random pose with its points in front of the camera, as the class's search vector.
// Unless tangent_only, axes and quaternions are given a non-unit length.
template <class G>
Grad_setup make_setup(unsigned seed, int num_points) {
  using T = Traits<G>;
  const trel_test::Synthetic_scene s = trel_test::make_scene(seed, num_points);
  Grad_setup out{s.points_world, T::rows == 3 ? intrinsics(1, 0, 0) : intrinsics(s.k11, s.k13, s.k23), {}};
  if (T::form == Form::rot_vec) out.x = s.rot_vec;
  if (T::form == Form::ang_axis) {
    out.x = s.ang_axis;
    if (!T::tangent_only)
      for (int k = 0; k < 3; ++k) out.x[k] *= 1.3;
  }
  if (T::form == Form::quaternion) {
    out.x = s.quaternion;
    if (!T::tangent_only)
      for (double& v : out.x) v *= 1.7;
  }
  out.x.insert(out.x.end(), s.centre.begin(), s.centre.end());
  return out;
}

template <class G>
cv::Mat analytic_jacobian(const Grad_setup& s, int extra_rows = 0, int row0 = 0) {
  G g(nullptr, s.points, s.K);
  cv::Mat J(static_cast<int>(s.points.size()) * Traits<G>::rows + extra_rows, Traits<G>::nrot + 3, CV_64F,
            cv::Scalar(kSentinel));
  const int n = g(s.x, J, row0);
  EXPECT_EQ(n, static_cast<int>(s.points.size()) * Traits<G>::rows);
  return J;
}

// Directions along which the class is exact: the unit vectors, with the
// rotation ones projected onto the tangent of the unit axis / quaternion.
template <class G>
std::vector<std::vector<double>> directions(const std::vector<double>& x) {
  using T = Traits<G>;
  const int ndims = T::nrot + 3;
  const int constrained = T::form == Form::quaternion ? 4 : 3;
  std::vector<std::vector<double>> dirs;
  for (int d = 0; d < ndims; ++d) {
    std::vector<double> v(static_cast<std::size_t>(ndims), 0.0);
    v[d] = 1.0;
    if (T::tangent_only && d < constrained)
      for (int k = 0; k < constrained; ++k) v[k] -= x[d] * x[k];
    dirs.push_back(v);
  }
  return dirs;
}

// The largest |J v - central difference along v| over all rows and directions,
// relative to the largest derivative of the row along v (at least 1).
double max_fd_mismatch(const Camera_position_opt_func& f, const cv::Mat& J, const std::vector<double>& x,
                       const std::vector<std::vector<double>>& dirs) {
  double worst = 0.0;
  for (const std::vector<double>& v : dirs) {
    std::vector<double> xp = x, xm = x;
    double scale = 1.0;
    for (double xi : x) scale = std::max(scale, std::fabs(xi));
    const double h = 1e-6 * scale;
    for (std::size_t k = 0; k < x.size(); ++k) {
      xp[k] += h * v[k];
      xm[k] -= h * v[k];
    }
    const std::vector<double> fp = f(xp), fm = f(xm);
    for (int r = 0; r < J.rows; ++r) {
      double jv = 0.0, row_scale = 1.0;
      for (int c = 0; c < J.cols; ++c) {
        jv += J.at<double>(r, c) * v[c];
        row_scale = std::max(row_scale, std::fabs(J.at<double>(r, c)));
      }
      const double fd = (fp[r] - fm[r]) / (2.0 * h);
      const double mismatch = std::fabs(jv - fd) / row_scale;
      worst = std::isfinite(mismatch) ? std::max(worst, mismatch) : std::numeric_limits<double>::infinity();
    }
  }
  return worst;
}

template <class G>
class CameraPositionGradFunc : public ::testing::Test {};
using Grad_func_types =
    ::testing::Types<Camera_position_grad_func_aau, Camera_position_grad_func_aan, Camera_position_grad_func_qu,
                     Camera_position_grad_func_qn, Camera_position_grad_func_aau_bv,
                     Camera_position_grad_func_aan_bv, Camera_position_grad_func_qu_bv>;
TYPED_TEST_SUITE(CameraPositionGradFunc, Grad_func_types);

TYPED_TEST(CameraPositionGradFunc, JacobianMatchesCentralDifferences) {
  for (unsigned seed = 1; seed <= 25; ++seed) {
    const Grad_setup s = make_setup<TypeParam>(seed, 8);
    const Camera_position_opt_func f(s.points, s.K, Traits<TypeParam>::code);
    const cv::Mat J = analytic_jacobian<TypeParam>(s);
    EXPECT_LT(max_fd_mismatch(f, J, s.x, directions<TypeParam>(s.x)), kFdRelTol) << "seed " << seed;
  }
}

TYPED_TEST(CameraPositionGradFunc, CheckerRejectsAJacobianWithOneSignFlipped) {
  const Grad_setup s = make_setup<TypeParam>(5u, 8);
  const Camera_position_opt_func f(s.points, s.K, Traits<TypeParam>::code);
  cv::Mat J = analytic_jacobian<TypeParam>(s);
  J.at<double>(3, 1) = -J.at<double>(3, 1);
  EXPECT_GT(max_fd_mismatch(f, J, s.x, directions<TypeParam>(s.x)), 1e-3);
}

TYPED_TEST(CameraPositionGradFunc, WritesOnlyItsOwnRows) {
  const Grad_setup s = make_setup<TypeParam>(9u, 4);
  const int rows = 4 * Traits<TypeParam>::rows;
  const cv::Mat J = analytic_jacobian<TypeParam>(s, 5, 2);
  for (int r = 0; r < J.rows; ++r)
    for (int c = 0; c < J.cols; ++c) {
      const bool own = r >= 2 && r < 2 + rows;
      EXPECT_EQ(J.at<double>(r, c) == kSentinel, !own) << r << "," << c;
    }
}

TYPED_TEST(CameraPositionGradFunc, EmptyPointListWritesNothing) {
  Grad_setup s = make_setup<TypeParam>(2u, 1);
  s.points.clear();
  TypeParam g(nullptr, s.points, s.K);
  cv::Mat J(0, Traits<TypeParam>::nrot + 3, CV_64F);
  EXPECT_EQ(g(s.x, J, 0), 0);
}

TYPED_TEST(CameraPositionGradFunc, RejectsBadJacobianOrSearchVector) {
  const Grad_setup s = make_setup<TypeParam>(2u, 3);
  TypeParam g(nullptr, s.points, s.K);
  const int ndims = Traits<TypeParam>::nrot + 3, rows = 3 * Traits<TypeParam>::rows;
  cv::Mat wide(rows, ndims + 1, CV_64F), short_J(rows - 1, ndims, CV_64F), single(rows, ndims, CV_32F);
  cv::Mat big(2 * rows, 2 * ndims, CV_64F), ok(rows, ndims, CV_64F);
  cv::Mat strided = big(cv::Rect(0, 0, ndims, rows));
  EXPECT_THROW(g(s.x, wide, 0), exception_l);
  EXPECT_THROW(g(s.x, short_J, 0), exception_l);
  EXPECT_THROW(g(s.x, ok, 1), exception_l);
  EXPECT_THROW(g(s.x, single, 0), exception_l);
  EXPECT_THROW(g(s.x, strided, 0), exception_l);
  EXPECT_THROW(g(std::vector<double>(s.x.begin(), s.x.end() - 1), ok, 0), exception_l);
  EXPECT_EQ(g(s.x, ok, 0), rows);
}

TEST(CameraPositionGradFuncQu, ScaleOfTheQuaternionHalvesRotationColumns) {
  Grad_setup s = make_setup<Camera_position_grad_func_qu>(4u, 6);
  const cv::Mat J1 = analytic_jacobian<Camera_position_grad_func_qu>(s);
  for (int k = 0; k < 4; ++k) s.x[k] *= 2.0;
  const cv::Mat J2 = analytic_jacobian<Camera_position_grad_func_qu>(s);
  const double scale = cv::norm(J1, cv::NORM_INF);
  EXPECT_LT(cv::norm(J2.colRange(0, 4) * 2.0 - J1.colRange(0, 4), cv::NORM_INF), kRelationTol * scale);
  EXPECT_LT(cv::norm(J2.colRange(4, 7) - J1.colRange(4, 7), cv::NORM_INF), kRelationTol * scale);
  // The residuals do not change along q itself.
  for (int r = 0; r < J2.rows; ++r) {
    double along = 0.0;
    for (int k = 0; k < 4; ++k) along += s.x[k] * J2.at<double>(r, k);
    EXPECT_NEAR(along, 0.0, kRelationTol * scale) << r;
  }
}

// qn differentiates the unit-quaternion matrix through the normalisation, so
// its rows are the cost's exact derivatives, those of qu, at any length.
TEST(CameraPositionGradFuncQn, MatchesQuAtAnyLength) {
  Grad_setup s = make_setup<Camera_position_grad_func_qn>(6u, 6);
  for (const double length : {1.0, 0.7, 1.9}) {
    Grad_setup scaled = s;
    for (int k = 0; k < 4; ++k) scaled.x[k] *= length;
    const cv::Mat Jn = analytic_jacobian<Camera_position_grad_func_qn>(scaled);
    const cv::Mat Ju = analytic_jacobian<Camera_position_grad_func_qu>(scaled);
    EXPECT_LT(cv::norm(Jn - Ju, cv::NORM_INF), kRelationTol * cv::norm(Ju, cv::NORM_INF)) << length;
  }
}

TEST(CameraPositionGradFuncAan, LongerAxisHalvesAxisColumnsOnly) {
  Grad_setup s = make_setup<Camera_position_grad_func_aan>(8u, 6);
  const cv::Mat J1 = analytic_jacobian<Camera_position_grad_func_aan>(s);
  for (int k = 0; k < 3; ++k) s.x[k] *= 2.0;
  const cv::Mat J2 = analytic_jacobian<Camera_position_grad_func_aan>(s);
  const double scale = cv::norm(J1, cv::NORM_INF);
  EXPECT_LT(cv::norm(J2.colRange(0, 3) * 2.0 - J1.colRange(0, 3), cv::NORM_INF), kRelationTol * scale);
  EXPECT_LT(cv::norm(J2.colRange(3, 7) - J1.colRange(3, 7), cv::NORM_INF), kRelationTol * scale);
}

TEST(CameraPositionGradFuncAau, ZeroRotationIsGuardedAndMatchesTheIdentity) {
  const std::vector<std::vector<double>> points{{1.0, 2.0, 10.0}, {-3.0, 0.5, 6.0}};
  const double k11 = 100.0;
  const matrix<double> K = intrinsics(k11, 50.0, 40.0);
  const std::vector<double> t{0.5, -0.5, 1.0};
  const std::vector<double> x{0, 0, 0, t[0], t[1], t[2]};
  Camera_position_grad_func_aau g(nullptr, points, K);
  Camera_position_grad_func_aau_bv g_bv(nullptr, points, intrinsics(1, 0, 0));
  Camera_position_grad_func_qu q(nullptr, points, K);
  cv::Mat J(4, 6, CV_64F), J_bv(6, 6, CV_64F), Jq(4, 7, CV_64F);
  g(x, J, 0);
  g_bv(x, J_bv, 0);
  q({0, 0, 0, 1, t[0], t[1], t[2]}, Jq, 0);
  EXPECT_TRUE(cv::checkRange(J) && cv::checkRange(J_bv) && cv::checkRange(Jq));
  for (std::size_t i = 0; i < points.size(); ++i) {
    const double c0 = points[i][0] - t[0], c1 = points[i][1] - t[1], c2 = points[i][2] - t[2];
    const int ru = 2 * static_cast<int>(i);
    // At the identity dc/dr_j = e_j x c and dc/dt = -I.
    const double dc[3][3] = {{0, -c2, c1}, {c2, 0, -c0}, {-c1, c0, 0}};  // dc[m][j]
    for (int j = 0; j < 3; ++j) {
      const double du = k11 / c2 * (dc[0][j] - c0 / c2 * dc[2][j]);
      EXPECT_NEAR(J.at<double>(ru, j), du, 1e-6 * k11);
      for (int m = 0; m < 3; ++m) EXPECT_NEAR(J_bv.at<double>(3 * static_cast<int>(i) + m, j), dc[m][j], 1e-6);
    }
    EXPECT_NEAR(J.at<double>(ru, 3), -k11 / c2, kRelationTol * k11);
    EXPECT_NEAR(J.at<double>(ru, 4), 0.0, kRelationTol * k11);
    EXPECT_NEAR(J.at<double>(ru, 5), k11 * c0 / (c2 * c2), kRelationTol * k11);
    EXPECT_NEAR(J.at<double>(ru + 1, 5), k11 * c1 / (c2 * c2), kRelationTol * k11);
    // A quaternion's vector part moves a rotation vector's value by twice as much.
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(Jq.at<double>(ru, j), 2.0 * J.at<double>(ru, j), 1e-6 * k11);
  }
}

TEST(CameraPositionGradFuncAau, SmallAnglesOnBothSidesOfTheSeriesThresholdMatchDifferences) {
  for (double angle : {1e-6, 4e-4, 0.99e-3, 1.01e-3, 3e-3}) {
    Grad_setup s = make_setup<Camera_position_grad_func_aau>(12u, 8);
    const Grad_setup s_bv = make_setup<Camera_position_grad_func_aau_bv>(12u, 8);
    const double norm = std::sqrt(s.x[0] * s.x[0] + s.x[1] * s.x[1] + s.x[2] * s.x[2]);
    for (int k = 0; k < 3; ++k) s.x[k] *= angle / norm;
    Grad_setup b = s_bv;
    b.x = s.x;
    const Camera_position_opt_func f(s.points, s.K, 0), f_bv(b.points, b.K, 10);
    EXPECT_LT(max_fd_mismatch(f, analytic_jacobian<Camera_position_grad_func_aau>(s), s.x,
                              directions<Camera_position_grad_func_aau>(s.x)),
              kFdRelTol)
        << angle;
    EXPECT_LT(max_fd_mismatch(f_bv, analytic_jacobian<Camera_position_grad_func_aau_bv>(b), b.x,
                              directions<Camera_position_grad_func_aau_bv>(b.x)),
              kFdRelTol)
        << angle;
  }
}

TEST(CameraPositionGradFunc, BearingVectorClassesReturnThreeRowsPerPoint) {
  const std::vector<std::vector<double>> points(5, std::vector<double>{1.0, 2.0, 10.0});
  const matrix<double> K = intrinsics(1, 0, 0);
  cv::Mat J6(15, 6, CV_64F), J7(15, 7, CV_64F);
  EXPECT_EQ(Camera_position_grad_func_aau_bv(nullptr, points, K)({0.1, 0.2, 0.3, 0, 0, 0}, J6, 0), 15);
  EXPECT_EQ(Camera_position_grad_func_aan_bv(nullptr, points, K)({0, 0, 1, 0.3, 0, 0, 0}, J7, 0), 15);
  EXPECT_EQ(Camera_position_grad_func_qu_bv(nullptr, points, K)({0, 0, 0.2, 1, 0, 0, 0}, J7, 0), 15);
}

TEST(CameraPositionGradFunc, RejectsMalformedPointsAndIntrinsics) {
  EXPECT_THROW(Camera_position_grad_func_aau(nullptr, {{1.0, 2.0}}, intrinsics(1, 0, 0)), exception_l);
  EXPECT_THROW(Camera_position_grad_func_aau(nullptr, {{1.0, 2.0, 3.0}}, matrix<double>(2, 3)), exception_l);
}

}  // namespace
