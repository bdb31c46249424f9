// Fuzz target: the numeric pose jobs. The bytes decode into K, a lens,
// world points, observations, a start, weights and options (every value either
// a plausible one of a seeded scene or an extreme: raw bits, 0, +-1e300,
// 1e-310, NaN, ...) and feed refine_pose, estimate_pose and refine_poses, over
// K and vectors of vectors, over a camera model (0, 4, 5 or 8 coefficients, or
// fisheye) and flat arrays, and with camera-frame bearing vectors. Sizes and
// work stay small (at most 24 points, 15 steps, 64 samples, 3 frames on 1 or 2
// threads) so that one execution costs well under a millisecond.
// exception_l is a documented refusal. A call that returns must keep its
// promises: a finite result and finite errors, a covariance that is empty or
// finite, no inliers for a pose that does not face its points, a failed frame
// that says why, and for estimate_pose every flagged inlier in front of the
// camera within the threshold at the returned pose.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "trel_pose/lens_projector.h"
#include "trel_pose/pose_batch.h"
#include "trel_pose/pose_camera.h"
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

// How the observations are made: pixels of K, pixels of a camera model with a
// lens (the flat-array overloads), or camera-frame bearing vectors.
enum class Variant { pinhole, camera, bearing };

Variant variant_of(uint8_t jobs) {
  static const Variant kVariants[] = {Variant::pinhole, Variant::camera, Variant::bearing, Variant::camera};
  return kVariants[(jobs / 3) % 4];
}

// A scene: a camera at centre c looking along its rotation, n points in front.
struct Scene {
  Variant variant = Variant::pinhole;
  trel::matrix<double> K{3, 3};
  std::vector<double> distortion;  // OpenCV's coefficients of the camera variant
  bool fisheye = false;
  std::vector<std::vector<double>> points;
  std::vector<double> flat_points;  // the same points, row after row
  std::vector<double> pixels;       // u, v per point
  std::vector<double> rays;         // a camera-frame point per point (bearing)
  std::vector<double> rot_vec;
  std::vector<double> centre;

  bool bearing() const { return variant == Variant::bearing; }
  std::size_t rows() const { return bearing() ? 3 : 2; }
  const std::vector<double>& observations() const { return bearing() ? rays : pixels; }
};

// The camera variant's coefficients: none, 4, 5 or 8 radial-tangential ones,
// or 4 fisheye ones, each decoded near a mild lens. Returns that mild lens,
// which makes the plausible pixels.
trel::Lens_distortion<double> decode_lens(Decoder& d, Scene& s) {
  static const double kRadial[8] = {-0.12, 0.03, 1e-3, -5e-4, -0.004, 0.01, -0.002, 5e-4};
  static const double kFisheye[4] = {0.05, -0.01, 0.002, -5e-4};
  static const std::size_t kCounts[] = {0, 4, 5, 8, 4};
  const unsigned kind = d.byte() % 5;
  s.fisheye = kind == 4;
  const double* mild = s.fisheye ? kFisheye : kRadial;
  const std::vector<double> exact(mild, mild + kCounts[kind]);
  for (double c : exact) s.distortion.push_back(d.value(c));
  return trel::make_lens_distortion(exact, s.fisheye);
}

void decode_observation(Decoder& d, Scene& s, const trel::Lens_distortion<double>& lens, const double cam[3]) {
  if (s.bearing()) {
    for (unsigned k = 0; k < 3; ++k) s.rays.push_back(d.value(cam[k]));
    return;
  }
  if (lens.model == trel::Lens_model::none) {
    s.pixels.push_back(d.value(800.0 * cam[0] / cam[2] + 320.0));
    s.pixels.push_back(d.value(800.0 * cam[1] / cam[2] + 240.0));
    return;
  }
  double xd = 0.0, yd = 0.0;
  trel::distort(lens, cam[0] / cam[2], cam[1] / cam[2], xd, yd);
  s.pixels.push_back(d.value(800.0 * xd + 320.0));
  s.pixels.push_back(d.value(800.0 * yd + 240.0));
}

Scene decode_scene(Decoder& d, std::size_t n, Variant variant) {
  Scene s;
  s.variant = variant;
  const double f = d.value(s.bearing() ? 1.0 : 800.0);
  s.K[0][0] = f;
  s.K[1][1] = d.value(f);
  s.K[0][2] = d.value(s.bearing() ? 0.0 : 320.0);
  s.K[1][2] = d.value(s.bearing() ? 0.0 : 240.0);
  s.K[2][2] = d.value(1.0);
  const trel::Lens_distortion<double> lens =
      variant == Variant::camera ? decode_lens(d, s) : trel::make_lens_distortion({}, false);
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
    s.flat_points.insert(s.flat_points.end(), X.begin(), X.end());
    decode_observation(d, s, lens, cam);
  }
  return s;
}

// The start of a rotation code near the scene's pose, each value decoded.
std::vector<double> decode_start(Decoder& d, const Scene& s, int rotation_code) {
  std::vector<double> start;
  const std::vector<double> rv = {s.rot_vec[0] + 0.05, s.rot_vec[1], s.rot_vec[2]};
  switch (rotation_code) {
    case 2: case 3: case 12: case -1: start = trel::rot_mat_to_quaternion(trel::rot_vec_rad_to_rot_mat(rv)); break;
    case 1: case 11: case -3: start = trel::rot_vec_to_ang_axis(rv); break;
    default: start = rv;
  }
  for (double& v : start) v = d.value(v);
  for (double c : s.centre) start.push_back(d.value(c + 0.1));
  return start;
}

void fuzz_refine(Decoder& d, const Scene& s, const trel::Camera_model* camera) {
  trel::Pose_refine_options o;
  static const int kCodes[] = {0, 1, 2, 3, -1, -2, -3};
  static const int kBearingCodes[] = {10, 11, 12};
  const uint8_t code = d.byte();
  o.rotation_code = s.bearing() ? kBearingCodes[code % 3] : kCodes[code % 7];
  o.max_iters = d.byte() % 16;
  o.loss = static_cast<trel::Loss>(d.byte() % 5);
  o.loss_scale = d.value(s.bearing() ? 0.05 : 2.0);
  o.sigma = d.byte() < 200 ? 0.0 : d.value(1.0);
  const std::size_t reps = o.rotation_code < 0 ? 3 : 1;  // the hybrid codes repeat the pixels 3 times
  if (d.byte() >= 128) o.weights.assign(s.points.size() * s.rows() * reps, 0.0);
  for (double& w : o.weights) w = d.value(1.0);
  const std::vector<double> start = decode_start(d, s, o.rotation_code);
  o.covariance = d.byte() % 4 == 0;
  try {
    const trel::Pose_refine_result r =
        camera ? trel::refine_pose(*camera, trel::Points_view(s.flat_points), s.observations(), start, o)
               : trel::refine_pose(s.K, s.points, s.observations(), start, o);
    if (!finite(r.x)) finding("refine_pose: a non-finite result");
    check_summary(r.summary, "refine_pose");
  } catch (const trel::exception_l&) {
  }
}

// Point i where the estimated pose sees it (pixels, or x/z, y/z for bearing
// vectors); false when it lies at or behind the camera. error: a bound on the
// rounding of `out`, which the coordinates' size over the depth amplifies.
// Near the largest double, X and the centre are first scaled by a power of two
// (exactly) so that X - centre does not overflow.
bool seen_at(const Scene& s, const trel::Camera_model* camera, const trel::Pose_estimate_result& r, std::size_t i,
             double out[2], double& error) {
  double X[3], c[3];
  double size = 0.0;
  for (unsigned k = 0; k < 3; ++k) size = std::max({size, std::fabs(s.flat_points[3 * i + k]), std::fabs(r.centre[k])});
  const int shift = size > 1e300 ? -8 : 0;
  for (unsigned k = 0; k < 3; ++k) {
    X[k] = std::ldexp(s.flat_points[3 * i + k], shift);
    c[k] = std::ldexp(r.centre[k], shift);
  }
  size = std::ldexp(size, shift);
  double depth = 0.0;
  if (camera) {
    double R_cam_to_world[9];
    for (unsigned k = 0; k < 9; ++k) R_cam_to_world[k] = r.R[k / 3][k % 3];
    const trel::Lens_camera_at_pose<double> at(*camera, R_cam_to_world);
    depth = at.depth(X, c);
    if (!(depth > 0.0)) return false;
    at.pixel(X, c, out);
  } else {
    double cam[3];
    for (unsigned k = 0; k < 3; ++k)
      cam[k] = r.R[0][k] * (X[0] - c[0]) + r.R[1][k] * (X[1] - c[1]) + r.R[2][k] * (X[2] - c[2]);
    double h[3];
    for (unsigned k = 0; k < 3; ++k)
      h[k] = s.bearing() ? cam[k] : s.K[k][0] * cam[0] + s.K[k][1] * cam[1] + s.K[k][2] * cam[2];
    depth = cam[2];
    if (!(depth > 0.0) || h[2] == 0.0) return false;
    out[0] = h[0] / h[2];
    out[1] = h[1] / h[2];
  }
  error = 1e-12 * size / depth * std::max(std::fabs(out[0]), std::fabs(out[1]));
  return true;
}

void check_estimate(const Scene& s, const trel::Camera_model* camera, const trel::Pose_estimate_options& o,
                    const trel::Pose_estimate_result& r) {
  if (!finite(r.x) || !finite(r.centre)) finding("estimate_pose: a non-finite result");
  check_summary(r.summary, "estimate_pose");
  for (std::size_t i = 0; i < r.inliers.size() && i < s.points.size(); ++i) {
    if (!r.inliers[i]) continue;
    double seen[2], error = 0.0;
    if (!seen_at(s, camera, r, i, seen, error)) finding("estimate_pose: an inlier behind the camera");
    const double* obs = &s.observations()[s.rows() * i];
    const double u = s.bearing() ? obs[0] / obs[2] : obs[0], v = s.bearing() ? obs[1] / obs[2] : obs[1];
    const double du = seen[0] - u, dv = seen[1] - v;
    if (!(std::sqrt(du * du + dv * dv) <= o.threshold * (1.0 + 1e-6) + 1e-9 * std::fabs(u) + error))
      finding("estimate_pose: an inlier beyond the threshold at the returned pose");
  }
}

void fuzz_estimate(Decoder& d, const Scene& s, const trel::Camera_model* camera) {
  trel::Pose_estimate_options o;
  o.bearing = s.bearing();
  o.threshold = d.value(s.bearing() ? 0.01 : 4.0);
  o.loss = static_cast<trel::Loss>(d.byte() % 5);
  o.loss_scale = d.byte() < 128 ? 0.0 : d.value(s.bearing() ? 0.01 : 4.0);
  o.max_iterations = 1 + d.byte() % 64;
  o.min_iterations = d.byte() % 8;
  o.refine_iterations = 1 + d.byte() % 8;
  o.seed = d.byte();
  std::vector<std::vector<double>> observations;
  const std::vector<double>& flat = s.observations();
  for (std::size_t i = 0; i < s.points.size(); ++i)
    observations.emplace_back(flat.begin() + s.rows() * i, flat.begin() + s.rows() * (i + 1));
  try {
    const trel::Pose_estimate_result r =
        camera ? trel::estimate_pose(*camera, trel::Points_view(s.flat_points), flat, o)
               : trel::estimate_pose(s.K, s.points, observations, o);
    check_estimate(s, camera, o, r);
  } catch (const trel::exception_l&) {
  }
}

void check_batch(const std::vector<trel::Pose_frame_result>& results, std::size_t frames) {
  if (results.size() != frames) finding("refine_poses: not one result per frame");
  for (const trel::Pose_frame_result& r : results) {
    if (!r.ok) {
      if (r.error.empty() || !r.result.x.empty()) finding("refine_poses: a failed frame without its error");
      continue;
    }
    if (!finite(r.result.x)) finding("refine_poses: an ok frame with a non-finite result");
    check_summary(r.result.summary, "refine_poses");
  }
}

// Frames of the scene's points and observations, each with its own start;
// over the camera model, a frame may bring the camera's pinhole as its own.
void fuzz_batch(Decoder& d, const Scene& s, const trel::Camera_model* camera) {
  std::vector<trel::Pose_frame> frames(1 + d.byte() % 3);
  for (trel::Pose_frame& f : frames) {
    f.points = s.points;
    f.observations = s.observations();
    f.start = {s.rot_vec[0], s.rot_vec[1], s.rot_vec[2], s.centre[0], s.centre[1], s.centre[2]};
    for (double& v : f.start) v = d.value(v);
  }
  trel::Pose_batch_options o;
  o.refine.rotation_code = s.bearing() ? 10 : 0;
  o.refine.max_iters = d.byte() % 12;
  o.refine.loss = static_cast<trel::Loss>(d.byte() % 5);
  o.refine.loss_scale = d.value(s.bearing() ? 0.05 : 2.0);
  o.threads = d.byte() % 4 == 3 ? 2 : 1;
  o.refine.covariance = d.byte() % 4 == 0;
  std::unique_ptr<trel::Camera_model> pinhole;
  std::vector<trel::Pose_frame_view> views;
  if (camera) {
    pinhole = std::make_unique<trel::Camera_model>(trel::make_camera_model(s.K));
    for (const trel::Pose_frame& f : frames)
      views.push_back({trel::Points_view(s.flat_points), f.observations, f.start, {},
                       d.byte() % 2 ? pinhole.get() : nullptr});
  }
  try {
    check_batch(camera ? trel::refine_poses(*camera, views, o) : trel::refine_poses(s.K, frames, o), frames.size());
  } catch (const trel::exception_l&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Decoder d(data, size);
  const uint8_t jobs = d.byte();
  const uint8_t count = d.byte();
  // Up to 12 points, 13 to 24 for the top quarter of the count byte.
  const std::size_t n = 1 + count % 12 + (count >= 192 ? 12 : 0);
  const Scene s = decode_scene(d, n, variant_of(jobs));
  std::unique_ptr<trel::Camera_model> camera;
  if (s.variant == Variant::camera) {
    try {
      camera = std::make_unique<trel::Camera_model>(trel::make_camera_model(s.K, s.distortion, s.fisheye));
    } catch (const trel::exception_l&) {
      return 0;  // a K or coefficients the model refuses
    }
  }
  if (jobs % 3 == 0) fuzz_refine(d, s, camera.get());
  else if (jobs % 3 == 1) fuzz_estimate(d, s, camera.get());
  else fuzz_batch(d, s, camera.get());
  return 0;
}
