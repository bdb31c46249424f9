#include "trel_opt/linear_taylor_solver.h"

#include <cstddef>

#include <opencv2/core.hpp>

#include "trel_tools/exception_l.h"
#include "trel_tools/std_vector_overloads.h"

namespace trel {

void Linear_taylor_solver::reset() { cached_values_.clear(); }

std::vector<double> Linear_taylor_solver::evaluate_weighted(const std::vector<double>& x,
                                                            std::vector<double>* raw) const {
  std::vector<double> weighted;
  weighted.reserve(num_equations_ > 0 ? static_cast<std::size_t>(num_equations_) : 0);
  for (const Grad_func* g : grad_funcs_) {
    const std::vector<double> v = (*g->base_function())(x);
    for (std::size_t j = 0; j < v.size(); ++j) weighted.push_back(v[j] * g->get_weight(static_cast<int>(j)));
    if (raw != nullptr) raw->insert(raw->end(), v.begin(), v.end());
  }
  for (const Opt_func* f : funcs_) {
    const std::vector<double> v = (*f)(x);
    for (std::size_t j = 0; j < v.size(); ++j) weighted.push_back(v[j] * f->get_weight(static_cast<int>(j)));
    if (raw != nullptr) raw->insert(raw->end(), v.begin(), v.end());
  }
  return weighted;
}

void Linear_taylor_solver::inner_optimise(const std::vector<double>& x, const std::vector<double>& target,
                                          std::vector<double>& x_out, double& error, int iteration) {
  TREL_GUARD_BEGIN
  const int num_eqs = num_equations_;
  const int num_dims = num_dimensions_;
  if (num_dims < 0 || x.size() != static_cast<std::size_t>(num_dims))
    TREL_THROW("search vector had size " << x.size() << " but num dimensions is " << num_dims);

  // Work on local copies so that a failing step leaves the cache as it was.
  std::vector<double> cached = cached_values_;
  std::vector<double> weighted_target = weighted_target_;
  if (cached.empty()) {
    weighted_target.resize(target.size(), 0.0);
    const std::size_t target_size = weighted_target.size();
    std::size_t off = 0;
    for (std::size_t i = 0; i < grad_funcs_.size(); ++i) {
      const Grad_func* g = grad_funcs_[i];
      const std::vector<double> v = (*g->base_function())(x);
      for (std::size_t j = 0; j < v.size(); ++j) cached.push_back(v[j] * g->get_weight(static_cast<int>(j)));
      if (off + v.size() > target_size)
        TREL_THROW("Mismatch in number of equations. From target size, expected at most "
                   << target_size << " equations, however base_function " << i << " is returned " << v.size()
                   << " equations to be inserted starting from index " << off);
      for (std::size_t j = 0; j < v.size(); ++j)
        weighted_target[off + j] = g->get_weight(static_cast<int>(j)) * target[off + j];
      off += v.size();
    }
    for (std::size_t i = 0; i < funcs_.size(); ++i) {
      const Opt_func* f = funcs_[i];
      const std::vector<double> v = (*f)(x);
      for (std::size_t j = 0; j < v.size(); ++j) cached.push_back(v[j] * f->get_weight(static_cast<int>(j)));
      if (off + v.size() > target_size)
        TREL_THROW("Mismatch in number of equations. From target size, expected at most "
                   << target_size << " equations, however function " << i << " returned " << v.size()
                   << " equations to be inserted starting from index " << off);
      for (std::size_t j = 0; j < v.size(); ++j)
        weighted_target[off + j] = f->get_weight(static_cast<int>(j)) * target[off + j];
      off += v.size();
    }
  }
  if (num_eqs < 0 || static_cast<std::size_t>(num_eqs) != cached.size())
    TREL_THROW("number of equations was set to " << num_eqs << " but functions only returned a total of"
                                                 << cached.size() << " equations");
  if (static_cast<std::size_t>(num_eqs) != weighted_target.size())
    TREL_THROW("number of equations was set to " << num_eqs << " but target has a total of"
                                                 << weighted_target.size() << " equations");

  cv::Mat residual(num_eqs, 1, CV_64F);
  for (int k = 0; k < num_eqs; ++k) residual.at<double>(k) = weighted_target[k] - cached[k];

  cv::Mat jacobian = cv::Mat::zeros(num_eqs, num_dims, CV_64F);
  int row = 0;
  for (std::size_t i = 0; i < grad_funcs_.size(); ++i) {
    const Grad_func* g = grad_funcs_[i];
    const int n = (*g)(x, jacobian, row);
    if (n < 0 || n > num_eqs - row)
      TREL_THROW("gradient function " << i << " reported " << n << " rows from row " << row << " of a "
                                      << num_eqs << " row Jacobian");
    for (int j = 0; j < n; ++j) {
      const double w = g->get_weight(j);
      double* jacobian_row = jacobian.ptr<double>(row + j);
      for (int d = 0; d < num_dims; ++d) jacobian_row[d] *= w;
    }
    row += n;
  }
  for (std::size_t i = 0; i < funcs_.size(); ++i) {
    const Opt_func* f = funcs_[i];
    const std::vector<double>& steps = finite_difference_steps_[i];
    if (steps.size() != static_cast<std::size_t>(num_dims))
      TREL_THROW("for function " << i << " finite difference step had " << steps.size()
                                 << " elements, but num dimensions should be " << num_dims);
    std::vector<double> xp = x;
    std::size_t count = 0;
    for (int d = 0; d < num_dims; ++d) {
      const double h = steps[d];
      if (h == 0.0) TREL_THROW("for function " << i << " finite difference step " << d << " is 0");
      xp[d] += h;
      const std::vector<double> v = (*f)(xp);
      if (d == 0) {
        count = v.size();
        if (row + count > static_cast<std::size_t>(num_eqs))
          TREL_THROW("function " << i << " returned " << count << " values for rows from " << row << " of a "
                                 << num_eqs << " row Jacobian");
      } else if (v.size() != count) {
        TREL_THROW("function " << i << " returned " << v.size() << " values after the step of parameter " << d
                               << " but " << count << " after the first");
      }
      for (std::size_t j = 0; j < v.size(); ++j)
        jacobian.at<double>(row + static_cast<int>(j), d) =
            (v[j] * f->get_weight(static_cast<int>(j)) - cached[row + j]) / h;
      xp[d] -= h;
    }
    row += static_cast<int>(count);
  }

  cv::Mat dx;
  cv::solve(jacobian, residual, dx, cv::DECOMP_SVD);

  const double factor =
      (decreasing_step_size_ && iteration > 0) ? 2.0 / (static_cast<double>(iteration) + 2.0) : 1.0;
  std::vector<double> x_new = x;
  for (int d = 0; d < num_dims; ++d) x_new[d] += factor * dx.at<double>(d);

  std::vector<double> raw;
  std::vector<double> new_cached = evaluate_weighted(x_new, &raw);
  const std::vector<double> difference = raw - target;
  double sum_sq = 0.0;
  for (double e : difference) sum_sq += e * e;

  cached_values_ = std::move(new_cached);
  weighted_target_ = std::move(weighted_target);
  x_out = std::move(x_new);
  error = sum_sq;
  TREL_GUARD_END("")
}

}  // namespace trel
