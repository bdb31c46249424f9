#include "trel_tools/opengv_wrapper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tests/synthetic_scene.h"
#include "tests/trel_matchers.h"

namespace {

using trel::matrix;
using trel_test::make_matrix;
using trel_test::matrix_near;
using trel_test::origin_detail;
using trel_test::vectors_near;

// Exact data: UPnP's closed form with a polished root lands within a few
// hundred ulps of the scene's scale (centres up to 5, depths up to 12).
const double kExactTolerance = 1e-9;
// 0.5 px noise at f = 800 px is 6e-4 rad per observation; averaged over N
// points the pose error is of order 6e-4 / sqrt(N). Bounds on each element
// allow 10 times that (position scaled by the mean depth of 8).
const double kNoisePx = 0.5;
double noisy_rotation_bound(int n) { return 10 * kNoisePx / 800.0 / std::sqrt(n); }
double noisy_position_bound(int n) { return 8 * noisy_rotation_bound(n); }

struct Scene_matrices {
  matrix<double> points_2d, points_3d, K, R;
  std::vector<double> t;
};

Scene_matrices to_matrices(const trel_test::Synthetic_scene& scene) {
  Scene_matrices m{make_matrix(scene.pixels), make_matrix(scene.points_world),
                   trel_test::intrinsics(scene.k11, scene.k13, scene.k23), matrix<double>(3, 3), scene.centre};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m.R[r][c] = scene.rot_mat(r, c);
  return m;
}

TEST(Upnp, BestCandidateRecoversPoseFromExactAndNoisyPixels) {
  for (int n : {6, 10, 100}) {
    for (unsigned seed = 1; seed <= 5; ++seed) {
      SCOPED_TRACE("N = " + std::to_string(n) + ", seed " + std::to_string(seed));
      const Scene_matrices exact = to_matrices(trel_test::make_scene(seed, n));
      matrix<double> R;
      std::vector<double> t;
      trel::upnp(exact.points_2d, exact.points_3d, exact.K, R, t);
      EXPECT_TRUE(trel_test::rotation_matrices_near(R, exact.R, kExactTolerance));
      EXPECT_TRUE(vectors_near(t, exact.t, kExactTolerance));

      trel_test::Scene_options options;
      options.pixel_noise = kNoisePx;
      const Scene_matrices noisy = to_matrices(trel_test::make_scene(seed, n, options));
      trel::upnp(noisy.points_2d, noisy.points_3d, noisy.K, R, t);
      EXPECT_TRUE(trel_test::is_rotation_matrix(R, kExactTolerance));
      EXPECT_TRUE(matrix_near(R, noisy.R, noisy_rotation_bound(n)));
      EXPECT_TRUE(vectors_near(t, noisy.t, noisy_position_bound(n)));
    }
  }
}

// The adapter is read back through its getters: start pose, bearing vectors
// (with K = I the unit vector along (u, v, 1)) and points in row order.
TEST(Upnp, AdapterHoldsStartPoseBearingVectorsAndPoints) {
  const matrix<double> points_2d = make_matrix({{0.1, -0.2}, {0.3, 0.4}, {-0.5, 0.1}, {0.2, 0.2}, {0.0, -0.3}});
  const matrix<double> points_3d =
      make_matrix({{0.2, -0.4, 2}, {0.9, 1.2, 3}, {-2, 0.4, 4}, {0.4, 0.4, 2}, {0, -1.5, 5}});
  const matrix<double> identity = make_matrix({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
  const matrix<double> start_R = make_matrix({{0, -1, 0}, {1, 0, 0}, {0, 0, 1}});
  std::vector<matrix<double>> rotations{start_R, identity};
  std::vector<std::vector<double>> translations{{1.5, -2.5, 3.5}};
  std::vector<trel::detail::Upnp_adapter_contents> seen;
  trel::detail::upnp_probed(points_2d, points_3d, identity, rotations, translations,
                            [&](const trel::detail::Upnp_adapter_contents& adapter) { seen.push_back(adapter); });
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(matrix_near(seen[0].rotation, start_R, 0.0));
  EXPECT_TRUE(vectors_near(seen[0].translation, {1.5, -2.5, 3.5}, 0.0));
  EXPECT_TRUE(matrix_near(seen[0].points, points_3d, 0.0));
  matrix<double> expected(5, 3);
  for (int j = 0; j < 5; ++j) {
    const double u = points_2d[j][0], v = points_2d[j][1], norm = std::sqrt(u * u + v * v + 1);
    expected.set_row(j, {u / norm, v / norm, 1 / norm});
  }
  EXPECT_TRUE(matrix_near(seen[0].bearing_vectors, expected, 1e-15));
}

TEST(Upnp, BadInputThrowsWithItsTextFromBothOverloads) {
  const Scene_matrices good = to_matrices(trel_test::make_scene(7, 6));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  matrix<double> wide_3d(6, 4), narrow_2d(6, 3), short_2d = make_matrix({{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 10}});
  matrix<double> singular_K = good.K, non_finite = good.points_3d, same_pixel(6, 2);
  for (int c = 0; c < 3; ++c) singular_K[2][c] = 2 * singular_K[1][c];
  non_finite[4][2] = nan;
  // World points on which OpenGV's UPnP crashed the process or cannot work.
  matrix<double> at_origin(6, 3), tiny = good.points_3d;
  for (unsigned j = 0; j < 6; ++j)
    for (unsigned c = 0; c < 3; ++c) {
      at_origin[j][c] = 0.0;
      tiny[j][c] *= 1e-200;
    }
  const Scene_matrices five = to_matrices(trel_test::make_scene(7, 5));
  matrix<double> four_of_five = five.points_3d;
  for (unsigned j = 1; j < 4; ++j) four_of_five.set_row(j, {five.points_3d[0][0], five.points_3d[0][1], five.points_3d[0][2]});
  struct Case {
    std::string detail;
    matrix<double> points_2d, points_3d, K;
    std::vector<matrix<double>> rotations;
    std::vector<std::vector<double>> translations;
  };
  const std::vector<Case> cases = {
      {"3d points vector had size 6 by 4 (should be Npoints by 3)", narrow_2d, wide_3d, good.K, {}, {}},
      {"2d points vector had size 6 by 3 (should be Npoints by 2)", narrow_2d, good.points_3d, good.K, {}, {}},
      {"2d points vector had 5 rows while 3d points vector had 6 (should be the same number of points)", short_2d,
       good.points_3d, good.K, {}, {}},
      {"upnp needs at least 3 point correspondences, got 2", make_matrix({{1, 2}, {3, 4}}),
       make_matrix({{0, 0, 5}, {1, 0, 5}}), good.K, {}, {}},
      {"camera matrix K had size 2 by 3 (should be 3 by 3)", good.points_2d, good.points_3d, matrix<double>(2, 3), {},
       {}},
      {"2d points, 3d points and camera matrix K must all be finite", good.points_2d, non_finite, good.K, {}, {}},
      {"camera matrix K cannot be inverted (singular values ", good.points_2d, good.points_3d, singular_K, {}, {}},
      {"start rotation had size 2 by 3 and start translation 3 elements (should be 3 by 3 and 3)", good.points_2d,
       good.points_3d, good.K, {matrix<double>(2, 3)}, {{0, 0, 0}}},
      {"all 6 bearing vectors are parallel: the pose is undetermined", same_pixel, good.points_3d, good.K, {}, {}},
      {"the 6 3d points coincide (extent 0 about", good.points_2d, at_origin, good.K, {}, {}},
      {"the 3d points have an extent of ", good.points_2d, tiny, good.K, {}, {}},
      {"the 5 3d points are (nearly) collinear or all but one coincide", five.points_2d, four_of_five, five.K, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.detail);
    std::vector<matrix<double>> rotations = c.rotations;
    std::vector<std::vector<double>> translations = c.translations;
    try {
      trel::upnp(c.points_2d, c.points_3d, c.K, rotations, translations);
      ADD_FAILURE() << "all-candidates overload did not throw";
    } catch (const trel::exception_l& e) {
      EXPECT_EQ(e.depth(), 0);
      EXPECT_EQ(origin_detail(e).rfind(c.detail, 0), 0u) << origin_detail(e);
      EXPECT_EQ(rotations.size(), c.rotations.size());
    }
    if (!c.rotations.empty()) continue;  // the best-candidate overload never passes a malformed start pose
    matrix<double> R = good.R;
    std::vector<double> t = good.t;
    try {
      trel::upnp(c.points_2d, c.points_3d, c.K, R, t);
      ADD_FAILURE() << "best-candidate overload did not throw";
    } catch (const trel::exception_l& e) {
      EXPECT_EQ(e.depth(), 1);
      EXPECT_EQ(trel_test::detail_of(e), "");
      EXPECT_EQ(origin_detail(e).rfind(c.detail, 0), 0u) << origin_detail(e);
      EXPECT_TRUE(matrix_near(R, good.R, 0.0));
      EXPECT_EQ(t, good.t);
    }
  }
}

// Candidates given by hand: the true pose after point 0 is mirrored through
// the camera centre (same pixel, but behind the camera, residual 0) against the
// camera pulled back until that point is in front (finite residual).
TEST(UpnpSelectBestCandidate, PointBehindCameraLosesToAnyPoseWithAllPointsInFront) {
  Scene_matrices scene = to_matrices(trel_test::make_scene(3, 8));
  for (int c = 0; c < 3; ++c) scene.points_3d[0][c] = 2 * scene.t[c] - scene.points_3d[0][c];
  std::vector<double> pulled_back = scene.t;
  for (int r = 0; r < 3; ++r) pulled_back[r] -= 30 * scene.R[r][2];  // 30 along -optical axis, in world
  matrix<double> R;
  std::vector<double> t;
  trel::detail::select_best_candidate(scene.points_2d, scene.points_3d, scene.K, {scene.R, scene.R},
                                      {scene.t, pulled_back}, R, t);
  EXPECT_TRUE(vectors_near(t, pulled_back, 0.0));

  // Only poses with a point behind: an error, R and t untouched.
  EXPECT_THROW(trel::detail::select_best_candidate(scene.points_2d, scene.points_3d, scene.K, {scene.R}, {scene.t},
                                                   R, t),
               trel::exception_l);
  EXPECT_TRUE(vectors_near(t, pulled_back, 0.0));

  // No candidate: R and t become empty.
  trel::detail::select_best_candidate(scene.points_2d, scene.points_3d, scene.K, {}, {}, R, t);
  EXPECT_EQ(R.get_dim1(), 0u);
  EXPECT_TRUE(t.empty());

  // Negative control: among all-in-front candidates the one with the smaller residual wins.
  const Scene_matrices clean = to_matrices(trel_test::make_scene(3, 8));
  trel::detail::select_best_candidate(clean.points_2d, clean.points_3d, clean.K, {clean.R, clean.R},
                                      {pulled_back, clean.t}, R, t);
  EXPECT_TRUE(vectors_near(t, clean.t, 0.0));
}

}  // namespace
