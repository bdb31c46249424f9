#include "trel_tools/Camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/synthetic_scene.h"
#include "trel_tools/configuration.h"
#include "tests/trel_matchers.h"

namespace {

using trel::Camera;
using trel::Three_d_point;
using trel_test::vectors_near;

// Values that are exact in binary come out exactly; the rest are a few
// roundings of numbers below 1e4.
constexpr double kExact = 0.0;
constexpr double kRounding = 1e-9;

const char* const kNote =
    "NOTE: all previous calibation files are probably invalid, as they almost certainly include the inverse "
    "extrinsic rotations compared to the new convention\n";

// 512 x 256 pixels, principal point in the middle, fx = 1 and fy = 0.5 (so a
// pixel is 1/512 of the depth across and 1/128 down), B fx W = 128.
Camera test_camera() {
  Camera camera;
  camera.set_camera_params(0.5, 0.5, 1.0, 0.5, 0.25);
  camera.set_resolution(512, 256);
  return camera;
}

// The vector's text form, for failure messages.
std::string text(const std::vector<double>& values) {
  using trel::operator<<;
  std::ostringstream out;
  out << values;
  return out.str();
}

std::vector<double> projected(const Camera& camera, const std::vector<double>& world) {
  std::vector<double> uvd(3);
  camera.project(world[0], world[1], world[2], uvd[0], uvd[1], uvd[2]);
  return uvd;
}

std::vector<double> in_camera(const Camera& camera, std::vector<double> p) {
  camera.apply_extrinsic(p[0], p[1], p[2]);
  return p;
}

TEST(Camera, ProjectsInsideTheImageAndInFrontOnly) {
  const Camera camera = test_camera();
  const struct {
    std::vector<double> point;  // camera = world: no extrinsics
    std::vector<double> expected;
  } cases[] = {
      {{0, 0, 2}, {256, 128, 64}},
      {{255.0 / 512, 0, 1}, {511, 128, 128}},            // u = W - 1: last column
      {{255.0 / 512 + 1e-9, 0, 1}, {0, 0, 0}},           // just right of it
      {{-0.5, 127.0 / 128, 1}, {0, 255, 128}},           // first column, last row
      {{-0.5 - 1e-9, 0, 1}, {0, 0, 0}},
      {{0, 127.0 / 128 + 1e-9, 1}, {0, 0, 0}},
      {{0, 0, 0.0001}, {0, 0, 0}},                       // not beyond the minimum depth
      {{0, 0, 0.00011}, {256, 128, 128 / 0.00011}},
      {{0, 0, -2}, {0, 0, 0}},                           // behind
      {{NAN, 0, 1}, {0, 0, 0}},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(vectors_near(projected(camera, c.point), c.expected, 1e-6)) << c.point[0] << "," << c.point[2];
    if (c.expected[2] > 0) {
      EXPECT_NEAR(camera.switch_disp_to_z(c.expected[2]), c.point[2], kRounding);
    }
  }
}

TEST(Camera, IntProjectionRoundsHalfDown) {
  const Camera camera = test_camera();
  // x = (u / 512 - 0.5) at depth 1 gives column u.
  const struct {
    double u;
    int rounded;
  } cases[] = {{10.5, 10}, {10.50000002, 11}, {10.4, 10}, {0.0, 0}, {510.9, 511}};
  for (const auto& c : cases) {
    int u = -1, v = -1;
    double disp = 0;
    camera.project(c.u / 512 - 0.5, 0.0, 1.0, u, v, disp);
    EXPECT_EQ(u, c.rounded) << c.u;
    EXPECT_EQ(v, 128);
    EXPECT_EQ(disp, 128);
  }
}

TEST(Camera, ExtrinsicsSetReplaceOrKeepTheTransform) {
  const double s = std::sqrt(0.5);
  const struct {
    std::vector<double> params;
    bool quaternion;
    const char* message;
    std::vector<double> world, in_camera;
  } cases[] = {
      {{0, 0, 0, 0, 0, 0}, false, "", {1, 2, 3}, {1, 2, 3}},
      {{0, 0, 0, 0, 0, 0, 0}, true, "", {1, 2, 3}, {1, 2, 3}},
      {{0, 0, 0, 1, 2, 3}, false, kNote, {1, 2, 3}, {0, 0, 0}},
      {{0.00009, 0, -0.0001, 0, 0, 0.0001}, false, "", {1, 2, 3}, {1, 2, 3}},  // within the zero tolerance
      // World to camera is Ry(a2) Rx(a1) Rz(a0); degrees are converted with pi
      // at single precision, so 90 degrees leave a cosine of -4.371139e-8.
      {{0, 0, 90, 0, 0, 0}, false, kNote, {-1, 0, 0}, {4.371139e-8, 0, 1}},
      {{90, 0, 0, 0, 0, 0}, false, kNote, {1, 0, 0}, {-4.371139e-8, 1, 0}},
      {{90, 90, 0, 0, 0, 0}, false, kNote, {1, 0, 0}, {-4.371139e-8, -4.371139e-8, 1}},
      {{0, s, 0, s, 0, 0, 0}, true, "", {-1, 0, 0}, {0, 0, 1}},
      {{0, 2, 0, 2, 1, 0, 0}, true, "", {0, 0, 0}, {0, 0, 1}},  // normalised; centre at (1, 0, 0)
      // wrong counts keep the transform set before: centre (10, 20, 30)
      {{0, 0, 0, 1, 2}, false, "Error, extrinsic parameters at do not exist, or have an incorrect size 5\n",
       {11, 22, 33}, {1, 2, 3}},
      {{0, 0, 0, 1, 2, 3, 4, 5}, false,
       "Error, extrinsic parameters at do not exist, or have an incorrect size 8\n", {11, 22, 33}, {1, 2, 3}},
      {{0, 0, 0, 1, 2, 3}, true, "Error, extrinsic parameters at do not exist, or have an incorrect size 6\n",
       {11, 22, 33}, {1, 2, 3}},
  };
  for (const auto& c : cases) {
    Camera camera = test_camera();
    testing::internal::CaptureStderr();
    camera.set_extrinsics({0, 0, 0, 10, 20, 30});
    testing::internal::GetCapturedStderr();
    std::vector<double> params = c.params;
    testing::internal::CaptureStderr();
    if (c.quaternion)
      camera.set_extrinsics_quaternion(params);
    else
      camera.set_extrinsics(params);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message) << text(params);
    EXPECT_EQ(camera.get_extrinsics(), c.params);
    EXPECT_TRUE(vectors_near(in_camera(camera, c.world), c.in_camera, 1e-12)) << text(params);
    // undo_extrinsic is the inverse of apply_extrinsic.
    std::vector<double> back = c.in_camera;
    camera.undo_extrinsic(back[0], back[1], back[2]);
    EXPECT_TRUE(vectors_near(back, c.world, 1e-12)) << text(params);
  }
}

TEST(Camera, ExtrinsicsWithoutARotationAreRefusedWhole) {
  const struct {
    std::vector<double> params;
    bool quaternion;
  } cases[] = {
      {{0, 0, 0, 0, 1, 2, 3}, true},  // zero quaternion
      {{NAN, 0, 0, 1, 2, 3}, false},
      {{INFINITY, 0, 0, 0, 0, 0}, false},
  };
  for (const auto& c : cases) {
    Camera camera = test_camera();
    testing::internal::CaptureStderr();
    camera.set_extrinsics({0, 0, 0, 10, 20, 30});
    std::vector<double> params = c.params;
    try {
      if (c.quaternion)
        camera.set_extrinsics_quaternion(params);
      else
        camera.set_extrinsics(params);
      ADD_FAILURE() << "accepted " << text(params);
    } catch (const trel::exception_l& e) {
      EXPECT_EQ(trel_test::origin_detail(e).rfind(
                    "Rotation matrix (or it's inverse) didn't have determinant of 1. Determinants were ", 0),
                0u)
          << e.what();
    }
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(vectors_near(in_camera(camera, {11, 22, 33}), {1, 2, 3}, kExact)) << text(params);
  }
}

// Synthetic points seen by a 640 x 480 camera with an 800 pixel focal length,
// placed by Euler angles or by the scene's own quaternion.
TEST(Camera, ProjectThenUnprojectReturnsTheWorldPoint) {
  trel_test::Scene_options options;
  options.half_field = 0.25;  // keeps every pixel inside 640 x 480
  const trel_test::Synthetic_scene scene = trel_test::make_scene(13, 50, options);
  const std::vector<double>& q = scene.quaternion;  // camera to world
  const struct {
    std::vector<double> params;
  } cases[] = {
      {{30, -20, 45, 1, 2, -3}},
      {{-170, 5, 89, -4, 0.5, 7}},
      {{-q[0], -q[1], -q[2], q[3], scene.centre[0], scene.centre[1], scene.centre[2]}},  // world to camera
  };
  for (const auto& c : cases) {
    Camera camera;
    camera.set_camera_params(320.0 / 640, 240.0 / 480, 800.0 / 640, 800.0 / 480, 0.12);
    camera.set_resolution(640, 480);
    testing::internal::CaptureStderr();
    std::vector<double> params = c.params;
    if (params.size() == 7)
      camera.set_extrinsics_quaternion(params);
    else
      camera.set_extrinsics(params);
    testing::internal::GetCapturedStderr();
    for (std::size_t i = 0; i < scene.points_in_cam.size(); ++i) {
      const std::vector<double>& cam = scene.points_in_cam[i];
      std::vector<double> world = scene.points_world[i];
      if (params.size() == 6) {
        world = cam;
        camera.undo_extrinsic(world[0], world[1], world[2]);
      }
      ASSERT_TRUE(vectors_near(in_camera(camera, world), cam, 1e-9)) << text(params);
      Three_d_point seen(0, 0, 0, 7, 8, 9);
      camera.project(Three_d_point(world[0], world[1], world[2], 0, 0, 0), seen);
      EXPECT_TRUE(vectors_near({seen.x, seen.y, seen.z},
                               {scene.pixels[i][0], scene.pixels[i][1], 0.12 * 800 / cam[2]}, 1e-9));
      Three_d_point back;
      camera.unproject(seen, back);
      EXPECT_TRUE(vectors_near({back.x, back.y, back.z}, world, 1e-9)) << text(params);
      EXPECT_EQ(seen.a + seen.b + seen.c, 7 + 8 + 9);
    }
  }
}

TEST(Camera, UnprojectRefusesPixelsOutsideAndSmallDisparities) {
  const Camera camera = test_camera();
  const struct {
    std::vector<double> uvd;
    std::vector<double> expected;
  } cases[] = {
      {{256, 128, 64}, {0, 0, 2}},
      {{511, 255, 128}, {255.0 / 512, 127.0 / 128, 1}},
      {{511.5, 128, 64}, {0, 0, 0}},
      {{256, -0.1, 64}, {0, 0, 0}},
      {{256, 128, 0.0001}, {0, 0, 0}},
      {{256, 128, 0.00011}, {0, 0, 128 / 0.00011}},
  };
  for (const auto& c : cases) {
    std::vector<double> xyz(3, -1);
    camera.unproject(c.uvd[0], c.uvd[1], c.uvd[2], xyz[0], xyz[1], xyz[2]);
    EXPECT_TRUE(vectors_near(xyz, c.expected, 1e-6)) << text(c.uvd);
  }
}

TEST(Camera, VoxelWidthsAreWorldDistancesOfOnePixelAndOneDisparityStep) {
  const double euler[] = {0, 0, 0, 0, 0, 0};
  const double turned[] = {30, -20, 45, 1, 2, -3};
  const struct {
    const double* extrinsics;
    std::vector<double> point_in_camera;
    std::vector<double> widths;
  } cases[] = {
      // depth 2, disparity 64: a column is 2/512 wide, a row 2/128 high, the
      // disparities 63 and 65 lie at 128/63 and 128/65.
      {euler, {0, 0, 2}, {2.0 / 512, 2.0 / 128, (128.0 / 63 - 128.0 / 65) / 2}},
      {turned, {0, 0, 2}, {2.0 / 512, 2.0 / 128, (128.0 / 63 - 128.0 / 65) / 2}},
      {euler, {0, 0, -2}, {0, 0, 0}},             // behind
      {euler, {255.0 / 512, 0, 1}, {0, 0, 0}},    // last column: u + 1 is outside
      {euler, {0, 0, 200}, {0, 0, 0}},            // disparity 0.64: disp - 1 is not visible
  };
  for (const auto& c : cases) {
    Camera camera = test_camera();
    testing::internal::CaptureStderr();
    camera.set_extrinsics(std::vector<double>(c.extrinsics, c.extrinsics + 6));
    testing::internal::GetCapturedStderr();
    std::vector<double> world = c.point_in_camera;
    camera.undo_extrinsic(world[0], world[1], world[2]);
    const Three_d_point widths = camera.voxel_widths(world[0], world[1], world[2]);
    EXPECT_TRUE(vectors_near({widths.x, widths.y, widths.z}, c.widths, 1e-12)) << text(c.point_in_camera);
  }
}

TEST(Camera, TextFormAndAssignmentCarryEveryField) {
  Camera camera;
  camera.set_camera_params(0.5, 0.25, 1, 2, 0.125);
  camera.set_resolution(640.9, -3.7);  // truncated toward zero
  std::ostringstream text;
  text << camera;
  EXPECT_EQ(text.str(),
            "camera created from specific parameters.\ncentre position=(0.5,0.25)\n"
            "focal lengths in pixels=(1,2)\nimage size=(640,-3)\ndisp_to_dist=0.125\n");
  EXPECT_THROW(camera.set_resolution(NAN, 480), trel::exception_l);
  EXPECT_THROW(camera.set_resolution(640, 3e9), trel::exception_l);
  EXPECT_EQ(camera.get_image_width(), 640);

  // A quaternion camera assigned to another: nothing is re-parsed or printed,
  // the transform comes along.
  Camera source = test_camera();
  std::vector<double> quaternion = {0, std::sqrt(0.5), 0, std::sqrt(0.5), 1, 0, 0};
  source.set_extrinsics_quaternion(quaternion);
  testing::internal::CaptureStderr();
  camera = source;
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(camera.get_extrinsics(), quaternion);
  EXPECT_TRUE(vectors_near(projected(camera, {0, 0, 0}), {256, 128, 128}, kRounding));
}

// ---- rigs from a configuration

struct config_line {
  const char* key;
  const char* value;
};

// A configuration holding the catalogue's defaults and then `lines`, applied
// as lines of a file would be; its warnings are swallowed.
std::unique_ptr<trel::configuration> configuration_of(const std::vector<config_line>& lines) {
  auto config = std::make_unique<trel::configuration>();
  testing::internal::CaptureStderr();
  for (const config_line& line : lines) config->set_param(line.key, line.value);
  testing::internal::GetCapturedStderr();
  return config;
}

const config_line kPinhole = {"bumblebee_params", "0.5|0.5|1|0.5|512|256|0.25"};

TEST(CameraRig, CamerasTakeTheEntriesOfTheirIndex) {
  const struct {
    std::vector<config_line> lines;
    std::vector<double> centres;  // x of each camera's centre: apply_extrinsic(0, 0, 0) gives -centre
  } cases[] = {
      {{}, {}},
      {{kPinhole, kPinhole, kPinhole, {"extrinsic_camera_params", "0|0|0|1|0|0"},
        {"extrinsic_camera_params", "0|0|0|2|0|0"}},
       {1, 2, 0}},
      // One numbering: quaternion entries 0 and 1 belong to cameras 2 and 3 only.
      {{kPinhole, kPinhole, kPinhole, kPinhole, {"extrinsic_camera_params", "0|0|0|1|0|0"},
        {"extrinsic_camera_params", "0|0|0|2|0|0"}, {"extrinsic_camera_params_q", "0|0|0|1|3|0|0"},
        {"extrinsic_camera_params_q", "0|0|0|1|4|0|0"}},
       {1, 2, 3, 4}},
      {{kPinhole, kPinhole, {"extrinsic_camera_params_q", "0|0|0|1|3|0|0"}}, {3, 0}},
      // Extrinsic entries beyond the rig are ignored.
      {{kPinhole, {"extrinsic_camera_params", "0|0|0|1|0|0"}, {"extrinsic_camera_params", "0|0|0|2|0|0"}}, {1}},
  };
  for (const auto& c : cases) {
    const std::unique_ptr<trel::configuration> config = configuration_of(c.lines);
    std::vector<Camera> rig(2);
    testing::internal::CaptureStderr();
    trel::create_camera_vector(rig, *config);
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_EQ(messages.find("Camera::init()"), std::string::npos) << messages;
    ASSERT_EQ(rig.size(), c.centres.size());
    for (std::size_t i = 0; i < rig.size(); ++i) {
      EXPECT_TRUE(vectors_near(in_camera(rig[i], {0, 0, 0}), {-c.centres[i], 0, 0}, kExact)) << "camera " << i;
      EXPECT_TRUE(vectors_near(projected(rig[i], {c.centres[i], 0, 2}), {256, 128, 64}, kExact)) << "camera " << i;
    }
  }

  // An index beyond every list only says so.
  const std::unique_ptr<trel::configuration> config = configuration_of({kPinhole});
  Camera camera = test_camera();
  camera.set_camera_params(0.25, 0.5, 1, 0.5, 0.25);
  testing::internal::CaptureStderr();
  camera.init(*config, 5);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Camera::init() : camera initialised with index 5 but no cal file or set of params is specified at that "
            "index.\n");
  EXPECT_EQ(camera.get_x_centre(), 0.25);
}

// P = [500 0 320 0; 0 500 240 0; 0 0 1 0] after a camera-space shift of 1
// along z, offsets (10, 20), and the camera centre at z = -1: the world point
// (0.2, -0.1, 0) is at (0.2, -0.1, 2) before P, so q = (740, 430, 2) and the
// pixel is (370 - 10, 215 - 20).
TEST(CameraRig, ProjectionMatrixCameraMatchesHandComputedProjection) {
  const std::unique_ptr<trel::configuration> config = configuration_of({
      {"camera_proj_mats", "1|2|3|4|5|6|7|8|9|10|11"},  // 11 values: refused, takes no index
      {"camera_proj_mats", "500|0|320|0|0|500|240|0|0|0|1|0"},
      {"camera_space_transform", "1|0|0|0|0|1|0|0|0|0|1|1|0|0|0|1"},
      {"projection_offsets", "10|20"},
      {"extrinsic_camera_params", "0|0|0|0|0|-1"},
  });
  std::vector<Camera> rig;
  testing::internal::CaptureStderr();
  trel::create_camera_vector(rig, *config);
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(rig.size(), 1u);
  // The configuration gives no image size: a new camera keeps 0 by 0 and sees nothing.
  EXPECT_EQ(rig[0].get_image_width(), 0);
  EXPECT_TRUE(vectors_near(projected(rig[0], {0.2, -0.1, 0}), {0, 0, 0}, kExact));

  Camera camera;
  camera.set_resolution(640, 480);
  testing::internal::CaptureStderr();
  camera.init(*config, 0);
  testing::internal::GetCapturedStderr();
  const Camera copy = camera;
  Camera assigned;
  assigned = camera;
  const struct {
    std::vector<double> world;
    std::vector<double> expected;
  } cases[] = {
      {{0.2, -0.1, 0}, {360, 195, 1}},
      {{0, 0, 1}, {310, 220, 1}},
      {{0, 0, -2}, {0, 0, 0}},      // q[2] = 0
      {{1.4, 0, 0}, {0, 0, 0}},     // u = 660
      {{1.3125, 0, 0}, {638.125, 220, 1}},
  };
  for (const auto& c : cases)
    for (const Camera* cam : std::vector<const Camera*>{&camera, &copy, &assigned})
      EXPECT_TRUE(vectors_near(projected(*cam, c.world), c.expected, kRounding)) << text(c.world);
  double x = 0, y = 0, z = 0;
  try {
    camera.unproject(360, 195, 1, x, y, z);
    ADD_FAILURE() << "a projection-matrix camera back-projected";
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(trel_test::origin_detail(e),
              "Camera::unproject() : camera uses proj mats, can't currently back project in this case.");
  }
  EXPECT_THROW(camera.voxel_widths(0.2, -0.1, 0), trel::exception_l);
}

TEST(CameraRig, BadEntriesThrowAndLeaveTheRigAlone) {
  const config_line proj = {"camera_proj_mats", "500|0|320|0|0|500|240|0|0|0|1|0"};
  const config_line space = {"camera_space_transform", "1|0|0|0|0|1|0|0|0|0|1|0|0|0|0|1"};
  const struct {
    std::vector<config_line> lines;
    std::vector<double> extra_offsets;  // appended to projection_offsets through the store's pointer
    const char* detail;
  } cases[] = {
      {{kPinhole, proj}, {},
       "Config file contains both bumblebee_params and camera_proj_mats. Don't know how to order these so not "
       "handled (yet)."},
      {{proj}, {}, "Camera::init() : No camera_space_transform specified in config file for camera 0"},
      {{proj, space}, {},
       "Camera::init() : camera 0 was specified as using a projection matrix, but projection_offsets was not "
       "specified"},
      {{proj, proj, space, space, {"projection_offsets", "1|2"}}, {5},
       "Camera::init() : projection offset for camera 1 has 1entries rather than 2"},
      {{kPinhole, {"bumblebee_params", "1.5|0.5|1|0.5|512|256|0.25"}}, {},
       "Camera::init() : bumblebee_params entry for camera 1 has 1 values rather than 7 (its line in the config "
       "file was not read completely)"},
      {{{"bumblebee_params", "0.5|0.5|1|0.5|512"}}, {},
       "Camera::init() : bumblebee_params entry for camera 0 has 0 values rather than 7 (its line in the config "
       "file was not read completely)"},
  };
  for (const auto& c : cases) {
    const std::unique_ptr<trel::configuration> config = configuration_of(c.lines);
    if (!c.extra_offsets.empty()) {
      trel::configuration::camera_list* offsets = nullptr;
      ASSERT_TRUE(config->get_param("projection_offsets", offsets));
      offsets->push_back(c.extra_offsets);
    }
    std::vector<Camera> rig = {test_camera()};
    testing::internal::CaptureStderr();
    try {
      trel::create_camera_vector(rig, *config);
      ADD_FAILURE() << "no error for " << c.detail;
    } catch (const trel::exception_l& e) {
      EXPECT_EQ(trel_test::origin_detail(e), c.detail);
    }
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(rig.size(), 1u);
    EXPECT_EQ(rig[0].get_image_width(), 512);
    EXPECT_TRUE(vectors_near(projected(rig[0], {0, 0, 2}), {256, 128, 64}, kExact));
  }
}

}  // namespace
