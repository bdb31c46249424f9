#include "trel_tools/math_utils.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <unistd.h>

#include "trel_tools/exception_l.h"

namespace trel {

namespace {

// The text MSVC's checked containers give; kept as this system's message.
const char* const bad_subscript = "invalid vector<T> subscript";

bool random_seeded = false;

[[noreturn]] void invalid_gamma_argument(double x) {
  std::stringstream text;
  text << "Invalid input argument " << x << ". Argument must be positive.";
  throw std::invalid_argument(text.str());
}

// Sum of the J or I series; `alternating` selects the (-1)^m factor.
float bessel_series(float order, float x, int terms, bool alternating) {
  if (terms <= 0) return 0.0f;
  float sum = 0.0f;
  for (int m = 0; m < terms; ++m) {
    const float gamma_argument = static_cast<float>(m) + order + 1.0f;
    const double sign = alternating && (m % 2 == 1) ? -1.0 : 1.0;
    const double term = sign / (detail::gamma_function(gamma_argument) * factorial(m)) *
                        std::pow(x / 2.0f, static_cast<float>(2 * m) + order);
    sum += static_cast<float>(term);
  }
  return sum;
}

}  // namespace

int factorial(int n) {
  if (n < 0 || n > 12)
    TREL_THROW("Cannot calculate factorial of " << n << " either negative or too large for a int to store");
  int result = 1;
  for (int i = 2; i <= n; ++i) result *= i;
  return result;
}

int ipow(const int& base, const int& exponent) {
  if (exponent < 0 && base == 0)
    TREL_THROW("ipow() : cannot raise 0 to the negative power " << exponent << " (division by zero)");
  if (exponent >= 0) {
    // Squaring in unsigned arithmetic: wraps as repeated int multiplication
    // would, without its undefined overflow and in log(exponent) steps.
    unsigned int result = 1;
    unsigned int factor = static_cast<unsigned int>(base);
    for (unsigned int e = static_cast<unsigned int>(exponent); e != 0; e >>= 1) {
      if (e & 1u) result *= factor;
      factor *= factor;
    }
    return static_cast<int>(result);
  }
  // Repeated truncating division of 1: after the first step the quotient is
  // 0 or +-1, so only bases 1 and -1 keep a non-zero value.
  if (base == 1) return 1;
  if (base == -1) return (exponent % 2 == 0) ? 1 : -1;
  return 0;
}

namespace detail {

double gamma_function(double x) {
  if (x <= 0.0 || std::isnan(x)) invalid_gamma_argument(x);

  constexpr double kEulerGamma = 0.5772156649015329;
  if (x < 0.001) return 1.0 / (x * (1.0 + kEulerGamma * x));

  if (x < 12.0) {
    // Shift into [1, 2), evaluate there, then undo the shift.
    double y = x;
    int n = 0;
    const bool below_one = y < 1.0;
    if (below_one) {
      y += 1.0;
    } else {
      n = static_cast<int>(std::floor(y)) - 1;
      y -= n;
    }
    static const double kNumerator[8] = {-1.716185138865495, 24.76565080557592,  -379.80425647094563,
                                        629.3311553128184, 866.9662027904133,
                                        -31451.272968848367, -36144.413418691176, 66456.14382024054};
    static const double kDenominator[8] = {-30.840230011973897, 315.35062697960416, -1015.1563674902192,
                                          -3107.771671572311,  22538.11842098015,  4755.846277527881,
                                          -134659.9598649693,  -115132.25967555349};
    double num = 0.0;
    double den = 1.0;
    const double z = y - 1.0;
    for (int k = 0; k < 8; ++k) {
      num = (num + kNumerator[k]) * z;
      den = den * z + kDenominator[k];
    }
    double result = num / den + 1.0;
    if (below_one) {
      result /= x;
    } else {
      for (int k = 0; k < n; ++k) result *= y++;
    }
    return result;
  }

  if (x > 171.624) return std::numeric_limits<double>::infinity();
  return std::exp(log_gamma_function(x));
}

double log_gamma_function(double x) {
  if (x <= 0.0 || std::isnan(x)) invalid_gamma_argument(x);
  if (x < 12.0) return std::log(std::fabs(gamma_function(x)));

  // Stirling series in 1/x^2 with the Bernoulli-number coefficients
  // 1/12, -1/360, 1/1260, -1/1680, 1/1188, -691/360360, 1/156, -3617/122400.
  static const double kStirling[8] = {1.0 / 12.0,   -1.0 / 360.0,         1.0 / 1260.0, -1.0 / 1680.0,
                                      1.0 / 1188.0, -691.0 / 360360.0,    1.0 / 156.0,  -3617.0 / 122400.0};
  const double z = 1.0 / (x * x);
  double sum = kStirling[7];
  for (int i = 6; i >= 0; --i) sum = sum * z + kStirling[i];
  const double series = sum / x;
  constexpr double kHalfLogTwoPi = 0.91893853320467274178032973640562;
  return (x - 0.5) * std::log(x) - x + kHalfLogTwoPi + series;
}

}  // namespace detail

float bessel(float order, float x, int terms) { return bessel_series(order, x, terms, true); }

float modified_bessel(float order, float x, int terms) { return bessel_series(order, x, terms, false); }

float discrete_gaussian_sample(int n, float t) {
  const float order = std::fabs(static_cast<float>(n));
  return modified_bessel(order, t, 12) * std::exp(-t);
}

double var(const std::vector<double>& v, double mean) {
  if (v.empty()) return std::numeric_limits<double>::quiet_NaN();
  const double count = static_cast<double>(v.size());
  if (mean == 0.0) {
    double sum = 0.0;
    for (double value : v) sum += value;
    mean = sum / count;
  }
  double squares = 0.0;
  for (double value : v) squares += (value - mean) * (value - mean);
  return squares / count;
}

void set_random_seed(unsigned int seed) {
  std::srand(seed);
  random_seeded = true;
}

double rand_frac() {
  if (!random_seeded) set_random_seed(static_cast<unsigned int>(std::time(nullptr)));
  // rand() lies in [0, RAND_MAX]; shifting by one and dividing by RAND_MAX + 2
  // keeps every value strictly inside (0, 1) whatever RAND_MAX is.
  return (static_cast<double>(std::rand()) + 1.0) / (static_cast<double>(RAND_MAX) + 2.0);
}

double rand_frac_gauss() {
  double u, v, s;
  do {
    u = 2.0 * rand_frac() - 1.0;
    v = 2.0 * rand_frac() - 1.0;
    s = u * u + v * v;
  } while (s >= 1.0);
  return u * std::sqrt(-2.0 * std::log(s) / s);
}

double rand_val_gauss(const double& min, const double& max, double range) {
  if (!(range > 0.0) || !std::isfinite(range))
    TREL_THROW("rand_val_gauss() : range must be a positive number, it was " << range);
  if (!(max >= min)) TREL_THROW("rand_val_gauss() : max " << max << " is less than min " << min);
  const double g = rand_frac_gauss();
  const double value = (g + range) * (max - min) / (2.0 * range) + min;
  if (value < min) return min;
  if (value > max) return max;
  return value;
}

std::vector<double>* linear_interpolate(const std::vector<double>* pairs, double fraction) {
  TREL_CHECK(pairs != nullptr, "linear_interpolate() : the vector of pairs is null");
  if (pairs->size() % 2 != 0) {
    std::cerr << "vector passed for interpolation had a size of " << pairs->size() << ", it must be even."
              << std::endl;
    throw std::out_of_range(bad_subscript);
  }
  std::unique_ptr<std::vector<double>> result(new std::vector<double>());
  result->reserve(pairs->size() / 2);
  for (std::size_t k = 0; k + 1 < pairs->size(); k += 2)
    result->push_back((1.0 - fraction) * (*pairs)[k] + fraction * (*pairs)[k + 1]);
  return result.release();
}

bool increment_index_vector(std::vector<int>& index, std::vector<int>& limits, unsigned start) {
  if (index.size() != limits.size())
    std::cerr << "Error: size of index vector=" << index.size() << " and size of limit vectors=" << limits.size()
              << " in incremenet index vector." << std::endl;
  // Find where the carry stops before writing, so a missing limit changes nothing.
  std::size_t i = start;
  for (; i < index.size(); ++i) {
    if (i >= limits.size()) throw std::out_of_range(bad_subscript);
    if (index[i] < limits[i]) break;
  }
  for (std::size_t k = start; k < i && k < index.size(); ++k) index[k] = 0;
  if (i >= index.size()) return false;
  ++index[i];
  return true;
}

double extract_value(void* nested, std::vector<int>* indices, int level) {
  TREL_CHECK(nested != nullptr && indices != nullptr, "extract_value() : null nested vector or index vector");
  if (level == -1) level = static_cast<int>(indices->size()) - 1;
  if (level < 0 || static_cast<std::size_t>(level) >= indices->size()) throw std::out_of_range(bad_subscript);
  void* current = nested;
  for (; level > 0; --level) {
    const std::vector<void*>& pointers = *static_cast<std::vector<void*>*>(current);
    const int i = (*indices)[static_cast<std::size_t>(level)];
    if (i < 0 || static_cast<std::size_t>(i) >= pointers.size()) throw std::out_of_range(bad_subscript);
    current = pointers[static_cast<std::size_t>(i)];
    TREL_CHECK(current != nullptr, "extract_value() : null entry at level " << level << ", index " << i);
  }
  const std::vector<double>& values = *static_cast<std::vector<double>*>(current);
  const int i = (*indices)[0];
  if (i < 0 || static_cast<std::size_t>(i) >= values.size()) throw std::out_of_range(bad_subscript);
  return values[static_cast<std::size_t>(i)];
}

bool pair_comparison(const std::pair<int, double>* a, const std::pair<int, double>* b) {
  TREL_CHECK(a != nullptr && b != nullptr, "pair_comparison() : null pair");
  return b->second > a->second;
}

int pid() { return static_cast<int>(getpid()); }

}  // namespace trel
