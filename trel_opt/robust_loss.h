#ifndef TREL_OPT_ROBUST_LOSS_H
#define TREL_OPT_ROBUST_LOSS_H

#include <string>

namespace trel {

// Loss of one point's squared reprojection error s = e^2, with scale c:
//   squared    rho(s) = s
//   huber      rho(s) = s for e <= c, 2 c e - c^2 beyond
//   cauchy     rho(s) = c^2 log(1 + s / c^2)
//   soft_l1    rho(s) = 2 c^2 (sqrt(1 + s / c^2) - 1)
//   truncated  rho(s) = min(s, c^2)
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

extern template double robust_loss_value<double>(Loss, double, double);
extern template double robust_loss_weight<double>(Loss, double, double);

}  // namespace trel

#endif
