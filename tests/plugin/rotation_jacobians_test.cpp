#include "trel_tools/rotation_jacobians.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "tests/trel_matchers.h"

namespace {

using trel_test::cv_mat_near;
using Vec = std::vector<double>;
using Map = std::function<Vec(const Vec&)>;
using Jacobian = std::function<cv::Mat_<double>(const Vec&)>;

// Central differences with step 1e-6 max(1, |x|) have truncation error ~1e-12
// and rounding error ~1e-10 on these smooth maps; 1e-6 relative catches any
// wrong term while leaving room for the points nearer the singularities.
const double kStepScale = 1e-6;
const double kRelativeTolerance = 1e-6;
const int kPoints = 200;

double norm3(const Vec& v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// The maps as written in the Jacobians' contracts, evaluated directly.
Vec quaternion_to_rot_vec(const Vec& q) {
  const double n = norm3(q);
  const double f = n > 0 ? 2 * std::atan2(n, q[3]) / n : 2 / q[3];
  return {f * q[0], f * q[1], f * q[2]};
}
Vec quaternion_to_angle_axis(const Vec& q) {
  const double n = norm3(q);
  return {q[0] / n, q[1] / n, q[2] / n, 2 * std::atan2(n, q[3])};
}
Vec rot_vec_to_quaternion(const Vec& r) {
  const double theta = norm3(r);
  const double f = theta > 0 ? std::sin(theta / 2) / theta : 0.5;
  return {f * r[0], f * r[1], f * r[2], std::cos(theta / 2)};
}
Vec rot_vec_to_angle_axis(const Vec& r) {
  const double theta = norm3(r);
  return {r[0] / theta, r[1] / theta, r[2] / theta, theta};
}
Vec angle_axis_to_quaternion(const Vec& a) {
  const double s = std::sin(a[3] / 2);
  return {s * a[0], s * a[1], s * a[2], std::cos(a[3] / 2)};
}
Vec angle_axis_to_rot_vec(const Vec& a) { return {a[3] * a[0], a[3] * a[1], a[3] * a[2]}; }

// Steps of kStepScale max(floor, |x_j|); a floor near the angle keeps the
// differences of the axis maps, whose curvature grows as 1 / angle^3, accurate.
cv::Mat_<double> central_differences(const Map& map, const Vec& x, double floor = 1.0) {
  const std::size_t rows = map(x).size();
  cv::Mat_<double> jac(static_cast<int>(rows), static_cast<int>(x.size()), 0.0);
  for (std::size_t j = 0; j < x.size(); ++j) {
    const double h = kStepScale * std::max(floor, std::abs(x[j]));
    Vec plus(x), minus(x);
    plus[j] += h;
    minus[j] -= h;
    const Vec f_plus = map(plus), f_minus = map(minus);
    for (std::size_t i = 0; i < rows; ++i) jac(static_cast<int>(i), static_cast<int>(j)) = (f_plus[i] - f_minus[i]) / (2 * h);
  }
  return jac;
}

::testing::AssertionResult matches_central_differences(const cv::Mat_<double>& analytic, const Map& map,
                                                       const Vec& x, double floor = 1.0) {
  const cv::Mat_<double> numeric = central_differences(map, x, floor);
  if (analytic.rows != numeric.rows || analytic.cols != numeric.cols)
    return ::testing::AssertionFailure() << "size " << analytic.rows << "x" << analytic.cols << ", map gives "
                                         << numeric.rows << "x" << numeric.cols;
  for (int i = 0; i < analytic.rows; ++i)
    for (int j = 0; j < analytic.cols; ++j) {
      const double bound = kRelativeTolerance * std::max(1.0, std::abs(numeric(i, j)));
      if (!(std::abs(analytic(i, j) - numeric(i, j)) <= bound))
        return ::testing::AssertionFailure() << "entry (" << i << ", " << j << "): analytic " << analytic(i, j)
                                             << ", central differences " << numeric(i, j);
    }
  return ::testing::AssertionSuccess();
}

// Random points away from the singularities: n > 0.1, |w| < 0.9, theta > 0.1.
Vec random_quaternion(std::mt19937& rng) {
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  Vec q{value(rng), value(rng), value(rng), 0.9 * value(rng)};
  while (norm3(q) < 0.1) q[0] += 0.5;
  return q;
}
Vec random_rot_vec(std::mt19937& rng) {
  std::uniform_real_distribution<double> value(-2.0, 2.0);
  Vec r{value(rng), value(rng), value(rng)};
  while (norm3(r) < 0.1) r[1] -= 0.5;
  return r;
}
Vec random_angle_axis(std::mt19937& rng) {
  std::uniform_real_distribution<double> value(-1.5, 1.5);
  return {value(rng), value(rng), value(rng), 2 * value(rng)};
}

struct Jacobian_case {
  const char* name;
  Jacobian jacobian;
  Map map;
  std::function<Vec(std::mt19937&)> sample;
  Vec generic_point;
};
void PrintTo(const Jacobian_case& c, std::ostream* os) { *os << c.name; }

// A generic rotation: r = (0.1, -0.2, 0.3), and its unit quaternion and angle-axis.
const Vec kGenericRotVec{0.1, -0.2, 0.3};

class RotationJacobian : public ::testing::TestWithParam<Jacobian_case> {};

TEST_P(RotationJacobian, MatchesCentralDifferencesAtRandomPoints) {
  std::mt19937 rng(4242);
  for (int k = 0; k < kPoints; ++k) {
    const Vec x = GetParam().sample(rng);
    ASSERT_TRUE(matches_central_differences(GetParam().jacobian(x), GetParam().map, x))
        << "point " << k << ": " << x[0] << ", " << x[1] << ", " << x[2] << (x.size() > 3 ? ", " + std::to_string(x[3]) : "");
  }
}

TEST_P(RotationJacobian, MatchesCentralDifferencesAtGenericRotation) {
  const Vec& point = GetParam().generic_point;
  EXPECT_TRUE(matches_central_differences(GetParam().jacobian(point), GetParam().map, point));
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, RotationJacobian,
    ::testing::Values(
        Jacobian_case{"QuaternionToRotVec", trel::quaternion_to_rot_vec_jacobian<double>, quaternion_to_rot_vec,
                      random_quaternion, rot_vec_to_quaternion(kGenericRotVec)},
        Jacobian_case{"QuaternionToAngleAxis", trel::quaternion_to_angle_axis_jacobian<double>,
                      quaternion_to_angle_axis, random_quaternion, rot_vec_to_quaternion(kGenericRotVec)},
        Jacobian_case{"RotVecToQuaternion", trel::rot_vec_to_quaternion_jacobian<double>, rot_vec_to_quaternion,
                      random_rot_vec, kGenericRotVec},
        Jacobian_case{"RotVecToAngleAxis", trel::rot_vec_to_angle_axis_jacobian<double>, rot_vec_to_angle_axis,
                      random_rot_vec, kGenericRotVec},
        Jacobian_case{"AngleAxisToQuaternion", trel::angle_axis_to_quaternion_jacobian<double>,
                      angle_axis_to_quaternion, random_angle_axis, rot_vec_to_angle_axis(kGenericRotVec)},
        Jacobian_case{"AngleAxisToRotVec", trel::angle_axis_to_rot_vec_jacobian<double>, angle_axis_to_rot_vec,
                      random_angle_axis, rot_vec_to_angle_axis(kGenericRotVec)}),
    [](const ::testing::TestParamInfo<Jacobian_case>& info) { return std::string(info.param.name); });

cv::Mat_<double> rows_of(const std::vector<Vec>& rows) {
  cv::Mat_<double> m(static_cast<int>(rows.size()), static_cast<int>(rows[0].size()));
  for (int i = 0; i < m.rows; ++i)
    for (int j = 0; j < m.cols; ++j) m(i, j) = rows[i][j];
  return m;
}

// Rotations of angle 1e-9 to 0.3 rad about a fixed axis, across the switch
// between series and closed forms, and the zero rotation itself. The smooth
// maps match central differences everywhere; the axis maps, which have no
// derivative at zero, match them near zero and are finite (zero) at zero.
TEST(RotationJacobianNearZero, MatchesCentralDifferencesAndIsFiniteAtZero) {
  const Vec axis{0.48, -0.6, 0.64};
  for (const double angle : {0.0, 1e-9, 1e-6, 1e-3, 0.05, 0.0999, 0.1001, 0.3}) {
    const Vec r{angle * axis[0], angle * axis[1], angle * axis[2]};
    const Vec q = rot_vec_to_quaternion(r);
    const Vec a{axis[0], axis[1], axis[2], angle};
    SCOPED_TRACE("angle " + std::to_string(angle));
    EXPECT_TRUE(matches_central_differences(trel::quaternion_to_rot_vec_jacobian(q), quaternion_to_rot_vec, q));
    EXPECT_TRUE(matches_central_differences(trel::rot_vec_to_quaternion_jacobian(r), rot_vec_to_quaternion, r));
    EXPECT_TRUE(matches_central_differences(trel::angle_axis_to_quaternion_jacobian(a), angle_axis_to_quaternion, a));
    EXPECT_TRUE(matches_central_differences(trel::angle_axis_to_rot_vec_jacobian(a), angle_axis_to_rot_vec, a));
    const cv::Mat_<double> qa = trel::quaternion_to_angle_axis_jacobian(q);
    const cv::Mat_<double> ra = trel::rot_vec_to_angle_axis_jacobian(r);
    if (angle == 0.0) {
      EXPECT_EQ(cv::countNonZero(qa != 0.0), 0);
      EXPECT_EQ(cv::countNonZero(ra != 0.0), 0);
    } else if (angle >= 1e-6) {
      EXPECT_TRUE(matches_central_differences(qa, quaternion_to_angle_axis, q, 1e-2 * angle));
      EXPECT_TRUE(matches_central_differences(ra, rot_vec_to_angle_axis, r, 1e-2 * angle));
    }
  }
  // At the zero rotation the limits are r = 2 v and q = (r / 2, 1).
  EXPECT_TRUE(cv_mat_near(trel::quaternion_to_rot_vec_jacobian(Vec{0, 0, 0, 1}),
                          rows_of({{2, 0, 0, 0}, {0, 2, 0, 0}, {0, 0, 2, 0}}), 1e-15));
  EXPECT_TRUE(cv_mat_near(trel::rot_vec_to_quaternion_jacobian(Vec{0, 0, 0}),
                          rows_of({{0.5, 0, 0}, {0, 0.5, 0}, {0, 0, 0.5}, {0, 0, 0}}), 1e-15));
}

// The checker itself must reject a Jacobian with one entry of the wrong sign.
TEST(CentralDifferenceCheck, RejectsOneFlippedSign) {
  const Vec r{0.1, -0.2, 0.3};
  cv::Mat_<double> wrong = trel::rot_vec_to_quaternion_jacobian(r);
  ASSERT_TRUE(matches_central_differences(wrong, rot_vec_to_quaternion, r));
  wrong(1, 2) = -wrong(1, 2);
  EXPECT_FALSE(matches_central_differences(wrong, rot_vec_to_quaternion, r));
}

TEST(RotationJacobianValues, KnownPoints) {
  // Tolerance for closed forms evaluated at exactly representable points.
  const double exact = 1e-15;
  EXPECT_TRUE(cv_mat_near(trel::angle_axis_to_rot_vec_jacobian(Vec{0, 0, 1, 0.5}),
                          rows_of({{0.5, 0, 0, 0}, {0, 0.5, 0, 0}, {0, 0, 0.5, 1}}), exact));
  EXPECT_TRUE(cv_mat_near(trel::rot_vec_to_angle_axis_jacobian(Vec{0, 0, 2}),
                          rows_of({{0.5, 0, 0}, {0, 0.5, 0}, {0, 0, 0}, {0, 0, 1}}), exact));
  EXPECT_TRUE(cv_mat_near(trel::quaternion_to_angle_axis_jacobian(Vec{0, 0, 1, 0}),
                          rows_of({{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, -2}}), exact));
  EXPECT_TRUE(cv_mat_near(trel::angle_axis_to_quaternion_jacobian(Vec{0.6, -0.8, 0, 0}),
                          rows_of({{0, 0, 0, 0.3}, {0, 0, 0, -0.4}, {0, 0, 0, 0}, {0, 0, 0, 0}}), exact));
}

TEST(RotationJacobianValues, TooFewParametersThrow) {
  EXPECT_THROW(trel::quaternion_to_rot_vec_jacobian(Vec{0, 0, 1}), trel::exception_l);
  EXPECT_THROW(trel::rot_vec_to_quaternion_jacobian(Vec{0, 1}), trel::exception_l);
  EXPECT_THROW(trel::angle_axis_to_rot_vec_jacobian(Vec{}), trel::exception_l);
}

TEST(ConvertRotJacToFullJac, AppendsIdentityForPosition) {
  cv::Mat_<double> rot_jac(3, 4);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 4; ++j) rot_jac(i, j) = 10 * i + j + 1;
  const cv::Mat_<double> full = trel::convert_rot_jac_to_full_jac(rot_jac);
  ASSERT_EQ(full.rows, 6);
  ASSERT_EQ(full.cols, 7);
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 7; ++j) {
      const double expected = (i < 3 && j < 4) ? rot_jac(i, j) : (i >= 3 && j >= 4 && i - 3 == j - 4) ? 1.0 : 0.0;
      EXPECT_EQ(full(i, j), expected) << "entry (" << i << ", " << j << ")";
    }
}

}  // namespace
