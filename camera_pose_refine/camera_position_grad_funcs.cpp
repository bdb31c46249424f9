#include "camera_pose_refine/camera_position_grad_funcs.h"

#include <cstddef>

#include "camera_pose_refine/camera_position_opt_func.h"
#include "trel_tools/exception_l.h"

namespace trel {

namespace {

using camera_position_jacobian::fill_rows;

// Replaces an all-zero triple by 1e-9 each, so that a derivative at the
// identity is taken at a negligible rotation instead of dividing by zero.
void guard_zero_triple(double* v) {
  if (v[0] == 0.0 && v[1] == 0.0 && v[2] == 0.0) v[0] = v[1] = v[2] = 1e-9;
}

}  // namespace

Camera_position_grad_func_common::Camera_position_grad_func_common(Opt_func* base,
                                                                   std::vector<std::vector<double>> points,
                                                                   matrix<double> K)
    : Grad_func(base), points_(std::move(points)), K_(std::move(K)) {
  check_camera_points_and_K(points_, K_);
}

double* Camera_position_grad_func_common::checked_rows(const std::vector<double>& x, cv::Mat& jacobian, int row0,
                                                       int nrot, int rows_per_point) const {
  const int ndims = nrot + 3;
  if (x.size() != static_cast<std::size_t>(ndims))
    TREL_THROW("search vector had size " << x.size() << " but " << ndims << " values were expected");
  const long long needed = static_cast<long long>(rows_per_point) * static_cast<long long>(points_.size());
  if (jacobian.type() != CV_64F || jacobian.cols != ndims || !jacobian.isContinuous() || row0 < 0 ||
      row0 + needed > jacobian.rows)
    TREL_THROW("Jacobian should be a continuous CV_64F matrix with " << ndims << " columns and at least "
                                                                     << row0 + needed << " rows, instead got "
                                                                     << jacobian.rows << " by " << jacobian.cols
                                                                     << " of type " << jacobian.type());
  return jacobian.rows == 0 ? nullptr : jacobian.ptr<double>(0) + static_cast<std::ptrdiff_t>(row0) * ndims;
}

namespace camera_position_jacobian {

Rotation_with_derivatives<double, 3> Rot_vec_at::at(const double* x) {
  double r[3] = {x[0], x[1], x[2]};
  guard_zero_triple(r);
  return rot_vec_rotation(r);
}

Rotation_with_derivatives<double, 4> Ang_axis_at::at(const double* x) { return ang_axis_rotation(x, true); }

Rotation_with_derivatives<double, 4> Quaternion_at::at(const double* x) {
  double q[4] = {x[0], x[1], x[2], x[3]};
  guard_zero_triple(q);
  return quaternion_rotation(q, true);
}

Rotation_with_derivatives<double, 4> Unit_quaternion_at::at(const double* x) {
  return normalised_quaternion_rotation(x);
}

}  // namespace camera_position_jacobian

template <class Rotation, bool kBearing>
int Camera_position_grad_func_single<Rotation, kBearing>::operator()(const std::vector<double>& x, cv::Mat& jacobian,
                                                                     int row0) const {
  constexpr int kValues = Rotation::kValues;
  double* out = checked_rows(x, jacobian, row0, kValues, kBearing ? 3 : 2);
  if (points_.empty()) return 0;
  return fill_rows<double, kValues, kBearing>(Rotation::at(x.data()), &x[kValues], points_, K_[0][0], out);
}

template class Camera_position_grad_func_single<camera_position_jacobian::Rot_vec_at, false>;
template class Camera_position_grad_func_single<camera_position_jacobian::Ang_axis_at, false>;
template class Camera_position_grad_func_single<camera_position_jacobian::Quaternion_at, false>;
template class Camera_position_grad_func_single<camera_position_jacobian::Unit_quaternion_at, false>;
template class Camera_position_grad_func_single<camera_position_jacobian::Rot_vec_at, true>;
template class Camera_position_grad_func_single<camera_position_jacobian::Ang_axis_at, true>;
template class Camera_position_grad_func_single<camera_position_jacobian::Quaternion_at, true>;

}  // namespace trel
