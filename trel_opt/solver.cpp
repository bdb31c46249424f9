#include "trel_opt/solver.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <set>

#include "trel_tools/exception_l.h"
#include "trel_tools/std_vector_overloads.h"

namespace trel {

namespace {

// The base functions of the non-null gradient functions that have one.
std::set<const Opt_func*> base_functions_of(const std::vector<Grad_func*>& grad_funcs) {
  std::set<const Opt_func*> bases;
  for (const Grad_func* g : grad_funcs)
    if (g != nullptr && g->has_base_function()) bases.insert(g->base_function());
  return bases;
}

// Adopts the objects of `raw` and hands those held before back without
// deleting them (an object in both lists stays owned). Nothing changes when
// the allocation fails.
template <class T>
void replace_owned(std::vector<std::unique_ptr<T>>& owned, std::vector<T*>& view, const std::vector<T*>& raw) {
  std::vector<T*> new_view = raw;
  std::vector<std::unique_ptr<T>> adopted;
  adopted.reserve(raw.size());
  for (T* p : raw) adopted.emplace_back(p);
  for (std::unique_ptr<T>& p : owned) (void)p.release();
  owned.swap(adopted);
  view.swap(new_view);
}

}  // namespace

const char* stop_reason_name(Stop_reason reason) {
  switch (reason) {
    case Stop_reason::min_x_step: return "min_x_step";
    case Stop_reason::min_y_step: return "min_y_step";
    case Stop_reason::max_iters: break;
  }
  return "max_iters";
}

Solver::~Solver() {
  for (std::unique_ptr<Opt_func>& f : owned_funcs_) f.reset();
  for (std::unique_ptr<Grad_func>& g : owned_grad_funcs_) g.reset();
}

void Solver::set_funcs(const std::vector<Opt_func*>& funcs) {
  const std::set<const Opt_func*> bases = base_functions_of(grad_funcs_);
  std::set<const Opt_func*> seen;
  for (std::size_t i = 0; i < funcs.size(); ++i) {
    if (funcs[i] == nullptr) continue;
    if (!seen.insert(funcs[i]).second)
      TREL_THROW("function " << i << " is listed more than once");
    if (bases.count(funcs[i]) != 0)
      TREL_THROW("function " << i << " is already the base function of a registered gradient function");
  }
  replace_owned(owned_funcs_, funcs_, funcs);
}

void Solver::set_grad_funcs(const std::vector<Grad_func*>& grad_funcs) {
  const std::set<const Opt_func*> registered(funcs_.begin(), funcs_.end());
  std::set<const Grad_func*> seen;
  std::set<const Opt_func*> bases;
  for (std::size_t i = 0; i < grad_funcs.size(); ++i) {
    const Grad_func* g = grad_funcs[i];
    if (g == nullptr) continue;
    if (!seen.insert(g).second)
      TREL_THROW("gradient function " << i << " is listed more than once");
    if (!g->has_base_function()) continue;
    const Opt_func* base = g->base_function();
    if (!bases.insert(base).second)
      TREL_THROW("gradient function " << i << " shares its base function with another gradient function");
    if (registered.count(base) != 0)
      TREL_THROW("the base function of gradient function " << i << " is also a registered function");
  }
  replace_owned(owned_grad_funcs_, grad_funcs_, grad_funcs);
}

std::vector<double> Solver::optimise() {
  return optimise(std::vector<double>(num_dimensions_ > 0 ? num_dimensions_ : 0, 0.0));
}

std::vector<double> Solver::optimise(const std::vector<double>& x0) {
  return guarded(TREL_FRAME, [&] {
    return optimise(x0, std::vector<double>(num_equations_ > 0 ? num_equations_ : 0, 0.0));
  });
}

std::vector<double> Solver::optimise(const std::vector<double>& x0, const std::vector<double>& target) {
  const Frame frame = TREL_FRAME;
  return guarded(frame, [&] { return run(frame.signature, x0, target); },
                 [&](std::ostream& os) { os << "num_eqs=" << num_equations_; });
}

std::vector<double> Solver::run(const char* signature, const std::vector<double>& x0,
                                const std::vector<double>& target) {
  std::vector<double> result = x0;
  summary_ = Solve_summary();
  reset();
  if (funcs_.size() != finite_difference_steps_.size())
    TREL_THROW_AS(signature, "function vector had size " << funcs_.size() << " but finite difference vector had size "
                                                         << finite_difference_steps_.size());
  if (num_equations_ < 0 || static_cast<std::size_t>(num_equations_) != target.size())
    TREL_THROW_AS(signature, "Passed target was " << target << " but expected " << num_equations_ << " equations");

  std::vector<double> x = x0;
  double error = std::numeric_limits<double>::max();
  double best = std::numeric_limits<double>::max();
  for (int i = 0; i < max_iters_; ++i) {
    const double previous_error = error;
    inner_optimise(x, target, x, error, i);
    summary_.iterations = i + 1;
    // x0 is a candidate too once the step has reported its error: a first
    // step that raises the error (as round-off does at a minimum) is not taken.
    // A run of one step (max_iters 1, as a caller's own outer loop uses it)
    // always returns that step, like the stop rules it skips.
    if (i == 0 && max_iters_ >= 2 && std::isfinite(summary_.initial_error)) best = summary_.initial_error;
    const bool stop = max_iters_ >= 2 && stops_after(result, x, i, previous_error - error);
    // The step that ends the run is still kept when it is the best point seen
    // (a first step shorter than min_x_step that lands at the minimum); at an
    // equal error the run's earlier point stays.
    if (stop ? error < best : error <= best) {
      result = x;
      best = error;
      summary_.returned_iteration = i + 1;
    }
    if (stop) break;
  }
  summary_.final_error = summary_.returned_iteration > 0 ? best : summary_.initial_error;
  return result;
}

bool Solver::stops_after(const std::vector<double>& best_point, const std::vector<double>& x, int iteration,
                         double decrease) {
  // L1 norm of the change from the best point so far, without a temporary.
  if (best_point.size() != x.size()) (void)(best_point - x);  // throws the size mismatch
  double l1 = 0.0;
  for (std::size_t k = 0; k < x.size(); ++k) l1 += std::fabs(best_point[k] - x[k]);
  if (l1 < static_cast<double>(min_x_step_)) {
    summary_.stop_reason = Stop_reason::min_x_step;
    return true;
  }
  if (iteration > 0 && decrease < static_cast<double>(min_y_step_)) {
    summary_.stop_reason = Stop_reason::min_y_step;
    return true;
  }
  return false;
}

}  // namespace trel
