#include "trel_opt/grad_func.h"

#include <cstddef>
#include <stdexcept>

#include "trel_tools/exception_l.h"

namespace trel {

Grad_func::~Grad_func() { delete base_function_; }

const Opt_func* Grad_func::base_function() const {
  if (base_function_ == nullptr)
    TREL_THROW("Tried to access base function for a Grad_func, but none has been set");
  return base_function_;
}

double Grad_func::get_weight(int i) const {
  if (weights_.empty()) return 1.0;
  if (i < 0) throw std::out_of_range("Grad_func::get_weight: negative equation index");
  return weights_.at(static_cast<std::size_t>(i));
}

void Grad_func::set_weight(int i, double w) {
  if (i < 0) throw std::out_of_range("Grad_func::set_weight: negative equation index");
  const std::size_t index = static_cast<std::size_t>(i);
  if (index >= weights_.size()) weights_.resize(index + 1, 0.0);
  weights_.at(index) = w;
  if (base_function_ != nullptr) base_function_->set_weight(i, w);
}

void Grad_func::set_weights(const std::vector<double>& w) {
  weights_ = w;
  if (base_function_ != nullptr) base_function_->set_weights(w);
}

}  // namespace trel
