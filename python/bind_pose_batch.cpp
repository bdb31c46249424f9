// estimate_pose and the batch refinement refine_poses over numpy arrays.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <cstdint>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "python/bindings.h"
#include "python/pose_binding.h"
#include "trel_pose/pose_batch.h"
#include "trel_pose/pose_estimation.h"
#include "trel_tools/exception_l.h"

namespace trel {
namespace python {
namespace {

// ---- estimate_pose --------------------------------------------------------------

// estimate_pose's result with its vectors as arrays.
struct Pose_estimate {
  py::object x;        // (6,) rotation vector then camera centre
  py::object R;        // 3 x 3, camera axes to world axes
  py::object centre;   // (3,)
  py::object inliers;  // bool array, one flag per correspondence
  int num_inliers = 0;
  int iterations = 0;
  Refine_summary summary;

  py::dict to_dict() const {
    py::dict d;
    d["x"] = x;
    d["R"] = R;
    d["centre"] = centre;
    d["inliers"] = inliers;
    d["num_inliers"] = num_inliers;
    d["iterations"] = iterations;
    d["summary"] = summary.to_dict();
    return d;
  }
};

py::array_t<bool> flags_of(const std::vector<unsigned char>& flags) {
  py::array_t<bool> out(static_cast<py::ssize_t>(flags.size()));
  bool* data = out.mutable_data();
  for (std::size_t i = 0; i < flags.size(); ++i) data[i] = flags[i] != 0;
  return out;
}

matrix<double> identity3() {
  matrix<double> k(3, 3);
  for (unsigned r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) k[r][c] = (static_cast<int>(r) == c) ? 1.0 : 0.0;
  return k;
}

// The camera of a job's K argument: None means the identity where the
// observations are bearing vectors (the camera is then unused).
Camera_model job_camera(const py::object& K, bool bearing, const py::object& distortion, bool fisheye) {
  if (bearing && K.is_none()) return make_camera_model(identity3());
  return camera_of(K, distortion, fisheye);
}

Pose_estimate estimate_pose_py(const py::object& K, const py::object& points, const py::object& observations,
                               bool bearing, double threshold, double confidence, int min_iterations,
                               int max_iterations, long long seed, const std::string& loss, double loss_scale,
                               int refine_iterations, const py::object& distortion, bool fisheye) {
  const Camera_model camera = job_camera(K, bearing, distortion, fisheye);
  const Float_array p = float_array(points, "points", {{any_size, 3}});
  const Float_array obs = float_array(observations, "observations", {{p.shape(0), bearing ? 3 : 2}});
  if (seed < 0 || seed > static_cast<long long>(std::numeric_limits<std::uint32_t>::max()))
    throw py::value_error("seed must be in [0, 2**32), got " + std::to_string(seed));

  Pose_estimate_options options;
  options.threshold = threshold;
  options.confidence = confidence;
  options.min_iterations = min_iterations;
  options.max_iterations = max_iterations;
  options.seed = static_cast<std::uint32_t>(seed);
  options.loss = loss_of(loss);
  options.loss_scale = loss_scale;
  options.bearing = bearing;
  options.refine_iterations = refine_iterations;

  const Points_view point_rows(p.data(), static_cast<std::size_t>(p.shape(0)));
  const Values_view observation_rows(obs.data(), static_cast<std::size_t>(obs.size()));
  // Ctrl-C stops the random search: the hook, asked on this thread, looks for
  // a signal with the interpreter lock taken back for the moment.
  options.interrupted = [] {
    py::gil_scoped_acquire locked;
    return PyErr_CheckSignals() != 0;
  };
  Pose_estimate_result r;
  try {
    py::gil_scoped_release unlocked;
    r = estimate_pose(camera, point_rows, observation_rows, options);
  } catch (const exception_l&) {
    if (PyErr_Occurred()) throw py::error_already_set();  // the signal's exception
    throw;
  }
  Pose_estimate out;
  out.x = array_of(std::move(r.x), {6});
  out.R = array_of(r.R);
  out.centre = array_of(std::move(r.centre), {3});
  out.inliers = flags_of(r.inliers);
  out.num_inliers = r.num_inliers;
  out.iterations = r.iterations;
  out.summary = summary_of(std::move(r.summary));
  out.summary.inliers = out.inliers;
  return out;
}

// ---- refine_poses: the frames ---------------------------------------------------

// Rows of the observations of one point for a rotation code.
py::ssize_t observation_columns(int rotation_code) { return is_bearing_code(rotation_code) ? 3 : 2; }

// refine_poses' frames as views over their arrays (no copy per point): the
// arrays, each converted once when it is not C-contiguous float64 already,
// are held here for the call. own_K holds the K of the frames that give one
// (0 x 0 for the others); their cameras are made once the batch's lens is known.
struct Batch_frames {
  std::vector<Float_array> arrays;
  std::vector<Pose_frame_view> views;
  std::vector<matrix<double>> own_K;
  std::deque<Camera_model> cameras;  // a deque: the views point into it
};

// The parts of one frame given as a tuple (points, observations, start[,
// weights[, K]]) or a dict with those keys.
void frame_parts(const py::handle& item, const std::string& where, py::object parts[5]) {
  if (py::isinstance<py::dict>(item)) {
    const py::dict d = py::reinterpret_borrow<py::dict>(item);
    static const char* const keys[] = {"points", "observations", "start", "weights", "K"};
    for (const auto& entry : d) {
      const std::string key = py::str(entry.first);
      bool known = false;
      for (int i = 0; i < 5; ++i)
        if (key == keys[i]) {
          parts[i] = py::reinterpret_borrow<py::object>(entry.second);
          known = true;
        }
      if (!known)
        throw py::value_error(where + " has the unknown key '" + key +
                              "'; the keys are points, observations, start, weights and K");
    }
    for (int i = 0; i < 3; ++i)
      if (!parts[i]) throw py::value_error(where + " lacks the key '" + keys[i] + "'");
  } else if (py::isinstance<py::tuple>(item) || py::isinstance<py::list>(item)) {
    const py::sequence s = py::reinterpret_borrow<py::sequence>(item);
    if (s.size() < 3 || s.size() > 5)
      throw py::value_error(where + " must be (points, observations, start[, weights[, K]]), got " +
                            std::to_string(s.size()) + " items");
    for (std::size_t i = 0; i < s.size(); ++i) parts[i] = s[i];
  } else {
    throw py::type_error(where + " must be a tuple (points, observations, start[, weights[, K]]) or a dict, got " +
                         py::str(py::type::of(item)).cast<std::string>());
  }
}

// The view of an array held by the batch.
Values_view held(Batch_frames& batch, Float_array array) {
  const Values_view view(array.data(), static_cast<std::size_t>(array.size()));
  batch.arrays.push_back(std::move(array));
  return view;
}

void add_frame(const py::handle& item, std::size_t index, int rotation_code, Batch_frames& batch) {
  const std::string where = "frames[" + std::to_string(index) + "]";
  py::object parts[5];
  frame_parts(item, where, parts);
  Pose_frame_view frame;
  Float_array p = float_array(parts[0], (where + ".points").c_str(), {{any_size, 3}});
  const py::ssize_t n = p.shape(0);
  frame.points = Points_view(held(batch, std::move(p)).data, static_cast<std::size_t>(n));
  frame.observations = held(
      batch, float_array(parts[1], (where + ".observations").c_str(), {{n, observation_columns(rotation_code)}}));
  frame.start = held(batch, float_array(parts[2], (where + ".start").c_str(), {{any_size}}));
  if (parts[3] && !parts[3].is_none())
    frame.weights = held(batch, float_array(parts[3], (where + ".weights").c_str(), {{any_size}}));
  batch.own_K.emplace_back();
  if (parts[4] && !parts[4].is_none())
    batch.own_K.back() = matrix_of(float_array(parts[4], (where + ".K").c_str(), {{3, 3}}));
  batch.views.push_back(frame);
}

// Frames of a list converted between two looks for Ctrl-C.
constexpr std::size_t kFramesPerSignalCheck = 256;
// Stacked frames viewed between two looks for Ctrl-C.
constexpr py::ssize_t kStackedFramesPerSignalCheck = 65536;

// Frames given as stacked arrays (points F x N x 3, observations F x N x 2 or
// 3, starts F x D[, weights F x W]): each frame views its slices of the buffers.
void add_stacked_frames(const py::sequence& stacked, int rotation_code, Batch_frames& batch) {
  const Float_array p = float_array(stacked[0], "points", {{any_size, any_size, 3}});
  const py::ssize_t count = p.shape(0), n = p.shape(1);
  const py::ssize_t columns = observation_columns(rotation_code);
  const Float_array obs = float_array(stacked[1], "observations", {{count, n, columns}});
  const Float_array starts = float_array(stacked[2], "starts", {{count, any_size}});
  Float_array weights;
  const bool weighted = stacked.size() > 3 && !py::object(stacked[3]).is_none();
  if (weighted) weights = float_array(stacked[3], "weights", {{count, any_size}});
  const py::ssize_t dims = starts.shape(1), wn = weighted ? weights.shape(1) : 0;
  const std::size_t points = static_cast<std::size_t>(n);
  batch.views.resize(static_cast<std::size_t>(count));
  batch.own_K.resize(static_cast<std::size_t>(count));
  for (py::ssize_t f = 0; f < count; ++f) {
    Pose_frame_view& frame = batch.views[static_cast<std::size_t>(f)];
    frame.points = Points_view(p.data() + f * n * 3, points);
    frame.observations = Values_view(obs.data() + f * n * columns, points * static_cast<std::size_t>(columns));
    frame.start = Values_view(starts.data() + f * dims, static_cast<std::size_t>(dims));
    if (weighted) frame.weights = Values_view(weights.data() + f * wn, static_cast<std::size_t>(wn));
    if (f % kStackedFramesPerSignalCheck == 0 && PyErr_CheckSignals() != 0) throw py::error_already_set();
  }
  batch.arrays = {p, obs, starts};
  if (weighted) batch.arrays.push_back(weights);
}

bool is_stacked(const py::handle& frames) {
  if (!py::isinstance<py::tuple>(frames) && !py::isinstance<py::list>(frames)) return false;
  const py::sequence s = py::reinterpret_borrow<py::sequence>(frames);
  if (s.size() < 3 || s.size() > 4) return false;
  const py::object first = s[0];
  return py::isinstance<py::array>(first) && py::reinterpret_borrow<py::array>(first).ndim() == 3;
}

// ---- refine_poses: the run --------------------------------------------------------

// How often the waiting caller looks at the batch for Ctrl-C, and the longest
// the batch runs between two looks at its cancel flag.
constexpr double kPollSeconds = 0.1;
// The shortest time between two of the batch's reports.
constexpr double kShortestReportSeconds = 0.001;

// What the thread running the batch and the Python caller waiting for it share.
// The batch's progress reports that are due for the Python callback wait for
// its answer, so that the answer takes effect at once: a callback that says
// stop at its first call stops the batch before any frame runs.
struct Batch_state {
  std::mutex mutex;
  std::condition_variable asked;     // the batch asks, or has finished
  std::condition_variable answered;  // the caller answered, or cancelled
  bool finished = false;
  bool asking = false;  // a report waits for the Python callback
  std::size_t done = 0, total = 0;
  std::atomic<bool> cancel{false};
};

void cancel_batch(Batch_state& state) {
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.cancel = true;
    state.asking = false;
  }
  state.answered.notify_all();
}

// Joins the batch's thread on every way out, cancelling it when the caller
// leaves early.
struct Batch_joiner {
  std::thread& runner;
  Batch_state& state;
  ~Batch_joiner() {
    if (!runner.joinable()) return;
    cancel_batch(state);
    py::gil_scoped_release unlocked;
    runner.join();
  }
};

// The batch's progress callback: hands the reports that are due (the first,
// the last, then at most every `interval` seconds) to the caller and waits
// for its answer; between them it only passes a cancellation on.
Pose_batch_progress progress_relay(Batch_state& state, bool forward, double interval) {
  auto last = std::make_shared<std::chrono::steady_clock::time_point>();
  auto first = std::make_shared<bool>(true);
  return [&state, forward, interval, last, first](std::size_t done, std::size_t total) {
    std::unique_lock<std::mutex> lock(state.mutex);
    const auto now = std::chrono::steady_clock::now();
    const bool due = *first || done == total || now - *last >= std::chrono::duration<double>(interval);
    if (forward && due && !state.cancel) {
      *first = false;
      *last = now;
      state.done = done;
      state.total = total;
      state.asking = true;
      state.asked.notify_one();
      state.answered.wait(lock, [&] { return !state.asking || state.cancel.load(); });
    }
    return !state.cancel.load();
  };
}

// Whether the callback's answer lets the batch go on: anything but a false
// value (False, 0, numpy.False_); None, a callback's plain return, goes on.
bool goes_on(const py::object& answer) {
  if (answer.is_none()) return true;
  const int truth = PyObject_IsTrue(answer.ptr());
  if (truth < 0) throw py::error_already_set();
  return truth != 0;
}

// The calling thread's part while the batch runs: answers the batch's
// reports with the Python callback and looks for Ctrl-C, the interpreter lock
// released between looks. Either's exception cancels the batch and is
// returned, to be raised once the batch has returned.
std::unique_ptr<py::error_already_set> serve_batch(Batch_state& state, const py::object& progress) {
  std::unique_ptr<py::error_already_set> raised;
  const auto poll = std::chrono::duration<double>(kPollSeconds);
  for (bool finished = false; !finished;) {
    bool asking = false;
    std::size_t done = 0, total = 0;
    {
      py::gil_scoped_release unlocked;
      std::unique_lock<std::mutex> lock(state.mutex);
      state.asked.wait_for(lock, poll, [&] { return state.finished || state.asking; });
      finished = state.finished;
      asking = state.asking;
      done = state.done;
      total = state.total;
    }
    if (state.cancel) continue;
    if (PyErr_CheckSignals() != 0) {
      raised.reset(new py::error_already_set());
      cancel_batch(state);
      continue;
    }
    if (!asking) continue;
    bool go_on = false;
    try {
      go_on = goes_on(progress(done, total));
    } catch (py::error_already_set& e) {
      raised.reset(new py::error_already_set(std::move(e)));
    }
    if (!go_on) {
      cancel_batch(state);
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(state.mutex);
      state.asking = false;
    }
    state.answered.notify_all();
  }
  return raised;
}

// Runs refine_poses on a thread of its own while the calling thread, with the
// interpreter lock released between looks, hands progress on to the Python
// callback, checks for Ctrl-C and turns either's exception into a
// cancellation. The callback therefore runs on the calling thread. The Python
// exception, if any, is raised once the batch has returned.
std::vector<Pose_frame_result> run_batch(const Camera_model& camera, const std::vector<Pose_frame_view>& frames,
                                         Pose_batch_options options, const py::object& progress,
                                         double interval) {
  Batch_state state;
  options.progress = progress_relay(state, !progress.is_none(), interval);
  // Reports at least as often as the callback is due, and never back to back.
  options.progress_interval = std::max(std::min(interval, kPollSeconds), kShortestReportSeconds);

  std::vector<Pose_frame_result> results;
  std::exception_ptr failure;
  std::thread runner([&] {
    try {
      results = refine_poses(camera, frames, options);
    } catch (...) {
      failure = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(state.mutex);
      state.finished = true;
    }
    state.asked.notify_one();
  });
  Batch_joiner joiner{runner, state};

  std::unique_ptr<py::error_already_set> raised = serve_batch(state, progress);
  {
    py::gil_scoped_release unlocked;
    runner.join();
  }
  if (raised) throw py::error_already_set(*raised);
  if (failure) std::rethrow_exception(failure);
  return results;
}

// refine_poses' per-frame outcomes: a sequence of RefineSummary made on
// access, so that a batch of many frames returns without building them all.
struct Batch_summaries {
  std::vector<Pose_frame_result> results;

  std::size_t size() const { return results.size(); }

  Refine_summary at(py::ssize_t index) const {
    const py::ssize_t count = static_cast<py::ssize_t>(results.size());
    if (index < 0) index += count;
    if (index < 0 || index >= count) throw py::index_error("frame index out of range");
    const Pose_frame_result& r = results[static_cast<std::size_t>(index)];
    Refine_summary s = summary_of(Pose_summary(r.result.summary));
    s.ok = r.ok;
    s.error = error_cause(r.error);
    if (!s.ok) s.stop_reason.clear();
    return s;
  }

  py::array_t<bool> ok() const {
    py::array_t<bool> out(static_cast<py::ssize_t>(results.size()));
    bool* data = out.mutable_data();
    for (std::size_t f = 0; f < results.size(); ++f) data[f] = results[f].ok;
    return out;
  }
};

// The frames of refine_poses' argument: stacked arrays or a list of frames,
// converted with a look for Ctrl-C every kFramesPerSignalCheck frames.
Batch_frames frames_of(const py::object& frames, int rotation_code) {
  Batch_frames batch;
  if (is_stacked(frames)) {
    add_stacked_frames(py::reinterpret_borrow<py::sequence>(frames), rotation_code, batch);
  } else if (py::isinstance<py::sequence>(frames) && !py::isinstance<py::str>(frames)) {
    const py::sequence s = py::reinterpret_borrow<py::sequence>(frames);
    batch.views.reserve(s.size());
    batch.own_K.reserve(s.size());
    batch.arrays.reserve(3 * s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
      add_frame(s[i], i, rotation_code, batch);
      if (i % kFramesPerSignalCheck == 0 && PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
  } else {
    throw py::type_error("frames must be a list of (points, observations, start[, weights[, K]]) or of dicts, or "
                         "stacked arrays (points F x N x 3, observations F x N x 2 or 3, starts F x D[, weights]), "
                         "got " + py::str(py::type::of(frames)).cast<std::string>());
  }
  return batch;
}

// The batch's camera: K's (or the CameraModel given), the identity when K is
// None (every frame then has its own K, or the code takes bearing vectors).
Camera_model batch_camera(const py::object& K, const Batch_frames& batch, int rotation_code,
                          const py::object& distortion, bool fisheye) {
  if (!K.is_none()) return camera_of(K, distortion, fisheye);
  if (!is_bearing_code(rotation_code))
    for (std::size_t i = 0; i < batch.own_K.size(); ++i)
      if (batch.own_K[i].get_dim1() == 0)
        throw py::value_error("K is None and frames[" + std::to_string(i) + "] has no K of its own");
  return camera_of(array_of(identity3()), distortion, fisheye);
}

// The cameras of the frames with a K of their own, each behind the batch's
// lens. A K the library refuses fails its frame alone: the reason is returned
// in that frame's place (empty for the others).
std::vector<std::string> attach_cameras(Batch_frames& batch, const Camera_model& camera) {
  std::vector<std::string> refusals(batch.views.size());
  for (std::size_t f = 0; f < batch.views.size(); ++f) {
    if (batch.own_K[f].get_dim1() == 0) continue;
    try {
      Camera_model own = make_camera_model(batch.own_K[f]);
      own.lens = camera.lens;
      batch.cameras.push_back(own);
      batch.views[f].camera = &batch.cameras.back();
    } catch (const exception_l& e) {
      refusals[f] = e.what();
    }
  }
  return refusals;
}

// The batch run over the frames that were not refused, the refused ones
// failed with their reason in their places.
std::vector<Pose_frame_result> run_frames(const Camera_model& camera, const Batch_frames& batch,
                                          const std::vector<std::string>& refusals, Pose_batch_options options,
                                          const py::object& progress, double interval) {
  std::vector<std::size_t> refused;
  for (std::size_t f = 0; f < refusals.size(); ++f)
    if (!refusals[f].empty()) refused.push_back(f);
  if (refused.empty()) return run_batch(camera, batch.views, std::move(options), progress, interval);
  std::vector<Pose_frame_view> good;
  for (std::size_t f = 0; f < batch.views.size(); ++f)
    if (refusals[f].empty()) good.push_back(batch.views[f]);
  std::vector<Pose_frame_result> ran = run_batch(camera, good, std::move(options), progress, interval);
  std::vector<Pose_frame_result> results(batch.views.size());
  for (std::size_t f = 0, g = 0; f < results.size(); ++f) {
    if (refusals[f].empty()) results[f] = std::move(ran[g++]);
    else results[f].error = refusals[f];
  }
  return results;
}

// The refined vectors as an F x D array, NaN rows where a frame failed.
py::array_t<double> stacked_results(const std::vector<Pose_frame_result>& results,
                                    const std::vector<Pose_frame_view>& frames) {
  // The width of the result: that of the first frame refined, else of the first start.
  std::size_t dims = 0;
  for (const auto& r : results)
    if (r.ok) {
      dims = r.result.x.size();
      break;
    }
  if (dims == 0 && !frames.empty()) dims = frames.front().start.size();
  const py::ssize_t count = static_cast<py::ssize_t>(results.size());
  py::array_t<double> x({count, static_cast<py::ssize_t>(dims)});
  double* xd = x.mutable_data();
  for (std::size_t f = 0; f < results.size(); ++f) {
    const Pose_frame_result& r = results[f];
    double* row = xd + f * dims;
    if (r.ok && r.result.x.size() == dims) {
      for (std::size_t d = 0; d < dims; ++d) row[d] = r.result.x[d];
    } else {
      for (std::size_t d = 0; d < dims; ++d) row[d] = std::numeric_limits<double>::quiet_NaN();
    }
  }
  return x;
}

py::tuple refine_poses_py(const py::object& K, const py::object& frames, int threads, const py::object& progress,
                          double progress_interval, int rotation_code, int max_iters, double min_x_step,
                          double min_y_step, bool finite_differences, const py::object& weights,
                          const std::string& loss, double loss_scale, double sigma, bool covariance,
                          const py::object& distortion, bool fisheye) {
  if (!progress.is_none() && !PyCallable_Check(progress.ptr()))
    throw py::type_error("progress must be a callable (done, total) or None, got " +
                         py::str(py::type::of(progress)).cast<std::string>());
  Pose_batch_options options;
  options.refine = refine_options_of(rotation_code, max_iters, min_x_step, min_y_step, finite_differences, weights,
                                     loss, loss_scale, sigma, covariance);
  options.threads = threads;
  options.progress_interval = progress_interval;
  // The batch's own rules, in its own words.
  const std::string broken = options.broken_rule();
  if (!broken.empty()) throw py::value_error(broken);

  Batch_frames batch = frames_of(frames, rotation_code);
  const Camera_model camera = batch_camera(K, batch, rotation_code, distortion, fisheye);
  const std::vector<std::string> refusals = attach_cameras(batch, camera);
  std::vector<Pose_frame_result> results =
      run_frames(camera, batch, refusals, std::move(options), progress, progress_interval);

  py::array_t<double> x = stacked_results(results, batch.views);
  return py::make_tuple(std::move(x), py::cast(Batch_summaries{std::move(results)}));
}

}  // namespace

// refine_poses and its summaries' sequence.
static void bind_refine_poses(py::module_& m);

void bind_pose_batch(py::module_& m) {
  py::class_<Pose_estimate>(m, "PoseEstimate",
                            "What estimate_pose found: x (rotation vector, then camera centre; the\n"
                            "start of refine_pose's code 0), R (camera axes to world axes), centre,\n"
                            "inliers (bool array), num_inliers, iterations (samples drawn) and summary,\n"
                            "the RefineSummary of the final refinement on the inliers.")
      .def_readonly("x", &Pose_estimate::x)
      .def_readonly("R", &Pose_estimate::R)
      .def_readonly("centre", &Pose_estimate::centre)
      .def_readonly("inliers", &Pose_estimate::inliers)
      .def_readonly("num_inliers", &Pose_estimate::num_inliers)
      .def_readonly("iterations", &Pose_estimate::iterations)
      .def_readonly("summary", &Pose_estimate::summary)
      .def("to_dict", &Pose_estimate::to_dict, "The fields as a dict, the summary as a dict too.")
      .def("__repr__", [](const Pose_estimate& e) {
        return "PoseEstimate(num_inliers=" + std::to_string(e.num_inliers) +
               ", iterations=" + std::to_string(e.iterations) + ", x=" + py::repr(e.x).cast<std::string>() + ")";
      });

  const Pose_estimate_options est;
  m.def("estimate_pose", &estimate_pose_py, py::arg("K"), py::arg("points"), py::arg("observations"),
        py::kw_only(), py::arg("bearing") = est.bearing, py::arg("threshold") = est.threshold,
        py::arg("confidence") = est.confidence, py::arg("min_iterations") = est.min_iterations,
        py::arg("max_iterations") = est.max_iterations, py::arg("seed") = static_cast<long long>(est.seed),
        py::arg("loss") = std::string(loss_name(est.loss)), py::arg("loss_scale") = est.loss_scale,
        py::arg("refine_iterations") = est.refine_iterations, py::arg("distortion") = py::none(),
        py::arg("fisheye") = false,
        "Camera pose from 2-D/3-D correspondences of which any share may be wrong; returns\n"
        "a PoseEstimate.\n\n"
        "K: 3 x 3 intrinsics (may be None with bearing=True) or a CameraModel. distortion,\n"
        "fisheye: OpenCV's coefficients as refine_pose takes them; with them the samples\n"
        "are solved on the undistorted pixels while scoring and refinement run in the\n"
        "observed pixels, so that threshold stays in pixels; a pixel the lens cannot\n"
        "undistort is no inlier. points: N x 3 world points.\n"
        "observations: N x 2 pixels, or with bearing=True N x 3 camera-frame bearing\n"
        "vectors (z > 0). A random search over P3P samples (threshold: largest inlier\n"
        "error, pixels or normalised image units; confidence; min_iterations and\n"
        "max_iterations bound the samples; the same seed gives the same result), UPnP on\n"
        "the inliers, then refine_pose with the robust loss ('cauchy' by default;\n"
        "loss_scale 0: the threshold) for at most refine_iterations steps. Raises\n"
        "trel.Error when no pose has enough inliers or the input is degenerate. The\n"
        "interpreter lock is released while it runs; Ctrl-C stops the random search.");

  bind_refine_poses(m);
}

static void bind_refine_poses(py::module_& m) {
  py::class_<Batch_summaries>(m, "BatchSummaries",
                              "refine_poses' outcome per frame: a sequence of RefineSummary (len, [i],\n"
                              "iteration), each made when asked for; ok gives every frame's flag as a\n"
                              "bool array, errors the messages ('' where ok).")
      .def("__len__", &Batch_summaries::size)
      .def("__getitem__", &Batch_summaries::at)
      .def_property_readonly("ok", &Batch_summaries::ok)
      .def_property_readonly("errors",
                             [](const Batch_summaries& b) {
                               py::list out;
                               for (const auto& r : b.results) out.append(text_of(error_cause(r.error)));
                               return out;
                             })
      .def("__repr__", [](const Batch_summaries& b) {
        std::size_t failed = 0;
        for (const auto& r : b.results) failed += r.ok ? 0 : 1;
        return "BatchSummaries(frames=" + std::to_string(b.results.size()) + ", failed=" + std::to_string(failed) +
               ")";
      });

  const Pose_refine_options defaults;
  const Pose_batch_options batch_defaults;
  m.def("refine_poses", &refine_poses_py, py::arg("K"), py::arg("frames"), py::kw_only(),
        py::arg("threads") = batch_defaults.threads, py::arg("progress") = py::none(),
        py::arg("progress_interval") = batch_defaults.progress_interval,
        py::arg("rotation_code") = defaults.rotation_code, py::arg("max_iters") = defaults.max_iters,
        py::arg("min_x_step") = double(defaults.min_x_step), py::arg("min_y_step") = double(defaults.min_y_step),
        py::arg("finite_differences") = defaults.finite_differences, py::arg("weights") = py::none(),
        py::arg("loss") = "squared", py::arg("loss_scale") = defaults.loss_scale,
        py::arg("sigma") = defaults.sigma, py::arg("covariance") = defaults.covariance,
        py::arg("distortion") = py::none(), py::arg("fisheye") = false,
        "Refines many camera poses on a pool of threads; returns (X, summaries).\n\n"
        "frames: a list of frames, each a tuple (points, observations, start[, weights[, K]])\n"
        "or a dict with those keys, or, when every frame has N points, stacked arrays\n"
        "(points F x N x 3, observations F x N x 2 (F x N x 3 for the bearing-vector\n"
        "codes), starts F x D[, weights F x W]). K: the 3 x 3 intrinsics of every frame\n"
        "without its own (None: the identity for the bearing-vector codes). The options\n"
        "are refine_pose's and hold for every frame; weights is used by the frames\n"
        "without their own. threads: 0 for one per core.\n\n"
        "X: F x D array, row f the refined vector of frame f, bit for bit the result of\n"
        "refine_pose on that frame, NaN where the frame failed. summaries: a\n"
        "BatchSummaries, the sequence of one RefineSummary per frame, ok False and error\n"
        "the message when it failed; the other frames go on.\n\n"
        "progress: None or a callable progress(done, total) called on the calling thread\n"
        "at most every progress_interval seconds and once at the end; returning False\n"
        "cancels the batch (frames not yet started fail with error 'cancelled'), an\n"
        "exception raised in it cancels the batch and is raised again when the running\n"
        "frames are done. Ctrl-C cancels the same way. The interpreter lock is released\n"
        "while the frames are refined.");
}

}  // namespace python
}  // namespace trel
