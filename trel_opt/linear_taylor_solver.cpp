#include "trel_opt/linear_taylor_solver.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "trel_tools/exception_l.h"
#include "trel_tools/std_vector_overloads.h"

namespace trel {

namespace {

// True when every value is finite: x * 0 is 0 for finite x and NaN otherwise,
// so one sum over four accumulators tells.
bool all_finite(const double* a, std::size_t count) {
  double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    s0 += a[i] * 0.0;
    s1 += a[i + 1] * 0.0;
    s2 += a[i + 2] * 0.0;
    s3 += a[i + 3] * 0.0;
  }
  for (; i < count; ++i) s0 += a[i] * 0.0;
  return (s0 + s1) + (s2 + s3) == 0.0;
}

std::size_t first_non_finite(const double* a, std::size_t count) {
  std::size_t i = 0;
  while (i < count && std::isfinite(a[i])) ++i;
  return i;
}

}  // namespace

void Linear_taylor_solver::reset() { cached_values_.clear(); }

void Linear_taylor_solver::solve_linear_system(const cv::Mat& jacobian, const std::vector<double>& residual,
                                               std::vector<double>& dx, double relative_tolerance) {
  const bool with_gram = !error_gram_.empty() && error_gram_.size() == static_cast<std::size_t>(jacobian.cols) * jacobian.cols;
  if (!with_gram && !(relative_tolerance > 0.0)) {
    // Analytic rows only: the normal equations when they give the same step.
    least_squares_.solve_well_conditioned(jacobian.empty() ? nullptr : jacobian.ptr<double>(0), jacobian.rows,
                                          jacobian.cols, jacobian.cols, residual.data(), dx.data());
    return;
  }
  least_squares_.solve(jacobian.empty() ? nullptr : jacobian.ptr<double>(0), jacobian.rows, jacobian.cols,
                       jacobian.cols, residual.data(), dx.data(), relative_tolerance,
                       with_gram ? error_gram_.data() : nullptr);
}

void Linear_taylor_solver::evaluate(const std::vector<double>& x, std::vector<double>& weighted) const {
  weighted.clear();
  const std::size_t expected = num_equations_ > 0 ? static_cast<std::size_t>(num_equations_) : 0;
  weighted.reserve(expected);
  // Copied, then weighted in place: no zero-fill of the new entries.
  const auto append = [&](const std::vector<double>& v, const auto& func) {
    const std::size_t off = weighted.size();
    weighted.insert(weighted.end(), v.begin(), v.end());
    for (std::size_t j = 0; j < v.size(); ++j) weighted[off + j] *= func.get_weight(static_cast<int>(j));
  };
  for (const Grad_func* g : get_grad_funcs()) append((*g->base_function())(x), *g);
  for (const Opt_func* f : get_funcs()) append((*f)(x), *f);
}

void Linear_taylor_solver::inner_optimise(const std::vector<double>& x, const std::vector<double>& target,
                                          std::vector<double>& x_out, double& error, int iteration) {
  const Frame frame = TREL_FRAME;
  guarded(frame, [&] { run_step(frame.signature, x, target, x_out, error, iteration); });
}

// Checks in the step name `signature`, the function whose frame they belong to.
void Linear_taylor_solver::run_step(const char* signature, const std::vector<double>& x,
                                    const std::vector<double>& target, std::vector<double>& x_out, double& error,
                                    int iteration) {
  const int num_dims = num_dimensions_;
  if (num_dims < 0 || x.size() != static_cast<std::size_t>(num_dims))
    TREL_THROW_AS(signature, "search vector had size " << x.size() << " but num dimensions is " << num_dims);

  // A first step fills local lists; members change only once the step has
  // succeeded, so a failing step leaves the cache as it was.
  std::vector<double> filled_values;
  std::vector<double> filled_target;
  const bool filling = cached_values_.empty();
  if (filling) fill_start_values(signature, x, target, filled_values, filled_target);
  const std::vector<double>& cached = filling ? filled_values : cached_values_;
  const std::vector<double>& weighted_target = filling ? filled_target : weighted_target_;
  fill_residuals(signature, cached, weighted_target, iteration);
  fill_jacobian(signature, x, iteration);

  std::vector<double> x_new = take_step(x, iteration);
  const double sum_sq = error_at(x_new, weighted_target);

  if (filling) {
    double start_error = 0.0;
    for (const double r : residual_) start_error += r * r;
    set_initial_error(start_error);
  }
  cached_values_.swap(next_values_);
  if (filling) weighted_target_ = std::move(filled_target);
  x_out = std::move(x_new);
  error = sum_sq;
}

void Linear_taylor_solver::fill_start_values(const char* signature, const std::vector<double>& x,
                                             const std::vector<double>& target, std::vector<double>& values,
                                             std::vector<double>& weighted_target) const {
  weighted_target.resize(target.size(), 0.0);
  const std::size_t target_size = weighted_target.size();
  std::size_t off = 0;
  // Appends the weighted values v of `func`, then its weighted target entries;
  // too_many(n) reports values that run past the target.
  const auto append = [&](const std::vector<double>& v, const auto& func, const auto& too_many) {
    for (std::size_t j = 0; j < v.size(); ++j) values.push_back(v[j] * func.get_weight(static_cast<int>(j)));
    if (off + v.size() > target_size) too_many(v.size(), off);
    for (std::size_t j = 0; j < v.size(); ++j)
      weighted_target[off + j] = func.get_weight(static_cast<int>(j)) * target[off + j];
    off += v.size();
  };
  const std::vector<Grad_func*>& grad_funcs = get_grad_funcs();
  for (std::size_t i = 0; i < grad_funcs.size(); ++i) {
    const Grad_func* g = grad_funcs[i];
    append((*g->base_function())(x), *g, [&](std::size_t n, std::size_t at) {
      TREL_THROW_AS(signature, "Mismatch in number of equations. From target size, expected at most "
                                   << target_size << " equations, however base_function " << i << " is returned "
                                   << n << " equations to be inserted starting from index " << at);
    });
  }
  const std::vector<Opt_func*>& funcs = get_funcs();
  for (std::size_t i = 0; i < funcs.size(); ++i) {
    append((*funcs[i])(x), *funcs[i], [&](std::size_t n, std::size_t at) {
      TREL_THROW_AS(signature, "Mismatch in number of equations. From target size, expected at most "
                                   << target_size << " equations, however function " << i << " returned " << n
                                   << " equations to be inserted starting from index " << at);
    });
  }
}

void Linear_taylor_solver::fill_residuals(const char* signature, const std::vector<double>& cached,
                                          const std::vector<double>& weighted_target, int iteration) {
  const int num_eqs = num_equations_;
  if (num_eqs < 0 || static_cast<std::size_t>(num_eqs) != cached.size())
    TREL_THROW_AS(signature, "number of equations was set to " << num_eqs << " but functions only returned a total of"
                                                               << cached.size() << " equations");
  if (static_cast<std::size_t>(num_eqs) != weighted_target.size())
    TREL_THROW_AS(signature, "number of equations was set to " << num_eqs << " but target has a total of"
                                                               << weighted_target.size() << " equations");

  residual_.resize(static_cast<std::size_t>(num_eqs));
  for (int k = 0; k < num_eqs; ++k) residual_[k] = weighted_target[k] - cached[k];
  if (!all_finite(residual_.data(), residual_.size())) {
    const std::size_t k = first_non_finite(residual_.data(), residual_.size());
    TREL_THROW_AS(signature, "iteration " << iteration << ": the weighted residual of equation " << k << " is "
                                          << residual_[k] << ", not a finite number");
  }
}

void Linear_taylor_solver::fill_jacobian(const char* signature, const std::vector<double>& x, int iteration) {
  const int num_dims = num_dimensions_;
  // The Jacobian is reused between steps of the same size. Every function
  // writes all of the rows it reports, so only the rows after them, which no
  // function claims, are cleared.
  jacobian_.create(num_equations_, num_dims, CV_64F);
  int row = fill_analytic_rows(signature, x);
  const std::vector<Opt_func*>& funcs = get_funcs();
  error_gram_.assign(funcs.empty() ? 0 : static_cast<std::size_t>(num_dims) * num_dims, 0.0);
  for (std::size_t i = 0; i < funcs.size(); ++i) row += fill_finite_difference_rows(signature, i, x, row);
  if (!jacobian_.empty() && row < jacobian_.rows)
    std::fill(jacobian_.ptr<double>(row), jacobian_.ptr<double>(0) + jacobian_.total(), 0.0);

  if (!jacobian_.empty() && !all_finite(jacobian_.ptr<double>(0), jacobian_.total())) {
    const std::size_t k = first_non_finite(jacobian_.ptr<double>(0), jacobian_.total());
    TREL_THROW_AS(signature, "iteration " << iteration << ": the Jacobian entry at row " << k / num_dims
                                          << ", column " << k % num_dims << " is " << jacobian_.ptr<double>(0)[k]
                                          << ", not a finite number");
  }
}

int Linear_taylor_solver::fill_analytic_rows(const char* signature, const std::vector<double>& x) {
  const int num_eqs = num_equations_;
  const int num_dims = num_dimensions_;
  const std::vector<Grad_func*>& grad_funcs = get_grad_funcs();
  int row = 0;
  for (std::size_t i = 0; i < grad_funcs.size(); ++i) {
    const Grad_func* g = grad_funcs[i];
    const int n = (*g)(x, jacobian_, row);
    if (n < 0 || n > num_eqs - row)
      TREL_THROW_AS(signature, "gradient function " << i << " reported " << n << " rows from row " << row
                                                    << " of a " << num_eqs << " row Jacobian");
    for (int j = 0; j < n; ++j) {
      const double w = g->get_weight(j);
      if (w == 1.0) continue;
      double* jacobian_row = jacobian_.ptr<double>(row + j);
      for (int d = 0; d < num_dims; ++d) jacobian_row[d] *= w;
    }
    row += n;
  }
  return row;
}

int Linear_taylor_solver::fill_finite_difference_rows(const char* signature, std::size_t i,
                                                      const std::vector<double>& x, int row) {
  const int num_dims = num_dimensions_;
  const std::vector<double>& steps = get_finite_difference_steps()[i];
  if (steps.size() != static_cast<std::size_t>(num_dims))
    TREL_THROW_AS(signature, "for function " << i << " finite difference step had " << steps.size()
                                             << " elements, but num dimensions should be " << num_dims);
  shifted_x_ = x;
  std::size_t count = 0;
  for (int d = 0; d < num_dims; ++d) fill_finite_difference_column(signature, i, x, row, d, count);
  // E^T E of this function's rows, added to that of the earlier ones.
  for (int p = 0; p < num_dims; ++p)
    for (int q = 0; q < num_dims; ++q) {
      double sum = 0.0;
      for (int j = 0; j < static_cast<int>(count); ++j) sum += fd_error_.at<double>(j, p) * fd_error_.at<double>(j, q);
      error_gram_[static_cast<std::size_t>(p) * num_dims + q] += sum;
    }
  return static_cast<int>(count);
}

// Column d of function i's rows; the first column sets `count`, the number of
// values every later column must have.
void Linear_taylor_solver::fill_finite_difference_column(const char* signature, std::size_t i,
                                                         const std::vector<double>& x, int row, int d,
                                                         std::size_t& count) {
  const Opt_func* f = get_funcs()[i];
  const double h = get_finite_difference_steps()[i][static_cast<std::size_t>(d)];
  if (h == 0.0) TREL_THROW_AS(signature, "for function " << i << " finite difference step " << d << " is 0");
  // Central differences at h and h / 2: D(s) = D' + c s^2 + O(s^4), so
  // (4 D(h/2) - D(h)) / 3 is accurate to O(h^4), and (D(h/2) - D(h)) / 3,
  // the error of D(h/2), bounds what is left.
  std::vector<double> values[4];
  const double offsets[4] = {h, -h, 0.5 * h, -0.5 * h};
  for (int k = 0; k < 4; ++k) {
    shifted_x_[d] = x[d] + offsets[k];
    values[k] = (*f)(shifted_x_);
  }
  shifted_x_[d] = x[d];
  if (d == 0) {
    count = values[0].size();
    if (row + count > static_cast<std::size_t>(num_equations_))
      TREL_THROW_AS(signature, "function " << i << " returned " << count << " values for rows from " << row
                                           << " of a " << num_equations_ << " row Jacobian");
    fd_error_.create(static_cast<int>(count), num_dimensions_, CV_64F);
  }
  for (int k = 1; k < 4; ++k)
    if (values[k].size() != count)
      TREL_THROW_AS(signature, "function " << i << " returned " << values[0].size() << " and " << values[k].size()
                                           << " values about parameter " << d << " but " << count
                                           << " about the first");
  const double inv_span = 1.0 / ((x[d] + h) - (x[d] - h));
  const double inv_half_span = 1.0 / ((x[d] + 0.5 * h) - (x[d] - 0.5 * h));
  for (std::size_t j = 0; j < count; ++j) {
    const double w = f->get_weight(static_cast<int>(j));
    const double wide = (values[0][j] - values[1][j]) * w * inv_span;
    const double narrow = (values[2][j] - values[3][j]) * w * inv_half_span;
    const double error = (narrow - wide) / 3.0;
    jacobian_.at<double>(row + static_cast<int>(j), d) = narrow + error;
    fd_error_.at<double>(static_cast<int>(j), d) = error;
  }
}

std::vector<double> Linear_taylor_solver::take_step(const std::vector<double>& x, int iteration) {
  const int num_dims = num_dimensions_;
  dx_.resize(static_cast<std::size_t>(num_dims));
  solve_linear_system(jacobian_, residual_, dx_, get_funcs().empty() ? 0.0 : kFiniteDifferenceRankTolerance);

  const double factor =
      (decreasing_step_size_ && iteration > 0) ? 2.0 / (static_cast<double>(iteration) + 2.0) : 1.0;
  std::vector<double> x_new = x;
  for (int d = 0; d < num_dims; ++d) x_new[d] += factor * dx_[d];
  return x_new;
}

double Linear_taylor_solver::error_at(const std::vector<double>& x_new, const std::vector<double>& weighted_target) {
  evaluate(x_new, next_values_);
  if (next_values_.size() != weighted_target.size()) (void)(next_values_ - weighted_target);  // throws the size mismatch
  double sum_sq = 0.0;
  for (std::size_t k = 0; k < weighted_target.size(); ++k) {
    const double e = next_values_[k] - weighted_target[k];
    sum_sq += e * e;
  }
  return sum_sq;
}

}  // namespace trel
