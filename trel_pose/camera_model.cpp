#include "trel_pose/camera_model.h"

namespace trel {

Pinhole_model<double> pinhole_from(const matrix<double>& K) {
  const double entries[9] = {K[0][0], K[0][1], K[0][2], K[1][0], K[1][1], K[1][2], K[2][0], K[2][1], K[2][2]};
  return pinhole_from<double>(entries);
}

template struct Pinhole_model<double>;
template struct Pinhole_at_pose<double>;
template struct Camera_frame_at_pose<double>;

}  // namespace trel
