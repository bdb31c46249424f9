#include "camera_pose_refine/camera_position_opt_func.h"

#include <cmath>
#include <cstddef>
#include <utility>

#include "camera_pose_refine/camera_position_rotation_codes.h"
#include "trel_tools/exception_l.h"
#include "trel_tools/small_angle.h"
#include "trel_tools/std_vector_overloads.h"

namespace trel {

namespace {

// K entries are compared with this tolerance for the bearing-vector codes.
constexpr double kIdentityTolerance = 0.0001;

}  // namespace

Camera_position_opt_func::Camera_position_opt_func(std::vector<std::vector<double>> points, matrix<double> K,
                                                   int rotation_type)
    : points_(std::move(points)), K_(std::move(K)), rotation_type_(rotation_type) {
  check_camera_points_and_K(points_, K_);
}

namespace {

// The conversions of rotation.h (quaternion_to_rot_mat, rot_vec_rad_to_rot_mat
// via rot_vec_to_ang_axis, ang_axis_rad_to_rot_mat with enforce_ang_axis),
// step for step in the same arithmetic, so that the values are the same to the
// bit, into a plain array: no allocation on every evaluation.
void angle_axis_matrix(const double* ang_axis, double R[3][3]) {
  double x = ang_axis[0], y = ang_axis[1], z = ang_axis[2];
  const double squared = 0.0 + x * x + y * y + z * z;
  const double factor = squared > kDegenerateAxisSquaredLength<double> ? 1 / std::sqrt(squared)
                                                                       : kDegenerateAxisSquaredLength<double>;
  x *= factor;
  y *= factor;
  z *= factor;
  const double c = std::cos(ang_axis[3]);
  const double s = std::sin(ang_axis[3]);
  const double t = 1 - c;
  R[0][0] = t * x * x + c;
  R[0][1] = t * x * y - s * z;
  R[0][2] = t * x * z + s * y;
  R[1][0] = t * x * y + s * z;
  R[1][1] = t * y * y + c;
  R[1][2] = t * y * z - s * x;
  R[2][0] = t * x * z - s * y;
  R[2][1] = t * y * z + s * x;
  R[2][2] = t * z * z + c;
}

void rotation_matrix(Rotation_form form, const double* v, double R[3][3]) {
  switch (form) {
    case Rotation_form::quaternion: {
      const double x = v[0], y = v[1], z = v[2], w = v[3];
      const double xx = x * x, yy = y * y, zz = z * z, ww = w * w;
      const double n = xx + yy + zz + ww;
      R[0][0] = (xx - yy - zz + ww) / n;
      R[1][1] = (-xx + yy - zz + ww) / n;
      R[2][2] = (-xx - yy + zz + ww) / n;
      R[1][0] = 2 * (x * y + z * w) / n;
      R[0][1] = 2 * (x * y - z * w) / n;
      R[2][0] = 2 * (x * z - y * w) / n;
      R[0][2] = 2 * (x * z + y * w) / n;
      R[2][1] = 2 * (y * z + x * w) / n;
      R[1][2] = 2 * (y * z - x * w) / n;
      return;
    }
    case Rotation_form::ang_axis: angle_axis_matrix(v, R); return;
    case Rotation_form::rot_vec: break;
  }
  double squared = 0;
  for (int k = 0; k < 3; ++k) squared += v[k] * v[k];
  const double angle = std::sqrt(squared);
  double ang_axis[4] = {0.0, 0.0, 0.0, angle};
  if (angle != 0)
    for (int k = 0; k < 3; ++k) ang_axis[k] = v[k] / angle;
  angle_axis_matrix(ang_axis, R);
}

// P = (K R^T) [I | -t], summed in the order of the matrix products, without
// temporaries: this runs once per solver evaluation.
void projection_matrix(const matrix<double>& K, const double R[3][3], const double* t, double P[3][4]) {
  for (int i = 0; i < 3; ++i) {
    double krt[3];
    for (int j = 0; j < 3; ++j) {
      double sum = 0.0;
      for (int k = 0; k < 3; ++k) sum += K[i][k] * R[j][k];
      krt[j] = sum;
    }
    double last = 0.0;
    for (int k = 0; k < 3; ++k) {
      P[i][k] = krt[k];
      last += krt[k] * -t[k];
    }
    P[i][3] = last;
  }
}

}  // namespace

std::vector<double> Camera_position_opt_func::operator()(const std::vector<double>& x) const {
  const Rotation_code* entry = find_rotation_code(rotation_type_);
  const int reps = entry ? entry->repetitions : 1;
  const int rows = entry ? entry->observation_rows : 2;
  const bool bearing = rows == 3;
  if (bearing && !(eq(K_[0][0], 1.0, kIdentityTolerance) && eq(K_[1][1], 1.0, kIdentityTolerance) &&
                   eq(K_[0][2], 0.0, kIdentityTolerance) && eq(K_[1][2], 0.0, kIdentityTolerance)))
    TREL_THROW("For bearing vectors, expected k to be identity, instead got " << K_);

  const std::size_t npts = points_.size();
  return guarded(TREL_FRAME, [&] {
    if (!entry) TREL_THROW("Uknown rotation type!");
    const int nrot = entry->rotation_values;
    if (x.size() != static_cast<std::size_t>(nrot + 3))
      TREL_THROW("search vector had size " << x.size() << " but rotation type " << rotation_type_ << " needs "
                                           << nrot + 3 << " values");
    double P[3][4];
    double R[3][3];
    rotation_matrix(entry->form, x.data(), R);
    projection_matrix(K_, R, &x[static_cast<std::size_t>(nrot)], P);

    // The first repetition point by point, then its copies: every value is
    // written once, with no zero-fill before.
    const std::size_t block = static_cast<std::size_t>(rows) * npts;
    std::vector<double> result;
    result.reserve(block * static_cast<std::size_t>(reps));
    for (std::size_t i = 0; i < npts; ++i) {
      const double* p = points_[i].data();
      const double X = p[0], Y = p[1], Z = p[2];
      const double a = P[0][0] * X + P[0][1] * Y + P[0][2] * Z + P[0][3];
      const double b = P[1][0] * X + P[1][1] * Y + P[1][2] * Z + P[1][3];
      const double w = P[2][0] * X + P[2][1] * Y + P[2][2] * Z + P[2][3];
      if (bearing) {
        result.push_back(a);
        result.push_back(b);
        result.push_back(w);
      } else {
        result.push_back(a / w);
        result.push_back(b / w);
      }
    }
    for (int j = 1; j < reps; ++j)
      for (std::size_t k = 0; k < block; ++k) result.push_back(result[k]);
    return result;
  });
}

}  // namespace trel
