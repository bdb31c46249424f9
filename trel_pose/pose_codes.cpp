#include "trel_pose/pose_codes.h"

#include "trel_tools/exception_l.h"

namespace trel {

namespace {

constexpr Pose_code kPoseCodes[] = {
    {0, 3, 2, 1},  {1, 4, 2, 1},  {2, 4, 2, 1},  {3, 4, 2, 1},  {10, 3, 3, 1},
    {11, 4, 3, 1}, {12, 4, 3, 1}, {-1, 4, 2, 3}, {-2, 3, 2, 3}, {-3, 4, 2, 3},
};

}  // namespace

const Pose_code* find_pose_code(int code) {
  for (const Pose_code& entry : kPoseCodes)
    if (entry.code == code) return &entry;
  return nullptr;
}

namespace camera_rotation_type {

int num_rotation_values(int rotation_type) {
  const Pose_code* entry = find_pose_code(rotation_type);
  return entry ? entry->rotation_values : 4;
}

int observation_rows(int rotation_type) {
  const Pose_code* entry = find_pose_code(rotation_type);
  return entry ? entry->observation_rows : 2;
}

int repetitions(int rotation_type) {
  const Pose_code* entry = find_pose_code(rotation_type);
  return entry ? entry->repetitions : 1;
}

}  // namespace camera_rotation_type

void check_camera_points_and_K(const std::vector<std::vector<double>>& points, const matrix<double>& K) {
  for (std::size_t i = 0; i < points.size(); ++i)
    if (points[i].size() != 3) TREL_THROW("point " << i << " has " << points[i].size() << " values, expected 3");
  if (K.get_dim1() != 3 || K.get_dim2() != 3)
    TREL_THROW("K should be 3 by 3, instead got " << K.get_dim1() << " by " << K.get_dim2());
}

}  // namespace trel
