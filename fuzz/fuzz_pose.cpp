// Fuzz target: the numeric pose jobs. The bytes decode into K, world points,
// observations, a start, weights and options (every value either a plausible
// one of a seeded scene or an extreme: raw bits, 0, +-1e300, 1e-310, NaN, ...)
// and feed refine_pose, estimate_pose and refine_poses with small sizes and
// bounded iterations. exception_l is a documented refusal. A call that
// returns must keep its promises: a finite result and finite errors, a
// covariance that is empty or finite, no inliers for a pose that does not face
// its points, and for estimate_pose every flagged inlier in front of the
// camera within the threshold at the returned pose.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "trel_pose/pose_batch.h"
#include "trel_pose/pose_estimation.h"
#include "trel_pose/pose_refinement.h"
#include "trel_tools/exception_l.h"
#include "trel_tools/rotation.h"

namespace {

using trel_fuzz::finding;

class Decoder {
public:
  Decoder(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  // A value near `plausible`, or an extreme when the tag byte says so.
  double value(double plausible) {
    const uint8_t tag = byte();
    if (tag < 200) return plausible;
    if (tag < 215) return plausible * (1.0 + (static_cast<double>(byte()) - 128.0) / 64.0);
    if (tag < 235) {
      static const double kExtremes[] = {0.0, 1e300, -1e300, 1e-310, 1e154, 1e-162, 1e155, -1e-155,
                                         1e9, 1e-9, NAN, INFINITY, -INFINITY, 3.0, -1.0, 1e200};
      return kExtremes[byte() % 16];
    }
    if (tag < 245) return plausible * std::pow(10.0, static_cast<double>(static_cast<int>(byte() % 41) - 20) * 8.0);
    uint64_t bits = 0;
    for (int k = 0; k < 8; ++k) bits = bits << 8 | byte();
    double raw = 0.0;
    std::memcpy(&raw, &bits, sizeof raw);
    return raw;
  }

private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

bool finite(const std::vector<double>& v) {
  return std::all_of(v.begin(), v.end(), [](double d) { return std::isfinite(d); });
}

void check_summary(const trel::Pose_summary& s, const char* job) {
  const std::string j = job;
  if (!std::isfinite(s.final_error) || !std::isfinite(s.initial_error)) finding(j + ": returned non-finite errors");
  if (!s.covariance.empty() && (s.covariance.size() != 36 || !finite(s.covariance)))
    finding(j + ": a covariance that is not 36 finite values");
  if (!s.faces_points && std::count(s.inliers.begin(), s.inliers.end(), 1) > 0)
    finding(j + ": inliers on a pose that does not face its points");
}

// A scene: a camera at centre c looking along its rotation, n points in front.
struct Scene {
  trel::matrix<double> K{3, 3};
  std::vector<std::vector<double>> points;
  std::vector<double> pixels;
  std::vector<double> rot_vec;
  std::vector<double> centre;
};

Scene decode_scene(Decoder& d, std::size_t n) {
  Scene s;
  const double f = d.value(800.0);
  s.K[0][0] = f;
  s.K[1][1] = d.value(f);
  s.K[0][2] = d.value(320.0);
  s.K[1][2] = d.value(240.0);
  s.K[2][2] = d.value(1.0);
  s.rot_vec = {d.value(0.3), d.value(-0.2), d.value(0.1)};
  s.centre = {d.value(1.0), d.value(-2.0), d.value(0.5)};
  const trel::matrix<double> R = trel::rot_vec_rad_to_rot_mat(std::vector<double>{0.3, -0.2, 0.1});
  for (std::size_t i = 0; i < n; ++i) {
    const double cam[3] = {static_cast<double>(static_cast<int>(i % 5)) - 2.0,
                           static_cast<double>(static_cast<int>(i % 3)) - 1.0, 6.0 + static_cast<double>(i % 4)};
    std::vector<double> X(3);
    for (unsigned r = 0; r < 3; ++r)
      X[r] = d.value(R[r][0] * cam[0] + R[r][1] * cam[1] + R[r][2] * cam[2] + (r == 0 ? 1.0 : r == 1 ? -2.0 : 0.5));
    s.points.push_back(X);
    s.pixels.push_back(d.value(800.0 * cam[0] / cam[2] + 320.0));
    s.pixels.push_back(d.value(800.0 * cam[1] / cam[2] + 240.0));
  }
  return s;
}

void fuzz_refine(Decoder& d, const Scene& s) {
  trel::Pose_refine_options o;
  static const int kCodes[] = {0, 1, 2, 3, -1, -2, -3};
  o.rotation_code = kCodes[d.byte() % 7];
  o.max_iters = d.byte() % 16;
  o.loss = static_cast<trel::Loss>(d.byte() % 5);
  o.loss_scale = d.value(2.0);
  o.sigma = d.byte() < 200 ? 0.0 : d.value(1.0);
  const std::size_t reps = o.rotation_code < 0 ? 3 : 1;  // the hybrid codes repeat the pixels 3 times
  if (d.byte() >= 128) o.weights.assign(s.pixels.size() * reps, 0.0);
  for (double& w : o.weights) w = d.value(1.0);
  std::vector<double> start;
  const std::vector<double> rv = {s.rot_vec[0] + 0.05, s.rot_vec[1], s.rot_vec[2]};
  switch (o.rotation_code) {
    case 2: case 3: case -1: {
      std::vector<double> q = trel::rot_mat_to_quaternion(trel::rot_vec_rad_to_rot_mat(rv));
      for (double& v : q) v = d.value(v);
      start = q;
      break;
    }
    case 1: case -3: {
      std::vector<double> aa = trel::rot_vec_to_ang_axis(rv);
      for (double& v : aa) v = d.value(v);
      start = aa;
      break;
    }
    default:
      start = rv;
      for (double& v : start) v = d.value(v);
  }
  for (double c : s.centre) start.push_back(d.value(c + 0.1));
  try {
    const trel::Pose_refine_result r = trel::refine_pose(s.K, s.points, s.pixels, start, o);
    if (!finite(r.x)) finding("refine_pose: a non-finite result");
    check_summary(r.summary, "refine_pose");
  } catch (const trel::exception_l&) {
  }
}

void fuzz_estimate(Decoder& d, const Scene& s) {
  trel::Pose_estimate_options o;
  o.threshold = d.value(4.0);
  o.loss = static_cast<trel::Loss>(d.byte() % 5);
  o.loss_scale = d.byte() < 128 ? 0.0 : d.value(4.0);
  o.max_iterations = 1 + d.byte() % 64;
  o.min_iterations = d.byte() % 8;
  o.refine_iterations = 1 + d.byte() % 8;
  o.seed = d.byte();
  std::vector<std::vector<double>> observations;
  for (std::size_t i = 0; i < s.points.size(); ++i) observations.push_back({s.pixels[2 * i], s.pixels[2 * i + 1]});
  try {
    const trel::Pose_estimate_result r = trel::estimate_pose(s.K, s.points, observations, o);
    if (!finite(r.x) || !finite(r.centre)) finding("estimate_pose: a non-finite result");
    check_summary(r.summary, "estimate_pose");
    for (std::size_t i = 0; i < r.inliers.size(); ++i) {
      if (!r.inliers[i]) continue;
      double cam[3];
      for (unsigned k = 0; k < 3; ++k)
        cam[k] = r.R[0][k] * (s.points[i][0] - r.centre[0]) + r.R[1][k] * (s.points[i][1] - r.centre[1]) +
                 r.R[2][k] * (s.points[i][2] - r.centre[2]);
      double h[3];
      for (unsigned k = 0; k < 3; ++k) h[k] = s.K[k][0] * cam[0] + s.K[k][1] * cam[1] + s.K[k][2] * cam[2];
      if (!(h[2] > 0.0)) finding("estimate_pose: an inlier behind the camera");
      const double du = h[0] / h[2] - observations[i][0], dv = h[1] / h[2] - observations[i][1];
      if (!(std::sqrt(du * du + dv * dv) <= o.threshold * (1.0 + 1e-6) + 1e-9 * std::fabs(observations[i][0])))
        finding("estimate_pose: an inlier beyond the threshold at the returned pose");
    }
  } catch (const trel::exception_l&) {
  }
}

void fuzz_batch(Decoder& d, const Scene& s) {
  std::vector<trel::Pose_frame> frames(1 + d.byte() % 3);
  for (trel::Pose_frame& f : frames) {
    f.points = s.points;
    f.observations = s.pixels;
    f.start = {s.rot_vec[0], s.rot_vec[1], s.rot_vec[2], s.centre[0], s.centre[1], s.centre[2]};
    for (double& v : f.start) v = d.value(v);
  }
  trel::Pose_batch_options o;
  o.threads = 1;
  o.refine.max_iters = d.byte() % 12;
  o.refine.loss = static_cast<trel::Loss>(d.byte() % 5);
  o.refine.loss_scale = d.value(2.0);
  try {
    for (const trel::Pose_frame_result& r : trel::refine_poses(s.K, frames, o)) {
      if (!r.ok) continue;
      if (!finite(r.result.x)) finding("refine_poses: an ok frame with a non-finite result");
      check_summary(r.result.summary, "refine_poses");
    }
  } catch (const trel::exception_l&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Decoder d(data, size);
  const uint8_t jobs = d.byte();
  const std::size_t n = 1 + d.byte() % 12;
  const Scene s = decode_scene(d, n);
  if (jobs % 3 == 0) fuzz_refine(d, s);
  else if (jobs % 3 == 1) fuzz_estimate(d, s);
  else fuzz_batch(d, s);
  return 0;
}
