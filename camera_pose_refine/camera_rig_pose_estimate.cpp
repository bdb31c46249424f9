#include "camera_pose_refine/camera_rig_pose_estimate.h"

#include <cmath>
#include <cstdint>
#include <iomanip>
#include <string>
#include <vector>

#include "camera_pose_refine/camera_pose_refine.h"
#include "camera_pose_refine/plugin_options.h"
#include "trel_pose/rig_pose.h"
#include "trel_tools/exception_l.h"
#include "trel_tools/matrix.h"

namespace trel {
namespace {

// Every frame of the entry carries the host entry point's signature.
const char* const kEntrySignature = "void mexFunction(int, mxArray**, int, const mxArray**)";

const char* const kUsage =
    "[x, inliers, info] = camera_rig_pose_estimate(cameras, points, pixels, camera_indices, options): "
    "cameras a cell array of structs (K, R, t, distortion, fisheye), points 3 by N world points, pixels 2 by N "
    "pixels, camera_indices 1 by N camera numbers from 1, options a struct (threshold, confidence, "
    "min_iterations, max_iterations, seed, loss, loss_scale, refine_iterations) optional";

void check_finite(const Mex_host& host, const Mex_array* a, const std::string& what) {
  const double* v = host.get_pr(a);
  for (std::size_t k = 0; k < host.get_number_of_elements(a); ++k)
    TREL_CHECK_AS(kEntrySignature, std::isfinite(v[k]),
                  what << " should hold finite numbers only, instead element " << k + 1 << " is " << v[k]);
}

// A real double array of `rows` by `cols` (cols 0: any).
void check_double_matrix(const Mex_host& host, const Mex_array* a, const std::string& what, std::size_t rows,
                         std::size_t cols) {
  TREL_CHECK_AS(kEntrySignature, a != nullptr, what << " is missing");
  const bool fits = host.is_double(a) && host.get_m(a) == rows && (cols == 0 || host.get_n(a) == cols);
  TREL_CHECK_AS(kEntrySignature, fits, what << " should be a " << rows << " by " << (cols == 0 ? "N" : "")
                                            << (cols == 0 ? std::string() : std::to_string(cols))
                                            << " real double matrix, instead got " << host.get_m(a) << " by "
                                            << host.get_n(a) << " of " << host.get_class_name(a));
  check_finite(host, a, what);
}

matrix<double> matrix_of(const Mex_host& host, const Mex_array* a) {
  matrix<double> m(3, 3);
  for (std::size_t r = 0; r < 3; ++r)
    for (std::size_t c = 0; c < 3; ++c) m.set(r, c, mex_matrix_access(host, a, r, c));
  return m;
}

// One camera struct: K, R, t, and optionally distortion and fisheye.
Rig_camera rig_camera_of(const Mex_host& host, const Mex_array* s, std::size_t index) {
  const std::string name = "Input 1 camera " + std::to_string(index + 1);
  TREL_CHECK_AS(kEntrySignature, s != nullptr && host.is_struct(s) && host.get_number_of_elements(s) == 1,
                name << " should be a 1 by 1 struct with the fields K, R, t (distortion, fisheye optional)");
  for (int k = 0; k < host.get_number_of_fields(s); ++k) {
    const std::string field = host.get_field_name_by_number(s, k);
    TREL_CHECK_AS(kEntrySignature,
                  field == "K" || field == "R" || field == "t" || field == "distortion" || field == "fisheye",
                  name << " has the unknown field '" << field << "'");
  }
  const Mex_array* K = host.get_field(s, "K");
  const Mex_array* R = host.get_field(s, "R");
  const Mex_array* t = host.get_field(s, "t");
  const Mex_array* d = host.get_field(s, "distortion");
  const Mex_array* f = host.get_field(s, "fisheye");
  check_double_matrix(host, K, name + " field 'K'", 3, 3);
  check_double_matrix(host, R, name + " field 'R'", 3, 3);
  TREL_CHECK_AS(kEntrySignature, t != nullptr && host.is_double(t) && host.get_number_of_elements(t) == 3,
                name << " field 't' should hold the 3 values of the camera centre in the rig");
  check_finite(host, t, name + " field 't'");
  std::vector<double> distortion;
  if (d != nullptr && host.get_number_of_elements(d) > 0) {
    TREL_CHECK_AS(kEntrySignature, host.is_double(d), name << " field 'distortion' should be real doubles");
    distortion.assign(host.get_pr(d), host.get_pr(d) + host.get_number_of_elements(d));
  }
  bool fisheye = false;
  if (f != nullptr) {
    TREL_CHECK_AS(kEntrySignature, host.get_number_of_elements(f) == 1 && (host.is_logical(f) || host.is_double(f)),
                  name << " field 'fisheye' should be true or false");
    fisheye = host.is_logical(f) ? host.get_logicals(f)[0] : host.get_scalar(f) != 0.0;
  }
  const double* centre = host.get_pr(t);
  return guarded(
      TREL_FRAME,
      [&] {
        return make_rig_camera(matrix_of(host, K), distortion, fisheye, matrix_of(host, R),
                               std::vector<double>(centre, centre + 3));
      },
      [&](std::ostream& os) { os << name; });
}

Rig rig_of_input(const Mex_host& host, const Mex_array* a) {
  std::vector<Rig_camera> cameras;
  if (host.is_cell(a)) {
    for (std::size_t k = 0; k < host.get_number_of_elements(a); ++k)
      cameras.push_back(rig_camera_of(host, host.get_cell(a, k), k));
  } else {
    TREL_CHECK_AS(kEntrySignature, host.is_struct(a) && host.get_number_of_elements(a) == 1,
                  "Input 1 should be a cell array of camera structs {camera1, camera2, ...} (or one camera "
                  "struct), instead got " << host.get_m(a) << " by " << host.get_n(a) << " of "
                                          << host.get_class_name(a));
    cameras.push_back(rig_camera_of(host, a, 0));
  }
  return make_rig(cameras);
}

// The 1-based camera numbers as 0-based indices.
std::vector<int> camera_indices(const Mex_host& host, const Mex_array* a, std::size_t n, std::size_t count) {
  TREL_CHECK_AS(kEntrySignature, host.is_double(a) && host.get_number_of_elements(a) == n &&
                                     (host.get_m(a) == 1 || host.get_n(a) == 1 || n == 0),
                "Input 4 should be a 1 by " << n << " real double row of camera numbers, instead got "
                                            << host.get_m(a) << " by " << host.get_n(a) << " of "
                                            << host.get_class_name(a));
  std::vector<int> indices(n);
  const double* v = host.get_pr(a);
  for (std::size_t i = 0; i < n; ++i) {
    TREL_CHECK_AS(kEntrySignature, v[i] == std::floor(v[i]) && v[i] >= 1 && v[i] <= static_cast<double>(count),
                  "Input 4 element " << i + 1 << " should be a camera number from 1 to " << count << ", instead got "
                                     << std::setprecision(17) << v[i]);
    indices[i] = static_cast<int>(v[i]) - 1;
  }
  return indices;
}

double whole_number(const Mex_options& read, const char* name, double otherwise, double lowest, double highest) {
  const double v = read.number(name, otherwise);
  TREL_CHECK_AS(kEntrySignature, v == std::floor(v) && v >= lowest && v <= highest,
                "Input 5 field '" << name << "' should be a whole number from " << static_cast<long long>(lowest)
                                  << " to " << static_cast<long long>(highest) << ", instead got "
                                  << std::setprecision(17) << v);
  return v;
}

Pose_estimate_options options_of(const Mex_host& host, const Mex_array* a) {
  const std::vector<Mex_option_field> fields = {
      {"threshold", Mex_option_kind::scalar, {}},
      {"confidence", Mex_option_kind::scalar, {}},
      {"min_iterations", Mex_option_kind::scalar, {}},
      {"max_iterations", Mex_option_kind::scalar, {}},
      {"seed", Mex_option_kind::scalar, {}},
      {"loss", Mex_option_kind::text, {"squared", "huber", "cauchy", "soft_l1", "truncated"}},
      {"loss_scale", Mex_option_kind::scalar, {}},
      {"refine_iterations", Mex_option_kind::scalar, {}},
  };
  const Mex_options read = read_mex_options(host, a, 5, fields);
  TREL_CHECK_AS(kEntrySignature, read.refusal.empty(), read.refusal);
  Pose_estimate_options o;
  o.threshold = read.number("threshold", o.threshold);
  o.confidence = read.number("confidence", o.confidence);
  const double low = -2147483648.0, high = 2147483647.0;
  o.max_iterations = static_cast<int>(whole_number(read, "max_iterations", o.max_iterations, low, high));
  o.min_iterations = static_cast<int>(whole_number(read, "min_iterations", o.min_iterations, low, high));
  o.refine_iterations = static_cast<int>(whole_number(read, "refine_iterations", o.refine_iterations, low, high));
  o.seed = static_cast<std::uint32_t>(whole_number(read, "seed", o.seed, 0, 4294967295.0));
  loss_from_name(read.text("loss", loss_name(o.loss)), o.loss);  // the choices are exactly the names
  o.loss_scale = read.number("loss_scale", o.loss_scale);
  const std::string broken = o.broken_rule();
  TREL_CHECK_AS(kEntrySignature, broken.empty(), broken);
  return o;
}

Mex_array* info_struct(Mex_host& host, const Rig_estimate_result& result) {
  const Pose_summary& summary = result.summary;
  const char* const* f = rig_pose_estimate_info_fields;
  Mex_array* s = host.create_struct(f, 14);
  host.set_field(s, f[0], mex_scalar(host, result.iterations));
  host.set_field(s, f[1], mex_scalar(host, result.num_inliers));
  host.set_field(s, f[2], mex_scalar(host, summary.iterations));
  host.set_field(s, f[3], host.create_string(stop_reason_name(summary.stop_reason)));
  host.set_field(s, f[4], mex_scalar(host, summary.initial_rms));
  host.set_field(s, f[5], mex_scalar(host, summary.final_rms));
  host.set_field(s, f[6], host.create_string(summary.loss.c_str()));
  host.set_field(s, f[7], mex_scalar(host, summary.loss_scale));
  host.set_field(s, f[8], mex_square_matrix(host, summary.covariance, 6));
  host.set_field(s, f[9], mex_scalar(host, summary.covariance_rank));
  host.set_field(s, f[10], mex_scalar(host, summary.condition_number));
  Mex_array* rows[3];
  for (int k = 0; k < 3; ++k) rows[k] = host.create_double_matrix(1, result.cameras.size());
  for (std::size_t c = 0; c < result.cameras.size(); ++c) {
    mex_matrix_access(host, rows[0], 0, c) = result.cameras[c].points;
    mex_matrix_access(host, rows[1], 0, c) = result.cameras[c].inliers;
    mex_matrix_access(host, rows[2], 0, c) = result.cameras[c].rms;
  }
  for (int k = 0; k < 3; ++k) host.set_field(s, f[11 + k], rows[k]);
  return s;
}

}  // namespace

const char* const rig_pose_estimate_info_fields[14] = {
    "iterations", "num_inliers",      "refine_iterations", "stop_reason",   "initial_rms",
    "final_rms",  "loss",             "loss_scale",        "covariance",    "covariance_rank",
    "condition_number", "camera_points", "camera_inliers", "camera_rms"};

void camera_rig_pose_estimate_entry(Mex_host& host, int nlhs, Mex_array* plhs[], int nrhs,
                                    const Mex_array* const prhs[]) {
  std::string error_text;  // the host's error call is made after the handler has finished
  try {
    TREL_CHECK_AS(kEntrySignature, nrhs >= 4 && nrhs <= 5, "4 or 5 inputs required, got " << nrhs
                                                                                         << ". Usage: " << kUsage);
    TREL_CHECK_AS(kEntrySignature, nlhs >= 0 && nlhs <= 3, "At most 3 outputs (x, inliers, info), got " << nlhs);
    const Rig rig = rig_of_input(host, prhs[0]);
    check_double_matrix(host, prhs[1], "Input 2, the world points,", 3, 0);
    const std::size_t n = host.get_n(prhs[1]);
    check_double_matrix(host, prhs[2], "Input 3, the pixels of the points,", 2, n);
    const std::vector<int> cameras = camera_indices(host, prhs[3], n, rig.cameras.size());
    Pose_estimate_options options = nrhs == 5 ? options_of(host, prhs[4]) : Pose_estimate_options();
    options.interrupted = [&host] { return host.interrupt_pending(); };
    // Columns of 3 and of 2 doubles: the rows the views read, in place.
    const Rig_estimate_result result = estimate_rig_pose(rig, Points_view(host.get_pr(prhs[1]), n),
                                                         Pixels_view(host.get_pr(prhs[2]), n), cameras, options);
    Mex_array* x = host.create_double_matrix(1, result.x.size());
    for (std::size_t k = 0; k < result.x.size(); ++k) mex_matrix_access(host, x, 0, k) = result.x[k];
    plhs[0] = x;
    if (nlhs >= 2) plhs[1] = mex_logical_row(host, result.inliers);
    if (nlhs >= 3) plhs[2] = info_struct(host, result);
    return;
  } catch (const std::exception& e) {
    error_text = e.what();
  }
  host.err_msg_id_and_txt(kMexErrorId, error_text.c_str());
}

}  // namespace trel
