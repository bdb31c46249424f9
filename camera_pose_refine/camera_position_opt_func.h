#ifndef CAMERA_POSE_REFINE_CAMERA_POSITION_OPT_FUNC_H
#define CAMERA_POSE_REFINE_CAMERA_POSITION_OPT_FUNC_H

#include <vector>

#include "trel_opt/opt_func.h"
#include "trel_pose/pose_codes.h"
#include "trel_tools/matrix.h"

namespace trel {

// Predicted observations of fixed world points under a camera pose.
//
// With R the rotation of the search vector (camera axes to world axes) and t
// the camera centre, point X sits at c = R^T (X - t) in the camera. The pixel
// codes return u = (K c)_0 / (K c)_2, v = (K c)_1 / (K c)_2 per point; the
// bearing-vector codes (10, 11, 12) return c itself (not normalised) and
// require K to be the identity. Layout: repetition j, point i occupies the
// observation_rows values from j * rows * npts + i * rows. Unweighted.
class Camera_position_opt_func : public Opt_func {
public:
  // points: one (X, Y, Z) per point, world frame. K: 3 by 3 intrinsics,
  // k11 on both focal entries and principal point (k13, k23).
  Camera_position_opt_func(std::vector<std::vector<double>> points, matrix<double> K, int rotation_type);
  ~Camera_position_opt_func() override = default;

  // Throws exception_l when a bearing-vector code meets a non-identity K,
  // for an unknown rotation type ("Uknown rotation type!", wrapped once) and,
  // wrapped once, when x is too short for the rotation type.
  std::vector<double> operator()(const std::vector<double>& x) const override;

  const std::vector<std::vector<double>>& get_points() const { return points_; }
  const matrix<double>& get_K() const { return K_; }
  int get_rotation_type() const { return rotation_type_; }

private:
  std::vector<std::vector<double>> points_;
  matrix<double> K_;
  int rotation_type_;
};

}  // namespace trel

#endif
