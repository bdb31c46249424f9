#ifndef TREL_OPT_OPT_FUNC_H
#define TREL_OPT_OPT_FUNC_H

#include <cstddef>
#include <vector>

namespace trel {

// A vector-valued objective: maps a parameter vector to one value per equation.
// A solver compares the values with a target and estimates the derivatives by
// finite differences. Values are returned unweighted; the per-equation weights
// held here are applied by the solver.
//
// Copies carry no state: a copy starts with empty weights, and assignment
// leaves the target unchanged.
namespace detail {

// The per-equation weight rules both function kinds share: 1.0 while the list
// is empty; setting past the end grows the list with 0.0. `owner` names the
// class in the std::out_of_range texts.
double checked_weight_at(const std::vector<double>& weights, int i, const char* owner);
// Inline, as the solver reads one weight per equation on every step; the
// out-of-line part checks the index and throws.
inline double weight_at(const std::vector<double>& weights, int i, const char* owner) {
  if (weights.empty()) return 1.0;
  if (i >= 0 && static_cast<std::size_t>(i) < weights.size()) return weights[static_cast<std::size_t>(i)];
  return checked_weight_at(weights, i, owner);
}
void set_weight_at(std::vector<double>& weights, int i, double w, const char* owner);

}  // namespace detail

class Opt_func {
public:
  Opt_func() = default;
  Opt_func(const Opt_func&) {}
  Opt_func& operator=(const Opt_func&) { return *this; }
  virtual ~Opt_func() = default;

  // The values at x. Their number is the function's number of equations and
  // must be the same for every x.
  virtual std::vector<double> operator()(const std::vector<double>& x) const = 0;

  // 1.0 while no weight has been set; otherwise the weight of equation i.
  // Throws std::out_of_range for an index outside the weight list.
  double get_weight(int i) const { return detail::weight_at(weights_, i, "Opt_func"); }
  // Grows the list with 0.0 entries up to i + 1 if needed, then sets entry i.
  // Throws std::out_of_range for a negative index (the list is then unchanged).
  void set_weight(int i, double w);
  void set_weights(const std::vector<double>& w);

private:
  std::vector<double> weights_;
};

}  // namespace trel

#endif
