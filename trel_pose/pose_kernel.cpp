#include "trel_pose/pose_kernel.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <type_traits>

#include "trel_tools/exception_l.h"

namespace trel {

template <typename T>
void rotate_by_vector(const T delta[3], T R[9]) {
  const T squared = delta[0] * delta[0] + delta[1] * delta[1] + delta[2] * delta[2];
  T a, b;  // sin(theta) / theta, (1 - cos(theta)) / theta^2
  if (squared < T(1e-8)) {
    a = T(1) - squared / T(6) + squared * squared / T(120);
    b = T(0.5) - squared / T(24) + squared * squared / T(720);
  } else {
    const T theta = std::sqrt(squared);
    a = std::sin(theta) / theta;
    b = (T(1) - std::cos(theta)) / squared;
  }
  const T x = delta[0], y = delta[1], z = delta[2];
  // exp([d]x) = I + a [d]x + b [d]x^2.
  const T E[9] = {T(1) - b * (y * y + z * z), -a * z + b * x * y,          a * y + b * x * z,
                  a * z + b * x * y,          T(1) - b * (x * x + z * z), -a * x + b * y * z,
                  -a * y + b * x * z,         a * x + b * y * z,          T(1) - b * (x * x + y * y)};
  T out[9];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) out[3 * r + c] = E[3 * r] * R[c] + E[3 * r + 1] * R[3 + c] + E[3 * r + 2] * R[6 + c];
  std::copy(out, out + 9, R);
}

template <typename T>
struct Pose_kernel<T>::Problem {
  const Pose_kernel_input<T>* in;
  const Pose_kernel_settings<T>* settings;
  bool lens = false;     // a camera distorts: the lens projector for every camera
  bool offsets = false;  // a camera lies off the rig origin
};

namespace {

// rho(s) and rho'(s) of trel_opt/robust_loss.h for one loss, inline.
template <Loss L, typename T>
inline void loss_and_weight(T s, T c, T& rho, T& weight) {
  robust_loss_terms<L>(s, c, rho, weight);
}

template <typename Projector, typename T>
Projector projector_for(const Lens_camera_model<T>& model, const T* R_cam_to_world) {
  if constexpr (std::is_same_v<Projector, Camera_frame_at_pose<T>>) {
    (void)model;
    return Camera_frame_at_pose<T>(R_cam_to_world);
  } else if constexpr (std::is_same_v<Projector, Pinhole_at_pose<T>>) {
    return Pinhole_at_pose<T>(model.pinhole, R_cam_to_world);
  } else {
    return Lens_camera_at_pose<T>(model, R_cam_to_world);
  }
}

// Every camera's projector and centre at one rig pose (R, t), built once per
// pass; a few cameras need no allocation.
template <typename T, typename Projector>
class Posed_cameras {
public:
  // offsets: false when every camera sits at the rig origin (the rig pose is the camera pose).
  Posed_cameras(const Pose_kernel_input<T>& in, const T* R, const T* t, bool offsets = true)
      : count_(in.camera_count) {
    if (count_ > kInline) {
      heap_.resize(count_);
      heap_centres_.resize(3 * count_);
    }
    Projector* at = count_ > kInline ? heap_.data() : inline_;
    T* centres = count_ > kInline ? heap_centres_.data() : inline_centres_;
    for (std::size_t c = 0; c < count_; ++c) {
      if (!offsets) {
        std::copy(t, t + 3, centres + 3 * c);
        at[c] = projector_for<Projector>(in.cameras[c].model, R);
        continue;
      }
      T R_cam_to_world[9];
      camera_pose_in_world(in.cameras[c], R, t, R_cam_to_world, centres + 3 * c);
      at[c] = projector_for<Projector>(in.cameras[c].model, R_cam_to_world);
    }
  }
  Posed_cameras(const Posed_cameras& other) = delete;
  Posed_cameras& operator=(const Posed_cameras& other) = delete;

  const Projector& at(std::size_t c) const { return count_ > kInline ? heap_[c] : inline_[c]; }
  const T* centre(std::size_t c) const { return (count_ > kInline ? heap_centres_.data() : inline_centres_) + 3 * c; }

private:
  static constexpr std::size_t kInline = 4;
  std::size_t count_;
  Projector inline_[kInline];
  T inline_centres_[3 * kInline];
  std::vector<Projector> heap_;
  std::vector<T> heap_centres_;
};

template <typename T>
inline std::size_t camera_of(const Pose_kernel_input<T>& in, std::size_t i) {
  return in.camera_of_point ? static_cast<std::size_t>(in.camera_of_point[i]) : 0;
}

// The Jacobian rows by central differences: the rig rotation perturbed by
// exp([+-h e_k]x) (h = kPoseKernelDifferenceStep), the rig centre by
// +-h max(1, |t_k|, |X - t|) along axis k.
template <typename T, typename Projector, int Rows>
struct Difference_jacobian {
  std::vector<std::unique_ptr<Posed_cameras<T, Projector>>> turned;  // +e0, -e0, +e1, ...

  Difference_jacobian(const Pose_kernel_input<T>& in, const T* R, const T* t) {
    for (int k = 0; k < 3; ++k)
      for (T sign : {T(1), T(-1)}) {
        T delta[3] = {T(0), T(0), T(0)}, R_turned[9];
        std::copy(R, R + 9, R_turned);
        delta[k] = sign * T(kPoseKernelDifferenceStep);
        rotate_by_vector(delta, R_turned);
        turned.push_back(std::make_unique<Posed_cameras<T, Projector>>(in, R_turned, t));
      }
  }

  void rows(const Posed_cameras<T, Projector>& at, std::size_t c, const T* X, const T* t, T J[Rows][6]) const {
    T v[3], plus[Rows], minus[Rows], a[Rows][3];
    const T h = T(kPoseKernelDifferenceStep);
    for (int k = 0; k < 3; ++k) {
      const std::size_t up = 2 * static_cast<std::size_t>(k);
      turned[up]->at(c).rows(X, turned[up]->centre(c), v, plus, a);
      turned[up + 1]->at(c).rows(X, turned[up + 1]->centre(c), v, minus, a);
      for (int r = 0; r < Rows; ++r) J[r][k] = (plus[r] - minus[r]) / (T(2) * h);
    }
    const T distance = std::sqrt((X[0] - t[0]) * (X[0] - t[0]) + (X[1] - t[1]) * (X[1] - t[1]) +
                                 (X[2] - t[2]) * (X[2] - t[2]));
    const T* centre = at.centre(c);
    for (int k = 0; k < 3; ++k) {
      T c_plus[3] = {centre[0], centre[1], centre[2]}, c_minus[3] = {centre[0], centre[1], centre[2]};
      const T step = h * std::max({T(1), std::fabs(t[k]), distance});
      c_plus[k] += step;
      c_minus[k] -= step;
      at.at(c).rows(X, c_plus, v, plus, a);
      at.at(c).rows(X, c_minus, v, minus, a);
      for (int r = 0; r < Rows; ++r) J[r][3 + k] = (plus[r] - minus[r]) / (c_plus[k] - c_minus[k]);
    }
  }
};

// Point i's predicted rows at the posed cameras and, when J is given, their
// Jacobian rows with respect to the rig's (delta, t): analytic, (a x (X - t), -a),
// or by central differences when `difference` is given.
template <typename T, typename Projector, int Rows>
TREL_POSE_INLINE void point_rows(const Pose_kernel_input<T>& in, const Posed_cameras<T, Projector>& at,
                       const Difference_jacobian<T, Projector, Rows>* difference, bool offsets, std::size_t i,
                       const T* t, T predicted[Rows], T (*J)[6]) {
  const std::size_t c = camera_of(in, i);
  const T* X = in.points + 3 * i;
  T v[3], a[Rows][3];
  at.at(c).rows(X, at.centre(c), v, predicted, a);
  if (!J) return;
  if (difference) {
    difference->rows(at, c, X, t, J);
    return;
  }
  if (offsets) {
    v[0] = X[0] - t[0];
    v[1] = X[1] - t[1];
    v[2] = X[2] - t[2];
  }
  for (int r = 0; r < Rows; ++r) pose_jacobian_row(a[r], v, J[r]);
}

// Adds a point's weighted rows to the normal matrix's upper triangle and the gradient.
template <typename T, int Rows>
TREL_POSE_INLINE void accumulate_rows(const T J[Rows][6], const T w[Rows], const T residual[Rows], T normal[21],
                            T gradient[6]) {
  for (int r = 0; r < Rows; ++r) {
    T wj[6];
    for (int k = 0; k < 6; ++k) wj[k] = w[r] * J[r][k];
    for (int k = 0; k < 6; ++k) gradient[k] += wj[k] * residual[r];
    int e = 0;
    for (int k = 0; k < 6; ++k)
      for (int l = k; l < 6; ++l) normal[e++] += wj[k] * J[r][l];
  }
}

// The Cauchy cost of unit point weights as one log per pass: sum log(1 + x_i)
// = log(prod (1 + x_i)); an x_i too small for 1 + x_i to hold it goes to
// small_terms, one whose s / c^2 overflows takes rho from its own form.
template <typename T>
struct Cauchy_sum {
  T product = T(1);
  long exponent = 0;
  T small_terms = T(0);

  void add(T s, T c, T x) {
    if (x < T(kLossSeriesLimit)) {
      small_terms += s * log1p_ratio_series(x);
    } else if (!(x <= std::numeric_limits<T>::max())) {
      T rho, weight;
      loss_and_weight<Loss::cauchy>(s, c, rho, weight);
      small_terms += rho;
    } else {
      product *= T(1) + x;
      if (product > T(1e100)) {
        int e;
        product = std::frexp(product, &e);
        exponent += e;
      }
    }
  }
  T cost(T c) const {
    return c * (c * (std::log(product) + static_cast<T>(exponent) * T(0.69314718055994530942))) + small_terms;
  }
};

}  // namespace

// One pass over the points at the rig pose (R, t): e_i^2 into squared_, the
// cost returned and, when Accumulate, the weighted normal matrix and gradient
// J^T W r.
template <typename T>
template <typename Projector, int Rows, bool Accumulate, Loss L, bool Differences>
T Pose_kernel<T>::pass(const Problem& p, const T* R, const T* t) {
  const Pose_kernel_input<T>& in = *p.in;
  const T c = p.settings->loss_scale;
  const Posed_cameras<T, Projector> at(in, R, t, p.offsets);
  std::optional<Difference_jacobian<T, Projector, Rows>> difference;
  if constexpr (Differences) difference.emplace(in, R, t);
  T normal[21] = {};  // upper triangle, row by row
  T gradient[6] = {};
  T cost = T(0);
  Cauchy_sum<T> cauchy;
  const bool unit_points = !in.point_weights;
  for (std::size_t i = 0; i < in.count; ++i) {
    T predicted[Rows], J[Rows][6];
    point_rows<T, Projector, Rows>(in, at, difference ? &*difference : nullptr, p.offsets, i, t, predicted,
                                   Accumulate ? J : nullptr);
    const T* observed = in.observations + i * Rows;
    T residual[Rows], w[Rows];
    T s = T(0);
    for (int r = 0; r < Rows; ++r) {
      residual[r] = predicted[r] - observed[r];
      s += residual[r] * residual[r];
      w[r] = in.row_weights ? in.row_weights[i * Rows + static_cast<std::size_t>(r)] : T(1);
    }
    squared_[i] = s;
    if constexpr (L == Loss::squared) {
      for (int r = 0; r < Rows; ++r) cost += w[r] * residual[r] * residual[r];
    } else {
      T rho = T(0), robust;
      if (L == Loss::cauchy && unit_points) {  // the weight alone; the cost from the product
        const T x = s / c / c;
        cauchy.add(s, c, x);
        robust = T(1) / (T(1) + x);
      } else {
        loss_and_weight<L>(s, c, rho, robust);
        if (unit_points || in.point_weights[i] != T(0)) cost += (unit_points ? T(1) : in.point_weights[i]) * rho;
      }
      for (int r = 0; r < Rows; ++r) w[r] *= robust;
    }
    if constexpr (Accumulate) accumulate_rows<T, Rows>(J, w, residual, normal, gradient);
  }
  if constexpr (Accumulate) {
    int e = 0;
    for (int k = 0; k < 6; ++k) {
      gradient_[k] = gradient[k];
      for (int l = k; l < 6; ++l) normal_[k][l] = normal_[l][k] = normal[e++];
    }
    std::copy(R, R + 9, normal_R_);
    std::copy(t, t + 3, normal_t_);
    normal_squared_ = L == Loss::squared && !Differences;
  }
  if constexpr (L == Loss::cauchy)
    if (unit_points) cost = cauchy.cost(c);
  return cost;
}

template <typename T>
template <typename Projector, int Rows, bool Accumulate, bool Differences>
T Pose_kernel<T>::pass_for_loss(const Problem& p, const T* R, const T* t) {
  switch (p.settings->loss) {
    case Loss::huber: return pass<Projector, Rows, Accumulate, Loss::huber, Differences>(p, R, t);
    case Loss::cauchy: return pass<Projector, Rows, Accumulate, Loss::cauchy, Differences>(p, R, t);
    case Loss::soft_l1: return pass<Projector, Rows, Accumulate, Loss::soft_l1, Differences>(p, R, t);
    case Loss::truncated: return pass<Projector, Rows, Accumulate, Loss::truncated, Differences>(p, R, t);
    case Loss::squared: break;
  }
  return pass<Projector, Rows, Accumulate, Loss::squared, Differences>(p, R, t);
}

template <typename T>
template <typename Projector, int Rows>
T Pose_kernel<T>::evaluate_rows(const Problem& p, const T* R, const T* t, bool accumulate) {
  if (!accumulate) return pass_for_loss<Projector, Rows, false, false>(p, R, t);
  if (p.settings->central_differences) return pass_for_loss<Projector, Rows, true, true>(p, R, t);
  return pass_for_loss<Projector, Rows, true, false>(p, R, t);
}

template <typename T>
T Pose_kernel<T>::evaluate(const Problem& p, const T* R, const T* t, bool accumulate) {
  if (p.settings->bearing) return evaluate_rows<Camera_frame_at_pose<T>, 3>(p, R, t, accumulate);
  if (p.lens) return evaluate_rows<Lens_camera_at_pose<T>, 2>(p, R, t, accumulate);
  return evaluate_rows<Pinhole_at_pose<T>, 2>(p, R, t, accumulate);
}

// LDLT of the normal matrix scaled to a unit diagonal, N = S A S. The
// condition number of A lies within a factor 6 of trace(A^-1) (its largest
// eigenvalue is between 1 and 6, trace(A^-1) between 1 / lambda_min and 6
// times that), which the factors give cheaply.
template <typename T>
bool Pose_kernel<T>::solve_normal(T dx[6]) const {
  T s[6];
  for (int a = 0; a < 6; ++a) {
    if (!(normal_[a][a] > T(0)) || !std::isfinite(normal_[a][a])) return false;
    s[a] = T(1) / std::sqrt(normal_[a][a]);
  }
  T L[6][6] = {};
  T D[6];
  for (int j = 0; j < 6; ++j) {
    T d = normal_[j][j] * s[j] * s[j];
    for (int k = 0; k < j; ++k) d -= L[j][k] * L[j][k] * D[k];
    if (!(d > T(0))) return false;
    D[j] = d;
    L[j][j] = T(1);
    for (int i = j + 1; i < 6; ++i) {
      T v = normal_[i][j] * s[i] * s[j];
      for (int k = 0; k < j; ++k) v -= L[i][k] * L[j][k] * D[k];
      L[i][j] = v / d;
    }
  }
  // trace(A^-1) = sum_i ||row i of L^-1||^2 / D_i.
  T inverse[6][6] = {};
  for (int j = 0; j < 6; ++j) {
    inverse[j][j] = T(1);
    for (int i = j + 1; i < 6; ++i) {
      T v = T(0);
      for (int k = j; k < i; ++k) v -= L[i][k] * inverse[k][j];
      inverse[i][j] = v;
    }
  }
  T trace = T(0);
  for (int i = 0; i < 6; ++i) {
    T row = T(0);
    for (int k = 0; k <= i; ++k) row += inverse[i][k] * inverse[i][k];
    trace += row / D[i];
  }
  if (!(trace <= T(kPoseKernelMaxCondition))) return false;
  // A y = -S g, dx = S y.
  T y[6];
  for (int i = 0; i < 6; ++i) {
    T v = -gradient_[i] * s[i];
    for (int k = 0; k < i; ++k) v -= L[i][k] * y[k];
    y[i] = v;
  }
  for (int i = 0; i < 6; ++i) y[i] /= D[i];
  for (int i = 5; i >= 0; --i) {
    T v = y[i];
    for (int k = i + 1; k < 6; ++k) v -= L[k][i] * y[k];
    y[i] = v;
  }
  for (int i = 0; i < 6; ++i) dx[i] = y[i] * s[i];
  return true;
}

// The minimum-norm least-squares step of the stacked rows sqrt(w) J dx = -sqrt(w) r
// at (R, t), the weights those of the last accumulating pass.
template <typename T>
template <typename Projector, int Rows>
void Pose_kernel<T>::solve_stacked(const Problem& p, const T* R, const T* t, T dx[6]) {
  const Pose_kernel_input<T>& in = *p.in;
  const std::size_t n = in.count;
  const bool robust = p.settings->loss != Loss::squared;
  stacked_.resize(n * Rows * 6);
  stacked_rhs_.resize(n * Rows);
  const Posed_cameras<T, Projector> at(in, R, t, p.offsets);
  std::optional<Difference_jacobian<T, Projector, Rows>> difference;
  if (p.settings->central_differences) difference.emplace(in, R, t);
  for (std::size_t i = 0; i < n; ++i) {
    T predicted[Rows], J[Rows][6];
    point_rows<T, Projector, Rows>(in, at, difference ? &*difference : nullptr, p.offsets, i, t, predicted, J);
    const T robust_w = robust ? robust_loss_weight(p.settings->loss, squared_[i], p.settings->loss_scale) : T(1);
    for (int r = 0; r < Rows; ++r) {
      const std::size_t row = i * Rows + static_cast<std::size_t>(r);
      const T w = (in.row_weights ? in.row_weights[row] : T(1)) * robust_w;
      const T root = std::sqrt(std::max(w, T(0)));
      for (int a = 0; a < 6; ++a) stacked_[row * 6 + static_cast<std::size_t>(a)] = root * J[r][a];
      stacked_rhs_[row] = -root * (predicted[r] - in.observations[row]);
    }
  }
  least_squares_.solve(stacked_.data(), static_cast<int>(n * Rows), 6, 6, stacked_rhs_.data(), dx);
}

// The step from the normal equations of the last accumulating pass, or the
// minimum-norm solve of the stacked rows when they are too ill-conditioned.
template <typename T>
void Pose_kernel<T>::solve_step(const Problem& p, const T* R, const T* t, T dx[6], Pose_kernel_outcome<T>& out) {
  if (solve_normal(dx)) return;
  if (p.settings->bearing) solve_stacked<Camera_frame_at_pose<T>, 3>(p, R, t, dx);
  else if (p.lens) solve_stacked<Lens_camera_at_pose<T>, 2>(p, R, t, dx);
  else solve_stacked<Pinhole_at_pose<T>, 2>(p, R, t, dx);
  ++out.min_norm_steps;
}

// Rows of non-zero weight whose point lies within the loss scale at the pose
// last evaluated (squared_).
template <typename T>
int Pose_kernel<T>::rows_within_scale(const Problem& p) const {
  const std::size_t rows = p.settings->bearing ? 3 : 2;
  const T c2 = p.settings->loss_scale * p.settings->loss_scale;
  const Pose_kernel_input<T>& in = *p.in;
  int count = 0;
  for (std::size_t i = 0; i < squared_.size(); ++i) {
    if (!(squared_[i] <= c2)) continue;
    if (in.point_weights && in.point_weights[i] == T(0)) continue;
    for (std::size_t r = 0; r < rows; ++r)
      if (!in.row_weights || in.row_weights[i * rows + r] != T(0)) ++count;
  }
  return count;
}

template <typename T>
bool Pose_kernel<T>::has_weighted_row(const Problem& p) const {
  const std::size_t rows = p.settings->bearing ? 3 : 2;
  const Pose_kernel_input<T>& in = *p.in;
  for (std::size_t i = 0; i < squared_.size(); ++i) {
    if (in.point_weights && in.point_weights[i] == T(0)) continue;
    if (!in.row_weights) return true;
    for (std::size_t r = 0; r < rows; ++r)
      if (in.row_weights[i * rows + r] != T(0)) return true;
  }
  return false;
}

// The cost of the robust loss of p from squared_ (see the class comment).
template <typename T>
T Pose_kernel<T>::cost_of_squared(const Problem& p) const {
  T sum = T(0);
  for (std::size_t i = 0; i < squared_.size(); ++i) {
    const T w = p.in->point_weights ? p.in->point_weights[i] : T(1);
    if (w != T(0)) sum += w * robust_loss_value(p.settings->loss, squared_[i], p.settings->loss_scale);
  }
  return sum;
}

// The scale of the graduated start: the median error over the points of
// non-zero weight at the pose last evaluated, at least the loss scale.
template <typename T>
T Pose_kernel<T>::graduated_scale(const Problem& p) {
  return pose_graduated_scale(p.settings->loss_scale, squared_, p.in->point_weights, scratch_);
}

template <typename T>
T pose_graduated_scale(T loss_scale, const std::vector<T>& squared, const T* point_weights, std::vector<T>& scratch) {
  scratch.clear();
  for (std::size_t i = 0; i < squared.size(); ++i)
    if (!point_weights || point_weights[i] != T(0)) scratch.push_back(squared[i]);
  if (scratch.empty()) return loss_scale;
  const auto middle = scratch.begin() + static_cast<std::ptrdiff_t>(scratch.size() / 2);
  std::nth_element(scratch.begin(), middle, scratch.end());
  return std::max(loss_scale, std::sqrt(*middle));
}

// Throws, naming the cause, when the cost at the start (R, t) is not finite:
// no step can be judged from it, and the start is not an answer.
template <typename T>
void Pose_kernel<T>::check_start_cost(const Problem& p, const T* R, const T* t, T cost) const {
  if (std::isfinite(cost)) return;
  const Pose_kernel_input<T>& in = *p.in;
  const bool bearing = p.settings->bearing;
  for (std::size_t i = 0; i < in.count; ++i) {
    T R_cam_to_world[9], centre_in_world[3];
    camera_pose_in_world(in.cameras[camera_of(in, i)], R, t, R_cam_to_world, centre_in_world);
    const T* X = in.points + 3 * i;
    const T v[3] = {X[0] - centre_in_world[0], X[1] - centre_in_world[1], X[2] - centre_in_world[2]};
    TREL_CHECK(v[0] != T(0) || v[1] != T(0) || v[2] != T(0),
               "the cost at the start is not finite: point " << i << " lies at the start's camera centre");
    // The camera-frame depth: the optical axis (R's third column) along v.
    const T depth = R_cam_to_world[2] * v[0] + R_cam_to_world[5] * v[1] + R_cam_to_world[8] * v[2];
    TREL_CHECK(bearing || depth != T(0), "the cost at the start is not finite: point "
                                             << i << " lies in the start camera's focal plane (depth 0)");
    TREL_CHECK(std::isfinite(squared_[i]),
               "the cost at the start is not finite: the error of point "
                   << i << " is " << squared_[i]
                   << " (its prediction or observation is too large or too small for a double; rescale the data)");
  }
  TREL_THROW("the cost at the start is not finite (" << cost
                                                      << "): the weighted errors overflow a double; scale the "
                                                         "weights or the data down");
}

// The state of one run between its steps.
template <typename T>
struct Pose_kernel<T>::Step {
  T cost = T(0);                 // the loss's cost at the current pose
  bool normal_ready = false;     // normal_ and gradient_ belong to the current pose under the loss
  T inverse_spread_squared = T(1);
  int it = 0;
  Pose_kernel_settings<T> smooth;  // the graduated steps' settings (Cauchy at the graduated scale)
};

// Applies dx at (R, t), halving it while it raises the cost of step_problem
// (kPoseKernelHalvings times at most); returns the cost at the pose reached.
template <typename T>
T Pose_kernel<T>::line_search(const Problem& step_problem, T dx[6], T step_cost, bool small_step, bool accumulate,
                              T R[9], T t[3]) {
  const T R_from[9] = {R[0], R[1], R[2], R[3], R[4], R[5], R[6], R[7], R[8]};
  const T t_from[3] = {t[0], t[1], t[2]};
  T next = step_cost;
  for (int halving = 0; halving <= kPoseKernelHalvings; ++halving) {
    if (halving > 0) {
      for (int k = 0; k < 6; ++k) dx[k] *= T(0.5);
      std::copy(R_from, R_from + 9, R);
      std::copy(t_from, t_from + 3, t);
    }
    rotate_by_vector(dx, R);
    for (int k = 0; k < 3; ++k) t[k] += dx[3 + k];
    next = evaluate(step_problem, R, t, accumulate);
    if (next < step_cost || small_step) break;
  }
  return next;
}

// One Gauss-Newton step from (R, t); false when the run ends.
template <typename T>
bool Pose_kernel<T>::take_step(const Problem& p, const Problem& smooth_problem, Step& s, T R[9], T t[3],
                               Pose_kernel_outcome<T>& out) {
  const Pose_kernel_settings<T>& settings = *p.settings;
  // Truncated loss: while too few rows lie within the scale, the step is
  // that of the Cauchy loss at the graduated scale.
  const bool graduated = settings.loss == Loss::truncated && rows_within_scale(p) < kPoseKernelGraduatedRows;
  const Problem& step_problem = graduated ? smooth_problem : p;
  T step_cost = s.cost;
  if (graduated) {
    s.smooth.loss_scale = graduated_scale(p);
    step_cost = evaluate(smooth_problem, R, t, true);
    ++out.graduated_steps;
  } else if (!s.normal_ready) {
    evaluate(p, R, t, true);
  }
  s.normal_ready = false;
  T dx[6];
  solve_step(step_problem, R, t, dx, out);
  for (T d : dx)
    if (!std::isfinite(d)) return false;
  // The decrease of the cost the linearised model predicts for dx: g^T N^-1 g.
  T predicted = T(0);
  for (int k = 0; k < 6; ++k) predicted -= gradient_[k] * dx[k];
  if (predicted < settings.cost_tolerance * step_cost) {
    out.stop_reason = Stop_reason::min_y_step;
    return false;
  }
  out.iterations = s.it + 1;
  const T step = std::sqrt(dx[0] * dx[0] + dx[1] * dx[1] + dx[2] * dx[2] +
                           (dx[3] * dx[3] + dx[4] * dx[4] + dx[5] * dx[5]) * s.inverse_spread_squared);
  const bool small_step = step < settings.step_tolerance;
  const bool accumulate = !graduated && !small_step && s.it + 1 < settings.max_iters;
  const T next = line_search(step_problem, dx, step_cost, small_step, accumulate, R, t);
  s.normal_ready = accumulate;
  // The cost of the loss asked for at the new pose (squared_ is the loss's own).
  const T loss_cost = graduated ? cost_of_squared(p) : next;
  if (loss_cost <= out.final_cost) {
    std::copy(R, R + 9, out.R);
    std::copy(t, t + 3, out.centre);
    out.final_cost = loss_cost;
    out.returned_iteration = s.it + 1;
    best_squared_ = squared_;
  }
  if (small_step || !(next < step_cost)) {
    out.stop_reason = small_step ? Stop_reason::min_x_step : Stop_reason::min_y_step;
    return false;
  }
  s.cost = loss_cost;
  return true;
}

template <typename T>
Pose_kernel_outcome<T> Pose_kernel<T>::refine(const Pose_kernel_input<T>& in, const T* R0, const T* c0,
                                              const Pose_kernel_settings<T>& settings) {
  Problem p{&in, &settings};
  for (std::size_t c = 0; c < in.camera_count; ++c) {
    const Pose_kernel_camera<T>& camera = in.cameras[c];
    p.lens = p.lens || (!settings.bearing && !camera.model.lens.is_identity());
    for (int k = 0; k < 9; ++k) p.offsets = p.offsets || camera.R_cam_to_rig[k] != T(k % 4 == 0 ? 1 : 0);
    for (int k = 0; k < 3; ++k) p.offsets = p.offsets || camera.centre_in_rig[k] != T(0);
  }
  squared_.resize(in.count);
  best_squared_.resize(in.count);
  // Scale of the centre's step: the root mean square distance of the points from the start.
  spread_ = T(0);
  for (std::size_t i = 0; i < in.count; ++i)
    for (int k = 0; k < 3; ++k) spread_ += (in.points[3 * i + k] - c0[k]) * (in.points[3 * i + k] - c0[k]);
  spread_ = in.count > 0 ? std::sqrt(spread_ / static_cast<T>(in.count)) : T(0);
  Step s;
  s.inverse_spread_squared = spread_ > T(0) ? T(1) / (spread_ * spread_) : T(1);
  s.smooth = settings;
  s.smooth.loss = Loss::cauchy;
  Problem smooth_problem = p;
  smooth_problem.settings = &s.smooth;

  Pose_kernel_outcome<T> out;
  std::copy(R0, R0 + 9, out.R);
  std::copy(c0, c0 + 3, out.centre);
  T R[9], t[3];
  std::copy(R0, R0 + 9, R);
  std::copy(c0, c0 + 3, t);
  normal_squared_ = false;
  s.cost = evaluate(p, R, t, settings.max_iters > 0);
  s.normal_ready = settings.max_iters > 0;
  check_start_cost(p, R, t, s.cost);
  out.initial_cost = out.final_cost = s.cost;
  for (T e : squared_) out.initial_squared_sum += e;
  best_squared_ = squared_;
  out.no_weight = !has_weighted_row(p);
  for (s.it = 0; !out.no_weight && s.it < settings.max_iters; ++s.it)
    if (!take_step(p, smooth_problem, s, R, t, out)) break;
  std::copy(out.R, out.R + 9, returned_R_);
  std::copy(out.centre, out.centre + 3, returned_t_);
  return out;
}

template <typename T>
Pose_kernel_outcome<T> Pose_kernel<T>::refine(const T* K, const std::vector<std::vector<T>>& points,
                                              const T* observations, const T* row_weights, const T* point_weights,
                                              const T* R0, const T* c0, const Pose_kernel_settings<T>& settings) {
  flat_points_.resize(3 * points.size());
  for (std::size_t i = 0; i < points.size(); ++i) std::copy(points[i].begin(), points[i].begin() + 3, &flat_points_[3 * i]);
  Pose_kernel_camera<T> camera;
  if (!settings.bearing) camera.model.pinhole = pinhole_from(K);
  Pose_kernel_input<T> in;
  in.points = flat_points_.data();
  in.count = points.size();
  in.observations = observations;
  in.row_weights = row_weights;
  in.point_weights = point_weights;
  in.cameras = &camera;
  return refine(in, R0, c0, settings);
}

template <typename T>
bool Pose_kernel<T>::normal_near_result(T distance, T normal[36]) const {
  if (!normal_squared_) return false;
  T rotation = T(0), centre = T(0);
  for (int k = 0; k < 9; ++k) rotation += (normal_R_[k] - returned_R_[k]) * (normal_R_[k] - returned_R_[k]);
  for (int k = 0; k < 3; ++k) centre += (normal_t_[k] - returned_t_[k]) * (normal_t_[k] - returned_t_[k]);
  const T scale = spread_ > T(0) ? spread_ : T(1);
  // |R - R'|_F = 2 sin(angle / 2) sqrt(2): about the angle times sqrt(2).
  if (!(std::sqrt(rotation / T(2) + centre / (scale * scale)) <= distance)) return false;
  for (int a = 0; a < 6; ++a)
    for (int b = 0; b < 6; ++b) normal[6 * a + b] = normal_[a][b];
  return true;
}

template class Pose_kernel<double>;
template void rotate_by_vector<double>(const double*, double*);
template double pose_graduated_scale<double>(double, const std::vector<double>&, const double*, std::vector<double>&);

}  // namespace trel
