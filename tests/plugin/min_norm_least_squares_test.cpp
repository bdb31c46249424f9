#include "trel_opt/min_norm_least_squares.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include "camera_pose_refine/camera_position_grad_funcs.h"
#include "tests/synthetic_scene.h"

namespace lsq {

// Both solves are backward stable, so on well-conditioned systems they agree to
// a few hundred ulps of the solution's norm.
constexpr double kAgreement = 1e-12;

cv::Mat random_matrix(std::mt19937& rng, int rows, int cols, double scale = 1.0) {
  std::normal_distribution<double> normal(0.0, scale);
  cv::Mat a(rows, cols, CV_64F);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) a.at<double>(i, j) = normal(rng);
  return a;
}

cv::Mat solve_min_norm(trel::Min_norm_least_squares<double>& solver, const cv::Mat& a, const cv::Mat& b) {
  cv::Mat x(a.cols, 1, CV_64F, cv::Scalar(-7.0));  // overwritten entirely
  solver.solve(a.ptr<double>(0), a.rows, a.cols, static_cast<int>(a.step1()), b.ptr<double>(0), x.ptr<double>(0));
  return x;
}

cv::Mat solve_min_norm(const cv::Mat& a, const cv::Mat& b) {
  trel::Min_norm_least_squares<double> solver;
  return solve_min_norm(solver, a, b);
}

cv::Mat reference(const cv::Mat& a, const cv::Mat& b) {
  cv::Mat x;
  cv::solve(a, b, x, cv::DECOMP_SVD);
  return x;
}

double relative_difference(const cv::Mat& x, const cv::Mat& ref) {
  return cv::norm(x - ref) / std::max(cv::norm(ref), 1e-300);
}

double condition_number(const cv::Mat& a) {
  cv::Mat w;
  cv::SVD::compute(a, w, cv::SVD::NO_UV);
  return w.at<double>(0) / w.at<double>(w.rows - 1);
}

}  // namespace lsq

// Sizes below, at and above the row block, square systems, and one column more
// than the pose problems use.
TEST(MinNormLeastSquares, MatchesOpenCvSvdSolveOnRandomTallSystems) {
  std::mt19937 rng(11);
  trel::Min_norm_least_squares<double> reused;
  for (const auto& size : std::vector<std::pair<int, int>>{
           {6, 6}, {7, 3}, {20, 6}, {127, 6}, {128, 7}, {129, 7}, {300, 6}, {1000, 7}, {2000, 6}, {41, 10}}) {
    const cv::Mat a = lsq::random_matrix(rng, size.first, size.second);
    const cv::Mat b = lsq::random_matrix(rng, size.first, 1, 3.0);
    const cv::Mat ref = lsq::reference(a, b);
    EXPECT_LT(lsq::relative_difference(lsq::solve_min_norm(a, b), ref), lsq::kAgreement)
        << size.first << " x " << size.second;
    // Scratch kept from a solve of another size changes nothing.
    EXPECT_LT(lsq::relative_difference(lsq::solve_min_norm(reused, a, b), ref), lsq::kAgreement)
        << size.first << " x " << size.second;
  }
}

TEST(MinNormLeastSquares, ZeroColumnGetsExactlyZeroUpdate) {
  std::mt19937 rng(12);
  for (int column : {0, 3, 5}) {
    cv::Mat a = lsq::random_matrix(rng, 200, 6);
    a.col(column).setTo(0.0);
    const cv::Mat b = lsq::random_matrix(rng, 200, 1);
    const cv::Mat x = lsq::solve_min_norm(a, b);
    EXPECT_EQ(x.at<double>(column), 0.0);
    EXPECT_LT(lsq::relative_difference(x, lsq::reference(a, b)), lsq::kAgreement) << column;
  }
}

// Two equal columns: the minimum-norm solution splits their update evenly.
TEST(MinNormLeastSquares, RepeatedColumnSharesTheUpdate) {
  std::mt19937 rng(13);
  cv::Mat a = lsq::random_matrix(rng, 150, 6);
  a.col(1).copyTo(a.col(4));
  const cv::Mat b = lsq::random_matrix(rng, 150, 1);
  const cv::Mat x = lsq::solve_min_norm(a, b);
  EXPECT_NEAR(x.at<double>(1), x.at<double>(4), 1e-12 * cv::norm(x));
  EXPECT_LT(lsq::relative_difference(x, lsq::reference(a, b)), lsq::kAgreement);
}

// The quaternion Jacobian has q itself as an exact null direction (the pose
// depends on q / |q| only): the step must have no component along q.
TEST(MinNormLeastSquares, QuaternionJacobianStepIsOrthogonalToTheQuaternion) {
  for (unsigned seed : {21u, 22u, 23u}) {
    for (int npts : {10, 1000}) {
      const trel_test::Synthetic_scene scene = trel_test::make_scene(seed, npts);
      const trel::matrix<double> K = trel_test::intrinsics(scene.k11, scene.k13, scene.k23);
      std::vector<double> x = scene.quaternion;
      for (double& q : x) q *= 1.7;  // any length
      x.insert(x.end(), scene.centre.begin(), scene.centre.end());
      trel::Camera_position_grad_func_qu grad(nullptr, scene.points_world, K);
      cv::Mat j(2 * npts, 7, CV_64F, cv::Scalar(0.0));
      ASSERT_EQ(grad(x, j, 0), 2 * npts);
      std::mt19937 rng(seed);
      const cv::Mat b = lsq::random_matrix(rng, 2 * npts, 1, 2.0);
      const cv::Mat dx = lsq::solve_min_norm(j, b);
      const cv::Mat q = (cv::Mat_<double>(7, 1) << x[0], x[1], x[2], x[3], 0, 0, 0);
      EXPECT_LT(std::fabs(dx.dot(q)) / (cv::norm(dx) * cv::norm(q)), 1e-12) << seed << " " << npts;
      EXPECT_LT(lsq::relative_difference(dx, lsq::reference(j, b)), lsq::kAgreement) << seed << " " << npts;
    }
  }
}

// A column close to another: both solves are then only as exact as the
// condition number allows. The larger gaps are solved by back substitution,
// the smallest is too close to the rank threshold for that and goes through the
// SVD of R with every singular value kept.
TEST(MinNormLeastSquares, NearlySingularSystemAgreesWithinItsConditioning) {
  std::mt19937 rng(14);
  for (double gap : {1e-6, 1e-9, 1e-12}) {
    cv::Mat a = lsq::random_matrix(rng, 400, 6);
    a.col(2) = a.col(0) + gap * lsq::random_matrix(rng, 400, 1);
    const cv::Mat b = lsq::random_matrix(rng, 400, 1);
    const double kappa = lsq::condition_number(a);
    ASSERT_GT(kappa, 1e5);
    EXPECT_LT(lsq::relative_difference(lsq::solve_min_norm(a, b), lsq::reference(a, b)), kappa * 1e-15) << gap;
  }
}

// Fewer equations than unknowns (one point of a pose problem has 2 for 6):
// the minimum-norm solution is the pseudo-inverse's.
TEST(MinNormLeastSquares, UnderdeterminedSystemGivesThePseudoInverseSolution) {
  std::mt19937 rng(15);
  for (const auto& size : std::vector<std::pair<int, int>>{{1, 6}, {2, 6}, {3, 7}, {5, 6}, {4, 10}}) {
    const cv::Mat a = lsq::random_matrix(rng, size.first, size.second);
    const cv::Mat b = lsq::random_matrix(rng, size.first, 1);
    cv::Mat pinv;
    cv::invert(a, pinv, cv::DECOMP_SVD);
    const cv::Mat x = lsq::solve_min_norm(a, b);
    EXPECT_LT(lsq::relative_difference(x, pinv * b), lsq::kAgreement) << size.first << " x " << size.second;
    EXPECT_LT(cv::norm(a * x - b), 1e-12 * cv::norm(b)) << "an underdetermined full-rank system is met exactly";
  }
  // Rank deficient as well: two equal rows.
  cv::Mat a = lsq::random_matrix(rng, 3, 6);
  a.row(0).copyTo(a.row(2));
  const cv::Mat b = (cv::Mat_<double>(3, 1) << 1.0, 2.0, 1.0);
  cv::Mat pinv;
  cv::invert(a, pinv, cv::DECOMP_SVD);
  EXPECT_LT(lsq::relative_difference(lsq::solve_min_norm(a, b), pinv * b), lsq::kAgreement);
}

// Entries far outside the range whose squares a double holds: scaling A and b by
// the same power of two leaves the solution as it is.
TEST(MinNormLeastSquares, ExtremeScalesGiveTheSameSolution) {
  std::mt19937 rng(16);
  for (const auto& size : std::vector<std::pair<int, int>>{{300, 6}, {2, 6}}) {
    const cv::Mat a = lsq::random_matrix(rng, size.first, size.second);
    const cv::Mat b = lsq::random_matrix(rng, size.first, 1);
    const cv::Mat x = lsq::solve_min_norm(a, b);
    for (double s : {std::ldexp(1.0, 700), std::ldexp(1.0, -700)}) {
      const cv::Mat xs = lsq::solve_min_norm(a * s, b * s);
      EXPECT_LT(lsq::relative_difference(xs, x), lsq::kAgreement) << size.first << " scale " << s;
    }
  }
}

TEST(MinNormLeastSquares, EmptyOrZeroSystemGivesZero) {
  trel::Min_norm_least_squares<double> solver;
  std::vector<double> x(4, 5.0);
  solver.solve(nullptr, 0, 4, 4, nullptr, x.data());
  EXPECT_EQ(x, std::vector<double>(4, 0.0));
  const cv::Mat a(10, 4, CV_64F, cv::Scalar(0.0));
  const cv::Mat b(10, 1, CV_64F, cv::Scalar(1.0));
  EXPECT_EQ(cv::norm(lsq::solve_min_norm(a, b)), 0.0);
}

TEST(MinNormLeastSquares, NonFiniteInputEndsWithoutHanging) {
  std::mt19937 rng(17);
  cv::Mat a = lsq::random_matrix(rng, 50, 6);
  a.at<double>(7, 2) = std::numeric_limits<double>::quiet_NaN();
  const cv::Mat b = lsq::random_matrix(rng, 50, 1);
  const cv::Mat x = lsq::solve_min_norm(a, b);
  EXPECT_FALSE(cv::checkRange(x));
}

// With an error estimate E, a direction along which A is no larger than E
// counts as zero: A = U diag(10, 1, 1e-3) V^T with |E v_3| = 1e-2 loses its
// third direction, |E v_2| = 0.5 keeps the second. Tall and wide systems (the
// wide one through A^T) agree with the truncated SVD solution.
TEST(MinNormLeastSquares, ErrorGramCutsTheDirectionsItSwamps) {
  std::mt19937 rng(23);
  for (const bool wide : {false, true}) {
    cv::Mat u, v, ignored;
    cv::SVD::compute(lsq::random_matrix(rng, 5, 3), ignored, u, v);  // u 5 x 3, v 3 x 3 (rows)
    const cv::Mat sigma = (cv::Mat_<double>(3, 1) << 10.0, 1.0, 1e-3);
    cv::Mat a = u * cv::Mat::diag(sigma) * v;  // 5 x 3
    cv::Mat rhs = lsq::random_matrix(rng, 5, 1);
    // E = e2 v_2^T + e3 v_3^T: |E v_2| = 0.5, |E v_3| = 1e-2.
    const cv::Mat gram = 0.25 * v.row(1).t() * v.row(1) + 1e-4 * v.row(2).t() * v.row(2);
    cv::Mat expected = cv::Mat::zeros(3, 1, CV_64F);
    for (int j = 0; j < 2; ++j) expected += v.row(j).t() * (u.col(j).dot(rhs) / sigma.at<double>(j));
    cv::Mat error_gram = gram.clone();
    if (wide) {  // A^T x = rhs' with the roles of u and v exchanged
      a = a.t();
      rhs = lsq::random_matrix(rng, 3, 1);
      error_gram = 0.25 * u.col(1) * u.col(1).t() + 1e-4 * u.col(2) * u.col(2).t();
      expected = cv::Mat::zeros(5, 1, CV_64F);
      for (int j = 0; j < 2; ++j) expected += u.col(j) * (v.row(j).dot(rhs.t()) / sigma.at<double>(j));
    }
    a = a.clone();
    error_gram = error_gram.clone();
    trel::Min_norm_least_squares<double> solver;
    cv::Mat x(a.cols, 1, CV_64F);
    solver.solve(a.ptr<double>(0), a.rows, a.cols, a.cols, rhs.ptr<double>(0), x.ptr<double>(0), 0.0,
                 error_gram.ptr<double>(0));
    EXPECT_LT(lsq::relative_difference(x, expected), 1e-12) << "wide " << wide;
    // Negative control: without the estimate the third direction is stepped along.
    EXPECT_GT(lsq::relative_difference(lsq::solve_min_norm(a, rhs), expected), 1.0) << "wide " << wide;
  }
}

// One table of shapes against OpenCV's SVD solve: A = L R with L
// rows x rank and R rank x cols, so a rank below min(rows, cols) makes the
// system rank-deficient. An empty A gives x = 0 (no columns: nothing written).
struct Shape_case {
  const char* name;
  int rows;
  int cols;
  int rank;
};

class MinNormLeastSquaresShape : public ::testing::TestWithParam<Shape_case> {};

TEST_P(MinNormLeastSquaresShape, MatchesOpenCvSvdSolve) {
  const Shape_case& c = GetParam();
  std::mt19937 rng(31 + static_cast<unsigned>(c.rows * 17 + c.cols));
  const cv::Mat a = c.rows > 0 && c.cols > 0
                        ? cv::Mat(lsq::random_matrix(rng, c.rows, c.rank) * lsq::random_matrix(rng, c.rank, c.cols))
                        : cv::Mat::zeros(std::max(c.rows, 1), std::max(c.cols, 1), CV_64F);
  const cv::Mat b = lsq::random_matrix(rng, std::max(c.rows, 1), 1);
  // One sentinel past the solution: nothing beyond cols values is written.
  std::vector<double> x(static_cast<std::size_t>(c.cols) + 1, -7.0);
  trel::Min_norm_least_squares<double> solver;
  solver.solve(a.ptr<double>(0), c.rows, c.cols, a.cols, b.ptr<double>(0), x.data());
  EXPECT_EQ(x.back(), -7.0);
  x.pop_back();
  if (c.rows == 0 || c.cols == 0) {
    EXPECT_EQ(x, std::vector<double>(static_cast<std::size_t>(c.cols), 0.0));
    return;
  }
  // cv::solve refuses fewer equations than unknowns; the back substitution of
  // cv::SVD gives the same pseudo-inverse solution there.
  cv::Mat ref;
  if (c.rows >= c.cols)
    ref = lsq::reference(a, b);
  else
    cv::SVD(a).backSubst(b, ref);
  EXPECT_LT(lsq::relative_difference(cv::Mat(x), ref), lsq::kAgreement);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MinNormLeastSquaresShape,
    ::testing::Values(Shape_case{"Tall", 40, 6, 6}, Shape_case{"TallBeyondOneBlock", 260, 7, 7},
                      Shape_case{"Square", 7, 7, 7}, Shape_case{"Wide", 3, 8, 3},
                      Shape_case{"TallRankDeficient", 50, 6, 4}, Shape_case{"SquareRankDeficient", 6, 6, 3},
                      Shape_case{"WideRankDeficient", 4, 9, 2}, Shape_case{"SingleColumn", 12, 1, 1},
                      Shape_case{"ZeroRows", 0, 5, 0}, Shape_case{"ZeroColumns", 5, 0, 0}),
    [](const ::testing::TestParamInfo<Shape_case>& info) { return std::string(info.param.name); });

// solve_well_conditioned against solve on one table of systems. Where the
// normal equations may serve (well conditioned, or one exact null direction),
// the two agree to eps times the scaled condition number; where they may not
// (too close to singular, a zero column, two null directions, wide), the
// fallback is solve itself, so the results are bitwise equal.
struct Normal_case {
  const char* name;
  int rows;
  int cols;
  int nulls;         // exact null directions: columns made combinations of others
  double gap;        // > 0: column 2 = column 0 + gap * noise (nearly singular)
  bool zero_column;  // column 1 all zero
  bool falls_back;
};

class MinNormLeastSquaresNormal : public ::testing::TestWithParam<Normal_case> {};

TEST_P(MinNormLeastSquaresNormal, AgreesWithTheMinimumNormSolve) {
  const Normal_case& c = GetParam();
  std::mt19937 rng(71 + static_cast<unsigned>(c.rows + 13 * c.cols + 7 * c.nulls));
  // Columns of very different scales, as the pose problems have.
  cv::Mat a = lsq::random_matrix(rng, c.rows, c.cols);
  for (int j = 0; j < c.cols; ++j) a.col(j) *= std::pow(10.0, j % 3);
  for (int k = 0; k < c.nulls; ++k) a.col(c.cols - 1 - k) = 0.5 * a.col(k) - 2.0 * a.col(k + 1);
  if (c.gap > 0.0) a.col(2) = a.col(0) + c.gap * lsq::random_matrix(rng, c.rows, 1);
  if (c.zero_column) a.col(1) = 0.0;
  const cv::Mat b = lsq::random_matrix(rng, c.rows, 1);
  trel::Min_norm_least_squares<double> solver;
  std::vector<double> x(static_cast<std::size_t>(c.cols) + 1, -7.0);
  solver.solve_well_conditioned(a.ptr<double>(0), c.rows, c.cols, c.cols, b.ptr<double>(0), x.data());
  EXPECT_EQ(x.back(), -7.0);
  x.pop_back();
  const cv::Mat ref = lsq::solve_min_norm(a, b);
  if (c.falls_back) {
    for (int j = 0; j < c.cols; ++j) EXPECT_EQ(x[j], ref.at<double>(j)) << j;
    return;
  }
  EXPECT_LT(lsq::relative_difference(cv::Mat(x), ref), 1e-10);
  // Not the fallback: rounding differs somewhere between the two routes.
  EXPECT_NE(x, std::vector<double>(ref.begin<double>(), ref.end<double>()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, MinNormLeastSquaresNormal,
    ::testing::Values(Normal_case{"Six", 40, 6, 0, 0.0, false, false},
                      Normal_case{"SevenBeyondOneBlock", 600, 7, 0, 0.0, false, false},
                      Normal_case{"EightSquare", 8, 8, 0, 0.0, false, false},
                      Normal_case{"OneNullDirection", 300, 7, 1, 0.0, false, false},
                      Normal_case{"TwoNullDirections", 300, 7, 2, 0.0, false, true},
                      Normal_case{"NearlySingular", 300, 6, 0, 1e-5, false, true},
                      Normal_case{"ZeroColumn", 50, 6, 0, 0.0, true, true},
                      Normal_case{"NineColumns", 50, 9, 0, 0.0, false, true},
                      Normal_case{"Wide", 4, 6, 0, 0.0, false, true}),
    [](const ::testing::TestParamInfo<Normal_case>& info) { return std::string(info.param.name); });

// The pose problem's own rank deficiency: the quaternion Jacobian's null
// direction q is removed, as the minimum-norm solve removes it.
TEST(MinNormLeastSquares, NormalEquationsStepIsOrthogonalToTheQuaternion) {
  for (int npts : {10, 1000}) {
    const trel_test::Synthetic_scene scene = trel_test::make_scene(24, npts);
    const trel::matrix<double> K = trel_test::intrinsics(scene.k11, scene.k13, scene.k23);
    std::vector<double> x = scene.quaternion;
    for (double& q : x) q *= 1.7;
    x.insert(x.end(), scene.centre.begin(), scene.centre.end());
    trel::Camera_position_grad_func_qu grad(nullptr, scene.points_world, K);
    cv::Mat j(2 * npts, 7, CV_64F);
    ASSERT_EQ(grad(x, j, 0), 2 * npts);
    std::mt19937 rng(24);
    const cv::Mat b = lsq::random_matrix(rng, 2 * npts, 1, 2.0);
    cv::Mat dx(7, 1, CV_64F);
    trel::Min_norm_least_squares<double> solver;
    solver.solve_well_conditioned(j.ptr<double>(0), j.rows, 7, 7, b.ptr<double>(0), dx.ptr<double>(0));
    const cv::Mat q = (cv::Mat_<double>(7, 1) << x[0], x[1], x[2], x[3], 0, 0, 0);
    EXPECT_LT(std::fabs(dx.dot(q)) / (cv::norm(dx) * cv::norm(q)), 1e-12) << npts;
    EXPECT_LT(lsq::relative_difference(dx, lsq::solve_min_norm(j, b)), 1e-10) << npts;
  }
}
