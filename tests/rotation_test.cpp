#include "trel_tools/rotation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <vector>


#include "tests/trel_matchers.h"

namespace {

using trel::matrix;
using trel_test::is_rotation_matrix;
using trel_test::make_matrix;
using trel_test::matrix_near;
using trel_test::origin_detail;
using trel_test::quaternions_near_up_to_sign;
using trel_test::rotation_matrices_near;
using trel_test::vectors_near;
using Vec = std::vector<double>;

// Direct formulas: a few ulps per element.
const double kExact = 1e-14;
// Chains through acos/sqrt lose up to ~1e-11 near the singular places.
const double kRoundTrip = 1e-9;
const double kPi = 3.14159265358979323846;
const int kSamples = 2000;

// Reference rotation as I + sin(t) K + (1 - cos(t)) K^2, K the cross-product
// matrix of the unit axis: the matrix form of Rodrigues' formula, written
// independently of the element formulas under test.
matrix<double> reference_rotation(const Vec& rot_vec) {
  const double angle = std::sqrt(rot_vec[0] * rot_vec[0] + rot_vec[1] * rot_vec[1] + rot_vec[2] * rot_vec[2]);
  matrix<double> out = make_matrix({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
  if (angle == 0) return out;
  const double x = rot_vec[0] / angle, y = rot_vec[1] / angle, z = rot_vec[2] / angle;
  const matrix<double> k = make_matrix({{0, -z, y}, {z, 0, -x}, {-y, x, 0}});
  const matrix<double> k2 = k * k;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out[i][j] += std::sin(angle) * k[i][j] + (1 - std::cos(angle)) * k2[i][j];
  return out;
}

Vec random_unit_axis(std::mt19937& rng) {
  std::normal_distribution<double> normal;
  Vec axis{normal(rng), normal(rng), normal(rng)};
  const double norm = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
  for (double& v : axis) v /= norm;
  return axis;
}

Vec scaled(const Vec& v, double factor) {
  Vec out(v);
  for (double& x : out) x *= factor;
  return out;
}

// Half turn about a unit axis: R = 2 a a^T - I.
matrix<double> half_turn(const Vec& axis) {
  matrix<double> r(3, 3);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[i][j] = 2 * axis[i] * axis[j] - (i == j ? 1.0 : 0.0);
  return r;
}

// Random rotations over all angles, plus the singular ones: identity and half turns.
std::vector<matrix<double>> sample_rotations() {
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<double> angle(0.0, kPi);
  std::vector<matrix<double>> out;
  for (int i = 0; i < kSamples; ++i) out.push_back(reference_rotation(scaled(random_unit_axis(rng), angle(rng))));
  for (int i = 0; i < 50; ++i) out.push_back(half_turn(random_unit_axis(rng)));
  const double h = 1 / std::sqrt(2.0);
  for (const Vec& axis : {Vec{1, 0, 0}, Vec{0, 1, 0}, Vec{0, 0, 1}, Vec{h, -h, 0}, Vec{0, h, -h}, Vec{-h, 0, h}})
    out.push_back(half_turn(axis));
  out.push_back(make_matrix({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}));
  out.push_back(reference_rotation({1e-5, -2e-5, 0}));
  return out;
}

struct Round_trip_case {
  const char* name;
  std::function<matrix<double>(const matrix<double>&)> there_and_back;
};
void PrintTo(const Round_trip_case& c, std::ostream* os) { *os << c.name; }

class RotationRoundTrip : public ::testing::TestWithParam<Round_trip_case> {};

TEST_P(RotationRoundTrip, GivesBackTheSameMatrix) {
  const std::vector<matrix<double>> rotations = sample_rotations();
  for (std::size_t i = 0; i < rotations.size(); ++i) {
    ASSERT_TRUE(rotation_matrices_near(GetParam().there_and_back(rotations[i]), rotations[i], kRoundTrip))
        << "sample " << i << "\n"
        << rotations[i];
  }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, RotationRoundTrip,
    ::testing::Values(
        Round_trip_case{"Quaternion",
                        [](const matrix<double>& r) { return trel::quaternion_to_rot_mat(trel::rot_mat_to_quaternion(r)); }},
        Round_trip_case{"AngleAxis",
                        [](const matrix<double>& r) { return trel::ang_axis_rad_to_rot_mat(trel::rot_mat_to_ang_axis_rad(r)); }},
        Round_trip_case{"RotationVector",
                        [](const matrix<double>& r) { return trel::rot_vec_rad_to_rot_mat(trel::rot_mat_to_rot_vec_rad(r)); }}),
    [](const ::testing::TestParamInfo<Round_trip_case>& info) { return std::string(info.param.name); });

TEST(RotVecRadToRotMat, MatchesMatrixFormOfRodriguesIncludingLongVectors) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> angle(0.0, 3 * kPi);
  for (int i = 0; i < kSamples; ++i) {
    const Vec rot_vec = scaled(random_unit_axis(rng), angle(rng));
    ASSERT_TRUE(rotation_matrices_near(trel::rot_vec_rad_to_rot_mat(rot_vec), reference_rotation(rot_vec), kExact))
        << "sample " << i;
  }
}

TEST(RotMatToRotVecRad, RecoversAngleBelowPi) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> angle(1e-3, kPi - 1e-3);
  for (int i = 0; i < kSamples; ++i) {
    const Vec rot_vec = scaled(random_unit_axis(rng), angle(rng));
    ASSERT_TRUE(vectors_near(trel::rot_mat_to_rot_vec_rad(reference_rotation(rot_vec)), rot_vec, kRoundTrip)) << "sample " << i;
  }
}

TEST(RotMatToQuaternion, UnitQuaternionsComeBackUpToSign) {
  std::mt19937 rng(13);
  std::normal_distribution<double> normal;
  for (int i = 0; i < kSamples; ++i) {
    Vec q{normal(rng), normal(rng), normal(rng), normal(rng)};
    // Every other sample has a small scalar part, so that all four pivots are used.
    if (i % 2) q[3] *= 0.05;
    const double norm = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    q = scaled(q, 1 / norm);
    const matrix<double> r = trel::quaternion_to_rot_mat(q);
    ASSERT_TRUE(is_rotation_matrix(r, kExact)) << "sample " << i;
    ASSERT_TRUE(quaternions_near_up_to_sign(trel::rot_mat_to_quaternion(r), q, kRoundTrip)) << "sample " << i;
  }
}

TEST(QuaternionToRotMat, NonUnitQuaternionIsNormalisedImplicitly) {
  const Vec q{0.1, -0.5, 0.3, 0.8};
  const matrix<double> from_unit = trel::quaternion_to_rot_mat(scaled(q, 1 / std::sqrt(0.99)));
  EXPECT_TRUE(matrix_near(trel::quaternion_to_rot_mat(scaled(q, 3.7)), from_unit, kExact));
  const Vec identity_q{0, 0, 0, 2};  // const argument: the reading overload
  EXPECT_TRUE(matrix_near(trel::quaternion_to_rot_mat(identity_q), make_matrix({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}), 0.0));
  // Hamilton convention, scalar last: (0, 0, sin 45, cos 45) is +90 degrees about z.
  const double h = 1 / std::sqrt(2.0);
  EXPECT_TRUE(matrix_near(trel::quaternion_to_rot_mat(Vec{0, 0, h, h}), make_matrix({{0, -1, 0}, {1, 0, 0}, {0, 0, 1}}),
                          kExact));
}

TEST(EulerAnglesRadToRotMat, IsRyRxRzAndOrthonormal) {
  std::mt19937 rng(19);
  std::uniform_real_distribution<double> angle(-kPi, kPi);
  for (int i = 0; i < 500; ++i) {
    const Vec a{angle(rng), angle(rng), angle(rng)};
    const matrix<double> expected = reference_rotation({0, a[2], 0}) * reference_rotation({a[1], 0, 0}) * reference_rotation({0, 0, a[0]});
    ASSERT_TRUE(rotation_matrices_near(trel::euler_angles_rad_to_rot_mat(a), expected, kExact)) << "sample " << i;
  }
  EXPECT_TRUE(matrix_near(trel::euler_angles_rad_to_rot_mat(Vec{0, 0, kPi / 2}),
                          make_matrix({{0, 0, 1}, {0, 1, 0}, {-1, 0, 0}}), kExact));
}

TEST(RotationSingularities, ZeroRotationInEveryForm) {
  const matrix<double> identity = make_matrix({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
  EXPECT_EQ(trel::rot_mat_to_ang_axis_rad(identity), (Vec{0, 1, 0, 0}));
  EXPECT_EQ(trel::rot_mat_to_rot_vec_rad(identity), (Vec{0, 0, 0}));
  EXPECT_EQ(trel::rot_mat_to_quaternion(identity), (Vec{0, 0, 0, 1}));
  EXPECT_TRUE(matrix_near(trel::rot_vec_rad_to_rot_mat(Vec{0, 0, 0}), identity, 0.0));
  EXPECT_TRUE(matrix_near(trel::ang_axis_rad_to_rot_mat(Vec{0, 0, 0, 0}), identity, 0.0));
  EXPECT_TRUE(matrix_near(trel::ang_axis_rad_to_rot_mat(Vec{0.3, -2, 5, 0}), identity, kExact));
}

TEST(RotationSingularities, QuarterTurnAboutZ) {
  const matrix<double> r = trel::ang_axis_rad_to_rot_mat(Vec{0, 0, 1, kPi / 2});
  EXPECT_TRUE(matrix_near(r, make_matrix({{0, -1, 0}, {1, 0, 0}, {0, 0, 1}}), kExact));
  EXPECT_TRUE(vectors_near(trel::rot_mat_to_ang_axis_rad(r), Vec{0, 0, 1, kPi / 2}, kExact));
}

struct Half_turn_case {
  const char* name;
  Vec axis;           // unit axis the matrix is built from
  Vec expected_axis;  // the sign the reader must choose
};
void PrintTo(const Half_turn_case& c, std::ostream* os) { *os << c.name; }

class HalfTurn : public ::testing::TestWithParam<Half_turn_case> {};

TEST_P(HalfTurn, AxisSignFollowsOffDiagonalElements) {
  const Vec ang_axis = trel::rot_mat_to_ang_axis_rad(half_turn(GetParam().axis));
  ASSERT_EQ(ang_axis.size(), 4u);
  EXPECT_EQ(ang_axis[3], kPi);
  EXPECT_TRUE(vectors_near(Vec(ang_axis.begin(), ang_axis.begin() + 3), GetParam().expected_axis, kExact));
}

const double kH = 1 / std::sqrt(2.0);
const double kN = std::sqrt(14.0);
INSTANTIATE_TEST_SUITE_P(
    Table, HalfTurn,
    ::testing::Values(Half_turn_case{"AboutX", {1, 0, 0}, {1, 0, 0}}, Half_turn_case{"AboutY", {0, 1, 0}, {0, 1, 0}},
                      Half_turn_case{"AboutZ", {0, 0, 1}, {0, 0, 1}},
                      // signs (0, 0, -1): negative sum, a zero sign, neither of the first two is -1: x negated
                      Half_turn_case{"AboutXMinusY", {kH, -kH, 0}, {-kH, kH, 0}},
                      // signs (-1, 0, 0): y negated
                      Half_turn_case{"AboutYMinusZ", {0, kH, -kH}, {0, -kH, kH}},
                      // signs (0, -1, 0): z negated
                      Half_turn_case{"AboutXMinusZ", {kH, 0, -kH}, {kH, 0, -kH}},
                      // signs (-1, 1, -1), all non-zero with a negative sum: flip = -signs, y negated
                      Half_turn_case{"AboutMixedSigns", {-1 / kN, 2 / kN, -3 / kN}, {1 / kN, -2 / kN, 3 / kN}},
                      Half_turn_case{"AboutAllPositive", {1 / kN, 2 / kN, 3 / kN}, {1 / kN, 2 / kN, 3 / kN}}),
    [](const ::testing::TestParamInfo<Half_turn_case>& info) { return std::string(info.param.name); });

TEST(AngAxisRadToRotMat, AxisIsNormalisedFirst) {
  EXPECT_TRUE(matrix_near(trel::ang_axis_rad_to_rot_mat(Vec{0, 0, 2, 0.7}), trel::ang_axis_rad_to_rot_mat(Vec{0, 0, 1, 0.7}),
                          kExact));
  EXPECT_TRUE(rotation_matrices_near(trel::ang_axis_rad_to_rot_mat(Vec{1, -2, 3, 1.1}),
                                     reference_rotation(scaled(Vec{1 / kN, -2 / kN, 3 / kN}, 1.1)), kExact));
}

TEST(EnforceAngAxis, NormalisesAxisOnlyAndShrinksDegenerateAxis) {
  Vec ang_axis{3, 0, 4, 2.5};
  trel::enforce_ang_axis(ang_axis);
  EXPECT_TRUE(vectors_near(ang_axis, Vec{0.6, 0, 0.8, 2.5}, kExact));
  Vec degenerate{1e-9, 0, 0, 0.5};
  trel::enforce_ang_axis(degenerate);
  EXPECT_TRUE(vectors_near(degenerate, Vec{1e-25, 0, 0, 0.5}, 1e-40));
  Vec angle_only{0.25};
  trel::enforce_ang_axis(angle_only);
  EXPECT_EQ(angle_only, Vec{0.25});
  Vec empty;
  trel::enforce_ang_axis(empty);
  EXPECT_TRUE(empty.empty());
}

TEST(RotVecToAngAxis, AnyLengthAndZeroVector) {
  EXPECT_TRUE(vectors_near(trel::rot_vec_to_ang_axis(Vec{3, -4}), Vec{0.6, -0.8, 5}, kExact));
  EXPECT_EQ(trel::rot_vec_to_ang_axis(Vec{0, 0, 0}), (Vec{0, 0, 0, 0}));
  EXPECT_TRUE(vectors_near(trel::ang_axis_to_rot_vec(Vec{0, 0, 2, 0.5}), Vec{0, 0, 0.5}, kExact));
  EXPECT_TRUE(vectors_near(trel::ang_axis_to_rot_vec(Vec{-2, 1.5}), Vec{-1.5}, kExact));
}

struct Size_error_case {
  const char* name;
  std::function<void()> call;
  std::string detail;
  int depth;  // 1 where the function guards itself and wraps its own check
};
void PrintTo(const Size_error_case& c, std::ostream* os) { *os << c.name; }

class RotationSizeError : public ::testing::TestWithParam<Size_error_case> {};

TEST_P(RotationSizeError, ThrowsWithDetailText) {
  try {
    GetParam().call();
    FAIL() << "no exception";
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(origin_detail(e), GetParam().detail);
    EXPECT_EQ(e.depth(), GetParam().depth);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RotationSizeError,
    ::testing::Values(
        Size_error_case{"EulerTwoAngles", [] { trel::euler_angles_rad_to_rot_mat(Vec{0.1, 0.2}); },
                        "create_rotation_matrix : Can't create a 3d rotation matrix from a set of angles with size "
                        "not 3. Size was: 2",
                        0},
        Size_error_case{"QuaternionFromThreeByFour", [] { trel::rot_mat_to_quaternion(matrix<double>(3, 4)); },
                        "Incorrectly sized matrix input. Quaternions only defined for 3d rotations, but matrix had "
                        "size 3 by 4",
                        0},
        Size_error_case{"AngAxisOfThreeValues", [] { trel::ang_axis_rad_to_rot_mat(Vec{0, 0, 1}); },
                        "Conversion only implemented for 3d rotations. input had size 3", 1},
        Size_error_case{"AngAxisToRotVecOneValue", [] { trel::ang_axis_to_rot_vec(Vec{1}); },
                        "input std::vector had size 1 doesn't seem to be a normalised angle axis std::vector", 1},
        Size_error_case{"RotVecOfFourValues", [] { trel::rot_vec_rad_to_rot_mat(Vec{0, 0, 1, 0}); },
                        "Conversion only implemented for 3d rotations", 0},
        Size_error_case{"QuaternionOfThreeValues", [] { trel::quaternion_to_rot_mat(Vec{0, 0, 1}); },
                        "quaternion_to_rot_mat : a quaternion needs 4 values (x, y, z, w) but input had size 3", 0},
        Size_error_case{"AngAxisFromTwoByThree", [] { trel::rot_mat_to_ang_axis_rad(matrix<double>(2, 3)); },
                        "rot_mat_to_ang_axis_rad : only defined for 3d rotations, but matrix had size 2 by 3", 1},
        Size_error_case{"RotVecFromEmpty", [] { trel::rot_mat_to_rot_vec_rad(matrix<double>()); },
                        "rot_mat_to_ang_axis_rad : only defined for 3d rotations, but matrix had size 0 by 0", 1}),
    [](const ::testing::TestParamInfo<Size_error_case>& info) { return std::string(info.param.name); });

}  // namespace
