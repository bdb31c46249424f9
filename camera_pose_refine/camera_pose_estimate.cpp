#include "camera_pose_refine/camera_pose_estimate.h"

#include <cmath>
#include <cstdint>
#include <iomanip>
#include <string>
#include <vector>

#include "camera_pose_refine/camera_pose_refine.h"
#include "camera_pose_refine/plugin_options.h"
#include "trel_tools/exception_l.h"
#include "trel_tools/matrix.h"

namespace trel {
namespace {

// Every frame of the entry carries the host entry point's signature, whichever
// function of this file detects the problem.
const char* const kEntrySignature = "void mexFunction(int, mxArray**, int, const mxArray**)";


const char* const kUsage =
    "[x, inliers, info] = camera_pose_estimate(K, points, pixels, options): "
    "K a 3 by 3 intrinsic matrix, points 3 by N world points, pixels 2 by N pixels, "
    "options a struct (threshold, confidence, min_iterations, max_iterations, seed, loss, loss_scale, "
    "refine_iterations, distortion, fisheye) optional; distortion: OpenCV's lens coefficients "
    "(k1,k2,p1,p2(,k3(,k4,k5,k6))), fisheye: true for OpenCV's fisheye model (4 coefficients)";

// Refuses the first element of a double array that is NaN or infinite, naming
// the input and the element (1-based row and column, as the host indexes).
void check_finite(const Mex_host& host, const Mex_array* a, int input) {
  const std::size_t m = host.get_m(a), n = host.get_n(a);
  for (std::size_t col = 0; col < n; ++col)
    for (std::size_t row = 0; row < m; ++row) {
      const double v = mex_matrix_access(host, a, row, col);
      TREL_CHECK_AS(kEntrySignature, std::isfinite(v), "Input " << input << " should hold finite numbers only, instead element ("
                                           << row + 1 << "," << col + 1 << ") is " << v);
    }
}

// A real double array of `rows` rows and, unless cols is 0, `cols` columns.
void check_double_matrix(const Mex_host& host, const Mex_array* a, int input, const char* what, std::size_t rows,
                         std::size_t cols) {
  const bool fits = host.is_double(a) && host.get_m(a) == rows && (cols == 0 || host.get_n(a) == cols);
  TREL_CHECK_AS(kEntrySignature, fits, "Input " << input << " should be " << what << ", a " << rows << " by " << (cols == 0 ? "N" : "")
                           << (cols == 0 ? std::string() : std::to_string(cols)) << " real double matrix, instead got "
                           << host.get_m(a) << " by " << host.get_n(a) << " of " << host.get_class_name(a));
}

// A number option that must be a whole number within [lowest, highest].
double whole_number(const Mex_options& read, const char* name, double otherwise, double lowest, double highest) {
  const double v = read.number(name, otherwise);
  TREL_CHECK_AS(kEntrySignature, v == std::floor(v) && v >= lowest && v <= highest,
            "Input 4 field '" << name << "' should be a whole number from " << static_cast<long long>(lowest)
                              << " to " << static_cast<long long>(highest) << ", instead got "
                              << std::setprecision(17) << v);
  return v;
}

Mex_array* info_struct(Mex_host& host, const Pose_estimate_result& result) {
  const Pose_summary& summary = result.summary;
  const char* const* f = pose_estimate_info_fields;
  Mex_array* s = host.create_struct(f, 11);
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
  return s;
}

// The pinhole takes K as it is (estimate_pose judges it whole); a camera with
// distortion reads the 3 by N points and 2 by N pixels where they lie, column
// after column being the rows the job reads.
Pose_estimate_result estimate(const Mex_host& host, const matrix<double>& K, const Mex_array* in2,
                              const Mex_array* in3, const Entry_lens& lens, const Pose_estimate_options& options) {
  const std::size_t n = host.get_n(in2);
  if (!lens.distortion.empty() || lens.fisheye) {
    const Camera_model camera = entry_camera(K, lens);
    if (has_distortion(camera))
      return estimate_pose(camera, Points_view(host.get_pr(in2), n), Values_view(host.get_pr(in3), 2 * n), options);
  }
  std::vector<std::vector<double>> points(n, std::vector<double>(3));
  std::vector<std::vector<double>> pixels(n, std::vector<double>(2));
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t r = 0; r < 3; ++r) points[i][r] = mex_matrix_access(host, in2, r, i);
    for (std::size_t r = 0; r < 2; ++r) pixels[i][r] = mex_matrix_access(host, in3, r, i);
  }
  return estimate_pose(K, points, pixels, options);
}

}  // namespace

const char* const pose_estimate_info_fields[11] = {
    "iterations", "num_inliers", "refine_iterations", "stop_reason",     "initial_rms",     "final_rms",
    "loss",       "loss_scale",  "covariance",        "covariance_rank", "condition_number"};

Pose_estimate_options read_estimate_options(const Mex_host& host, const Mex_array* a, Entry_lens* lens) {
  // The values are judged by Pose_estimate_options::check(); the whole numbers
  // are checked here only so far as their conversion needs.
  std::vector<Mex_option_field> fields = {
      {"threshold", Mex_option_kind::scalar, {}},
      {"confidence", Mex_option_kind::scalar, {}},
      {"min_iterations", Mex_option_kind::scalar, {}},
      {"max_iterations", Mex_option_kind::scalar, {}},
      {"seed", Mex_option_kind::scalar, {}},
      {"loss", Mex_option_kind::text, loss_choices()},
      {"loss_scale", Mex_option_kind::scalar, {}},
      {"refine_iterations", Mex_option_kind::scalar, {}},
  };
  for (const Mex_option_field& f : lens_option_fields()) fields.push_back(f);
  const Mex_options read = read_mex_options(host, a, 4, fields);
  TREL_CHECK_AS(kEntrySignature, read.refusal.empty(), read.refusal);
  if (lens != nullptr) *lens = lens_from(read);
  Pose_estimate_options options;
  options.threshold = read.number("threshold", options.threshold);
  options.confidence = read.number("confidence", options.confidence);
  const double int_low = -2147483648.0, int_high = 2147483647.0;
  options.max_iterations =
      static_cast<int>(whole_number(read, "max_iterations", options.max_iterations, int_low, int_high));
  options.min_iterations =
      static_cast<int>(whole_number(read, "min_iterations", options.min_iterations, int_low, int_high));
  options.refine_iterations =
      static_cast<int>(whole_number(read, "refine_iterations", options.refine_iterations, int_low, int_high));
  options.seed = static_cast<std::uint32_t>(whole_number(read, "seed", options.seed, 0, 4294967295.0));
  // The choices above are exactly the loss names, so the conversion cannot fail.
  loss_from_name(read.text("loss", loss_name(options.loss)), options.loss);
  options.loss_scale = read.number("loss_scale", options.loss_scale);
  const std::string broken = options.broken_rule();
  TREL_CHECK_AS(kEntrySignature, broken.empty(), broken);
  return options;
}

void camera_pose_estimate_entry(Mex_host& host, int nlhs, Mex_array* plhs[], int nrhs,
                                const Mex_array* const prhs[]) {
  // The host's error call may unwind or jump out of this function: it is made only
  // after the handler has finished, with the text held here.
  std::string error_text;
  try {
    TREL_CHECK_AS(kEntrySignature, nrhs >= 3 && nrhs <= 4, "3 or 4 inputs required, got " << nrhs << ". Usage: " << kUsage);
    TREL_CHECK_AS(kEntrySignature, nlhs >= 0 && nlhs <= 3, "At most 3 outputs (x, inliers, info), got " << nlhs);

    check_double_matrix(host, prhs[0], 1, "the intrinsic matrix K", 3, 3);
    check_finite(host, prhs[0], 1);
    matrix<double> K(3, 3);
    for (std::size_t r = 0; r < 3; ++r)
      for (std::size_t c = 0; c < 3; ++c) K.set(r, c, mex_matrix_access(host, prhs[0], r, c));

    check_double_matrix(host, prhs[1], 2, "the world points", 3, 0);
    const std::size_t n = host.get_n(prhs[1]);
    check_double_matrix(host, prhs[2], 3, "the pixels of the points", 2, n);
    check_finite(host, prhs[1], 2);
    check_finite(host, prhs[2], 3);
    Entry_lens lens;
    Pose_estimate_options options =
        nrhs == 4 ? read_estimate_options(host, prhs[3], &lens) : Pose_estimate_options();
    // Ctrl-C stops a long random search; the host handles the interrupt once the error is raised.
    options.interrupted = [&host] { return host.interrupt_pending(); };
    const Pose_estimate_result result = estimate(host, K, prhs[1], prhs[2], lens, options);

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
