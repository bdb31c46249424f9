#ifndef TREL_OPT_ROBUST_LOSS_H
#define TREL_OPT_ROBUST_LOSS_H

#include <cmath>
#include <string>

namespace trel {

// Loss of one point's squared reprojection error s = e^2, with scale c:
//   squared    rho(s) = s
//   huber      rho(s) = s for e <= c, 2 c e - c^2 beyond
//   cauchy     rho(s) = c^2 log(1 + s / c^2)
//   soft_l1    rho(s) = 2 c^2 (sqrt(1 + s / c^2) - 1)
//   truncated  rho(s) = min(s, c^2)
// The formulas below never form c^2 alone: with x = (s / c) / c they stay
// finite and accurate for any finite s >= 0 and c > 0 whose rho is finite
// (a scale of 1e155 gives the squared loss to rounding, not 0 or NaN).
enum class Loss { squared, huber, cauchy, soft_l1, truncated };

// "squared", "huber", "cauchy", "soft_l1" or "truncated".
const char* loss_name(Loss loss);
// The loss of that name; false, with loss unchanged, for any other text.
bool loss_from_name(const std::string& name, Loss& loss);

// rho(s) and the iteratively-reweighted-least-squares weight rho'(s) of the
// squared error s at scale c (both for s >= 0, c > 0).
template <typename T>
T robust_loss_value(Loss loss, T s, T c);
template <typename T>
T robust_loss_weight(Loss loss, T s, T c);

// Below this x = s / c^2, log(1 + x) / x is its series to x^4 (exact to
// rounding); callers that sum log(1 + x) through a product use it for small x.
constexpr double kLossSeriesLimit = 1e-3;

// log(1 + x) / x for 0 <= x < kLossSeriesLimit.
template <typename T>
inline T log1p_ratio_series(T x) {
  return T(1) - x * (T(0.5) - x * (T(1) / T(3) - x * (T(0.25) - x * T(0.2))));
}

// rho(s) and rho'(s) of the loss L, inline.
template <Loss L, typename T>
inline void robust_loss_terms(T s, T c, T& rho, T& weight) {
  if constexpr (L == Loss::squared) {
    (void)c;
    rho = s;
    weight = T(1);
    return;
  } else {
    const T x = s / c / c;  // s / c^2 without overflowing or underflowing c^2
    if constexpr (L == Loss::huber || L == Loss::truncated) {
      const bool within = x <= T(1);
      if constexpr (L == Loss::huber) {
        const T e = std::sqrt(s);
        rho = within ? s : c * (T(2) * e - c);
        weight = within ? T(1) : c / e;
      } else {
        rho = within ? s : c * c;
        weight = within ? T(1) : T(0);
      }
    } else if constexpr (L == Loss::cauchy) {
      weight = T(1) / (T(1) + x);
      if (x < T(kLossSeriesLimit)) rho = s * log1p_ratio_series(x);
      else if (std::isfinite(x)) rho = c * (c * std::log1p(x));
      else rho = c * (c * (std::log(s) - T(2) * std::log(c)));
    } else {  // soft_l1: 2 c^2 (q - 1) = 2 s / (q + 1), q = sqrt(1 + x)
      const T q = std::sqrt(T(1) + x);
      weight = T(1) / q;
      if (x < T(1)) rho = T(2) * s / (q + T(1));
      else if (std::isfinite(x)) rho = T(2) * c * (c * q - c);
      else rho = T(2) * c * (std::sqrt(s) - c);
    }
  }
}

// 2 s rho''(s) of the squared error s at scale c, dimensionless: the Hessian
// of rho(|r|^2) / 2 in r is rho'(s) I + 2 s rho''(s) r r^T / s. 0 for the
// squared and the truncated loss; -rho'(s) for Huber beyond the scale;
// -2 x / (1 + x)^2 for Cauchy and -x / (1 + x)^(3/2) for soft L1, x = s / c^2.
template <typename T>
T robust_loss_curvature(Loss loss, T s, T c);

extern template double robust_loss_value<double>(Loss, double, double);
extern template double robust_loss_weight<double>(Loss, double, double);
extern template double robust_loss_curvature<double>(Loss, double, double);

}  // namespace trel

#endif
