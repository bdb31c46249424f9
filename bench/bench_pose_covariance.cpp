// The pose covariance's cost: trel::refine_pose on the default (kernel) path
// with the covariance on against the same call with it off, same data, same
// workspace, in the same run.
//
//   refine/<loss>/N       covariance off
//   covariance/<loss>/N   covariance on (the squared loss: s^2 N^-1; a robust
//                         loss: the sandwich of trel_pose/pose_refinement.h)
//
// Data: bench/robust_scene.h, seed 77, loss_scale 2 px; the squared loss on the
// scene without outliers, the robust losses with 20 % gross outliers. N = 100
// and 1000. At the end a table gives per loss and N the median CPU times over
// the repetitions and the covariance's cost as a fraction of the call without it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bench/robust_scene.h"
#include "trel_opt/robust_loss.h"
#include "trel_pose/pose_kernel.h"
#include "trel_pose/pose_refinement.h"

namespace {

constexpr double kLossScale = 2.0;
constexpr unsigned kSeed = 77;
const int kSizes[] = {100, 1000};
const trel::Loss kLosses[] = {trel::Loss::squared, trel::Loss::huber, trel::Loss::cauchy, trel::Loss::soft_l1};

const trel_bench::Outlier_problem& problem(trel::Loss loss, int n) {
  static std::map<std::pair<int, int>, trel_bench::Outlier_problem> problems;
  const double fraction = loss == trel::Loss::squared ? 0.0 : 0.2;
  const std::pair<int, int> key(static_cast<int>(loss), n);
  auto it = problems.find(key);
  if (it == problems.end()) it = problems.emplace(key, trel_bench::make_outlier_problem(kSeed, n, fraction)).first;
  return it->second;
}

void bm_refine(benchmark::State& state, trel::Loss loss, bool covariance) {
  const trel_bench::Outlier_problem& p = problem(loss, static_cast<int>(state.range(0)));
  trel::Pose_refine_options o;
  o.loss = loss;
  o.loss_scale = kLossScale;
  o.covariance = covariance;
  trel::Pose_kernel<double> workspace;
  const trel::Pose_refine_result check = trel::refine_pose(p.K, p.points, p.observations, p.start, o, workspace);
  if (covariance && check.summary.covariance.size() != 36) {
    state.SkipWithError(("no covariance: " + check.summary.covariance_reason).c_str());
    return;
  }
  for (auto _ : state) {
    trel::Pose_refine_result r = trel::refine_pose(p.K, p.points, p.observations, p.start, o, workspace);
    benchmark::DoNotOptimize(r.x.data());
  }
  state.counters["steps"] = check.summary.iterations;
}

// Median CPU time per benchmark name over the repetitions.
class Median_reporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        medians_[run.run_name.function_name + "/" + run.run_name.args] = run.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  double time(const std::string& name) const {
    const auto it = medians_.find(name);
    return it == medians_.end() ? 0.0 : it->second;
  }

private:
  std::map<std::string, double> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  for (trel::Loss loss : kLosses)
    for (bool covariance : {false, true}) {
      const std::string name = std::string(covariance ? "covariance/" : "refine/") + trel::loss_name(loss);
      auto* b = benchmark::RegisterBenchmark(name.c_str(), bm_refine, loss, covariance);
      for (int n : kSizes) b->Arg(n);
      b->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(false);
    }
  benchmark::Initialize(&argc, argv);
  Median_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n| loss | N | off (us) | on (us) | covariance's cost |\n|---|---|---|---|---|\n");
  for (trel::Loss loss : kLosses)
    for (int n : kSizes) {
      const std::string suffix = std::string(trel::loss_name(loss)) + "/" + std::to_string(n);
      const double off = reporter.time("refine/" + suffix), on = reporter.time("covariance/" + suffix);
      if (off > 0.0)
        std::printf("| %s | %d | %.1f | %.1f | %+.1f %% |\n", trel::loss_name(loss), n, off, on,
                    100.0 * (on / off - 1.0));
    }
  return 0;
}
