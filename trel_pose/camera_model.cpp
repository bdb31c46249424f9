#include "trel_pose/camera_model.h"

#include "trel_tools/exception_l.h"

namespace trel {

Pinhole_model<double> pinhole_from(const matrix<double>& K) {
  const double entries[9] = {K[0][0], K[0][1], K[0][2], K[1][0], K[1][1], K[1][2], K[2][0], K[2][1], K[2][2]};
  return pinhole_from<double>(entries);
}

void check_camera_matrix_form(const matrix<double>& K) {
  static const unsigned kBelow[3][2] = {{1, 0}, {2, 0}, {2, 1}};
  for (const auto& at : kBelow)
    TREL_CHECK(K[at[0]][at[1]] == 0.0, "K should have a pinhole's form [fx s cx; 0 fy cy; 0 0 1] (or a multiple of "
                                       "it), instead element ("
                                           << at[0] + 1 << "," << at[1] + 1 << ") is " << K[at[0]][at[1]]);
}

template struct Pinhole_model<double>;
template struct Pinhole_at_pose<double>;
template struct Camera_frame_at_pose<double>;

}  // namespace trel
