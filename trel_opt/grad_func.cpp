#include "trel_opt/grad_func.h"

#include "trel_tools/exception_l.h"

namespace trel {

Grad_func::~Grad_func() = default;

const Opt_func* Grad_func::base_function() const {
  if (base_function_ == nullptr)
    TREL_THROW("Tried to access base function for a Grad_func, but none has been set");
  return base_function_.get();
}

void Grad_func::set_weight(int i, double w) {
  detail::set_weight_at(weights_, i, w, "Grad_func");
  if (base_function_ != nullptr) base_function_->set_weight(i, w);
}

void Grad_func::set_weights(const std::vector<double>& w) {
  weights_ = w;
  if (base_function_ != nullptr) base_function_->set_weights(w);
}

}  // namespace trel
