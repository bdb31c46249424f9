#include "camera_pose_refine/camera_position_opt_func.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera_pose_refine/camera_position_rotation_codes.h"
#include "tests/synthetic_scene.h"
#include "trel_tools/exception_l.h"
#include "trel_tools/rotation.h"

namespace {

using trel::Camera_position_opt_func;

// Pixel values near 1e3 computed through a 3 by 4 product: a few ulps.
constexpr double kPixelTol = 1e-9;

using trel_test::intrinsics;

std::vector<double> with_centre(std::vector<double> rotation, const std::vector<double>& t) {
  rotation.insert(rotation.end(), t.begin(), t.end());
  return rotation;
}

TEST(CameraPositionOptFunc, ProjectsThroughThePrincipalPointAndFocalLength) {
  const Camera_position_opt_func f({{1.0, 2.0, 10.0}}, intrinsics(100.0, 50.0, 40.0), 0);
  EXPECT_EQ(f({0, 0, 0, 0, 0, 0}), (std::vector<double>{60.0, 60.0}));
  EXPECT_EQ(f({0, 0, 0, 1, 2, 0}), (std::vector<double>{50.0, 40.0}));
  EXPECT_TRUE(Camera_position_opt_func({}, intrinsics(100.0, 50.0, 40.0), 0)({0, 0, 0, 0, 0, 0}).empty());
}

TEST(CameraPositionOptFunc, ReproducesSyntheticPixelsAtTheTruePoseForEveryCode) {
  const trel_test::Synthetic_scene scene = trel_test::make_scene(7u, 20);
  const trel::matrix<double> K = intrinsics(scene.k11, scene.k13, scene.k23);
  const trel::matrix<double> identity = intrinsics(1.0, 0.0, 0.0);
  for (const trel::Rotation_code& entry : trel::rotation_codes()) {
    const int code = entry.code;
    const int rows = trel::camera_rotation_type::observation_rows(code);
    const int reps = trel::camera_rotation_type::repetitions(code);
    const std::vector<double>& rotation = entry.form == trel::Rotation_form::rot_vec    ? scene.rot_vec
                                          : entry.form == trel::Rotation_form::ang_axis ? scene.ang_axis
                                                                                        : scene.quaternion;
    const Camera_position_opt_func f(scene.points_world, rows == 3 ? identity : K, code);
    const std::vector<double> values = f(with_centre(rotation, scene.centre));
    ASSERT_EQ(values.size(), static_cast<std::size_t>(reps * rows * 20)) << code;
    for (int j = 0; j < reps; ++j)
      for (int i = 0; i < 20; ++i)
        for (int m = 0; m < rows; ++m) {
          const double expected = rows == 3 ? scene.points_in_cam[i][m] : scene.pixels[i][m];
          EXPECT_NEAR(values[(j * 20 + i) * rows + m], expected, kPixelTol) << code << " " << i << " " << m;
        }
  }
}

TEST(CameraPositionOptFunc, RotationLengthDoesNotMatterWhereItIsNormalised) {
  const trel_test::Synthetic_scene scene = trel_test::make_scene(3u, 5);
  const trel::matrix<double> K = intrinsics(scene.k11, scene.k13, scene.k23);
  const Camera_position_opt_func qu(scene.points_world, K, 2), qn(scene.points_world, K, 3);
  const Camera_position_opt_func aan(scene.points_world, K, 1);
  std::vector<double> q = scene.quaternion;
  const std::vector<double> unit = qu(with_centre(q, scene.centre));
  EXPECT_EQ(unit, qn(with_centre(q, scene.centre)));
  for (double& v : q) v *= 2.0;
  const std::vector<double> doubled = qu(with_centre(q, scene.centre));
  std::vector<double> a = scene.ang_axis;
  for (int k = 0; k < 3; ++k) a[k] *= 2.0;
  const std::vector<double> long_axis = aan(with_centre(a, scene.centre));
  for (std::size_t k = 0; k < unit.size(); ++k) {
    EXPECT_NEAR(doubled[k], unit[k], kPixelTol);
    EXPECT_NEAR(long_axis[k], unit[k], kPixelTol);
  }
  EXPECT_EQ(qu({0, 0, 0, 2, 0, 0, 0}), qu({0, 0, 0, 1, 0, 0, 0}));
}

TEST(CameraPositionOptFunc, BearingVectorCodesNeedIdentityIntrinsics) {
  const std::vector<std::vector<double>> points{{1.0, 2.0, 10.0}};
  // Half the 1e-4 tolerance passes, ten times it fails.
  const Camera_position_opt_func near(points, intrinsics(1.0 + 0.5e-4, 0.0, 0.0), 10);
  const std::vector<double> values = near({0, 0, 0, 0, 0, 0});
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[2], 10.0);
  const trel::matrix<double> far_K = intrinsics(1.0 + 1e-3, 0.0, 0.0);
  const Camera_position_opt_func far(points, far_K, 11);
  try {
    far({0, 0, 1, 0, 0, 0, 0});
    FAIL() << "no exception";
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(e.depth(), 0);
    std::stringstream expected;
    expected << "\nDetails: For bearing vectors, expected k to be identity, instead got " << far_K << "\n";
    EXPECT_NE(std::string(e.what()).find(expected.str()), std::string::npos) << e.what();
  }
  EXPECT_THROW(Camera_position_opt_func(points, intrinsics(1.0, 0.0, 1e-3), 12)({0, 0, 0, 1, 0, 0, 0}),
               trel::exception_l);
}

TEST(CameraPositionOptFunc, UnknownCodeAndShortSearchVectorAreWrappedOnce) {
  const std::vector<std::vector<double>> points{{1.0, 2.0, 10.0}};
  const trel::matrix<double> K = intrinsics(100.0, 50.0, 40.0);
  for (int code : {4, -4, 13}) {
    try {
      Camera_position_opt_func(points, K, code)({0, 0, 0, 1, 0, 0, 0});
      FAIL() << code;
    } catch (const trel::exception_l& e) {
      EXPECT_EQ(e.depth(), 1);
      const std::string text = e.what();
      EXPECT_NE(text.find("\tDetails: \n"), std::string::npos) << text;
      EXPECT_NE(text.find("\nDetails: Uknown rotation type!\n"), std::string::npos) << text;
    }
  }
  EXPECT_THROW(Camera_position_opt_func(points, K, 0)({0, 0, 0, 0, 0}), trel::exception_l);
  EXPECT_THROW(Camera_position_opt_func({{1.0, 2.0}}, K, 0), trel::exception_l);
}

}  // namespace

namespace {

// One rotation per form, degenerate ones included, against the conversions of
// rotation.h: the cost function's own conversion must give the same matrix.
struct Conversion_case {
  const char* name;
  int code;
  std::vector<double> rotation;
};

class CameraPositionOptFuncConversion : public ::testing::TestWithParam<Conversion_case> {};

TEST_P(CameraPositionOptFuncConversion, ProjectsWithTheRotationOfRotationH) {
  const Conversion_case& c = GetParam();
  const trel::matrix<double> K = intrinsics(700.0, 320.0, 240.0);
  const std::vector<std::vector<double>> points = {{0.3, -0.2, 9.0}, {-1.5, 0.8, 12.0}, {2.0, 1.0, 7.5}};
  const std::vector<double> t = {0.1, -0.3, 0.4};
  trel::matrix<double> R;
  const trel::Rotation_form form = trel::find_rotation_code(c.code)->form;
  if (form == trel::Rotation_form::quaternion) R = trel::quaternion_to_rot_mat(c.rotation);
  else if (form == trel::Rotation_form::ang_axis) R = trel::ang_axis_rad_to_rot_mat(c.rotation);
  else R = trel::rot_vec_rad_to_rot_mat(c.rotation);
  const std::vector<double> f = Camera_position_opt_func(points, K, c.code)(with_centre(c.rotation, t));
  ASSERT_EQ(f.size(), 2 * points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    double cam[3];  // R^T (X - t)
    for (int r = 0; r < 3; ++r) {
      cam[r] = 0.0;
      for (int k = 0; k < 3; ++k) cam[r] += R[k][r] * (points[i][k] - t[k]);
    }
    EXPECT_NEAR(f[2 * i], 700.0 * cam[0] / cam[2] + 320.0, kPixelTol) << i;
    EXPECT_NEAR(f[2 * i + 1], 700.0 * cam[1] / cam[2] + 240.0, kPixelTol) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, CameraPositionOptFuncConversion,
    ::testing::Values(Conversion_case{"RotVec", 0, {0.2, -0.1, 0.3}}, Conversion_case{"RotVecZero", 0, {0.0, 0.0, 0.0}},
                      Conversion_case{"RotVecLarge", 0, {2.0, -1.5, 1.0}},
                      Conversion_case{"AngAxis", 1, {1.0, 2.0, -0.5, 0.4}},
                      Conversion_case{"AngAxisDegenerateAxis", 1, {1e-9, 0.0, 0.0, 0.7}},
                      Conversion_case{"Quaternion", 2, {0.1, -0.2, 0.05, 0.9}},
                      Conversion_case{"QuaternionLong", 3, {0.3, -0.6, 0.15, 2.7}}),
    [](const ::testing::TestParamInfo<Conversion_case>& info) { return std::string(info.param.name); });

}  // namespace
