// camera_pose_refine_batch's entry on the fake host: its refusals of the whole
// call, a bad frame reported in its own info element, the progress line and the
// host's interrupt.
#include "camera_pose_refine/camera_pose_refine_batch.h"
#include "camera_pose_refine/camera_pose_refine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "tests/plugin/fake_mex_host.h"

namespace {

using trel::Mex_array;
using trel::testing::Fake_array;
using trel::testing::Fake_mex_host;

// F frames of 5 points seen by a camera 10 units behind the origin, rotation code 0.
struct Batch_call {
  Fake_mex_host host;
  std::vector<const Mex_array*> in;
  int nlhs = 2;
  std::size_t F;

  explicit Batch_call(std::size_t frames = 3) : F(frames) {
    std::vector<double> cameras(F * 9);
    std::vector<const Mex_array*> points, pixels;
    for (std::size_t f = 0; f < F; ++f) {
      const double start[9] = {0.01 * f, -0.02, 0.01, 0.1, -0.1, -10.0 + 0.05 * f, 800.0, 320.0, 240.0};
      for (std::size_t k = 0; k < 9; ++k) cameras[f + k * F] = start[k];
      std::vector<double> p, uv;
      for (int i = 0; i < 5; ++i) {
        const double X[3] = {0.3 * i - 0.6, 0.2 * (i % 3) - 0.2, 0.5 * (i % 2)};
        p.insert(p.end(), X, X + 3);
        uv.push_back(800.0 * X[0] / (X[2] + 10.0) + 320.0);
        uv.push_back(800.0 * X[1] / (X[2] + 10.0) + 240.0);
      }
      points.push_back(host.matrix(3, 5, p));
      pixels.push_back(host.matrix(2, 5, uv));
    }
    in = {host.matrix(F, 9, cameras), host.cell(1, F, points), host.cell(1, F, pixels)};
  }
  std::vector<Mex_array*> run() {
    std::vector<Mex_array*> out(2, nullptr);
    trel::camera_pose_refine_batch_entry(host, nlhs, out.data(), static_cast<int>(in.size()), in.data());
    return out;
  }
  const Mex_array* options(const std::vector<std::pair<std::string, const Mex_array*>>& fields) {
    in.resize(7, nullptr);
    in[3] = host.row({10, 0, -1e4, 0});
    in[4] = host.scalar(0);
    in[5] = host.matrix(0, 0, {});
    return in[6] = host.structure(fields);
  }
};

TEST(CameraPoseRefineBatchEntry, RefusesTheWholeCallAndSetsNoOutput) {
  struct Case {
    const char* what;
    std::function<void(Batch_call&)> spoil;
    const char* message;
  };
  const Case cases[] = {
      {"two inputs", [](Batch_call& c) { c.in.pop_back(); }, "3 to 7 inputs required. Got 2"},
      {"three outputs", [](Batch_call& c) { c.nlhs = 3; }, "1 or 2 outputs required. Got 3"},
      {"camera rows of 8", [](Batch_call& c) { c.in[0] = c.host.matrix(3, 8, std::vector<double>(24)); },
       "Input 1 should be a double matrix of one camera per row, each 9 camera parameters"},
      {"single cameras", [](Batch_call& c) { c.in[0] = c.host.other_class("single", 3, 9); }, "of single"},
      {"a cell of 2 for 3 cameras", [](Batch_call& c) { c.in[1] = c.host.cell(1, 2, {c.in[1], c.in[1]}); },
       "Input 2 should be a cell array of 3 matrices, one per camera, instead it had 2"},
      {"an unset cell", [](Batch_call& c) { c.in[2] = c.host.cell(1, 3, {nullptr, nullptr, nullptr}); },
       "instead cell 1 is empty"},
      {"3-D array of 2 pages", [](Batch_call& c) { c.in[1] = c.host.array_nd({3, 5, 2}, std::vector<double>(30)); },
       "Input 2 should be a cell array of 3 matrices or a double array with 3 pages"},
      {"points of 2 rows",
       [](Batch_call& c) { c.in[1] = c.host.array_nd({2, 5, 3}, std::vector<double>(30)); },
       "Input 2 should hold 3 by N matrices of 3D points, N at least 1, instead frame 1 is 2 by 5"},
      {"pixels of 4 points",
       [](Batch_call& c) { c.in[2] = c.host.array_nd({2, 4, 3}, std::vector<double>(24)); },
       "Input 3 should hold 2 by N matrices of observations (pixel/bearing vecs), N as in input 2, instead frame 1 "
       "is 2 by 4 for 5 points"},
      {"bad code", [](Batch_call& c) { c.options({}); c.in[4] = c.host.scalar(7); }, "Rotation type must be from"},
      {"short criteria", [](Batch_call& c) { c.options({}); c.in[3] = c.host.row({10, 0}); },
       "Input 4 should be a vector of stopping criteria"},
      {"a cell of 2 weight vectors", [](Batch_call& c) { c.options({}); c.in[5] = c.host.cell(1, 2, {c.in[5], c.in[5]}); },
       "Input 6 should be a cell array of 3 weight vectors, instead it had 2"},
      {"threads 1.5", [](Batch_call& c) { c.options({{"threads", c.host.scalar(1.5)}}); },
       "Input 7 field threads should be a whole number, instead got 1.5"},
      {"threads 10000", [](Batch_call& c) { c.options({{"threads", c.host.scalar(10000)}}); },
       "threads should be from 0 (the number of cores) to 4096, instead got 10000"},
      {"threads -1", [](Batch_call& c) { c.options({{"threads", c.host.scalar(-1)}}); },
       "threads should be from 0 (the number of cores) to 4096, instead got -1"},
      {"max_iters -1", [](Batch_call& c) { c.options({}); c.in[3] = c.host.row({-1, 0, -1e4, 0}); },
       "max_iters should be 0 or more, instead got -1"},
      {"loss scale 0", [](Batch_call& c) { c.options({{"loss_scale", c.host.scalar(0)}}); },
       "loss_scale should be a finite positive number, instead got 0"},
      {"unknown solver", [](Batch_call& c) { c.options({{"solver", c.host.text("ceres")}}); },
       "Input 7 field 'solver' should be one of 'framework', 'kernel', instead got 'ceres'"},
      {"unknown field", [](Batch_call& c) { c.options({{"thread", c.host.scalar(1)}}); }, "thread"},
      {"bad loss", [](Batch_call& c) { c.options({{"loss", c.host.text("l3")}}); }, "loss"},
  };
  for (const Case& c : cases) {
    Batch_call call;
    c.spoil(call);
    const std::vector<Mex_array*> out = call.run();
    ASSERT_EQ(call.host.errors.size(), 1u) << c.what;
    EXPECT_EQ(call.host.errors[0].id, "Mex:exception") << c.what;
    EXPECT_NE(call.host.errors[0].text.find(c.message), std::string::npos) << c.what << ": " << call.host.errors[0].text;
    EXPECT_EQ(out[0], nullptr) << c.what;
    EXPECT_EQ(out[1], nullptr) << c.what;
  }
}

// A NaN pixel and weights that do not fit fail their frames only: NaN rows, ok
// false and the reason; the other frames converge to the pose the pixels were
// made from.
TEST(CameraPoseRefineBatchEntry, ABadFrameIsReportedInItsInfo) {
  Batch_call call(7);
  call.options({});
  std::vector<double> w(10, 1.0);
  w[3] = std::numeric_limits<double>::infinity();
  std::vector<double> negative(10, 1.0);
  negative[0] = -1.0;
  const Mex_array* ones = call.host.row(std::vector<double>(10, 1.0));
  call.in[5] = call.host.cell(1, 7, {ones, ones, call.host.row(w), call.host.matrix(0, 0, {}),
                                     call.host.row(std::vector<double>(9, 1.0)), call.host.text("abc"),
                                     call.host.row(negative)});
  const_cast<Fake_array&>(Fake_mex_host::array(Fake_mex_host::array(call.in[2]).cells[1])).data[7] = NAN;
  const std::vector<Mex_array*> out = call.run();
  ASSERT_TRUE(call.host.errors.empty()) << call.host.errors[0].text;
  const Fake_array& X = Fake_mex_host::array(out[0]);
  ASSERT_EQ(X.m, 7u);
  ASSERT_EQ(X.n, 6u);
  const char* reasons[7] = {"", "Input 3 should hold finite numbers only, instead element (2,4) of frame 2 is nan",
                            "weights should hold finite numbers, 0 or more, instead weight 4 is inf", "",
                            "weights should be empty or hold one value per equation (10), instead it had 9",
                            "Double vector expected as weightings of frame 6, got 1 by 3 of char",
                            "weights should hold finite numbers, 0 or more, instead weight 1 is -1"};
  for (std::size_t f = 0; f < 7; ++f) {
    const bool ok = reasons[f][0] == '\0';
    const std::string error = Fake_mex_host::field_at(out[1], f, "error")->text;
    EXPECT_EQ(Fake_mex_host::field_at(out[1], f, "ok")->logicals, std::vector<bool>{ok}) << f;
    // The refusals of refine_pose come in its frame; the entry's own are bare.
    EXPECT_NE(error.find(reasons[f]), std::string::npos) << f << ": " << error;
    if (ok) {
      EXPECT_EQ(error, "") << f;
    }
    EXPECT_EQ(std::isnan(X.data[f + 5 * 7]), !ok) << f;
    if (ok) {
      EXPECT_NEAR(X.data[f + 5 * 7], -10.0, 1e-6) << f;
      EXPECT_LT(Fake_mex_host::field_at(out[1], f, "final_rms")->data[0], 1e-6) << f;
    }
  }
}

// The kernel solver reaches the framework's minimum on every frame, with its own
// bits; no frames give empty outputs of the right widths.
TEST(CameraPoseRefineBatchEntry, TheKernelSolverAndAnEmptyBatch) {
  Batch_call framework(3), kernel(3);
  framework.options({{"solver", framework.host.text("framework")}});
  kernel.options({{"solver", kernel.host.text("kernel")}});
  const std::vector<Mex_array*> by_framework = framework.run(), by_kernel = kernel.run();
  ASSERT_TRUE(framework.host.errors.empty() && kernel.host.errors.empty());
  const Fake_array& a = Fake_mex_host::array(by_framework[0]);
  const Fake_array& b = Fake_mex_host::array(by_kernel[0]);
  ASSERT_EQ(a.data.size(), b.data.size());
  for (std::size_t k = 0; k < a.data.size(); ++k) EXPECT_NEAR(a.data[k], b.data[k], 1e-8) << k;
  for (std::size_t f = 0; f < 3; ++f) {
    EXPECT_EQ(Fake_mex_host::field_at(by_kernel[1], f, "ok")->logicals, std::vector<bool>{true}) << f;
    EXPECT_LT(Fake_mex_host::field_at(by_kernel[1], f, "final_rms")->data[0], 1e-6) << f;
  }

  Batch_call empty(0);
  const std::vector<Mex_array*> none = empty.run();
  ASSERT_TRUE(empty.host.errors.empty()) << empty.host.errors[0].text;
  EXPECT_EQ(Fake_mex_host::array(none[0]).m, 0u);
  EXPECT_EQ(Fake_mex_host::array(none[0]).n, 6u);
  EXPECT_EQ(Fake_mex_host::array(none[1]).m, 0u);
}

// A lens with distortion implies the kernel: each frame gives the bits of
// camera_pose_refine with the same lens; 'framework' with it is refused.
TEST(CameraPoseRefineBatchEntry, ALensGoesThroughTheKernelAsSingleCallsDo) {
  const std::vector<double> lens = {-0.2, 0.05, 1e-3, -5e-4, 0.01};
  Batch_call batch(3);
  batch.options({{"distortion", batch.host.row(lens)}});
  const std::vector<Mex_array*> out = batch.run();
  ASSERT_TRUE(batch.host.errors.empty()) << batch.host.errors[0].text;
  const Fake_array& X = Fake_mex_host::array(out[0]);
  const Fake_array& cameras = Fake_mex_host::array(batch.in[0]);
  for (std::size_t f = 0; f < 3; ++f) {
    Fake_mex_host host;
    std::vector<double> camera(9);
    for (std::size_t k = 0; k < 9; ++k) camera[k] = cameras.data[f + k * 3];
    const Fake_array& cell_points = Fake_mex_host::array(batch.host.get_cell(batch.in[1], f));
    const Fake_array& cell_pixels = Fake_mex_host::array(batch.host.get_cell(batch.in[2], f));
    const Mex_array* in[7] = {host.row(camera), host.matrix(3, 5, cell_points.data), host.matrix(2, 5, cell_pixels.data),
                              host.row({10, 0, -1e4, 0}), host.scalar(0), host.row(std::vector<double>(10, 1.0)),
                              host.structure({{"distortion", host.row(lens)}})};
    Mex_array* single[2] = {nullptr, nullptr};
    trel::camera_pose_refine_entry(host, 1, single, 7, in);
    ASSERT_TRUE(host.errors.empty()) << host.errors[0].text;
    for (std::size_t k = 0; k < 6; ++k) EXPECT_EQ(X.data[f + k * 3], Fake_mex_host::array(single[0]).data[k]) << f;
  }
  Batch_call framework(3);
  framework.options({{"distortion", framework.host.row(lens)}, {"solver", framework.host.text("framework")}});
  framework.run();
  ASSERT_EQ(framework.host.errors.size(), 1u);
  EXPECT_NE(framework.host.errors[0].text.find("should be 'kernel' for a camera with distortion"), std::string::npos);
}

// Enough frames for the conversion to run on several threads: the same bits on 1,
// 2 and 3 threads, either solver.
TEST(CameraPoseRefineBatchEntry, ManyFramesGiveTheSameBitsOnAnyThreadCount) {
  for (const char* solver : {"framework", "kernel"}) {
    std::vector<double> reference;
    for (double threads : {1.0, 2.0, 3.0}) {
      Batch_call call(700);
      call.options({{"threads", call.host.scalar(threads)}, {"solver", call.host.text(solver)}});
      const std::vector<Mex_array*> out = call.run();
      ASSERT_TRUE(call.host.errors.empty()) << call.host.errors[0].text;
      const Fake_array& X = Fake_mex_host::array(out[0]);
      ASSERT_EQ(X.m, 700u);
      if (reference.empty()) reference = X.data;
      EXPECT_EQ(X.data, reference) << solver << " " << threads;
      // One thread converts the frames in order; the first frames, started near
      // the truth, converge to it.
      for (std::size_t f = 0; f < 10; ++f) EXPECT_NEAR(X.data[f + 5 * 700], -10.0, 1e-6) << solver << " " << f;
    }
  }
}

TEST(CameraPoseRefineBatchEntry, PrintsProgressAndStopsOnAnInterrupt) {
  Batch_call call(3);
  call.options({{"progress", call.host.logical(1, 1, {true})}, {"threads", call.host.scalar(2)}});
  call.run();
  ASSERT_TRUE(call.host.errors.empty());
  EXPECT_NE(call.host.printed.find("\rcamera_pose_refine_batch: 3 of 3 frames, "), std::string::npos)
      << call.host.printed;
  EXPECT_EQ(call.host.printed.back(), '\n');

  Batch_call stopped(3);
  stopped.host.interrupt = true;
  const std::vector<Mex_array*> out = stopped.run();
  ASSERT_EQ(stopped.host.errors.size(), 1u);
  EXPECT_NE(stopped.host.errors[0].text.find("Interrupted: 0 of 3 frames had been refined"), std::string::npos);
  EXPECT_EQ(out[0], nullptr);
}

}  // namespace
