#include "camera_pose_refine/camera_pose_refine_batch.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "camera_pose_refine/camera_pose_refine.h"
#include "camera_pose_refine/framework_refine.h"
#include "camera_pose_refine/plugin_options.h"
#include "trel_tools/exception_l.h"
#include "trel_pose/pose_batch.h"

namespace trel {

const char* const pose_refine_batch_info_fields[kPoseRefineBatchInfoFields] = {
    "ok",         "error",           "iterations",      "initial_error",    "final_error",     "stop_reason",
    "returned_iteration", "initial_rms", "final_rms",   "loss",             "loss_scale",      "inliers",
    "covariance", "covariance_rank", "condition_number", "nothing_to_fit"};
static_assert(kPoseRefineBatchInfoFields == kPoseRefineSummaryFields + 2, "ok and error, then the summary");

namespace {

const char* const kEntrySignature = "void mexFunction(int, mxArray**, int, const mxArray**)";

// How often the calling thread looks for an interrupt, and how often the
// progress line is redrawn, in seconds.
constexpr double kInterruptInterval = 0.1;
constexpr double kProgressInterval = 0.5;

// One frame's m by n block of an input, column-major.
struct Block {
  const double* data = nullptr;
  std::size_t m = 0;
  std::size_t n = 0;
};

// Input `input`: a cell of F double matrices, or a double array m by n by F (a
// matrix when F is 1). Only the container and each element's class are checked here.
std::vector<Block> read_blocks(const Mex_host& host, const Mex_array* a, int input, std::size_t frames) {
  std::vector<Block> blocks(frames);
  if (host.is_cell(a)) {
    TREL_CHECK_AS(kEntrySignature, host.get_number_of_elements(a) == frames,
                  "Input " << input << " should be a cell array of " << frames << " matrices, one per camera, instead it had "
                           << host.get_number_of_elements(a));
    for (std::size_t f = 0; f < frames; ++f) {
      const Mex_array* e = host.get_cell(a, f);
      TREL_CHECK_AS(kEntrySignature, e != nullptr && host.is_double(e),
                    "Input " << input << " should hold double matrices, instead cell " << f + 1 << " is "
                             << (e != nullptr ? host.get_class_name(e) : "empty"));
      blocks[f] = {host.get_pr(e), host.get_m(e), host.get_n(e)};
    }
    return blocks;
  }
  const std::vector<std::size_t> dims = host.get_dimensions(a);
  const std::size_t pages = dims.size() > 2 ? dims[2] : 1;
  TREL_CHECK_AS(kEntrySignature, host.is_double(a) && dims.size() <= 3 && pages == frames,
                "Input " << input << " should be a cell array of " << frames << " matrices or a double array with "
                         << frames << " pages, instead it is a " << dims.size() << "-dimensional "
                         << host.get_class_name(a) << " array with " << pages << " pages");
  const std::size_t m = dims[0], n = dims[1];
  for (std::size_t f = 0; f < frames; ++f) blocks[f] = {host.get_pr(a) + f * m * n, m, n};
  return blocks;
}

// Why frame f cannot be refined: its first non-finite value, or empty.
std::string non_finite(const Block& b, int input, std::size_t f, std::size_t stride_rows = 0) {
  const std::size_t ld = stride_rows != 0 ? stride_rows : b.m;
  for (std::size_t col = 0; col < b.n; ++col)
    for (std::size_t row = 0; row < b.m; ++row) {
      const double v = b.data[row + col * ld];
      if (!std::isfinite(v)) {
        std::ostringstream os;
        os << "Input " << input << " should hold finite numbers only, instead element (" << row + 1 << "," << col + 1
           << ") of frame " << f + 1 << " is " << v;
        return os.str();
      }
    }
  return std::string();
}

struct Batch_call {
  Pose_refine_arguments common;  // code and criteria of every frame
  std::size_t frames = 0;
  std::vector<std::string> refusals;  // per frame: why it is not refined, or empty
  std::vector<std::size_t> good_index;  // the frames refined, in order
  std::vector<Pose_frame> good;         // the framework's: copies of those frames
  // The kernel's: views over the host's arrays, with each frame's start (a
  // row of input 1, strided there) and camera held here.
  std::vector<Pose_frame_view> views;
  std::vector<double> starts;
  std::vector<Camera_model> cameras;
  std::vector<Values_view> weights;  // per frame, over input 6; empty: none
  Pose_refine_options refine;
  Entry_lens lens;
  int threads = 0;
  bool progress = false;
  bool kernel = false;  // the solver option: the pose kernel instead of the framework
};

// Frame f's weights: input 6 itself (one vector for every frame) or its cell f.
// [] gives none. A value that is not a double vector fails its frame; a vector
// is handed over as it is, and refine_pose judges its length and values for the
// frame (Pose_refine_options::check), as it does for every caller.
void read_weights_input(const Mex_host& host, const Mex_array* in6, Batch_call& call) {
  const std::size_t F = call.frames;
  if (host.is_cell(in6))
    TREL_CHECK_AS(kEntrySignature, host.get_number_of_elements(in6) == F,
                  "Input 6 should be a cell array of " << F << " weight vectors, instead it had "
                                                       << host.get_number_of_elements(in6));
  for (std::size_t f = 0; f < F; ++f) {
    const Mex_array* w = host.is_cell(in6) ? host.get_cell(in6, f) : in6;
    if (w != nullptr && host.is_double(w) && host.get_number_of_elements(w) == 0) continue;
    if (w == nullptr || !host.is_double(w) || (host.get_m(w) != 1 && host.get_n(w) != 1)) {
      std::ostringstream why;
      why << "Double vector expected as weightings of frame " << f + 1 << ", got ";
      if (w == nullptr) why << "an empty cell";
      else why << host.get_m(w) << " by " << host.get_n(w) << " of " << host.get_class_name(w);
      if (call.refusals[f].empty()) call.refusals[f] = why.str();
      continue;
    }
    call.weights[f] = Values_view(host.get_pr(w), host.get_number_of_elements(w));
  }
}

// Input 7: the refine options, threads, progress and the solver.
void read_batch_options(const Mex_host& host, const Mex_array* in7, Batch_call& call) {
  std::vector<Mex_option_field> fields = refine_option_fields();
  fields.push_back({"threads", Mex_option_kind::scalar, {}});
  fields.push_back({"progress", Mex_option_kind::flag, {}});
  fields.push_back({"solver", Mex_option_kind::text, {"framework", "kernel"}});
  const Mex_options read = read_mex_options(host, in7, 7, fields);
  TREL_CHECK_AS(kEntrySignature, read.refusal.empty(), read.refusal);
  call.refine = refine_options_from(read);
  call.lens = lens_from(read);
  // Whole and within the int range, so that the conversion is defined; the
  // batch's own rule (Pose_batch_options::check) judges the count.
  const double threads = read.number("threads", 0.0);
  TREL_CHECK_AS(kEntrySignature, threads == std::floor(threads) && std::fabs(threads) < 2147483648.0,
                "Input 7 field threads should be a whole number, instead got " << threads);
  call.threads = static_cast<int>(threads);
  call.progress = read.flag("progress", false);
  // A lens with distortion is the kernel's alone: it implies solver 'kernel'.
  const bool distorts =
      (!call.lens.distortion.empty() || call.lens.fisheye) &&
      !make_lens_distortion(call.lens.distortion, call.lens.fisheye).is_identity();
  const std::string solver = read.text("solver", distorts ? "kernel" : "framework");
  TREL_CHECK_AS(kEntrySignature, !distorts || solver == "kernel",
                "Input 7 field 'solver' should be 'kernel' for a camera with distortion (the framework road takes "
                "the pinhole only), instead got '" << solver << "'");
  call.kernel = solver == "kernel";
}

// Frames converted, or freed, per thread at least: below that a thread costs
// more than it saves.
constexpr std::size_t kFramesPerThread = 256;

// Runs fn(k) for every k in [0, count), on up to `threads` threads (0: one per
// core) with the calling thread among them, each thread on a contiguous share.
// Every thread is joined before it returns; the first exception is rethrown.
template <class Fn>
void for_each_in_parallel(int threads, std::size_t count, const Fn& fn) {
  std::size_t n = threads > 0 ? static_cast<std::size_t>(threads) : std::thread::hardware_concurrency();
  n = std::max<std::size_t>(1, std::min({n, count / kFramesPerThread, static_cast<std::size_t>(kMaxBatchThreads)}));
  std::vector<std::exception_ptr> errors(n);
  const auto share = [&](std::size_t t) {
    try {
      for (std::size_t k = count * t / n; k < count * (t + 1) / n; ++k) fn(k);
    } catch (...) {
      errors[t] = std::current_exception();
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(n - 1);
  try {
    for (std::size_t t = 1; t < n; ++t) pool.emplace_back(share, t);
  } catch (...) {
    errors[0] = std::current_exception();  // no thread: the shares not started are not run
  }
  if (errors[0] == nullptr) share(0);
  for (std::thread& t : pool) t.join();
  for (const std::exception_ptr& e : errors)
    if (e != nullptr) std::rethrow_exception(e);
}

// K = [k11 0 k13; 0 k11 k23; 0 0 1] of frame f's camera row.
matrix<double> frame_K(const double* cam, std::size_t F, std::size_t f, std::size_t ndims) {
  matrix<double> K(3, 3);
  K.set(0, 0, cam[f + ndims * F]);
  K.set(1, 1, cam[f + ndims * F]);
  K.set(0, 2, cam[f + (ndims + 1) * F]);
  K.set(1, 2, cam[f + (ndims + 2) * F]);
  K.set(2, 2, 1.0);
  return K;
}

// Frame f's Pose_frame: the start and K = [k11 0 k13; 0 k11 k23; 0 0 1] from its
// row of the F camera rows, its points, observations and weights (taken).
Pose_frame make_frame(const double* cam, std::size_t F, std::size_t f, std::size_t ndims, const Block& points,
                      const Block& observations, const Values_view& weights) {
  Pose_frame frame;
  frame.start.resize(ndims);
  for (std::size_t k = 0; k < ndims; ++k) frame.start[k] = cam[f + k * F];
  frame.K = frame_K(cam, F, f, ndims);
  frame.points.reserve(points.n);
  for (std::size_t i = 0; i < points.n; ++i) frame.points.emplace_back(points.data + 3 * i, points.data + 3 * i + 3);
  frame.observations.assign(observations.data, observations.data + observations.m * observations.n);
  frame.weights.assign(weights.begin(), weights.end());
  return frame;
}

// The kernel's frames: each views its 3 by N points and observations where
// they lie (a column after another is the rows refine_pose reads) and holds
// its start and its camera, the frame's K behind the batch's lens. A camera
// refused (a focal length of 0, say) fails its frame only.
void view_frames(const double* cam, const std::vector<Block>& points, const std::vector<Block>& observations,
                 Batch_call& call) {
  const std::size_t F = call.frames, ndims = static_cast<std::size_t>(call.common.ndims);
  const Lens_distortion<double> lens = make_lens_distortion(call.lens.distortion, call.lens.fisheye);
  std::vector<std::size_t> kept;
  call.cameras.reserve(call.good_index.size());
  for (std::size_t f : call.good_index) {
    try {
      call.cameras.push_back(make_camera_model(frame_K(cam, F, f, ndims)));
    } catch (const exception_l& e) {
      call.refusals[f] = e.what();
      continue;
    }
    call.cameras.back().lens = lens;
    kept.push_back(f);
  }
  call.good_index = std::move(kept);
  call.starts.resize(call.good_index.size() * ndims);
  call.views.resize(call.good_index.size());
  for (std::size_t g = 0; g < call.good_index.size(); ++g) {
    const std::size_t f = call.good_index[g];
    for (std::size_t k = 0; k < ndims; ++k) call.starts[g * ndims + k] = cam[f + k * F];
    Pose_frame_view& view = call.views[g];
    view.points = Points_view(points[f].data, points[f].n);
    view.observations = Values_view(observations[f].data, observations[f].m * observations[f].n);
    view.start = Values_view(call.starts.data() + g * ndims, ndims);
    view.weights = call.weights[f];
    view.camera = &call.cameras[g];
  }
}

// The frames to refine, each from its camera row and blocks, converted on the
// batch's threads; a non-finite value makes only its frame fail.
void build_frames(const double* cam, const std::vector<Block>& points, const std::vector<Block>& observations,
                  Batch_call& call) {
  const std::size_t F = call.frames, ndims = static_cast<std::size_t>(call.common.ndims);
  for (std::size_t f = 0; f < F; ++f) {
    std::string& why = call.refusals[f];
    if (why.empty()) why = non_finite({cam + f, 1, ndims + 3}, 1, f, F);
    if (why.empty()) why = non_finite(points[f], 2, f);
    if (why.empty()) why = non_finite(observations[f], 3, f);
    if (why.empty()) call.good_index.push_back(f);
  }
  if (call.kernel) {
    view_frames(cam, points, observations, call);
    return;
  }
  call.good.resize(call.good_index.size());
  for_each_in_parallel(call.threads, call.good.size(), [&](std::size_t g) {
    const std::size_t f = call.good_index[g];
    call.good[g] = make_frame(cam, F, f, ndims, points[f], observations[f], call.weights[f]);
  });
}

Batch_call read_batch_call(const Mex_host& host, int nlhs, int nrhs, const Mex_array* const prhs[]) {
  TREL_CHECK_AS(kEntrySignature, nrhs >= 3 && nrhs <= 7, "3 to 7 inputs required. Got " << nrhs);
  TREL_CHECK_AS(kEntrySignature, nlhs >= 0 && nlhs <= 2, "1 or 2 outputs required. Got " << nlhs);
  Batch_call call;
  Pose_refine_arguments& c = call.common;
  const Rotation_code& code = nrhs >= 5 ? read_rotation_code(host, prhs[4]) : *find_rotation_code(0);
  c.rotation_type = code.code;
  c.nrot = code.rotation_values;
  c.observation_rows = code.observation_rows;
  c.repetitions = code.repetitions;
  c.ndims = code.search_values();
  const std::size_t ndims = static_cast<std::size_t>(c.ndims), rows = static_cast<std::size_t>(c.observation_rows);

  const Mex_array* cameras = prhs[0];
  TREL_CHECK_AS(kEntrySignature, host.is_double(cameras) && host.get_n(cameras) == ndims + 3,
                "Input 1 should be a double matrix of one camera per row, each "
                    << ndims + 3 << " camera parameters (r1,r2,r3(,r4),t1,t2,t3, k11,k13,k23), instead it is "
                    << host.get_m(cameras) << " by " << host.get_n(cameras) << " of " << host.get_class_name(cameras));
  const std::size_t F = host.get_m(cameras);
  call.frames = F;
  call.refusals.assign(F, std::string());
  const std::vector<Block> points = read_blocks(host, prhs[1], 2, F);
  const std::vector<Block> observations = read_blocks(host, prhs[2], 3, F);
  for (std::size_t f = 0; f < F; ++f) {
    TREL_CHECK_AS(kEntrySignature, points[f].m == 3 && points[f].n > 0,
                  "Input 2 should hold 3 by N matrices of 3D points, N at least 1, instead frame "
                      << f + 1 << " is " << points[f].m << " by " << points[f].n);
    TREL_CHECK_AS(kEntrySignature, observations[f].m == rows && observations[f].n == points[f].n,
                  "Input 3 should hold " << rows << " by N matrices of observations (pixel/bearing vecs), N as in input 2, instead frame "
                                         << f + 1 << " is " << observations[f].m << " by " << observations[f].n
                                         << " for " << points[f].n << " points");
  }
  if (nrhs >= 4) read_criteria(host, prhs[3], c);
  call.weights.assign(F, Values_view());
  if (nrhs >= 6) read_weights_input(host, prhs[5], call);

  call.refine = Pose_refine_options();
  if (nrhs >= 7) read_batch_options(host, prhs[6], call);
  Pose_refine_options& o = call.refine;
  o.rotation_code = c.rotation_type;
  o.max_iters = c.max_iters;
  o.min_x_step = c.min_x_step;
  o.min_y_step = c.min_y_step;
  o.finite_differences = c.use_finite_difference;
  o.covariance = nlhs == 2 && o.covariance;

  Pose_batch_options checked;
  checked.refine = o;
  checked.threads = call.threads;
  const std::string broken = checked.broken_rule();
  TREL_CHECK_AS(kEntrySignature, broken.empty(), broken);
  build_frames(host.get_pr(cameras), points, observations, call);
  return call;
}

// "1h02m", "3m05s", "12s".
std::string duration_text(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return "?";
  const long s = std::lround(seconds);
  char text[32];
  if (s >= 3600) std::snprintf(text, sizeof text, "%ldh%02ldm", s / 3600, (s % 3600) / 60);
  else if (s >= 60) std::snprintf(text, sizeof text, "%ldm%02lds", s / 60, s % 60);
  else std::snprintf(text, sizeof text, "%lds", s);
  return text;
}

Mex_array* logical_scalar(Mex_host& host, bool value) {
  Mex_array* a = host.create_logical_matrix(1, 1);
  host.set_logical(a, 0, value);
  return a;
}

// INFO: frame f's outcome, or why it was not refined (by_frame[f] null).
Mex_array* info_array(Mex_host& host, const Batch_call& call, const std::vector<const Pose_frame_result*>& by_frame) {
  const std::size_t F = call.frames;
  Mex_array* info =
      host.create_struct_array(F, 1, pose_refine_batch_info_fields, static_cast<int>(kPoseRefineBatchInfoFields));
  const Pose_summary none;
  for (std::size_t f = 0; f < F; ++f) {
    const Pose_frame_result* r = by_frame[f];
    const bool ok = r != nullptr && r->ok;
    const std::string& error = r != nullptr ? r->error : call.refusals[f];
    host.set_field_at(info, f, pose_refine_batch_info_fields[0], logical_scalar(host, ok));
    host.set_field_at(info, f, pose_refine_batch_info_fields[1], host.create_string(error.c_str()));
    const std::array<Mex_array*, kPoseRefineSummaryFields> values =
        pose_refine_summary_values(host, r != nullptr ? r->result.summary : none);
    for (std::size_t k = 0; k < kPoseRefineSummaryFields; ++k)
      host.set_field_at(info, f, pose_refine_batch_info_fields[k + 2], values[k]);
  }
  return info;
}

void run_batch(Mex_host& host, int nlhs, Mex_array* plhs[], int nrhs, const Mex_array* const prhs[]) {
  Batch_call call = read_batch_call(host, nlhs, nrhs, prhs);
  const std::size_t F = call.frames, ndims = static_cast<std::size_t>(call.common.ndims);

  Pose_batch_options options;
  options.refine = call.refine;
  // 'framework': camera_pose_refine's own solve on every frame; 'kernel': the pose kernel.
  if (!call.kernel) options.refiner = framework_frame_refiner();
  options.threads = call.threads;
  options.progress_interval = call.progress ? kProgressInterval : kInterruptInterval;
  bool interrupted = false, printed = false;
  const auto started = std::chrono::steady_clock::now();
  auto last_print = started - std::chrono::hours(1);
  options.progress = [&](std::size_t done, std::size_t total) {
    if (host.interrupt_pending()) {
      interrupted = true;
      return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (call.progress && (done == total || now - last_print >= std::chrono::duration<double>(kProgressInterval))) {
      last_print = now;
      const double elapsed = std::chrono::duration<double>(now - started).count();
      const double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0.0;
      char line[160];
      std::snprintf(line, sizeof line, "\rcamera_pose_refine_batch: %zu of %zu frames, %.0f frames/s, %s left   ", done,
                    total, rate, done == total ? "0s" : rate > 0 ? duration_text((total - done) / rate).c_str() : "?");
      host.print(line);
      printed = true;
    }
    return true;
  };
  // Every kernel frame names its own camera: the batch's is not used.
  std::vector<Pose_frame_result> results = call.kernel ? refine_poses(Camera_model(), call.views, options)
                                                       : refine_poses(matrix<double>(), call.good, options);
  // The frames' storage is freed on the batch's threads, not one frame after another here.
  for_each_in_parallel(call.threads, call.good.size(), [&](std::size_t g) { call.good[g] = Pose_frame(); });
  if (printed) host.print("\n");
  std::size_t done = 0;
  for (const Pose_frame_result& r : results) done += r.error != "cancelled";
  TREL_CHECK_AS(kEntrySignature, !interrupted,
                "Interrupted: " << done << " of " << results.size() << " frames had been refined");

  Mex_array* X = host.create_double_matrix(F, ndims);
  double* x = host.get_pr(X);
  for (std::size_t k = 0; k < F * ndims; ++k) x[k] = std::numeric_limits<double>::quiet_NaN();
  std::vector<const Pose_frame_result*> by_frame(F, nullptr);
  for (std::size_t g = 0; g < results.size(); ++g) {
    const std::size_t f = call.good_index[g];
    by_frame[f] = &results[g];
    if (results[g].ok)
      for (std::size_t k = 0; k < ndims && k < results[g].result.x.size(); ++k) x[f + k * F] = results[g].result.x[k];
  }
  Mex_array* info = nlhs == 2 ? info_array(host, call, by_frame) : nullptr;
  for_each_in_parallel(call.threads, results.size(), [&](std::size_t g) { results[g] = Pose_frame_result(); });
  plhs[0] = X;
  if (info != nullptr) plhs[1] = info;
}

}  // namespace

void camera_pose_refine_batch_entry(Mex_host& host, int nlhs, Mex_array* plhs[], int nrhs,
                                    const Mex_array* const prhs[]) {
  // As camera_pose_refine_entry: the host's error call is made after every local
  // is gone, since it may jump out of this function.
  std::string error_text;
  try {
    run_batch(host, nlhs, plhs, nrhs, prhs);
    return;
  } catch (const std::exception& e) {
    error_text = e.what();
  }
  host.err_msg_id_and_txt(kMexErrorId, error_text.c_str());
}

}  // namespace trel
