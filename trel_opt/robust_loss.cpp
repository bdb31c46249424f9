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

template <typename T>
T robust_loss_value(Loss loss, T s, T c) {
  const T c2 = c * c;
  switch (loss) {
    case Loss::huber: return s <= c2 ? s : T(2) * c * std::sqrt(s) - c2;
    case Loss::cauchy: return c2 * std::log1p(s / c2);
    case Loss::soft_l1: return T(2) * c2 * (std::sqrt(T(1) + s / c2) - T(1));
    case Loss::truncated: return s <= c2 ? s : c2;
    case Loss::squared: break;
  }
  return s;
}

template <typename T>
T robust_loss_weight(Loss loss, T s, T c) {
  const T c2 = c * c;
  switch (loss) {
    case Loss::huber: return s <= c2 ? T(1) : c / std::sqrt(s);
    case Loss::cauchy: return T(1) / (T(1) + s / c2);
    case Loss::soft_l1: return T(1) / std::sqrt(T(1) + s / c2);
    case Loss::truncated: return s <= c2 ? T(1) : T(0);
    case Loss::squared: break;
  }
  return T(1);
}

template double robust_loss_value<double>(Loss, double, double);
template double robust_loss_weight<double>(Loss, double, double);

}  // namespace trel
