#include "trel_opt/opt_func.h"

#include <cstddef>
#include <stdexcept>

namespace trel {

double Opt_func::get_weight(int i) const {
  if (weights_.empty()) return 1.0;
  if (i < 0) throw std::out_of_range("Opt_func::get_weight: negative equation index");
  return weights_.at(static_cast<std::size_t>(i));
}

void Opt_func::set_weight(int i, double w) {
  if (i < 0) throw std::out_of_range("Opt_func::set_weight: negative equation index");
  const std::size_t index = static_cast<std::size_t>(i);
  if (index >= weights_.size()) weights_.resize(index + 1, 0.0);
  weights_.at(index) = w;
}

void Opt_func::set_weights(const std::vector<double>& w) { weights_ = w; }

}  // namespace trel
