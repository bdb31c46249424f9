#include "camera_pose_refine/camera_pose_refine.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <sstream>
#include <string>

#include "trel_tools/exception_l.h"

namespace trel {
namespace {

// Every frame of the entry carries the host entry point's signature, whichever
// function of this file detects the problem.
const char* const k_entry_signature = "void mexFunction(int, mxArray**, int, const mxArray**)";

#define CPR_THROW(message_parts)                                                               \
  do {                                                                                         \
    std::stringstream cpr_detail_stream_;                                                      \
    cpr_detail_stream_ << message_parts;                                                       \
    ::trel::detail::throw_origin(__FILE__, __LINE__, k_entry_signature,                        \
                                 cpr_detail_stream_.str());                                    \
  } while (0)

#define CPR_CHECK(condition, message_parts) \
  do {                                      \
    if (!(condition)) CPR_THROW(message_parts); \
  } while (0)

struct Rotation_type_info {
  int code;
  int nrot;
  int observation_rows;
  int repetitions;
  double rotation_step;  // finite-difference step of each rotation value
};

const Rotation_type_info k_rotation_types[] = {
    {0, 3, 2, 1, 0.0314},  {1, 4, 2, 1, 0.0314},  {2, 4, 2, 1, 0.314},  {3, 4, 2, 1, 0.314},
    {10, 3, 3, 1, 0.0314}, {11, 4, 3, 1, 0.0314}, {12, 4, 3, 1, 0.314}, {-1, 4, 2, 3, 0.314},
    {-2, 3, 2, 3, 0.0314}, {-3, 4, 2, 3, 0.0314},
};

const double k_position_step = 0.01;

const Rotation_type_info* find_rotation_type(int code) {
  for (const Rotation_type_info& info : k_rotation_types)
    if (info.code == code) return &info;
  return nullptr;
}

const char* const k_help_lines =
    "(1) a vector of 9/10 camera parameters (r1,r2,r3(,r4),t1,t2,t3, k11,k13,k23). The first "
    "6/7 constitute the search vector x, ther others are constant intrinsics\n"
    "(2) a matrix of 3d points\n"
    "(3) a matrix of 2d points\n"
    "(4) a vector of stopping criteria (max_iters, min_x_step, min_y_step, use_finite_difference) "
    "optional"
    "(5) a flag indicating rotation type (0=aau, 1=aan, 2=qu, 3=qn,   10=aau-bv, 11=aan-bv, "
    "12=qu-bv,   -1=qu,aau,aan, -2=aau,qu,aan,  -3=aan,qu,aau) optional, default=0\n"
    "(6) a vector of weights for the various equations (most useful for hybrid representation, or "
    "confidence of points) optional\n";

bool is_vector(const Mex_host& host, const Mex_array* a) {
  return host.get_m(a) == 1 || host.get_n(a) == 1;
}

// Element k of an array already known to be a row or a column.
double vector_element(const Mex_host& host, const Mex_array* a, std::size_t k) {
  return host.get_m(a) == 1 ? mex_matrix_access(host, a, 0, k) : mex_matrix_access(host, a, k, 0);
}

// Saturates instead of leaving out-of-range values to an undefined conversion.
float narrow_to_float(double v) {
  if (v > static_cast<double>(FLT_MAX)) return INFINITY;
  if (v < -static_cast<double>(FLT_MAX)) return -INFINITY;
  return static_cast<float>(v);
}

}  // namespace

std::vector<double> Pose_refine_arguments::finite_difference_steps() const {
  const Rotation_type_info* info = find_rotation_type(rotation_type);
  std::vector<double> steps(static_cast<std::size_t>(nrot), info ? info->rotation_step : 0.0314);
  steps.insert(steps.end(), 3, k_position_step);
  return steps;
}

Pose_refine_arguments read_pose_refine_arguments(const Mex_host& host, int nlhs, int nrhs,
                                                 const Mex_array* const prhs[]) {
  Pose_refine_arguments args;

  CPR_CHECK(nrhs >= 3 && nrhs <= 6,
            "3 to 6 inputs required. Got " << nrhs << " Arguments should be: \n" << k_help_lines);
  CPR_CHECK(nlhs == 1, "1 output required. Got " << nlhs);

  if (nrhs >= 5) {
    const Mex_array* in5 = prhs[4];
    CPR_CHECK(host.is_double(in5) && host.get_m(in5) == 1 && host.get_n(in5) >= 1,
              "Double scalar expected as rotation type, got " << host.get_m(in5) << " by "
                                                              << host.get_n(in5) << " of "
                                                              << host.get_class_name(in5));
    const double value = host.get_scalar(in5);
    // Every valid code lies in (-4, 13); testing the range first keeps NaN, infinities
    // and huge values away from the truncating conversion, where they are undefined.
    const Rotation_type_info* info = nullptr;
    if (value > -4.0 && value < 13.0) info = find_rotation_type(static_cast<int>(value));
    CPR_CHECK(info != nullptr,
              "Rotation type must be from: (0=aau, 1=aan, 2=qu, 3=qn,   10=aau-bv, 11=aan-bv, "
              "12=qu-bv,   -1=qu,aau,aan, -2=aau,qu,aan,  -3=aan,qu,aau), got an invalid value of "
                  << value);
    args.rotation_type = info->code;
  }
  const Rotation_type_info& type = *find_rotation_type(args.rotation_type);
  args.nrot = type.nrot;
  args.observation_rows = type.observation_rows;
  args.repetitions = type.repetitions;
  args.ndims = type.nrot + 3;

  const Mex_array* in1 = prhs[0];
  CPR_CHECK(host.is_double(in1), "Input 1 should be an double vector");
  CPR_CHECK(is_vector(host, in1), "Input 1 should be a vector, instead found sizes of "
                                      << host.get_m(in1) << " by " << host.get_n(in1));
  const std::size_t num_params = static_cast<std::size_t>(args.nrot) + 6;
  CPR_CHECK(host.get_m(in1) * host.get_n(in1) == num_params,
            "Input 1 should be a vector of "
                << num_params
                << " camera parameters (r1,r2,r3(,r4),t1,t2,t3, k11,k13,k23), instead it had "
                << host.get_m(in1) * host.get_n(in1));
  const std::size_t ndims = static_cast<std::size_t>(args.ndims);
  args.x.resize(ndims);
  for (std::size_t k = 0; k < ndims; ++k) args.x[k] = vector_element(host, in1, k);
  args.k11 = vector_element(host, in1, ndims);
  args.k13 = vector_element(host, in1, ndims + 1);
  args.k23 = vector_element(host, in1, ndims + 2);

  const Mex_array* in2 = prhs[1];
  CPR_CHECK(host.is_double(in2), "Input 2 should be an double matrix");
  CPR_CHECK(host.get_m(in2) == 3,
            "Input 2 should be a matrix of 3D points, with size N by 3. instead size of "
                << host.get_m(in2) << " by " << host.get_n(in2) << " was passed");
  const std::size_t npts = host.get_n(in2);
  args.points.assign(npts, std::vector<double>(3));
  for (std::size_t i = 0; i < npts; ++i)
    for (std::size_t r = 0; r < 3; ++r) args.points[i][r] = mex_matrix_access(host, in2, r, i);
  args.npts = static_cast<int>(npts);

  const Mex_array* in3 = prhs[2];
  const std::size_t rows = static_cast<std::size_t>(args.observation_rows);
  CPR_CHECK(host.is_double(in3), "Input 3 should be an double matrix");
  CPR_CHECK(host.get_n(in3) == npts && host.get_m(in3) == rows,
            "Input 3 should be a matrix of observations (pixel/bearing vecs), with size "
                << npts << " by " << rows << ". instead size of " << host.get_n(in3) << " by "
                << host.get_m(in3) << " was passed");
  const std::size_t block = rows * npts;
  args.num_eqs = static_cast<int>(block) * args.repetitions;
  args.target.assign(block * static_cast<std::size_t>(args.repetitions), 0.0);
  for (std::size_t j = 0; j < static_cast<std::size_t>(args.repetitions); ++j)
    for (std::size_t i = 0; i < npts; ++i)
      for (std::size_t r = 0; r < rows; ++r)
        args.target[j * block + i * rows + r] = mex_matrix_access(host, in3, r, i);

  if (nrhs >= 4) {
    const Mex_array* in4 = prhs[3];
    CPR_CHECK(host.is_double(in4), "Input 4 should be an double vector");
    CPR_CHECK(is_vector(host, in4) && host.get_number_of_elements(in4) == 4,
              "Input 4 should be a vector of stopping criteria, with 4 elements. instead size of "
                  << host.get_m(in4) << " by " << host.get_n(in4) << " was passed");
    const double max_iters = vector_element(host, in4, 0);
    // Truncation toward zero is defined only for values that fit an int.
    CPR_CHECK(max_iters > static_cast<double>(INT_MIN) - 1.0 &&
                  max_iters < static_cast<double>(INT_MAX) + 1.0,
              "Input 4 should hold max_iters as a finite number within the int range, instead got "
                  << max_iters);
    args.max_iters = static_cast<int>(max_iters);
    args.min_x_step = narrow_to_float(vector_element(host, in4, 1));
    args.min_y_step = narrow_to_float(vector_element(host, in4, 2));
    args.use_finite_difference = vector_element(host, in4, 3) != 0.0;
  }

  if (nrhs == 6) {
    const Mex_array* in6 = prhs[5];
    const std::size_t num_eqs = static_cast<std::size_t>(args.num_eqs);
    CPR_CHECK(host.is_double(in6) && is_vector(host, in6) &&
                  host.get_m(in6) * host.get_n(in6) == num_eqs,
              "Double vector of length " << num_eqs << " expected as weightings, got "
                                         << host.get_m(in6) << " by " << host.get_n(in6)
                                         << " of " << host.get_class_name(in6));
    args.weights.resize(num_eqs);
    for (std::size_t k = 0; k < num_eqs; ++k) args.weights[k] = vector_element(host, in6, k);
  }

  return args;
}

}  // namespace trel
