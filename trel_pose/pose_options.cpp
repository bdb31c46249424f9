#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "trel_pose/pose_batch.h"
#include "trel_pose/pose_estimation.h"
#include "trel_pose/pose_refinement.h"
#include "trel_tools/exception_l.h"

// Every rule of the pose jobs' options, each written once: the jobs and the
// bindings refuse with these texts.

namespace trel {
namespace {

// The rotation codes of the search vectors (see Pose_refine_options), as the
// plug-in's help lists them.
constexpr int kRotationCodes[] = {0, 1, 2, 3, 10, 11, 12, -1, -2, -3};

bool is_rotation_code(int code) {
  for (int c : kRotationCodes)
    if (c == code) return true;
  return false;
}

bool is_loss(Loss loss) {
  switch (loss) {
    case Loss::squared: case Loss::huber: case Loss::cauchy: case Loss::soft_l1: case Loss::truncated:
      return true;
  }
  return false;
}

// Collects the text of the first broken rule.
class Rules {
public:
  template <class Text>
  Rules& require(bool holds, Text&& text) {
    if (!holds && broken_.empty()) {
      std::ostringstream os;
      text(os);
      broken_ = os.str();
    }
    return *this;
  }
  std::string broken() const { return broken_; }

private:
  std::string broken_;
};

bool finite_at_least(double v, double lowest) { return std::isfinite(v) && v >= lowest; }

// The first weight that is not finite or below 0, or weights.size().
std::size_t first_bad_weight(const std::vector<double>& weights) {
  for (std::size_t k = 0; k < weights.size(); ++k)
    if (!finite_at_least(weights[k], 0.0)) return k;
  return weights.size();
}

}  // namespace

std::string Pose_refine_options::broken_rule() const {
  const std::size_t bad_weight = first_bad_weight(weights);
  Rules rules;
  rules
      .require(is_rotation_code(rotation_code),
               [&](std::ostream& os) {
                 os << "Rotation type must be from: (0=aau, 1=aan, 2=qu, 3=qn,   10=aau-bv, 11=aan-bv, "
                       "12=qu-bv,   -1=qu,aau,aan, -2=aau,qu,aan,  -3=aan,qu,aau), got an invalid value of "
                    << rotation_code;
               })
      .require(max_iters >= 0,
               [&](std::ostream& os) { os << "max_iters should be 0 or more, instead got " << max_iters; })
      .require(!std::isnan(min_x_step), [](std::ostream& os) { os << "min_x_step should be a number, instead got nan"; })
      .require(!std::isnan(min_y_step), [](std::ostream& os) { os << "min_y_step should be a number, instead got nan"; })
      .require(finite_at_least(step_tolerance, 0.0),
               [&](std::ostream& os) {
                 os << "step_tolerance should be a finite number, 0 or more, instead got " << step_tolerance;
               })
      .require(finite_at_least(cost_tolerance, 0.0),
               [&](std::ostream& os) {
                 os << "cost_tolerance should be a finite number, 0 or more, instead got " << cost_tolerance;
               })
      .require(bad_weight == weights.size(),
               [&](std::ostream& os) {
                 os << "weights should hold finite numbers, 0 or more, instead weight " << bad_weight + 1 << " is "
                    << weights[bad_weight];
               })
      .require(is_loss(loss),
               [&](std::ostream& os) {
                 os << "loss should be squared, huber, cauchy, soft_l1 or truncated, instead got the value "
                    << static_cast<int>(loss);
               })
      .require(std::isfinite(loss_scale) && loss_scale > 0.0,
               [&](std::ostream& os) {
                 os << "loss_scale should be a finite positive number, instead got " << loss_scale;
               })
      .require((loss != Loss::cauchy && loss != Loss::soft_l1) || !(loss_scale > 0.0) || loss_scale >= kMinSmoothScale,
               [&](std::ostream& os) {
                 os << "loss_scale " << loss_scale << " is too small for the " << loss_name(loss)
                    << " loss: its weights underflow to 0 for any error; at least " << kMinSmoothScale;
               })
      .require(finite_at_least(sigma, 0.0),
               [&](std::ostream& os) { os << "sigma should be a finite number, 0 or more, instead got " << sigma; });
  return rules.broken();
}

void Pose_refine_options::check() const {
  const std::string broken = broken_rule();
  TREL_CHECK(broken.empty(), broken);
}

std::string Pose_estimate_options::broken_rule() const {
  Rules rules;
  rules
      .require(std::isfinite(threshold) && threshold > 0.0,
               [&](std::ostream& os) { os << "the threshold should be finite and positive, got " << threshold; })
      .require(confidence > 0.0 && confidence < 1.0,
               [&](std::ostream& os) { os << "the confidence should lie in (0, 1), got " << confidence; })
      .require(min_iterations >= 0 && max_iterations >= 1 && min_iterations <= max_iterations,
               [&](std::ostream& os) {
                 os << "the iterations should satisfy 0 <= min_iterations <= max_iterations and max_iterations >= 1, "
                       "got "
                    << min_iterations << " and " << max_iterations;
               })
      .require(is_loss(loss),
               [&](std::ostream& os) {
                 os << "loss should be squared, huber, cauchy, soft_l1 or truncated, instead got the value "
                    << static_cast<int>(loss);
               })
      .require(finite_at_least(loss_scale, 0.0),
               [&](std::ostream& os) {
                 os << "the loss scale should be finite and not negative (0: the threshold), got " << loss_scale;
               })
      .require(refine_iterations >= 1,
               [&](std::ostream& os) { os << "refine_iterations should be at least 1, got " << refine_iterations; });
  return rules.broken();
}

void Pose_estimate_options::check() const {
  const std::string broken = broken_rule();
  TREL_CHECK(broken.empty(), broken);
}

std::string Pose_batch_options::broken_rule() const {
  const std::string refine_broken = refine.broken_rule();
  if (!refine_broken.empty()) return refine_broken;
  Rules rules;
  rules
      .require(threads >= 0 && threads <= kMaxBatchThreads,
               [&](std::ostream& os) {
                 os << "threads should be from 0 (the number of cores) to " << kMaxBatchThreads << ", instead got "
                    << threads;
               })
      .require(finite_at_least(progress_interval, 0.0),
               [&](std::ostream& os) {
                 os << "progress_interval should be a finite number of seconds, 0 or more, instead got "
                    << progress_interval;
               });
  return rules.broken();
}

void Pose_batch_options::check() const {
  const std::string broken = broken_rule();
  TREL_CHECK(broken.empty(), broken);
}

}  // namespace trel
