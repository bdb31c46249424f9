#include "camera_pose_refine/camera_pose_refine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "camera_pose_refine/camera_position_opt_func.h"
#include "tests/plugin/fake_mex_host.h"
#include "tests/plugin/rotation_code_list.h"
#include "trel_pose/lens_distortion.h"
#include "trel_tools/exception_l.h"
#include "trel_tools/matrix.h"
#include "tests/test_support.h"

namespace {

using trel::Mex_array;
using trel::Pose_refine_arguments;
using trel::testing::Fake_mex_host;

const char* const kEntrySignature = "void mexFunction(int, mxArray**, int, const mxArray**)";

const std::string kHelpLines =
    "(1) a vector of 9/10 camera parameters (r1,r2,r3(,r4),t1,t2,t3, k11,k13,k23). The first 6/7 "
    "constitute the search vector x, ther others are constant intrinsics\n"
    "(2) a matrix of 3d points\n"
    "(3) a matrix of 2d points\n"
    "(4) a vector of stopping criteria (max_iters, min_x_step, min_y_step, use_finite_difference) "
    "optional"
    "(5) a flag indicating rotation type (0=aau, 1=aan, 2=qu, 3=qn,   10=aau-bv, 11=aan-bv, "
    "12=qu-bv,   -1=qu,aau,aan, -2=aau,qu,aan,  -3=aan,qu,aau) optional, default=0\n"
    "(6) a vector of weights for the various equations (most useful for hybrid representation, or "
    "confidence of points) optional\n"
    "(7) a struct of options (loss, loss_scale, sigma, covariance) optional\n";

const std::string kInvalidCode =
    "Rotation type must be from: (0=aau, 1=aan, 2=qu, 3=qn,   10=aau-bv, 11=aan-bv, 12=qu-bv,   "
    "-1=qu,aau,aan, -2=aau,qu,aan,  -3=aan,qu,aau), got an invalid value of ";

int nrot_of(int code) { return trel_test::rotation_code(code).rotation_values; }
int rows_of(int code) { return trel_test::rotation_code(code).observation_rows; }
int reps_of(int code) { return trel_test::rotation_code(code).repetitions; }

// Well-formed inputs 1 to 3 for a rotation code and npts points. Values are distinct
// so that a mixed-up index shows: camera value k is 0.5 + k, point i coordinate r is
// 10 i + r, observation i row r is 100 i + r.
struct Call {
  Fake_mex_host host;
  std::vector<const Mex_array*> in;
  int nlhs = 1;

  Call(int code = 0, std::size_t npts = 4) {
    std::vector<double> camera(static_cast<std::size_t>(nrot_of(code)) + 6);
    for (std::size_t k = 0; k < camera.size(); ++k) camera[k] = 0.5 + static_cast<double>(k);
    std::vector<double> points, observations;
    const std::size_t rows = static_cast<std::size_t>(rows_of(code));
    for (std::size_t i = 0; i < npts; ++i) {
      for (std::size_t r = 0; r < 3; ++r) points.push_back(10.0 * i + r);
      for (std::size_t r = 0; r < rows; ++r) observations.push_back(100.0 * i + r);
    }
    in = {host.column(camera), host.matrix(3, npts, points),
          host.matrix(rows, npts, observations)};
  }
  Call& criteria(const std::vector<double>& c) {
    resize(4);
    in[3] = host.row(c);
    return *this;
  }
  Call& code(double c) {
    if (in.size() < 4) criteria({10, 0, -10000, 0});
    resize(5);
    in[4] = host.scalar(c);
    return *this;
  }
  Call& set(std::size_t index, const Mex_array* a) {
    resize(index + 1);
    in[index] = a;
    return *this;
  }
  void resize(std::size_t n) {
    while (in.size() < n) in.push_back(host.scalar(0.0));
  }

  Pose_refine_arguments read() {
    return trel::read_pose_refine_arguments(host, nlhs, static_cast<int>(in.size()), in.data());
  }
  // The three frame lines of the failure, or "no error".
  std::string failure() {
    try {
      read();
    } catch (const trel::exception_l& e) {
      return e.what();
    }
    return "no error";
  }
};

using trel_test::split_lines;

// The detail text of an origin frame thrown by the entry, after checking the frame.
std::string entry_detail(const std::string& message) {
  const std::string::size_type first = message.find('\n');
  const std::string::size_type second = message.find('\n', first + 1);
  if (first == std::string::npos || second == std::string::npos) return "malformed: " + message;
  const std::string line1 = message.substr(0, first);
  const std::string line2 = message.substr(first + 1, second - first - 1);
  const std::string rest = message.substr(second + 1);
  const std::string file = "camera_pose_refine/camera_pose_refine.cpp(";
  if (line1.find(file) == std::string::npos || line1.back() != ')') return "bad file line: " + line1;
  if (line2 != kEntrySignature) return "bad signature: " + line2;
  if (rest.rfind("Details: ", 0) != 0 || rest.back() != '\n') return "bad details: " + rest;
  return rest.substr(9, rest.size() - 10);
}

TEST(ReadPoseRefineArguments, ThreeInputsGiveTheDefaults) {
  Call call;
  const Pose_refine_arguments args = call.read();
  EXPECT_EQ(args.rotation_type, 0);
  EXPECT_EQ(args.ndims, 6);
  EXPECT_EQ(args.npts, 4);
  EXPECT_EQ(args.num_eqs, 8);
  EXPECT_EQ(args.max_iters, 10);
  EXPECT_EQ(args.min_x_step, 0.0f);
  EXPECT_EQ(args.min_y_step, -10000.0f);
  EXPECT_FALSE(args.use_finite_difference);
  EXPECT_TRUE(args.weights.empty());
  EXPECT_EQ(args.x, (std::vector<double>{0.5, 1.5, 2.5, 3.5, 4.5, 5.5}));
  EXPECT_EQ(args.k11, 6.5);
  EXPECT_EQ(args.k13, 7.5);
  EXPECT_EQ(args.k23, 8.5);
  ASSERT_EQ(args.points.size(), 4u);
  EXPECT_EQ(args.points[2], (std::vector<double>{20, 21, 22}));
}

// Sizes and target layout for every code: repetition j, point i, row r sits at
// j * rows * npts + i * rows + r and holds observation (r, i).
class ReadPoseRefineArgumentsByCode : public ::testing::TestWithParam<int> {};

TEST_P(ReadPoseRefineArgumentsByCode, SizesAndTargetFollowTheCode) {
  const int code = GetParam();
  const std::size_t npts = 3;
  Call call(code, npts);
  call.code(code);
  const Pose_refine_arguments args = call.read();
  const int rows = rows_of(code);
  EXPECT_EQ(args.rotation_type, code);
  EXPECT_EQ(args.nrot, nrot_of(code));
  EXPECT_EQ(args.ndims, nrot_of(code) + 3);
  EXPECT_EQ(args.observation_rows, rows);
  EXPECT_EQ(args.repetitions, reps_of(code));
  EXPECT_EQ(args.num_eqs, rows * 3 * reps_of(code));
  ASSERT_EQ(args.target.size(), static_cast<std::size_t>(args.num_eqs));
  for (int j = 0; j < reps_of(code); ++j)
    for (int i = 0; i < 3; ++i)
      for (int r = 0; r < rows; ++r)
        EXPECT_EQ(args.target[static_cast<std::size_t>(j * rows * 3 + i * rows + r)], 100.0 * i + r)
            << "repetition " << j << " point " << i << " row " << r;
  ASSERT_EQ(args.x.size(), static_cast<std::size_t>(args.ndims));
  EXPECT_EQ(args.x.back(), 0.5 + args.ndims - 1);
  EXPECT_EQ(args.k11, 0.5 + args.ndims);
  EXPECT_EQ(args.k23, 0.5 + args.ndims + 2);
}

INSTANTIATE_TEST_SUITE_P(EveryCode, ReadPoseRefineArgumentsByCode,
                         ::testing::ValuesIn(trel_test::all_rotation_codes()));

TEST(ReadPoseRefineArguments, RotationCodeIsTruncatedTowardZero) {
  EXPECT_EQ(Call(2).code(2.9).read().rotation_type, 2);
  EXPECT_EQ(Call(0).code(-0.5).read().rotation_type, 0);
  EXPECT_EQ(Call(-1).code(-1.7).read().rotation_type, -1);
  Call row(12);
  row.code(0).set(4, row.host.row({12.0, 3.0}));
  EXPECT_EQ(row.read().rotation_type, 12);
}

TEST(ReadPoseRefineArguments, CameraVectorMayBeARowOrAColumn) {
  Call call;
  call.set(0, call.host.row({0.5, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5, 8.5}));
  const Pose_refine_arguments args = call.read();
  EXPECT_EQ(args.x, (std::vector<double>{0.5, 1.5, 2.5, 3.5, 4.5, 5.5}));
  EXPECT_EQ(args.k13, 7.5);
}

TEST(ReadPoseRefineArguments, StoppingCriteriaAreConverted) {
  Pose_refine_arguments args = Call().criteria({7.9, 1e-6, 0.25, 1.0}).read();
  EXPECT_EQ(args.max_iters, 7);
  EXPECT_EQ(args.min_x_step, static_cast<float>(1e-6));
  EXPECT_EQ(args.min_y_step, 0.25f);
  EXPECT_TRUE(args.use_finite_difference);

  Call column;
  column.set(3, column.host.column({-2.5, 0, 0, -0.0}));
  args = column.read();
  EXPECT_EQ(args.max_iters, -2);
  EXPECT_FALSE(args.use_finite_difference) << "-0.0 is exactly 0.0";

  args = Call().criteria({3, 1e300, -1e300, 1e-300}).read();
  EXPECT_EQ(args.min_x_step, std::numeric_limits<float>::infinity());
  EXPECT_EQ(args.min_y_step, -std::numeric_limits<float>::infinity());
  EXPECT_TRUE(args.use_finite_difference) << "any value other than 0.0 selects differences";
}

TEST(ReadPoseRefineArguments, WeightsAreReadInElementOrder) {
  for (bool as_row : {true, false}) {
    Call call(-2, 2);
    const std::vector<double> weights{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    call.code(-2).set(5, as_row ? call.host.row(weights) : call.host.column(weights));
    EXPECT_EQ(call.read().weights, weights);
  }
}

TEST(ReadPoseRefineArguments, FailureIsAnOriginFrameOfTheEntry) {
  Call call;
  call.nlhs = 3;
  const std::string message = call.failure();
  const std::vector<std::string> lines = split_lines(message);
  ASSERT_EQ(lines.size(), 4u) << message;
  EXPECT_NE(lines[0].find("camera_pose_refine/camera_pose_refine.cpp("), std::string::npos);
  EXPECT_EQ(lines[1], kEntrySignature);
  EXPECT_EQ(lines[2], "Details: 1 output required. Got 3");
  EXPECT_EQ(lines[3], "");
}

struct Bad_call {
  const char* name;
  std::function<void(Call&)> spoil;
  std::string detail;
};

std::ostream& operator<<(std::ostream& os, const Bad_call& c) { return os << c.name; }

class ReadPoseRefineArgumentsRejects : public ::testing::TestWithParam<Bad_call> {};

TEST_P(ReadPoseRefineArgumentsRejects, WithTheCheckText) {
  Call call;
  GetParam().spoil(call);
  EXPECT_EQ(entry_detail(call.failure()), GetParam().detail);
}

const double kNan = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

const Bad_call kBadCalls[] = {
    {"TwoInputs", [](Call& c) { c.in.resize(2); },
     "3 to 7 inputs required. Got 2 Arguments should be: \n" + kHelpLines},
    {"EightInputs", [](Call& c) { c.code(0).resize(8); },
     "3 to 7 inputs required. Got 8 Arguments should be: \n" + kHelpLines},
    {"ZeroInputs", [](Call& c) { c.in.clear(); },
     "3 to 7 inputs required. Got 0 Arguments should be: \n" + kHelpLines},
    {"ThreeOutputs", [](Call& c) { c.nlhs = 3; }, "1 output required. Got 3"},
    {"NegativeOutputs", [](Call& c) { c.nlhs = -1; }, "1 output required. Got -1"},
    {"CodeAsColumn", [](Call& c) { c.code(0).set(4, c.host.column({0, 0})); },
     "Double scalar expected as rotation type, got 2 by 1 of double"},
    {"CodeEmpty", [](Call& c) { c.code(0).set(4, c.host.matrix(1, 0, {})); },
     "Double scalar expected as rotation type, got 1 by 0 of double"},
    {"CodeInt32", [](Call& c) { c.code(0).set(4, c.host.other_class("int32", 1, 1)); },
     "Double scalar expected as rotation type, got 1 by 1 of int32"},
    {"CodeFourPointFive", [](Call& c) { c.code(4.5); }, kInvalidCode + "4.5"},
    {"CodeFour", [](Call& c) { c.code(4); }, kInvalidCode + "4"},
    {"CodeNine", [](Call& c) { c.code(9); }, kInvalidCode + "9"},
    {"CodeThirteen", [](Call& c) { c.code(13); }, kInvalidCode + "13"},
    {"CodeMinusFour", [](Call& c) { c.code(-4); }, kInvalidCode + "-4"},
    {"CodeHuge", [](Call& c) { c.code(1e20); }, kInvalidCode + "1e+20"},
    {"CodeNan", [](Call& c) { c.code(kNan); }, kInvalidCode + "nan"},
    {"CodeMinusInf", [](Call& c) { c.code(-kInf); }, kInvalidCode + "-inf"},
    {"CodeBeforeCamera", [](Call& c) { c.code(5).set(0, c.host.other_class("char", 1, 3)); },
     kInvalidCode + "5"},
    {"CameraSingle", [](Call& c) { c.set(0, c.host.other_class("single", 9, 1)); },
     "Input 1 should be an double vector"},
    {"CameraMatrix", [](Call& c) { c.set(0, c.host.matrix(2, 5, std::vector<double>(10))); },
     "Input 1 should be a vector, instead found sizes of 2 by 5"},
    {"CameraEmpty", [](Call& c) { c.set(0, c.host.matrix(0, 0, {})); },
     "Input 1 should be a vector, instead found sizes of 0 by 0"},
    {"CameraNineForAan", [](Call& c) { c.code(1); },
     "Input 1 should be a vector of 10 camera parameters (r1,r2,r3(,r4),t1,t2,t3, k11,k13,k23), "
     "instead it had 9"},
    {"CameraTenForAau", [](Call& c) { c.set(0, c.host.row(std::vector<double>(10))); },
     "Input 1 should be a vector of 9 camera parameters (r1,r2,r3(,r4),t1,t2,t3, k11,k13,k23), "
     "instead it had 10"},
    {"CameraNan", [](Call& c) { c.set(0, c.host.row({0, 0, 0, 0, kNan, 0, 800, 320, 240})); },
     "Input 1 should hold finite numbers only, instead element (1,5) is nan"},
    {"NoPoints", [](Call& c) { c.set(1, c.host.matrix(3, 0, {})).set(2, c.host.matrix(2, 0, {})); },
     "Input 2 should hold at least one 3D point, instead size of 3 by 0 was passed"},
    {"PointInf", [](Call& c) { c.set(1, c.host.matrix(3, 4, {0, 0, 5, 1, 1, 5, 2, kInf, 5, 3, 3, 5})); },
     "Input 2 should hold finite numbers only, instead element (2,3) is inf"},
    {"ObservationMinusInf", [](Call& c) { c.set(2, c.host.matrix(2, 4, {1, 2, 3, 4, 5, 6, 7, -kInf})); },
     "Input 3 should hold finite numbers only, instead element (2,4) is -inf"},
    {"MinXStepNan", [](Call& c) { c.criteria({10, kNan, 0, 0}); },
     "Input 4 should hold finite numbers only, instead element (1,2) is nan"},
    {"WeightNan", [](Call& c) { c.code(0).set(5, c.host.column({1, 1, 1, kNan, 1, 1, 1, 1})); },
     "Input 6 should hold finite numbers only, instead element (4,1) is nan"},
    {"PointsLogical", [](Call& c) { c.set(1, c.host.other_class("logical", 3, 4)); },
     "Input 2 should be an double matrix"},
    {"PointsTransposed", [](Call& c) { c.set(1, c.host.matrix(4, 3, std::vector<double>(12))); },
     "Input 2 should be a matrix of 3D points, with size N by 3. instead size of 4 by 3 was passed"},
    {"PointsBeforeObservations",
     [](Call& c) {
       c.set(1, c.host.matrix(2, 4, std::vector<double>(8)));
       c.set(2, c.host.other_class("cell", 1, 1));
     },
     "Input 2 should be a matrix of 3D points, with size N by 3. instead size of 2 by 4 was passed"},
    {"ObservationsChar", [](Call& c) { c.set(2, c.host.other_class("char", 2, 4)); },
     "Input 3 should be an double matrix"},
    {"ObservationsThreeRows", [](Call& c) { c.set(2, c.host.matrix(3, 4, std::vector<double>(12))); },
     "Input 3 should be a matrix of observations (pixel/bearing vecs), with size 4 by 2. instead "
     "size of 4 by 3 was passed"},
    {"ObservationsTooFew", [](Call& c) { c.set(2, c.host.matrix(2, 3, std::vector<double>(6))); },
     "Input 3 should be a matrix of observations (pixel/bearing vecs), with size 4 by 2. instead "
     "size of 3 by 2 was passed"},
    {"BearingVectorsNeedThreeRows", [](Call& c) { c.code(10); },
     "Input 3 should be a matrix of observations (pixel/bearing vecs), with size 4 by 3. instead "
     "size of 4 by 2 was passed"},
    {"CriteriaCell", [](Call& c) { c.set(3, c.host.other_class("cell", 1, 4)); },
     "Input 4 should be an double vector"},
    {"CriteriaThree", [](Call& c) { c.criteria({10, 0, 0}); },
     "Input 4 should be a vector of stopping criteria, with 4 elements. instead size of 1 by 3 was "
     "passed"},
    {"CriteriaSquare", [](Call& c) { c.set(3, c.host.matrix(2, 2, {10, 0, 0, 0})); },
     "Input 4 should be a vector of stopping criteria, with 4 elements. instead size of 2 by 2 was "
     "passed"},
    {"MaxItersNan", [](Call& c) { c.criteria({kNan, 0, 0, 0}); },
     "Input 4 should hold max_iters as a finite number within the int range, instead got nan"},
    {"MaxItersInf", [](Call& c) { c.criteria({kInf, 0, 0, 0}); },
     "Input 4 should hold max_iters as a finite number within the int range, instead got inf"},
    {"MaxItersBeyondInt", [](Call& c) { c.criteria({3e9, 0, 0, 0}); },
     "Input 4 should hold max_iters as a finite number within the int range, instead got 3e+09"},
    {"WeightsTooShort", [](Call& c) { c.code(0).set(5, c.host.row(std::vector<double>(7))); },
     "Double vector of length 8 expected as weightings, got 1 by 7 of double"},
    {"WeightsMatrix", [](Call& c) { c.code(0).set(5, c.host.matrix(2, 4, std::vector<double>(8))); },
     "Double vector of length 8 expected as weightings, got 2 by 4 of double"},
    {"WeightsStruct", [](Call& c) { c.code(0).set(5, c.host.other_class("struct", 1, 1)); },
     "Double vector of length 8 expected as weightings, got 1 by 1 of struct"},
    {"HybridWeightsNeedSixPerPoint",
     [](Call& c) {
       c.in = {c.host.column(std::vector<double>(10)), c.in[1], c.in[2]};
       c.code(-1).set(5, c.host.row(std::vector<double>(8)));
     },
     "Double vector of length 24 expected as weightings, got 1 by 8 of double"},
};

INSTANTIATE_TEST_SUITE_P(EveryCheck, ReadPoseRefineArgumentsRejects, ::testing::ValuesIn(kBadCalls),
                         [](const ::testing::TestParamInfo<Bad_call>& info) {
                           return std::string(info.param.name);
                         });

// ---- the whole entry through the fake host ------------------------------------

// Noise-free scenes: the observations are the cost function's own output at the true
// pose, so a converged run reproduces the true search vector up to rounding.
// 1e-8 leaves room for the SVD solve on Jacobians with entries of order 1e3.
const double kRecoveryTolerance = 1e-8;
// Central differences are accurate to about 1e-10 of each column; 200 steps reach
// this comfortably.
const double kFiniteDifferenceTolerance = 1e-6;

struct Scene {
  int code = 0;
  std::vector<std::vector<double>> point_list;
  trel::matrix<double> K;
  std::vector<double> camera;  // input 1: start values, then k11, k13, k23
  std::vector<double> x_true;
  std::vector<double> points;  // 3 x npts, column-major
  std::vector<double> observations;
  std::size_t rows = 2;
  std::size_t npts = 0;
};

// Points 4 to 8 units in front of the camera at rotation values `rotation_true`; the
// start is every true value offset by a few hundredths.
Scene make_scene(int code, std::size_t npts) {
  Scene s;
  s.code = code;
  s.npts = npts;
  s.rows = static_cast<std::size_t>(rows_of(code));
  const bool bearing = trel_test::rotation_code(code).bearing_vectors();
  std::vector<double> rotation;
  switch (trel_test::rotation_code(code).form) {
    case trel::Rotation_form::rot_vec: rotation = {0.2, -0.3, 0.25}; break;
    case trel::Rotation_form::ang_axis: rotation = {0.48, -0.72, 0.6, 0.4387}; break;  // unit axis, then the angle
    case trel::Rotation_form::quaternion: rotation = {0.1043, -0.1565, 0.1304, 0.9761}; break;
  }
  s.x_true = rotation;
  s.x_true.insert(s.x_true.end(), {0.4, -0.3, -1.0});
  const double k11 = bearing ? 1.0 : 800.0, k13 = bearing ? 0.0 : 320.0, k23 = bearing ? 0.0 : 240.0;
  s.camera = s.x_true;
  for (std::size_t k = 0; k < s.camera.size(); ++k) s.camera[k] += 0.03 * ((k % 3) - 1.0) + 0.02;
  s.camera.insert(s.camera.end(), {k11, k13, k23});

  std::vector<std::vector<double>> points;
  for (std::size_t i = 0; i < npts; ++i) {
    const double a = static_cast<double>(i);
    points.push_back({std::sin(1.3 * a) * 1.5 + 0.4, std::cos(0.7 * a) * 1.2 - 0.3,
                      5.0 + 2.0 * std::sin(0.37 * a + 1.0)});
    s.points.insert(s.points.end(), points.back().begin(), points.back().end());
  }
  trel::matrix<double> K(3, 3);
  K.set(0, 0, k11);
  K.set(0, 2, k13);
  K.set(1, 1, k11);
  K.set(1, 2, k23);
  K.set(2, 2, 1.0);
  s.point_list = points;
  s.K = K;
  const std::vector<double> predicted = trel::Camera_position_opt_func(points, K, code)(s.x_true);
  // The first repetition block holds each point's rows in order: the input's columns.
  s.observations.assign(predicted.begin(), predicted.begin() + static_cast<long>(s.rows * npts));
  return s;
}

struct Entry_run {
  Fake_mex_host host;
  Mex_array* out = nullptr;

  void run(const Scene& s, std::vector<double> criteria, double code,
           const std::vector<double>* weights = nullptr, int nlhs = 1) {
    this->nlhs = nlhs;
    std::vector<const Mex_array*> in = {host.row(s.camera), host.matrix(3, s.npts, s.points),
                                        host.matrix(s.rows, s.npts, s.observations),
                                        host.row(criteria), host.scalar(code)};
    if (weights) in.push_back(host.column(*weights));
    if (options) {
      if (!weights) in.push_back(host.row(std::vector<double>(s.rows * s.npts * reps_of(s.code), 1.0)));
      in.push_back(options(host));
    }
    Mex_array* plhs[2] = {nullptr, nullptr};
    trel::camera_pose_refine_entry(host, nlhs, plhs, static_cast<int>(in.size()), in.data());
    out = plhs[0];
    info = plhs[1];
  }
  Mex_array* info = nullptr;
  int nlhs = 1;
  // Input 7, made by the run's own host; none when empty.
  std::function<const Mex_array*(Fake_mex_host&)> options;
  double field(const char* name) const {
    const trel::testing::Fake_array* f = Fake_mex_host::field(info, name);
    return f != nullptr && f->data.size() == 1 ? f->data[0] : std::numeric_limits<double>::quiet_NaN();
  }
  std::vector<double> result() const {
    const trel::testing::Fake_array& a = Fake_mex_host::array(out);
    EXPECT_EQ(a.m, 1u);
    return a.data;
  }
  std::string error_text() const {
    if (host.errors.size() != 1) return "errors raised: " + std::to_string(host.errors.size());
    EXPECT_EQ(host.errors[0].id, "Mex:exception");
    return host.errors[0].text;
  }
};

double max_abs_difference(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return std::numeric_limits<double>::infinity();
  double d = 0.0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    const double e = std::fabs(a[k] - b[k]);
    if (std::isnan(e)) return e;  // so that a NaN fails every "below tolerance" check
    if (e > d) d = e;
  }
  return d;
}

// How far a search vector is from the true pose. The rotation values themselves are
// not unique (a quaternion's length and an angle-axis axis's length are free), so the
// rotation is compared through its predictions, in normalised image units, and the
// camera centre directly.
double pose_mismatch(const Scene& s, const std::vector<double>& x) {
  if (x.size() != s.x_true.size()) return std::numeric_limits<double>::infinity();
  const std::size_t nrot = x.size() - 3;
  const double centre = max_abs_difference(std::vector<double>(x.begin() + nrot, x.end()),
                                           std::vector<double>(s.x_true.begin() + nrot, s.x_true.end()));
  const trel::Camera_position_opt_func cost(s.point_list, s.K, s.code);
  const double seen = max_abs_difference(cost(x), cost(s.x_true)) / s.K.get(0, 0);
  return std::isnan(seen) || std::isnan(centre) ? std::numeric_limits<double>::quiet_NaN()
                                                 : std::max(centre, seen);
}

class CameraPoseRefineEntry : public ::testing::TestWithParam<int> {};

TEST_P(CameraPoseRefineEntry, RecoversThePoseAnalytically) {
  const int code = GetParam();
  const Scene s = make_scene(code, 10);
  Entry_run run;
  run.run(s, {20, 0, -10000, 0}, code);
  ASSERT_TRUE(run.host.errors.empty()) << run.host.errors[0].text;
  ASSERT_NE(run.out, nullptr);
  const std::vector<double> x = run.result();
  ASSERT_EQ(x.size(), static_cast<std::size_t>(nrot_of(code) + 3));
  EXPECT_LT(pose_mismatch(s, x), kRecoveryTolerance);
  EXPECT_GT(pose_mismatch(s, std::vector<double>(s.camera.begin(), s.camera.end() - 3)), 0.01)
      << "the start must be off the solution";
}

TEST_P(CameraPoseRefineEntry, RecoversThePoseByFiniteDifferences) {
  const int code = GetParam();
  const Scene s = make_scene(code, 10);
  Entry_run run;
  run.run(s, {200, 0, -10000, 1}, code);
  ASSERT_TRUE(run.host.errors.empty()) << run.host.errors[0].text;
  EXPECT_LT(pose_mismatch(s, run.result()), kFiniteDifferenceTolerance);
}

INSTANTIATE_TEST_SUITE_P(EveryCode, CameraPoseRefineEntry,
                         ::testing::ValuesIn(trel_test::all_rotation_codes()));

TEST(CameraPoseRefineEntryDefaults, ThreeInputsRunTenAnalyticSteps) {
  const Scene s = make_scene(0, 8);
  Fake_mex_host host;
  const Mex_array* in[3] = {host.column(s.camera), host.matrix(3, 8, s.points),
                            host.matrix(2, 8, s.observations)};
  Mex_array* plhs[1] = {nullptr};
  trel::camera_pose_refine_entry(host, 1, plhs, 3, in);
  ASSERT_TRUE(host.errors.empty());
  const std::vector<double> x = Fake_mex_host::array(plhs[0]).data;
  EXPECT_LT(pose_mismatch(s, x), kRecoveryTolerance);

  // Ten steps exactly: the same run through explicit criteria matches 10, not 1.
  Entry_run ten, one;
  ten.run(s, {10, 0, -10000, 0}, 0);
  one.run(s, {1, 0, -10000, 0}, 0);
  EXPECT_EQ(ten.result(), x);
  EXPECT_GT(pose_mismatch(s, one.result()), 1e-6);
}

TEST(CameraPoseRefineEntryDefaults, ZeroIterationsReturnTheStart) {
  const Scene s = make_scene(2, 6);
  Entry_run run;
  run.run(s, {0, 0, -10000, 0}, 2);
  EXPECT_EQ(run.result(), std::vector<double>(s.camera.begin(), s.camera.begin() + 7));
}

// A corrupted point pulls the fit off unless its equations weigh nothing; for a
// hybrid the weights cover the three repeated blocks.
TEST(CameraPoseRefineEntryWeights, ZeroWeightRemovesAnOutlier) {
  for (int code : {0, -2}) {
    Scene s = make_scene(code, 10);
    s.observations[4] += 30.0;
    s.observations[5] -= 20.0;
    const std::size_t n = 20 * static_cast<std::size_t>(reps_of(code));
    std::vector<double> weights(n, 1.0);
    for (std::size_t block = 0; block < n; block += 20) weights[block + 4] = weights[block + 5] = 0.0;

    Entry_run plain, weighted;
    plain.run(s, {20, 0, -10000, 0}, code);
    weighted.run(s, {20, 0, -10000, 0}, code, &weights);
    ASSERT_TRUE(weighted.host.errors.empty()) << weighted.host.errors[0].text;
    EXPECT_LT(pose_mismatch(s, weighted.result()), kRecoveryTolerance) << code;
    EXPECT_GT(pose_mismatch(s, plain.result()), 1e-4) << "negative control " << code;

  }
}

// In finite-difference mode the weights reach the cost function: uneven weights on an
// exact scene keep the exact solution, and all-zero weights leave nothing to solve.
TEST(CameraPoseRefineEntryWeights, FiniteDifferenceModeUsesTheWeights) {
  for (int code : {0, -1}) {
    const Scene s = make_scene(code, 10);
    const std::size_t n = 20 * static_cast<std::size_t>(reps_of(code));
    std::vector<double> weights(n);
    for (std::size_t k = 0; k < n; ++k) weights[k] = 0.5 + static_cast<double>(k % 7) * 0.25;
    Entry_run weighted_fd;
    weighted_fd.run(s, {200, 0, -10000, 1}, code, &weights);
    ASSERT_TRUE(weighted_fd.host.errors.empty()) << weighted_fd.host.errors[0].text;
    EXPECT_LT(pose_mismatch(s, weighted_fd.result()), kFiniteDifferenceTolerance) << code;

    // All weights 0: the linearised system is all zeros and the start is returned.
    const std::vector<double> zero(n, 0.0);
    Entry_run zero_fd;
    zero_fd.run(s, {5, 0, -10000, 1}, code, &zero);
    EXPECT_EQ(zero_fd.result(), std::vector<double>(s.camera.begin(), s.camera.end() - 3)) << code;
  }
}

TEST(CameraPoseRefineEntryErrors, ACheckFailureRaisesOneErrorAndNoOutput) {
  const Scene s = make_scene(0, 4);
  Entry_run run;
  run.run(s, {10, 0, -10000, 0}, 0, nullptr, 3);
  EXPECT_EQ(run.out, nullptr);
  EXPECT_EQ(run.host.created, 0);
  EXPECT_EQ(entry_detail(run.error_text()), "1 output required. Got 3");
}

// Tab count at the start of a frame line: the frame's nesting depth.
std::size_t leading_tabs(const std::string& line) { return line.find_first_not_of('\t'); }

// A failure inside the solver (here the cost function's refusal of a non-identity K
// for bearing vectors) leaves through the solving stage, whose frame is outermost.
TEST(CameraPoseRefineEntryErrors, SolverFailureCarriesTheSolvingStageFrame) {
  Scene s = make_scene(10, 1);
  s.camera[6] = 2.0;  // k11
  Entry_run run;
  run.run(s, {10, 0, -10000, 0}, 10);
  EXPECT_EQ(run.out, nullptr);
  EXPECT_EQ(run.host.created, 0);
  const std::vector<std::string> lines = split_lines(run.error_text());
  ASSERT_GE(lines.size(), 6u);
  const std::size_t depth = leading_tabs(lines[0]);
  EXPECT_GE(depth, 1u) << "the stage wraps the solver's own frames";
  EXPECT_NE(lines[0].find("camera_pose_refine/camera_pose_refine.cpp("), std::string::npos);
  EXPECT_EQ(lines[1], std::string(depth, '\t') + kEntrySignature);
  EXPECT_EQ(lines[2], std::string(depth, '\t') +
                          "Details: Num points=1 num_eqs=3 (vals of -1 mean not initialised)");
}

// Fewer equations than unknowns: each step is the minimum-norm solution, so one
// point ends exactly on its observation, the pose moving as little as it must.
TEST(CameraPoseRefineEntry, OnePointIsMatchedByTheSmallestChange) {
  for (int code : {0, 2, -1}) {
    const Scene s = make_scene(code, 1);
    Entry_run run;
    run.run(s, {10, 0, -10000, 0}, code);
    ASSERT_TRUE(run.host.errors.empty()) << run.host.errors[0].text;
    const std::vector<double> x = run.result();
    const std::vector<double> seen = trel::Camera_position_opt_func(s.point_list, s.K, code)(x);
    for (std::size_t k = 0; k < s.rows; ++k) EXPECT_NEAR(seen[k], s.observations[k], 1e-6) << code;
    const std::vector<double> start(s.camera.begin(), s.camera.end() - 3);
    // The start is a few hundredths off on every value; a minimum-norm step does not
    // wander further than that.
    EXPECT_LT(max_abs_difference(x, start), 0.5) << code;
  }
}

// A point at the camera centre has no projection: the first step refuses its
// residual, naming the iteration, instead of returning the start as an answer.
TEST(CameraPoseRefineEntryErrors, ANonFiniteResidualEndsTheRunNamingTheIteration) {
  Scene s = make_scene(0, 4);
  for (int k = 0; k < 3; ++k) s.points[static_cast<std::size_t>(3 + k)] = s.camera[static_cast<std::size_t>(3 + k)];
  Entry_run run;
  run.run(s, {10, 0, -10000, 0}, 0);
  EXPECT_EQ(run.out, nullptr);
  const std::string text = run.error_text();
  EXPECT_NE(text.find("Details: iteration 0: the weighted residual of equation 2 is "), std::string::npos) << text;
  EXPECT_NE(text.find("Details: Num points=4 num_eqs=8 (vals of -1 mean not initialised)\n"), std::string::npos);
}

// The second output summarises the solve; with no output requested the vector is
// still made (the host's ans).
TEST(CameraPoseRefineEntry, SummaryOutputAndAns) {
  const Scene s = make_scene(2, 8);
  Entry_run with_info, no_output, plain;
  with_info.run(s, {30, 1e-9f, -10000, 0}, 2, nullptr, 2);
  no_output.run(s, {30, 1e-9f, -10000, 0}, 2, nullptr, 0);
  plain.run(s, {30, 1e-9f, -10000, 0}, 2);
  ASSERT_TRUE(with_info.host.errors.empty()) << with_info.host.errors[0].text;
  ASSERT_NE(with_info.info, nullptr);
  EXPECT_EQ(with_info.result(), plain.result());
  EXPECT_EQ(no_output.result(), plain.result());
  EXPECT_EQ(no_output.info, nullptr);
  EXPECT_EQ(plain.info, nullptr);
  const trel::testing::Fake_array* reason = Fake_mex_host::field(with_info.info, "stop_reason");
  ASSERT_NE(reason, nullptr);
  EXPECT_EQ(reason->text, "min_x_step");
  const double iterations = with_info.field("iterations");
  EXPECT_GT(iterations, 1.0);
  EXPECT_LT(iterations, 30.0);
  EXPECT_EQ(with_info.field("returned_iteration"), iterations - 1);
  const trel::Camera_position_opt_func cost(s.point_list, s.K, 2);
  double start_error = 0.0;
  const std::vector<double> start = cost(std::vector<double>(s.camera.begin(), s.camera.end() - 3));
  for (std::size_t k = 0; k < s.observations.size(); ++k)
    start_error += (start[k] - s.observations[k]) * (start[k] - s.observations[k]);
  EXPECT_NEAR(with_info.field("initial_error"), start_error, 1e-9 * start_error);
  EXPECT_LT(with_info.field("final_error"), 1e-12);
}

// The options' own rules and a start whose cost overflows each end the call with
// one error and no output, whichever input carries the broken value.
TEST(CameraPoseRefineEntryErrors, BrokenRulesAndAnOverflowingStartAreRefused) {
  struct Case {
    const char* name;
    std::function<void(Scene&, std::vector<double>& criteria, std::vector<double>& weights, Entry_run&)> spoil;
    std::string detail;
  };
  const std::size_t num_eqs = 12;
  const Case cases[] = {
      {"max_iters -1", [](Scene&, std::vector<double>& c, std::vector<double>&, Entry_run&) { c[0] = -1; },
       "max_iters should be 0 or more, instead got -1"},
      {"a negative weight", [](Scene&, std::vector<double>&, std::vector<double>& w, Entry_run&) { w[2] = -0.5; },
       "weights should hold finite numbers, 0 or more, instead weight 3 is -0.5"},
      {"an infinite loss scale",
       [](Scene&, std::vector<double>&, std::vector<double>&, Entry_run& r) {
         r.options = [](Fake_mex_host& h) { return h.structure({{"loss", h.text("huber")}, {"loss_scale", h.scalar(kInf)}}); };
       },
       "loss_scale should be a finite positive number, instead got inf"},
      {"an infinite sigma",
       [](Scene&, std::vector<double>&, std::vector<double>&, Entry_run& r) {
         r.options = [](Fake_mex_host& h) { return h.structure({{"sigma", h.scalar(kInf)}}); };
       },
       "sigma should be a finite number, 0 or more, instead got inf"},
      {"k11 of 1e300", [](Scene& s, std::vector<double>&, std::vector<double>&, Entry_run&) { s.camera[6] = 1e300; },
       "the cost at the start is not finite: equation 1 (point 1) has weight 1 and residual "},
      {"weights of 1e300",
       [](Scene&, std::vector<double>&, std::vector<double>& w, Entry_run&) { w.assign(w.size(), 1e300); },
       "the cost at the start is not finite: equation 1 (point 1) has weight 1e+300 and residual "},
  };
  for (const Case& c : cases) {
    Scene s = make_scene(0, num_eqs / 2);
    std::vector<double> criteria = {10, 0, -10000, 0};
    std::vector<double> weights(num_eqs, 1.0);
    Entry_run run;
    c.spoil(s, criteria, weights, run);
    run.run(s, criteria, 0, &weights, 2);
    EXPECT_EQ(run.out, nullptr) << c.name;
    EXPECT_EQ(run.info, nullptr) << c.name;
    const std::string text = run.error_text();
    EXPECT_NE(text.find("Details: " + c.detail), std::string::npos) << c.name << ": " << text;
  }
}

// A first step shorter than min_x_step is kept when it lowers the error (the
// start is not returned for it); zero weights say nothing_to_fit.
TEST(CameraPoseRefineEntry, AShortFirstStepIsKeptAndZeroWeightsSayNothingToFit) {
  const Scene s = make_scene(0, 6);
  Entry_run short_step;
  short_step.run(s, {10, 1, -10000, 0}, 0, nullptr, 2);
  ASSERT_TRUE(short_step.host.errors.empty()) << short_step.host.errors[0].text;
  EXPECT_EQ(Fake_mex_host::field(short_step.info, "stop_reason")->text, "min_x_step");
  EXPECT_EQ(short_step.field("returned_iteration"), 1.0);
  // One Gauss-Newton step from a start 25 px off lands within a pixel.
  EXPECT_LT(short_step.field("final_rms"), 0.05 * short_step.field("initial_rms"));
  EXPECT_GT(max_abs_difference(short_step.result(), std::vector<double>(s.camera.begin(), s.camera.end() - 3)), 0.0);
  EXPECT_EQ(Fake_mex_host::field(short_step.info, "nothing_to_fit")->logicals, std::vector<bool>{false});

  const std::vector<double> zero(12, 0.0);
  Entry_run unweighted;
  unweighted.run(s, {10, 0, -10000, 0}, 0, &zero, 2);
  ASSERT_TRUE(unweighted.host.errors.empty()) << unweighted.host.errors[0].text;
  EXPECT_EQ(Fake_mex_host::field(unweighted.info, "nothing_to_fit")->logicals, std::vector<bool>{true});
}

TEST(CameraPoseRefineEntryErrors, BearingVectorsWithANonIdentityKFailInTheCost) {
  Scene s = make_scene(10, 5);
  s.camera[6] = 2.0;  // k11
  Entry_run run;
  run.run(s, {10, 0, -10000, 0}, 10);
  EXPECT_EQ(run.out, nullptr);
  const std::string text = run.error_text();
  EXPECT_NE(text.find("For bearing vectors, expected k to be identity, instead got "),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Details: Num points=5 num_eqs=15 (vals of -1 mean not initialised)\n"),
            std::string::npos)
      << text;
}

// Non-finite data is refused with one error naming the input, before any solving.
TEST(CameraPoseRefineEntryErrors, NonFiniteValuesAreRefusedNamingTheInput) {
  for (double bad : {std::numeric_limits<double>::quiet_NaN(), kInf}) {
    for (int where = 0; where < 3; ++where) {
      Scene s = make_scene(0, 6);
      (where == 0 ? s.camera : where == 1 ? s.points : s.observations)[1] = bad;
      Entry_run run;
      run.run(s, {10, 0, -10000, 0}, 0);
      EXPECT_EQ(run.out, nullptr);
      EXPECT_EQ(run.host.created, 0);
      EXPECT_EQ(entry_detail(run.error_text()).rfind("Input " + std::to_string(where + 1) +
                                                      " should hold finite numbers only", 0),
                0u);
    }
  }
}

// ---- input 7: the options struct --------------------------------------------

using Fields = std::vector<std::pair<std::string, const Mex_array*>>;

struct Bad_options {
  const char* name;
  std::function<const Mex_array*(Fake_mex_host&)> make;
  std::string detail;
};

std::ostream& operator<<(std::ostream& os, const Bad_options& c) { return os << c.name; }

class CameraPoseRefineOptionsRefused : public ::testing::TestWithParam<Bad_options> {};

// Each bad option ends the call with one error naming the field, before any output
// (or anything else) is created: the reader's words for the struct and the class
// or size of a value, the options' own rules for the values.
TEST_P(CameraPoseRefineOptionsRefused, NamingTheField) {
  const Scene s = make_scene(0, 6);
  Entry_run run;
  run.options = GetParam().make;
  run.run(s, {10, 0, -10000, 0}, 0, nullptr, 2);
  EXPECT_EQ(run.out, nullptr);
  EXPECT_EQ(run.info, nullptr);
  EXPECT_EQ(run.host.created, 0);
  EXPECT_EQ(entry_detail(run.error_text()), GetParam().detail);
}

const std::string kLossChoices = "one of 'squared', 'huber', 'cauchy', 'soft_l1', 'truncated'";
const std::string kFlag = "true or false (a logical scalar, or 0 or 1)";

const Bad_options kBadOptions[] = {
    {"NotAStruct", [](Fake_mex_host& h) { return h.scalar(1); },
     "Input 7 should be a 1 by 1 struct of options, instead got 1 by 1 of double"},
    {"StructArray", [](Fake_mex_host& h) { return h.other_class("struct", 1, 2); },
     "Input 7 should be a 1 by 1 struct of options, instead got 1 by 2 of struct"},
    {"UnknownField", [](Fake_mex_host& h) { return h.structure({{"loss_scal", h.scalar(1)}}); },
     "Input 7 field 'loss_scal' is not an option; the options are: loss, loss_scale, sigma, covariance, distortion, fisheye"},
    {"UnknownLoss", [](Fake_mex_host& h) { return h.structure({{"loss", h.text("Huber")}}); },
     "Input 7 field 'loss' should be " + kLossChoices + ", instead got 'Huber'"},
    {"LossNumber", [](Fake_mex_host& h) { return h.structure({{"loss", h.scalar(1)}}); },
     "Input 7 field 'loss' should be " + kLossChoices + ", instead got 1 by 1 of double"},
    {"LossCharMatrix", [](Fake_mex_host& h) { return h.structure({{"loss", h.other_class("char", 2, 5)}}); },
     "Input 7 field 'loss' should be " + kLossChoices + ", instead got 2 by 5 of char"},
    {"NegativeScale", [](Fake_mex_host& h) { return h.structure({{"loss_scale", h.scalar(-1)}}); },
     "loss_scale should be a finite positive number, instead got -1"},
    {"NanScale", [](Fake_mex_host& h) { return h.structure({{"loss_scale", h.scalar(kNan)}}); },
     "loss_scale should be a finite positive number, instead got nan"},
    {"ScaleRow", [](Fake_mex_host& h) { return h.structure({{"loss_scale", h.row({1, 2})}}); },
     "Input 7 field 'loss_scale' should be a real double scalar, instead got 1 by 2 of double"},
    {"ScaleLogical", [](Fake_mex_host& h) { return h.structure({{"loss_scale", h.logical(1, 1, {true})}}); },
     "Input 7 field 'loss_scale' should be a real double scalar, instead got 1 by 1 of logical"},
    {"NegativeSigma", [](Fake_mex_host& h) { return h.structure({{"sigma", h.scalar(-0.5)}}); },
     "sigma should be a finite number, 0 or more, instead got -0.5"},
    {"CovarianceTwo", [](Fake_mex_host& h) { return h.structure({{"covariance", h.scalar(2)}}); },
     "Input 7 field 'covariance' should be " + kFlag + ", instead got 2"},
    {"CovarianceText", [](Fake_mex_host& h) { return h.structure({{"covariance", h.text("yes")}}); },
     "Input 7 field 'covariance' should be " + kFlag + ", instead got 1 by 3 of char"},
    {"BadFieldAfterGoodOnes",
     [](Fake_mex_host& h) {
       return h.structure({{"loss", h.text("cauchy")}, {"loss_scale", h.scalar(2)}, {"sigma", h.scalar(kNan)}});
     },
     "sigma should be a finite number, 0 or more, instead got nan"},
    {"DistortionMatrix", [](Fake_mex_host& h) { return h.structure({{"distortion", h.matrix(2, 2, {0, 0, 0, 0})}}); },
     "Input 7 field 'distortion' should be a real double vector, instead got 2 by 2 of double"},
    {"DistortionSingle", [](Fake_mex_host& h) { return h.structure({{"distortion", h.other_class("single", 1, 4)}}); },
     "Input 7 field 'distortion' should be a real double vector, instead got 1 by 4 of single"},
    {"FisheyeTwo", [](Fake_mex_host& h) { return h.structure({{"fisheye", h.scalar(2)}}); },
     "Input 7 field 'fisheye' should be " + kFlag + ", instead got 2"},
};

INSTANTIATE_TEST_SUITE_P(EveryRefusal, CameraPoseRefineOptionsRefused, ::testing::ValuesIn(kBadOptions),
                         [](const ::testing::TestParamInfo<Bad_options>& info) {
                           return std::string(info.param.name);
                         });

// An empty options struct changes nothing; a robust loss marks the planted outliers
// and leaves the pose on the inliers' solution; the covariance is a symmetric 6 x 6
// unless turned off.
TEST(CameraPoseRefineOptions, RobustLossInliersAndCovariance) {
  Scene s = make_scene(0, 12);
  s.observations[6] += 40.0;  // point 3
  s.observations[15] -= 25.0;  // point 7
  const std::vector<double> criteria = {30, 1e-12, -10000, 0};
  Entry_run plain, empty, robust, no_covariance;
  plain.run(s, criteria, 0, nullptr, 2);
  empty.options = [](Fake_mex_host& h) { return h.structure({}); };
  empty.run(s, criteria, 0, nullptr, 2);
  const auto cauchy = [](bool covariance) {
    return [covariance](Fake_mex_host& h) {
      return h.structure({{"loss", h.text("cauchy")},
                          {"loss_scale", h.scalar(2)},
                          {"covariance", covariance ? h.logical(1, 1, {true}) : h.scalar(0)}});
    };
  };
  robust.options = cauchy(true);
  robust.run(s, criteria, 0, nullptr, 2);
  no_covariance.options = cauchy(false);
  no_covariance.run(s, criteria, 0, nullptr, 2);
  ASSERT_TRUE(empty.host.errors.empty() && robust.host.errors.empty()) << robust.error_text();

  EXPECT_EQ(empty.result(), plain.result());
  // The Cauchy loss keeps a little of the outliers' pull (their weight is about
  // (c / e)^2), the squared loss all of it.
  EXPECT_LT(pose_mismatch(s, robust.result()), 0.02 * pose_mismatch(s, plain.result()))
      << pose_mismatch(s, robust.result()) << " " << pose_mismatch(s, plain.result());
  EXPECT_EQ(no_covariance.result(), robust.result());

  // The weights of input 6 count when an options struct follows them.
  std::vector<double> weights(24, 1.0);
  weights[6] = weights[7] = weights[14] = weights[15] = 0.0;
  Entry_run weighted, weighted_with_options;
  weighted.run(s, criteria, 0, &weights, 2);
  weighted_with_options.options = [](Fake_mex_host& h) { return h.structure({}); };
  weighted_with_options.run(s, criteria, 0, &weights, 2);
  EXPECT_EQ(weighted_with_options.result(), weighted.result());
  EXPECT_NE(weighted.result(), plain.result());

  EXPECT_EQ(Fake_mex_host::field(robust.info, "loss")->text, "cauchy");
  EXPECT_EQ(robust.field("loss_scale"), 2.0);
  EXPECT_LT(robust.field("final_rms"), robust.field("initial_rms"));
  const trel::testing::Fake_array* inliers = Fake_mex_host::field(robust.info, "inliers");
  ASSERT_NE(inliers, nullptr);
  ASSERT_EQ(inliers->class_name, "logical");
  ASSERT_EQ(inliers->m, 1u);
  std::vector<bool> expected(12, true);
  expected[3] = expected[7] = false;
  EXPECT_EQ(inliers->logicals, expected);

  const trel::testing::Fake_array* cov = Fake_mex_host::field(robust.info, "covariance");
  ASSERT_NE(cov, nullptr);
  ASSERT_EQ(cov->m, 6u);
  ASSERT_EQ(cov->n, 6u);
  for (std::size_t r = 0; r < 6; ++r) {
    EXPECT_GT(cov->data[r * 7], 0.0);
    for (std::size_t c = 0; c < r; ++c)
      EXPECT_NEAR(cov->data[r + 6 * c], cov->data[c + 6 * r],
                  1e-9 * std::sqrt(cov->data[r * 7] * cov->data[c * 7]));
  }
  EXPECT_EQ(robust.field("covariance_rank"), 6.0);
  EXPECT_GT(robust.field("condition_number"), 1.0);

  const trel::testing::Fake_array* none = Fake_mex_host::field(no_covariance.info, "covariance");
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->m * none->n, 0u);
  EXPECT_EQ(no_covariance.field("covariance_rank"), 0.0);
}

// ---- input 7: the lens -------------------------------------------------------

// The scene's pixels through the lens (OpenCV's model, trel::distort), the
// start and truth as make_scene gives them.
Scene distorted_scene(const std::vector<double>& coefficients, bool fisheye) {
  Scene s = make_scene(0, 30);
  const trel::Lens_distortion<double> lens = trel::make_lens_distortion(coefficients, fisheye);
  for (std::size_t i = 0; i < s.npts; ++i) {
    const double x = (s.observations[2 * i] - 320.0) / 800.0, y = (s.observations[2 * i + 1] - 240.0) / 800.0;
    double xd = 0.0, yd = 0.0;
    trel::distort(lens, x, y, xd, yd);
    s.observations[2 * i] = 800.0 * xd + 320.0;
    s.observations[2 * i + 1] = 800.0 * yd + 240.0;
  }
  return s;
}

struct Lens_row {
  const char* name;
  std::vector<double> coefficients;
  bool fisheye;
};

const Lens_row kLensRows[] = {
    {"rt4", {-0.3, 0.08, 1e-3, -5e-4}, false},
    {"rt5", {-0.3, 0.08, 1e-3, -5e-4, 0.01}, false},
    {"rt8", {-0.3, 0.08, 1e-3, -5e-4, 0.01, 0.02, -0.01, 0.005}, false},
    {"fisheye", {0.05, -0.01, 2e-3, -5e-4}, true},
};

// A camera with distortion is refined in observed pixels, through the kernel,
// to the pose the pixels were made at; the pinhole road on the same pixels
// misses it.
TEST(CameraPoseRefineLens, RefinesToThePoseOfTheObservedPixels) {
  for (const auto& row : kLensRows) {
    const Scene s = distorted_scene(row.coefficients, row.fisheye);
    Entry_run lens_run;
    lens_run.options = [&](Fake_mex_host& h) {
      return h.structure({{"distortion", h.row(row.coefficients)}, {"fisheye", h.logical(1, 1, {row.fisheye})}});
    };
    lens_run.run(s, {30, 0, -10000, 0}, 0, nullptr, 2);
    ASSERT_NE(lens_run.out, nullptr) << row.name << ": " << lens_run.error_text();
    const std::vector<double> x = lens_run.result();
    for (std::size_t k = 0; k < x.size(); ++k) EXPECT_NEAR(x[k], s.x_true[k], 1e-8) << row.name << " value " << k;
    EXPECT_LT(lens_run.field("final_rms"), 1e-6) << row.name;
    Entry_run pinhole_run;
    pinhole_run.run(s, {30, 0, -10000, 0}, 0);
    const std::vector<double> y = pinhole_run.result();
    double worst = 0.0;
    for (std::size_t k = 0; k < y.size(); ++k) worst = std::max(worst, std::fabs(y[k] - s.x_true[k]));
    EXPECT_GT(worst, 1e-3) << row.name;
  }
}

// Counts and values the lens model refuses end the call with its words, before
// any output; all-zero coefficients are the pinhole road, bit for bit.
TEST(CameraPoseRefineLens, BadCoefficientsAreRefusedAndZeroOnesAreThePinhole) {
  const struct {
    std::vector<double> coefficients;
    bool fisheye;
    const char* words;
  } refused[] = {
      {{0.1, 0.2, 0.3}, false, "got 3"},
      {{0, 0, 0, 0, 0, 0}, false, "got 6"},
      {{0, 0, 0, 0, 0}, true, "a fisheye model takes 4 distortion coefficients (k1 k2 k3 k4), got 5"},
      {{}, true, "a fisheye model takes 4 distortion coefficients (k1 k2 k3 k4), got 0"},
      {{0.1, kNan, 0, 0}, false, "distortion coefficient 1 is not finite"},
  };
  const Scene s = make_scene(0, 12);
  for (const auto& c : refused) {
    Entry_run run;
    run.options = [&](Fake_mex_host& h) {
      return h.structure({{"distortion", h.row(c.coefficients)}, {"fisheye", h.logical(1, 1, {c.fisheye})}});
    };
    run.run(s, {10, 0, -10000, 0}, 0, nullptr, 2);
    EXPECT_EQ(run.out, nullptr) << c.words;
    EXPECT_EQ(run.host.created, 0) << c.words;
    EXPECT_NE(run.error_text().find(c.words), std::string::npos) << run.error_text();
  }
  Entry_run zeros, plain;
  zeros.options = [](Fake_mex_host& h) { return h.structure({{"distortion", h.row({0, 0, 0, 0, 0})}}); };
  zeros.run(s, {10, 0, -10000, 0}, 0);
  plain.run(s, {10, 0, -10000, 0}, 0);
  EXPECT_EQ(zeros.result(), plain.result());
}

}  // namespace
