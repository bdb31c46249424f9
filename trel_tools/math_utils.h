#ifndef TREL_TOOLS_MATH_UTILS_H
#define TREL_TOOLS_MATH_UTILS_H

// Small numerical helpers: integer factorial and power, Bessel series, the
// discrete Gaussian kernel, sample variance, random numbers from the C
// library generator, and a few container utilities.

#include <utility>
#include <vector>

#include "trel_tools/export.h"

namespace trel {

// n! for 0 <= n <= 12 (the largest that fits a 32-bit int); any other n
// throws exception_l.
TREL_TOOLS_EXPORT int factorial(int n);

// base^exponent in int arithmetic (overflow wraps). A negative exponent
// performs |exponent| truncating divisions of 1 by the base, so |base| > 1
// gives 0 and base -1 gives +-1. Base 0 with a negative exponent throws
// exception_l.
TREL_TOOLS_EXPORT int ipow(const int& base, const int& exponent);

// Bessel function of the first kind J_order(x), by its power series summed in
// single precision over m = 0 .. terms-1. Returns 0 for terms <= 0. The series
// uses factorial(m), so more than 13 terms throws exception_l; a non-positive
// gamma argument m + order + 1 throws std::invalid_argument.
TREL_TOOLS_EXPORT float bessel(float order, float x, int terms);

// Modified Bessel function of the first kind I_order(x): the same series
// without the alternating sign, with the same limits.
TREL_TOOLS_EXPORT float modified_bessel(float order, float x, int terms);

// The discrete Gaussian kernel T(n, t) = e^-t I_|n|(t), with 12 series terms.
TREL_TOOLS_EXPORT float discrete_gaussian_sample(int n, float t);

// Population variance (divisor N) of v about `mean`; a mean of exactly 0.0
// means "unknown" and the mean of v is used. An empty v gives NaN.
TREL_TOOLS_EXPORT double var(const std::vector<double>& v, double mean);

// Seeds the C library generator with `seed` and marks it seeded, so that the
// random functions below do not reseed it from the clock.
TREL_TOOLS_EXPORT void set_random_seed(unsigned int seed);

// Uniform value strictly between 0 and 1 from rand(). The first draw of any
// random function seeds the generator from the current time unless
// set_random_seed was called. Not thread safe (shares the C generator).
TREL_TOOLS_EXPORT double rand_frac();

// Standard normal value by Marsaglia's polar method.
TREL_TOOLS_EXPORT double rand_frac_gauss();

// A standard normal value g mapped linearly from [-range, range] onto
// [min, max] and clamped to [min, max]. Throws exception_l when range is not a
// positive finite number or max < min.
TREL_TOOLS_EXPORT double rand_val_gauss(const double& min, const double& max, double range);

// For each consecutive pair (p[2k], p[2k+1]) the value (1 - f) p[2k] + f p[2k+1].
// The result is newly allocated and owned by the caller. An odd element count
// writes a line to standard error and throws std::out_of_range (nothing is
// allocated); a null `pairs` throws exception_l.
TREL_TOOLS_EXPORT std::vector<double>* linear_interpolate(const std::vector<double>* pairs, double fraction);

// Odometer increment: from position `start` upwards, the first index below
// its (inclusive) limit is incremented and true returned; the indices passed
// on the way wrap to 0. When every position from `start` has wrapped (or
// start is at or past the end) returns false. Differing sizes write a line to
// standard error; reaching a position that has no limit then throws
// std::out_of_range before anything is changed.
TREL_TOOLS_EXPORT bool increment_index_vector(std::vector<int>& index, std::vector<int>& limits, unsigned start);

// Element of nested vectors. `nested` points to a std::vector<void*> whose
// entries point to the next level, as many levels as there are indices, the
// innermost being a std::vector<double>. Level -1 means the outermost
// (indices->size() - 1). Each level L > 0 is indexed by (*indices)[L], the
// innermost by (*indices)[0]. A bad index or level throws std::out_of_range;
// null pointers throw exception_l.
TREL_TOOLS_EXPORT double extract_value(void* nested, std::vector<int>* indices, int level);

// Sorting predicate: true when b's score is greater than a's (ascending by
// score). Null pointers throw exception_l.
TREL_TOOLS_EXPORT bool pair_comparison(const std::pair<int, double>* a, const std::pair<int, double>* b);

// The operating system's identifier of the current process.
TREL_TOOLS_EXPORT int pid();

namespace detail {

// The gamma function in double precision: Cody's rational approximation on
// [1, 2] with the recurrence below 12, exp of the Stirling series up to
// 171.624, +infinity above. Arguments <= 0 throw std::invalid_argument.
TREL_TOOLS_EXPORT double gamma_function(double x);

// ln|gamma(x)|: the Stirling series for x >= 12, else the log of the above.
TREL_TOOLS_EXPORT double log_gamma_function(double x);

}  // namespace detail
}  // namespace trel

#endif
