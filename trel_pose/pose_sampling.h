#ifndef TREL_POSE_POSE_SAMPLING_H
#define TREL_POSE_POSE_SAMPLING_H

#include <cmath>

namespace trel {

// The random search's pieces that estimate_pose and estimate_rig_pose share.

// Samples of 3 still needed for the confidence with the given inlier share.
inline int needed_iterations(double confidence, double inlier_share, int max_iterations) {
  const double all_good = inlier_share * inlier_share * inlier_share;
  if (all_good >= 1.0) return 0;
  if (all_good <= 0.0) return max_iterations;
  const double k = std::log(1.0 - confidence) / std::log1p(-all_good);
  return k >= max_iterations ? max_iterations : static_cast<int>(std::ceil(k));
}

// Three distinct indices from draw(), drawn in order.
template <typename Draw>
void draw_three(Draw&& draw, int idx[3]) {
  idx[0] = draw();
  do idx[1] = draw(); while (idx[1] == idx[0]);
  do idx[2] = draw(); while (idx[2] == idx[0] || idx[2] == idx[1]);
}

}  // namespace trel

#endif
