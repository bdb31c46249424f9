// Time of trel::refine_pose with a robust loss against the plain least-squares
// refinement on the same data, and the cost of the pose covariance.
//
//   refine/<loss>/N      one refinement, covariance off, N = 10, 100, 1000, 10000
//   covariance/<loss>/N  the same with the covariance on, N = 100
//
// Data: bench/robust_scene.h with 20 % gross outliers (seed 77), loss_scale 2 px.
// Every refinement runs on the same path, the plug-in's framework road
// (refine_pose_by_framework: the kernel's own stop rule cannot be switched off), and the same number of steps:
// max_iters 10, min_x_step 0, min_y_step -1e4, so no stopping rule ends a run
// early (checked before timing: a run that stops early skips its benchmark and
// the program exits with 1).
//
// At the end a table gives per N the median CPU time over the repetitions
// (--benchmark_repetitions) of each loss and its ratio to least squares, then
// the covariance's cost as a fraction of a refinement without it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "bench/robust_scene.h"
#include "camera_pose_refine/framework_refine.h"
#include "trel_opt/robust_loss.h"
#include "trel_pose/pose_refinement.h"

namespace {

constexpr int kIters = 10;
constexpr double kLossScale = 2.0;  // px
constexpr double kOutlierFraction = 0.2;
constexpr unsigned kSeed = 77;
const int kSizes[] = {10, 100, 1000, 10000};
const trel::Loss kLosses[] = {trel::Loss::squared, trel::Loss::huber, trel::Loss::cauchy, trel::Loss::soft_l1,
                               trel::Loss::truncated};

bool g_failed = false;

const trel_bench::Outlier_problem& problem(int n) {
  static std::map<int, trel_bench::Outlier_problem> problems;
  auto it = problems.find(n);
  if (it == problems.end())
    it = problems.emplace(n, trel_bench::make_outlier_problem(kSeed, n, kOutlierFraction)).first;
  return it->second;
}

trel::Pose_refine_options options(trel::Loss loss, bool covariance) {
  trel::Pose_refine_options o;
  o.max_iters = kIters;
  o.min_x_step = 0.0f;
  o.min_y_step = -10000.0f;
  o.loss = loss;
  o.loss_scale = kLossScale;
  o.covariance = covariance;
  return o;
}

void bm_refine(benchmark::State& state, trel::Loss loss, bool covariance) {
  const trel_bench::Outlier_problem& p = problem(static_cast<int>(state.range(0)));
  const trel::Pose_refine_options o = options(loss, covariance);
  const trel::Pose_refine_result check = trel::refine_pose_by_framework(p.K, p.points, p.observations, p.start, o);
  if (check.summary.iterations != kIters) {
    g_failed = true;
    state.SkipWithError(("ran " + std::to_string(check.summary.iterations) + " steps, not 10").c_str());
    return;
  }
  if (covariance && check.summary.covariance.size() != 36) {
    g_failed = true;
    state.SkipWithError("no covariance");
    return;
  }
  for (auto _ : state) {
    trel::Pose_refine_result r = trel::refine_pose_by_framework(p.K, p.points, p.observations, p.start, o);
    benchmark::DoNotOptimize(r.x.data());
  }
  state.counters["N"] = static_cast<double>(state.range(0));
}

// Median CPU time per benchmark (the single run without repetitions). CPU time,
// not wall time: the program is single-threaded, and on a shared machine its
// wall time mostly measures the other processes.
class Table_reporter : public benchmark::ConsoleReporter {
public:
  Table_reporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_ColorTabular : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const std::pair<std::string, std::string> key{run.run_name.function_name, run.run_name.args};
      if (run.run_type == Run::RT_Iteration) {
        if (!medians_.count(key)) single_[key] = run.GetAdjustedCPUTime();
      } else if (run.aggregate_name == "median") {
        medians_[key] = run.GetAdjustedCPUTime();
      }
    }
  }
  double time(const std::string& function, int n) const {
    const std::pair<std::string, std::string> key{function, std::to_string(n)};
    const auto m = medians_.find(key);
    if (m != medians_.end()) return m->second;
    const auto s = single_.find(key);
    return s != single_.end() ? s->second : NAN;
  }

private:
  std::map<std::pair<std::string, std::string>, double> medians_, single_;
};

void print_tables(const Table_reporter& r) {
  std::printf("\nrefine_pose, %d steps, 20 %% outliers, CPU time per call (us); ratio = loss / least squares\n\n",
              kIters);
  std::printf("| N |");
  for (trel::Loss loss : kLosses) std::printf(" %s |", trel::loss_name(loss));
  std::printf(" largest ratio |\n|---|");
  for (std::size_t k = 0; k <= sizeof(kLosses) / sizeof(kLosses[0]); ++k) std::printf("---|");
  std::printf("\n");
  for (int n : kSizes) {
    const double plain = r.time("refine/squared", n);
    double worst = 0.0;
    std::printf("| %d |", n);
    for (trel::Loss loss : kLosses) {
      const double t = r.time(std::string("refine/") + trel::loss_name(loss), n);
      if (loss == trel::Loss::squared)
        std::printf(" %.1f |", t);
      else
        std::printf(" %.1f (%.2fx) |", t, t / plain);
      if (t / plain > worst) worst = t / plain;
    }
    std::printf(" %.2fx |\n", worst);
  }
  std::printf("\nCovariance at N = 100: time with / without - 1\n\n| loss | without (us) | with (us) | cost |\n"
              "|---|---|---|---|\n");
  for (trel::Loss loss : {trel::Loss::squared, trel::Loss::cauchy}) {
    const double off = r.time(std::string("refine/") + trel::loss_name(loss), 100);
    const double on = r.time(std::string("covariance/") + trel::loss_name(loss), 100);
    std::printf("| %s | %.1f | %.1f | %.1f %% |\n", trel::loss_name(loss), off, on, 100.0 * (on / off - 1.0));
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (trel::Loss loss : kLosses)
    for (int n : kSizes)
      benchmark::RegisterBenchmark((std::string("refine/") + trel::loss_name(loss)).c_str(), bm_refine, loss, false)
          ->Arg(n)
          ->Unit(benchmark::kMicrosecond);
  for (trel::Loss loss : {trel::Loss::squared, trel::Loss::cauchy})
    benchmark::RegisterBenchmark((std::string("covariance/") + trel::loss_name(loss)).c_str(), bm_refine, loss, true)
        ->Arg(100)
        ->Unit(benchmark::kMicrosecond);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Table_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  print_tables(reporter);
  return g_failed ? 1 : 0;
}
