#include "trel_opt/opt_func.h"

#include <cstddef>
#include <stdexcept>
#include <string>

namespace trel {

namespace detail {

double checked_weight_at(const std::vector<double>& weights, int i, const char* owner) {
  if (weights.empty()) return 1.0;
  if (i < 0) throw std::out_of_range(std::string(owner) + "::get_weight: negative equation index");
  return weights.at(static_cast<std::size_t>(i));
}

void set_weight_at(std::vector<double>& weights, int i, double w, const char* owner) {
  if (i < 0) throw std::out_of_range(std::string(owner) + "::set_weight: negative equation index");
  const std::size_t index = static_cast<std::size_t>(i);
  if (index >= weights.size()) weights.resize(index + 1, 0.0);
  weights[index] = w;
}

}  // namespace detail

void Opt_func::set_weight(int i, double w) { detail::set_weight_at(weights_, i, w, "Opt_func"); }

void Opt_func::set_weights(const std::vector<double>& w) { weights_ = w; }

}  // namespace trel
