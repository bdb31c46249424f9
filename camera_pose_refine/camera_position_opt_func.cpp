#include "camera_pose_refine/camera_position_opt_func.h"

#include <cstddef>
#include <utility>

#include "trel_tools/exception_l.h"
#include "trel_tools/rotation.h"
#include "trel_tools/std_vector_overloads.h"

namespace trel {

namespace camera_rotation_type {

int num_rotation_values(int rotation_type) {
  return (rotation_type == 0 || rotation_type == -2 || rotation_type == 10) ? 3 : 4;
}

int observation_rows(int rotation_type) {
  return (rotation_type == 10 || rotation_type == 11 || rotation_type == 12) ? 3 : 2;
}

int repetitions(int rotation_type) { return rotation_type < 0 ? 3 : 1; }

}  // namespace camera_rotation_type

namespace {

// K entries are compared with this tolerance for the bearing-vector codes.
constexpr double kIdentityTolerance = 0.0001;

}  // namespace

void check_camera_points_and_K(const std::vector<std::vector<double>>& points, const matrix<double>& K) {
  for (std::size_t i = 0; i < points.size(); ++i)
    if (points[i].size() != 3) TREL_THROW("point " << i << " has " << points[i].size() << " values, expected 3");
  if (K.get_dim1() != 3 || K.get_dim2() != 3)
    TREL_THROW("K should be 3 by 3, instead got " << K.get_dim1() << " by " << K.get_dim2());
}

Camera_position_opt_func::Camera_position_opt_func(std::vector<std::vector<double>> points, matrix<double> K,
                                                   int rotation_type)
    : points_(std::move(points)), K_(std::move(K)), rotation_type_(rotation_type) {
  check_camera_points_and_K(points_, K_);
}

std::vector<double> Camera_position_opt_func::operator()(const std::vector<double>& x) const {
  using namespace camera_rotation_type;
  const int reps = repetitions(rotation_type_);
  const int rows = observation_rows(rotation_type_);
  const bool bearing = rows == 3;
  if (bearing && !(eq(K_[0][0], 1.0, kIdentityTolerance) && eq(K_[1][1], 1.0, kIdentityTolerance) &&
                   eq(K_[0][2], 0.0, kIdentityTolerance) && eq(K_[1][2], 0.0, kIdentityTolerance)))
    TREL_THROW("For bearing vectors, expected k to be identity, instead got " << K_);

  const std::size_t npts = points_.size();
  std::vector<double> result(static_cast<std::size_t>(reps * rows) * npts, 0.0);
  TREL_GUARD_BEGIN
  const int nrot = num_rotation_values(rotation_type_);
  enum class Form { quaternion, rot_vec, ang_axis };
  Form form;
  switch (rotation_type_) {
    case 2: case 3: case 12: case -1: form = Form::quaternion; break;
    case 0: case 10: case -2: form = Form::rot_vec; break;
    case 1: case 11: case -3: form = Form::ang_axis; break;
    default: TREL_THROW("Uknown rotation type!");
  }
  if (x.size() != static_cast<std::size_t>(nrot + 3))
    TREL_THROW("search vector had size " << x.size() << " but rotation type " << rotation_type_ << " needs "
                                         << nrot + 3 << " values");

  std::vector<double> rotation(x.begin(), x.begin() + nrot);
  matrix<double> R;
  switch (form) {
    case Form::quaternion: R = quaternion_to_rot_mat(rotation); break;
    case Form::rot_vec: R = rot_vec_rad_to_rot_mat(rotation); break;
    case Form::ang_axis: R = ang_axis_rad_to_rot_mat(rotation); break;
  }
  // P = (K R^T) [I | -t], summed in the order of the matrix products, without
  // temporaries: this runs once per solver evaluation.
  double P[3][4];
  for (int i = 0; i < 3; ++i) {
    double krt[3];
    for (int j = 0; j < 3; ++j) {
      double sum = 0.0;
      for (int k = 0; k < 3; ++k) sum += K_[i][k] * R[j][k];
      krt[j] = sum;
    }
    double last = 0.0;
    for (int k = 0; k < 3; ++k) {
      P[i][k] = krt[k];
      last += krt[k] * -x[static_cast<std::size_t>(nrot + k)];
    }
    P[i][3] = last;
  }

  const std::size_t block = static_cast<std::size_t>(rows) * npts;
  for (std::size_t i = 0; i < npts; ++i) {
    const double X = points_[i][0], Y = points_[i][1], Z = points_[i][2];
    const double a = P[0][0] * X + P[0][1] * Y + P[0][2] * Z + P[0][3];
    const double b = P[1][0] * X + P[1][1] * Y + P[1][2] * Z + P[1][3];
    const double w = P[2][0] * X + P[2][1] * Y + P[2][2] * Z + P[2][3];
    for (int j = 0; j < reps; ++j) {
      const std::size_t base = static_cast<std::size_t>(j) * block + i * static_cast<std::size_t>(rows);
      if (bearing) {
        result[base] = a;
        result[base + 1] = b;
        result[base + 2] = w;
      } else {
        result[base] = a / w;
        result[base + 1] = b / w;
      }
    }
  }
  return result;
  TREL_GUARD_END("")
}

}  // namespace trel
