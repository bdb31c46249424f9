// The options of the pose jobs check themselves: every rule refuses in one text,
// the defaults break none, and each job refuses broken options before any work.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "tests/synthetic_scene.h"
#include "tests/test_support.h"
#include "trel_pose/pose_batch.h"
#include "trel_pose/pose_estimation.h"
#include "trel_pose/pose_refinement.h"

namespace {

using trel::Loss;
using trel::Pose_batch_options;
using trel::Pose_estimate_options;
using trel::Pose_refine_options;

const double kNan = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// One set of each job's options; a row breaks one rule of one of them.
struct Options {
  Pose_refine_options refine;
  Pose_estimate_options estimate;
  Pose_batch_options batch;
};

struct Broken_rule {
  const char* name;
  std::function<void(Options&)> spoil;
  std::string text;  // the whole text of the refusal
};

void PrintTo(const Broken_rule& rule, std::ostream* os) { *os << rule.name; }

const std::string kCodes =
    "Rotation type must be from: (0=aau, 1=aan, 2=qu, 3=qn,   10=aau-bv, 11=aan-bv, 12=qu-bv,   -1=qu,aau,aan, "
    "-2=aau,qu,aan,  -3=aan,qu,aau), got an invalid value of ";
const std::string kLosses = "loss should be squared, huber, cauchy, soft_l1 or truncated, instead got the value ";
const std::string kIterations =
    "the iterations should satisfy 0 <= min_iterations <= max_iterations and max_iterations >= 1, got ";

const Broken_rule kRules[] = {
    {"code_4", [](Options& o) { o.refine.rotation_code = 4; }, kCodes + "4"},
    {"code_minus_4", [](Options& o) { o.refine.rotation_code = -4; }, kCodes + "-4"},
    {"max_iters_minus_1", [](Options& o) { o.refine.max_iters = -1; }, "max_iters should be 0 or more, instead got -1"},
    {"min_x_step_nan", [](Options& o) { o.refine.min_x_step = std::numeric_limits<float>::quiet_NaN(); },
     "min_x_step should be a number, instead got nan"},
    {"min_y_step_nan", [](Options& o) { o.refine.min_y_step = std::numeric_limits<float>::quiet_NaN(); },
     "min_y_step should be a number, instead got nan"},
    {"step_tolerance_negative", [](Options& o) { o.refine.step_tolerance = -1e-9; },
     "step_tolerance should be a finite number, 0 or more, instead got -1e-09"},
    {"cost_tolerance_inf", [](Options& o) { o.refine.cost_tolerance = kInf; },
     "cost_tolerance should be a finite number, 0 or more, instead got inf"},
    {"weight_nan", [](Options& o) { o.refine.weights = {1, 1, kNan}; },
     "weights should hold finite numbers, 0 or more, instead weight 3 is nan"},
    {"weight_negative", [](Options& o) { o.refine.weights = {-2, 1}; },
     "weights should hold finite numbers, 0 or more, instead weight 1 is -2"},
    {"loss_out_of_range", [](Options& o) { o.refine.loss = static_cast<Loss>(7); }, kLosses + "7"},
    {"loss_scale_zero", [](Options& o) { o.refine.loss_scale = 0; },
     "loss_scale should be a finite positive number, instead got 0"},
    {"loss_scale_inf", [](Options& o) { o.refine.loss_scale = kInf; },
     "loss_scale should be a finite positive number, instead got inf"},
    {"sigma_negative", [](Options& o) { o.refine.sigma = -1; },
     "sigma should be a finite number, 0 or more, instead got -1"},
    {"sigma_nan", [](Options& o) { o.refine.sigma = kNan; },
     "sigma should be a finite number, 0 or more, instead got nan"},
    // The first broken rule is the one named.
    {"two_broken", [](Options& o) { o.refine.sigma = -1; o.refine.max_iters = -5; },
     "max_iters should be 0 or more, instead got -5"},

    {"threshold_zero", [](Options& o) { o.estimate.threshold = 0; },
     "the threshold should be finite and positive, got 0"},
    {"threshold_nan", [](Options& o) { o.estimate.threshold = kNan; },
     "the threshold should be finite and positive, got nan"},
    {"confidence_one", [](Options& o) { o.estimate.confidence = 1; }, "the confidence should lie in (0, 1), got 1"},
    {"confidence_nan", [](Options& o) { o.estimate.confidence = kNan; },
     "the confidence should lie in (0, 1), got nan"},
    {"min_above_max", [](Options& o) { o.estimate.min_iterations = 20; o.estimate.max_iterations = 10; },
     kIterations + "20 and 10"},
    {"max_iterations_zero", [](Options& o) { o.estimate.min_iterations = 0; o.estimate.max_iterations = 0; },
     kIterations + "0 and 0"},
    {"min_iterations_negative", [](Options& o) { o.estimate.min_iterations = -1; }, kIterations + "-1 and 10000"},
    {"estimate_loss_out_of_range", [](Options& o) { o.estimate.loss = static_cast<Loss>(-1); }, kLosses + "-1"},
    {"estimate_loss_scale_negative", [](Options& o) { o.estimate.loss_scale = -0.5; },
     "the loss scale should be finite and not negative (0: the threshold), got -0.5"},
    {"refine_iterations_zero", [](Options& o) { o.estimate.refine_iterations = 0; },
     "refine_iterations should be at least 1, got 0"},

    {"threads_negative", [](Options& o) { o.batch.threads = -1; },
     "threads should be from 0 (the number of cores) to 4096, instead got -1"},
    {"threads_10000", [](Options& o) { o.batch.threads = 10000; },
     "threads should be from 0 (the number of cores) to 4096, instead got 10000"},
    {"progress_interval_negative", [](Options& o) { o.batch.progress_interval = -1; },
     "progress_interval should be a finite number of seconds, 0 or more, instead got -1"},
    {"progress_interval_nan", [](Options& o) { o.batch.progress_interval = kNan; },
     "progress_interval should be a finite number of seconds, 0 or more, instead got nan"},
    {"batch_refine_rule", [](Options& o) { o.batch.refine.max_iters = -1; },
     "max_iters should be 0 or more, instead got -1"},
};

class Pose_options_refusal : public ::testing::TestWithParam<Broken_rule> {};

// The broken rule's text from broken_rule(), the same text thrown by check() at
// its origin; the two other sets of options, untouched by the row, pass.
TEST_P(Pose_options_refusal, names_the_broken_rule_in_one_text) {
  Options o;
  GetParam().spoil(o);
  const std::string texts[3] = {o.refine.broken_rule(), o.estimate.broken_rule(), o.batch.broken_rule()};
  const std::function<void()> checks[3] = {[&] { o.refine.check(); }, [&] { o.estimate.check(); },
                                           [&] { o.batch.check(); }};
  int broken = 0;
  for (int k = 0; k < 3; ++k) {
    if (texts[k].empty()) {
      EXPECT_NO_THROW(checks[k]()) << k;
      continue;
    }
    ++broken;
    EXPECT_EQ(texts[k], GetParam().text) << k;
    EXPECT_EQ(trel_test::origin_detail_thrown(checks[k], 0), GetParam().text) << k;
  }
  EXPECT_EQ(broken, 1);
}

INSTANTIATE_TEST_SUITE_P(Every_rule, Pose_options_refusal, ::testing::ValuesIn(kRules),
                         [](const ::testing::TestParamInfo<Broken_rule>& info) { return std::string(info.param.name); });

// The defaults and the edges of each range break nothing.
TEST(Pose_options, the_defaults_and_the_edges_of_the_ranges_pass) {
  Options o;
  EXPECT_EQ(o.refine.broken_rule(), "");
  EXPECT_EQ(o.estimate.broken_rule(), "");
  EXPECT_EQ(o.batch.broken_rule(), "");
  o.refine.max_iters = 0;
  o.refine.weights = {0.0, 1e300};
  o.refine.sigma = 0.0;
  o.refine.min_y_step = -std::numeric_limits<float>::infinity();
  o.refine.rotation_code = -3;
  o.estimate.min_iterations = o.estimate.max_iterations = 1;
  o.estimate.loss_scale = 0.0;
  o.batch.threads = trel::kMaxBatchThreads;
  o.batch.progress_interval = 0.0;
  EXPECT_NO_THROW(o.refine.check());
  EXPECT_NO_THROW(o.estimate.check());
  EXPECT_NO_THROW(o.batch.check());
}

// Each job refuses broken options with the rule's text before it starts:
// max_iters -1 no longer returns the start, an out-of-range loss is not taken,
// a batch of 10000 threads starts none.
TEST(Pose_options, the_jobs_refuse_broken_options) {
  const trel_test::Synthetic_scene scene = trel_test::make_scene(2, 8);
  const trel::matrix<double> K = trel_test::intrinsics(scene.k11, scene.k13, scene.k23);
  std::vector<double> observations, start = scene.rot_vec;
  for (const std::vector<double>& uv : scene.pixels) observations.insert(observations.end(), uv.begin(), uv.end());
  start.insert(start.end(), scene.centre.begin(), scene.centre.end());

  Pose_refine_options refine;
  refine.max_iters = -1;
  EXPECT_EQ(trel_test::origin_detail_thrown([&] { trel::refine_pose(K, scene.points_world, observations, start, refine); }),
            "max_iters should be 0 or more, instead got -1");
  refine = Pose_refine_options();
  refine.loss = static_cast<Loss>(5);
  EXPECT_EQ(trel_test::origin_detail_thrown([&] { trel::refine_pose(K, scene.points_world, observations, start, refine); }),
            kLosses + "5");

  Pose_estimate_options estimate;
  estimate.loss = static_cast<Loss>(9);
  EXPECT_EQ(trel_test::origin_detail_thrown([&] { trel::estimate_pose(K, scene.points_world, scene.pixels, estimate); }),
            kLosses + "9");

  Pose_batch_options batch;
  batch.threads = 10000;
  std::vector<trel::Pose_frame> frames(3);
  for (trel::Pose_frame& f : frames) {
    f.points = scene.points_world;
    f.observations = observations;
    f.start = start;
  }
  EXPECT_EQ(trel_test::origin_detail_thrown([&] { trel::refine_poses(K, frames, batch); }),
            "threads should be from 0 (the number of cores) to 4096, instead got 10000");
  // No frames: no results, whatever the batch would have run on.
  batch.threads = 0;
  EXPECT_TRUE(trel::refine_poses(K, {}, batch).empty());
}

}  // namespace
