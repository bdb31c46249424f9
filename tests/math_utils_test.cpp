#include "trel_tools/math_utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "trel_tools/exception_l.h"
#include "tests/test_support.h"

namespace {

// Cody's approximation and the Stirling series are good to a few ulps; exp of
// log gamma near 171 multiplies that by log gamma (~700).
constexpr double kGammaRelTolerance = 1e-12;
// Below 0.001 gamma is 1 / (x (1 + gamma_E x)), off by about 0.66 x^2 relative.
constexpr double kTinyGammaRelTolerance = 1e-6;
// The Bessel series is summed in float: a few float ulps of the largest term.
constexpr double kFloatSeriesTolerance = 2e-6;
// Mean of N uniform or normal draws: five standard errors at the sizes used.
constexpr int kDraws = 200000;

using trel_test::detail_of;

TEST(Factorial, CoversZeroToTwelveAndRefusesTheRest) {
  int expected = 1;
  for (int n = 0; n <= 12; ++n) {
    if (n > 1) expected *= n;
    EXPECT_EQ(trel::factorial(n), expected) << n;
  }
  EXPECT_EQ(trel::factorial(12), 479001600);
  for (int n : {13, -1}) {
    try {
      trel::factorial(n);
      ADD_FAILURE() << "nothing thrown for " << n;
    } catch (const trel::exception_l& e) {
      EXPECT_EQ(detail_of(e), "Cannot calculate factorial of " + std::to_string(n) +
                                  " either negative or too large for a int to store");
    }
  }
}

TEST(Ipow, PositiveZeroAndNegativeExponents) {
  struct Case {
    int base, exponent, result;
  };
  const std::vector<Case> cases = {
      {2, 10, 1024}, {3, 0, 1},  {0, 0, 1},   {-3, 3, -27}, {0, 5, 0},  {10, 9, 1000000000},
      {2, -1, 0},    {1, -7, 1}, {-1, -3, -1}, {-1, -4, 1},  {-2, -1, 0}, {7, -2, 0},
      {2, 31, -2147483647 - 1},  // wraps like int multiplication
      {2, 32, 0},    {-1, 2147483647, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(trel::ipow(c.base, c.exponent), c.result) << c.base << "^" << c.exponent;
  EXPECT_THROW(trel::ipow(0, -1), trel::exception_l);
}

TEST(GammaFunction, MatchesTheStandardLibraryAcrossItsBranches) {
  for (double x : {0.0015, 0.3, 0.999, 1.0, 1.5, 2.0, 2.5, 5.7, 11.99, 12.0, 12.5, 20.5, 100.0, 171.6}) {
    EXPECT_NEAR(trel::detail::gamma_function(x) / std::tgamma(x), 1.0, kGammaRelTolerance) << x;
    EXPECT_NEAR(trel::detail::log_gamma_function(x), std::lgamma(x),
                kGammaRelTolerance * std::max(1.0, std::fabs(std::lgamma(x))))
        << x;
  }
  EXPECT_NEAR(trel::detail::gamma_function(0.0005) / std::tgamma(0.0005), 1.0, kTinyGammaRelTolerance);
  EXPECT_EQ(trel::detail::gamma_function(171.7), std::numeric_limits<double>::infinity());
  EXPECT_EQ(trel::detail::gamma_function(5.0), 24.0);
}

TEST(GammaFunction, RefusesNonPositiveArguments) {
  for (double x : {0.0, -1.5}) {
    try {
      trel::detail::gamma_function(x);
      ADD_FAILURE() << "nothing thrown for " << x;
    } catch (const std::invalid_argument& e) {
      std::stringstream text;
      text << "Invalid input argument " << x << ". Argument must be positive.";
      EXPECT_EQ(e.what(), text.str());
    }
    EXPECT_THROW(trel::detail::log_gamma_function(x), std::invalid_argument);
  }
}

// The power series in double with the standard library's gamma, 40 terms.
double reference_series(double order, double x, bool alternating) {
  double sum = 0.0;
  for (int m = 0; m < 40; ++m) {
    const double log_term =
        (2 * m + order) * std::log(x / 2.0) - std::lgamma(m + 1.0) - std::lgamma(m + order + 1.0);
    sum += (alternating && m % 2 == 1 ? -1.0 : 1.0) * std::exp(log_term);
  }
  return sum;
}

TEST(Bessel, MatchesAnIndependentDoubleSeriesAtSeveralOrders) {
  for (float order : {0.0f, 1.0f, 2.0f, 3.0f, 0.5f, 2.5f}) {
    for (float x : {0.25f, 1.0f, 2.0f, 3.0f}) {
      EXPECT_NEAR(trel::bessel(order, x, 13), reference_series(order, x, true), kFloatSeriesTolerance)
          << "J order " << order << " at " << x;
      EXPECT_NEAR(trel::modified_bessel(order, x, 13), reference_series(order, x, false),
                  kFloatSeriesTolerance * reference_series(order, x, false) + kFloatSeriesTolerance)
          << "I order " << order << " at " << x;
    }
  }
  // Closed forms of the half orders.
  const double pi = 3.14159265358979323846;
  EXPECT_NEAR(trel::bessel(0.5f, 2.0f, 13), std::sqrt(2.0 / (pi * 2.0)) * std::sin(2.0), kFloatSeriesTolerance);
  EXPECT_NEAR(trel::modified_bessel(0.5f, 2.0f, 13), std::sqrt(2.0 / (pi * 2.0)) * std::sinh(2.0),
              kFloatSeriesTolerance * 4);
}

TEST(Bessel, KnownValuesAndTheThirteenTermLimit) {
  EXPECT_EQ(trel::bessel(0.0f, 0.0f, 5), 1.0f);
  EXPECT_EQ(trel::bessel(1.0f, 0.0f, 5), 0.0f);
  EXPECT_NEAR(trel::modified_bessel(0.0f, 2.0f, 12), 2.2795853, kFloatSeriesTolerance * 4);
  EXPECT_EQ(trel::bessel(0.0f, 1.0f, 0), 0.0f);
  EXPECT_EQ(trel::modified_bessel(0.0f, 1.0f, -3), 0.0f);
  EXPECT_EQ(trel::bessel(0.0f, 1.0f, 1), 1.0f);  // the first term alone
  EXPECT_NO_THROW(trel::bessel(1.0f, 1.0f, 13));
  EXPECT_THROW(trel::bessel(1.0f, 1.0f, 14), trel::exception_l);
  EXPECT_THROW(trel::modified_bessel(1.0f, 1.0f, 14), trel::exception_l);
}

TEST(DiscreteGaussianSample, IsSymmetricAndSumsToOne) {
  for (float t : {0.5f, 1.0f, 2.0f}) {
    double total = 0.0;
    for (int n = -12; n <= 12; ++n) {
      total += trel::discrete_gaussian_sample(n, t);
      EXPECT_EQ(trel::discrete_gaussian_sample(n, t), trel::discrete_gaussian_sample(-n, t));
    }
    EXPECT_NEAR(total, 1.0, 1e-5) << "t " << t;  // 12 terms and float sums
  }
  EXPECT_NEAR(trel::discrete_gaussian_sample(0, 2.0f), 2.2795853 * std::exp(-2.0), 1e-6);
}

TEST(Var, PopulationVarianceWithOrWithoutAMean) {
  EXPECT_DOUBLE_EQ(trel::var({1, 2, 3}, 0.0), 2.0 / 3.0);
  EXPECT_DOUBLE_EQ(trel::var({1, 2, 3}, 2.0), 2.0 / 3.0);
  EXPECT_DOUBLE_EQ(trel::var({1, 2, 3}, 1.0), 5.0 / 3.0);
  EXPECT_DOUBLE_EQ(trel::var({-4, 4}, 0.0), 16.0);
  EXPECT_TRUE(std::isnan(trel::var({}, 0.0)));
}

TEST(RandomNumbers, UniformStaysStrictlyInsideTheUnitInterval) {
  trel::set_random_seed(12345);
  double sum = 0.0, lowest = 1.0, highest = 0.0;
  for (int i = 0; i < kDraws; ++i) {
    const double u = trel::rand_frac();
    lowest = std::min(lowest, u);
    highest = std::max(highest, u);
    sum += u;
  }
  EXPECT_GT(lowest, 0.0);
  EXPECT_LT(highest, 1.0);
  EXPECT_GT(highest, 0.99) << "draws do not cover the interval";
  EXPECT_NEAR(sum / kDraws, 0.5, 5 * std::sqrt(1.0 / 12.0 / kDraws));
}

TEST(RandomNumbers, SeedingRepeatsTheSequence) {
  trel::set_random_seed(99);
  const double a = trel::rand_frac(), b = trel::rand_frac_gauss();
  trel::set_random_seed(99);
  EXPECT_EQ(trel::rand_frac(), a);
  EXPECT_EQ(trel::rand_frac_gauss(), b);
}

TEST(RandomNumbers, GaussHasUnitVarianceAndMappedValuesStayInRange) {
  trel::set_random_seed(2024);
  double sum = 0.0, squares = 0.0;
  for (int i = 0; i < kDraws; ++i) {
    const double g = trel::rand_frac_gauss();
    sum += g;
    squares += g * g;
  }
  const double mean = sum / kDraws;
  EXPECT_NEAR(mean, 0.0, 5 / std::sqrt(kDraws));
  EXPECT_NEAR(squares / kDraws - mean * mean, 1.0, 5 * std::sqrt(2.0 / kDraws));

  double mapped_sum = 0.0;
  for (int i = 0; i < kDraws; ++i) {
    const double v = trel::rand_val_gauss(0.0, 10.0, 3.0);
    ASSERT_GE(v, 0.0);
    ASSERT_LE(v, 10.0);
    mapped_sum += v;
  }
  // g maps to 5 + 5 g / 3: mean 5, standard deviation 5/3 before clamping.
  EXPECT_NEAR(mapped_sum / kDraws, 5.0, 5 * (5.0 / 3.0) / std::sqrt(kDraws));
  EXPECT_THROW(trel::rand_val_gauss(0.0, 10.0, 0.0), trel::exception_l);
  EXPECT_THROW(trel::rand_val_gauss(10.0, 0.0, 3.0), trel::exception_l);
}

TEST(LinearInterpolate, OneValuePerPair) {
  const std::vector<double> pairs = {0, 10, 2, 4, -1, -1};
  std::unique_ptr<std::vector<double>> out(trel::linear_interpolate(&pairs, 0.25));
  EXPECT_EQ(*out, (std::vector<double>{2.5, 2.5, -1.0}));
  const std::vector<double> none;
  out.reset(trel::linear_interpolate(&none, 0.5));
  EXPECT_TRUE(out->empty());

  const std::vector<double> odd = {1, 2, 3};
  try {
    out.reset(trel::linear_interpolate(&odd, 0.5));
    FAIL() << "nothing thrown";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "invalid vector<T> subscript");
  }
  EXPECT_THROW(trel::linear_interpolate(nullptr, 0.5), trel::exception_l);
}

TEST(IncrementIndexVector, CountsLikeAnOdometerWithInclusiveLimits) {
  std::vector<int> index = {1, 2}, limits = {1, 2};
  EXPECT_FALSE(trel::increment_index_vector(index, limits, 0));
  EXPECT_EQ(index, (std::vector<int>{0, 0}));
  EXPECT_TRUE(trel::increment_index_vector(index, limits, 0));
  EXPECT_EQ(index, (std::vector<int>{1, 0}));
  EXPECT_TRUE(trel::increment_index_vector(index, limits, 0));
  EXPECT_EQ(index, (std::vector<int>{0, 1}));

  index = {0, 0};
  int states = 1;
  while (trel::increment_index_vector(index, limits, 0)) ++states;
  EXPECT_EQ(states, 2 * 3);

  index = {1, 0};
  EXPECT_TRUE(trel::increment_index_vector(index, limits, 1));
  EXPECT_EQ(index, (std::vector<int>{1, 1})) << "positions below start are left alone";
  EXPECT_FALSE(trel::increment_index_vector(index, limits, 5));
  EXPECT_EQ(index, (std::vector<int>{1, 1}));
}

TEST(IncrementIndexVector, MissingLimitThrowsBeforeChangingAnything) {
  std::vector<int> index = {3, 0}, limits = {3};
  EXPECT_THROW(trel::increment_index_vector(index, limits, 0), std::out_of_range);
  EXPECT_EQ(index, (std::vector<int>{3, 0}));
  std::vector<int> shorter = {0}, more_limits = {2, 2};
  EXPECT_TRUE(trel::increment_index_vector(shorter, more_limits, 0));
  EXPECT_EQ(shorter, (std::vector<int>{1}));
}

TEST(ExtractValue, LastIndexSelectsInTheOutermostVector) {
  // values[a][b][c] = 100 a + 10 b + c, with a chosen by the last index.
  std::vector<std::vector<double>> leaves;
  std::vector<std::vector<void*>> middles(2);
  leaves.reserve(6);
  for (int a = 0; a < 2; ++a)
    for (int b = 0; b < 3; ++b) {
      leaves.push_back({100.0 * a + 10 * b, 100.0 * a + 10 * b + 1, 100.0 * a + 10 * b + 2, 100.0 * a + 10 * b + 3});
      middles[a].push_back(&leaves.back());
    }
  std::vector<void*> outer = {&middles[0], &middles[1]};

  std::vector<int> indices = {3, 2, 1};
  EXPECT_EQ(trel::extract_value(&outer, &indices, -1), 123.0);
  EXPECT_EQ(trel::extract_value(&outer, &indices, 2), 123.0);
  EXPECT_EQ(trel::extract_value(&middles[0], &indices, 1), 23.0);
  EXPECT_EQ(trel::extract_value(&leaves[4], &indices, 0), 113.0);

  for (const std::vector<int>& bad : {std::vector<int>{4, 0, 0}, std::vector<int>{0, 3, 0},
                                       std::vector<int>{0, 0, 2}, std::vector<int>{0, 0, -1}}) {
    std::vector<int> b = bad;
    EXPECT_THROW(trel::extract_value(&outer, &b, -1), std::out_of_range);
  }
  EXPECT_THROW(trel::extract_value(&outer, &indices, 3), std::out_of_range);
  std::vector<int> empty;
  EXPECT_THROW(trel::extract_value(&outer, &empty, -1), std::out_of_range);
}

TEST(PairComparison, SortsByAscendingScore) {
  std::vector<std::pair<int, double>> pairs = {{0, 0.5}, {1, -2.0}, {2, 3.0}, {3, 0.0}};
  std::vector<const std::pair<int, double>*> order;
  for (const auto& p : pairs) order.push_back(&p);
  std::sort(order.begin(), order.end(), trel::pair_comparison);
  std::vector<int> ids;
  for (const auto* p : order) ids.push_back(p->first);
  EXPECT_EQ(ids, (std::vector<int>{1, 3, 0, 2}));
  EXPECT_FALSE(trel::pair_comparison(&pairs[0], &pairs[0]));
}

TEST(Pid, IsTheCurrentProcess) { EXPECT_EQ(trel::pid(), static_cast<int>(getpid())); }

}  // namespace
