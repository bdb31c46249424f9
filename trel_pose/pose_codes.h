#ifndef TREL_POSE_POSE_CODES_H
#define TREL_POSE_POSE_CODES_H

#include <vector>

#include "trel_tools/matrix.h"

namespace trel {

// The sizes a rotation code fixes for the pose jobs: the rotation values at the
// front of the search vector (then the camera centre in world), the rows each
// point adds (2 pixels, or 3 camera-frame coordinates for the bearing-vector
// codes) and how often those rows repeat (3 for the hybrids). The same codes
// and sizes as the plug-in's table of rotation codes.
struct Pose_code {
  int code;
  int rotation_values;
  int observation_rows;
  int repetitions;
};

// The entry of `code`, or null for a code the pose jobs do not know.
const Pose_code* find_pose_code(int code);

// Sizes of a rotation code from find_pose_code. An unknown code has 4 rotation
// values, 2 rows and 1 repetition, so that a cost function built with it can
// still size its output before it refuses the code.
namespace camera_rotation_type {
// Number of rotation values in the search vector (3 or 4).
int num_rotation_values(int rotation_type);
// Observation rows per point: 3 for the bearing-vector codes, otherwise 2.
int observation_rows(int rotation_type);
// 3 for the hybrid codes, otherwise 1.
int repetitions(int rotation_type);
}  // namespace camera_rotation_type

// Throws exception_l unless every point has 3 values and K is 3 by 3; the
// cost function and the gradient functions check their copies with it.
void check_camera_points_and_K(const std::vector<std::vector<double>>& points, const matrix<double>& K);

// The rotation values of `code` for the rotation R_cam_to_world (row-major),
// the representation nearest the start's rotation values: quaternions the
// start's sign and length; angle-axis the start's axis length, the axis sign
// and the angle turn nearest the start; rotation vectors the angle turn
// nearest the start.
std::vector<double> rotation_values_near(const double* R_cam_to_world, int code, const std::vector<double>& start);

}  // namespace trel

#endif
