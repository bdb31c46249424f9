#include "camera_pose_refine/camera_position_hybrid_grad_funcs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "camera_pose_refine/camera_position_opt_func.h"
#include "tests/synthetic_scene.h"
#include "trel_tools/exception_l.h"

namespace {

using namespace trel;

// The blocks are the same derivative reached by different routes through
// trigonometric conversions: they agree to ~1e-12 of the largest entry.
constexpr double kBlockTol = 1e-9;
constexpr double kSentinel = -12345.0;

using trel_test::intrinsics;

template <class G>
cv::Mat hybrid_jacobian(const trel_test::Synthetic_scene& s, const std::vector<double>& x, int row0 = 0,
                        int extra = 0) {
  const matrix<double> K = intrinsics(s.k11, s.k13, s.k23);
  G g(s.points_world, K, nullptr);
  const int n = 2 * static_cast<int>(s.points_world.size());
  cv::Mat J(3 * n + row0 + extra, static_cast<int>(x.size()), CV_64F, cv::Scalar(kSentinel));
  EXPECT_EQ(g(x, J, row0), 3 * n);
  return J;
}

cv::Mat block(const cv::Mat& J, int b, int n, int row0 = 0) { return J.rowRange(row0 + b * n, row0 + (b + 1) * n); }

std::vector<double> with_centre(std::vector<double> r, const std::vector<double>& t) {
  r.insert(r.end(), t.begin(), t.end());
  return r;
}

// Largest difference of blocks a and b along the given directions, relative to their size.
double block_mismatch(const cv::Mat& a, const cv::Mat& b, const std::vector<cv::Mat>& dirs) {
  const double scale = std::max(1.0, cv::norm(a, cv::NORM_INF));
  double worst = 0.0;
  for (const cv::Mat& v : dirs) worst = std::max(worst, cv::norm(a * v - b * v, cv::NORM_INF) / scale);
  return worst;
}

// Unit vectors of dims columns, the first `constrained` projected onto the
// tangent of the unit vector held in the first values of x (when constrained > 0).
std::vector<cv::Mat> directions(const std::vector<double>& x, int constrained) {
  std::vector<cv::Mat> dirs;
  const int dims = static_cast<int>(x.size());
  for (int d = 0; d < dims; ++d) {
    cv::Mat v = cv::Mat::zeros(dims, 1, CV_64F);
    v.at<double>(d) = 1.0;
    if (d < constrained)
      for (int k = 0; k < constrained; ++k) v.at<double>(k) -= x[d] * x[k];
    dirs.push_back(v);
  }
  return dirs;
}

// Scenes with rotation angles up to 3 rad, beyond the half-turn of the quaternion's w sign change.
trel_test::Synthetic_scene scene(unsigned seed) {
  trel_test::Scene_options o;
  o.max_angle = 3.0;
  return trel_test::make_scene(seed, 6, o);
}

TEST(CameraPositionGradFuncAauQuAan, BlocksAgreeAtNonZeroRotationVectors) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    const trel_test::Synthetic_scene s = scene(seed);
    const std::vector<double> x = with_centre(s.rot_vec, s.centre);
    const cv::Mat J = hybrid_jacobian<Camera_position_grad_func_aau_qu_aan>(s, x);
    const int n = 12;
    const std::vector<cv::Mat> all = directions(x, 0);
    EXPECT_LT(block_mismatch(block(J, 0, n), block(J, 1, n), all), kBlockTol) << seed;
    EXPECT_LT(block_mismatch(block(J, 0, n), block(J, 2, n), all), kBlockTol) << seed;
  }
}

TEST(CameraPositionGradFuncQuAauAan, BlocksAgreeAlongEveryDirection) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    const trel_test::Synthetic_scene s = scene(seed);
    std::vector<double> q = s.quaternion;
    // Both signs of the same rotation.
    if (seed % 2 == 0)
      for (double& v : q) v = -v;
    const std::vector<double> x = with_centre(q, s.centre);
    const cv::Mat J = hybrid_jacobian<Camera_position_grad_func_qu_aau_aan>(s, x);
    const int n = 12;
    // The quaternion conversions ignore q's length, as the rotation does, so
    // no block has a component along q itself.
    const std::vector<cv::Mat> all = directions(x, 0);
    EXPECT_LT(block_mismatch(block(J, 1, n), block(J, 2, n), all), kBlockTol) << seed;
    EXPECT_LT(block_mismatch(block(J, 0, n), block(J, 1, n), all), kBlockTol) << seed;
    cv::Mat along_q = cv::Mat::zeros(7, 1, CV_64F);
    for (int k = 0; k < 4; ++k) along_q.at<double>(k) = x[k];
    EXPECT_LT(cv::norm(block(J, 1, n) * along_q, cv::NORM_INF), kBlockTol * cv::norm(J, cv::NORM_INF)) << seed;
  }
}

TEST(CameraPositionGradFuncAanQuAau, BlocksAgreeAlongUnitAxisDirections) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    const trel_test::Synthetic_scene s = scene(seed);
    const std::vector<double> x = with_centre(s.ang_axis, s.centre);
    const cv::Mat J = hybrid_jacobian<Camera_position_grad_func_aan_qu_aau>(s, x);
    const int n = 12;
    const std::vector<cv::Mat> tangent = directions(x, 3);
    EXPECT_LT(block_mismatch(block(J, 0, n), block(J, 1, n), tangent), kBlockTol) << seed;
    EXPECT_LT(block_mismatch(block(J, 0, n), block(J, 2, n), tangent), kBlockTol) << seed;
    // Along the axis the member normalises and the conversions do not.
    cv::Mat along_axis = cv::Mat::zeros(7, 1, CV_64F);
    for (int k = 0; k < 3; ++k) along_axis.at<double>(k) = x[k];
    EXPECT_GT(cv::norm(block(J, 1, n) * along_axis - block(J, 0, n) * along_axis, cv::NORM_INF), 1e-3);
  }
}

TEST(CameraPositionGradFuncHybrid, FirstBlockIsTheMemberAndPositionColumnsAgree) {
  const trel_test::Synthetic_scene s = scene(4u);
  const matrix<double> K = intrinsics(s.k11, s.k13, s.k23);
  const int n = 12;
  struct Case {
    cv::Mat J;
    cv::Mat single;
    int nrot;
  };
  cv::Mat single_qu(n, 7, CV_64F), single_aau(n, 6, CV_64F), single_aan(n, 7, CV_64F);
  const std::vector<double> xq = with_centre(s.quaternion, s.centre), xr = with_centre(s.rot_vec, s.centre),
                            xa = with_centre(s.ang_axis, s.centre);
  Camera_position_grad_func_qu(nullptr, s.points_world, K)(xq, single_qu, 0);
  Camera_position_grad_func_aau(nullptr, s.points_world, K)(xr, single_aau, 0);
  Camera_position_grad_func_aan(nullptr, s.points_world, K)(xa, single_aan, 0);
  const Case cases[] = {{hybrid_jacobian<Camera_position_grad_func_qu_aau_aan>(s, xq), single_qu, 4},
                        {hybrid_jacobian<Camera_position_grad_func_aau_qu_aan>(s, xr), single_aau, 3},
                        {hybrid_jacobian<Camera_position_grad_func_aan_qu_aau>(s, xa), single_aan, 4}};
  for (const Case& c : cases) {
    EXPECT_EQ(cv::norm(block(c.J, 0, n) - c.single, cv::NORM_INF), 0.0);
    const double scale = cv::norm(c.single, cv::NORM_INF);
    for (int b = 1; b < 3; ++b)
      EXPECT_LT(cv::norm(block(c.J, b, n).colRange(c.nrot, c.nrot + 3) - c.single.colRange(c.nrot, c.nrot + 3),
                         cv::NORM_INF),
                kBlockTol * scale)
          << c.nrot << " block " << b;
  }
}

TEST(CameraPositionGradFuncHybrid, WritesExactlyItsRows) {
  const trel_test::Synthetic_scene s = scene(6u);
  const cv::Mat J = hybrid_jacobian<Camera_position_grad_func_aan_qu_aau>(s, with_centre(s.ang_axis, s.centre), 3, 4);
  for (int r = 0; r < J.rows; ++r) {
    const bool own = r >= 3 && r < 3 + 36;
    EXPECT_EQ(J.at<double>(r, 0) == kSentinel, !own) << r;
  }
}

// At the zero rotation every block is finite. The quaternion and rotation-vector
// blocks are exact there and agree with the first block (the aau member's 1e-9 guard
// aside); the angle-axis block, whose axis is undefined, has zero rotation columns
// and keeps the exact position columns.
TEST(CameraPositionGradFuncHybrid, ZeroRotationGivesFiniteBlocks) {
  const trel_test::Synthetic_scene s = scene(8u);
  const int n = 12;
  const cv::Mat J2 = hybrid_jacobian<Camera_position_grad_func_aau_qu_aan>(s, with_centre({0, 0, 0}, s.centre));
  const cv::Mat J1 = hybrid_jacobian<Camera_position_grad_func_qu_aau_aan>(s, with_centre({0, 0, 0, 1}, s.centre));
  for (const cv::Mat& J : {J1, J2}) {
    ASSERT_TRUE(cv::checkRange(J));
    const int nrot = J.cols - 3;
    const double scale = cv::norm(J, cv::NORM_INF);
    EXPECT_LT(cv::norm(block(J, 0, n) - block(J, 1, n), cv::NORM_INF), 1e-6 * scale) << nrot;
    EXPECT_EQ(cv::countNonZero(block(J, 2, n).colRange(0, nrot)), 0) << nrot;
    EXPECT_LT(cv::norm(block(J, 0, n).colRange(nrot, nrot + 3) - block(J, 2, n).colRange(nrot, nrot + 3),
                       cv::NORM_INF), 1e-6 * scale) << nrot;
  }
  const cv::Mat J3 = hybrid_jacobian<Camera_position_grad_func_aan_qu_aau>(s, with_centre({0, 0, 1, 0}, s.centre));
  EXPECT_TRUE(cv::checkRange(J3));
}


TEST(CameraPositionGradFuncHybrid, EmptyPointListAndBadJacobian) {
  const matrix<double> K = intrinsics(100, 50, 40);
  Camera_position_grad_func_aau_qu_aan empty({}, K, nullptr);
  cv::Mat none(0, 6, CV_64F);
  EXPECT_EQ(empty({0.1, 0.2, 0.3, 0, 0, 0}, none, 0), 0);

  Camera_position_grad_func_qu_aau_aan g({{1, 2, 10}, {0, 1, 8}}, K, nullptr);
  cv::Mat short_J(11, 7, CV_64F);
  try {
    g({0, 0, 0.2, 1, 0, 0, 0}, short_J, 0);
    FAIL() << "no exception";
  } catch (const exception_l& e) {
    EXPECT_EQ(e.depth(), 1);
    const std::string text = e.what();
    EXPECT_NE(text.find("Camera_position_grad_func_qu_aau_aan::operator()"), std::string::npos) << text;
  }
}

TEST(CameraPositionGradFuncHybrid, OwnsItsBaseFunction) {
  const matrix<double> K = intrinsics(100, 50, 40);
  Camera_position_grad_func_aan_qu_aau g({{1, 2, 10}}, K, new Camera_position_opt_func({{1, 2, 10}}, K, -3));
  g.set_weight(5, 2.0);
  EXPECT_EQ(g.base_function()->get_weight(5), 2.0);
  EXPECT_EQ((*g.base_function())({0, 0, 1, 0, 0, 0, 0}).size(), 6u);
}

}  // namespace
