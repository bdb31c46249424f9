#include "trel_opt/robust_loss.h"

#include <cmath>

namespace trel {

const char* loss_name(Loss loss) {
  switch (loss) {
    case Loss::huber: return "huber";
    case Loss::cauchy: return "cauchy";
    case Loss::soft_l1: return "soft_l1";
    case Loss::truncated: return "truncated";
    case Loss::squared: break;
  }
  return "squared";
}

bool loss_from_name(const std::string& name, Loss& loss) {
  for (Loss candidate : {Loss::squared, Loss::huber, Loss::cauchy, Loss::soft_l1, Loss::truncated})
    if (name == loss_name(candidate)) {
      loss = candidate;
      return true;
    }
  return false;
}

namespace {

template <typename T>
void terms_of(Loss loss, T s, T c, T& rho, T& weight) {
  switch (loss) {
    case Loss::huber: return robust_loss_terms<Loss::huber>(s, c, rho, weight);
    case Loss::cauchy: return robust_loss_terms<Loss::cauchy>(s, c, rho, weight);
    case Loss::soft_l1: return robust_loss_terms<Loss::soft_l1>(s, c, rho, weight);
    case Loss::truncated: return robust_loss_terms<Loss::truncated>(s, c, rho, weight);
    case Loss::squared: break;
  }
  robust_loss_terms<Loss::squared>(s, c, rho, weight);
}

}  // namespace

template <typename T>
T robust_loss_value(Loss loss, T s, T c) {
  T rho, weight;
  terms_of(loss, s, c, rho, weight);
  return rho;
}

template <typename T>
T robust_loss_weight(Loss loss, T s, T c) {
  T rho, weight;
  terms_of(loss, s, c, rho, weight);
  return weight;
}

template <typename T>
T robust_loss_curvature(Loss loss, T s, T c) {
  const T x = s / c / c;
  switch (loss) {
    case Loss::huber: return x <= T(1) ? T(0) : -c / std::sqrt(s);
    case Loss::cauchy: return std::isfinite(x) ? -T(2) * x / ((T(1) + x) * (T(1) + x)) : T(0);
    case Loss::soft_l1: return std::isfinite(x) ? -x / ((T(1) + x) * std::sqrt(T(1) + x)) : T(0);
    case Loss::truncated: case Loss::squared: break;
  }
  return T(0);
}

template double robust_loss_value<double>(Loss, double, double);
template double robust_loss_curvature<double>(Loss, double, double);
template double robust_loss_weight<double>(Loss, double, double);

}  // namespace trel
