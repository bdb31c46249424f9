#ifndef TREL_OPT_GRAD_FUNC_H
#define TREL_OPT_GRAD_FUNC_H

#include <memory>
#include <vector>

#include <opencv2/core.hpp>

#include "trel_opt/opt_func.h"

namespace trel {

// An analytic Jacobian of a base Opt_func.
//
// Jacobian layout, shared by every gradient function: J is a single-channel
// CV_64F matrix created by the solver with one row per equation of the whole
// problem and one column per search-vector value. A gradient function fills
// the rows row0 .. row0 + n - 1, n being its base function's number of values,
// row row0 + j holding the derivatives of value j in the base function's
// order, column d the derivative with respect to x[d]. Rows are unweighted:
// the solver multiplies them by the weights. Other rows are left untouched.
//
// The gradient function owns its base function and deletes it on destruction.
// Copies carry no state (no base function, no weights), so a copy never
// deletes the base function of its original; assignment leaves the target
// unchanged.
class Grad_func {
public:
  Grad_func() = default;
  // Takes ownership of base (may be null).
  explicit Grad_func(Opt_func* base) : base_function_(base) {}
  Grad_func(const Grad_func&) {}
  Grad_func& operator=(const Grad_func&) { return *this; }
  virtual ~Grad_func();

  // Fills the rows of J from row0 on (layout above) and returns how many.
  virtual int operator()(const std::vector<double>& x, cv::Mat& jacobian, int row0) const = 0;

  // Throws exception_l when no base function is set.
  const Opt_func* base_function() const;
  bool has_base_function() const { return base_function_ != nullptr; }

  // As for Opt_func, on this function's own list.
  double get_weight(int i) const { return detail::weight_at(weights_, i, "Grad_func"); }
  // Sets the weight here and, when a base function is set, on the base too.
  void set_weight(int i, double w);
  void set_weights(const std::vector<double>& w);

private:
  std::unique_ptr<Opt_func> base_function_;
  std::vector<double> weights_;
};

}  // namespace trel

#endif
