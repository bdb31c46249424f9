#include "trel_pose/pose_codes.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "trel_tools/exception_l.h"
#include "trel_tools/rotation.h"

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

namespace {

constexpr double kPi = 3.14159265358979323846;

// A quaternion of R with the start's sign and length.
std::vector<double> quaternion_near(const matrix<double>& R, const std::vector<double>& r0) {
  std::vector<double> q = rot_mat_to_quaternion(R);
  // The start's length from its values over their largest (1e200 and 1e-200 stay finite).
  const double largest0 = std::max({std::fabs(r0[0]), std::fabs(r0[1]), std::fabs(r0[2]), std::fabs(r0[3])});
  double norm = 0.0, dot = 0.0, norm0 = 0.0;
  for (std::size_t k = 0; k < 4; ++k) {
    norm += q[k] * q[k];
    dot += q[k] * r0[k];
    norm0 += (r0[k] / largest0) * (r0[k] / largest0);
  }
  const double factor = (dot < 0.0 ? -1.0 : 1.0) * largest0 * std::sqrt(norm0 / norm);
  for (double& v : q) v *= factor;
  return q;
}

// An angle-axis of R with the start's axis length, axis sign and angle turn.
std::vector<double> angle_axis_near(const matrix<double>& R, const std::vector<double>& r0) {
  std::vector<double> aa = rot_mat_to_ang_axis_rad(R);
  const double largest0 = std::max({std::fabs(r0[0]), std::fabs(r0[1]), std::fabs(r0[2])});
  double length0 = largest0 > 1e150 ? largest0 * std::sqrt((r0[0] / largest0) * (r0[0] / largest0) +
                                                           (r0[1] / largest0) * (r0[1] / largest0) +
                                                           (r0[2] / largest0) * (r0[2] / largest0))
                                    : std::sqrt(r0[0] * r0[0] + r0[1] * r0[1] + r0[2] * r0[2]);
  if (!(length0 * length0 > kDegenerateAxisSquaredLength<double>)) length0 = 1.0;
  if (aa[3] == 0.0) {
    if (length0 != 1.0 || r0[0] != 0.0 || r0[1] != 0.0 || r0[2] != 0.0)
      for (std::size_t k = 0; k < 3; ++k) aa[k] = r0[k] / length0;
  } else if (aa[0] * r0[0] + aa[1] * r0[1] + aa[2] * r0[2] < 0.0) {
    for (double& v : aa) v = -v;
  }
  aa[3] += 2.0 * kPi * std::round((r0[3] - aa[3]) / (2.0 * kPi));
  for (std::size_t k = 0; k < 3; ++k) aa[k] *= length0;
  return aa;
}

// A rotation vector of R, the turn nearest the start.
std::vector<double> rotation_vector_near(const matrix<double>& R, const std::vector<double>& r0) {
  const std::vector<double> r = rot_mat_to_rot_vec_rad(R);
  const double angle = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
  if (angle == 0.0) return r;
  std::vector<double> best = r, candidate(3);
  double best_distance = std::numeric_limits<double>::infinity();
  for (int turn = -1; turn <= 1; ++turn) {
    const double scale = (angle + 2.0 * kPi * turn) / angle;
    double distance = 0.0;
    for (std::size_t k = 0; k < 3; ++k) {
      candidate[k] = r[k] * scale;
      distance += (candidate[k] - r0[k]) * (candidate[k] - r0[k]);
    }
    if (distance < best_distance) {
      best_distance = distance;
      best = candidate;
    }
  }
  return best;
}

}  // namespace

std::vector<double> rotation_values_near(const double* R9, int code, const std::vector<double>& start) {
  matrix<double> R(3, 3);
  for (unsigned r = 0; r < 3; ++r)
    for (unsigned c = 0; c < 3; ++c) R[r][c] = R9[3 * r + c];
  const std::size_t nrot = static_cast<std::size_t>(camera_rotation_type::num_rotation_values(code));
  const std::vector<double> r0(start.begin(), start.begin() + static_cast<std::ptrdiff_t>(nrot));
  switch (code) {
    case 2: case 3: case 12: case -1: return quaternion_near(R, r0);
    case 1: case 11: case -3: return angle_axis_near(R, r0);
    default: return rotation_vector_near(R, r0);
  }
}

}  // namespace trel
