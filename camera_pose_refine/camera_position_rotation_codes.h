#ifndef CAMERA_POSE_REFINE_CAMERA_POSITION_ROTATION_CODES_H
#define CAMERA_POSE_REFINE_CAMERA_POSITION_ROTATION_CODES_H

#include <array>
#include <memory>
#include <vector>

#include "trel_opt/grad_func.h"
#include "trel_opt/opt_func.h"
#include "trel_tools/matrix.h"

namespace trel {

// The form of the rotation values at the front of a camera search vector.
enum class Rotation_form {
  rot_vec,    // axis times angle, radians (3 values)
  ang_axis,   // unit axis x, y, z, then the angle in radians (4 values)
  quaternion  // x, y, z, w, scalar last (4 values)
};

// What a rotation code fixes: the parameterisation of the search vector (its
// rotation values, then the camera centre t1, t2, t3 in world coordinates), the
// rows each point adds to the residuals (2 pixels, or 3 camera-frame
// coordinates for the bearing-vector codes), how often those residuals repeat
// (3 for the hybrids, which stack the residuals of three parameterisations)
// and the analytic gradient function.
struct Rotation_code {
  int code;
  const char* name;  // "aau", "aan", "qu", "qn", "aau-bv", ..., "qu,aau,aan"
  Rotation_form form;
  int rotation_values;
  int observation_rows;
  int repetitions;
  // The gradient function of this code for the cost function `base` built for the
  // same points, K and code; takes ownership of base (which may be null).
  std::unique_ptr<Grad_func> (*make_grad_func)(Opt_func* base, const std::vector<std::vector<double>>& points,
                                               const matrix<double>& K);

  int search_values() const { return rotation_values + 3; }
  bool bearing_vectors() const { return observation_rows == 3; }
};

constexpr std::size_t kNumRotationCodes = 10;

// Every code the plug-in accepts, in the order its help text lists them:
//   code  name        form              rotation values  rows  repetitions
//    0    aau         rotation vector         3            2      1
//    1    aan         angle-axis              4            2      1
//    2    qu          quaternion              4            2      1
//    3    qn          quaternion (unit)       4            2      1
//   10    aau-bv      rotation vector         3            3      1
//   11    aan-bv      angle-axis              4            3      1
//   12    qu-bv       quaternion              4            3      1
//   -1    qu,aau,aan  quaternion              4            2      3
//   -2    aau,qu,aan  rotation vector         3            2      3
//   -3    aan,qu,aau  angle-axis              4            2      3
const std::array<Rotation_code, kNumRotationCodes>& rotation_codes();

// The entry of `code`, or null when the code is not one of rotation_codes().
const Rotation_code* find_rotation_code(int code);

}  // namespace trel

#endif
