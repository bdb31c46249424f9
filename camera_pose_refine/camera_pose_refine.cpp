#include "camera_pose_refine/camera_pose_refine.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <climits>
#include <cmath>
#include <memory>
#include <sstream>
#include <string>

#include "camera_pose_refine/camera_position_grad_funcs.h"
#include "camera_pose_refine/camera_position_hybrid_grad_funcs.h"
#include "camera_pose_refine/camera_position_opt_func.h"
#include "camera_pose_refine/camera_position_rotation_codes.h"
#include "camera_pose_refine/framework_refine.h"
#include "camera_pose_refine/plugin_options.h"
#include "trel_tools/exception_l.h"
#include "trel_tools/matrix.h"
#include "trel_pose/pose_refinement.h"

namespace trel {
namespace {

// Every frame of the entry carries the host entry point's signature, whichever
// function of this file detects the problem.
const char* const kEntrySignature = "void mexFunction(int, mxArray**, int, const mxArray**)";

// The codes of rotation_codes() as the help text and the refusal of a code list them.
#define TREL_ROTATION_CODE_LIST \
  "(0=aau, 1=aan, 2=qu, 3=qn,   10=aau-bv, 11=aan-bv, 12=qu-bv,   -1=qu,aau,aan, -2=aau,qu,aan,  -3=aan,qu,aau)"
const char* const kRotationCodeList = TREL_ROTATION_CODE_LIST;

const char* const kHelpLines =
    "(1) a vector of 9/10 camera parameters (r1,r2,r3(,r4),t1,t2,t3, k11,k13,k23). The first "
    "6/7 constitute the search vector x, ther others are constant intrinsics\n"
    "(2) a matrix of 3d points\n"
    "(3) a matrix of 2d points\n"
    "(4) a vector of stopping criteria (max_iters, min_x_step, min_y_step, use_finite_difference) "
    "optional"
    "(5) a flag indicating rotation type " TREL_ROTATION_CODE_LIST " optional, default=0\n"
    "(6) a vector of weights for the various equations (most useful for hybrid representation, or "
    "confidence of points) optional\n"
    "(7) a struct of options (loss, loss_scale, sigma, covariance) optional\n";

bool is_vector(const Mex_host& host, const Mex_array* a) {
  return host.get_m(a) == 1 || host.get_n(a) == 1;
}

// Element k of an array already known to be a row or a column.
double vector_element(const Mex_host& host, const Mex_array* a, std::size_t k) {
  return host.get_m(a) == 1 ? mex_matrix_access(host, a, 0, k) : mex_matrix_access(host, a, k, 0);
}

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

// Saturates instead of leaving out-of-range values to an undefined conversion.
float narrow_to_float(double v) {
  if (v > static_cast<double>(FLT_MAX)) return INFINITY;
  if (v < -static_cast<double>(FLT_MAX)) return -INFINITY;
  return static_cast<float>(v);
}

}  // namespace

const char* const pose_refine_summary_fields[kPoseRefineSummaryFields] = {
    "iterations", "initial_error", "final_error", "stop_reason",     "returned_iteration", "initial_rms",
    "final_rms",  "loss",          "loss_scale",  "inliers",         "covariance",         "covariance_rank",
    "condition_number", "nothing_to_fit"};

// The values of loss_scale and sigma are judged by Pose_refine_options::check().
std::vector<Mex_option_field> refine_option_fields() {
  std::vector<Mex_option_field> fields = {
      {"loss", Mex_option_kind::text, loss_choices()},
      {"loss_scale", Mex_option_kind::scalar, {}},
      {"sigma", Mex_option_kind::scalar, {}},
      {"covariance", Mex_option_kind::flag, {}},
  };
  for (const Mex_option_field& f : lens_option_fields()) fields.push_back(f);
  return fields;
}

Pose_refine_options read_refine_options(const Mex_host& host, const Mex_array* a, Entry_lens* lens) {
  const Mex_options read = read_mex_options(host, a, 7, refine_option_fields());
  TREL_CHECK_AS(kEntrySignature, read.refusal.empty(), read.refusal);
  if (lens != nullptr) *lens = lens_from(read);
  return refine_options_from(read);
}

Pose_refine_options refine_options_from(const Mex_options& read) {
  Pose_refine_options options;
  // The choices above are exactly the loss names, so the conversion cannot fail.
  loss_from_name(read.text("loss", loss_name(options.loss)), options.loss);
  options.loss_scale = read.number("loss_scale", options.loss_scale);
  options.sigma = read.number("sigma", options.sigma);
  options.covariance = read.flag("covariance", options.covariance);
  return options;
}

std::vector<double> Pose_refine_arguments::finite_difference_steps() const {
  return pose_finite_difference_steps(x, nrot, points);
}

namespace {

void check_counts(int nlhs, int nrhs) {
  TREL_CHECK_AS(kEntrySignature, nrhs >= 3 && nrhs <= 7,
                "3 to 7 inputs required. Got " << nrhs << " Arguments should be: \n" << kHelpLines);
  // 0 outputs still give one value (the host's `ans`); a second is the summary.
  TREL_CHECK_AS(kEntrySignature, nlhs >= 0 && nlhs <= 2, "1 output required. Got " << nlhs);
}

}  // namespace

// Input 5: the rotation code, truncated toward zero.
const Rotation_code& read_rotation_code(const Mex_host& host, const Mex_array* in5) {
  TREL_CHECK_AS(kEntrySignature, host.is_double(in5) && host.get_m(in5) == 1 && host.get_n(in5) >= 1,
                "Double scalar expected as rotation type, got " << host.get_m(in5) << " by " << host.get_n(in5)
                                                                << " of " << host.get_class_name(in5));
  const double value = host.get_scalar(in5);
  // Testing the range of the codes first keeps NaN, infinities and huge values away
  // from the truncating conversion, where they are undefined.
  int lowest = 0, highest = 0;
  for (const Rotation_code& entry : rotation_codes()) {
    lowest = std::min(lowest, entry.code);
    highest = std::max(highest, entry.code);
  }
  const Rotation_code* entry = nullptr;
  if (value > lowest - 1.0 && value < highest + 1.0) entry = find_rotation_code(static_cast<int>(value));
  TREL_CHECK_AS(kEntrySignature, entry != nullptr,
                "Rotation type must be from: " << kRotationCodeList << ", got an invalid value of " << value);
  return *entry;
}

namespace {

// Input 1: the search vector, then k11, k13, k23.
void read_camera(const Mex_host& host, const Mex_array* in1, Pose_refine_arguments& args) {
  TREL_CHECK_AS(kEntrySignature, host.is_double(in1), "Input 1 should be an double vector");
  TREL_CHECK_AS(kEntrySignature, is_vector(host, in1),
                "Input 1 should be a vector, instead found sizes of " << host.get_m(in1) << " by " << host.get_n(in1));
  const std::size_t num_params = static_cast<std::size_t>(args.nrot) + 6;
  TREL_CHECK_AS(kEntrySignature, host.get_m(in1) * host.get_n(in1) == num_params,
                "Input 1 should be a vector of "
                    << num_params << " camera parameters (r1,r2,r3(,r4),t1,t2,t3, k11,k13,k23), instead it had "
                    << host.get_m(in1) * host.get_n(in1));
  check_finite(host, in1, 1);
  const std::size_t ndims = static_cast<std::size_t>(args.ndims);
  args.x.resize(ndims);
  for (std::size_t k = 0; k < ndims; ++k) args.x[k] = vector_element(host, in1, k);
  args.k11 = vector_element(host, in1, ndims);
  args.k13 = vector_element(host, in1, ndims + 1);
  args.k23 = vector_element(host, in1, ndims + 2);
}

// Input 2: 3 by npts world points.
void read_points(const Mex_host& host, const Mex_array* in2, Pose_refine_arguments& args) {
  TREL_CHECK_AS(kEntrySignature, host.is_double(in2), "Input 2 should be an double matrix");
  TREL_CHECK_AS(kEntrySignature, host.get_m(in2) == 3,
                "Input 2 should be a matrix of 3D points, with size N by 3. instead size of "
                    << host.get_m(in2) << " by " << host.get_n(in2) << " was passed");
  const std::size_t npts = host.get_n(in2);
  TREL_CHECK_AS(kEntrySignature, npts > 0,
                "Input 2 should hold at least one 3D point, instead size of " << host.get_m(in2) << " by " << npts
                                                                              << " was passed");
  check_finite(host, in2, 2);
  args.points.assign(npts, std::vector<double>(3));
  for (std::size_t i = 0; i < npts; ++i)
    for (std::size_t r = 0; r < 3; ++r) args.points[i][r] = mex_matrix_access(host, in2, r, i);
  args.npts = static_cast<int>(npts);
}

// Input 3: observation_rows by npts observations, repeated into the target.
void read_observations(const Mex_host& host, const Mex_array* in3, Pose_refine_arguments& args) {
  const std::size_t npts = args.points.size();
  const std::size_t rows = static_cast<std::size_t>(args.observation_rows);
  TREL_CHECK_AS(kEntrySignature, host.is_double(in3), "Input 3 should be an double matrix");
  TREL_CHECK_AS(kEntrySignature, host.get_n(in3) == npts && host.get_m(in3) == rows,
                "Input 3 should be a matrix of observations (pixel/bearing vecs), with size "
                    << npts << " by " << rows << ". instead size of " << host.get_n(in3) << " by "
                    << host.get_m(in3) << " was passed");
  check_finite(host, in3, 3);
  const std::size_t block = rows * npts;
  const std::size_t reps = static_cast<std::size_t>(args.repetitions);
  args.num_eqs = static_cast<int>(block * reps);
  args.target.assign(block * reps, 0.0);
  for (std::size_t j = 0; j < reps; ++j)
    for (std::size_t i = 0; i < npts; ++i)
      for (std::size_t r = 0; r < rows; ++r)
        args.target[j * block + i * rows + r] = mex_matrix_access(host, in3, r, i);
}

}  // namespace

// Input 4: max_iters, min_x_step, min_y_step, use_finite_difference.
void read_criteria(const Mex_host& host, const Mex_array* in4, Pose_refine_arguments& args) {
  TREL_CHECK_AS(kEntrySignature, host.is_double(in4), "Input 4 should be an double vector");
  TREL_CHECK_AS(kEntrySignature, is_vector(host, in4) && host.get_number_of_elements(in4) == 4,
                "Input 4 should be a vector of stopping criteria, with 4 elements. instead size of "
                    << host.get_m(in4) << " by " << host.get_n(in4) << " was passed");
  const double max_iters = vector_element(host, in4, 0);
  // Truncation toward zero is defined only for values that fit an int.
  TREL_CHECK_AS(kEntrySignature,
                max_iters > static_cast<double>(INT_MIN) - 1.0 && max_iters < static_cast<double>(INT_MAX) + 1.0,
                "Input 4 should hold max_iters as a finite number within the int range, instead got " << max_iters);
  args.max_iters = static_cast<int>(max_iters);
  check_finite(host, in4, 4);
  args.min_x_step = narrow_to_float(vector_element(host, in4, 1));
  args.min_y_step = narrow_to_float(vector_element(host, in4, 2));
  args.use_finite_difference = vector_element(host, in4, 3) != 0.0;
}

// Input 6: one weight per equation.
void read_weights(const Mex_host& host, const Mex_array* in6, Pose_refine_arguments& args) {
  const std::size_t num_eqs = static_cast<std::size_t>(args.num_eqs);
  TREL_CHECK_AS(kEntrySignature,
                host.is_double(in6) && is_vector(host, in6) && host.get_m(in6) * host.get_n(in6) == num_eqs,
                "Double vector of length " << num_eqs << " expected as weightings, got " << host.get_m(in6)
                                           << " by " << host.get_n(in6) << " of " << host.get_class_name(in6));
  check_finite(host, in6, 6);
  args.weights.resize(num_eqs);
  for (std::size_t k = 0; k < num_eqs; ++k) args.weights[k] = vector_element(host, in6, k);
}

Pose_refine_arguments read_pose_refine_arguments(const Mex_host& host, int nlhs, int nrhs,
                                                 const Mex_array* const prhs[]) {
  check_counts(nlhs, nrhs);
  Pose_refine_arguments args;
  const Rotation_code& code = nrhs >= 5 ? read_rotation_code(host, prhs[4]) : *find_rotation_code(0);
  args.rotation_type = code.code;
  args.nrot = code.rotation_values;
  args.observation_rows = code.observation_rows;
  args.repetitions = code.repetitions;
  args.ndims = code.search_values();
  read_camera(host, prhs[0], args);
  read_points(host, prhs[1], args);
  read_observations(host, prhs[2], args);
  if (nrhs >= 4) read_criteria(host, prhs[3], args);
  if (nrhs >= 6) read_weights(host, prhs[5], args);
  return args;
}

namespace {

// K = [k11 0 k13; 0 k11 k23; 0 0 1]: one focal length for both axes, no skew.
matrix<double> intrinsic_matrix(const Pose_refine_arguments& args) {
  matrix<double> K(3, 3);
  K.set(0, 0, args.k11);
  K.set(0, 2, args.k13);
  K.set(1, 1, args.k11);
  K.set(1, 2, args.k23);
  K.set(2, 2, 1.0);
  return K;
}

}  // namespace

std::array<Mex_array*, kPoseRefineSummaryFields> pose_refine_summary_values(Mex_host& host,
                                                                            const Pose_summary& summary) {
  return {mex_scalar(host, summary.iterations),
          mex_scalar(host, summary.initial_error),
          mex_scalar(host, summary.final_error),
          host.create_string(stop_reason_name(summary.stop_reason)),
          mex_scalar(host, summary.returned_iteration),
          mex_scalar(host, summary.initial_rms),
          mex_scalar(host, summary.final_rms),
          host.create_string(summary.loss.c_str()),
          mex_scalar(host, summary.loss_scale),
          mex_logical_row(host, summary.inliers),
          mex_square_matrix(host, summary.covariance, 6),
          mex_scalar(host, summary.covariance_rank),
          mex_scalar(host, summary.condition_number),
          mex_logical_row(host, {static_cast<unsigned char>(summary.nothing_to_fit ? 1 : 0)})};
}

Pose_refine_options entry_refine_options(const Pose_refine_arguments& args, const Pose_refine_options& robust,
                                         bool want_summary) {
  Pose_refine_options options = robust;
  options.rotation_code = args.rotation_type;
  options.max_iters = args.max_iters;
  options.min_x_step = args.min_x_step;
  options.min_y_step = args.min_y_step;
  options.finite_differences = args.use_finite_difference;
  options.weights = args.weights;
  // Only the summary carries the covariance: a call without it costs no more than the solve.
  options.covariance = want_summary && robust.covariance;
  const std::string broken = options.broken_rule();
  TREL_CHECK_AS(kEntrySignature, broken.empty(), broken);
  return options;
}

void check_start_cost(const Pose_refine_arguments& args, const matrix<double>& K) {
  const Camera_position_opt_func model(args.points, K, args.rotation_type);
  std::vector<double> predicted;
  try {
    predicted = model(args.x);
  } catch (const std::exception&) {
    return;  // what the cost function refuses, the solve reports along its own road
  }
  const std::size_t rows = static_cast<std::size_t>(args.observation_rows);
  double cost = 0.0;
  for (std::size_t k = 0; k < predicted.size() && k < args.target.size(); ++k) {
    const double weight = args.weights.empty() ? 1.0 : args.weights[k];
    const double residual = predicted[k] - args.target[k];
    // A residual that is not finite itself the solver's first step refuses, naming it.
    if (!std::isfinite(weight * residual)) return;
    cost += (weight * residual) * (weight * residual);
    const std::size_t point = (k % (rows * args.points.size())) / rows;
    TREL_CHECK_AS(kEntrySignature, std::isfinite(cost),
                  "the cost at the start is not finite: equation " << k + 1 << " (point " << point + 1
                      << ") has weight " << weight << " and residual " << residual
                      << " (k11=" << args.k11 << "), and the sum of the weighted squares overflows");
  }
}

namespace {

Mex_array* summary_struct(Mex_host& host, const Pose_summary& summary) {
  Mex_array* s = host.create_struct(pose_refine_summary_fields, static_cast<int>(kPoseRefineSummaryFields));
  const std::array<Mex_array*, kPoseRefineSummaryFields> values = pose_refine_summary_values(host, summary);
  for (std::size_t k = 0; k < kPoseRefineSummaryFields; ++k) host.set_field(s, pose_refine_summary_fields[k], values[k]);
  return s;
}

// A camera with distortion: the pose kernel, over the points and the
// observations once (the plug-in's own road takes the pinhole only).
Pose_refine_result refine_with_lens(const Camera_model& camera, const Pose_refine_arguments& args,
                                    const Pose_refine_options& options) {
  const std::vector<double> points = flatten_rows(args.points, 3, "point");
  const Values_view observations(args.target.data(), static_cast<std::size_t>(args.observation_rows * args.npts));
  return refine_pose(camera, Points_view(points), observations, args.x, options);
}

void solve_and_output(Mex_host& host, const Pose_refine_arguments& args, const Pose_refine_options& options,
                      const Entry_lens& lens, bool want_summary, Mex_array* plhs[]) {
  guarded(Frame{__FILE__, __LINE__, kEntrySignature}, [&] {
  const matrix<double> K = intrinsic_matrix(args);
  Pose_refine_result refined;
  if ((!lens.distortion.empty() || lens.fisheye) && has_distortion(entry_camera(K, lens))) {
    refined = refine_with_lens(entry_camera(K, lens), args, options);
  } else {
    check_start_cost(args, K);
    // The target repeats the observations once per repetition; the framework road takes them once.
    const std::vector<double> observations(
        args.target.begin(), args.target.begin() + static_cast<std::ptrdiff_t>(args.observation_rows * args.npts));
    refined = refine_pose_by_framework(K, args.points, observations, args.x, options);
  }
  const std::vector<double>& x = refined.x;

  Mex_array* out = host.create_double_matrix(1, static_cast<std::size_t>(args.ndims));
  for (std::size_t i = 0; i < x.size() && i < static_cast<std::size_t>(args.ndims); ++i)
    mex_matrix_access(host, out, 0, i) = x[i];
  Mex_array* summary = want_summary ? summary_struct(host, refined.summary) : nullptr;
  plhs[0] = out;
  if (want_summary) plhs[1] = summary;
  }, [&](std::ostream& os) {
    os << "Num points=" << args.npts << " num_eqs=" << args.num_eqs << " (vals of -1 mean not initialised)";
  });
}

}  // namespace

void camera_pose_refine_entry(Mex_host& host, int nlhs, Mex_array* plhs[], int nrhs,
                              const Mex_array* const prhs[]) {
  // The host's error call may unwind or jump out of this function: it is made only
  // after the handler has finished, with the text held here.
  std::string error_text;
  try {
    const Pose_refine_arguments args = read_pose_refine_arguments(host, nlhs, nrhs, prhs);
    Entry_lens lens;
    const Pose_refine_options robust = nrhs >= 7 ? read_refine_options(host, prhs[6], &lens) : Pose_refine_options();
    solve_and_output(host, args, entry_refine_options(args, robust, nlhs == 2), lens, nlhs == 2, plhs);
    return;
  } catch (const std::exception& e) {
    error_text = e.what();
  }
  host.err_msg_id_and_txt(kMexErrorId, error_text.c_str());
}

}  // namespace trel
