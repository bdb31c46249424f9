#include "trel_tools/Camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/synthetic_scene.h"
#include "tests/test_support.h"
#include "tests/trel_matchers.h"
#include "trel_tools/configuration.h"

namespace {

using trel::Camera;
using trel::Three_d_point;
using trel_test::vectors_near;
using values = std::vector<double>;

// Binary-exact inputs come out exactly; the rest are a few roundings of numbers below 1e6.
constexpr double kExact = 0.0;
constexpr double kRounding = 1e-9;

const char* const kNote =
    "NOTE: all previous calibation files are probably invalid, as they almost certainly include the inverse "
    "extrinsic rotations compared to the new convention\n";
const char* const kDeterminant = "Rotation matrix (or it's inverse) didn't have determinant of 1. Determinants were ";

// 512 x 256 pixels, principal point in the middle, fx = 1 and fy = 0.5: a pixel
// is 1/512 of the depth across and 1/128 down; B fx W = 128.
Camera test_camera() {
  Camera camera;
  camera.set_camera_params(0.5, 0.5, 1.0, 0.5, 0.25);
  camera.set_resolution(512, 256);
  return camera;
}

std::string text(const values& v) {
  using trel::operator<<;
  std::ostringstream out;
  out << v;
  return out.str();
}

values projected(const Camera& camera, const values& world) {
  values uvd(3);
  camera.project(world[0], world[1], world[2], uvd[0], uvd[1], uvd[2]);
  return uvd;
}

values back_projected(const Camera& camera, const values& uvd) {
  values xyz(3, -1);
  camera.unproject(uvd[0], uvd[1], uvd[2], xyz[0], xyz[1], xyz[2]);
  return xyz;
}

values in_camera(const Camera& camera, values p) {
  camera.apply_extrinsic(p[0], p[1], p[2]);
  return p;
}

// Sets the extrinsics in one form and returns what was printed on standard error.
std::string set_extrinsics(Camera& camera, values params, bool quaternion) {
  const trel_test::Captured_streams streams;
  quaternion ? camera.set_extrinsics_quaternion(params) : camera.set_extrinsics(params);
  return streams.err();
}

TEST(Camera, ProjectsInsideTheImageAndInFrontOnlyAndBack) {
  const Camera camera = test_camera();
  const struct {
    values point;  // no extrinsics: camera = world
    values expected;
    int rounded_u;
  } cases[] = {
      {{0, 0, 2}, {256, 128, 64}, 256},
      {{255.0 / 512, 0, 1}, {511, 128, 128}, 511},   // u = W - 1: the last column
      {{255.0 / 512 + 1e-9, 0, 1}, {0, 0, 0}, 0},    // just right of it
      {{-0.5, 127.0 / 128, 1}, {0, 255, 128}, 0},    // first column, last row
      {{0, 0, 0.0001}, {0, 0, 0}, 0},                // not beyond the minimum depth
      {{0, 0, 0.00011}, {256, 128, 128 / 0.00011}, 256},
      {{0, 0, -2}, {0, 0, 0}, 0},
      {{NAN, 0, 1}, {0, 0, 0}, 0},
      // Integer pixels round half down: x = u / 512 - 0.5 at depth 1 is column u.
      {{10.5 / 512 - 0.5, 0, 1}, {10.5, 128, 128}, 10},
      {{10.50000002 / 512 - 0.5, 0, 1}, {10.50000002, 128, 128}, 11},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(vectors_near(projected(camera, c.point), c.expected, 1e-6)) << text(c.point);
    int u = -1, v = -1;
    double disp = -1;
    camera.project(c.point[0], c.point[1], c.point[2], u, v, disp);
    EXPECT_EQ(u, c.rounded_u) << text(c.point);
    if (c.expected[2] == 0) continue;
    EXPECT_TRUE(vectors_near(back_projected(camera, c.expected), c.point, kRounding)) << text(c.point);
    EXPECT_NEAR(camera.switch_disp_to_z(c.expected[2]), c.point[2], kRounding);
  }
  for (const values& outside : {values{511.5, 128, 64}, values{256, -0.1, 64}, values{256, 128, 0.0001}})
    EXPECT_TRUE(vectors_near(back_projected(camera, outside), {0, 0, 0}, kExact)) << text(outside);
}

TEST(Camera, ExtrinsicsSetReplaceOrKeepTheTransform) {
  const double s = std::sqrt(0.5);
  // Every case starts from a camera centred at (10, 20, 30) without rotation.
  const values kept = {11, 22, 33};
  const struct {
    values params;
    bool quaternion;
    const char* message;
    values world, in_camera;
    bool refused = false;
  } cases[] = {
      {{0, 0, 0, 0, 0, 0}, false, "", {1, 2, 3}, {1, 2, 3}},
      {{0, 0, 0, 0, 0, 0, 0}, true, "", {1, 2, 3}, {1, 2, 3}},
      {{0.00009, 0, -0.0001, 0, 0, 0.0001}, false, "", {1, 2, 3}, {1, 2, 3}},  // within the zero tolerance
      {{0, 0, 0, 1, 2, 3}, false, kNote, {1, 2, 3}, {0, 0, 0}},
      // World to camera is Ry(a2) Rx(a1) Rz(a0); degrees are converted with pi
      // at single precision, so 90 degrees leave a cosine of -4.371139e-8.
      {{0, 0, 90, 0, 0, 0}, false, kNote, {-1, 0, 0}, {4.371139e-8, 0, 1}},
      {{90, 0, 0, 0, 0, 0}, false, kNote, {1, 0, 0}, {-4.371139e-8, 1, 0}},
      {{90, 90, 0, 0, 0, 0}, false, kNote, {1, 0, 0}, {-4.371139e-8, -4.371139e-8, 1}},
      {{0, s, 0, s, 0, 0, 0}, true, "", {-1, 0, 0}, {0, 0, 1}},
      {{0, 2, 0, 2, 1, 0, 0}, true, "", {0, 0, 0}, {0, 0, 1}},  // normalised; centre (1, 0, 0)
      {{0, 0, 0, 1, 2}, false, "Error, extrinsic parameters at do not exist, or have an incorrect size 5\n", kept,
       {1, 2, 3}},
      {{0, 0, 0, 1, 2, 3, 4, 5}, false,
       "Error, extrinsic parameters at do not exist, or have an incorrect size 8\n", kept, {1, 2, 3}},
      {{0, 0, 0, 1, 2, 3}, true, "Error, extrinsic parameters at do not exist, or have an incorrect size 6\n", kept,
       {1, 2, 3}},
      // No rotation at all: refused, the transform stays.
      {{0, 0, 0, 0, 1, 2, 3}, true, "", kept, {1, 2, 3}, true},
      {{NAN, 0, 0, 1, 2, 3}, false, kNote, kept, {1, 2, 3}, true},
  };
  for (const auto& c : cases) {
    Camera camera = test_camera();
    set_extrinsics(camera, {0, 0, 0, 10, 20, 30}, false);
    bool refused = false;
    try {
      EXPECT_EQ(set_extrinsics(camera, c.params, c.quaternion), c.message) << text(c.params);
    } catch (const trel::exception_l& e) {
      refused = true;
      EXPECT_EQ(trel_test::origin_detail(e).rfind(kDeterminant, 0), 0u) << e.what();
    }
    EXPECT_EQ(refused, c.refused) << text(c.params);
    EXPECT_EQ(text(camera.get_extrinsics()), text(c.params));
    EXPECT_TRUE(vectors_near(in_camera(camera, c.world), c.in_camera, 1e-12)) << text(c.params);
  }
}

// Synthetic points seen by a 640 x 480 camera with an 800 pixel focal length,
// placed by Euler angles or by the scene's own (camera-to-world) quaternion.
TEST(Camera, ProjectThenUnprojectReturnsTheWorldPoint) {
  trel_test::Scene_options options;
  options.half_field = 0.25;  // keeps every pixel inside 640 x 480
  const trel_test::Synthetic_scene scene = trel_test::make_scene(13, 50, options);
  const values& q = scene.quaternion;
  const values& t = scene.centre;
  for (const values& params : {values{30, -20, 45, 1, 2, -3}, values{-170, 5, 89, -4, 0.5, 7},
                               values{-q[0], -q[1], -q[2], q[3], t[0], t[1], t[2]}}) {
    Camera posed, camera;
    posed.set_camera_params(320.0 / 640, 240.0 / 480, 800.0 / 640, 800.0 / 480, 0.12);
    posed.set_resolution(640, 480);
    set_extrinsics(posed, params, params.size() == 7);
    testing::internal::CaptureStderr();
    camera = posed;  // a full copy: nothing is re-parsed or printed
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    for (std::size_t i = 0; i < scene.points_in_cam.size(); ++i) {
      const values& cam = scene.points_in_cam[i];
      values world = scene.points_world[i];
      if (params.size() == 6) {
        world = cam;
        camera.undo_extrinsic(world[0], world[1], world[2]);
      }
      ASSERT_TRUE(vectors_near(in_camera(camera, world), cam, 1e-9)) << text(params);
      Three_d_point seen(0, 0, 0, 7, 8, 9), back;
      camera.project(Three_d_point(world[0], world[1], world[2], 0, 0, 0), seen);
      EXPECT_TRUE(vectors_near({seen.x, seen.y, seen.z}, {scene.pixels[i][0], scene.pixels[i][1], 96 / cam[2]}, 1e-9));
      EXPECT_EQ(seen.a + seen.b + seen.c, 7 + 8 + 9);
      camera.unproject(seen, back);
      EXPECT_TRUE(vectors_near({back.x, back.y, back.z}, world, 1e-9)) << text(params);
    }
  }
}

TEST(Camera, VoxelWidthsAreWorldDistancesOfOnePixelAndOneDisparityStep) {
  // At depth 2 (disparity 64) a column is 2/512 wide, a row 2/128 high, and the
  // disparities 63 and 65 lie at depths 128/63 and 128/65.
  const values at_depth_2 = {2.0 / 512, 2.0 / 128, (128.0 / 63 - 128.0 / 65) / 2};
  const struct {
    values extrinsics, point_in_camera, widths;
  } cases[] = {
      {{0, 0, 0, 0, 0, 0}, {0, 0, 2}, at_depth_2},
      {{30, -20, 45, 1, 2, -3}, {0, 0, 2}, at_depth_2},
      {{0, 0, 0, 0, 0, 0}, {0, 0, -2}, {0, 0, 0}},           // behind
      {{0, 0, 0, 0, 0, 0}, {255.0 / 512, 0, 1}, {0, 0, 0}},  // last column: u + 1 is outside
      {{0, 0, 0, 0, 0, 0}, {0, 0, 200}, {0, 0, 0}},          // disparity 0.64: disp - 1 is not visible
  };
  for (const auto& c : cases) {
    Camera camera = test_camera();
    set_extrinsics(camera, c.extrinsics, false);
    values world = c.point_in_camera;
    camera.undo_extrinsic(world[0], world[1], world[2]);
    const Three_d_point widths = camera.voxel_widths(world[0], world[1], world[2]);
    EXPECT_TRUE(vectors_near({widths.x, widths.y, widths.z}, c.widths, 1e-12)) << text(c.point_in_camera);
  }
}

TEST(Camera, TextFormAndResolution) {
  Camera camera;
  camera.set_camera_params(0.5, 0.25, 1, 2, 0.125);
  camera.set_resolution(640.9, -3.7);  // truncated toward zero
  std::ostringstream out;
  out << camera;
  EXPECT_EQ(out.str(),
            "camera created from specific parameters.\ncentre position=(0.5,0.25)\n"
            "focal lengths in pixels=(1,2)\nimage size=(640,-3)\ndisp_to_dist=0.125\n");
  EXPECT_THROW(camera.set_resolution(NAN, 480), trel::exception_l);
  EXPECT_THROW(camera.set_resolution(640, 3e9), trel::exception_l);
  EXPECT_EQ(camera.get_image_width(), 640);
}

// ---- rigs from a configuration

struct config_line {
  const char* key;
  const char* value;
};

// The catalogue's defaults and then `lines`, applied through set_param by a
// client that swallows the warnings and goes on after a line that throws.
std::unique_ptr<trel::configuration> configuration_of(const std::vector<config_line>& lines) {
  auto config = std::make_unique<trel::configuration>();
  testing::internal::CaptureStderr();
  for (const config_line& line : lines) {
    try {
      config->set_param(line.key, line.value);
    } catch (const trel::exception_l&) {
    }
  }
  testing::internal::GetCapturedStderr();
  return config;
}

const config_line kPinhole = {"bumblebee_params", "0.5|0.5|1|0.5|512|256|0.25"};
const config_line kEuler1 = {"extrinsic_camera_params", "0|0|0|1|0|0"};
const config_line kEuler2 = {"extrinsic_camera_params", "0|0|0|2|0|0"};
const config_line kProj = {"camera_proj_mats", "500|0|320|0|0|500|240|0|0|0|1|0"};
const config_line kSpace = {"camera_space_transform", "1|0|0|0|0|1|0|0|0|0|1|1|0|0|0|1"};

TEST(CameraRig, CamerasTakeTheEntriesOfTheirIndex) {
  const struct {
    std::vector<config_line> lines;
    values centres;  // x of each camera's centre
  } cases[] = {
      {{}, {}},
      {{kPinhole, kPinhole, kPinhole, kEuler1, kEuler2}, {1, 2, 0}},
      // One numbering: quaternion entries 0 and 1 belong to cameras 2 and 3 only.
      {{kPinhole, kPinhole, kPinhole, kPinhole, kEuler1, kEuler2, {"extrinsic_camera_params_q", "0|0|0|1|3|0|0"},
        {"extrinsic_camera_params_q", "0|0|0|1|4|0|0"}},
       {1, 2, 3, 4}},
      {{kPinhole, kPinhole, {"extrinsic_camera_params_q", "0|0|0|1|3|0|0"}}, {3, 0}},
      {{kPinhole, kEuler1, kEuler2}, {1}},  // entries beyond the rig are ignored
  };
  for (const auto& c : cases) {
    const std::unique_ptr<trel::configuration> config = configuration_of(c.lines);
    std::vector<Camera> rig(2);
    testing::internal::CaptureStderr();
    trel::create_camera_vector(rig, *config);
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_EQ(messages.find("Camera::init()"), std::string::npos) << messages;
    ASSERT_EQ(rig.size(), c.centres.size());
    for (std::size_t i = 0; i < rig.size(); ++i)
      EXPECT_TRUE(vectors_near(projected(rig[i], {c.centres[i], 0, 2}), {256, 128, 64}, kExact)) << "camera " << i;
  }
}

// P = [500 0 320 0; 0 500 240 0; 0 0 1 0] after a camera-space shift of 1 along
// z, offsets (10, 20) and the camera centre at z = -1: the world point
// (0.2, -0.1, 0) is at (0.2, -0.1, 2) before P, q = (740, 430, 2), pixel (370 - 10, 215 - 20).
TEST(CameraRig, ProjectionMatrixCameraMatchesHandComputedProjection) {
  const std::unique_ptr<trel::configuration> config =
      configuration_of({{"camera_proj_mats", "1|2|3|4|5|6|7|8|9|10|11"},  // 11 values: takes no index
                        kProj, kSpace, {"projection_offsets", "10|20"}, {"extrinsic_camera_params", "0|0|0|0|0|-1"}});
  std::vector<Camera> rig;
  trel::create_camera_vector(rig, *config);
  ASSERT_EQ(rig.size(), 1u);
  // No image size comes with a projection matrix: a new camera stays 0 by 0 and sees nothing.
  EXPECT_TRUE(vectors_near(projected(rig[0], {0.2, -0.1, 0}), {0, 0, 0}, kExact));

  Camera camera;
  camera.set_resolution(640, 480);
  camera.init(*config, 0);
  const Camera copy = camera;
  Camera assigned;
  assigned = camera;
  const struct {
    values world, expected;
  } cases[] = {
      {{0.2, -0.1, 0}, {360, 195, 1}},
      {{0, 0, 1}, {310, 220, 1}},
      {{1.3125, 0, 0}, {638.125, 220, 1}},
      {{1.4, 0, 0}, {0, 0, 0}},  // u = 660
      {{0, 0, -2}, {0, 0, 0}},   // q[2] = 0
  };
  for (const auto& c : cases)
    for (const Camera* cam : {&copy, static_cast<const Camera*>(&camera), static_cast<const Camera*>(&assigned)})
      EXPECT_TRUE(vectors_near(projected(*cam, c.world), c.expected, kRounding)) << text(c.world);
  try {
    back_projected(camera, {360, 195, 1});
    ADD_FAILURE() << "a projection-matrix camera back-projected";
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(trel_test::origin_detail(e),
              "Camera::unproject() : camera uses proj mats, can't currently back project in this case.");
  }
  EXPECT_THROW(camera.voxel_widths(0.2, -0.1, 0), trel::exception_l);
}

TEST(CameraRig, BadEntriesThrowAndLeaveTheRigAlone) {
  const std::string short_entry = "Camera::init() : bumblebee_params entry for camera ";
  const std::string not_read = " values rather than 7 (its line in the config file was not read completely)";
  const struct {
    std::vector<config_line> lines;
    values extra_offsets;  // appended to projection_offsets through the store's pointer
    std::string detail;
  } cases[] = {
      {{kPinhole, kProj}, {},
       "Config file contains both bumblebee_params and camera_proj_mats. Don't know how to order these so not "
       "handled (yet)."},
      {{kProj}, {}, "Camera::init() : No camera_space_transform specified in config file for camera 0"},
      {{kProj, kSpace}, {},
       "Camera::init() : camera 0 was specified as using a projection matrix, but projection_offsets was not "
       "specified"},
      {{kProj, kProj, kSpace, kSpace, {"projection_offsets", "1|2"}}, {5},
       "Camera::init() : projection offset for camera 1 has 1entries rather than 2"},
      // An offsets line without a separator throws but keeps camera 0's place.
      {{kProj, kProj, kSpace, kSpace, {"projection_offsets", "12"}, {"projection_offsets", "1|2"}}, {},
       "Camera::init() : projection offset for camera 0 has 0entries rather than 2"},
      // Refused projection lines still name the projection style.
      {{kPinhole, {"camera_proj_mats", "1|2"}},
       {},
       "Config file contains both bumblebee_params and camera_proj_mats. Don't know how to order these so not "
       "handled (yet)."},
      {{kPinhole, {"bumblebee_params", "1.5|0.5|1|0.5|512|256|0.25"}}, {}, short_entry + "1 has 1" + not_read},
      {{{"bumblebee_params", "0.5|0.5|1|0.5|512"}}, {}, short_entry + "0 has 0" + not_read},
  };
  for (const auto& c : cases) {
    const std::unique_ptr<trel::configuration> config = configuration_of(c.lines);
    trel::configuration::camera_list* offsets = nullptr;
    if (!c.extra_offsets.empty() && config->get_param("projection_offsets", offsets))
      offsets->push_back(c.extra_offsets);
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
    EXPECT_TRUE(vectors_near(projected(rig[0], {0, 0, 2}), {256, 128, 64}, kExact));
  }
}

}  // namespace
