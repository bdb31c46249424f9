#include "trel_tools/Transform_estimator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "tests/test_support.h"
#include "tests/trel_matchers.h"

namespace {

using trel::matrix;
using trel::Transform_estimator;
using trel_test::make_matrix;
using trel_test::matrix_near;
using trel_test::origin_detail;
using Points = std::vector<std::vector<double>>;

// The fit is one SVD of a system whose entries reach |p q| ~ 25: a few hundred
// ulps of the largest entry, well below any wrong coefficient.
const double kTolerance = 1e-9;

Points random_points(std::mt19937& rng, int n) {
  std::uniform_real_distribution<double> coordinate(-2.0, 2.0);
  Points points(n, std::vector<double>(3));
  for (std::vector<double>& p : points)
    for (double& c : p) c = coordinate(rng);
  return points;
}

std::vector<double> map_point(const matrix<double>& H, const std::vector<double>& q) {
  double h[4];
  for (int r = 0; r < 4; ++r) h[r] = H[r][0] * q[0] + H[r][1] * q[1] + H[r][2] * q[2] + H[r][3];
  return {h[0] / h[3], h[1] / h[3], h[2] / h[3]};
}

// Originals are made from the targets with a known H; every overload must
// return it.
TEST(TransformEstimator, RecoversKnownTransformThroughEveryOverload) {
  const struct {
    const char* name;
    matrix<double> H;
    int num_points;
  } cases[] = {
      {"identity", make_matrix({{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}), 5},
      {"translation", make_matrix({{1, 0, 0, 1}, {0, 1, 0, 2}, {0, 0, 1, 3}, {0, 0, 0, 1}}), 8},
      {"scale", make_matrix({{2, 0, 0, 0}, {0, 2, 0, 0}, {0, 0, 2, 0}, {0, 0, 0, 1}}), 6},
      {"projective",
       make_matrix({{0.9, -0.2, 0.1, 0.5}, {0.3, 1.1, -0.4, -1.0}, {-0.1, 0.2, 0.8, 2.0}, {0.05, -0.03, 0.02, 1}}),
       40},
  };
  std::mt19937 rng(11);
  const Transform_estimator estimator;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Points target = random_points(rng, c.num_points), original;
    std::vector<std::vector<double>*> original_ptrs, target_ptrs;
    for (const std::vector<double>& q : target) original.push_back(map_point(c.H, q));
    for (std::size_t i = 0; i < target.size(); ++i) {
      original_ptrs.push_back(&original[i]);
      target_ptrs.push_back(&target[i]);
    }
    EXPECT_TRUE(matrix_near(estimator.estimate_transform(original, target), c.H, kTolerance));
    EXPECT_TRUE(matrix_near(estimator.estimate_transform(&original_ptrs, &target_ptrs), c.H, kTolerance));
    EXPECT_TRUE(matrix_near(estimator.estimate_transform(make_matrix(original), make_matrix(target)), c.H, kTolerance));
  }
}

// Fewer than five pairs: the answer is pinv(A) b of the direct linear system,
// built here independently from its row layout.
TEST(TransformEstimator, UnderdeterminedFitIsThePseudoInverseSolution) {
  std::mt19937 rng(5);
  for (int n = 1; n <= 4; ++n) {
    Points target = random_points(rng, n), original = random_points(rng, n);
    cv::Mat_<double> A = cv::Mat_<double>::zeros(3 * n, 15), b(3 * n, 1);
    for (int i = 0; i < n; ++i)
      for (int d = 0; d < 3; ++d) {
        for (int c = 0; c < 3; ++c) {
          A(3 * i + d, 4 * d + c) = target[i][c];
          A(3 * i + d, 12 + c) = -original[i][d] * target[i][c];
        }
        A(3 * i + d, 4 * d + 3) = 1;
        b(3 * i + d) = original[i][d];
      }
    cv::Mat_<double> A_pinv;
    cv::invert(A, A_pinv, cv::DECOMP_SVD);
    const cv::Mat_<double> x = A_pinv * b;
    matrix<double> expected(4, 4);
    for (int k = 0; k < 15; ++k) expected[k / 4][k % 4] = x(k);
    expected[3][3] = 1;
    const matrix<double> H = Transform_estimator().estimate_transform(original, target);
    EXPECT_TRUE(matrix_near(H, expected, kTolerance)) << n << " pairs";
    // An underdetermined system is met exactly: each target lands on its original.
    for (int i = 0; i < n; ++i) EXPECT_TRUE(trel_test::vectors_near(map_point(H, target[i]), original[i], kTolerance));
  }
}

// The origin detail of the exception_l that `call` throws at depth 0.
std::string thrown_detail(const std::function<void()>& call) { return trel_test::origin_detail_thrown(call, 0); }

TEST(TransformEstimator, BadInputThrowsWithItsText) {
  const std::string prefix = "Transform_estimator::estimate_transform() : ";
  const Transform_estimator estimator;
  auto fit = [&](Points original, Points target) { estimator.estimate_transform(original, target); };
  std::mt19937 rng(3);
  const Points five = random_points(rng, 5), four = random_points(rng, 4);
  Points flat = five, wide = five, infinite = five, six = random_points(rng, 6), six_flat = six;
  for (std::vector<double>& p : six_flat) p.pop_back();
  for (std::vector<double>& p : wide) p.push_back(1.0);
  flat[1] = {1.0, 2.0};
  infinite[2][1] = std::numeric_limits<double>::infinity();
  std::vector<std::vector<double>*> null_entry{nullptr}, one_entry{&flat[0]};

  const std::string count_text = prefix + "mismatch on number of points. original size=4 while target size=5";
  EXPECT_EQ(thrown_detail([&] { fit(four, five); }), count_text);
  EXPECT_EQ(thrown_detail([&] { estimator.estimate_transform(make_matrix(four), make_matrix(five)); }), count_text);
  EXPECT_EQ(thrown_detail([&] { fit(flat, five); }),
            prefix + "mismatch on dimensionality of point 1. original dims=2 while target dims=3");
  EXPECT_EQ(thrown_detail([&] { fit(wide, wide); }),
            prefix + "mismatch on dimensionality of point 0. original dims=4 while target dims=4");
  EXPECT_EQ(thrown_detail([&] { estimator.estimate_transform(make_matrix(six), make_matrix(six_flat)); }),
            prefix + "mismatch on dimension of point 0. original size=3 while target size=2");
  EXPECT_EQ(thrown_detail([&] { fit(five, infinite); }), prefix + "coordinate 1 of point 2 is not finite");
  EXPECT_EQ(thrown_detail([&] { fit({}, {}); }), prefix + "no point pairs to fit");
  EXPECT_EQ(thrown_detail([&] { estimator.estimate_transform(nullptr, &one_entry); }),
            prefix + "null point set. original is null while target is set");
  EXPECT_EQ(thrown_detail([&] { estimator.estimate_transform(&one_entry, &null_entry); }), prefix + "null point 0");
}

}  // namespace
