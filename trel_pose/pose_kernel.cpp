#include "trel_pose/pose_kernel.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

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
  Pinhole_model<T> lens;
  const std::vector<std::vector<T>>* points;
  const T* observations;
  const T* row_weights;
  const T* point_weights;
  const Pose_kernel_settings<T>* settings;
};

namespace {

// rho(s) and rho'(s) of trel_opt/robust_loss.h for one loss, inline.
template <Loss L, typename T>
inline void loss_and_weight(T s, T c, T& rho, T& weight) {
  robust_loss_terms<L>(s, c, rho, weight);
}


// The Jacobian rows of the projector by central differences: the rotation
// perturbed by exp([+-h e_k]x) (h = kPoseKernelDifferenceStep), the centre by
// +-h max(1, |t_k|, |X - t|) along axis k.
template <typename T, int Rows>
struct Difference_jacobian {
  using Projector = typename Projector_of<T, Rows>::type;
  Projector plus_rotations[3], minus_rotations[3];

  static Projector turned(const Pinhole_model<T>& lens, const T* R, int axis, T step) {
    T delta[3] = {T(0), T(0), T(0)}, R_turned[9];
    std::copy(R, R + 9, R_turned);
    delta[axis] = step;
    rotate_by_vector(delta, R_turned);
    return projector_at<T, Rows>(lens, R_turned);
  }

  Difference_jacobian(const Pinhole_model<T>& lens, const T* R)
      : plus_rotations{turned(lens, R, 0, T(kPoseKernelDifferenceStep)), turned(lens, R, 1, T(kPoseKernelDifferenceStep)),
                       turned(lens, R, 2, T(kPoseKernelDifferenceStep))},
        minus_rotations{turned(lens, R, 0, -T(kPoseKernelDifferenceStep)),
                        turned(lens, R, 1, -T(kPoseKernelDifferenceStep)),
                        turned(lens, R, 2, -T(kPoseKernelDifferenceStep))} {}

  void rows(const Projector& at, const T* X, const T* t, T J[Rows][6]) const {
    T v[3], plus[Rows], minus[Rows], a[Rows][3];
    const T h = T(kPoseKernelDifferenceStep);
    for (int k = 0; k < 3; ++k) {
      plus_rotations[k].rows(X, t, v, plus, a);
      minus_rotations[k].rows(X, t, v, minus, a);
      for (int r = 0; r < Rows; ++r) J[r][k] = (plus[r] - minus[r]) / (T(2) * h);
    }
    const T distance = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    for (int k = 0; k < 3; ++k) {
      T t_plus[3] = {t[0], t[1], t[2]}, t_minus[3] = {t[0], t[1], t[2]};
      const T step = h * std::max({T(1), std::fabs(t[k]), distance});
      t_plus[k] += step;
      t_minus[k] -= step;
      at.rows(X, t_plus, v, plus, a);
      at.rows(X, t_minus, v, minus, a);
      for (int r = 0; r < Rows; ++r) J[r][3 + k] = (plus[r] - minus[r]) / (t_plus[k] - t_minus[k]);
    }
  }
};

// The Jacobian rows of point X at (at, t): analytic from the projector's a and
// v, or by central differences when `difference` is given.
template <typename T, int Rows>
inline void point_jacobian_rows(const Difference_jacobian<T, Rows>* difference,
                                const typename Projector_of<T, Rows>::type& at, const T* X, const T* t, const T v[3],
                                const T a[Rows][3], T J[Rows][6]) {
  if (difference) difference->rows(at, X, t, J);
  else
    for (int r = 0; r < Rows; ++r) pose_jacobian_row(a[r], v, J[r]);
}

}  // namespace

// One pass over the points at (R, t): e_i^2 into squared_, the cost returned
// and, when Accumulate, the weighted normal matrix (upper triangle) and
// gradient J^T W r (rows of trel_pose/camera_model.h).
template <typename T>
template <int Rows, bool Accumulate, Loss L, bool Differences>
T Pose_kernel<T>::pass(const Problem& p, const T* R, const T* t) {
  const std::vector<std::vector<T>>& points = *p.points;
  const std::size_t n = points.size();
  const T c = p.settings->loss_scale;
  const auto at = projector_at<T, Rows>(p.lens, R);
  std::optional<Difference_jacobian<T, Rows>> difference;
  if constexpr (Differences) difference.emplace(p.lens, R);
  T normal[21] = {};  // upper triangle, row by row
  T gradient[6] = {};
  T cost = T(0);
  T product = T(1);  // Cauchy loss, unit point weights: prod (1 + x_i) = product 2^exponent
  long exponent = 0;
  T small_terms = T(0);  // Cauchy loss, unit point weights: the rho of the x_i below kLossSeriesLimit
  for (std::size_t i = 0; i < n; ++i) {
    T v[3], predicted[Rows], a[Rows][3];
    at.rows(points[i].data(), t, v, predicted, a);
    const T* observed = p.observations + i * Rows;
    T residual[Rows];
    for (int r = 0; r < Rows; ++r) residual[r] = predicted[r] - observed[r];
    T s = T(0);
    for (int r = 0; r < Rows; ++r) s += residual[r] * residual[r];
    squared_[i] = s;
    T w[Rows];
    const T* row_w = p.row_weights ? p.row_weights + i * Rows : nullptr;
    for (int r = 0; r < Rows; ++r) w[r] = row_w ? row_w[r] : T(1);
    if constexpr (L == Loss::cauchy) {
      // Unit point weights: sum log(1 + x_i) = log(prod (1 + x_i)), one log per
      // pass; an x_i too small for 1 + x_i to hold it goes to small_terms.
      const T x = s / c / c;
      const T robust = T(1) / (T(1) + x);
      if (p.point_weights) {
        if (p.point_weights[i] != T(0)) {
          T rho, weight;
          loss_and_weight<L>(s, c, rho, weight);
          cost += p.point_weights[i] * rho;
        }
      } else if (x < T(kLossSeriesLimit)) {
        small_terms += s * log1p_ratio_series(x);
      } else if (!(x <= std::numeric_limits<T>::max())) {  // s / c^2 overflows: rho from its own form
        T rho, weight;
        loss_and_weight<L>(s, c, rho, weight);
        small_terms += rho;
      } else {
        product *= T(1) + x;
        if (product > T(1e100)) {
          int e;
          product = std::frexp(product, &e);
          exponent += e;
        }
      }
      for (int r = 0; r < Rows; ++r) w[r] *= robust;
    } else if constexpr (L != Loss::squared) {
      T rho, robust;
      loss_and_weight<L>(s, c, rho, robust);
      const T point_w = p.point_weights ? p.point_weights[i] : T(1);
      if (point_w != T(0)) cost += point_w * rho;
      for (int r = 0; r < Rows; ++r) w[r] *= robust;
    } else {
      for (int r = 0; r < Rows; ++r) cost += w[r] * residual[r] * residual[r];
    }
    if constexpr (Accumulate) {
      T J[Rows][6];
      if constexpr (Differences) difference->rows(at, points[i].data(), t, J);
      for (int r = 0; r < Rows; ++r) {
        T j_analytic[6];
        const T* j = J[r];
        if constexpr (!Differences) {
          pose_jacobian_row(a[r], v, j_analytic);
          j = j_analytic;
        }
        T wj[6];
        for (int k = 0; k < 6; ++k) wj[k] = w[r] * j[k];
        for (int k = 0; k < 6; ++k) gradient[k] += wj[k] * residual[r];
        int e = 0;
        for (int k = 0; k < 6; ++k)
          for (int l = k; l < 6; ++l) normal[e++] += wj[k] * j[l];
      }
    }
  }
  if constexpr (Accumulate) {
    int e = 0;
    for (int k = 0; k < 6; ++k) {
      gradient_[k] = gradient[k];
      for (int l = k; l < 6; ++l) normal_[k][l] = normal_[l][k] = normal[e++];
    }
  }
  if constexpr (L == Loss::cauchy)
    if (!p.point_weights)
      cost = c * (c * (std::log(product) + static_cast<T>(exponent) * T(0.69314718055994530942))) + small_terms;
  return cost;
}

template <typename T>
template <int Rows, bool Accumulate, bool Differences>
T Pose_kernel<T>::pass_for_loss(const Problem& p, const T* R, const T* t) {
  switch (p.settings->loss) {
    case Loss::huber: return pass<Rows, Accumulate, Loss::huber, Differences>(p, R, t);
    case Loss::cauchy: return pass<Rows, Accumulate, Loss::cauchy, Differences>(p, R, t);
    case Loss::soft_l1: return pass<Rows, Accumulate, Loss::soft_l1, Differences>(p, R, t);
    case Loss::truncated: return pass<Rows, Accumulate, Loss::truncated, Differences>(p, R, t);
    case Loss::squared: break;
  }
  return pass<Rows, Accumulate, Loss::squared, Differences>(p, R, t);
}

template <typename T>
template <int Rows>
T Pose_kernel<T>::evaluate_rows(const Problem& p, const T* R, const T* t, bool accumulate) {
  if (!accumulate) return pass_for_loss<Rows, false, false>(p, R, t);
  if (p.settings->central_differences) return pass_for_loss<Rows, true, true>(p, R, t);
  return pass_for_loss<Rows, true, false>(p, R, t);
}

template <typename T>
T Pose_kernel<T>::evaluate(const Problem& p, const T* R, const T* t, bool accumulate) {
  return p.settings->bearing ? evaluate_rows<3>(p, R, t, accumulate) : evaluate_rows<2>(p, R, t, accumulate);
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
template <int Rows>
void Pose_kernel<T>::solve_stacked(const Problem& p, const T* R, const T* t, T dx[6]) {
  const std::vector<std::vector<T>>& points = *p.points;
  const std::size_t n = points.size();
  const bool robust = p.settings->loss != Loss::squared;
  stacked_.resize(n * Rows * 6);
  stacked_rhs_.resize(n * Rows);
  const auto at = projector_at<T, Rows>(p.lens, R);
  std::optional<Difference_jacobian<T, Rows>> difference;
  if (p.settings->central_differences) difference.emplace(p.lens, R);
  for (std::size_t i = 0; i < n; ++i) {
    T v[3], predicted[Rows], a[Rows][3];
    at.rows(points[i].data(), t, v, predicted, a);
    T J[Rows][6];
    point_jacobian_rows<T, Rows>(difference ? &*difference : nullptr, at, points[i].data(), t, v, a, J);
    const T robust_w = robust ? robust_loss_weight(p.settings->loss, squared_[i], p.settings->loss_scale) : T(1);
    for (int r = 0; r < Rows; ++r) {
      const std::size_t row = i * Rows + static_cast<std::size_t>(r);
      const T w = (p.row_weights ? p.row_weights[row] : T(1)) * robust_w;
      const T root = std::sqrt(std::max(w, T(0)));
      for (int a = 0; a < 6; ++a) stacked_[row * 6 + static_cast<std::size_t>(a)] = root * J[r][a];
      stacked_rhs_[row] = -root * (predicted[r] - p.observations[row]);
    }
  }
  least_squares_.solve(stacked_.data(), static_cast<int>(n * Rows), 6, 6, stacked_rhs_.data(), dx);
}

// Rows of non-zero weight whose point lies within the loss scale at the pose
// last evaluated (squared_).
template <typename T>
int Pose_kernel<T>::rows_within_scale(const Problem& p) const {
  const std::size_t rows = p.settings->bearing ? 3 : 2;
  const T c2 = p.settings->loss_scale * p.settings->loss_scale;
  int count = 0;
  for (std::size_t i = 0; i < squared_.size(); ++i) {
    if (!(squared_[i] <= c2)) continue;
    if (p.point_weights && p.point_weights[i] == T(0)) continue;
    for (std::size_t r = 0; r < rows; ++r)
      if (!p.row_weights || p.row_weights[i * rows + r] != T(0)) ++count;
  }
  return count;
}

template <typename T>
bool Pose_kernel<T>::has_weighted_row(const Problem& p) const {
  const std::size_t rows = p.settings->bearing ? 3 : 2;
  for (std::size_t i = 0; i < squared_.size(); ++i) {
    if (p.point_weights && p.point_weights[i] == T(0)) continue;
    if (!p.row_weights) return true;
    for (std::size_t r = 0; r < rows; ++r)
      if (p.row_weights[i * rows + r] != T(0)) return true;
  }
  return false;
}

// The cost of the robust loss of p from squared_ (see the class comment).
template <typename T>
T Pose_kernel<T>::cost_of_squared(const Problem& p) const {
  T sum = T(0);
  for (std::size_t i = 0; i < squared_.size(); ++i) {
    const T w = p.point_weights ? p.point_weights[i] : T(1);
    if (w != T(0)) sum += w * robust_loss_value(p.settings->loss, squared_[i], p.settings->loss_scale);
  }
  return sum;
}

// The scale of the graduated start: the median error over the points of
// non-zero weight at the pose last evaluated, at least the loss scale.
template <typename T>
T Pose_kernel<T>::graduated_scale(const Problem& p) {
  return pose_graduated_scale(p.settings->loss_scale, squared_, p.point_weights, scratch_);
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
  const std::vector<std::vector<T>>& points = *p.points;
  const bool bearing = p.settings->bearing;
  T M[9];  // the third row gives the depth
  if (bearing) {
    const Camera_frame_at_pose<T> at = projector_at<T, 3>(p.lens, R);
    std::copy(at.M, at.M + 9, M);
  } else {
    const Pinhole_at_pose<T> at = projector_at<T, 2>(p.lens, R);
    std::copy(at.M, at.M + 9, M);
  }
  for (std::size_t i = 0; i < points.size(); ++i) {
    const T* X = points[i].data();
    const T v[3] = {X[0] - t[0], X[1] - t[1], X[2] - t[2]};
    TREL_CHECK(v[0] != T(0) || v[1] != T(0) || v[2] != T(0),
               "the cost at the start is not finite: point " << i << " lies at the start's camera centre");
    const T depth = M[6] * v[0] + M[7] * v[1] + M[8] * v[2];
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

template <typename T>
Pose_kernel_outcome<T> Pose_kernel<T>::refine(const T* K, const std::vector<std::vector<T>>& points,
                                              const T* observations, const T* row_weights, const T* point_weights,
                                              const T* R0, const T* c0, const Pose_kernel_settings<T>& settings) {
  const Problem p{pinhole_from(K), &points, observations, row_weights, point_weights, &settings};
  const std::size_t n = points.size();
  squared_.resize(n);
  best_squared_.resize(n);

  // Scale of the centre's step: the root mean square distance of the points from the start.
  T spread = T(0);
  for (const std::vector<T>& X : points)
    spread += (X[0] - c0[0]) * (X[0] - c0[0]) + (X[1] - c0[1]) * (X[1] - c0[1]) + (X[2] - c0[2]) * (X[2] - c0[2]);
  spread = n > 0 ? std::sqrt(spread / static_cast<T>(n)) : T(0);
  const T inverse_spread_squared = spread > T(0) ? T(1) / (spread * spread) : T(1);

  Pose_kernel_outcome<T> out;
  std::copy(R0, R0 + 9, out.R);
  std::copy(c0, c0 + 3, out.centre);
  T R[9], t[3];
  std::copy(R0, R0 + 9, R);
  std::copy(c0, c0 + 3, t);

  // The settings and problem of a graduated step (Cauchy at the graduated scale).
  Pose_kernel_settings<T> smooth = settings;
  smooth.loss = Loss::cauchy;
  Problem smooth_problem = p;
  smooth_problem.settings = &smooth;

  const bool truncated = settings.loss == Loss::truncated;
  T cost = evaluate(p, R, t, settings.max_iters > 0);
  bool normal_ready = settings.max_iters > 0;  // normal_ and gradient_ belong to (R, t) under p
  check_start_cost(p, R, t, cost);
  out.initial_cost = out.final_cost = cost;
  for (T e : squared_) out.initial_squared_sum += e;
  best_squared_ = squared_;
  if (!has_weighted_row(p)) {
    out.no_weight = true;
    return out;
  }
  for (int it = 0; it < settings.max_iters; ++it) {
    // Truncated loss: while too few rows lie within the scale, the step is
    // that of the Cauchy loss at the graduated scale.
    const bool graduated = truncated && rows_within_scale(p) < kPoseKernelGraduatedRows;
    const Problem& step_problem = graduated ? smooth_problem : p;
    T step_cost = cost;
    if (graduated) {
      smooth.loss_scale = graduated_scale(p);
      step_cost = evaluate(smooth_problem, R, t, true);
      ++out.graduated_steps;
    } else if (!normal_ready) {
      evaluate(p, R, t, true);
    }
    normal_ready = false;
    T dx[6];
    if (!solve_normal(dx)) {
      if (settings.bearing) solve_stacked<3>(step_problem, R, t, dx);
      else solve_stacked<2>(step_problem, R, t, dx);
      ++out.min_norm_steps;
    }
    bool finite = true;
    for (T d : dx) finite = finite && std::isfinite(d);
    if (!finite) break;
    // The decrease of the cost the linearised model predicts for dx: g^T N^-1 g.
    T predicted = T(0);
    for (int k = 0; k < 6; ++k) predicted -= gradient_[k] * dx[k];
    if (predicted < settings.cost_tolerance * step_cost) {
      out.stop_reason = Stop_reason::min_y_step;
      break;
    }
    out.iterations = it + 1;
    const T step = std::sqrt(dx[0] * dx[0] + dx[1] * dx[1] + dx[2] * dx[2] +
                             (dx[3] * dx[3] + dx[4] * dx[4] + dx[5] * dx[5]) * inverse_spread_squared);
    const bool small_step = step < settings.step_tolerance;
    const bool accumulate = !graduated && !small_step && it + 1 < settings.max_iters;
    // A step that raises the cost (a reweighted step far from the minimum can)
    // is halved until it lowers it, kPoseKernelHalvings times at most.
    const T R_from[9] = {R[0], R[1], R[2], R[3], R[4], R[5], R[6], R[7], R[8]};
    const T t_from[3] = {t[0], t[1], t[2]};
    T next = step_cost;
    for (int halving = 0; halving <= kPoseKernelHalvings; ++halving) {
      if (halving > 0) {
        for (T& d : dx) d *= T(0.5);
        std::copy(R_from, R_from + 9, R);
        std::copy(t_from, t_from + 3, t);
      }
      rotate_by_vector(dx, R);
      for (int k = 0; k < 3; ++k) t[k] += dx[3 + k];
      next = evaluate(step_problem, R, t, accumulate);
      if (next < step_cost || small_step) break;
    }
    normal_ready = accumulate;
    // The cost of the loss asked for at the new pose (squared_ is the loss's own).
    const T loss_cost = graduated ? cost_of_squared(p) : next;
    if (loss_cost <= out.final_cost) {
      std::copy(R, R + 9, out.R);
      std::copy(t, t + 3, out.centre);
      out.final_cost = loss_cost;
      out.returned_iteration = it + 1;
      best_squared_ = squared_;
    }
    if (small_step) {
      out.stop_reason = Stop_reason::min_x_step;
      break;
    }
    if (!(next < step_cost)) {
      out.stop_reason = Stop_reason::min_y_step;
      break;
    }
    cost = loss_cost;
  }
  return out;
}

template class Pose_kernel<double>;
template void rotate_by_vector<double>(const double*, double*);
template double pose_graduated_scale<double>(double, const std::vector<double>&, const double*, std::vector<double>&);

}  // namespace trel
