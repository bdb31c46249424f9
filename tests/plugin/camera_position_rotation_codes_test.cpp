#include "camera_pose_refine/camera_position_rotation_codes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "camera_pose_refine/camera_pose_refine.h"
#include "camera_pose_refine/camera_position_opt_func.h"
#include "tests/plugin/fake_mex_host.h"
#include "tests/synthetic_scene.h"
#include "trel_pose/pose_codes.h"
#include "trel_tools/exception_l.h"

namespace {

using trel::Rotation_code;
using trel::Rotation_form;

// What the plug-in's users rely on, written out once: code, name, form,
// rotation values, rows per point, repetitions.
struct Expected {
  int code;
  std::string name;
  Rotation_form form;
  int values, rows, reps;
};

const std::vector<Expected> kExpected = {
    {0, "aau", Rotation_form::rot_vec, 3, 2, 1},         {1, "aan", Rotation_form::ang_axis, 4, 2, 1},
    {2, "qu", Rotation_form::quaternion, 4, 2, 1},       {3, "qn", Rotation_form::quaternion, 4, 2, 1},
    {10, "aau-bv", Rotation_form::rot_vec, 3, 3, 1},     {11, "aan-bv", Rotation_form::ang_axis, 4, 3, 1},
    {12, "qu-bv", Rotation_form::quaternion, 4, 3, 1},   {-1, "qu,aau,aan", Rotation_form::quaternion, 4, 2, 3},
    {-2, "aau,qu,aan", Rotation_form::rot_vec, 3, 2, 3}, {-3, "aan,qu,aau", Rotation_form::ang_axis, 4, 2, 3}};

TEST(RotationCodes, TableHoldsEveryCodeWithItsSizesAndFindsNoOther) {
  ASSERT_EQ(trel::rotation_codes().size(), kExpected.size());
  for (std::size_t k = 0; k < kExpected.size(); ++k) {
    const Expected& e = kExpected[k];
    const Rotation_code& entry = trel::rotation_codes()[k];
    EXPECT_EQ(entry.code, e.code);
    EXPECT_EQ(entry.name, e.name) << e.code;
    EXPECT_EQ(entry.form, e.form) << e.code;
    EXPECT_EQ(entry.rotation_values, e.values) << e.code;
    EXPECT_EQ(entry.observation_rows, e.rows) << e.code;
    EXPECT_EQ(entry.repetitions, e.reps) << e.code;
    EXPECT_EQ(trel::find_rotation_code(e.code), &entry);
    // The pose jobs' own table of sizes agrees.
    const trel::Pose_code* sizes = trel::find_pose_code(e.code);
    ASSERT_NE(sizes, nullptr) << e.code;
    EXPECT_EQ(sizes->rotation_values, e.values) << e.code;
    EXPECT_EQ(sizes->observation_rows, e.rows) << e.code;
    EXPECT_EQ(sizes->repetitions, e.reps) << e.code;
  }
  for (int unknown : {4, 9, 13, -4, 100}) {
    EXPECT_EQ(trel::find_rotation_code(unknown), nullptr) << unknown;
    EXPECT_EQ(trel::find_pose_code(unknown), nullptr) << unknown;
  }
}

// The factory of each entry builds the gradient function of that code: its rows
// match central differences of the code's cost function (steps 1e-6, errors
// near 1e-9 of the pixel scale).
TEST(RotationCodes, FactoryRowsMatchCentralDifferencesOfTheCost) {
  const trel_test::Synthetic_scene scene = trel_test::make_scene(5u, 6);
  for (const Rotation_code& entry : trel::rotation_codes()) {
    const bool bearing = entry.bearing_vectors();
    const trel::matrix<double> K = bearing ? trel_test::intrinsics(1.0, 0.0, 0.0)
                                           : trel_test::intrinsics(scene.k11, scene.k13, scene.k23);
    std::vector<double> x = entry.form == Rotation_form::rot_vec    ? scene.rot_vec
                            : entry.form == Rotation_form::ang_axis ? scene.ang_axis
                                                                    : scene.quaternion;
    x.insert(x.end(), scene.centre.begin(), scene.centre.end());
    auto* cost = new trel::Camera_position_opt_func(scene.points_world, K, entry.code);
    const std::unique_ptr<trel::Grad_func> grad = entry.make_grad_func(cost, scene.points_world, K);
    const std::vector<double> at_x = (*cost)(x);
    cv::Mat J(static_cast<int>(at_x.size()), entry.search_values(), CV_64F, cv::Scalar(0.0));
    ASSERT_EQ((*grad)(x, J, 0), J.rows) << entry.name;
    const double h = 1e-6, scale = bearing ? 10.0 : scene.k11;
    for (int d = 0; d < J.cols; ++d) {
      // The chained hybrid blocks are exact only along the manifold of the search
      // vector's own parameterisation; compare the first block for them.
      const int rows = J.rows / entry.repetitions;
      std::vector<double> up = x, down = x;
      up[static_cast<std::size_t>(d)] += h;
      down[static_cast<std::size_t>(d)] -= h;
      const std::vector<double> vu = (*cost)(up), vd = (*cost)(down);
      for (int r = 0; r < rows; ++r)
        EXPECT_NEAR(J.at<double>(r, d), (vu[r] - vd[r]) / (2 * h), 1e-6 * scale)
            << entry.name << " row " << r << " column " << d;
    }
  }
}

// The help texts list the table: the entry's refusal of a code names every code=name
// in the table's order, and the Octave help file has one row per code with its name
// and rotation value count.
TEST(RotationCodes, HelpTextsListTheTable) {
  trel::testing::Fake_mex_host host;
  const std::vector<const trel::Mex_array*> in = {host.column(std::vector<double>(9, 1.0)),
                                                  host.matrix(3, 1, {0, 0, 5}), host.matrix(2, 1, {0, 0}),
                                                  host.row({10, 0, -10000, 0}), host.scalar(7.0)};
  std::string refusal;
  try {
    trel::read_pose_refine_arguments(host, 1, 5, in.data());
  } catch (const trel::exception_l& e) {
    refusal = e.what();
  }
  std::string::size_type at = 0;
  for (const Rotation_code& entry : trel::rotation_codes()) {
    at = refusal.find(std::to_string(entry.code) + "=" + entry.name, at);
    EXPECT_NE(at, std::string::npos) << entry.name << " in " << refusal;
  }

  const std::string source = __FILE__;
  const std::string root = source.substr(0, source.rfind("tests/plugin/"));
  std::ifstream help(root + "camera_pose_refine/camera_pose_refine.m");
  ASSERT_TRUE(help.good()) << root;
  std::vector<std::string> rows;
  for (std::string line; std::getline(help, line);) rows.push_back(line);
  std::size_t next = 0;
  for (const Rotation_code& entry : trel::rotation_codes()) {
    bool found = false;
    for (; next < rows.size() && !found; ++next) {
      std::istringstream words(rows[next]);
      std::string percent, name, word;
      int code = 0;
      if (!(words >> percent >> code >> name) || percent != "%" || code != entry.code || name != entry.name) continue;
      found = rows[next].find("  " + std::to_string(entry.rotation_values) + "    ") != std::string::npos;
    }
    EXPECT_TRUE(found) << "no help row for " << entry.code << " " << entry.name;
  }
}

}  // namespace
