// camera_pose_estimate's entry through the fake host: the refusals of its inputs,
// each one host error naming the cause and no output, and one call's outputs.

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "camera_pose_refine/camera_pose_estimate.h"
#include "tests/plugin/fake_mex_host.h"
#include "tests/synthetic_scene.h"

namespace {

using trel::Mex_array;
using trel::testing::Fake_array;
using trel::testing::Fake_mex_host;

const double kNan = std::numeric_limits<double>::quiet_NaN();

struct Call {
  int nlhs = 3;
  std::vector<const Mex_array*> inputs;
};

// K, points and pixels of a scene of n points, column-major.
struct Inputs {
  std::vector<double> K{800, 0, 0, 0, 800, 0, 320, 240, 1};
  std::vector<double> points, pixels;
  std::size_t n = 0;
};

Inputs scene_inputs(int n) {
  const trel_test::Synthetic_scene scene = trel_test::make_scene(4, n);
  Inputs in;
  in.n = static_cast<std::size_t>(n);
  for (int i = 0; i < n; ++i) {
    in.points.insert(in.points.end(), scene.points_world[i].begin(), scene.points_world[i].end());
    in.pixels.insert(in.pixels.end(), scene.pixels[i].begin(), scene.pixels[i].end());
  }
  return in;
}

Call standard(Fake_mex_host& host, const Inputs& in) {
  return {3, {host.matrix(3, 3, in.K), host.matrix(3, in.n, in.points), host.matrix(2, in.n, in.pixels)}};
}

struct Refusal {
  const char* name;
  std::function<Call(Fake_mex_host&, Inputs)> make;
  const char* cause;  // part of the error text
};

void PrintTo(const Refusal& refusal, std::ostream* os) { *os << refusal.name; }

class Entry_refusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(Entry_refusal, raises_one_error_naming_the_cause_and_sets_no_output) {
  Fake_mex_host host;
  const Call call = GetParam().make(host, scene_inputs(12));
  Mex_array* outputs[3] = {nullptr, nullptr, nullptr};
  trel::camera_pose_estimate_entry(host, call.nlhs, outputs, static_cast<int>(call.inputs.size()),
                                   call.inputs.data());
  ASSERT_EQ(host.errors.size(), 1u);
  EXPECT_EQ(host.errors[0].id, "Mex:exception");
  EXPECT_NE(host.errors[0].text.find(GetParam().cause), std::string::npos) << host.errors[0].text;
  for (Mex_array* out : outputs) EXPECT_EQ(out, nullptr);
}

Call with_options(Fake_mex_host& host, const Inputs& in,
                  const std::vector<std::pair<std::string, const Mex_array*>>& fields) {
  Call call = standard(host, in);
  call.inputs.push_back(host.structure(fields));
  return call;
}

const Refusal kRefusals[] = {
    {"two_inputs", [](Fake_mex_host& h, Inputs in) { Call c = standard(h, in); c.inputs.pop_back(); return c; },
     "3 or 4 inputs required, got 2"},
    {"four_outputs", [](Fake_mex_host& h, Inputs in) { Call c = standard(h, in); c.nlhs = 4; return c; },
     "At most 3 outputs"},
    {"K_not_3_by_3", [](Fake_mex_host& h, Inputs in) { Call c = standard(h, in); c.inputs[0] = h.matrix(1, 9, in.K); return c; },
     "Input 1 should be the intrinsic matrix K, a 3 by 3 real double matrix, instead got 1 by 9 of double"},
    {"K_not_double", [](Fake_mex_host& h, Inputs in) { Call c = standard(h, in); c.inputs[0] = h.other_class("single", 3, 3); return c; },
     "instead got 3 by 3 of single"},
    {"K_infinite", [](Fake_mex_host& h, Inputs in) { in.K[4] = INFINITY; return standard(h, in); },
     "Input 1 should hold finite numbers only, instead element (2,2) is inf"},
    {"K_singular", [](Fake_mex_host& h, Inputs in) { in.K[8] = 0; return standard(h, in); }, "K should be invertible"},
    {"points_2_rows", [](Fake_mex_host& h, Inputs in) { Call c = standard(h, in); c.inputs[1] = h.matrix(2, 12, in.pixels); return c; },
     "Input 2 should be the world points, a 3 by N real double matrix, instead got 2 by 12"},
    {"points_nan", [](Fake_mex_host& h, Inputs in) { in.points[3 * 4 + 2] = kNan; return standard(h, in); },
     "Input 2 should hold finite numbers only, instead element (3,5) is nan"},
    {"pixels_other_count", [](Fake_mex_host& h, Inputs in) { Call c = standard(h, in); c.inputs[2] = h.matrix(2, 11, in.pixels); return c; },
     "Input 3 should be the pixels of the points, a 2 by 12 real double matrix, instead got 2 by 11"},
    {"pixels_nan", [](Fake_mex_host& h, Inputs in) { in.pixels[1] = kNan; return standard(h, in); },
     "Input 3 should hold finite numbers only, instead element (2,1) is nan"},
    {"three_points", [](Fake_mex_host& h, Inputs in) {
       in.n = 3; in.points.resize(9); in.pixels.resize(6); return standard(h, in); },
     "estimate_pose needs at least 4 correspondences, got 3"},
    {"pixels_unrelated", [](Fake_mex_host& h, Inputs in) {
       for (std::size_t k = 0; k < in.pixels.size(); ++k) in.pixels[k] = std::fmod(k * 7919.0, 640.0);
       return standard(h, in); },
     "no model with enough inliers"},
    {"options_not_struct", [](Fake_mex_host& h, Inputs in) { Call c = standard(h, in); c.inputs.push_back(h.scalar(1)); return c; },
     "Input 4 should be a 1 by 1 struct of options"},
    {"option_unknown", [](Fake_mex_host& h, Inputs in) { return with_options(h, in, {{"treshold", h.scalar(2)}}); },
     "Input 4 field 'treshold' is not an option"},
    {"threshold_zero", [](Fake_mex_host& h, Inputs in) { return with_options(h, in, {{"threshold", h.scalar(0)}}); },
     "the threshold should be finite and positive, got 0"},
    {"confidence_one", [](Fake_mex_host& h, Inputs in) { return with_options(h, in, {{"confidence", h.scalar(1)}}); },
     "the confidence should lie in (0, 1), got 1"},
    {"max_iterations_fraction", [](Fake_mex_host& h, Inputs in) { return with_options(h, in, {{"max_iterations", h.scalar(2.5)}}); },
     "Input 4 field 'max_iterations' should be a whole number from -2147483648 to 2147483647, instead got 2.5"},
    {"min_above_max", [](Fake_mex_host& h, Inputs in) {
       return with_options(h, in, {{"min_iterations", h.scalar(20)}, {"max_iterations", h.scalar(10)}}); },
     "the iterations should satisfy 0 <= min_iterations <= max_iterations and max_iterations >= 1, got 20 and 10"},
    {"max_iterations_zero", [](Fake_mex_host& h, Inputs in) { return with_options(h, in, {{"max_iterations", h.scalar(0)}}); },
     "the iterations should satisfy 0 <= min_iterations <= max_iterations and max_iterations >= 1, got 0 and 0"},
    {"refine_iterations_zero", [](Fake_mex_host& h, Inputs in) { return with_options(h, in, {{"refine_iterations", h.scalar(0)}}); },
     "refine_iterations should be at least 1, got 0"},
    {"refine_iterations_fraction", [](Fake_mex_host& h, Inputs in) { return with_options(h, in, {{"refine_iterations", h.scalar(1.5)}}); },
     "Input 4 field 'refine_iterations' should be a whole number from -2147483648 to 2147483647, instead got 1.5"},
    {"loss_scale_negative", [](Fake_mex_host& h, Inputs in) { return with_options(h, in, {{"loss_scale", h.scalar(-1)}}); },
     "the loss scale should be finite and not negative (0: the threshold), got -1"},
    {"threshold_nan", [](Fake_mex_host& h, Inputs in) {
       return with_options(h, in, {{"threshold", h.scalar(std::numeric_limits<double>::quiet_NaN())}}); },
     "the threshold should be finite and positive, got nan"},
    {"seed_too_large", [](Fake_mex_host& h, Inputs in) { return with_options(h, in, {{"seed", h.scalar(4294967296.0)}}); },
     "Input 4 field 'seed' should be a whole number from 0 to 4294967295"},
    {"loss_unknown", [](Fake_mex_host& h, Inputs in) { return with_options(h, in, {{"loss", h.text("l2")}}); },
     "Input 4 field 'loss' should be one of 'squared', 'huber', 'cauchy', 'soft_l1', 'truncated', instead got 'l2'"},
};

INSTANTIATE_TEST_SUITE_P(Inputs, Entry_refusal, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST(Camera_pose_estimate_entry, returns_the_pose_the_inlier_mask_and_the_info_struct) {
  Fake_mex_host host;
  const trel_test::Synthetic_scene scene = trel_test::make_scene(4, 12);
  Inputs in = scene_inputs(12);
  in.pixels[2 * 5] += 50.0;  // point 6 becomes an outlier
  Call call = with_options(host, in, {{"loss", host.text("huber")}, {"seed", host.scalar(3)}});
  Mex_array* outputs[3] = {nullptr, nullptr, nullptr};
  trel::camera_pose_estimate_entry(host, call.nlhs, outputs, 4, call.inputs.data());
  ASSERT_TRUE(host.errors.empty()) << host.errors[0].text;

  const Fake_array& x = Fake_mex_host::array(outputs[0]);
  ASSERT_EQ(x.m, 1u);
  ASSERT_EQ(x.n, 6u);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(x.data[k], scene.rot_vec[k], 1e-6);
    EXPECT_NEAR(x.data[3 + k], scene.centre[k], 1e-6);
  }
  const Fake_array& inliers = Fake_mex_host::array(outputs[1]);
  ASSERT_EQ(inliers.class_name, "logical");
  ASSERT_EQ(inliers.m, 1u);
  ASSERT_EQ(inliers.n, 12u);
  for (std::size_t i = 0; i < 12; ++i) EXPECT_EQ(inliers.logicals[i], i != 5) << "point " << i;

  const Fake_array& info = Fake_mex_host::array(outputs[2]);
  ASSERT_EQ(info.fields.size(), 11u);
  for (std::size_t k = 0; k < 11; ++k) EXPECT_EQ(info.fields[k].first, trel::pose_estimate_info_fields[k]);
  EXPECT_EQ(Fake_mex_host::field(outputs[2], "num_inliers")->data[0], 11.0);
  EXPECT_EQ(Fake_mex_host::field(outputs[2], "loss")->text, "huber");
  EXPECT_EQ(Fake_mex_host::field(outputs[2], "loss_scale")->data[0], 4.0);
  EXPECT_EQ(Fake_mex_host::field(outputs[2], "covariance")->m, 6u);
}

// An interrupt from the host stops a search of 2^31 - 1 samples at once, with one
// error and no output.
TEST(Camera_pose_estimate_entry, stops_on_an_interrupt) {
  Fake_mex_host host;
  host.interrupt = true;
  Inputs in = scene_inputs(12);
  for (std::size_t k = 0; k < in.pixels.size(); ++k) in.pixels[k] = std::fmod(k * 7919.0, 640.0);
  Call call = with_options(host, in, {{"min_iterations", host.scalar(2147483647.0)},
                                      {"max_iterations", host.scalar(2147483647.0)}});
  Mex_array* outputs[3] = {nullptr, nullptr, nullptr};
  trel::camera_pose_estimate_entry(host, call.nlhs, outputs, 4, call.inputs.data());
  ASSERT_EQ(host.errors.size(), 1u);
  EXPECT_NE(host.errors[0].text.find("estimate_pose was interrupted after"), std::string::npos) << host.errors[0].text;
  EXPECT_EQ(outputs[0], nullptr);
}

// refine_iterations bounds the final refinement's steps, as in C++ and Python.
TEST(Camera_pose_estimate_entry, takes_the_refinement_steps_from_the_options) {
  for (double steps : {1.0, 3.0}) {
    Fake_mex_host host;
    Inputs in = scene_inputs(12);
    in.pixels[2 * 5] += 50.0;
    Call call = with_options(host, in, {{"refine_iterations", host.scalar(steps)}});
    Mex_array* outputs[3] = {nullptr, nullptr, nullptr};
    trel::camera_pose_estimate_entry(host, call.nlhs, outputs, 4, call.inputs.data());
    ASSERT_TRUE(host.errors.empty()) << host.errors[0].text;
    const double taken = Fake_mex_host::field(outputs[2], "refine_iterations")->data[0];
    EXPECT_GE(taken, 1.0) << steps;
    EXPECT_LE(taken, steps) << steps;
  }
}

}  // namespace
